#include "support/sample_writers.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace testsupport {

namespace {

void Put16(Bytes &b, size_t o, uint32_t v) {
  b[o] = uint8_t(v);
  b[o + 1] = uint8_t(v >> 8);
}

void Put32(Bytes &b, size_t o, uint32_t v) {
  Put16(b, o, v & 0xffff);
  Put16(b, o + 2, v >> 16);
}

// resize + memcpy rather than insert: GCC 12 warns falsely on vector insert here.
void Append(Bytes &b, const Bytes &tail) {
  const size_t n = b.size();
  b.resize(n + tail.size());
  if (!tail.empty())
    std::memcpy(b.data() + n, tail.data(), tail.size());
}

} // namespace

Bytes Le16Bytes(const std::vector<int16_t> &samples) {
  Bytes b(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); i++)
    Put16(b, i * 2, uint16_t(samples[i]));
  return b;
}

Bytes MakeEpc(const EpcFields &f, const std::vector<int16_t> &samples, int32_t nAnnouncedBytes) {
  Bytes b(64, 0);
  std::memcpy(b.data(), "EPC1", 4);
  Put32(b, 4, uint32_t(nAnnouncedBytes >= 0 ? nAnnouncedBytes : int32_t(samples.size() * 2)));
  b[23] = uint8_t(f.nTranspose);
  const int32_t fields[] = {f.nStart,       f.nLoopStart,    f.nEnd,         f.nAttackStep,
                            f.nDecayPeriod, f.nDecay2Period, f.nReleaseStep, f.nDecayLevel,
                            f.nFloorLevel,  f.bLoop};
  for (size_t i = 0; i < 10; i++)
    Put32(b, 24 + 4 * i, uint32_t(fields[i]));
  Bytes data = Le16Bytes(samples);
  Append(b, data);
  return b;
}

Bytes MakeFpv(const FpvFields &f, const Bytes &data) {
  Bytes b(256, 0);
  std::memcpy(b.data(), "FPV", 3);
  b[3] = f.b8Bit ? 'P' : 'W';
  Put16(b, 4, f.nStart);
  Put16(b, 6, f.nEnd);
  Put16(b, 8, f.nLoopStart);
  b[12] = uint8_t(f.nTranspose);
  b[16] = f.nStartLevel;
  b[17] = f.nAttackRate;
  b[18] = f.nDecay1Rate;
  b[19] = uint8_t(f.nDecay1Depth);
  b[20] = f.nDecay2Rate;
  b[21] = uint8_t(f.nDecay2Depth);
  b[22] = f.nDecay3Rate;
  b[23] = f.nReleaseRate;
  b[24] = f.nPeakLevel;
  b[73] = f.nRateDivider;
  Append(b, data);
  return b;
}

Bytes MakePat(const std::vector<PatWave> &waves) {
  Bytes b(239, 0);
  std::memcpy(b.data(), "GF1PATCH110", 12);
  std::memcpy(b.data() + 12, "ID#000002", 10);
  std::memcpy(b.data() + 22, "torqa test patch", 16);
  b[82] = 1;                            // instruments
  b[83] = 14;                           // voices
  b[84] = 0;                            // channels
  Put16(b, 85, uint16_t(waves.size())); // waveforms
  Put16(b, 87, 127);                    // master volume
  uint32_t nTotal = 0;
  for (const PatWave &w : waves)
    nTotal += uint32_t(w.data.size());
  Put32(b, 89, nTotal);
  // Instrument header at 129, layer header at 192.
  std::memcpy(b.data() + 131, "test", 4);
  Put32(b, 147, nTotal);
  b[151] = 1;                     // layers
  b[196] = uint8_t(waves.size()); // samples in the layer
  for (const PatWave &w : waves) {
    Bytes h(96, 0);
    std::memcpy(h.data(), "wave", 4);
    Put32(h, 8, uint32_t(w.nWaveSizeField >= 0 ? w.nWaveSizeField : int64_t(w.data.size())));
    Put32(h, 12, w.nLoopStart);
    Put32(h, 16, w.nLoopEnd);
    Put16(h, 20, w.nSampleRate);
    Put32(h, 22, 8176);     // low frequency
    Put32(h, 26, 12543854); // high frequency
    Put32(h, 30, w.nRootFreq);
    Put16(h, 34, 512); // tune
    h[36] = 7;         // balance
    for (int i = 0; i < 6; i++) {
      h[37 + i] = w.abRate[i];
      h[43 + i] = w.abOffset[i];
    }
    h[55] = w.nMode;
    Put16(h, 56, 2);    // scale frequency
    Put16(h, 58, 1024); // scale factor
    Append(b, h);
    Append(b, w.data);
  }
  return b;
}

bool WriteFileBytes(const std::string &path, const Bytes &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool ReadFileBytes(const std::string &path, Bytes &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr)
    return false;
  bytes.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

std::vector<int16_t> Sine(double dCyclesPerSample, size_t n) {
  std::vector<int16_t> a(n);
  for (size_t i = 0; i < n; ++i)
    a[i] = static_cast<int16_t>(std::lround(20000 * std::sin(2 * M_PI * dCyclesPerSample * i)));
  return a;
}

} // namespace testsupport
