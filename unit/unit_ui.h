// The boundary between the unit and its window library (PLUGIN/VOKRA/vokraui.so,
// loaded with dlopen when a dialog first opens, so that a headless host never
// maps the window toolkit). The library links nothing of the unit: it reads and
// changes the unit's settings only through UnitUiModel, and hands back one
// UnitUi that carries every window of the unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unit/loading_list.h"
#include "unit/unit_dialogs.h"

namespace vokra {

// What the SETUP dialog shows when it opens.
struct SetupChoice {
  std::vector<std::string> asFiles; // the set's .cfg files, in directory order
  int32_t nSel;                     // the entry naming szCfgName; 0 when none does; -1: no entry
  int32_t bOverSample;
};

// The unit's side of its dialogs: settings in memory, and the windows it remembers.
class UnitUiModel {
public:
  virtual ~UnitUiModel() = default;
  // Bit c set: channel c accepts note-ons.
  virtual uint32_t ReceiveMask() = 0;
  virtual int32_t FinalGain() = 0;
  // The trackbar moved: heard from the next sample, kept on cancel.
  virtual void MoveFinalGain(int32_t nGain) = 0;
  // "設定" in the MIDI dialog.
  virtual void ConfirmMidi(uint32_t nMask, int32_t nGain) = 0;
  virtual SetupChoice OpenSetup() = 0;
  // "設定" in SETUP; pszName null when no entry is selected (the name stays).
  virtual void ConfirmSetup(const char *pszName, int32_t bOverSample) = 0;
  // The owner of the loading window: the host window InitUNIT was given.
  virtual void *HostWindow() = 0;
  // The data entry window was closed by its own button.
  virtual void EntryClosed() = 0;
  // The about box's text: unit name, version, licence.
  virtual std::string CopyrightText() = 0;
};

// Every window of the unit. Windows closed by their own buttons are hidden
// and deleted later from the unit's side, never inside their own callbacks,
// so that no deferred deletion can outlive the library.
class UnitUi : public UnitDialogs, public LoadingList {
public:
  // The about box, owned by hwndOwner.
  virtual void ShowCopyright(void *hwndOwner) = 0;
  // Destroys every window (the unit is about to be unloaded).
  virtual void CloseAll() = 0;
};

// The one export of the window library: its windows over pModel.
typedef UnitUi *(*PfnCreateUnitUi)(UnitUiModel *pModel);
inline constexpr const char *kCreateUnitUiName = "CreateUnitUi";
// The window library's file, in the sound-set directory beside the unit.
inline constexpr const char *kUnitUiFile = "VOKRA/vokraui.so";

} // namespace vokra
