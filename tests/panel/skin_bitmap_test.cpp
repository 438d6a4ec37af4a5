// Skin bitmaps: the decoder against files ImageMagick wrote from known
// pictures, and the skin loader's header and colour rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/ui/panel_bitmaps.h"
#include "player/ui/panel_state.h"
#include "player/ui/skin_bitmap.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string DataPath(const char *szName) {
  return std::string(TORQA_PANEL_DATA) + "/" + szName;
}

Bytes ReadBytes(const std::string &sPath) {
  std::ifstream in(sPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// An ASCII (P3) picture as panel pixels.
PanelImage ReadPpm(const char *szName) {
  std::ifstream in(DataPath(szName));
  std::string sMagic;
  int32_t w = 0, h = 0, nMax = 0;
  in >> sMagic >> w >> h >> nMax;
  PanelImage img;
  ResizeImage(img, w, h, 0);
  for (uint32_t &p : img.aPixel) {
    uint32_t r = 0, g = 0, b = 0;
    in >> r >> g >> b;
    p = PanelRgb(r, g, b);
  }
  return img;
}

void ExpectDecodesTo(const char *szBmp, const char *szPpm) {
  const Bytes file = ReadBytes(DataPath(szBmp));
  PanelImage img;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), img), 1) << szBmp;
  const PanelImage ref = ReadPpm(szPpm);
  EXPECT_EQ(img.nWidth, ref.nWidth);
  EXPECT_EQ(img.nHeight, ref.nHeight);
  EXPECT_EQ(img.aPixel, ref.aPixel) << szBmp;
}

TEST(DecodeBmp, OneBit) {
  ExpectDecodesTo("bits1.bmp", "ref2.ppm");
}
TEST(DecodeBmp, FourBits) {
  ExpectDecodesTo("bits4.bmp", "ref16.ppm");
}
TEST(DecodeBmp, EightBits) {
  ExpectDecodesTo("bits8.bmp", "ref20.ppm");
}
TEST(DecodeBmp, EightBitsRunLength) {
  ExpectDecodesTo("rle8.bmp", "ref20.ppm");
}
TEST(DecodeBmp, TwentyFourBits) {
  ExpectDecodesTo("bits24.bmp", "ref20.ppm");
}
TEST(DecodeBmp, ThirtyTwoBitsWithMasksAndAVersion5Header) {
  ExpectDecodesTo("bits32.bmp", "ref20.ppm");
}

// The 24-bit file with its rows reversed and a negative height.
Bytes TopDown(const Bytes &bottomUp) {
  Bytes b = bottomUp;
  const int32_t w = 13, h = 5, nStride = (w * 3 + 3) & ~3, nOff = b[10];
  for (int32_t y = 0; y < h; ++y)
    std::copy_n(&bottomUp[nOff + (h - 1 - y) * nStride], nStride, &b[nOff + y * nStride]);
  const uint32_t nHeight = static_cast<uint32_t>(-h);
  for (int32_t i = 0; i < 4; ++i)
    b[22 + i] = static_cast<uint8_t>(nHeight >> (8 * i));
  return b;
}

TEST(DecodeBmp, TopDownRowsComeFirst) {
  const Bytes b = TopDown(ReadBytes(DataPath("bits24.bmp")));
  PanelImage img;
  ASSERT_EQ(DecodeBmp(b.data(), b.size(), img), 1);
  EXPECT_EQ(img.aPixel, ReadPpm("ref20.ppm").aPixel);
}

TEST(DecodeBmp, TruncatedPixelsAreRefused) {
  Bytes b = ReadBytes(DataPath("bits24.bmp"));
  b.resize(b.size() - 1);
  PanelImage img;
  EXPECT_EQ(DecodeBmp(b.data(), b.size(), img), 0);
}

class SkinFile : public ::testing::Test {
protected:
  std::string sPath = ::testing::TempDir() + "skin_test.bmp";
  void SetUp() override { ResetPanelState(); }
  void TearDown() override { std::remove(sPath.c_str()); }
  void Write(const Bytes &b) {
    std::ofstream(sPath, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
  }
};

// A 24-bit panel skin of 4 x nRows: row 120 red, row 121 white, black, blue, green.
Bytes PanelSkin(int32_t nRows) {
  const int32_t nStride = 12;
  Bytes b(54 + static_cast<size_t>(nStride * nRows), 0);
  auto Put32 = [&b](size_t at, uint32_t v) {
    for (int32_t i = 0; i < 4; ++i)
      b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  Put32(2, static_cast<uint32_t>(b.size()));
  Put32(10, 54);
  Put32(14, 40);
  Put32(18, 4);
  Put32(22, static_cast<uint32_t>(nRows));
  b[26] = 1, b[28] = 24;
  auto Pixel = [&](int32_t x, int32_t y, uint32_t rgb) { // y from the top
    uint8_t *p = &b[54 + static_cast<size_t>((nRows - 1 - y) * nStride + 3 * x)];
    p[0] = static_cast<uint8_t>(rgb), p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb >> 16);
  };
  if (nRows > 120)
    Pixel(0, 120, 0xFF0000);
  if (nRows > 121) {
    Pixel(0, 121, 0xFFFFFF);
    Pixel(2, 121, 0x0000FF);
    Pixel(3, 121, 0x00FF00);
  }
  return b;
}

TEST_F(SkinFile, ColoursFromA122RowPanel) {
  Write(PanelSkin(122));
  PanelImage img;
  ASSERT_EQ(LoadSkinBitmap(sPath.c_str(), img, 1), 1);
  EXPECT_EQ(crText, 0xFF0000u);
  EXPECT_EQ(crGraphSwitch, 0xFFFFFFu);
  EXPECT_EQ(crGraphSource, 0u); // black: the graph plots the level sum
  EXPECT_EQ(crGraphBack, 0x0000FFu);
  EXPECT_EQ(crGraphDot, 0x00FF00u);
}

TEST_F(SkinFile, A121RowPanelGivesOnlyTheTextColour) {
  Write(PanelSkin(121));
  PanelImage img;
  ASSERT_EQ(LoadSkinBitmap(sPath.c_str(), img, 1), 1);
  EXPECT_EQ(crText, 0xFF0000u);
  EXPECT_EQ(crGraphSwitch, 0u);
}

TEST_F(SkinFile, NoColoursFromATopDownPanel) {
  Bytes b = PanelSkin(122);
  const uint32_t nHeight = static_cast<uint32_t>(-122);
  for (int32_t i = 0; i < 4; ++i)
    b[22 + i] = static_cast<uint8_t>(nHeight >> (8 * i));
  Write(b);
  PanelImage img;
  ASSERT_EQ(LoadSkinBitmap(sPath.c_str(), img, 1), 1);
  EXPECT_EQ(img.nHeight, 122);
  EXPECT_EQ(crText, 0x40FF60u);
  EXPECT_EQ(crGraphSwitch, 0u);
}

TEST_F(SkinFile, ShorterThanBothHeadersKeepsTheBuiltIn) {
  Bytes b = PanelSkin(122);
  b.resize(53);
  Write(b);
  PanelImage img;
  ResizeImage(img, 2, 2, 7);
  EXPECT_EQ(LoadSkinBitmap(sPath.c_str(), img, 0), 0);
  EXPECT_EQ(img.nWidth, 2);
  EXPECT_EQ(LoadSkinBitmap((sPath + ".missing").c_str(), img, 0), 0);
}

TEST_F(SkinFile, HeadersThatReadButDoNotDecodeLeaveTheElementBlank) {
  Bytes b = PanelSkin(122);
  b.resize(60);
  Write(b);
  PanelImage img;
  ResizeImage(img, 2, 2, 7);
  EXPECT_EQ(LoadSkinBitmap(sPath.c_str(), img, 0), 1);
  EXPECT_EQ(img.nWidth, 0);
  EXPECT_TRUE(img.aPixel.empty());
}

} // namespace

namespace {

class SkinDirectory : public ::testing::Test {
protected:
  std::string sDir = ::testing::TempDir() + "skin_dir_test";
  void SetUp() override {
    std::filesystem::create_directories(sDir);
    ResetPanelState();
  }
  void TearDown() override {
    std::filesystem::remove_all(sDir);
    LoadPanelBitmaps("/nonexistent-skin-dir");
  }
  void Put(const char *szName, const Bytes &b) {
    std::ofstream(sDir + "/" + szName, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
  }
};

TEST_F(SkinDirectory, OnlyTheDigitsFromADirectoryHoldingOnly7Seg) {
  Put("7Seg.bmp", ReadBytes(DataPath("bits24.bmp")));
  ASSERT_EQ(LoadPanelBitmaps(sDir.c_str()), 1);
  EXPECT_EQ(aPanelBitmap[kBmpDigits].aPixel, ReadPpm("ref20.ppm").aPixel);
  EXPECT_EQ(aPanelBitmap[kBmpLed].nWidth, 8); // built-in
  EXPECT_EQ(aPanelBitmap[kBmpHelp].nHeight, 334);
}

TEST_F(SkinDirectory, A400RowHelpSkinSetsTheHelpHeight) {
  Bytes b = PanelSkin(400); // any 400-row picture serves
  Put("Help.bmp", b);
  LoadPanelBitmaps(sDir.c_str());
  EXPECT_EQ(nHelpHeight, 400);
  EXPECT_EQ(imgHelp.nWidth, 144); // a narrower skin is widened with black
  EXPECT_EQ(imgHelp.At(143, 0), 0u);
}

} // namespace
