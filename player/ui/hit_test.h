// Which panel element lies under a client point.
#pragma once

#include <cstdint>

// Element kinds, the low 16 bits of an element code; the index sits above.
enum : int32_t {
  kElemLamp = 0x01,     // channel lamp, index = MIDI channel 0..15
  kElemSlotBtn1 = 0x02, // a slot row's four small buttons, index = slot
  kElemSlotBtn2 = 0x04,
  kElemSlotBtn3 = 0x08,
  kElemSlotBtn4 = 0x10,
  kElemSlotLamp = 0x20, // a slot row's on/off lamp
  kElemButton = 0x40,   // button row 1 (index 0..9) and row 2 (10..19)
};

constexpr int32_t ElementCode(int32_t nIndex, int32_t nKind) {
  return static_cast<int32_t>(static_cast<uint32_t>(nIndex) << 16) | nKind;
}
constexpr int32_t ElementKind(int32_t nCode) {
  return nCode & 0xFFFF;
}
constexpr int32_t ElementIndex(int32_t nCode) {
  return nCode >> 16;
}

// (index << 16) | kind for the element at client point (x, y), 0 for the
// background. Points outside the panel still map by the same divisions
// (truncating toward zero), as a captured release may lie outside it.
int32_t HitTestPanel(int32_t x, int32_t y);
