// The patch conversion written the plain way, one output sample and one
// source step at a time, to hold the loader's faster loops to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

struct PatReference {
  std::vector<uint8_t> data; // 16-bit little-endian output
  int32_t nLoopStart;        // bytes into data
  int32_t nEnd;
};

// The middle waveform of the patch in pFile converted as the loader does it,
// loop points settled; false when the file has no usable middle waveform.
bool ConvertPatReference(const uint8_t *pFile, size_t nFile, PatReference &out);

} // namespace testsupport
