// GUS patches (.pat): the middle waveform, resampled so that its root
// frequency plays at note 60, converted to 16-bit signed data.
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "unit/byte_source.h"
#include "unit/sample_loaders.h"
#include "unit/sample_memory.h"
#include "unit/soundset.h"

namespace vokra {

namespace {

constexpr size_t kPatHeaderBytes = 239;
constexpr size_t kPatWaveCountOffset = 85;
constexpr size_t kWaveHeaderBytes = 96;
// One cycle of middle C at 44100 Hz, in output samples (single precision).
constexpr float kRefCycle = 168.55865478515625f;
// Converted data larger than this is treated as a failed allocation; it also
// bounds the first pass when a corrupt rate makes the step vanish.
constexpr int32_t kMaxPatDataBytes = 64 << 20;
constexpr int32_t kChunkBytes = 8192;    // the resampling's output grows by this much
constexpr int32_t kEstimateMargin = 256; // bytes beyond the rate ratio's output size

// The longest envelope rate (63 << 3): the decay periods count down from it.
constexpr int32_t kEnvRateMax = 504;
constexpr double kRootFreqUnit = 0.001; // root frequency is stored in 1/1000 Hz

enum : uint8_t {
  kMode16Bit = 1,
  kModeUnsigned = 2,
  kModeLoop = 4,
};

struct WaveHeader {
  int32_t nWaveSize;   // bytes of raw data
  int32_t nLoopStart;  // bytes into the raw data
  int32_t nLoopEnd;    // bytes into the raw data
  int32_t nSampleRate; // Hz
  uint32_t nRootFreq;  // 1/1000 Hz
  uint8_t abRate[3];   // envelope rates 0-2
  uint8_t abOffset[2]; // envelope offsets 1-2
  uint8_t nMode;       // kMode* bits
};

WaveHeader ReadWaveHeader(const uint8_t *h) {
  WaveHeader w;
  w.nWaveSize = int32_t(ReadLe32(h + 8));
  w.nLoopStart = int32_t(ReadLe32(h + 12));
  w.nLoopEnd = int32_t(ReadLe32(h + 16));
  w.nSampleRate = int32_t(ReadLe16(h + 20));
  w.nRootFreq = ReadLe32(h + 30);
  w.abRate[0] = h[37];
  w.abRate[1] = h[38];
  w.abRate[2] = h[39];
  w.abOffset[0] = h[44];
  w.abOffset[1] = h[45];
  w.nMode = h[55];
  return w;
}

// Envelope rate byte: 6-bit mantissa, 2-bit exponent.
int32_t EnvRate(uint8_t x) {
  return (x & 63) << ((x / 64) & 3);
}

// Bytes that grow without being zeroed first (every byte is written before
// it is read), in sample memory: the buffer becomes the instrument's block.
struct ByteBuffer {
  uint8_t *p = nullptr;
  size_t nCapacity = 0;

  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer &) = delete;
  ByteBuffer &operator=(const ByteBuffer &) = delete;
  ~ByteBuffer() { SampleFree(p); }

  // Room for nBytes, the first nKeep kept; false when memory runs out.
  bool Reserve(size_t nBytes, size_t nKeep) {
    if (nBytes <= nCapacity)
      return true;
    const size_t nNew = nBytes > 2 * nCapacity ? nBytes : 2 * nCapacity;
    if (p != nullptr && SampleGrow(p, nNew)) {
      nCapacity = nNew;
      return true;
    }
    uint8_t *const q = SampleAlloc(nNew);
    if (q == nullptr)
      return false;
    if (nKeep > 0)
      std::memcpy(q, p, nKeep);
    SampleFree(p);
    p = q;
    nCapacity = nNew;
    return true;
  }

  // The bytes handed over, cut down to nBytes where they are the latest
  // block of their region (elsewhere the room stays unused).
  uint8_t *Release(size_t nBytes) {
    SampleGrow(p, nBytes);
    uint8_t *const q = p;
    p = nullptr;
    nCapacity = 0;
    return q;
  }
};

// A source sample as 16-bit signed data.
template <int32_t kWidth, bool kUnsigned> uint32_t SourceSample(const uint8_t *pSrc, int32_t s) {
  const uint32_t v = kWidth == 2 ? ReadLe16(pSrc + s) : uint32_t(pSrc[s]) * 256u;
  return v - (kUnsigned ? 0x8000u : 0u);
}

// The chosen wave's bytes, a stretch at a time: a large wave is never held
// whole, so loading keeps a small read buffer instead of one the size of the
// largest wave. Bytes the file does not have (a wave cut short) read as 0.
struct WaveReader {
  static constexpr int32_t kStretch = 64 << 10;
  static inline const uint8_t abZeros[kStretch + 2] = {}; // a stretch past the file's end

  ByteSource &src;
  size_t nFileOffset;         // the wave's first byte in the file
  int32_t nSize;              // the wave's bytes
  int32_t nPresent;           // of them in the file, 0 .. nSize
  int32_t nWidth;             // bytes a source sample read takes
  const uint8_t *p = nullptr; // wave bytes from nBase on
  int32_t nBase = 0;          // the wave offset p starts at
  int32_t sEnd = 0;           // reads at offsets below this lie in p

  // Makes the reads from offset s on available; false when the read fails.
  bool From(int32_t s) {
    nBase = s;
    if (s >= nPresent) {
      p = abZeros;
      sEnd = nSize - s < kStretch ? nSize : s + kStretch;
      return true;
    }
    const int32_t nAvail = nPresent - s < kStretch ? nPresent - s : kStretch;
    const bool bLast = s + nAvail == nPresent;
    // A 16-bit sample cut by the data's end reads a zero high byte.
    const size_t nZeros = bLast && nWidth == 2 && (nPresent & 1) != 0 ? 2 : 0;
    p = src.Read(nFileOffset + size_t(s), size_t(nAvail), nZeros);
    // Within the data a read needs its sample's last byte; at its end the
    // zeros stand in for it.
    sEnd = bLast ? nPresent : s + nAvail - (nWidth - 1);
    return p != nullptr;
  }
};

// Where a resampling stands: source offset, output offset, the accumulator.
struct ResampleAt {
  int32_t s;
  int32_t d;
  float fAcc;
};

// The smallest accumulator value c from which an output steps the source
// on: a rounded sum grows with its terms, so fAcc + r reaches kRefCycle
// exactly when fAcc >= c. Found next to kRefCycle - r in a few ulps.
float StepThreshold(float r) {
  float c = kRefCycle - r;
  while (c > 0.0f && std::nextafter(c, 0.0f) + r >= kRefCycle)
    c = std::nextafter(c, 0.0f);
  while (c + r < kRefCycle)
    c = std::nextafter(c, kRefCycle);
  return c;
}

// Outputs while d < dEnd and s < sStop, for a ratio below one cycle
// (r < kRefCycle), where each output steps the source at most once: with
// fAcc below kRefCycle, a = fAcc + r stays below twice kRefCycle, so a -
// kRefCycle is exact. The step is known from fAcc against StepThreshold
// before the sum is: the chain from one output to the next is one add and
// one subtract, and the step's test does not wait for the sum.
template <int32_t kWidth, bool kUnsigned>
void RunUp(const WaveReader &rd, float r, float c, uint8_t *pOut, ResampleAt &at, int32_t dEnd,
           int32_t sStop) {
  const uint8_t *const pSrc = rd.p;
  const int32_t nBase = rd.nBase;
  int32_t s = at.s, d = at.d;
#if defined(__SSE2__)
  // The step as a mask, not a branch: it follows no pattern a predictor
  // learns, and a miss costs more than the masked subtract.
  const __m128 vR = _mm_set_ss(r), vC = _mm_set_ss(c), vCycle = _mm_set_ss(kRefCycle);
  __m128 vAcc = _mm_set_ss(at.fAcc);
  while (d < dEnd && s < sStop) {
    const uint32_t v = SourceSample<kWidth, kUnsigned>(pSrc, s - nBase);
    pOut[d] = uint8_t(v);
    pOut[d + 1] = uint8_t(v >> 8);
    d += 2;
    const __m128 vStep = _mm_cmpge_ss(vAcc, vC);
    vAcc = _mm_sub_ss(_mm_add_ss(vAcc, vR), _mm_and_ps(vStep, vCycle)); // a - 0 is a
    s += _mm_cvtsi128_si32(_mm_castps_si128(vStep)) & kWidth;
  }
  at = {s, d, _mm_cvtss_f32(vAcc)};
#else
  float fAcc = at.fAcc;
  while (d < dEnd && s < sStop) {
    const uint32_t v = SourceSample<kWidth, kUnsigned>(pSrc, s - nBase);
    pOut[d] = uint8_t(v);
    pOut[d + 1] = uint8_t(v >> 8);
    d += 2;
    const bool bStep = fAcc >= c;
    fAcc = (fAcc + r) - (bStep ? kRefCycle : 0.0f); // a - 0 is a
    s += bStep ? kWidth : 0;
  }
  at = {s, d, fAcc};
#endif
}

// The resampling: writes the 16-bit samples to rOut and sets the loop points
// the first time the source position meets them, in single precision as
// patches have always been converted. Returns the output size in bytes, -1
// when it would exceed kMaxPatDataBytes, -2 when memory runs out, -3 when
// the wave cannot be read.
template <int32_t kWidth, bool kUnsigned>
int32_t Resample(const WaveHeader &w, WaveReader &rd, float r, Instrument &inst, ByteBuffer &rOut) {
  // Locals, not the records: the byte stores below could alias them.
  const int32_t nWaveSize = w.nWaveSize;
  const int32_t nLoopFrom = w.nLoopStart;
  const int32_t nLoopTo = w.nLoopEnd;
  const bool bUp = r < kRefCycle;
  const float c = bUp ? StepThreshold(r) : 0.0f;
  int32_t nLoopStart = inst.nLoopStart;
  int32_t nEnd = inst.nEnd;
  ResampleAt at{0, 0, 0.0f};
  while (at.s < nWaveSize) {
    // Room first, a chunk more when the buffer is full: the loops below make
    // no call, so the accumulator stays in a register instead of a round trip
    // through memory.
    int32_t d = at.d;
    if (rOut.nCapacity < size_t(d) + 2 && !rOut.Reserve(size_t(d) + kChunkBytes, size_t(d)))
      return -2;
    uint8_t *const pOut = rOut.p;
    const size_t nRoom = (rOut.nCapacity - size_t(d)) & ~size_t{1};
    const int32_t nChunk = nRoom < size_t(kChunkBytes) ? int32_t(nRoom) : kChunkBytes;
    const int32_t nChunkEnd = d + nChunk;
    if (at.s >= rd.sEnd && !rd.From(at.s))
      return -3;
    if (bUp) {
      // Up to the next loop point still to be met, which is then checked
      // only if this run's last step reached it.
      const int32_t s0 = at.s;
      int32_t sStop = nWaveSize;
      if (nLoopStart == 0 && nLoopFrom > s0 && nLoopFrom < sStop)
        sStop = nLoopFrom;
      if (nEnd == 0 && nLoopTo > s0 && nLoopTo < sStop)
        sStop = nLoopTo;
      if (rd.sEnd < sStop) // the stretch read ends first
        sStop = rd.sEnd;
      RunUp<kWidth, kUnsigned>(rd, r, c, pOut, at,
                               nChunkEnd < kMaxPatDataBytes ? nChunkEnd : kMaxPatDataBytes, sStop);
      if (at.s != s0 && at.s == nLoopFrom && nLoopStart == 0)
        nLoopStart = at.d;
      if (at.s != s0 && at.s == nLoopTo && nEnd == 0)
        nEnd = at.d;
      if (at.d >= kMaxPatDataBytes && at.s < nWaveSize)
        return -1; // the next output would pass the limit
      continue;
    }
    int32_t s = at.s;
    float fAcc = at.fAcc;
    const uint8_t *const pSrc = rd.p;
    const int32_t nBase = rd.nBase;
    const int32_t sReadEnd = rd.sEnd; // at most nWaveSize
    while (s < sReadEnd && d < nChunkEnd) {
      const uint32_t v = SourceSample<kWidth, kUnsigned>(pSrc, s - nBase);
      pOut[d] = uint8_t(v);
      pOut[d + 1] = uint8_t(v >> 8);
      d += 2;
      if (d > kMaxPatDataBytes)
        return -1;
      fAcc += r;
      while (fAcc >= kRefCycle) {
        fAcc -= kRefCycle;
        s += kWidth;
        if (s == nLoopFrom && nLoopStart == 0)
          nLoopStart = d;
        if (s == nLoopTo && nEnd == 0)
          nEnd = d;
        // Loop points lie within the wave, so further steps change nothing.
        if (s >= nWaveSize)
          break;
      }
    }
    at = {s, d, fAcc};
  }
  inst.nLoopStart = nLoopStart;
  inst.nEnd = nEnd;
  return at.d;
}

// The middle wave of a patch: the one a patch plays.
struct PatWave {
  WaveHeader w;
  size_t nOffset;   // its data in the file
  int32_t nPresent; // bytes of its data the file holds
  float r;          // its rate over its root frequency
  int32_t nWidth;   // bytes a sample
  double fOutBytes; // converted bytes the rate ratio gives
};

// Walks the headers to the middle wave; false when the patch cannot be used
// (a rate that never ends the conversion, or more data than a patch may
// take). Short reads are not failures: what the file lacks reads as 0, so a
// cut file or a wave count of 0 (whose half picks the first wave) loads.
bool FindPatWave(ByteSource &src, PatWave &pw) {
  const size_t nFile = src.Size();
  uint8_t abHeader[kPatHeaderBytes] = {};
  src.CopyTo(abHeader, 0, kPatHeaderBytes);
  const int32_t nWaves = abHeader[kPatWaveCountOffset];

  // Offsets in 64 bits: wave sizes come from the file unchecked.
  int64_t nOffset = kPatHeaderBytes;
  WaveHeader w{};
  for (int32_t k = 0; k <= nWaves / 2; k++) {
    uint8_t abWave[kWaveHeaderBytes] = {};
    if (nOffset >= 0 && uint64_t(nOffset) < nFile)
      src.CopyTo(abWave, size_t(nOffset), kWaveHeaderBytes);
    w = ReadWaveHeader(abWave);
    nOffset += kWaveHeaderBytes;
    if (k < nWaves / 2)
      nOffset += w.nWaveSize;
  }
  if (w.nWaveSize < 0)
    w.nWaveSize = 0; // nothing to convert: the sample is empty
  int32_t nPresent = 0;
  if (nOffset >= 0 && uint64_t(nOffset) < nFile)
    nPresent = uint64_t(w.nWaveSize) < nFile - uint64_t(nOffset) ? w.nWaveSize
                                                                 : int32_t(nFile - size_t(nOffset));

  const float fRootHz = float(double(w.nRootFreq) * kRootFreqUnit);
  float r = float(w.nSampleRate) / fRootHz;
  if (w.nWaveSize == 0)
    r = kRefCycle; // unused: keeps the estimate below finite
  // A rate or root of 0 (or a ratio that yields more data than a patch can
  // hold) would never finish or never fit.
  if (!std::isfinite(r) || !(r > 0.0f))
    return false;
  const int32_t p = (w.nMode & kMode16Bit) ? 2 : 1;
  const double fOutBytes = double(w.nWaveSize) / p * (double(kRefCycle) / r) * 2.0;
  if (fOutBytes > double(kMaxPatDataBytes) * 1.01)
    return false;
  pw = {w, nOffset >= 0 ? size_t(nOffset) : 0, nPresent, r, p, fOutBytes};
  return true;
}

} // namespace

size_t PatSampleBytes(ByteSource &src) {
  PatWave pw;
  return FindPatWave(src, pw) ? size_t(pw.fOutBytes) : 0;
}

int32_t ParsePatSource(Instrument &inst, ByteSource &src) {
  StartSampleLoad(inst, kTypePat);
  PatWave pw;
  if (!FindPatWave(src, pw))
    return 0;
  const WaveHeader &w = pw.w;
  const int32_t p = pw.nWidth;
  // A 16-bit wave of odd size reads one byte past its end, which reads as 0.
  WaveReader rd{src, pw.nOffset, w.nWaveSize, pw.nPresent, p};

  inst.nLoopStart = 0;
  inst.nEnd = 0;
  // A sample the set has no room left for is refused before it is converted.
  if (pw.fOutBytes > double(SampleBytesLeft()))
    return 0;
  // The size the rate ratio gives, a little more for its rounding, and the
  // slack: the buffer becomes the instrument's block, mostly without a move.
  ByteBuffer out;
  if (!out.Reserve(size_t(pw.fOutBytes) + kEstimateMargin + kBlockSlack, 0))
    return 0;
  const bool bUnsigned = (w.nMode & kModeUnsigned) != 0;
  const float r = pw.r;
  const int32_t nSize = p == 2 ? (bUnsigned ? Resample<2, true>(w, rd, r, inst, out)
                                            : Resample<2, false>(w, rd, r, inst, out))
                               : (bUnsigned ? Resample<1, true>(w, rd, r, inst, out)
                                            : Resample<1, false>(w, rd, r, inst, out));
  if (nSize < 0 || !out.Reserve(size_t(nSize) + kBlockSlack, size_t(nSize)))
    return 0;
  inst.nDataSize = nSize;
  inst.hData = AdoptBlock(out.Release(size_t(nSize) + kBlockSlack), size_t(nSize));
  if (inst.hData == nullptr)
    return 0;
  inst.pData = LockBlock(inst.hData);

  inst.nTranspose = 0;
  inst.nStart = 0;
  inst.bLoop = (w.nMode & kModeLoop) ? 1 : 0;
  inst.nAttackStep = EnvRate(w.abRate[0]) / 2;
  inst.nDecayPeriod = (kEnvRateMax - EnvRate(w.abRate[1])) / 16;
  inst.nDecayLevel = w.abOffset[0] / 2;
  inst.nDecay2Period = (kEnvRateMax - EnvRate(w.abRate[2])) / 16;
  inst.nFloorLevel = w.abOffset[1] / 2;
  inst.nReleaseStep = 3;
  if (inst.nEnd == 0)
    inst.nEnd = inst.nDataSize;
  if (inst.nLoopStart > inst.nEnd)
    inst.nEnd = inst.nLoopStart;
  FinishSampleLoad(inst);
  return 1;
}

int32_t ParsePatSample(Instrument &inst, const uint8_t *pFile, size_t nFile) {
  MemorySource src(pFile, nFile);
  return ParsePatSource(inst, src);
}

} // namespace vokra
