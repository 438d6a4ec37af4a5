// The main window's interface state and the panel's display state. Written by
// the window's message handlers (W) or by the panel's drawing (P); read by the
// drawing, the hit testing and the drags. Start values in parentheses, set by
// ResetPanelState. One instance per process.
#pragma once

#include <cstdint>

constexpr int32_t kScreenWidth = 144; // the screen image, drawn at (46, 10)
constexpr int32_t kScreenHeight = 63;
constexpr int32_t kHistoryCount = 64; // history graph values

// Help screen.
extern int32_t
    bHelpMode; // 0/1, help image over the screen; W: command 182 on, Esc/right-click off (0)
extern int32_t
    nHelpScroll; // 0..HelpScrollMax(), first help row shown; W: keys, help-scroll drag (0)
extern int32_t nHelpHeight;  // rows of the help image; set when the bitmaps load (334)
extern int32_t nHelpOpacity; // 0..100, help blend alpha in %; W: keys, opacity drag (70)

// Controls.
extern int32_t nVolumePos;   // 0..100 knob position, 30 = 0 dB; W: volume drag (30)
extern int32_t nPressedCode; // element code captured at left press, 0 = none; W (0)
extern int32_t bButtonHeld;  // 0/1, a panel element is pressed; W (0)
extern int32_t bSpeedDrag;   // 0/1, button 8 held: nTickStep follows the mouse; W (0)
extern int32_t bVolumeDrag;  // 0/1, knob held: nVolumePos follows the mouse; W (0)
extern int32_t bScrollDrag;  // 0/1, help scroll drag (buttons 8/9 in help mode); W (0)
extern int32_t bOpacityDrag; // 0/1, help opacity drag (right button on 8/9 in help mode); W (0)
extern int32_t bMoveDrag;    // 0/1, the window follows the mouse; W (0)
extern int32_t bInMove;      // 0/1, guard while the window is being moved; W (0)
extern int32_t nAnchorX;     // drag anchor, screen pixels; W (0)
extern int32_t nAnchorY;
extern int32_t bHasFocus; // 0/1, window has the keyboard focus (the focus bar); W (0)

// Panel colours, pixel values 0x00RRGGBB; read from a skin INPANE.bmp.
extern uint32_t crText;        // slot names and screen read-out (0x40FF60)
extern uint32_t crGraphSwitch; // non-zero draws the history graph (0)
extern uint32_t crGraphSource; // non-zero: graph shows the load; zero: the level sum (0)
extern uint32_t crGraphBack;   // graph box fill (0)
extern uint32_t crGraphDot;    // graph points (0)

// Display values kept between redraws.
extern int32_t anHistory[kHistoryCount]; // newest at 63; P: shifted each UpdatePanel (0)
extern int32_t nEmblemFade;              // mono-mix emblem fade counter; P (0)

void ResetPanelState();
