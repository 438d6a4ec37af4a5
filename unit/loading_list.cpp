#include "unit/loading_list.h"

#include <cstdio>

#include "unit/unit_state.h"

namespace vokra {

static LoadingList *pInstalledList = nullptr; // the window list, when a dialog layer is present

void StderrLoadingList::AddFailed(const char *pszPath) {
  std::fprintf(stderr, "vokraunit: could not load: %s\n", pszPath);
}

void ReportSilentSet(const char *pszCfgPath, const char *pszWhy) {
  std::fprintf(stderr, "vokraunit: sound set %s: %s\n", pszCfgPath, pszWhy);
}

LoadingList *InstallLoadingList(LoadingList *pList) {
  LoadingList *pOld = pInstalledList;
  pInstalledList = pList;
  return pOld;
}

LoadingList &CurrentLoadingList() {
  static StderrLoadingList headless;
  if (hwndHost != nullptr && pInstalledList != nullptr)
    return *pInstalledList;
  return headless;
}

} // namespace vokra
