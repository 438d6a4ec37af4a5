#include "player/song/sjis_text.h"

#include <iconv.h>

#include <cstdint>
#include <cstdio>

bool IsValidUtf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t c = static_cast<uint8_t>(s[i]);
    int nMore = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (nMore < 0 || (nMore == 1 && c < 0xC2) ||
        (nMore > 0 && i + static_cast<size_t>(nMore) >= s.size()))
      return false;
    for (int k = 1; k <= nMore; ++k)
      if ((static_cast<uint8_t>(s[i + static_cast<size_t>(k)]) & 0xC0) != 0x80)
        return false;
    i += static_cast<size_t>(nMore) + 1;
  }
  return true;
}

std::string TrackNameToUtf8(const std::string &sRaw) {
  std::string sText = sRaw;
  if (!IsValidUtf8(sRaw)) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
      std::string sOut(sRaw.size() * 4 + 4, '\0');
      std::string sIn = sRaw; // iconv wants a writable pointer
      char *pIn = sIn.data();
      size_t nIn = sIn.size();
      char *pOut = sOut.data();
      size_t nOut = sOut.size();
      if (iconv(cd, &pIn, &nIn, &pOut, &nOut) != static_cast<size_t>(-1)) {
        sOut.resize(sOut.size() - nOut);
        sText = sOut;
      }
      iconv_close(cd);
    }
  }
  std::string sShown;
  const bool bUtf8 = IsValidUtf8(sText);
  for (char ch : sText) {
    const uint8_t c = static_cast<uint8_t>(ch);
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && !bUtf8)) {
      char sz[8];
      std::snprintf(sz, sizeof sz, "\\x%02X", c);
      sShown += sz;
    } else {
      sShown += ch;
    }
  }
  return sShown;
}
