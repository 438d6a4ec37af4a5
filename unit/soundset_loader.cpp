// LoadCFG and LoadAllSamples: the one place that opens sound-set files; the
// parsers get the bytes.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "unit/loading_list.h"
#include "unit/sample_loaders.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"

namespace vokra {

namespace {

// Reads a whole regular file into bytes (with kBlockSlack zero bytes behind,
// not counted in nSize). Asks for one byte more than the file's size so that
// a file that grew or shrank since it was measured is refused. 1 or 0.
int32_t ReadFileBytes(const char *pszPath, std::unique_ptr<uint8_t[]> &bytes, size_t &nSize) {
  std::FILE *pFile = std::fopen(pszPath, "rb");
  if (pFile == nullptr)
    return 0;
  struct stat st;
  if (fstat(fileno(pFile), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    std::fclose(pFile);
    return 0;
  }
  nSize = size_t(st.st_size);
  // Only the slack is zeroed: the read fills the rest (a short read fails).
  bytes.reset(new (std::nothrow) uint8_t[nSize + kBlockSlack]);
  if (!bytes) {
    std::fclose(pFile);
    return 0;
  }
  std::memset(bytes.get() + nSize, 0, kBlockSlack);
  size_t nRead = std::fread(bytes.get(), 1, nSize + 1, pFile);
  std::fclose(pFile);
  return nRead == nSize ? 1 : 0;
}

using SampleParser = int32_t (*)(Instrument &, const uint8_t *, size_t);

int32_t LoadSample(int32_t nInst, int32_t nType, SampleParser pfnParse) {
  if (nInst < 0 || nInst >= kInstruments)
    return 0;
  Instrument &inst = aInstrument[nInst];
  StartSampleLoad(inst, nType);
  std::unique_ptr<uint8_t[]> bytes;
  size_t nSize = 0;
  if (!ReadFileBytes(inst.szPath, bytes, nSize))
    return 0;
  return pfnParse(inst, bytes.get(), nSize);
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The path's last three characters equal pszExt, ignoring case.
bool HasExtension(const char *pszPath, size_t nLen, const char *pszExt) {
  if (nLen < 3)
    return false;
  for (size_t i = 0; i < 3; i++)
    if (LowerAscii(pszPath[nLen - 3 + i]) != pszExt[i])
      return false;
  return true;
}

} // namespace

int32_t LoadEpcSample(int32_t nInst) {
  return LoadSample(nInst, kTypeEpc, ParseEpcSample);
}
int32_t LoadFpvSample(int32_t nInst) {
  return LoadSample(nInst, kTypeFpv, ParseFpvSample);
}
int32_t LoadPatSample(int32_t nInst) {
  return LoadSample(nInst, kTypePat, ParsePatSample);
}

int32_t LoadAllSamples() {
  LoadingList &list = CurrentLoadingList();
  list.Begin();
  int32_t nFailed = 0;
  for (int32_t i = 0; i < kInstruments; i++) {
    Instrument &inst = aInstrument[i];
    if (inst.szPath[0] == '\0')
      continue;
    size_t nLen = std::strlen(inst.szPath);
    int32_t bLoaded = 0;
    if (inst.bPathCut)
      DropSampleData(inst);
    else if (HasExtension(inst.szPath, nLen, "epc"))
      bLoaded = LoadEpcSample(i);
    else if (HasExtension(inst.szPath, nLen, "fpv"))
      bLoaded = LoadFpvSample(i);
    else if (HasExtension(inst.szPath, nLen, "pat"))
      bLoaded = LoadPatSample(i);
    else
      DropSampleData(inst);
    if (bLoaded) {
      list.AddLoaded(inst.szPath);
    } else {
      list.AddFailed(inst.szPath);
      nFailed++;
    }
  }
  list.End(nFailed != 0 ? 1 : 0);
  return nFailed;
}

int32_t LoadCFG() {
  // Room for the longest directory and name; precisions keep the reads
  // inside the two fixed buffers even without their NUL.
  char szPath[kUnitDirBytes + sizeof kSoundSetDir + kCfgNameBytes];
  std::snprintf(szPath, sizeof szPath, "%.*s%s%.*s", kUnitDirBytes - 1, szUnitDir, kSoundSetDir,
                kCfgNameBytes - 1, szCfgName);
  std::unique_ptr<uint8_t[]> text;
  size_t nSize = 0;
  if (!ReadFileBytes(szPath, text, nSize))
    return 0;
  ParseCfgText(text.get(), nSize);
  text.reset();
  aInstrument[anProgramMap[0][0]].bLockOnUse = 0;
  LoadAllSamples();
  return 1;
}

} // namespace vokra
