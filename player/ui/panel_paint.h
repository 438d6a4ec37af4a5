// Drawing the panel into the window's pixels: the static parts on a full
// repaint, the values that change on every redraw.
#pragma once

#include <cstdint>

#include "player/ui/panel_image.h"

constexpr int32_t kPanelWidth = 200;
constexpr int32_t kPanelHeight = 280;

extern PanelImage imgWindow; // 200 x 280: what the window shows
extern PanelImage imgScreen; // 144 x 63: the screen, copied to (46, 10)

// Sizes the window and screen images (the window's grey background).
void CreatePanelImages();
// The full panel: background, button rows, slot rows with lamps and names, the
// focus bar; then UpdatePanel.
void PaintPanel();
// The dynamic parts from CurMeterFrame: history graph, warning lamps, knob,
// meters, play lamp, digits (setting nStartMeasure to the measure shown less
// one), channel lamps, mono-mix emblem, help image, drag read-out, screen.
void UpdatePanel();
// The screen slide: frame n (0..kSlideFrames - 1) shows Type2 from x = 10 n
// in the screen's place; the window shows each for 30 ms.
constexpr int32_t kSlideFrames = 46;
void DrawSlideFrame(int32_t nFrame);
// Clears the shown values: output peaks, warnings, load, beat and tick, the
// queued frames' channel peaks; the measure shows nStartMeasure + 1.
void ResetDisplayState();
