// Routing to units: which slots get what, the player's own reset sequences and
// the channel shadow the mixer reads.
#include <gtest/gtest.h>

#include "capture_unit.h"
#include "player/render/effects.h"
#include "player/song/routing.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

namespace {

class RoutingTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSongTestState(); }
};

std::vector<std::string> Sent(int32_t nSlot) {
  std::vector<std::string> as;
  for (const CapturedMessage &message : gCaptured)
    if (message.nSlot == nSlot) {
      EXPECT_EQ(message.nSource, -1);
      as.push_back(Hex(message.ab));
    }
  return as;
}

std::vector<std::string> ChannelResets(int ch, bool bProgram) {
  char sz[32];
  std::vector<std::string> as;
  std::snprintf(sz, sizeof sz, "03 00 B%X 0A 3F", ch);
  as.push_back(sz);
  std::snprintf(sz, sizeof sz, "03 00 B%X 79 00", ch);
  as.push_back(sz);
  std::snprintf(sz, sizeof sz, "03 00 B%X 7B 00", ch);
  as.push_back(sz);
  if (bProgram) {
    std::snprintf(sz, sizeof sz, "02 00 C%X 00", ch);
    as.push_back(sz);
  }
  std::snprintf(sz, sizeof sz, "03 00 B%X 07 64", ch);
  as.push_back(sz);
  return as;
}

TEST_F(RoutingTest, ResetSequenceGoesToEveryLoadedSlotInOrder) {
  InstallCaptureUnit(2, 0); // loaded but switched off still gets resets
  InstallCaptureUnit(5, 1);
  aUnitSlots[6].bActive = 1; // active flag without a library: nothing
  SendResetSequence();
  std::vector<std::string> asExpected;
  for (int ch = 0; ch < 16; ++ch) {
    const auto as = ChannelResets(ch, true);
    asExpected.insert(asExpected.end(), as.begin(), as.end());
  }
  EXPECT_EQ(Sent(2), asExpected);
  EXPECT_EQ(Sent(5), asExpected);
  ASSERT_EQ(gCaptured.size(), 160u);
  EXPECT_EQ(gCaptured[79].nSlot, 2); // slot 2 is served completely first
  EXPECT_EQ(gCaptured[80].nSlot, 5);
}

TEST_F(RoutingTest, SoundTestSendsItsNoteOnEveryChannelIndex) {
  InstallCaptureUnit(0, 1);
  for (int ch : {0, 9, 10, 15}) {
    gCaptured.clear();
    SendSoundTestMessages(81, 3, 200, ch); // the key byte goes out unchanged
    std::vector<std::string> asExpected;
    for (int n = 0; n < 16; ++n) {
      const auto as = ChannelResets(n, false);
      asExpected.insert(asExpected.end(), as.begin(), as.end());
    }
    char sz[32];
    std::snprintf(sz, sizeof sz, "03 00 B%X 00 00", ch);
    asExpected.push_back(sz);
    std::snprintf(sz, sizeof sz, "03 00 B%X 20 03", ch);
    asExpected.push_back(sz);
    std::snprintf(sz, sizeof sz, "02 00 C%X 51", ch);
    asExpected.push_back(sz);
    std::snprintf(sz, sizeof sz, "03 00 9%X C8 78", ch);
    asExpected.push_back(sz);
    EXPECT_EQ(Sent(0), asExpected) << "channel index " << ch;
  }
}

TEST_F(RoutingTest, AllNotesOffAndRecipients) {
  InstallCaptureUnit(1, 0);
  InstallCaptureUnit(3, 1);
  SendAllNotesOff();
  EXPECT_EQ(Sent(1).size(), 16u);
  EXPECT_EQ(Sent(3).size(), 16u);
  EXPECT_EQ(Sent(3)[15], "03 00 BF 7B 00");

  gCaptured.clear();
  const uint8_t abNote[5] = {3, 0, 0x90, 60, 100};
  SendToUnits(abNote, 7, kToActive);
  SendToUnits(abNote, 7, kToLoaded);
  ASSERT_EQ(gCaptured.size(), 3u);
  EXPECT_EQ(gCaptured[0].nSlot, 3);
  EXPECT_EQ(gCaptured[1].nSlot, 1);
  EXPECT_EQ(gCaptured[2].nSlot, 3);
  EXPECT_EQ(gCaptured[0].nSource, 7);

  ResetSongTestState(); // no unit at all: nothing is called
  SendToUnits(abNote, 7, kToLoaded);
  SendAllNotesOff();
  SendResetSequence();
  EXPECT_TRUE(gCaptured.empty());
}

TEST_F(RoutingTest, ControllerShadowAndChannelReset) {
  aChannels[4].bMute = 1;
  nMasterGain = 5;
  ApplyControlChange(4, 10, 0);
  ApplyControlChange(4, 91, 127);
  ApplyControlChange(4, 93, 77);
  ApplyControlChange(4, 121, 0); // reset all controllers: only forwarded
  EXPECT_EQ(aChannels[4].nPan, 0);
  EXPECT_EQ(aChannels[4].nReverbSendSq, 16129);
  EXPECT_EQ(aChannels[4].nChorusSend, 77);
  ResetChannels();
  for (const ChannelState &channel : aChannels) {
    EXPECT_EQ(channel.nPan, 63);
    EXPECT_EQ(channel.nReverbSendSq, 1600);
    EXPECT_EQ(channel.nChorusSend, 0);
  }
  EXPECT_EQ(aChannels[4].bMute, 1); // the user's mute survives
  EXPECT_EQ(nMasterGain, 127);
}

// The taps are the 3D engine's; pan must reach them, from a controller too.
TEST_F(RoutingTest, PanSetsTheThreeDTaps) {
  ConnectRenderHooks();
  n3DTapUnit = 266;
  aChannels[0].nPan = 0;
  UpdateChannelPan(0);
  EXPECT_EQ(aChannels[0].n3DTapL, 266);
  EXPECT_EQ(aChannels[0].n3DTapR, 33 * 266 / 160);
  ApplyControlChange(0, 10, 127);
  EXPECT_EQ(aChannels[0].n3DTapL, 33 * 266 / 160);
  EXPECT_EQ(aChannels[0].n3DTapR, 266);
}

} // namespace
