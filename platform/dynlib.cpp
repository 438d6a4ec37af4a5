#include "platform/dynlib.h"

#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

static thread_local char szLastError[512];

static void RememberError() {
  const char *psz = dlerror();
  std::snprintf(szLastError, sizeof szLastError, "%s", psz ? psz : "");
}

void *LibOpen(const char *pszPath) {
  if (!pszPath || !*pszPath) {
    std::snprintf(szLastError, sizeof szLastError, "empty library path");
    return nullptr;
  }
  // RTLD_LOCAL keeps each unit's symbols to itself: every unit exports the
  // same thirteen names.
  void *hLib = dlopen(pszPath, RTLD_NOW | RTLD_LOCAL);
  if (!hLib)
    RememberError();
  else
    szLastError[0] = 0;
  return hLib;
}

void *LibSymbol(void *hLib, const char *pszName) {
  if (!hLib || !pszName)
    return nullptr;
  dlerror();
  void *p = dlsym(hLib, pszName);
  if (!p)
    RememberError();
  return p;
}

void LibClose(void *hLib) {
  if (hLib)
    dlclose(hLib);
}

const char *LibLastError() {
  return szLastError;
}

int32_t ProgramDirectory(char *pszOut, size_t nRoom) {
  if (!pszOut || nRoom == 0)
    return 0;
  pszOut[0] = 0;
  char szExe[4096];
  ssize_t n = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
  if (n <= 0)
    return 0;
  szExe[n] = 0;
  char *pSlash = std::strrchr(szExe, '/');
  if (!pSlash)
    return 0;
  size_t nLen = pSlash == szExe ? 1 : static_cast<size_t>(pSlash - szExe); // "/" for a root program
  if (nLen + 1 > nRoom)
    return 0;
  std::memcpy(pszOut, szExe, nLen);
  pszOut[nLen] = 0;
  return 1;
}
