#include "player/ui/dialogs/setup_logic.h"

#include "platform/audio_devices.h"
#include "player/output/playback.h"
#include "player/state/engine_state.h"
#include "player/ui/dialogs/dialog_text.h"

// The first two texts begin with a blank so that the decimal points line up.
const RateEntry kRateTable[kRateEntries] = {
    {" 5.200[kHz](x68)", 5200},  {" 7.800[kHz](X68)", 7800},     {"11.025[kHz](PC)", 11025},
    {"15.600[kHz](X68)", 15600}, {"22.050[kHz](PC)", 22050},     {"32.000[kHz](DAT-LP)", 32000},
    {"33.075[kHz](PC)", 33075},  {"44.100[kHz](CD)", 44100},     {"48.000[kHz](DAT-EP)", 48000},
    {"88.200[kHz](PC)", 88200},  {"96.000[kHz](DAT-HS)", 96000}, {"USER:5200～96000", 0},
};

const char *const kEngineTexts[kEngineEntries] = {"Type1:Light", "Type2:Medium", "Type3:Heavy"};

const PriorityEntry kPriorityTable[kPriorityEntries] = {
    {"-1:他のプロセス優先", 0x40}, // IDLE_PRIORITY_CLASS
    {" 0:一般の優先度", 0x20},     // NORMAL_PRIORITY_CLASS
    {"+1:このプロセス優先", 0x80}, // HIGH_PRIORITY_CLASS
    {"+2:最優先", 0x100},          // REALTIME_PRIORITY_CLASS
};

int32_t PriorityIndexFor(uint32_t dwClass) {
  for (int32_t i = 0; i < kPriorityEntries; i++)
    if (kPriorityTable[i].dwClass == dwClass)
      return i;
  return -1;
}

int32_t RateIndexFor(int32_t nRate, int32_t nEntries) {
  for (int32_t i = 0; i < nEntries && i < kFixedRateEntries; i++)
    if (kRateTable[i].nRate == nRate)
      return i;
  return -1;
}

void InitSetup(SetupState *pState, void (*pfnFillDevices)()) {
  SetupState &s = *pState;
  s.bPowerSave1 = bPowerSave1 != 0;
  s.bUseEff1 = bUseEff1 != 0;
  s.bUseEff3 = bUseEff3 != 0;
  s.bLPF = bLPF != 0;
  s.n3DPos = n3DLength < 0 ? 0 : n3DLength > kMax3DLength ? kMax3DLength : n3DLength;
  s.nRateSel = RateIndexFor(nPCMRate, kFixedRateEntries);
  s.bRateEditWritable = s.nRateSel < 0;
  if (s.nRateSel < 0)
    s.nRateSel = kUserRateIndex;
  s.sRateEdit = std::to_string(nPCMRate);
  s.nPrioritySel = PriorityIndexFor(dwProcessPriority);
  s.nEngineSel = n3DENGIN >= 0 && n3DENGIN < kEngineEntries ? n3DENGIN : -1;
  if (pfnFillDevices)
    pfnFillDevices();
  s.asDevices.clear();
  for (int32_t i = 0; i < nDevCount; i++)
    s.asDevices.push_back(DevCapsTable[i].szPname);
  s.nDeviceSel = nSelDevice >= 0 && nSelDevice < nDevCount ? nSelDevice : -1;
}

void SetupRateChanged(SetupState *pState) {
  const int32_t i = pState->nRateSel;
  pState->bRateEditWritable = i == kUserRateIndex;
  if (i >= 0 && i < kFixedRateEntries)
    pState->sRateEdit = std::to_string(kRateTable[i].nRate);
}

int32_t SetupChosenRate(const SetupState &state) {
  if (state.nRateSel >= 0 && state.nRateSel < kFixedRateEntries)
    return kRateTable[state.nRateSel].nRate;
  if (state.nRateSel != kUserRateIndex)
    return kTypedRate;
  const int32_t nRate = ReadDlgInt(state.sRateEdit, 1);
  return nRate < kMinUserRate ? kMinUserRate : nRate > kMaxUserRate ? kMaxUserRate : nRate;
}

int32_t ConfirmSetup(const SetupState &state, void *hwndDlg, int32_t (*pfnSetPriority)(uint32_t)) {
  bPowerSave1 = state.bPowerSave1 ? 1 : 0;
  bUseEff1 = state.bUseEff1 ? 1 : 0;
  bUseEff3 = state.bUseEff3 ? 1 : 0;
  bLPF = state.bLPF ? 1 : 0;
  n3DLength = state.n3DPos;
  n3DENGIN = state.nEngineSel; // -1 is taken as Type1 when the engine is chosen
  nPCMRate = SetupChosenRate(state);
  if (state.nPrioritySel >= 0 && state.nPrioritySel < kPriorityEntries)
    dwProcessPriority = kPriorityTable[state.nPrioritySel].dwClass;
  if (pfnSetPriority)
    pfnSetPriority(dwProcessPriority);
  nSelDevice = state.nDeviceSel;
  TestRateOrWarn(hwndDlg, nPCMRate);
  return 1;
}
