#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir(const char *pszPrefix) {
  std::string sTemplate = "/tmp/" + std::string(pszPrefix) + "-XXXXXX";
  std::vector<char> acTemplate(sTemplate.begin(), sTemplate.end());
  acTemplate.push_back('\0');
  if (mkdtemp(acTemplate.data()))
    path_ = acTemplate.data();
}

TempDir::~TempDir() {
  if (path_.empty())
    return;
  std::error_code ec;
  // Tests of unwritable folders leave some behind: open them up before removing.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

bool TempDir::Write(const std::string &sName, const std::string &sText) const {
  std::error_code ec;
  fs::create_directories((path_ / sName).parent_path(), ec);
  std::ofstream file(path_ / sName, std::ios::binary);
  file << sText;
  return static_cast<bool>(file);
}

} // namespace testsupport
