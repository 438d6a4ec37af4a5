// The block mix's vector loops against the plain arithmetic they stand for:
// random rows and sends of every kind, extremes included, every run length
// of a block; the eight-frame forms where the processor has AVX2.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/row_mix.h"

#if defined(__SSE2__)

namespace {

struct alignas(32) Row {
  int32_t an[kBlockFrames];
};

struct Sums {
  std::vector<int32_t> anMixL, anMixR, anRevL, anRevR, anChoL, anChoR;
  explicit Sums(size_t n) : anMixL(n), anMixR(n), anRevL(n), anRevR(n), anChoL(n), anChoR(n) {}
};

// What each frame's sums are, channel by channel, as the sample path adds them.
Sums Reference(const RowSources &sources, int32_t n) {
  Sums s(static_cast<size_t>(n));
  for (int32_t nKind = 0; nKind < kRowKinds; ++nKind) {
    for (int32_t k = 0; k < sources.an[nKind]; ++k) {
      const RowSource &src = sources.aa[nKind][k];
      for (int32_t i = 0; i < n; ++i) {
        const int32_t nL = src.pL[i], nR = src.pR[i];
        s.anMixL[i] = WrapAdd(s.anMixL[i], nL);
        s.anMixR[i] = WrapAdd(s.anMixR[i], nR);
        if (src.nRev != 0) {
          s.anRevL[i] = WrapAdd(s.anRevL[i], MulDiv(nL, src.nRev, kReverbSendDiv));
          s.anRevR[i] = WrapAdd(s.anRevR[i], MulDiv(nR, src.nRev, kReverbSendDiv));
        }
        if (src.nCho != 0) {
          s.anChoL[i] = WrapAdd(s.anChoL[i], MulDiv(nL, src.nCho, kChorusSendDiv));
          s.anChoR[i] = WrapAdd(s.anChoR[i], MulDiv(nR, src.nCho, kChorusSendDiv));
        }
      }
    }
  }
  return s;
}

// Sends and values as each kind's loop may meet them: narrow kinds within
// 16 bits, wide kinds anything (32-bit extremes often).
struct Maker {
  std::mt19937 rng{12345};
  int32_t Value(bool bNarrow) {
    const uint32_t r = rng();
    if (bNarrow)
      return static_cast<int16_t>(r % 7 == 0 ? (r & 1 ? INT16_MAX : INT16_MIN) : r);
    switch (r % 6) {
    case 0:
      return INT32_MIN;
    case 1:
      return INT32_MAX;
    case 2:
      return static_cast<int16_t>(rng());
    default:
      return static_cast<int32_t>(rng());
    }
  }
  int32_t Send(bool bNarrow) {
    const uint32_t r = rng();
    if (bNarrow)
      return 1 + static_cast<int32_t>(r % INT16_MAX);
    return r % 3 == 0 ? INT32_MAX : 1 + static_cast<int32_t>(rng() % INT32_MAX);
  }
};

TEST(RowMixTest, VectorMixesAreTheChannelLoop) {
  Maker make;
  std::vector<Row> aRows(32);
  for (int32_t nRound = 0; nRound < 300; ++nRound) {
    const int32_t n =
        nRound < 16 ? nRound + 1 : 1 + static_cast<int32_t>(make.rng() % kBlockFrames);
    RowSources sources{};
    int32_t nRow = 0;
    for (int32_t nKind = 0; nKind < kRowKinds && nRow < 32; ++nKind) {
      const bool bNarrow = nKind <= kNarrowBoth;
      const bool bRev =
          nKind == kNarrowRev || nKind == kNarrowBoth || nKind == kWideRev || nKind == kWideBoth;
      const bool bCho =
          nKind == kNarrowCho || nKind == kNarrowBoth || nKind == kWideCho || nKind == kWideBoth;
      for (int32_t k = static_cast<int32_t>(make.rng() % 3); k > 0 && nRow < 32; --k) {
        Row &l = aRows[static_cast<size_t>(nRow++)];
        Row &r = aRows[static_cast<size_t>(nRow++)];
        std::fill(std::begin(l.an), std::end(l.an), 0); // zero past n, as the host keeps them
        std::fill(std::begin(r.an), std::end(r.an), 0);
        for (int32_t i = 0; i < n; ++i) {
          l.an[i] = make.Value(bNarrow);
          r.an[i] = make.Value(bNarrow);
        }
        sources.aa[nKind][sources.an[nKind]++] = {l.an, r.an, bRev ? make.Send(bNarrow) : 0,
                                                  bCho ? make.Send(bNarrow) : 0};
      }
    }
    const Sums want = Reference(sources, n);
    const auto Check = [&](void (*pfnMix)(const RowSources &, RowMix &, int32_t),
                           const char *pszName) {
      Row aOut[6];
      RowMix m{aOut[0].an, aOut[1].an, aOut[2].an, aOut[3].an,
               aOut[4].an, aOut[5].an, false,      false};
      pfnMix(sources, m, n);
      const std::vector<int32_t> *apWant[6] = {&want.anMixL, &want.anMixR, &want.anRevL,
                                               &want.anRevR, &want.anChoL, &want.anChoR};
      for (int32_t j = 0; j < 6; ++j) {
        ASSERT_EQ(std::memcmp(aOut[j].an, apWant[j]->data(), sizeof(int32_t) * size_t(n)), 0)
            << pszName << " sum " << j << " round " << nRound << " n " << n;
      }
    };
    Check(MixSources, "four");
#if defined(TORQA_WIDE_MIX)
    if (bWideMix)
      Check(MixSourcesWide, "eight");
#endif
  }
}

TEST(RowMixTest, VectorFinishesAreGainAndSaturation) {
  Maker make;
  Row l, r;
  for (int32_t nRound = 0; nRound < 200; ++nRound) {
    const int32_t nGain = nRound < 2 ? nRound * kMaxVectorGain : int32_t(make.rng() % 128);
    const int32_t n = 1 + static_cast<int32_t>(make.rng() % kBlockFrames);
    for (int32_t i = 0; i < n; ++i) {
      l.an[i] = make.Value(make.rng() & 1);
      r.an[i] = make.Value(make.rng() & 1);
    }
    std::vector<uint8_t> want(4 * size_t(n));
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t c = 0; c < 2; ++c) {
        const int32_t v =
            std::clamp(MulDiv((c ? r : l).an[i], nGain, kMasterGainDiv), -32768, 32767);
        want[4 * size_t(i) + 2 * size_t(c)] = uint8_t(v);
        want[4 * size_t(i) + 2 * size_t(c) + 1] = uint8_t(v >> 8);
      }
    }
    std::vector<uint8_t> got(4 * size_t(n) + 32, 0xee);
    const int32_t nFours = FinishRecordFrames(got.data(), l.an, r.an, n, nGain);
    EXPECT_EQ(nFours, n & ~3);
    EXPECT_EQ(std::memcmp(got.data(), want.data(), 4 * size_t(nFours)), 0) << nRound;
    EXPECT_EQ(got[4 * size_t(nFours)], 0xee); // nothing past the frames done
#if defined(TORQA_WIDE_MIX)
    if (bWideMix) {
      // From an odd frame: the wide loads take any alignment.
      std::fill(got.begin(), got.end(), 0xee);
      const int32_t nEights = FinishRecordFramesWide(got.data(), l.an + 1, r.an + 1, n - 1, nGain);
      EXPECT_EQ(nEights, (n - 1) & ~7);
      EXPECT_EQ(std::memcmp(got.data(), want.data() + 4, 4 * size_t(nEights)), 0) << nRound;
      EXPECT_EQ(got[4 * size_t(nEights)], 0xee);
    }
#endif
  }
}

} // namespace

#endif
