// What the unit's dialogs set off, in one place: SysSig runs a dialog and,
// when it is confirmed, the step that dialog asks for. The dialogs (the window
// library of ui_library.h, which the plug-in installs when it is attached)
// change only memory and call the setters below; saving and reloading happen
// here.
#pragma once

#include <cstdint>

namespace vokra {

class UnitDialogs {
public:
  virtual ~UnitDialogs() = default;
  // The modal MIDI dialog: 1 when confirmed (bReceive and, through
  // SetFinalGain, nFinalGain set), 0 when cancelled.
  virtual int32_t RunMidi(void *hwndOwner) = 0;
  // The modal SETUP dialog: 1 when confirmed (szCfgName and bOverSample set).
  virtual int32_t RunSetup(void *hwndOwner) = 0;
  // Opens the modeless data entry window; its handle, or null.
  virtual void *OpenEntry(void *hwndOwner) = 0;
  // Closes the data entry window hwndEntry.
  virtual void CloseEntry(void *hwndEntry) = 0;
};

// Installs the dialogs SysSig opens (null: none; every code then does
// nothing and returns 0). Returns the previous ones.
UnitDialogs *InstallUnitDialogs(UnitDialogs *pDialogs);

// 1: MIDI dialog, then SaveUnitSettings when confirmed; returns 0 when
// cancelled. 2: SETUP dialog, then ReloadSoundSet when confirmed; returns its
// result, 0 when cancelled. 3: opens the data entry window unless it is open;
// returns its handle. Other codes do nothing and return 0.
intptr_t RunSysSig(void *hwndOwner, int32_t nCode);

// The confirmed SETUP dialog's sequence: save the settings, stop all voices,
// FreeLockCFG, RemoveCFG, LoadCFG. Returns LoadCFG's result.
int32_t ReloadSoundSet();

// Changes the final gain between two samples Make hands out, as the MIDI
// dialog's slider does while the host plays: the samples rendered ahead are
// dropped first, so the change takes effect at exactly the next sample.
void SetFinalGain(int32_t nGain);

// The data entry window was closed by its own button: forget its handle.
void ForgetEntryWindow();
// Detaching the library: closes the data entry window if it is open.
void CloseEntryWindow();

} // namespace vokra
