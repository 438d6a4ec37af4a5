#include "player/app/startup.h"

#include <cstdio>
#include <cstring>

#include "platform/audio_devices.h"
#include "platform/dynlib.h"
#include "platform/priority.h"
#include "player/app/settings_store.h"
#include "player/app/unit_commands.h"
#include "player/output/playback.h"
#include "player/render/effects.h"
#include "player/render/wav_recorder.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

void *hwndMain = nullptr;
char szProgramDir[kPathBytes] = ".";

constexpr int32_t kNormalTickStep = 256; // nTickStep of normal speed
constexpr int32_t kUnityVolume = 127;    // nOutVolume of 0 dB

void SetMainWindow(void *hwnd) {
  hwndMain = hwnd;
  Hooks.hwndOwner = hwnd;
}

void SetStartValues() {
  SetDefaultSettings();
  Apply3DEngineSetting();
  SetPriorityClass(dwProcessPriority);
  bSizeGeometry = 1;
  nSelDevice = 0;
  bMonoMix = 0;
  nOutVolume = kUnityVolume;
  nTickStep = kNormalTickStep;
  nStartMeasure = 0;
  hwndTest = nullptr;
  bRecording = 0;
  ConnectRenderHooks();
  pfnListDevices = ListOutputDevices;
}

void ListOutputDevices() {
  FillDeviceList();
}

int32_t SetProgramDirectories(const char *pszPluginDir) {
  if (!ProgramDirectory(szProgramDir, sizeof szProgramDir))
    std::snprintf(szProgramDir, sizeof szProgramDir, "."); // as the unit host does
  return SetPluginDirectory(pszPluginDir);
}

void ClearUnitSlots() {
  UnbindAllUnits(); // a second start in one process must not orphan a library
  for (UnitSlot &slot : aUnitSlots) {
    slot.szPath[0] = 0;
    slot.szName[0] = 0;
    slot.hModule = nullptr;
    slot.bActive = 0;
  }
}

int32_t BindSavedUnits() {
  ScanUnits();
  ApplyUnitSlots();
  if (bSettingsCreated && nUnitCount > 0) {
    int32_t bAnyPath = 0;
    for (const UnitSlot &slot : aUnitSlots)
      bAnyPath |= slot.szPath[0] != 0;
    if (!bAnyPath)
      AssignUnitSlot(0, 0);
  }
  int32_t nBound = 0;
  for (const UnitSlot &slot : aUnitSlots)
    nBound += slot.hModule != nullptr;
  return nBound;
}

void AllocEffectLines() {
  AllocReverbLine();
  AllocChorusLine();
}

int32_t AllocStartBuffers(void *hwnd) {
  AllocEffectLines();
  return AllocOutputBuffersOrReport(hwnd);
}

void ShutDown() {
  StopPlayback(hwndMain);
  FreeOutputBuffers();
  FreeChorusLine();
  FreeReverbLine();
  FreeSong();
  UnbindAllUnits();
}
