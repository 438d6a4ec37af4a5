#include "player/ui/dialogs/hddr_logic.h"

#include "player/state/engine_state.h"
#include "player/ui/dialogs/setup_logic.h"

int32_t Hdr1InitialSel(int32_t nRate) {
  const int32_t i = RateIndexFor(nRate, kFixedRateEntries);
  return i >= 0 ? i : RateIndexFor(kTypedRate, kFixedRateEntries);
}

int32_t Hdr1Result(int32_t nSel, int32_t bConfirmed) {
  if (!bConfirmed)
    return 0;
  return nSel >= 0 && nSel < kFixedRateEntries ? kRateTable[nSel].nRate : kTypedRate;
}

void Hdr2Progress(void *pUser, const RecordProgress &progress) {
  HddrUi *pUi = static_cast<HddrUi *>(pUser);
  char sz[64];
  FormatRecordTime(sz, sizeof sz, progress.nBytes, progress.nRate);
  pUi->SetProgressField(kIdHdr2Time, sz);
  FormatRecordMeasure(sz, sizeof sz, progress);
  pUi->SetProgressField(kIdHdr2Measure, sz);
  FormatRecordBeat(sz, sizeof sz, progress);
  pUi->SetProgressField(kIdHdr2Beat, sz);
}

void Hdr2AbortPressed() {
  bRecording = 0;
}

int32_t RecordWav(int32_t nRate, HddrUi *pUi, void *hwndMain) {
  const int32_t nSavedRate = nPCMRate;
  nPCMRate = nRate;
  std::string sPath;
  if (!pUi->AskSaveName(hwndMain, &sPath) || sPath.empty()) {
    nPCMRate = nSavedRate;
    return 0;
  }
  pUi->OpenProgress(hwndMain);
  // The command has held bRecording since the rate dialog; the recorder
  // refuses to start inside a running recording and sets it again itself.
  bRecording = 0;
  RecordWavFile(sPath.c_str(), nRate, Hdr2Progress, pUi, hwndMain);
  pUi->CloseProgress();
  nPCMRate = nSavedRate;
  return 1;
}
