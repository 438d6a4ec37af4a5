#include "platform/drop_files.h"

static int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view sText) {
  std::string sOut;
  sOut.reserve(sText.size());
  for (size_t i = 0; i < sText.size(); i++) {
    if (sText[i] == '%' && i + 2 < sText.size() && HexValue(sText[i + 1]) >= 0 &&
        HexValue(sText[i + 2]) >= 0) {
      sOut.push_back(static_cast<char>(HexValue(sText[i + 1]) * 16 + HexValue(sText[i + 2])));
      i += 2;
    } else {
      sOut.push_back(sText[i]);
    }
  }
  return sOut;
}

static bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); i++) {
    char ca = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char cb = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (ca != cb)
      return false;
  }
  return true;
}

// One line of the list: the local path it names, or "" when it names none.
static std::string LocalPath(std::string_view sLine) {
  if (!sLine.empty() && sLine[0] == '/')
    return std::string(sLine);
  if (sLine.size() < 5 || !EqualNoCase(sLine.substr(0, 5), "file:"))
    return "";
  std::string_view sRest = sLine.substr(5);
  if (sRest.substr(0, 2) == "//") {
    size_t nSlash = sRest.find('/', 2);
    if (nSlash == std::string_view::npos)
      return "";
    std::string_view sHost = sRest.substr(2, nSlash - 2);
    if (!sHost.empty() && !EqualNoCase(sHost, "localhost"))
      return "";
    sRest = sRest.substr(nSlash);
  }
  if (sRest.empty() || sRest[0] != '/')
    return "";
  size_t nEnd = sRest.find_first_of("?#");
  if (nEnd != std::string_view::npos)
    sRest = sRest.substr(0, nEnd);
  return PercentDecode(sRest);
}

std::vector<std::string> DecodeUriList(std::string_view sList) {
  std::vector<std::string> aPaths;
  while (!sList.empty()) {
    size_t nEol = sList.find('\n');
    std::string_view sLine = sList.substr(0, nEol);
    sList = nEol == std::string_view::npos ? std::string_view() : sList.substr(nEol + 1);
    while (!sLine.empty() && (sLine.back() == '\r' || sLine.back() == '\0'))
      sLine.remove_suffix(1);
    if (sLine.empty() || sLine[0] == '#')
      continue;
    std::string sPath = LocalPath(sLine);
    if (!sPath.empty())
      aPaths.push_back(std::move(sPath));
  }
  return aPaths;
}

std::string FirstDroppedFile(std::string_view sList) {
  std::vector<std::string> aPaths = DecodeUriList(sList);
  return aPaths.empty() ? std::string() : aPaths[0];
}
