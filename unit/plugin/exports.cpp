// The thirteen entry points of the sound unit and the block form of Make,
// exported with C linkage, and what the library does when it is loaded into
// and unloaded from a process.
#include <dlfcn.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "common/unit_interface.h"
#include "unit/channels.h"
#include "unit/lookahead.h"
#include "unit/soundset.h"
#include "unit/ui_library.h"
#include "unit/unit_dialogs.h"
#include "unit/unit_entry.h"
#include "unit/unit_settings.h"

#define VOKRA_EXPORT extern "C" __attribute__((visibility("default")))

// Loading the library into the process reads the unit settings. Linux has no
// thread-attach notification, so unlike a DLL the settings are not re-read
// for each new thread of the host. The windows come from vokraui.so in the
// sound-set directory beside this library, loaded when a dialog first opens.
__attribute__((constructor)) static void AttachUnit() {
  vokra::LoadUnitSettings();
  Dl_info info;
  if (dladdr(reinterpret_cast<void *>(&AttachUnit), &info) && info.dli_fname) {
    std::string sPath = info.dli_fname;
    sPath.resize(sPath.rfind('/') + 1); // npos + 1: a bare name, the working directory
    vokra::SetUnitUiPath((sPath + vokra::kUnitUiFile).c_str());
  }
  vokra::InstallLazyUnitUi();
}

// Unloading destroys the unit's windows (the data entry and loading windows)
// and unloads the window library, so that FLTK keeps nothing of either.
__attribute__((destructor)) static void DetachUnit() {
  vokra::UnloadUnitUi();
}

VOKRA_EXPORT int32_t GetType(void) {
  return vokra::GetType();
}
VOKRA_EXPORT int32_t GetName(char *pszName) {
  return vokra::GetName(pszName);
}
VOKRA_EXPORT int32_t GetVer(void) {
  return vokra::GetVer();
}
VOKRA_EXPORT int32_t TestDLL(void) {
  return vokra::TestDLL();
}

// The about box: name, version, licence; nothing without a host window.
VOKRA_EXPORT void Copyright(UnitWindow hwnd) {
  vokra::ShowCopyright(hwnd);
}

// Make renders ahead; every entry point below that touches the voices,
// channels or instruments first brings the voices back to the sample the
// host has reached.
VOKRA_EXPORT void Make(int32_t *pAcc) {
  vokra::MakeAhead(pAcc);
}
// Make for a run of samples, for hosts that know the block form.
VOKRA_EXPORT uint32_t MakeBlock(int32_t *pRows, int32_t nCount) {
  return vokra::MakeBlock(pRows, nCount);
}
VOKRA_EXPORT int32_t SetRate(int32_t nRate) {
  vokra::SyncAhead();
  return vokra::SetRate(nRate);
}
VOKRA_EXPORT void InitUNIT(UnitWindow hwnd, const char *pszDir) {
  vokra::SyncAhead();
  vokra::InitUNIT(hwnd, pszDir);
}
VOKRA_EXPORT int32_t LoadCFG(void) {
  vokra::SyncAhead();
  return vokra::LoadCFG();
}
VOKRA_EXPORT int32_t LoadedInstruments(void) {
  return vokra::nLoadedInstruments;
}
VOKRA_EXPORT void RemoveCFG(void) {
  vokra::SyncAhead();
  vokra::RemoveCFG();
}
VOKRA_EXPORT void FreeLockCFG(void) {
  vokra::SyncAhead();
  vokra::FreeLockCFG();
}
VOKRA_EXPORT void MidiIn(const uint8_t *pMsg, int32_t nSource) {
  vokra::SyncAhead();
  vokra::MidiIn(pMsg, nSource);
}

// The MIDI (1), SETUP (2) and data entry (3) dialogs, and what follows a
// confirmed one; without a host window (or the window library) every code
// returns 0.
VOKRA_EXPORT intptr_t SysSig(UnitWindow hwnd, int32_t nCode) {
  return vokra::RunSysSig(hwnd, nCode);
}

// The exports must keep the types the host casts them to.
static_assert(std::is_same_v<decltype(&GetType), PfnGetType>);
static_assert(std::is_same_v<decltype(&GetName), PfnGetName>);
static_assert(std::is_same_v<decltype(&GetVer), PfnGetVer>);
static_assert(std::is_same_v<decltype(&TestDLL), PfnTestDLL>);
static_assert(std::is_same_v<decltype(&Copyright), PfnCopyright>);
static_assert(std::is_same_v<decltype(&Make), PfnMake>);
static_assert(std::is_same_v<decltype(&SetRate), PfnSetRate>);
static_assert(std::is_same_v<decltype(&InitUNIT), PfnInitUNIT>);
static_assert(std::is_same_v<decltype(&LoadCFG), PfnLoadCFG>);
static_assert(std::is_same_v<decltype(&RemoveCFG), PfnRemoveCFG>);
static_assert(std::is_same_v<decltype(&FreeLockCFG), PfnFreeLockCFG>);
static_assert(std::is_same_v<decltype(&MidiIn), PfnMidiIn>);
static_assert(std::is_same_v<decltype(&SysSig), PfnSysSig>);
static_assert(std::is_same_v<decltype(&MakeBlock), PfnMakeBlock>);
static_assert(std::is_same_v<decltype(&LoadedInstruments), PfnLoadedInstruments>);
