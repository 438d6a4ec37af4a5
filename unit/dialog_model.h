// The unit's dialogs without their windows: what they show when they open and
// what their buttons change. The window library reaches it as a UnitUiModel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unit/unit_ui.h"

namespace vokra {

// Bit c of the result: channel c's bReceive.
uint32_t ReceiveMask();
// Channel c's bReceive = bit c of nMask.
void SetReceiveMask(uint32_t nMask);

// The names in pszSetDir ending in ".cfg" in any letter case, ordered as the
// system's own file search lists them (by name, case ignored), so the list is
// the same on every machine.
std::vector<std::string> ListCfgFiles(const char *pszSetDir);
// The entry equal to pszName, ASCII letters compared without regard to case and
// every other byte exactly; 0 when none is; -1 when the list is empty.
int32_t FindCfgEntry(const std::vector<std::string> &asFiles, const char *pszName);

// The dialogs over the unit's globals.
class UnitDialogModel : public UnitUiModel {
public:
  uint32_t ReceiveMask() override;
  int32_t FinalGain() override;
  void MoveFinalGain(int32_t nGain) override;
  void ConfirmMidi(uint32_t nMask, int32_t nGain) override;
  SetupChoice OpenSetup() override;
  void ConfirmSetup(const char *pszName, int32_t bOverSample) override;
  void *HostWindow() override;
  void EntryClosed() override;
  std::string CopyrightText() override;
};

} // namespace vokra
