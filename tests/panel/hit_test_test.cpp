// Every element code of the panel, at the edges of its area.
#include <gtest/gtest.h>

#include "player/ui/hit_test.h"

namespace {

int32_t Code(int32_t nIndex, int32_t nKind) {
  return (nIndex << 16) | nKind;
}

TEST(HitTestPanel, ChannelLampsSpan62To189OnTheTopArea) {
  EXPECT_EQ(HitTestPanel(62, 0), Code(0, 1));
  EXPECT_EQ(HitTestPanel(69, 79), Code(0, 1));
  EXPECT_EQ(HitTestPanel(70, 40), Code(1, 1));
  EXPECT_EQ(HitTestPanel(189, 5), Code(15, 1));
  EXPECT_EQ(HitTestPanel(190, 5), 0); // would be lamp 16
  EXPECT_EQ(HitTestPanel(61, 5), 0);
}

TEST(HitTestPanel, FirstButtonRowIsEight21PixelButtonsThenSpeedAndKnob) {
  EXPECT_EQ(HitTestPanel(0, 80), Code(0, 0x40));
  EXPECT_EQ(HitTestPanel(20, 99), Code(0, 0x40));
  EXPECT_EQ(HitTestPanel(21, 90), Code(1, 0x40));
  EXPECT_EQ(HitTestPanel(167, 90), Code(7, 0x40));
  EXPECT_EQ(HitTestPanel(168, 90), Code(8, 0x40));
  EXPECT_EQ(HitTestPanel(178, 90), Code(8, 0x40));
  EXPECT_EQ(HitTestPanel(179, 90), Code(9, 0x40));
  EXPECT_EQ(HitTestPanel(199, 90), Code(9, 0x40));
}

TEST(HitTestPanel, SecondButtonRowCountsFromTen) {
  EXPECT_EQ(HitTestPanel(0, 260), Code(10, 0x40));
  EXPECT_EQ(HitTestPanel(104, 279), Code(14, 0x40));
  EXPECT_EQ(HitTestPanel(105, 270), Code(15, 0x40));
  EXPECT_EQ(HitTestPanel(199, 270), Code(19, 0x40));
  EXPECT_EQ(HitTestPanel(100, 280), 0);
}

TEST(HitTestPanel, SlotRowSmallButtonsSitInTheLowerHalf) {
  const int32_t anLeft[4] = {24, 54, 84, 114};
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(HitTestPanel(anLeft[i], 110), Code(0, 2 << i)) << i;
    EXPECT_EQ(HitTestPanel(anLeft[i] + 20, 259), Code(7, 2 << i)) << i;
    EXPECT_EQ(HitTestPanel(anLeft[i] - 1, 110), 0) << i;
    EXPECT_EQ(HitTestPanel(anLeft[i], 109), 0) << i; // upper half: the name
  }
  EXPECT_EQ(HitTestPanel(135, 110), 0);
}

TEST(HitTestPanel, SlotLampIsColumns1To22BelowTheRowsFirstLine) {
  EXPECT_EQ(HitTestPanel(1, 101), Code(0, 0x20));
  EXPECT_EQ(HitTestPanel(22, 119), Code(0, 0x20));
  EXPECT_EQ(HitTestPanel(10, 245), Code(7, 0x20));
  EXPECT_EQ(HitTestPanel(0, 105), 0);
  EXPECT_EQ(HitTestPanel(23, 105), 0);
  EXPECT_EQ(HitTestPanel(10, 100), 0); // v = 0
}

TEST(HitTestPanel, TopLeftAreaAndAPointLeftAndAboveAreBackground) {
  EXPECT_EQ(HitTestPanel(30, 40), 0);
  EXPECT_EQ(HitTestPanel(-1, -1), 0);
}

} // namespace
