// The memory of the eight output buffers. Playback owns their use; this file
// only keeps them, so that the renderers and their tests need no device.
#include <cstring>
#include <new>

#include "player/render/render_loop.h"

constexpr int32_t kOutBufSlack = 64; // bytes kept behind every data block

uint8_t *apOutBuf[kOutBufCount] = {};
int32_t anBufState[kOutBufCount] = {};
int32_t nBlockBytes = 0;
float fBlockSeconds = 0.0f;

int32_t AllocOutRing(int32_t nBuffers) {
  for (int32_t i = 0; i < nBuffers && i < kOutBufCount; ++i) {
    if (apOutBuf[i]) {
      continue;
    }
    apOutBuf[i] = new (std::nothrow) uint8_t[kOutBufBytes + kOutBufSlack];
    if (!apOutBuf[i]) {
      FreeOutRing();
      return 0;
    }
    std::memset(apOutBuf[i], 0, kOutBufBytes + kOutBufSlack);
  }
  return 1;
}

void FreeOutRing() {
  for (uint8_t *&p : apOutBuf) {
    delete[] p;
    p = nullptr;
  }
}
