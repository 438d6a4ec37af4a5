// The loading window under a display (Xvfb), in the host's FLTK event loop,
// while another thread keeps posting messages as the sound device does
// during playback: a sound set reloads as one step, so no message is
// dispatched (and no Make runs) before every sample is in.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/fltk_event_loop.h"
#include "support/temp_dir.h"
#include "unit/soundset.h"
#include "unit/ui_library.h"
#include "unit/unit_dialogs.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"

// After the platform's headers: X11's None macro would clash with MsgIcon::None.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

namespace {

constexpr char kFreepats[] = "/usr/share/midi/freepats/Tone_000/";
std::atomic<int32_t> bInLoad{0};
int32_t nDispatched = 0;
int32_t nDuringLoad = 0;

int32_t CountMessage(uint32_t, uintptr_t, intptr_t) {
  nDispatched++;
  nDuringLoad += bInLoad.load();
  return 0;
}

// The window library's loading list, marking the span of a load.
class MarkedList : public vokra::LoadingList {
public:
  void Begin() override {
    bInLoad = 1;
    pInner_ = vokra::LoadUnitUi();
    ASSERT_NE(pInner_, nullptr);
    pInner_->Begin();
  }
  void AddLoaded(const char *pszPath) override { pInner_->AddLoaded(pszPath); }
  void AddFailed(const char *pszPath) override { pInner_->AddFailed(pszPath); }
  void End(int32_t bAnyFailed) override {
    pInner_->End(bAnyFailed);
    bInLoad = 0;
  }

private:
  vokra::LoadingList *pInner_ = nullptr;
};

TEST(LoadingWindow, ReloadDispatchesNoMessageUntilTheSetIsLoaded) {
  testsupport::TempDir tmp("vokra_loading");
  setenv("TORQA_REGISTRY", (tmp / "registry.reg").c_str(), 1);
  // Some freepats patches, and one missing sample, which keeps the window open.
  const char *const apszPatch[] = {
      "000_Acoustic_Grand_Piano", "006_Harpsichord", "008_Celesta",
      "009_Glockenspiel",         "013_Xylophone",   "014_Tubular_Bells"};
  std::filesystem::create_directories(tmp / "VOKRA");
  std::string sCfg;
  int32_t nInst = 1;
  for (const char *pszPatch : apszPatch) {
    sCfg += std::to_string(nInst++) + ": " + pszPatch + ".pat\n";
    std::filesystem::create_symlink(std::string(kFreepats) + pszPatch + ".pat",
                                    tmp / (std::string("VOKRA/") + pszPatch + ".pat"));
  }
  sCfg += std::to_string(nInst) + ": missing.pat\n";
  ASSERT_TRUE(tmp.Write("VOKRA/set.cfg", sCfg));

  fl_open_display();
  FltkEventLoop loop;
  SetEventLoop(&loop);
  SetMessageHandler(CountMessage);
  Fl_Window host(200, 100, "host");
  host.show();
  Fl::check();
  vokra::InitUNIT(&host, (tmp.path().string() + "/").c_str());
  std::strcpy(vokra::szCfgName, "set.cfg");
  vokra::SetUnitUiPath(VOKRAUI_PATH);
  MarkedList list;
  vokra::InstallLoadingList(&list);

  std::atomic<int32_t> bStop{0};
  std::thread device([&] {
    while (!bStop) {
      PostLoopMessage(kWmUser + 1, 0, 0);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  EXPECT_EQ(vokra::ReloadSoundSet(), 1);
  const int32_t nAtEnd = nDispatched;
  for (int n = 0; n < 100 && nDispatched == nAtEnd; n++)
    if (loop.Wait(10))
      loop.PumpOne();
  bStop = 1;
  device.join();

  EXPECT_EQ(nDuringLoad, 0);
  EXPECT_GT(nDispatched, nAtEnd); // the messages flow again once the set is in
  EXPECT_NE(vokra::aInstrument[0].nDataSize, 0);

  vokra::InstallLoadingList(nullptr);
  vokra::UnloadUnitUi();
  vokra::RemoveCFG();
  vokra::InitUNIT(nullptr, "");
  SetMessageHandler(nullptr);
  SetEventLoop(nullptr);
}

} // namespace
