// Writers of the unit's three sample formats (EPC, FPV, GUS patch), built
// from the format tables, for tests that need sample files with known content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct EpcFields {
  int8_t nTranspose = 0;
  int32_t nStart = 0;
  int32_t nLoopStart = 0;
  int32_t nEnd = 0;
  int32_t nAttackStep = 0;
  int32_t nDecayPeriod = 0;
  int32_t nDecay2Period = 0;
  int32_t nReleaseStep = 0;
  int32_t nDecayLevel = 0;
  int32_t nFloorLevel = 0;
  int32_t bLoop = 0;
};

// 64-byte header then the samples; the header announces the samples' byte
// count unless nAnnouncedBytes >= 0 is given.
Bytes MakeEpc(const EpcFields &f, const std::vector<int16_t> &samples,
              int32_t nAnnouncedBytes = -1);

struct FpvFields {
  bool b8Bit = false;  // format byte "P"
  uint16_t nStart = 0; // in samples
  uint16_t nEnd = 0;   // in samples
  uint16_t nLoopStart = 0;
  int8_t nTranspose = 0;
  uint8_t nStartLevel = 0;
  uint8_t nAttackRate = 0;
  uint8_t nDecay1Rate = 0;
  int8_t nDecay1Depth = 0;
  uint8_t nDecay2Rate = 0;
  int8_t nDecay2Depth = 0;
  uint8_t nDecay3Rate = 0;
  uint8_t nReleaseRate = 0;
  uint8_t nPeakLevel = 0;
  uint8_t nRateDivider = 0;
};

// 128-byte header, padding to offset 256, then data (raw bytes as stored).
Bytes MakeFpv(const FpvFields &f, const Bytes &data);

struct PatWave {
  Bytes data;              // raw sample bytes
  uint32_t nLoopStart = 0; // bytes
  uint32_t nLoopEnd = 0;   // bytes
  uint16_t nSampleRate = 44100;
  uint32_t nRootFreq = 261626; // 1/1000 Hz
  uint8_t abRate[6] = {};
  uint8_t abOffset[6] = {};
  uint8_t nMode = 0;           // bit 0 16-bit, bit 1 unsigned, bit 2 looping
  int64_t nWaveSizeField = -1; // >= 0: written instead of data.size()
};

// GF1 patch: 239-byte header (one instrument, one layer) then each waveform's
// 96-byte header and data.
Bytes MakePat(const std::vector<PatWave> &waves);

// Little-endian 16-bit samples as bytes.
Bytes Le16Bytes(const std::vector<int16_t> &samples);

// n samples of a sine at amplitude 20000, dCyclesPerSample cycles a sample.
std::vector<int16_t> Sine(double dCyclesPerSample, size_t n);

bool WriteFileBytes(const std::string &path, const Bytes &bytes);
bool ReadFileBytes(const std::string &path, Bytes &bytes);

} // namespace testsupport
