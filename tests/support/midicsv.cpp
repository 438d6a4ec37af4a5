#include "support/midicsv.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace testsupport {

MidiCsvRecord SplitMidiCsvRecord(const std::string &sLine) {
  MidiCsvRecord as;
  size_t i = 0;
  while (i <= sLine.size()) {
    while (i < sLine.size() && sLine[i] == ' ')
      ++i;
    std::string sField;
    if (i < sLine.size() && sLine[i] == '"') {
      ++i;
      while (i < sLine.size()) {
        if (sLine[i] == '"' && i + 1 < sLine.size() && sLine[i + 1] == '"') {
          sField += '"';
          i += 2;
        } else if (sLine[i] == '"') {
          ++i;
          break;
        } else if (sLine[i] == '\\' && i + 1 < sLine.size() && sLine[i + 1] == '\\') {
          sField += '\\';
          i += 2;
        } else if (sLine[i] == '\\' && i + 3 < sLine.size()) {
          sField += static_cast<char>(std::stoi(sLine.substr(i + 1, 3), nullptr, 8));
          i += 4;
        } else {
          sField += sLine[i++];
        }
      }
      while (i < sLine.size() && sLine[i] != ',')
        ++i;
    } else {
      while (i < sLine.size() && sLine[i] != ',')
        sField += sLine[i++];
      while (!sField.empty() && (sField.back() == ' ' || sField.back() == '\r'))
        sField.pop_back();
    }
    as.push_back(sField);
    ++i;
  }
  return as;
}

std::string FindMidiCsv() {
  const char *pszPath = std::getenv("PATH");
  std::string sPath = pszPath ? pszPath : "/usr/bin:/bin";
  size_t nStart = 0;
  while (nStart <= sPath.size()) {
    size_t nEnd = sPath.find(':', nStart);
    if (nEnd == std::string::npos)
      nEnd = sPath.size();
    const std::string sCandidate = sPath.substr(nStart, nEnd - nStart) + "/midicsv";
    struct stat st;
    if (stat(sCandidate.c_str(), &st) == 0 && (st.st_mode & S_IXUSR))
      return sCandidate;
    nStart = nEnd + 1;
  }
  return "";
}

bool MidiCsvRecords(const std::string &sSong, std::vector<MidiCsvRecord> &aRecords,
                    const std::string &sMidiCsv) {
  aRecords.clear();
  std::FILE *pPipe = popen(("'" + sMidiCsv + "' '" + sSong + "'").c_str(), "r");
  if (!pPipe)
    return false;
  std::string sLine;
  int c;
  while (true) {
    sLine.clear();
    while ((c = std::fgetc(pPipe)) != EOF && c != '\n')
      sLine += static_cast<char>(c);
    if (sLine.empty() && c == EOF)
      break;
    aRecords.push_back(SplitMidiCsvRecord(sLine));
  }
  return pclose(pPipe) == 0;
}

} // namespace testsupport
