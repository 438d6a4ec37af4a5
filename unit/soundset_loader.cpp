// LoadCFG and LoadAllSamples: the one place that opens sound-set files; the
// parsers get the bytes (a patch's parser only those it asks for).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "unit/byte_source.h"
#include "unit/loading_list.h"
#include "unit/path_case.h"
#include "unit/sample_loaders.h"
#include "unit/sample_memory.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"

namespace vokra {

namespace {

// A regular file, read with pread: in pieces (ByteSource) or whole. A name
// not found as written is looked up without regard to case.
class FileSource final : public ByteSource {
public:
  FileSource() = default;
  FileSource(const FileSource &) = delete;
  FileSource &operator=(const FileSource &) = delete;
  ~FileSource() override {
    if (m_fd >= 0)
      close(m_fd);
  }

  // Opened without waiting (a FIFO or device would block in open) and used
  // only when it is a regular file.
  bool Open(const char *pszPath) {
    m_fd = open(pszPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
      const std::string onDisk = ResolvePathCase(pszPath);
      if (!onDisk.empty())
        m_fd = open(onDisk.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }
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

  size_t CopyTo(uint8_t *p, size_t nOffset, size_t n) override { return ReadInto(p, nOffset, n); }

  // Refused, as a read of one byte more would be, when the file's size has
  // changed since it was measured.
  DataBlock *MapTail(size_t nOffset) override {
    if (nOffset > m_nSize)
      return nullptr;
    DataBlock *const hBlock = MapBlock(m_fd, nOffset, m_nSize - nOffset);
    struct stat st;
    if (hBlock != nullptr && (fstat(m_fd, &st) != 0 || st.st_size != off_t(m_nSize))) {
      FreeBlock(hBlock);
      return nullptr;
    }
    return hBlock;
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

using SourceParser = int32_t (*)(Instrument &, ByteSource &);

// Opens instrument nInst's file and hands it to the parser, which reads only
// the parts it needs.
int32_t LoadSample(int32_t nInst, int32_t nType, SourceParser pfnParse) {
  if (nInst < 0 || nInst >= kInstruments)
    return 0;
  Instrument &inst = aInstrument[nInst];
  StartSampleLoad(inst, nType);
  FileSource file;
  if (!file.Open(inst.szPath))
    return 0;
  return pfnParse(inst, file);
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

// The sample format instrument i's path names by its extension (kType*),
// 0 for none (or a path that did not fit).
int32_t PathType(const Instrument &inst) {
  const size_t nLen = std::strlen(inst.szPath);
  if (inst.bPathCut)
    return 0;
  if (HasExtension(inst.szPath, nLen, "epc"))
    return kTypeEpc;
  if (HasExtension(inst.szPath, nLen, "fpv"))
    return kTypeFpv;
  if (HasExtension(inst.szPath, nLen, "pat"))
    return kTypePat;
  return 0;
}

// Loads instrument i's sample by its path's extension; 1 when loaded.
int32_t LoadInstrumentSample(int32_t i) {
  switch (PathType(aInstrument[i])) {
  case kTypeEpc:
    return LoadEpcSample(i);
  case kTypeFpv:
    return LoadFpvSample(i);
  case kTypePat:
    return LoadPatSample(i);
  default:
    DropSampleData(aInstrument[i]);
    return 0;
  }
}

// About the bytes instrument i's sample takes, from the file's size or the
// patch's headers: a few small reads.
size_t ExpectedSampleBytes(int32_t i) {
  const Instrument &inst = aInstrument[i];
  const int32_t nType = PathType(inst);
  FileSource file;
  if (nType == 0 || !file.Open(inst.szPath))
    return 0;
  if (nType == kTypePat)
    return PatSampleBytes(file);
  if (nType == kTypeEpc)
    return 0; // mapped from its file, not taken from sample memory
  return file.Size() < kMaxSetSampleBytes ? file.Size() : kMaxSetSampleBytes;
}

// Why ReadFileBytes refused the file at pszPath, looked up as it looked.
std::string UnreadableReason(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) != 0) {
    const int nError = errno;
    const std::string onDisk = ResolvePathCase(pszPath);
    if (onDisk.empty() || stat(onDisk.c_str(), &st) != 0)
      return std::strerror(nError);
  }
  if (S_ISDIR(st.st_mode))
    return "a directory, not a file";
  if (!S_ISREG(st.st_mode))
    return "not a regular file";
  if (access(pszPath, R_OK) != 0 && errno == EACCES)
    return std::strerror(EACCES);
  return "could not be read whole (it changed while read, or no memory)";
}

} // namespace

int32_t nLoadedInstruments = 0;

int32_t LoadEpcSample(int32_t nInst) {
  return LoadSample(nInst, kTypeEpc, ParseEpcSource);
}
int32_t LoadFpvSample(int32_t nInst) {
  return LoadSample(nInst, kTypeFpv, ParseFpvSource);
}
// Only the header, the wave headers up to the middle one and its data are read.
int32_t LoadPatSample(int32_t nInst) {
  return LoadSample(nInst, kTypePat, ParsePatSource);
}

int32_t LoadAllSamples() {
  LoadingList &list = CurrentLoadingList();
  list.Begin();
  int32_t anWith[kInstruments]; // instruments with a path, in order
  int32_t n = 0;
  for (int32_t i = 0; i < kInstruments; i++)
    if (aInstrument[i].szPath[0] != '\0')
      anWith[n++] = i;
  // Samples are independent: a second thread loads them too. Each pass
  // shares the list through a counter: first the bytes the samples will
  // take, which sample memory is told before the first block, then the
  // samples. Outcomes are reported in order, on this thread, as soon as
  // every earlier one is known. -1: not yet known.
  std::atomic<int32_t> nNextSize{0};
  std::atomic<size_t> nExpected{0};
  std::atomic<int32_t> nNext{0};
  std::atomic<int8_t> anOutcome[kInstruments];
  for (int32_t k = 0; k < n; k++)
    anOutcome[k].store(-1, std::memory_order_relaxed);
  std::barrier sized(2, [&]() noexcept {
    const size_t nAll = nExpected.load();
    SampleExpect(nAll < kMaxSetSampleBytes ? nAll : kMaxSetSampleBytes);
  });
  const auto SizeAll = [&] {
    for (int32_t k; (k = nNextSize.fetch_add(1, std::memory_order_relaxed)) < n;)
      nExpected.fetch_add(ExpectedSampleBytes(anWith[k]), std::memory_order_relaxed);
    sized.arrive_and_wait();
  };
  const auto LoadNext = [&]() {
    const int32_t k = nNext.fetch_add(1, std::memory_order_relaxed);
    if (k >= n)
      return false;
    anOutcome[k].store(int8_t(LoadInstrumentSample(anWith[k])), std::memory_order_release);
    return true;
  };
  std::thread helper;
  if (n > 1 && std::thread::hardware_concurrency() > 1) {
    try {
      helper = std::thread([&] {
        SizeAll();
        while (LoadNext()) {
        }
      });
    } catch (const std::system_error &) {
      // No second thread: this one does it all.
    }
  }
  if (!helper.joinable())
    sized.arrive_and_drop(); // the second thread's part of the wait
  SizeAll();
  int32_t nReported = 0;
  int32_t nFailed = 0;
  const auto ReportKnown = [&] {
    for (; nReported < n; nReported++) {
      const int8_t bLoaded = anOutcome[nReported].load(std::memory_order_acquire);
      if (bLoaded < 0)
        return;
      const char *const pszPath = aInstrument[anWith[nReported]].szPath;
      if (bLoaded) {
        list.AddLoaded(pszPath);
      } else {
        list.AddFailed(pszPath);
        nFailed++;
      }
    }
  };
  while (LoadNext())
    ReportKnown();
  if (helper.joinable())
    helper.join();
  ReportKnown();
  SampleExpect(0);
  list.End(nFailed != 0 ? 1 : 0);
  return nFailed;
}

int32_t LoadCFG() {
  nLoadedInstruments = 0;
  if (bUnitDirTooLong) {
    std::fprintf(stderr, "vokraunit: the unit directory is longer than %d bytes: no sound set\n",
                 kUnitDirBytes - 1);
    return 0;
  }
  // A path past the system's limit could not be opened: say so rather than
  // open a shorter one. Precisions keep the reads inside the fixed buffers.
  char szPath[kPathBytes];
  const int nLen = std::snprintf(szPath, sizeof szPath, "%.*s%s%.*s", kUnitDirBytes - 1, szUnitDir,
                                 kSoundSetDir, kCfgNameBytes - 1, szCfgName);
  if (nLen < 0 || size_t(nLen) >= sizeof szPath) {
    std::fprintf(stderr, "vokraunit: sound-set path longer than %d bytes: %s%s%s\n", kPathBytes - 1,
                 szUnitDir, kSoundSetDir, szCfgName);
    return 0;
  }
  std::unique_ptr<uint8_t[]> text;
  size_t nSize = 0;
  if (!ReadFileBytes(szPath, text, nSize)) {
    ReportSilentSet(szPath, UnreadableReason(szPath).c_str());
    return 0;
  }
  ParseCfgText(text.get(), nSize);
  text.reset();
  aInstrument[anProgramMap[0][0]].bLockOnUse = 0;
  int32_t nWithPath = 0;
  for (const Instrument &inst : aInstrument)
    nWithPath += inst.szPath[0] != '\0';
  nLoadedInstruments = nWithPath - LoadAllSamples();
  // A set that parses but loads nothing still counts as read (1), yet the
  // unit stays silent: say why.
  if (nWithPath == 0) {
    ReportSilentSet(szPath, "no instrument line (\"N: FILE options\") in it");
  } else if (nLoadedInstruments == 0) {
    char szWhy[96];
    std::snprintf(szWhy, sizeof szWhy, "none of its %d samples loaded", int(nWithPath));
    ReportSilentSet(szPath, szWhy);
  }
  return 1;
}

} // namespace vokra
