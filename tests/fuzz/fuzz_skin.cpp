// Skin bitmaps: whatever decodes is a picture of its stated size with
// 24-bit pixels, and drawing from it at any offset stays inside the images.
#include "fuzz_check.h"
#include "player/ui/panel_compositor.h"
#include "player/ui/skin_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  PanelImage img;
  img.nWidth = -1; // a refused file leaves the image untouched
  if (!DecodeBmp(pData, nSize, img)) {
    FUZZ_CHECK(img.nWidth == -1 && img.aPixel.empty());
    return 0;
  }
  FUZZ_CHECK(img.nWidth > 0 && img.nHeight > 0);
  FUZZ_CHECK(img.aPixel.size() == static_cast<size_t>(img.nWidth) * img.nHeight);
  uint32_t nAll = 0;
  for (uint32_t p : img.aPixel)
    nAll |= p;
  FUZZ_CHECK(nAll <= 0xFFFFFF);
  // Cells taken from the picture's far corner onto a screen-sized image.
  PanelImage screen;
  ResizeImage(screen, 144, 63, 0);
  const int32_t x = img.nWidth - 8, y = img.nHeight - 9;
  CopyCell(screen, -3, 60, img, x, y, 21, 20);
  BlendBox(screen, img, 70, 140, -5, x, y, 144, 63);
  ScaleBox(screen, 46, 0x010203, 12, 12, 128, 47);
  ShadeBox(screen, 72, 13);
  return 0;
}
