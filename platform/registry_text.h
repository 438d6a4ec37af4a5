// The registry file's text form (the Windows .reg export format, version 5.00)
// as bytes in and bytes out, so tests and fuzzers can feed it directly.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Brenlow\TORQA\Statics]
//   @=hex(1):90,c3,93,49,95,db,91,b6
//   "nPCMRate"=dword:00005622
//   "DevMid"=hex:00,00
//   "P0"=""
//
// Value data is kept byte for byte: REG_SZ is written as "..." only when every
// byte is printable ASCII, otherwise as hex(1): so Shift-JIS text and text
// without a NUL come back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RegTextValue {
  std::string sName;          // "" is the key's default value (@)
  uint32_t nType;             // kRegSz, kRegBinary, kRegDword or any other type number
  std::vector<uint8_t> aData; // raw bytes as stored
};

struct RegTextKey {
  std::string sPath;                 // full path with the hive, "HKEY_LOCAL_MACHINE\\Software\\..."
  std::vector<RegTextValue> aValues; // in file order
};

struct RegTextFile {
  std::vector<RegTextKey> aKeys; // in file order, each path once
};

// Parses a whole file. Returns 1 when every line is well formed, else 0 (out is
// then left empty). Accepts CRLF or LF lines, a UTF-8 byte-order mark, ";"
// comments, hex continuation lines, "[-key]" and "name"=- deletions, and the
// "REGEDIT4" header. Bytes take exactly two hex digits and dwords eight, as
// regedit writes them, so most lines cut short are noticed.
int32_t ParseRegText(const uint8_t *pData, size_t nSize, RegTextFile &out);

// Writes the file in the form ParseRegText reads back to the same content.
std::string FormatRegText(const RegTextFile &file);

// Finds a key or a value by name, ignoring ASCII letter case as the registry
// does. Null when absent.
RegTextKey *FindRegKey(RegTextFile &file, const std::string &sPath);
RegTextValue *FindRegValue(RegTextKey &key, const std::string &sName);
// 1 when sPath has a section of its own or a section below it (parent keys are
// implicit, as in an export of a subtree).
int32_t HasRegKey(const RegTextFile &file, const std::string &sPath);

// Sets (adds or replaces) a value in key.
void SetRegValue(RegTextKey &key, const std::string &sName, uint32_t nType,
                 std::vector<uint8_t> aData);
