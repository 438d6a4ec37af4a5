#include "unit/ui_library.h"

#include <cstring>

#include "common/unit_interface.h"
#include "platform/dynlib.h"
#include "unit/dialog_model.h"

namespace vokra {

namespace {

// Plain values only: the plug-in's attach code sets them, and may run before
// this file's dynamic initialisers would.
char szUiPath[kPathBytes]; // the window library's file; empty: none
void *hUiLib = nullptr;    // the library while it is loaded
UnitUi *pUi = nullptr;     // its windows
int32_t bUiFailed = 0;     // loading failed once: not tried again

// Opens no window without an owner: a headless host gets none.
class LazyDialogs : public UnitDialogs {
public:
  int32_t RunMidi(void *hwndOwner) override {
    UnitUi *p = hwndOwner ? LoadUnitUi() : nullptr;
    return p ? p->RunMidi(hwndOwner) : 0;
  }
  int32_t RunSetup(void *hwndOwner) override {
    UnitUi *p = hwndOwner ? LoadUnitUi() : nullptr;
    return p ? p->RunSetup(hwndOwner) : 0;
  }
  void *OpenEntry(void *hwndOwner) override {
    UnitUi *p = hwndOwner ? LoadUnitUi() : nullptr;
    return p ? p->OpenEntry(hwndOwner) : nullptr;
  }
  void CloseEntry(void *hwndEntry) override {
    if (pUi)
      pUi->CloseEntry(hwndEntry);
  }
};

// Used only while the unit has a host window (CurrentLoadingList).
class LazyLoadingList : public LoadingList {
public:
  void Begin() override {
    pList_ = LoadUnitUi();
    if (pList_)
      pList_->Begin();
  }
  void AddLoaded(const char *pszPath) override {
    if (pList_)
      pList_->AddLoaded(pszPath);
  }
  void AddFailed(const char *pszPath) override {
    if (pList_)
      pList_->AddFailed(pszPath);
    else
      headless_.AddFailed(pszPath);
  }
  void End(int32_t bAnyFailed) override {
    if (pList_)
      pList_->End(bAnyFailed);
    pList_ = nullptr;
  }

private:
  LoadingList *pList_ = nullptr;
  StderrLoadingList headless_;
};

} // namespace

void SetUnitUiPath(const char *pszPath) {
  const size_t n = std::strlen(pszPath);
  if (n < sizeof szUiPath)
    std::memcpy(szUiPath, pszPath, n + 1);
}

UnitUi *LoadUnitUi() {
  static UnitDialogModel model; // what the windows change
  if (pUi || bUiFailed || szUiPath[0] == '\0')
    return pUi;
  hUiLib = LibOpen(szUiPath);
  auto pfnCreate =
      reinterpret_cast<PfnCreateUnitUi>(hUiLib ? LibSymbol(hUiLib, kCreateUnitUiName) : nullptr);
  pUi = pfnCreate ? pfnCreate(&model) : nullptr;
  if (pUi == nullptr) {
    LibClose(hUiLib);
    hUiLib = nullptr;
    bUiFailed = 1;
  }
  return pUi;
}

void UnloadUnitUi() {
  CloseEntryWindow();
  if (pUi) {
    pUi->CloseAll();
    delete pUi;
    pUi = nullptr;
  }
  LibClose(hUiLib);
  hUiLib = nullptr;
}

void InstallLazyUnitUi() {
  static LazyDialogs lazyDialogs;
  static LazyLoadingList lazyList;
  InstallUnitDialogs(&lazyDialogs);
  InstallLoadingList(&lazyList);
}

void ShowCopyright(void *hwndOwner) {
  UnitUi *p = hwndOwner ? LoadUnitUi() : nullptr;
  if (p)
    p->ShowCopyright(hwndOwner);
}

} // namespace vokra
