// A temporary unit directory with a VOKRA/ sound-set folder, a capturing
// loading list and helpers to write configurations and sample files.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/sample_writers.h"
#include "support/temp_dir.h"
#include "unit/loading_list.h"
#include "unit/soundset.h"

class CaptureList : public vokra::LoadingList {
public:
  void Begin() override { nBegin++; }
  void AddLoaded(const char *pszPath) override {
    loaded.push_back(pszPath);
    Note('+', pszPath);
  }
  void AddFailed(const char *pszPath) override {
    failed.push_back(pszPath);
    Note('-', pszPath);
  }
  void End(int32_t bAnyFailed) override {
    nEnd++;
    bLastAnyFailed = bAnyFailed;
  }
  int nBegin = 0;
  int nEnd = 0;
  int32_t bLastAnyFailed = -1;
  std::vector<std::string> loaded;
  std::vector<std::string> failed;
  std::vector<std::string> order;             // "+path" or "-path", as reported
  std::vector<std::thread::id> reportThreads; // the thread of each report

private:
  void Note(char c, const char *pszPath) {
    order.push_back(c + std::string(pszPath));
    reportThreads.push_back(std::this_thread::get_id());
  }
};

class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // Writes VOKRA/<name> with the given bytes.
  void WriteSample(const std::string &name, const testsupport::Bytes &bytes);
  // Writes VOKRA/VOKRA.cfg and runs LoadCFG.
  int32_t LoadConfig(const std::string &text);
  // The full path the loader builds for a name in the sound-set folder.
  std::string SetPath(const std::string &name) const { return dir + "VOKRA/" + name; }

  testsupport::TempDir tmp{"vokra_loader"};
  std::string dir; // ends in "/"
  CaptureList list;
};

// A short distinct 16-bit sample for EPC files.
std::vector<int16_t> Ramp(int n, int16_t first = 100, int16_t step = 7);
