// A window library that opens nothing: its MIDI dialog moves the final gain
// to 0 and is cancelled, as a user who drags the trackbar and presses "中断".
#include "unit/unit_ui.h"

namespace {

class FakeUi : public vokra::UnitUi {
public:
  explicit FakeUi(vokra::UnitUiModel *pModel) : pModel_(pModel) {}
  int32_t RunMidi(void *) override {
    pModel_->MoveFinalGain(0);
    return 0;
  }
  int32_t RunSetup(void *) override { return 0; }
  void *OpenEntry(void *) override { return this; }
  void CloseEntry(void *) override {}
  void Begin() override {}
  void AddLoaded(const char *) override {}
  void AddFailed(const char *) override {}
  void End(int32_t) override {}
  void ShowCopyright(void *) override {}
  void CloseAll() override {}

private:
  vokra::UnitUiModel *pModel_;
};

} // namespace

extern "C" __attribute__((visibility("default"))) vokra::UnitUi *
CreateUnitUi(vokra::UnitUiModel *pModel) {
  return new FakeUi(pModel);
}
