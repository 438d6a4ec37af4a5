// The user's side of a recording: the rate choice ("HDR1"), the file name,
// and the progress window ("HDR2") fed by the recorder's progress callback.
#pragma once

#include <cstdint>
#include <string>

#include "player/render/wav_recorder.h"

enum HddrId : int32_t {
  kIdHdr1Rate = 231,
  kIdHdr2Time = 201,    // "%8.2f[Sec]"
  kIdHdr2Measure = 202, // "%d"
  kIdHdr2Beat = 203,    // "%d.%04d"
  kIdHdr2Abort = 2,     // "中断"
};

// HDR1's opening selection: the entry of nRate, or 33075 Hz's when none is.
int32_t Hdr1InitialSel(int32_t nRate);
// HDR1's result: the selected entry's rate, 33075 when the combo holds typed
// text (nSel -1); 0 for cancel.
int32_t Hdr1Result(int32_t nSel, int32_t bConfirmed);

// What a recording asks of the windows; the toolkit's version and the tests' twin.
class HddrUi {
public:
  virtual ~HddrUi() = default;
  // The save-file dialog ("*.wav", overwrite prompt); 0 when cancelled.
  virtual int32_t AskSaveName(void *hwndOwner, std::string *psPath) = 0;
  // The modeless progress window, open for the recording's duration.
  virtual void OpenProgress(void *hwndOwner) = 0;
  virtual void SetProgressField(int32_t nId, const char *pszText) = 0;
  virtual void CloseProgress() = 0;
};

// The recorder's progress callback (pUser: the HddrUi): the three fields.
void Hdr2Progress(void *pUser, const RecordProgress &progress);
// HDR2's abort button: the recording ends after the block in progress.
void Hdr2AbortPressed();

// Records the loaded song at nRate to a file the user names. nPCMRate holds
// nRate while the name is asked and the song recorded, its old value after;
// a cancelled dialog or an empty name records nothing. Returns 1 when a
// recording ran.
int32_t RecordWav(int32_t nRate, HddrUi *pUi, void *hwndMain);
