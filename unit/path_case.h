// Sound sets copied from a file system that ignores case name their files in
// any case ("I.PAT" for "i.pat", "vokra.cfg" for "VOKRA.cfg").
#pragma once

#include <string>

namespace vokra {

// pszPath as it is on disk: each component that does not exist as written is
// matched against its directory's entries without regard to ASCII case (the
// first match in directory order). Empty when some component has no match.
std::string ResolvePathCase(const char *pszPath);

} // namespace vokra
