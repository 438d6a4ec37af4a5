// The unit's dialogs without a display: the settings they show and change,
// and the window library that only a host with a window loads.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/temp_dir.h"
#include "unit/channels.h"
#include "unit/dialog_model.h"
#include "unit/ui_library.h"
#include "unit/unit_settings.h"
#include "unit/unit_state.h"

namespace {

class UnitDialogsTest : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"vokra_dialogs"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    setenv("TORQA_REGISTRY", (tmp_ / "registry.reg").c_str(), 1);
    vokra::LoadUnitSettings(); // a first start: the defaults
  }
  void TearDown() override {
    vokra::UnloadUnitUi();
    vokra::InstallUnitDialogs(nullptr);
    vokra::InstallLoadingList(nullptr);
    vokra::SetReceiveMask(0xFFFF);
    vokra::nFinalGain = 127;
    vokra::szUnitDir[0] = '\0';
    std::strcpy(vokra::szCfgName, "VOKRA.cfg");
  }
  static bool UiLoaded() {
    void *h = dlopen(FAKE_UNIT_UI_PATH, RTLD_LAZY | RTLD_NOLOAD);
    if (h)
      dlclose(h);
    return h != nullptr;
  }
  vokra::UnitDialogModel model_;
};

TEST_F(UnitDialogsTest, ConfirmedMidiDialogSetsChannelCFromBitC) {
  const uint32_t nMask = 0xFFFF & ~(1u << 9);
  model_.ConfirmMidi(nMask, 90);
  for (int32_t c = 0; c < vokra::kChannelCount; c++)
    EXPECT_EQ(vokra::aUnitChannel[c].bReceive, c == 9 ? 0 : 1) << c;
  EXPECT_EQ(vokra::nFinalGain, 90);
  EXPECT_EQ(model_.ReceiveMask(), nMask);
}

TEST_F(UnitDialogsTest, SetupListsCfgFilesAndPreselectsTheNameWhateverItsCase) {
  for (const char *pszName : {"VOKRA.cfg", "freepats-pat.cfg", "GM.CFG", "readme.txt", "cfg"})
    ASSERT_TRUE(tmp_.Write(std::string("VOKRA/") + pszName, "#\n"));
  std::strcpy(vokra::szUnitDir, (tmp_.path().string() + "/").c_str());
  std::strcpy(vokra::szCfgName, "vokra.CFG");
  const vokra::SetupChoice choice = model_.OpenSetup();
  EXPECT_EQ(choice.asFiles, (std::vector<std::string>{"freepats-pat.cfg", "GM.CFG", "VOKRA.cfg"}));
  EXPECT_EQ(choice.nSel, 2);
  EXPECT_EQ(vokra::FindCfgEntry(choice.asFiles, "other.cfg"), 0); // none: the first
  EXPECT_EQ(vokra::FindCfgEntry({}, "VOKRA.cfg"), -1);
}

TEST_F(UnitDialogsTest, NoHostWindowOpensNoDialogAndLoadsNoWindowLibrary) {
  vokra::SetUnitUiPath(FAKE_UNIT_UI_PATH);
  vokra::InstallLazyUnitUi();
  EXPECT_EQ(vokra::RunSysSig(nullptr, 1), 0);
  EXPECT_EQ(vokra::RunSysSig(nullptr, 3), 0);
  EXPECT_EQ(vokra::nFinalGain, 127);
  EXPECT_FALSE(UiLoaded());
}

TEST_F(UnitDialogsTest, CancelledMidiDialogKeepsTheMovedGainInMemoryOnly) {
  vokra::SetUnitUiPath(FAKE_UNIT_UI_PATH);
  vokra::InstallLazyUnitUi();
  int32_t nWindow = 0;
  EXPECT_EQ(vokra::RunSysSig(&nWindow, 1), 0);
  EXPECT_EQ(vokra::nFinalGain, 0);
  EXPECT_TRUE(UiLoaded());
  vokra::LoadUnitSettings(); // what the registry holds: still the default
  EXPECT_EQ(vokra::nFinalGain, 127);
  vokra::UnloadUnitUi();
  EXPECT_FALSE(UiLoaded());
}

} // namespace
