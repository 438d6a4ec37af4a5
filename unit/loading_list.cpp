#include "unit/loading_list.h"

#include <cstdio>

#include "unit/unit_state.h"

namespace vokra {

static LoadingList *pInstalledList = nullptr; // the window list, when a dialog layer is present

void StderrLoadingList::AddFailed(const char *pszPath) {
  std::fprintf(stderr, "vokraunit: could not load: %s\n", pszPath);
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
