#include "player/ui/panel_bitmaps.h"

#include <string>

#include "player/ui/panel_compositor.h"
#include "player/ui/panel_state.h"
#include "player/ui/skin_bitmap.h"
#include "tools/skin/builtin_images.h"

const char *const aszSkinFile[kPanelBitmapCount] = {
    "Warn.bmp",  "G-LED.bmp", "7Seg.bmp",  "Lump.bmp", "LVM.bmp", "INPANE.bmp", "Type2.bmp",
    "Type3.bmp", "Menu1.bmp", "Menu2.bmp", "Vol.bmp",  "Bar.bmp", "Help.bmp"};

PanelImage aPanelBitmap[kPanelBitmapCount];
PanelImage imgHelp;
PanelImage imgEmblem;

namespace {

constexpr int32_t kEmblemWidth = 128;
constexpr int32_t kEmblemHeight = 47;

// A fixed-size copy of a bitmap, black where the bitmap is smaller.
PanelImage FixedCopy(const PanelImage &src, int32_t nWidth, int32_t nHeight) {
  PanelImage img;
  ResizeImage(img, nWidth, nHeight, 0);
  CopyCell(img, 0, 0, src, 0, 0, nWidth, nHeight);
  return img;
}

} // namespace

int32_t LoadPanelBitmaps(const char *szProgramDir) {
  int32_t bComplete = 1;
  for (int32_t i = 0; i < kPanelBitmapCount; ++i) {
    const std::string sPath = std::string(szProgramDir) + "/" + aszSkinFile[i];
    if (LoadSkinBitmap(sPath.c_str(), aPanelBitmap[i], i == kBmpPanel))
      continue;
    const BuiltinImage *pBuiltin = FindBuiltinImage(aszSkinFile[i]);
    if (!pBuiltin || !DecodeBmp(pBuiltin->pData, pBuiltin->nSize, aPanelBitmap[i])) {
      aPanelBitmap[i] = PanelImage{};
      bComplete = 0;
    }
  }
  const PanelImage &help = aPanelBitmap[kBmpHelp];
  nHelpHeight = help.nHeight;
  imgHelp = FixedCopy(help, kScreenWidth, help.nHeight);
  imgEmblem = FixedCopy(aPanelBitmap[kBmpType3], kEmblemWidth, kEmblemHeight);
  return bComplete;
}
