// A directory of its own under /tmp for one test, removed with everything in
// it when the test ends (even after a test took away its permissions).
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
  // Creates /tmp/<prefix>-XXXXXX; path() is empty when that fails.
  explicit TempDir(const char *pszPrefix = "torqa");
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path operator/(const std::string &sName) const { return path_ / sName; }
  // Writes sText to sName below the directory, making the folders on the way.
  bool Write(const std::string &sName, const std::string &sText) const;

private:
  std::filesystem::path path_;
};

} // namespace testsupport
