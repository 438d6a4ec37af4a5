// Every unit these tests load keeps its settings in a registry file inside
// the build tree, never in the user's configuration; one file per process,
// since ctest runs the cases side by side.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "player/render/effects.h"

namespace {

std::string sRegistry;

void RemoveRegistry() {
  unlink(sRegistry.c_str());
}

int SetRegistry() {
  sRegistry = CORE_BINARY_DIR "/core-registry-" + std::to_string(getpid()) + ".reg";
  std::atexit(RemoveRegistry);
  return setenv("TORQA_REGISTRY", sRegistry.c_str(), 1);
}

const int kRegistrySet = SetRegistry();

// Renders here start without the player's start-up: pan and seeks reach the
// effects as they do in playback.
const int kHooksSet = (ConnectRenderHooks(), 0);

} // namespace
