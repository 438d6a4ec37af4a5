#include "tools/skin/panel_scenes.h"

#include <cstdio>
#include <cstring>

#include "player/state/engine_state.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/ui/panel_bitmaps.h"
#include "player/ui/panel_input.h"
#include "player/ui/panel_paint.h"
#include "player/ui/panel_state.h"
#include "player/units/unit_host.h"

namespace {

int32_t nBoundMarker; // any non-null address marks a slot as holding a library

void Summary(int32_t nIndex, int32_t nValue) {
  CurMeterFrame.anSummary[nIndex] = nValue;
}

void Channel(int32_t ch, int32_t nPeak, int32_t bSounding) {
  CurMeterFrame.aChannel[ch] = {nPeak, nPeak, bSounding};
}

void Stopped() {
  Summary(kMeterMeasure, 1);
}

void Playing() {
  bPlaying = 1;
  Summary(kMeterOutPeakL, 20000);
  Summary(kMeterOutPeakR, 16000);
  Summary(kMeterClipped, 1);
  Summary(kMeterLoadPercent, 50);
  Summary(kMeterMeasure, 12345);
  Summary(kMeterBeatTick, (3 << 16) | 7);
  // Peaks spread over the meter's logarithmic cells, 0 to 27.
  const int32_t anPeak[16] = {0, 1, 2, 4, 9, 16, 30, 55, 99, 176, 315, 561, 999, 1777, 3161, 5622};
  for (int32_t ch = 0; ch < 16; ++ch)
    Channel(ch, anPeak[ch], ch % 3 == 0);
  aChannels[5].bMute = 1;
}

void Slots() {
  Stopped();
  aUnitSlots[0].hModule = &nBoundMarker;
  aUnitSlots[0].bActive = 1;
  std::strcpy(aUnitSlots[0].szName, "VOKRA UNIT");
  aUnitSlots[2].hModule = &nBoundMarker;
  aUnitSlots[2].bActive = 0;
  bHasFocus = 1;
}

void MonoStopped() {
  Stopped();
  bMonoMix = 1;
}

void Help() {
  Stopped();
  bHelpMode = 1;
  nHelpScroll = 100;
}

void HelpOpaque() {
  Help();
  nHelpOpacity = 100;
}

void HelpClear() {
  Playing();
  bHelpMode = 1;
  nHelpOpacity = 0;
}

void SpeedDrag() {
  Stopped();
  PanelLeftDown(170, 90, 1170, 590, 1000, 500, 0);
  PanelMouseMove(1210, 590);
}

void VolumeDrag() {
  Stopped();
  PanelLeftDown(185, 90, 1185, 590, 1000, 500, 0);
  PanelMouseMove(1185, 560);
}

void Graph() {
  Stopped();
  crGraphSwitch = 0xFFFFFF;
  crGraphBack = 0x000040;
  crGraphDot = 0xFFFF00;
  for (int32_t j = 0; j < kHistoryCount; ++j)
    anHistory[j] = j % 17;
}

} // namespace

const PanelScene aPanelScenes[] = {
    {"stopped", "stopped: red play lamp, idle lamps, measure 0001, beat 00, tick 000", Stopped},
    {"playing", "playing: meters by log level, lit and muted lamps, clip lamp, digits 1234 03 007",
     Playing},
    {"slots", "slot 0 bound and on, slot 2 bound and off, the rest empty; focus bar lit", Slots},
    {"mono", "mono mix while stopped: emblem at 36 % over a darkened shadow", MonoStopped},
    {"help", "help mode at row 100, opacity 70; the knob shows the scroll", Help},
    {"help_opaque", "help at opacity 100: only the help text in the screen", HelpOpaque},
    {"help_clear", "help at opacity 0: the meters unchanged, the knob at the top cell", HelpClear},
    {"speed_drag", "speed drag 40 px: read-out box shaded, knob unchanged", SpeedDrag},
    {"volume_drag", "volume drag to 0: knob cell 0, read-out box shaded", VolumeDrag},
    {"graph", "history graph from the skin colours: 36 values clamped to 15", Graph},
};
const int32_t nPanelSceneCount = sizeof aPanelScenes / sizeof aPanelScenes[0];

const PanelScene *FindPanelScene(const char *szName) {
  for (const PanelScene &scene : aPanelScenes)
    if (std::strcmp(scene.szName, szName) == 0)
      return &scene;
  return nullptr;
}

const PanelImage &RenderPanelScene(const PanelScene &scene) {
  ResetPanelState();
  LoadPanelBitmaps("/nonexistent-skin-dir"); // the built-in images
  nHelpHeight = imgHelp.nHeight;
  bPlaying = 0;
  bMonoMix = 0;
  nStartMeasure = 0;
  nTickStep = 256;
  nOutVolume = 127;
  CurMeterFrame = MeterFrame{};
  for (ChannelState &c : aChannels)
    c.bMute = 0;
  for (UnitSlot &slot : aUnitSlots) {
    slot.hModule = nullptr;
    slot.bActive = 0;
    slot.szName[0] = 0;
  }
  CreatePanelImages();
  scene.pfnSetUp();
  PaintPanel();
  return imgWindow;
}

uint64_t PanelImageDigest(const PanelImage &img) {
  uint64_t h = 0xCBF29CE484222325;
  auto Mix = [&h](uint32_t v) {
    for (int32_t i = 0; i < 4; ++i, v >>= 8)
      h = (h ^ (v & 0xFF)) * 0x100000001B3;
  };
  Mix(static_cast<uint32_t>(img.nWidth));
  Mix(static_cast<uint32_t>(img.nHeight));
  for (uint32_t p : img.aPixel)
    Mix(p);
  return h;
}

std::map<std::string, std::string> ReadPanelDigests(const char *szPath) {
  std::map<std::string, std::string> digests;
  FILE *f = std::fopen(szPath, "r");
  char szLine[256], szName[64], szDigest[32];
  while (f && std::fgets(szLine, sizeof szLine, f))
    if (szLine[0] != '#' && std::sscanf(szLine, "%63s %31s", szName, szDigest) == 2)
      digests[szName] = szDigest;
  if (f)
    std::fclose(f);
  return digests;
}
