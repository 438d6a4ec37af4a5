// LoadCFG and LoadAllSamples: the one place that opens sound-set files; the
// parsers get the bytes (a patch's parser only those it asks for).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "unit/byte_source.h"
#include "unit/loading_list.h"
#include "unit/sample_loaders.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"

namespace vokra {

namespace {

// A regular file, read with pread: in pieces (ByteSource) or whole.
class FileSource final : public ByteSource {
public:
  FileSource() = default;
  FileSource(const FileSource &) = delete;
  FileSource &operator=(const FileSource &) = delete;
  ~FileSource() override {
    if (m_fd >= 0)
      close(m_fd);
  }

  bool Open(const char *pszPath) {
    m_fd = open(pszPath, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (m_fd < 0 || fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
      return false;
    m_nSize = size_t(st.st_size);
    return true;
  }

  size_t Size() const override { return m_nSize; }

  // A short read (the file shrank since it was measured) fails.
  const uint8_t *Read(size_t nOffset, size_t n, size_t nZeros) override {
    if (n + nZeros > m_nCapacity) {
      m_buffer.reset(new (std::nothrow) uint8_t[n + nZeros]);
      m_nCapacity = m_buffer ? n + nZeros : 0;
      if (!m_buffer)
        return nullptr;
    }
    if (ReadInto(m_buffer.get(), nOffset, n) != n)
      return nullptr;
    std::memset(m_buffer.get() + n, 0, nZeros);
    return m_buffer.get();
  }

  // Up to n bytes at nOffset into p; how many were read.
  size_t ReadInto(uint8_t *p, size_t nOffset, size_t n) const {
    size_t nDone = 0;
    while (nDone < n) {
      const ssize_t k = pread(m_fd, p + nDone, n - nDone, off_t(nOffset + nDone));
      if (k < 0 && errno == EINTR)
        continue;
      if (k <= 0)
        break;
      nDone += size_t(k);
    }
    return nDone;
  }

private:
  int m_fd = -1;
  size_t m_nSize = 0;
  std::unique_ptr<uint8_t[]> m_buffer; // the latest Read
  size_t m_nCapacity = 0;
};

// Reads a whole regular file into bytes (with kBlockSlack zero bytes behind,
// not counted in nSize). Asks for one byte more than the file's size so that
// a file that grew or shrank since it was measured is refused. 1 or 0.
int32_t ReadFileBytes(const char *pszPath, std::unique_ptr<uint8_t[]> &bytes, size_t &nSize) {
  FileSource file;
  if (!file.Open(pszPath))
    return 0;
  nSize = file.Size();
  // Only the slack is zeroed: the read fills the rest (a short read fails).
  bytes.reset(new (std::nothrow) uint8_t[nSize + kBlockSlack]);
  if (!bytes)
    return 0;
  std::memset(bytes.get() + nSize, 0, kBlockSlack);
  return file.ReadInto(bytes.get(), 0, nSize + 1) == nSize ? 1 : 0;
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
// Only the header, the wave headers up to the middle one and its data are read.
int32_t LoadPatSample(int32_t nInst) {
  if (nInst < 0 || nInst >= kInstruments)
    return 0;
  Instrument &inst = aInstrument[nInst];
  StartSampleLoad(inst, kTypePat);
  FileSource file;
  if (!file.Open(inst.szPath))
    return 0;
  return ParsePatSource(inst, file);
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
