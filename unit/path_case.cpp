#include "unit/path_case.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

namespace vokra {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const char *a, const std::string &b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); i++)
    if (LowerAscii(a[i]) != LowerAscii(b[i]))
      return false;
  return a[i] == '\0' && i == b.size();
}

// The entry of directory pszDir named like name but for case; empty if none.
std::string FindIgnoringCase(const std::string &dir, const std::string &name) {
  DIR *const pDir = opendir(dir.empty() ? "." : dir.c_str());
  if (pDir == nullptr)
    return {};
  std::string found;
  while (const dirent *pEntry = readdir(pDir)) {
    if (SameIgnoringCase(pEntry->d_name, name)) {
      found = pEntry->d_name;
      break;
    }
  }
  closedir(pDir);
  return found;
}

} // namespace

std::string ResolvePathCase(const char *pszPath) {
  std::string resolved;
  const char *p = pszPath;
  if (*p == '/') {
    resolved = "/";
    p++;
  }
  while (*p != '\0') {
    const char *pEnd = std::strchr(p, '/');
    const size_t nLen = pEnd != nullptr ? size_t(pEnd - p) : std::strlen(p);
    const std::string name(p, nLen);
    std::string next = resolved + name;
    struct stat st;
    if (!name.empty() && name != "." && name != ".." && lstat(next.c_str(), &st) != 0) {
      const std::string match = FindIgnoringCase(resolved, name);
      if (match.empty())
        return {};
      next = resolved + match;
    }
    resolved = next;
    if (pEnd == nullptr)
      break;
    resolved += '/';
    p = pEnd + 1;
  }
  return resolved;
}

} // namespace vokra
