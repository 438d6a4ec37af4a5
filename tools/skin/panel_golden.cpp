// Draws every panel scene (panel_scenes.h) and writes their digests, or checks
// them; optionally writes each picture as a BMP to look at.
//   panel_golden --write FILE [--images DIR]
//   panel_golden --check FILE
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/skin/panel_scenes.h"

namespace {

void WriteBmp(const std::string &sPath, const PanelImage &img) {
  const int32_t nStride = (img.nWidth * 3 + 3) & ~3;
  const uint32_t nData = static_cast<uint32_t>(nStride * img.nHeight);
  std::vector<uint8_t> b(54 + nData, 0);
  auto Put32 = [&b](size_t at, uint32_t v) {
    for (int32_t i = 0; i < 4; ++i)
      b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  Put32(2, 54 + nData);
  Put32(10, 54);
  Put32(14, 40);
  Put32(18, static_cast<uint32_t>(img.nWidth));
  Put32(22, static_cast<uint32_t>(img.nHeight));
  b[26] = 1;
  b[28] = 24;
  for (int32_t y = 0; y < img.nHeight; ++y)
    for (int32_t x = 0; x < img.nWidth; ++x) {
      const uint32_t p = img.At(x, y);
      uint8_t *q = &b[54 + static_cast<size_t>((img.nHeight - 1 - y) * nStride + x * 3)];
      q[0] = static_cast<uint8_t>(p);
      q[1] = static_cast<uint8_t>(p >> 8);
      q[2] = static_cast<uint8_t>(p >> 16);
    }
  FILE *f = std::fopen(sPath.c_str(), "wb");
  if (f) {
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  }
}

} // namespace

int main(int argc, char **argv) {
  std::string sWrite, sCheck, sImages;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--write"))
      sWrite = argv[i + 1];
    else if (!std::strcmp(argv[i], "--check"))
      sCheck = argv[i + 1];
    else if (!std::strcmp(argv[i], "--images"))
      sImages = argv[i + 1];
  }
  if (sWrite.empty() == sCheck.empty()) {
    std::fprintf(stderr, "usage: panel_golden --write FILE [--images DIR] | --check FILE\n");
    return 2;
  }
  std::map<std::string, std::string> expected;
  if (!sCheck.empty())
    expected = ReadPanelDigests(sCheck.c_str());
  std::string sOut = "# name digest (FNV-1a of the panel's pixels); written by panel_golden\n";
  int32_t nFailed = 0;
  for (int32_t i = 0; i < nPanelSceneCount; ++i) {
    const PanelScene &scene = aPanelScenes[i];
    const PanelImage &img = RenderPanelScene(scene);
    char szDigest[32];
    std::snprintf(szDigest, sizeof szDigest, "%016" PRIx64, PanelImageDigest(img));
    sOut += std::string(scene.szName) + " " + szDigest + "\n";
    if (!sImages.empty())
      WriteBmp(sImages + "/" + scene.szName + ".bmp", img);
    if (!sCheck.empty() && expected[scene.szName] != szDigest) {
      std::printf("%s: %s, expected %s (%s)\n", scene.szName, szDigest,
                  expected[scene.szName].c_str(), scene.szFact);
      ++nFailed;
    }
  }
  if (!sWrite.empty()) {
    FILE *f = std::fopen(sWrite.c_str(), "w");
    if (!f || std::fputs(sOut.c_str(), f) < 0 || std::fclose(f) != 0)
      return 1;
  }
  return nFailed ? 1 : 0;
}
