#include "platform/registry_text.h"

#include "platform/registry.h"

#include <cstdio>
#include <cstring>

static const char kHeader5[] = "Windows Registry Editor Version 5.00";
static const char kHeader4[] = "REGEDIT4";
static const size_t kHexLineWidth = 76; // where regedit wraps long hex data

static char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

static bool SameName(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); i++)
    if (LowerAscii(a[i]) != LowerAscii(b[i]))
      return false;
  return true;
}

// True when sPath is sAncestor itself or lies below it.
static bool IsSameOrBelow(const std::string &sPath, const std::string &sAncestor) {
  if (sPath.size() < sAncestor.size())
    return false;
  if (!SameName(sPath.substr(0, sAncestor.size()), sAncestor))
    return false;
  return sPath.size() == sAncestor.size() || sPath[sAncestor.size()] == '\\';
}

RegTextKey *FindRegKey(RegTextFile &file, const std::string &sPath) {
  for (RegTextKey &key : file.aKeys)
    if (SameName(key.sPath, sPath))
      return &key;
  return nullptr;
}

int32_t HasRegKey(const RegTextFile &file, const std::string &sPath) {
  for (const RegTextKey &key : file.aKeys)
    if (IsSameOrBelow(key.sPath, sPath))
      return 1;
  return 0;
}

RegTextValue *FindRegValue(RegTextKey &key, const std::string &sName) {
  for (RegTextValue &value : key.aValues)
    if (SameName(value.sName, sName))
      return &value;
  return nullptr;
}

void SetRegValue(RegTextKey &key, const std::string &sName, uint32_t nType,
                 std::vector<uint8_t> aData) {
  if (RegTextValue *pValue = FindRegValue(key, sName)) {
    pValue->nType = nType;
    pValue->aData = std::move(aData);
    return;
  }
  key.aValues.push_back(RegTextValue{sName, nType, std::move(aData)});
}

// ---- parsing ----

static int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

static bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

static std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b]))
    b++;
  while (e > b && IsBlank(s[e - 1]))
    e--;
  return s.substr(b, e - b);
}

// Parses 1..8 hex digits into *pn.
static bool ParseHexNumber(const std::string &s, uint32_t *pn) {
  if (s.empty() || s.size() > 8)
    return false;
  uint32_t n = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0)
      return false;
    n = (n << 4) | static_cast<uint32_t>(d);
  }
  *pn = n;
  return true;
}

// Reads a quoted text starting at s[*pPos] == '"' with the escapes \\ and \".
static bool ParseQuoted(const std::string &s, size_t *pPos, std::string &out) {
  size_t i = *pPos + 1;
  out.clear();
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      *pPos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
        return false;
      out.push_back(s[i + 1]);
      i += 2;
      continue;
    }
    out.push_back(c);
    i++;
  }
  return false;
}

static bool HasControlByte(const std::string &s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20)
      return true;
  return false;
}

static bool ValidKeyPath(const std::string &sPath) {
  if (sPath.compare(0, 5, "HKEY_") != 0 || HasControlByte(sPath))
    return false;
  if (sPath.back() == '\\')
    return false;
  return sPath.find("\\\\") == std::string::npos;
}

static bool ParseHexBytes(const std::string &s, std::vector<uint8_t> &out) {
  out.clear();
  std::string sData = Trim(s);
  if (sData.empty())
    return true;
  size_t b = 0;
  while (true) {
    size_t e = sData.find(',', b);
    std::string sByte = Trim(sData.substr(b, e == std::string::npos ? std::string::npos : e - b));
    uint32_t n;
    if (sByte.size() != 2 || !ParseHexNumber(sByte, &n))
      return false;
    out.push_back(static_cast<uint8_t>(n));
    if (e == std::string::npos)
      return true;
    b = e + 1;
  }
}

static void DeleteKeyTree(RegTextFile &file, const std::string &sPath) {
  std::vector<RegTextKey> aKept;
  for (RegTextKey &key : file.aKeys)
    if (!IsSameOrBelow(key.sPath, sPath))
      aKept.push_back(std::move(key));
  file.aKeys = std::move(aKept);
}

int32_t ParseRegText(const uint8_t *pData, size_t nSize, RegTextFile &out) {
  out.aKeys.clear();
  std::vector<std::string> aLines;
  {
    size_t b = 0;
    if (nSize >= 3 && pData[0] == 0xEF && pData[1] == 0xBB && pData[2] == 0xBF)
      b = 3;
    while (b < nSize) {
      const void *pEol = std::memchr(pData + b, '\n', nSize - b);
      size_t e = pEol ? static_cast<size_t>(static_cast<const uint8_t *>(pEol) - pData) : nSize;
      std::string sLine(reinterpret_cast<const char *>(pData) + b, e - b);
      if (!sLine.empty() && sLine.back() == '\r')
        sLine.pop_back();
      aLines.push_back(std::move(sLine));
      b = e + 1;
    }
  }
  if (aLines.empty())
    return 0;
  std::string sHeader = Trim(aLines[0]);
  if (sHeader != kHeader5 && sHeader != kHeader4)
    return 0;

  RegTextFile file;
  int64_t nCurrent = -1; // index of the key the value lines belong to
  for (size_t nLine = 1; nLine < aLines.size(); nLine++) {
    std::string sLine = Trim(aLines[nLine]);
    if (sLine.empty() || sLine[0] == ';')
      continue;
    if (sLine[0] == '[') {
      if (sLine.back() != ']' || sLine.size() < 3)
        return 0;
      std::string sPath = sLine.substr(1, sLine.size() - 2);
      bool bDelete = sPath[0] == '-';
      if (bDelete)
        sPath.erase(0, 1);
      if (!ValidKeyPath(sPath))
        return 0;
      if (bDelete) {
        DeleteKeyTree(file, sPath);
        nCurrent = -1;
        continue;
      }
      RegTextKey *pKey = FindRegKey(file, sPath);
      if (!pKey) {
        file.aKeys.push_back(RegTextKey{sPath, {}});
        pKey = &file.aKeys.back();
      }
      nCurrent = pKey - file.aKeys.data();
      continue;
    }
    if (nCurrent < 0)
      return 0;
    RegTextKey &key = file.aKeys[static_cast<size_t>(nCurrent)];

    std::string sName;
    size_t nPos;
    if (sLine[0] == '@') {
      nPos = 1;
    } else if (sLine[0] == '"') {
      nPos = 0;
      if (!ParseQuoted(sLine, &nPos, sName) || HasControlByte(sName))
        return 0;
    } else {
      return 0;
    }
    while (nPos < sLine.size() && IsBlank(sLine[nPos]))
      nPos++;
    if (nPos >= sLine.size() || sLine[nPos] != '=')
      return 0;
    std::string sData = Trim(sLine.substr(nPos + 1));

    if (sData == "-") {
      std::vector<RegTextValue> &aValues = key.aValues;
      for (size_t i = 0; i < aValues.size(); i++)
        if (SameName(aValues[i].sName, sName)) {
          aValues.erase(aValues.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
      continue;
    }
    if (!sData.empty() && sData[0] == '"') {
      size_t nEnd = 0;
      std::string sText;
      if (!ParseQuoted(sData, &nEnd, sText) || nEnd != sData.size())
        return 0;
      SetRegValue(key, sName, kRegSz, std::vector<uint8_t>(sText.begin(), sText.end()));
      continue;
    }
    if (sData.compare(0, 6, "dword:") == 0) {
      // Exactly eight digits, as regedit writes them: a shorter one is a cut line.
      uint32_t n;
      std::string sDigits = Trim(sData.substr(6));
      if (sDigits.size() != 8 || !ParseHexNumber(sDigits, &n))
        return 0;
      std::vector<uint8_t> aBytes = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                     static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
      SetRegValue(key, sName, kRegDword, std::move(aBytes));
      continue;
    }
    if (sData.compare(0, 3, "hex") != 0)
      return 0;
    uint32_t nType = kRegBinary;
    size_t nColon = sData.find(':');
    if (nColon == std::string::npos)
      return 0;
    std::string sTag = sData.substr(3, nColon - 3);
    if (!sTag.empty()) {
      if (sTag.size() < 3 || sTag.front() != '(' || sTag.back() != ')' ||
          !ParseHexNumber(sTag.substr(1, sTag.size() - 2), &nType))
        return 0;
    }
    // Long hex data continues on the following lines after a trailing backslash.
    std::string sBytes = Trim(sData.substr(nColon + 1));
    while (!sBytes.empty() && sBytes.back() == '\\') {
      sBytes.pop_back();
      if (++nLine >= aLines.size())
        return 0;
      sBytes += Trim(aLines[nLine]);
    }
    std::vector<uint8_t> aBytes;
    if (!ParseHexBytes(sBytes, aBytes))
      return 0;
    SetRegValue(key, sName, nType, std::move(aBytes));
  }
  out = std::move(file);
  return 1;
}

// ---- writing ----

static void AppendQuoted(std::string &s, const std::string &sText) {
  s.push_back('"');
  for (char c : sText) {
    if (c == '\\' || c == '"')
      s.push_back('\\');
    s.push_back(c);
  }
  s.push_back('"');
}

static bool IsPrintableAscii(const std::vector<uint8_t> &aData) {
  for (uint8_t b : aData)
    if (b < 0x20 || b > 0x7E)
      return false;
  return true;
}

static void AppendHex(std::string &s, const char *pszTag, const std::vector<uint8_t> &aData,
                      size_t nColumn) {
  static const char kDigits[] = "0123456789abcdef";
  s += pszTag;
  nColumn += std::strlen(pszTag);
  for (size_t i = 0; i < aData.size(); i++) {
    s.push_back(kDigits[aData[i] >> 4]);
    s.push_back(kDigits[aData[i] & 15]);
    nColumn += 2;
    if (i + 1 < aData.size()) {
      s.push_back(',');
      nColumn++;
      if (nColumn >= kHexLineWidth) {
        s += "\\\n  ";
        nColumn = 2;
      }
    }
  }
}

std::string FormatRegText(const RegTextFile &file) {
  std::string s = kHeader5;
  s += "\n\n";
  for (const RegTextKey &key : file.aKeys) {
    s += "[" + key.sPath + "]\n";
    for (const RegTextValue &value : key.aValues) {
      size_t nLineStart = s.size();
      if (value.sName.empty())
        s.push_back('@');
      else
        AppendQuoted(s, value.sName);
      s.push_back('=');
      size_t nColumn = s.size() - nLineStart;
      if (value.nType == kRegSz && IsPrintableAscii(value.aData)) {
        AppendQuoted(s, std::string(value.aData.begin(), value.aData.end()));
      } else if (value.nType == kRegDword && value.aData.size() == 4) {
        const std::vector<uint8_t> &d = value.aData;
        uint32_t n = d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
        char szDword[16];
        std::snprintf(szDword, sizeof szDword, "dword:%08x", n);
        s += szDword;
      } else if (value.nType == kRegBinary) {
        AppendHex(s, "hex:", value.aData, nColumn);
      } else {
        char szTag[24];
        std::snprintf(szTag, sizeof szTag, "hex(%x):", value.nType);
        AppendHex(s, szTag, value.aData, nColumn);
      }
      s.push_back('\n');
    }
    s.push_back('\n');
  }
  return s;
}
