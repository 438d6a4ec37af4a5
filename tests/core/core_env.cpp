// Every unit these tests load keeps its settings in a registry file inside
// the build tree, never in the user's configuration.
#include <cstdlib>

namespace {
const int kRegistrySet = setenv("TORQA_REGISTRY", CORE_BINARY_DIR "/core-registry.reg", 1);
}
