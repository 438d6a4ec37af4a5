// The reverb and chorus over a run against the per-sample steps they stand
// for: random lines, sends and positions, 16-bit and 32-bit extremes, every
// run length of a block. Whatever a run loop does first, the rest of the run
// stepped sample by sample must give the per-sample result.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/line_runs.h"

namespace {

struct alignas(16) Row {
  int32_t an[kBlockFrames + 4];
};

struct Maker {
  std::mt19937 rng{2024};
  // A send or line value: mostly 16-bit, often an extreme of 16 or 32 bits.
  int32_t Value() {
    const uint32_t r = rng();
    switch (r % 8) {
    case 0:
      return INT32_MIN;
    case 1:
      return INT32_MAX;
    case 2:
      return r & 8 ? INT16_MAX : INT16_MIN;
    case 3:
      return static_cast<int32_t>(rng());
    case 4:
      return 0;
    default:
      return static_cast<int16_t>(rng());
    }
  }
  // Line frames: two 16-bit values each, some of them 0.
  void Fill(std::vector<uint8_t> &ab) {
    for (size_t k = 0; k < ab.size(); k += 4) {
      const uint32_t r = rng();
      const uint32_t nFrame = r % 5 == 0 ? 0 : r * 2654435761u;
      std::memcpy(&ab[k], &nFrame, 4);
    }
  }
  void Fill(Row &row) {
    for (int32_t &v : row.an) {
      v = Value();
    }
  }
  int32_t Pos(int32_t nBytes) {
    return static_cast<int32_t>(rng() % static_cast<uint32_t>(nBytes)) & ~3;
  }
  int32_t Length(int32_t nRound) {
    return nRound < kBlockFrames ? nRound + 1 : 1 + static_cast<int32_t>(rng() % kBlockFrames);
  }
};

struct Reverb {
  std::vector<uint8_t> abLine = std::vector<uint8_t>(kReverbLineBytes);
  int32_t nRead, nWrite, nInL, nInR;
  Row mixL, mixR;
  bool bWritten = false; // a frame written was not 0
};

// The rest of a run from frame i on, sample by sample, as the run loop does.
void ReverbByStep(Reverb &r, int32_t nDelay, const Row &sendL, const Row &sendR, int32_t i,
                  int32_t n) {
  for (; i < n; ++i) {
    ReadLineFrame(r.abLine.data(), r.nWrite, r.nInL, r.nInR);
    r.nInL = WrapAdd(r.nInL, sendL.an[i]);
    r.nInR = WrapAdd(r.nInR, sendR.an[i]);
    int32_t nOutL = 0, nOutR = 0;
    ReverbStep(r.abLine.data(), r.nRead, r.nWrite, nDelay, r.nInL, r.nInR, nOutL, nOutR);
    r.bWritten = r.bWritten || ((r.nInL | r.nInR) & 0xffff) != 0;
    r.mixL.an[i] = WrapAdd(r.mixL.an[i], nOutL);
    r.mixR.an[i] = WrapAdd(r.mixR.an[i], nOutR);
  }
}

void ExpectSame(const Reverb &got, const Reverb &want, int32_t n, int32_t nRound) {
  ASSERT_TRUE(got.abLine == want.abLine) << "round " << nRound << " n " << n;
  ASSERT_EQ(got.nRead, want.nRead) << nRound;
  ASSERT_EQ(got.nWrite, want.nWrite) << nRound;
  ASSERT_EQ(got.nInL, want.nInL) << nRound;
  ASSERT_EQ(got.nInR, want.nInR) << nRound;
  ASSERT_EQ(got.bWritten, want.bWritten) << nRound;
  ASSERT_EQ(std::memcmp(got.mixL.an, want.mixL.an, sizeof got.mixL.an), 0) << nRound;
  ASSERT_EQ(std::memcmp(got.mixR.an, want.mixR.an, sizeof got.mixR.an), 0) << nRound;
}

TEST(LineRunsTest, ReverbRunIsTheSampleSteps) {
  Maker make;
  Row sendL, sendR;
  int32_t nRuns = 0;
  for (int32_t nRound = 0; nRound < kBlockFrames + 400; ++nRound) {
    const int32_t n = make.Length(nRound);
    // The delays of every rate, a frame-aligned delay, and any other.
    const int32_t nDelay = nRound % 3 == 0
                               ? static_cast<int32_t>(make.rng() % kReverbLineBytes)
                               : (5200 + static_cast<int32_t>(make.rng() % 90801)) * 10000 / 88200;
    Reverb want;
    make.Fill(want.abLine);
    make.Fill(want.mixL);
    make.Fill(want.mixR);
    make.Fill(sendL);
    make.Fill(sendR);
    want.nRead = make.Pos(kReverbLineBytes);
    // Mostly where the step leaves it; now and then anywhere.
    want.nWrite =
        nRound % 7 == 0 ? make.Pos(kReverbLineBytes) : (want.nRead + nDelay) & kReverbPosMask;
    want.nInL = make.Value();
    want.nInR = make.Value();
    Reverb got = want;
    uint32_t nWritten = 0;
    const int32_t nDone =
        ReverbSteps(got.abLine.data(), got.nRead, got.nWrite, nDelay, sendL.an, sendR.an,
                    got.mixL.an, got.mixR.an, n, got.nInL, got.nInR, nWritten);
    ASSERT_TRUE(nDone == 0 || nDone == (n & ~3)) << nDone;
    nRuns += nDone > 0;
    got.bWritten = nWritten != 0;
    ReverbByStep(got, nDelay, sendL, sendR, nDone, n);
    ReverbByStep(want, nDelay, sendL, sendR, 0, n);
    ExpectSame(got, want, n, nRound);
  }
#if defined(__SSE2__)
  EXPECT_GT(nRuns, kBlockFrames / 2); // the vector form was heard, not only the fallback
#endif
}

struct Chorus {
  std::vector<uint8_t> abLine = std::vector<uint8_t>(kChorusLineBytes);
  int32_t nRead, nWrite, nInL, nInR, nPhase, nCount;
  Row mixL, mixR;
  bool bWritten = false;
};

// The rest of a run from frame i on, sample by sample, with the sweep; the
// run's rows start nOffset values into the rows.
void ChorusByStep(Chorus &c, const int32_t *pnDelay, int32_t nReload, const Row &inL,
                  const Row &inR, int32_t nOffset, int32_t i, int32_t n) {
  for (; i < n; ++i) {
    ChorusLfoStep(c.nPhase, c.nCount, nReload);
    c.nInL = inL.an[nOffset + i];
    c.nInR = inR.an[nOffset + i];
    c.bWritten = c.bWritten || ((c.nInL | c.nInR) & 0xffff) != 0;
    int32_t nOutL = 0, nOutR = 0;
    ChorusStep(c.abLine.data(), c.nRead, c.nWrite, pnDelay[c.nPhase], c.nInL, c.nInR, nOutL, nOutR);
    c.mixL.an[nOffset + i] = WrapAdd(c.mixL.an[nOffset + i], nOutL);
    c.mixR.an[nOffset + i] = WrapAdd(c.mixR.an[nOffset + i], nOutR);
  }
}

TEST(LineRunsTest, ChorusRunIsTheSampleSteps) {
  Maker make;
  std::vector<int32_t> anDelay(kChorusTableSize);
  Row inL, inR;
  int32_t nRuns = 0;
  for (int32_t nRound = 0; nRound < kBlockFrames + 400; ++nRound) {
    const int32_t n = make.Length(nRound);
    // The sweep's delays, the gaps of 0 to 3 frames (the vector form must
    // refuse 1 to 3), and any other.
    for (int32_t &d : anDelay) {
      const uint32_t r = make.rng();
      d = r % 5 == 0   ? 4 * static_cast<int32_t>(r % 4)
          : r % 5 == 1 ? static_cast<int32_t>(make.rng() % kChorusLineBytes)
                       : 2586 + static_cast<int32_t>(make.rng() % 1341);
    }
    const int32_t nReload = static_cast<int32_t>(make.rng() % 241);
    make.Fill(inL);
    make.Fill(inR);
    Chorus want;
    make.Fill(want.abLine);
    make.Fill(want.mixL);
    make.Fill(want.mixR);
    want.nPhase = static_cast<int32_t>(make.rng() % kChorusTableSize);
    want.nCount = static_cast<int32_t>(make.rng() % static_cast<uint32_t>(nReload + 1));
    want.nWrite = make.Pos(kChorusLineBytes);
    const int32_t nDelay = anDelay[static_cast<size_t>(want.nPhase)];
    want.nRead =
        nRound % 7 == 0 ? make.Pos(kChorusLineBytes) : (want.nWrite - nDelay) & kChorusPosMask;
    want.nInL = make.Value();
    want.nInR = make.Value();
    // A run starts anywhere in a block's rows: any alignment.
    const int32_t nOffset = static_cast<int32_t>(make.rng() % 4);
    Chorus got = want;
    uint32_t nWritten = 0;
    const int32_t nDone =
        ChorusSteps(got.abLine.data(), got.nRead, got.nWrite, nDelay, got.nCount, inL.an + nOffset,
                    inR.an + nOffset, got.mixL.an + nOffset, got.mixR.an + nOffset, n, nWritten);
    ASSERT_EQ(nDone % 4, 0);
    ASSERT_LE(nDone, n);
    if (nDone > 0) {
      got.nInL = inL.an[nOffset + nDone - 1];
      got.nInR = inR.an[nOffset + nDone - 1];
      ++nRuns;
    }
    got.bWritten = nWritten != 0;
    ChorusByStep(got, anDelay.data(), nReload, inL, inR, nOffset, nDone, n);
    ChorusByStep(want, anDelay.data(), nReload, inL, inR, nOffset, 0, n);
    ASSERT_TRUE(got.abLine == want.abLine) << "round " << nRound << " n " << n;
    ASSERT_EQ(got.nRead, want.nRead) << nRound;
    ASSERT_EQ(got.nWrite, want.nWrite) << nRound;
    ASSERT_EQ(got.nInL, want.nInL) << nRound;
    ASSERT_EQ(got.nInR, want.nInR) << nRound;
    ASSERT_EQ(got.nPhase, want.nPhase) << nRound;
    ASSERT_EQ(got.nCount, want.nCount) << nRound;
    ASSERT_EQ(got.bWritten, want.bWritten) << nRound;
    ASSERT_EQ(std::memcmp(got.mixL.an, want.mixL.an, sizeof got.mixL.an), 0) << nRound;
    ASSERT_EQ(std::memcmp(got.mixR.an, want.mixR.an, sizeof got.mixR.an), 0) << nRound;
  }
#if defined(__SSE2__)
  EXPECT_GT(nRuns, kBlockFrames / 4); // the vector form was heard, not only the fallback
#endif
}

} // namespace
