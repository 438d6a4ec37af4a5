#include "player/ui/hit_test.h"

namespace {

// The four small buttons of a slot row span these x ranges in its lower half.
constexpr int32_t kSlotButtonLeft[4] = {24, 54, 84, 114};
constexpr int32_t kSlotButtonWidth = 20; // inclusive right edge = left + 20

int32_t HitSlotRow(int32_t x, int32_t r, int32_t v) {
  if (v >= 10 && v < 20)
    for (int32_t i = 0; i < 4; ++i)
      if (x >= kSlotButtonLeft[i] && x <= kSlotButtonLeft[i] + kSlotButtonWidth)
        return ElementCode(r, kElemSlotBtn1 << i);
  if (x >= 1 && x <= 22 && v >= 1 && v <= 21)
    return ElementCode(r, kElemSlotLamp);
  return 0;
}

} // namespace

int32_t HitTestPanel(int32_t x, int32_t y) {
  if (x < 0 && y < 0)
    return 0;
  if (y < 80) {
    const int32_t ch = (x - 62) / 8;
    return x >= 62 && ch <= 15 ? ElementCode(ch, kElemLamp) : 0;
  }
  if (y < 100) {
    const int32_t nIndex = x < 168 ? x / 21 : x < 179 ? 8 : 9;
    return ElementCode(nIndex, kElemButton);
  }
  if (y < 260)
    return HitSlotRow(x, (y - 100) / 20, (y - 100) % 20);
  if (y < 280)
    return ElementCode(x / 21 + 10, kElemButton);
  return 0;
}
