// Registry stand-in: keys (backslash-separated paths under the local-machine
// hive, e.g. "Software\\Brenlow\\TORQA\\Statics") holding typed values, kept in
// one text file in the Windows .reg export format at $TORQA_REGISTRY, else
// $XDG_CONFIG_HOME/torqa/registry.reg (default ~/.config/torqa/registry.reg).
#pragma once

#include <cstdint>

enum : uint32_t {
  kRegSz = 1,     // REG_SZ: bytes as stored (no terminating NUL required)
  kRegBinary = 3, // REG_BINARY
  kRegDword = 4,  // REG_DWORD: 4 bytes little-endian
};

struct RegKey; // an open key; every open reads the file afresh

// Opens a key, creating it (and its parents) when missing; a new key is written
// to the file at once. Null on failure (the file cannot be written).
RegKey *RegCreateKey(const char *pszPath);
// Opens an existing key. Null when it does not exist.
RegKey *RegOpenKey(const char *pszPath);
// Reads a value (name "" is the key's default value). On entry *pnSize is the
// room in pData; on success it is the value's size. Returns 1 when found and
// it fit, else 0 (pData may be null to ask only for type and size).
int32_t RegQueryValue(RegKey *pKey, const char *pszName, uint32_t *pnType, uint8_t *pData,
                      uint32_t *pnSize);
// Stores a value; written to the file when the key is closed. Returns 1 on
// success, 0 for a null key or a name with control characters.
int32_t RegSetValue(RegKey *pKey, const char *pszName, uint32_t nType, const uint8_t *pData,
                    uint32_t nSize);
// Writes pending changes and frees the key. The write merges them into the
// file as it is at that moment (another process's keys stay) and replaces it
// atomically, under a lock on "<file>.lock" beside it; a file that could not be
// read or parsed is kept as ".bak" (".bak.1", ".bak.2" ... when taken) and
// stderr says so. A read-only file, or one whose lock cannot be had, is not
// written (stderr says so once). Returns 1 when nothing was pending or the
// write succeeded; on 0 the file is untouched. Null is ignored (returns 0).
int32_t RegCloseKey(RegKey *pKey);
