#include "unit/unit_dialogs.h"

#include "unit/lookahead.h"
#include "unit/soundset.h"
#include "unit/unit_settings.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra {

namespace {

constexpr int32_t kSigMidi = 1;
constexpr int32_t kSigSetup = 2;
constexpr int32_t kSigEntry = 3;

UnitDialogs *pInstalledDialogs = nullptr; // the host side's dialog layer
void *hwndEntry = nullptr;                // the data entry window while it is open

} // namespace

UnitDialogs *InstallUnitDialogs(UnitDialogs *pDialogs) {
  UnitDialogs *const pOld = pInstalledDialogs;
  pInstalledDialogs = pDialogs;
  return pOld;
}

int32_t ReloadSoundSet() {
  SyncAhead();
  SaveUnitSettings();
  StopAllVoices();
  FreeLockCFG();
  RemoveCFG();
  return LoadCFG();
}

void SetFinalGain(int32_t nGain) {
  SyncAhead();
  nFinalGain = nGain;
}

intptr_t RunSysSig(void *hwndOwner, int32_t nCode) {
  // The dialogs change settings and channels: the voices first come back to
  // the sample the host has reached.
  SyncAhead();
  if (pInstalledDialogs == nullptr)
    return 0;
  switch (nCode) {
  case kSigMidi:
    if (pInstalledDialogs->RunMidi(hwndOwner) == 0)
      return 0;
    SaveUnitSettings();
    return 1;
  case kSigSetup:
    if (pInstalledDialogs->RunSetup(hwndOwner) == 0)
      return 0;
    return ReloadSoundSet();
  case kSigEntry:
    if (hwndEntry == nullptr)
      hwndEntry = pInstalledDialogs->OpenEntry(hwndOwner);
    return reinterpret_cast<intptr_t>(hwndEntry);
  default:
    return 0;
  }
}

void ForgetEntryWindow() {
  hwndEntry = nullptr;
}

void CloseEntryWindow() {
  if (hwndEntry != nullptr && pInstalledDialogs != nullptr)
    pInstalledDialogs->CloseEntry(hwndEntry);
  hwndEntry = nullptr;
}

} // namespace vokra
