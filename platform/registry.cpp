// The registry file is shared by every process of the user: each open reads it
// afresh, each write merges into what is there at that moment under a lock and
// replaces it by rename, so neither a crash nor a second process loses keys.
// A file the user has made read-only is left as it is, and a damaged one is
// kept under a backup name no later reset reuses.
#include "platform/registry.h"

#include "platform/registry_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kHive[] = "HKEY_LOCAL_MACHINE\\";
static const size_t kMaxFileBytes = 16u << 20; // larger files are not a registry we wrote
static const int kMaxBackups = 1000;           // .bak, .bak.1 ... .bak.999

struct RegKey {
  std::string sPath; // full path with the hive
  RegTextKey values; // as read at open, plus this handle's writes
  RegTextKey dirty;  // writes not yet in the file
};

enum class FileState { Missing, Good, Bad };

struct LoadedFile {
  FileState state = FileState::Missing;
  bool bHaveBytes = false;     // a Bad file whose bytes could be read
  std::vector<uint8_t> aBytes; // its content, for the .bak copy
  RegTextFile text;
};

static std::string RegistryFilePath() {
  const char *pszEnv = std::getenv("TORQA_REGISTRY");
  if (pszEnv && *pszEnv)
    return pszEnv;
  std::string sBase;
  const char *pszXdg = std::getenv("XDG_CONFIG_HOME");
  if (pszXdg && pszXdg[0] == '/') {
    sBase = pszXdg;
  } else {
    const char *pszHome = std::getenv("HOME");
    if (!pszHome || !*pszHome) {
      const passwd *pw = getpwuid(getuid());
      pszHome = pw ? pw->pw_dir : nullptr;
    }
    if (!pszHome || !*pszHome)
      return std::string();
    sBase = std::string(pszHome) + "/.config";
  }
  return sBase + "/torqa/registry.reg";
}

static void ReadRegistryFile(const std::string &sFile, LoadedFile &out) {
  out = LoadedFile();
  // A FIFO in the file's place must not block the open; it is not a registry.
  int fd = open(sFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    out.state = errno == ENOENT ? FileState::Missing : FileState::Bad;
    return;
  }
  out.state = FileState::Bad;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
    close(fd);
    return;
  }
  std::vector<uint8_t> aBytes(static_cast<size_t>(st.st_size));
  size_t nHave = 0;
  while (nHave < aBytes.size()) {
    ssize_t n = read(fd, aBytes.data() + nHave, aBytes.size() - nHave);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      close(fd); // a read error: unreadable, whatever the part read says
      return;
    }
    if (n == 0)
      break;
    nHave += static_cast<size_t>(n);
  }
  close(fd);
  aBytes.resize(nHave);
  if (ParseRegText(aBytes.data(), aBytes.size(), out.text)) {
    out.state = FileState::Good;
    return;
  }
  out.bHaveBytes = true;
  out.aBytes = std::move(aBytes);
}

static bool MakeDirectories(const std::string &sDir) {
  if (sDir.empty())
    return true;
  struct stat st;
  if (stat(sDir.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode);
  size_t nSlash = sDir.find_last_of('/');
  if (nSlash != std::string::npos && nSlash > 0 && !MakeDirectories(sDir.substr(0, nSlash)))
    return false;
  return mkdir(sDir.c_str(), 0755) == 0 || errno == EEXIST;
}

static std::string DirectoryOf(const std::string &sFile) {
  size_t nSlash = sFile.find_last_of('/');
  if (nSlash == std::string::npos)
    return std::string();
  return nSlash == 0 ? std::string("/") : sFile.substr(0, nSlash);
}

// Writes bytes to a new temporary file beside sFile; its name goes to *psTemp.
static bool WriteTemp(const std::string &sFile, const char *pData, size_t nSize, mode_t mode,
                      std::string *psTemp) {
  std::string sTemp = sFile + ".XXXXXX";
  int fd = mkstemp(sTemp.data());
  if (fd < 0)
    return false;
  bool bOk = fchmod(fd, mode) == 0;
  size_t nDone = 0;
  while (bOk && nDone < nSize) {
    ssize_t n = write(fd, pData + nDone, nSize - nDone);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      bOk = false;
    else
      nDone += static_cast<size_t>(n);
  }
  bOk = bOk && fsync(fd) == 0;
  bOk = close(fd) == 0 && bOk;
  if (!bOk) {
    unlink(sTemp.c_str());
    return false;
  }
  *psTemp = sTemp;
  return true;
}

// Says once per process on stderr why settings are not being saved.
static void SayNotSaved(const std::string &sFile, const char *pszWhy) {
  static bool bSaid = false;
  if (bSaid)
    return;
  bSaid = true;
  std::fprintf(stderr, "torqa: settings are not saved: %s: %s\n", sFile.c_str(), pszWhy);
}

// Takes the lock that serialises writers: a file beside the registry (a
// directory cannot always be opened for reading). -1 when none can be had.
static int LockRegistry(const std::string &sFile) {
  const std::string sLock = sFile + ".lock";
  int fd = open(sLock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0)
    fd = open(sLock.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); // flock needs no write access
  if (fd < 0)
    return -1;
  int nResult;
  while ((nResult = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (nResult != 0) {
    const int nErrno = errno;
    close(fd);
    errno = nErrno;
    return -1;
  }
  return fd;
}

// Gives the damaged file's content a backup name of its own: the first free one
// of .bak, .bak.1, ... (link() never replaces a name). pszFrom holds the bytes.
// Returns the name, or "" when none could be made.
static std::string KeepBackup(const std::string &sFile, const char *pszFrom) {
  for (int n = 0; n < kMaxBackups; ++n) {
    std::string sBak = sFile + ".bak";
    if (n > 0) {
      sBak += '.';
      sBak += std::to_string(n);
    }
    if (link(pszFrom, sBak.c_str()) == 0)
      return sBak;
    if (errno != EEXIST)
      return std::string();
  }
  return std::string();
}

// Re-reads the file, applies the key's writes (or just creates the key) and
// replaces the file. A file that could not be read or parsed is kept as .bak.
static bool MergeIntoFile(const std::string &sPath, const std::vector<RegTextValue> &aValues) {
  std::string sFile = RegistryFilePath();
  if (sFile.empty())
    return false;
  // Write through a symbolic link rather than replacing it.
  struct stat stLink;
  if (lstat(sFile.c_str(), &stLink) == 0 && S_ISLNK(stLink.st_mode)) {
    if (char *pszReal = realpath(sFile.c_str(), nullptr)) {
      sFile = pszReal;
      std::free(pszReal);
    }
  }
  if (!MakeDirectories(DirectoryOf(sFile)))
    return false;
  mode_t mode = 0644;
  struct stat st;
  if (stat(sFile.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode))
      return false; // a directory, device or FIFO in the file's place is never moved aside
    if (access(sFile.c_str(), W_OK) != 0) {
      SayNotSaved(sFile, "the file is read-only");
      return false;
    }
    mode = st.st_mode & 07777;
  }

  const int fdLock = LockRegistry(sFile);
  if (fdLock < 0) {
    const std::string sWhy = std::string("cannot lock it: ") + std::strerror(errno);
    SayNotSaved(sFile, sWhy.c_str());
    return false;
  }

  LoadedFile loaded;
  ReadRegistryFile(sFile, loaded);
  RegTextKey *pKey = FindRegKey(loaded.text, sPath);
  if (!pKey) {
    loaded.text.aKeys.push_back(RegTextKey{sPath, {}});
    pKey = &loaded.text.aKeys.back();
  }
  for (const RegTextValue &value : aValues)
    SetRegValue(*pKey, value.sName, value.nType, value.aData);
  std::string sText = FormatRegText(loaded.text);

  // The new file is complete on disk before the old one is touched.
  std::string sTemp;
  bool bOk = WriteTemp(sFile, sText.data(), sText.size(), mode, &sTemp);
  std::string sBak;
  if (bOk && loaded.state == FileState::Bad) {
    if (loaded.bHaveBytes) {
      std::string sCopy;
      bOk = WriteTemp(sFile, reinterpret_cast<const char *>(loaded.aBytes.data()),
                      loaded.aBytes.size(), mode, &sCopy);
      if (bOk) {
        sBak = KeepBackup(sFile, sCopy.c_str());
        unlink(sCopy.c_str());
      }
    } else {
      sBak = KeepBackup(sFile, sFile.c_str());
    }
    bOk = bOk && !sBak.empty();
  }
  if (bOk && rename(sTemp.c_str(), sFile.c_str()) != 0) {
    bOk = false;
    if (!sBak.empty())
      unlink(sBak.c_str()); // the original is still in place
  }
  if (!bOk && !sTemp.empty())
    unlink(sTemp.c_str());
  if (bOk && !sBak.empty())
    std::fprintf(stderr,
                 "torqa: the settings file %s could not be read; it is kept as %s and the "
                 "settings start afresh\n",
                 sFile.c_str(), sBak.c_str());

  close(fdLock);
  return bOk;
}

static bool ValidName(const char *psz) {
  for (; *psz; psz++)
    if (static_cast<unsigned char>(*psz) < 0x20)
      return false;
  return true;
}

// "Software\\X" -> "HKEY_LOCAL_MACHINE\\Software\\X"; empty when not a usable key path.
static std::string FullPath(const char *pszPath) {
  if (!pszPath || !*pszPath || !ValidName(pszPath))
    return std::string();
  std::string s = pszPath;
  if (s.front() == '\\' || s.back() == '\\' || s.find("\\\\") != std::string::npos)
    return std::string();
  return kHive + s;
}

// Opens sPath from a fresh read: a key exists when it has a section of its own
// or a section below it (parents are implicit, as regedit exports them).
static RegKey *OpenFromFile(const std::string &sPath, bool *pbExists) {
  *pbExists = false;
  std::string sFile = RegistryFilePath();
  LoadedFile loaded;
  if (!sFile.empty())
    ReadRegistryFile(sFile, loaded);
  RegKey *pKey = new RegKey;
  pKey->sPath = sPath;
  pKey->values.sPath = sPath;
  if (RegTextKey *pFound = FindRegKey(loaded.text, sPath)) {
    pKey->values = *pFound;
    *pbExists = true;
    return pKey;
  }
  *pbExists = HasRegKey(loaded.text, sPath) != 0;
  return pKey;
}

RegKey *RegOpenKey(const char *pszPath) {
  std::string sPath = FullPath(pszPath);
  if (sPath.empty())
    return nullptr;
  bool bExists;
  RegKey *pKey = OpenFromFile(sPath, &bExists);
  if (!bExists) {
    delete pKey;
    return nullptr;
  }
  return pKey;
}

RegKey *RegCreateKey(const char *pszPath) {
  std::string sPath = FullPath(pszPath);
  if (sPath.empty())
    return nullptr;
  bool bExists;
  RegKey *pKey = OpenFromFile(sPath, &bExists);
  // A new key goes to the file at once, so a key that cannot be stored is
  // reported here, as the system's create call does.
  if (!bExists && !MergeIntoFile(sPath, {})) {
    delete pKey;
    return nullptr;
  }
  return pKey;
}

int32_t RegQueryValue(RegKey *pKey, const char *pszName, uint32_t *pnType, uint8_t *pData,
                      uint32_t *pnSize) {
  if (!pKey || !pszName)
    return 0;
  RegTextValue *pValue = FindRegValue(pKey->values, pszName);
  if (!pValue)
    return 0;
  if (pnType)
    *pnType = pValue->nType;
  uint32_t nRoom = pnSize ? *pnSize : 0;
  uint32_t nNeed = static_cast<uint32_t>(pValue->aData.size());
  if (pnSize)
    *pnSize = nNeed;
  if (!pData)
    return 1;
  if (nNeed > nRoom)
    return 0;
  if (nNeed)
    std::memcpy(pData, pValue->aData.data(), nNeed);
  return 1;
}

int32_t RegSetValue(RegKey *pKey, const char *pszName, uint32_t nType, const uint8_t *pData,
                    uint32_t nSize) {
  if (!pKey || !pszName || !ValidName(pszName) || (!pData && nSize))
    return 0;
  std::vector<uint8_t> aData(pData, pData + nSize);
  SetRegValue(pKey->values, pszName, nType, aData);
  SetRegValue(pKey->dirty, pszName, nType, std::move(aData));
  return 1;
}

int32_t RegCloseKey(RegKey *pKey) {
  if (!pKey)
    return 0;
  int32_t nResult = 1;
  if (!pKey->dirty.aValues.empty())
    nResult = MergeIntoFile(pKey->sPath, pKey->dirty.aValues) ? 1 : 0;
  delete pKey;
  return nResult;
}
