// How the loader meets the files of a set: names in another case, long
// directories, FIFOs, files larger than their headers say, a set larger
// than sample memory may hold, and EPC data mapped from its file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>

#include "loader_fixture.h"
#include "support/sample_writers.h"
#include "unit/soundset.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"

using namespace vokra;

// Bytes this process has read from files so far (the kernel's count).
uint64_t BytesReadSoFar() {
  std::FILE *pFile = std::fopen("/proc/self/io", "r");
  unsigned long long n = 0;
  if (pFile != nullptr) {
    if (std::fscanf(pFile, "rchar: %llu", &n) != 1)
      n = 0;
    std::fclose(pFile);
  }
  return n;
}

// The file mapped at address p in this process, from /proc/self/maps; empty
// when p lies in no file mapping.
std::string MappedFileAt(const void *p) {
  std::FILE *pFile = std::fopen("/proc/self/maps", "r");
  std::string sFile;
  char sz[4096];
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  while (pFile != nullptr && std::fgets(sz, sizeof sz, pFile) != nullptr) {
    unsigned long nFrom = 0, nTo = 0;
    int nPathAt = 0;
    if (std::sscanf(sz, "%lx-%lx %*s %*s %*s %*s %n", &nFrom, &nTo, &nPathAt) >= 2 && a >= nFrom &&
        a < nTo && nPathAt > 0) {
      sFile = sz + nPathAt;
      sFile.erase(sFile.find_last_not_of("\n") + 1);
    }
  }
  if (pFile != nullptr)
    std::fclose(pFile);
  return sFile;
}

class SetFilesTest : public LoaderTest {
protected:
  // Runs LoadCFG on another thread; false when it did not return within a
  // few seconds (a blocked open is then freed by opening the FIFO's other end).
  bool LoadReturns(const std::string &fifo, int32_t &nResult) {
    auto done = std::async(std::launch::async, [] { return LoadCFG(); });
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
      nResult = done.get();
      return true;
    }
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
      close(fd);
    done.wait();
    return false;
  }
};

TEST_F(SetFilesTest, NamesMatchWhateverTheirCaseOnDisk) {
  WriteSample("Sub/I.PAT", testsupport::MakePat({testsupport::PatWave{{1, 2, 3, 4}}}));
  WriteSample("b.epc", testsupport::MakeEpc({}, Ramp(4)));
  testsupport::Bytes cfg{'1', ':',  ' ', 's', 'u', 'b', '/', 'i', '.', 'p', 'a',
                         't', '\n', '2', ':', ' ', 'B', '.', 'E', 'P', 'C', '\n'};
  ASSERT_TRUE(testsupport::WriteFileBytes(SetPath("vokra.cfg"), cfg));
  std::snprintf(szCfgName, sizeof szCfgName, "VOKRA.cfg");
  ASSERT_EQ(LoadCFG(), 1);
  EXPECT_EQ(list.loaded, (std::vector<std::string>{SetPath("sub/i.pat"), SetPath("B.EPC")}));
  EXPECT_TRUE(list.failed.empty());
}

TEST_F(SetFilesTest, LongUnitDirectoryLoadsAndTooLongOneIsReported) {
  // 264 characters: past the 260 a unit directory once had.
  std::string longDir = dir + std::string(264 - dir.size() - 1, 'd') + "/";
  ASSERT_EQ(longDir.size(), 264u);
  std::filesystem::create_directories(longDir + "VOKRA");
  ASSERT_TRUE(testsupport::WriteFileBytes(longDir + "VOKRA/VOKRA.cfg", {'#', '\n'}));
  InitUNIT(&list, longDir.c_str());
  EXPECT_EQ(LoadCFG(), 1);

  const std::string tooLong = "/" + std::string(kPathBytes, 'x') + "/";
  testing::internal::CaptureStderr();
  InitUNIT(&list, tooLong.c_str());
  EXPECT_EQ(LoadCFG(), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("unit directory"), std::string::npos);
  InitUNIT(&list, dir.c_str());
}

TEST_F(SetFilesTest, FifoAsConfigurationOrSampleDoesNotBlock) {
  ASSERT_EQ(mkfifo(SetPath("VOKRA.cfg").c_str(), 0600), 0);
  int32_t nResult = -1;
  ASSERT_TRUE(LoadReturns(SetPath("VOKRA.cfg"), nResult));
  EXPECT_EQ(nResult, 0);

  ASSERT_EQ(unlink(SetPath("VOKRA.cfg").c_str()), 0);
  ASSERT_TRUE(
      testsupport::WriteFileBytes(SetPath("VOKRA.cfg"), {'1', ':', 'p', '.', 'p', 'a', 't', '\n'}));
  ASSERT_EQ(mkfifo(SetPath("p.pat").c_str(), 0600), 0);
  ASSERT_TRUE(LoadReturns(SetPath("p.pat"), nResult));
  EXPECT_EQ(nResult, 1);
  EXPECT_EQ(list.failed, std::vector<std::string>{SetPath("p.pat")});
}

TEST_F(SetFilesTest, EpcLargerThanItsHeaderIsRefusedUnread) {
  // A sparse 3 GiB file announcing 8 bytes: refused by its size alone.
  testsupport::Bytes epc = testsupport::MakeEpc({}, Ramp(4));
  WriteSample("big.epc", epc);
  ASSERT_EQ(truncate(SetPath("big.epc").c_str(), off_t{3} << 30), 0);
  // An FPV of the same size reads only the data its header announces.
  testsupport::FpvFields f;
  f.nEnd = 3;
  WriteSample("big.fpv", testsupport::MakeFpv(f, testsupport::Le16Bytes(Ramp(4))));
  ASSERT_EQ(truncate(SetPath("big.fpv").c_str(), off_t{3} << 30), 0);
  const uint64_t nReadBefore = BytesReadSoFar();
  ASSERT_EQ(LoadConfig("1: big.epc\n2: big.fpv\n"), 1);
  EXPECT_LT(BytesReadSoFar() - nReadBefore, uint64_t{1} << 20);
  EXPECT_EQ(list.failed, std::vector<std::string>{SetPath("big.epc")});
  EXPECT_EQ(list.loaded, std::vector<std::string>{SetPath("big.fpv")});
  EXPECT_EQ(aInstrument[1].nDataSize, 8);
}

TEST_F(SetFilesTest, SamplesPastTheSetLimitAreListedAsNotLoaded) {
  SetSampleLimit(3 * 1000);
  WriteSample("a.epc", testsupport::MakeEpc({}, Ramp(500))); // 1000 bytes each
  WriteSample("b.epc", testsupport::MakeEpc({}, Ramp(500)));
  WriteSample("c.pat", testsupport::MakePat({testsupport::PatWave{testsupport::Bytes(1000, 5)}}));
  WriteSample("d.epc", testsupport::MakeEpc({}, Ramp(500)));
  const int32_t nLoaded = LoadConfig("1: a.epc\n2: b.epc\n3: c.pat\n4: d.epc\n");
  SetSampleLimit(kMaxSetSampleBytes);
  ASSERT_EQ(nLoaded, 1);
  // The patch converts to 2000 bytes: past the limit after two EPCs, which
  // leaves room for the third (on two threads the order of the takes may
  // vary, so only the totals are certain).
  EXPECT_EQ(list.loaded.size() + list.failed.size(), 4u);
  EXPECT_GE(list.failed.size(), 1u);
  size_t nHeld = 0;
  for (int i = 0; i < 4; i++)
    nHeld += aInstrument[i].hData != nullptr ? size_t(aInstrument[i].nDataSize) : 0;
  EXPECT_LE(nHeld, 3000u);
  EXPECT_GT(nHeld, 0u);
}

TEST_F(SetFilesTest, EpcDataIsMappedFromItsFile) {
  WriteSample("m.epc", testsupport::MakeEpc({}, Ramp(3000)));
  ASSERT_EQ(LoadConfig("1: m.epc, T1\n"), 1); // program 0 bank 0: stays locked
  ASSERT_NE(aInstrument[0].pData, nullptr);
  EXPECT_EQ(MappedFileAt(aInstrument[0].pData),
            std::filesystem::canonical(SetPath("m.epc")).string());
}

// Data ending a page, one sample or the whole slack short of it, or just
// past it: the voices read the same bytes, the slack zeros included, from
// the mapping as from a copy.
TEST_F(SetFilesTest, MappedEpcReadsAsItsCopyWithZeroSlack) {
  const int nPage = int(sysconf(_SC_PAGESIZE));
  testsupport::EpcFields f;
  f.nEnd = 40;
  f.bLoop = 1;
  for (const int nDataBytes :
       {nPage - kEpcHeaderBytes, nPage - kEpcHeaderBytes - 2, nPage - 2 * kEpcHeaderBytes,
        nPage - 2 * kEpcHeaderBytes - 2, 2 * nPage - kEpcHeaderBytes + 2, 0}) {
    SCOPED_TRACE(nDataBytes);
    const testsupport::Bytes epc = testsupport::MakeEpc(f, Ramp(nDataBytes / 2, -3000, 3));
    WriteSample("s.epc", epc);
    ASSERT_EQ(LoadConfig("1: s.epc, T1\n"), 1);
    Instrument &copy = aInstrument[1];
    copy.bLockOnUse = 0;
    ASSERT_EQ(ParseEpcSample(copy, epc.data(), epc.size()), 1);
    const Instrument &mapped = aInstrument[0];
    ASSERT_NE(mapped.pData, nullptr);
    EXPECT_EQ(std::memcmp(&mapped, &copy, kEpcHeaderBytes), 0);
    ASSERT_EQ(mapped.nDataSize, nDataBytes);
    EXPECT_EQ(std::memcmp(mapped.pData, copy.pData, size_t(nDataBytes + kBlockSlack)), 0);
    for (int i = 0; i < kBlockSlack; i++)
      EXPECT_EQ(mapped.pData[nDataBytes + i], 0);
    RemoveCFG();
  }
}

TEST_F(SetFilesTest, EpcShorterThanItsHeaderSaysIsRefused) {
  WriteSample("short.epc", testsupport::MakeEpc({}, Ramp(100), 202));
  WriteSample("ok.epc", testsupport::MakeEpc({}, Ramp(100)));
  ASSERT_EQ(LoadConfig("1: short.epc\n2: ok.epc\n"), 1);
  EXPECT_EQ(list.failed, std::vector<std::string>{SetPath("short.epc")});
  EXPECT_EQ(aInstrument[0].hData, nullptr);
  EXPECT_NE(aInstrument[1].hData, nullptr);
}
