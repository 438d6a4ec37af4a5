// Where LoadAllSamples reports which samples loaded and which did not. With a
// host window the installed list (the LOADING window) is used; without one,
// the headless list writes each failure to stderr.
#pragma once

#include <cstdint>

namespace vokra {

class LoadingList {
public:
  virtual ~LoadingList() = default;
  // Before the first entry: show the list if it is not shown, hold redrawing.
  // Entries already shown stay.
  virtual void Begin() = 0;
  virtual void AddLoaded(const char *pszPath) = 0;
  virtual void AddFailed(const char *pszPath) = 0;
  // After the last entry: redraw; with no failure the list goes away.
  virtual void End(int32_t bAnyFailed) = 0;
};

// "vokraunit: could not load: PATH" on stderr per failure; nothing else.
class StderrLoadingList : public LoadingList {
public:
  void Begin() override {}
  void AddLoaded(const char *) override {}
  void AddFailed(const char *pszPath) override;
  void End(int32_t) override {}
};

// "vokraunit: sound set PATH: WHY" on stderr: the set at pszCfgPath gives no
// sound (missing, not a file, no instrument in it, no sample loaded). The
// loading list shows samples only; this is said wherever the unit runs.
void ReportSilentSet(const char *pszCfgPath, const char *pszWhy);

// Installs the list used while hwndHost is set (null: headless everywhere).
// Returns the previous one.
LoadingList *InstallLoadingList(LoadingList *pList);
// The installed list when hwndHost is set, else the headless one.
LoadingList &CurrentLoadingList();

} // namespace vokra
