// Dialog units to pixels, for the player's dialogs and the sound unit's. The
// templates are laid out for the 9-point "ＭＳ Ｐゴシック", whose dialog base
// units are 7 × 12 pixels (average character width, height) at 96 dpi; a
// dialog unit is a quarter of the first and an eighth of the second. At this
// scale the About box (131 × 153 units) holds its 227 × 227 picture.
#pragma once

constexpr int kDialogFontPixels = 12; // 9 point at 96 dpi
constexpr int DluX(int n) {
  return n * 7 / 4;
}
constexpr int DluY(int n) {
  return n * 12 / 8;
}
