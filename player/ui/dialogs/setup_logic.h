// The setup dialog ("SETUP") without its window: the lists it offers, the
// state of its controls, and what confirming writes into the settings fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RateEntry {
  const char *pszText;
  int32_t nRate; // Hz; 0 for the user rate, which comes from edit 201
};
constexpr int32_t kRateEntries = 12; // the setup list; the recording list is the first 11
constexpr int32_t kFixedRateEntries = 11;
constexpr int32_t kUserRateIndex = 11; // "USER:5200～96000"
constexpr int32_t kTypedRate = 33075;  // text typed into a rate combo instead of a choice
constexpr int32_t kMinUserRate = 5200;
constexpr int32_t kMaxUserRate = 96000;
extern const RateEntry kRateTable[kRateEntries];

constexpr int32_t kEngineEntries = 3;
extern const char *const kEngineTexts[kEngineEntries]; // index = n3DENGIN

struct PriorityEntry {
  const char *pszText;
  uint32_t dwClass; // dwProcessPriority
};
constexpr int32_t kPriorityEntries = 4;
extern const PriorityEntry kPriorityTable[kPriorityEntries];

constexpr int32_t kMax3DLength = 1600; // trackbar 232 range 0..1600

// Control ids of the template.
enum SetupId : int32_t {
  kIdSetupRateEdit = 201,
  kIdSetup3DDepth = 232,
  kIdSetupRate = 231,
  kIdSetupPowerSave = 234,
  kIdSetupReverb = 236,
  kIdSetupChorus = 237,
  kIdSetupLpf = 238,
  kIdSetupEngine = 240,
  kIdSetupDevice = 241,
  kIdSetupPriority = 242,
};

// The controls' contents. Selections are list indices, -1 for none (the
// combo's text was typed, or the list is empty).
struct SetupState {
  int32_t bPowerSave1;                // check box 234
  int32_t bUseEff1;                   // 236
  int32_t bUseEff3;                   // 237
  int32_t bLPF;                       // 238
  int32_t n3DPos;                     // trackbar 232
  int32_t nEngineSel;                 // combo 240
  int32_t nRateSel;                   // combo 231
  std::string sRateEdit;              // edit 201
  int32_t bRateEditWritable;          // only for the user rate
  std::vector<std::string> asDevices; // combo 241, device order
  int32_t nDeviceSel;                 // combo 241
  int32_t nPrioritySel;               // combo 242
};

// The index of kPriorityTable holding dwClass, -1 when none does.
int32_t PriorityIndexFor(uint32_t dwClass);
// The index of the rate list (first nEntries) holding nRate, -1 when none does.
int32_t RateIndexFor(int32_t nRate, int32_t nEntries);

// The dialog's opening state from the settings fields. The device list is
// enumerated again first, by pfnFillDevices (the system's list, or a test's).
void InitSetup(SetupState *pState, void (*pfnFillDevices)());
// A new selection in combo 231 (chosen or typed): the edit is writable only
// for the user rate and shows a fixed entry's rate.
void SetupRateChanged(SetupState *pState);
// The rate confirming would store: the entry's rate, the user rate clamped to
// 5200..96000, or 33075 when the combo holds typed text.
int32_t SetupChosenRate(const SetupState &state);
// The confirm button: writes the fields, applies the priority at once through
// pfnSetPriority, and warns (owned by hwndDlg) when no device plays the rate.
// Returns the dialog's result, 1.
int32_t ConfirmSetup(const SetupState &state, void *hwndDlg, int32_t (*pfnSetPriority)(uint32_t));
