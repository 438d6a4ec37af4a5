// demo/stress.mid through the real unit and the default sound set: 270 held
// notes against 256 voices. Pins the voice limit (no voice stealing, no 257th
// voice) and that the song keeps every voice busy for 30 seconds, which is
// what the benchmark's stress row relies on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "song_run.h"

namespace {

// The unit reads its settings when it is loaded: keep them in the build tree.
const int kRegistrySet = setenv("TORQA_REGISTRY", GOLDEN_BINARY_DIR "/stress-registry.reg", 1);

constexpr int32_t kRate = 22050; // the voice count does not depend on the rate
constexpr int32_t kBlockBytes = 8192;
constexpr int32_t kVoiceLimit = 256;

TEST(StressSong, AllVoicesBusyForThirtySecondsAndNeverMore) {
  ASSERT_EQ(kRegistrySet, 0);
  const std::string sPlugin = TORQA_PLUGIN_DIR;
  if (!std::filesystem::exists(sPlugin + "/VOKRA/VOKRA.cfg"))
    GTEST_SKIP() << "the default sound set is not built";
  if (!std::filesystem::exists("/usr/share/midi/freepats"))
    GTEST_SKIP() << "freepats is not installed";
  const std::vector<uint8_t> abSong = ReadFileBytes(TORQA_SOURCE_DIR "/demo/stress.mid");
  ASSERT_FALSE(abSong.empty());
  ASSERT_EQ(BindVokraSlot(sPlugin), 1);
  ASSERT_EQ(StartSongRun(abSong, kRate), 1);

  // Sounding voices at the last sample of each block, summed over the channels.
  std::vector<int32_t> anVoices;
  const int64_t nMaxBlocks = int64_t{kRate} * 4 * 60 / kBlockBytes;
  while (bPlaying && static_cast<int64_t>(anVoices.size()) < nMaxBlocks) {
    RenderRecordBlock(kBlockBytes);
    int32_t nSum = 0;
    for (const ChannelState &c : aChannels)
      nSum += c.nLevelOut;
    anVoices.push_back(nSum);
  }
  for (UnitSlot &s : aUnitSlots)
    if (s.hModule)
      s.pfnFreeLockCFG();
  UnbindAllUnits();

  int32_t nMax = 0;
  int64_t nFullBlocks = 0;
  for (int32_t n : anVoices) {
    nMax = std::max(nMax, n);
    nFullBlocks += n == kVoiceLimit;
  }
  EXPECT_EQ(nMax, kVoiceLimit);
  const double dFullSeconds = static_cast<double>(nFullBlocks) * (kBlockBytes / 4) / kRate;
  EXPECT_GE(dFullSeconds, 29.5) << "blocks with all 256 voices sounding";
  EXPECT_LT(dFullSeconds, 31.5);
  // The song ends (its releases fade) instead of running into the block cap.
  EXPECT_EQ(bPlaying, 0);
}

} // namespace
