#include "tools/soundset/patch_convert.h"

#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/soundset/timidity_cfg.h"

constexpr size_t kPatchHeaderBytes = 239;
constexpr size_t kWaveHeaderBytes = 96;
constexpr size_t kEpcHeaderBytes = 64;
constexpr int32_t kSemitones[12] = {17416, 18432, 19576, 20684, 21968, 23096,
                                    24822, 25892, 27444, 29276, 31132, 32768};
// Middle C: one cycle is 168.55865478515625 samples at 44100 Hz.
constexpr double kMiddleCHz = 44100.0 / 168.55865478515625;
// Envelope ticks per second of a voice stepping s samples per output sample
// at 44100 Hz: nStep x 44100 / 22050 + 512 with nStep = 272 s.
double EnvelopeTicks(double dStep) {
  return 512.0 + 544.0 * dStep;
}
// A GUS envelope rate r moves the level across its whole 0..255 range in
// kGusFullSweep / r seconds (an increment of r << 9 per sample on a 2^30
// scale at 44100 Hz).
constexpr double kGusFullSweep = 1069547520.0 / (512.0 * 44100.0);
// Band limit: the data is kept free of what would alias up to this many
// semitones above the lowest usual note.
constexpr int32_t kUsualRange = 24;
// Loops are repeated until their resampled length is a whole number of
// samples within this many cents of the wanted pitch.
constexpr double kLoopCents = 0.3;
constexpr int32_t kMaxLoopRepeats = 64;
// A converted wave larger than this (8 MiB; freepats' largest is 2 MiB)
// comes from a damaged header, not from an instrument.
constexpr double kMaxStoredSamples = 4 << 20;

static uint32_t Le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
static uint32_t Le16(const uint8_t *p) {
  return p[0] | (p[1] << 8);
}

int32_t ParsePatch(const uint8_t *pData, size_t nSize, PatchWave *pWave) {
  if (nSize < kPatchHeaderBytes + kWaveHeaderBytes)
    return 0;
  int32_t nWaves = pData[85];
  size_t nOffset = kPatchHeaderBytes;
  for (int32_t w = 0; w < nWaves / 2; ++w) {
    if (nOffset + kWaveHeaderBytes > nSize)
      return 0;
    nOffset += kWaveHeaderBytes + Le32(pData + nOffset + 8);
  }
  if (nOffset + kWaveHeaderBytes > nSize)
    return 0;
  const uint8_t *h = pData + nOffset;
  uint32_t nBytes = Le32(h + 8);
  if (nBytes > nSize - nOffset - kWaveHeaderBytes)
    return 0;
  PatchWave w;
  w.nModes = h[55];
  const int32_t nWidth = (w.nModes & 1) ? 2 : 1;
  w.nRate = static_cast<int32_t>(Le16(h + 20));
  w.dRootHz = Le32(h + 30) * 0.001;
  w.nLoopStart = static_cast<int32_t>(std::min<uint32_t>(Le32(h + 12), nBytes) / nWidth);
  w.nLoopEnd = static_cast<int32_t>(std::min<uint32_t>(Le32(h + 16), nBytes) / nWidth);
  w.nScaleFactor = static_cast<int32_t>(Le16(h + 58));
  std::memcpy(w.abRate, h + 37, 6);
  std::memcpy(w.abOffset, h + 43, 6);
  if (w.nRate <= 0 || w.dRootHz <= 0 || nBytes < static_cast<uint32_t>(2 * nWidth))
    return 0;
  const uint8_t *s = h + kWaveHeaderBytes;
  const bool bUnsigned = w.nModes & 2;
  w.aSamples.resize(nBytes / nWidth);
  for (size_t i = 0; i < w.aSamples.size(); ++i) {
    int32_t v =
        nWidth == 2 ? static_cast<int32_t>(Le16(s + 2 * i)) : static_cast<int32_t>(s[i]) << 8;
    if (bUnsigned)
      v -= 0x8000;
    else if (v >= 0x8000)
      v -= 0x10000;
    w.aSamples[i] = static_cast<float>(v);
  }
  if (!(w.nModes & 4) || w.nLoopEnd - w.nLoopStart < 2 ||
      w.nLoopEnd > static_cast<int32_t>(w.aSamples.size()))
    w.nModes &= ~(4 | 8);
  *pWave = std::move(w);
  return 1;
}

bool ReplaceFile(const std::string &sPath, const void *pData, size_t nBytes) {
  const std::string sTemp = sPath + ".tmp";
  std::ofstream out(sTemp, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char *>(pData), static_cast<std::streamsize>(nBytes));
  out.close();
  if (!out || std::rename(sTemp.c_str(), sPath.c_str()) != 0) {
    const int nError = errno; // for the caller's message
    std::remove(sTemp.c_str());
    errno = nError;
    return false;
  }
  return true;
}

std::vector<uint8_t> EpcBytes(const EpcImage &epc) {
  std::vector<uint8_t> a(kEpcHeaderBytes + 2 * epc.aData.size(), 0);
  auto put = [&a](size_t nAt, int32_t v) {
    for (int32_t i = 0; i < 4; ++i)
      a[nAt + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  };
  std::memcpy(a.data(), "EPC1", 4);
  put(4, static_cast<int32_t>(2 * epc.aData.size()));
  a[23] = static_cast<uint8_t>(static_cast<int8_t>(epc.nTranspose));
  put(24, 0);
  put(28, epc.nLoopStart);
  put(32, epc.nEnd);
  put(36, epc.nAttackStep);
  put(40, epc.nDecayPeriod);
  put(44, epc.nDecay2Period);
  put(48, epc.nReleaseStep);
  put(52, epc.nDecayLevel);
  put(56, epc.nFloorLevel);
  put(60, epc.bLoop);
  for (size_t i = 0; i < epc.aData.size(); ++i) {
    uint16_t u = static_cast<uint16_t>(epc.aData[i]);
    a[kEpcHeaderBytes + 2 * i] = static_cast<uint8_t>(u);
    a[kEpcHeaderBytes + 2 * i + 1] = static_cast<uint8_t>(u >> 8);
  }
  return a;
}

double TablePitchHz(int32_t nNote) {
  return kMiddleCHz * kSemitones[nNote % 12] / kSemitones[0] * std::exp2(nNote / 12 - 5);
}

int32_t TableStep44100(int32_t nNote) {
  int32_t o = nNote / 12, s = nNote % 12;
  int64_t v = o <= 9 ? kSemitones[s] >> (9 - o) : static_cast<int64_t>(kSemitones[s]) << (o - 9);
  return static_cast<int32_t>(v * 11025 / 44100);
}

// Band-limited resampling from dInRate to dOutRate, passing nothing above
// dCutoff cycles per input sample (0: the Nyquist limit). A limit below the
// output's Nyquist frequency takes a first pass down to twice the limit.
static std::vector<float> Resample(const std::vector<float> &aIn, double dInRate, double dOutRate,
                                   double dCutoff) {
  const double dNyquist = 0.5 * std::min(1.0, dOutRate / dInRate); // cycles per input sample
  if (dCutoff > 0 && dCutoff < 0.95 * dNyquist) {
    const double dMidRate = dInRate * 2.0 * dCutoff;
    return Resample(Resample(aIn, dInRate, dMidRate, 0), dMidRate, dOutRate, 0);
  }
  soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, SOXR_HI_PREC_CLOCK);
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  std::vector<float> aOut(static_cast<size_t>(std::floor(aIn.size() * dOutRate / dInRate)));
  soxr_error_t e = nullptr;
  soxr_t pResampler = soxr_create(dInRate, dOutRate, 1, &e, &io, &q, nullptr);
  if (e)
    return {};
  // Fed in pieces that make about 16384 output samples each, and asked for at
  // most that many a call: given more at once (or a few input samples at a
  // large ratio) the resampler's queue grows by reallocation, one copy per
  // growth. The samples made are the same however the calls are cut.
  const size_t nPiece =
      static_cast<size_t>(std::clamp(16384.0 * dInRate / dOutRate, 16.0, 16384.0));
  size_t nIn = 0, nOut = 0;
  while (nOut < aOut.size()) {
    const size_t nChunk = std::min(nPiece, aIn.size() - nIn);
    size_t nUsed = 0, nMade = 0;
    e = soxr_process(pResampler, nChunk ? aIn.data() + nIn : nullptr, nChunk, &nUsed,
                     aOut.data() + nOut, std::min<size_t>(aOut.size() - nOut, 16384), &nMade);
    nIn += nUsed;
    nOut += nMade;
    if (e || (nChunk == 0 && nMade == 0))
      break;
  }
  soxr_delete(pResampler);
  if (e)
    return {};
  aOut.resize(nOut);
  return aOut;
}

// Attack, decays and release of the unit's simple envelope from the patch's,
// for a voice whose envelope ticks dTicks times a second. Both envelopes are
// linear in amplitude: a GUS offset o is the level 127 x o / 255.
static void MapEnvelope(const PatchWave &w, double dTicks, EpcImage *pEpc) {
  auto level = [](int32_t nOffset) { return 127.0 * nOffset / 255.0; };
  auto seconds = [](int32_t nFrom, int32_t nTo, uint8_t bRate) {
    int32_t r = (bRate & 63) << (3 * (3 - (bRate >> 6)));
    return r == 0 ? 1e9 : std::abs(nFrom - nTo) / 255.0 * kGusFullSweep / r;
  };
  auto clamp = [](double d, int32_t nLo, int32_t nHi) {
    return static_cast<int32_t>(
        std::clamp(std::lround(d), static_cast<long>(nLo), static_cast<long>(nHi)));
  };
  EpcImage &e = *pEpc;
  if (!(w.nModes & 64)) { // no envelope: full level while held, a fade after
    e.nAttackStep = 127;
    e.nDecayPeriod = e.nDecay2Period = 1;
    e.nDecayLevel = e.nFloorLevel = 126;
    e.nReleaseStep = clamp(126 * 20 / (dTicks * 0.3), 1, 127);
    return;
  }
  const uint8_t *o = w.abOffset, *r = w.abRate;
  // Attack: the unit climbs to 127 by nAttackStep every 5 ticks.
  double dAttack = seconds(0, o[0], r[0]);
  e.nAttackStep = clamp(std::ceil(127.0 * 5.0 / std::max(dAttack * dTicks, 1e-9)), 1, 127);
  // First decay: 127 down to the second offset's level, one step per period.
  double dL1 = std::min(level(o[1]), 126.0);
  e.nDecayLevel = clamp(dL1, 0, 126);
  e.nDecayPeriod =
      clamp(seconds(o[0], o[1], r[1]) * dTicks / std::max(127.0 - dL1, 1.0), 1, 1 << 24);
  // Second decay to the sustain level; without the sustain bit the patch
  // keeps falling through its release while the key is held, to silence.
  double dFloor, dTime;
  if (w.nModes & 32) {
    dFloor = std::min(level(o[2]), dL1);
    dTime = seconds(o[1], o[2], r[2]);
  } else {
    dFloor = 0;
    dTime = seconds(o[1], o[2], r[2]) + seconds(o[2], o[3], r[3]);
  }
  e.nFloorLevel = clamp(dFloor, 0, 126);
  e.nDecay2Period = clamp(dTime * dTicks / std::max(dL1 - e.nFloorLevel, 1.0), 1, 1 << 24);
  // Release: the patch falls at rate 3 from where the note stands (its
  // sustain offset, or the offset before a second decay slower than a
  // second), the unit by nReleaseStep every 20 ticks; both reach -40 dB
  // together.
  int32_t nFrom = (w.nModes & 32) ? o[2] : o[1];
  if ((w.nModes & 32) && seconds(o[1], o[2], r[2]) > 1.0)
    nFrom = o[1];
  double dRelease = seconds(nFrom, std::max<int32_t>(o[3], nFrom / 100), r[3]);
  double dFrom = std::clamp(level(nFrom), 1.0, 127.0);
  e.nReleaseStep = clamp(0.99 * dFrom * 20.0 / std::max(dRelease * dTicks, 1e-9), 1, 127);
}

// Resamples the wave by dRatio (stored samples per source sample) into
// pEpc's data and loop points; a loop is repeated until its resampled length
// is a whole number of samples, and the stored loop starts where the output
// has settled into its period, so the seam is as smooth as the signal.
static int32_t ResampleWave(const PatchWave &w, double dRatio, double dCutoff, bool bLoop,
                            EpcImage *pEpc, double *pPeak) {
  std::vector<float> aHead, aLoop;
  size_t nLoopStart = static_cast<size_t>(w.nLoopStart);
  if (bLoop) {
    aHead.assign(w.aSamples.begin(), w.aSamples.begin() + w.nLoopStart);
    aLoop.assign(w.aSamples.begin() + w.nLoopStart, w.aSamples.begin() + w.nLoopEnd);
    if (w.nModes & 8) // ping-pong: forward, then back without repeating the ends
      for (int32_t i = w.nLoopEnd - 2; i > w.nLoopStart; --i)
        aLoop.push_back(w.aSamples[i]);
  } else {
    aHead = w.aSamples;
  }
  if (!(dRatio > 0) || (aHead.size() + 2 * aLoop.size()) * dRatio > kMaxStoredSamples)
    return 0;
  // Long loops need few repeats: one is within a cent from 1700 samples on.
  const int32_t nMaxRepeats = static_cast<int32_t>(
      std::clamp(kMaxStoredSamples / (std::max<size_t>(aLoop.size(), 1) * dRatio), 1.0,
                 static_cast<double>(kMaxLoopRepeats)));
  std::vector<float> aOut;
  size_t nOutLoopStart = 0, nOutLoop = 0;
  if (!bLoop) {
    aOut = Resample(aHead, 1.0, dRatio, dCutoff);
    if (aOut.empty())
      return 0;
  } else {
    const double dLoop = static_cast<double>(aLoop.size());
    int32_t nBest = 1;
    double dBestCents = 1e9;
    for (int32_t n = 1; n <= nMaxRepeats; ++n) {
      double x = n * dLoop * dRatio;
      double m = std::max(1.0, std::round(x));
      double dCents = std::abs(1200.0 * std::log2(m / x));
      if (dCents < dBestCents) {
        dBestCents = dCents;
        nBest = n;
      }
      if (dCents < kLoopCents && m >= 16)
        break;
    }
    const size_t nIn = static_cast<size_t>(nBest) * aLoop.size();
    nOutLoop = static_cast<size_t>(std::max(1.0, std::round(nIn * dRatio)));
    // Enough repeats for the head, its settling and two periods to compare.
    size_t nWant = static_cast<size_t>(nLoopStart * dRatio) + 3 * nOutLoop + 16384;
    std::vector<float> aIn = aHead;
    while (aIn.size() < nLoopStart + static_cast<size_t>(nWant / dRatio) + aLoop.size())
      aIn.insert(aIn.end(), aLoop.begin(), aLoop.end());
    aOut = Resample(aIn, static_cast<double>(nIn), static_cast<double>(nOutLoop), dCutoff);
    if (aOut.size() < nOutLoop * 2)
      return 0;
    // First point from which the output repeats itself every nOutLoop samples
    // (for nCheck samples in a row).
    size_t a = static_cast<size_t>(std::ceil(nLoopStart * static_cast<double>(nOutLoop) / nIn));
    const size_t nCheck = std::min<size_t>(nOutLoop, 256);
    size_t nRun = 0;
    for (size_t i = a; nRun < nCheck && i + nOutLoop < aOut.size(); ++i) {
      if (std::abs(aOut[i] - aOut[i + nOutLoop]) < 1.0f) {
        ++nRun;
      } else {
        nRun = 0;
        a = i + 1;
      }
    }
    if (nRun < nCheck || a + nOutLoop > aOut.size())
      return 0;
    nOutLoopStart = a;
    aOut.resize(a + nOutLoop);
  }
  float fPeak = 1.0f;
  for (float f : aOut)
    fPeak = std::max(fPeak, std::abs(f));
  *pPeak = fPeak / 32768.0;
  pEpc->aData.resize(aOut.size());
  for (size_t i = 0; i < aOut.size(); ++i)
    pEpc->aData[i] = static_cast<int16_t>(std::lround(aOut[i] * (32767.0f / fPeak)));
  pEpc->bLoop = bLoop ? 1 : 0;
  pEpc->nEnd = static_cast<int32_t>(2 * (aOut.size() - 1));
  pEpc->nLoopStart = bLoop ? static_cast<int32_t>(2 * nOutLoopStart) : 0;
  return 1;
}

int32_t ConvertMelodic(const PatchWave &w, int32_t nLowNote, Conversion *pOut) {
  double dRootNote = 69.0 + 12.0 * std::log2(w.dRootHz / 440.0);
  int32_t nRoot = std::clamp(static_cast<int32_t>(std::lround(dRootNote)), 0, 127);
  // The lowest usual note steps exactly one stored sample per output sample
  // at 44100 Hz, the notes an octave and two above it two and four: whole
  // steps repeat and skip no sample unevenly, and below one a voice would
  // hold samples and draw steps heard as grit. The transposition field puts
  // the root at its own pitch.
  Conversion c;
  c.epc.nTranspose = 60 - nLowNote;
  const int32_t nRootStepNote = std::clamp(nRoot + c.epc.nTranspose, 0, 143);
  const double dStep = TableStep44100(nRootStepNote) / 272.0;
  // At note nRoot the unit steps dStep; it must sound the table's pitch.
  const double dRatio = w.dRootHz * dStep * 44100.0 / (w.nRate * TablePitchHz(nRoot));
  // Nothing the notes up to two octaves above the lowest would fold back.
  const double dCutoff = 0.5 * dRatio * std::exp2(-kUsualRange / 12.0);
  if (!ResampleWave(w, dRatio, dCutoff, (w.nModes & 4) != 0, &c.epc, &c.dPeak))
    return 0;
  c.dStoredRate = w.nRate * dRatio;
  // Envelope times hold an octave and a half above the lowest note (step
  // 2^1.5); the clock runs with the step, so lower notes take longer.
  MapEnvelope(w, EnvelopeTicks(std::exp2(1.5)), &c.epc);
  *pOut = std::move(c);
  return 1;
}

int32_t ConvertDrum(const PatchWave &w, int32_t nPitchNote, Conversion *pOut, bool bKeepLoop) {
  double dTarget = nPitchNote < 0 ? w.dRootHz : TablePitchHz(nPitchNote);
  // One sample per output sample unless that would store more than four
  // times the output rate; then octaves down go into the key shift.
  int32_t j = 0;
  while (j > -4 && 44100.0 * std::exp2(j) * w.dRootHz / dTarget > 4 * 44100.0)
    --j;
  Conversion c;
  c.nKeyShift = 12 * j;
  const double dStep = TableStep44100(60 + 12 * j) / 272.0;
  const double dRatio = w.dRootHz * dStep * 44100.0 / (w.nRate * dTarget);
  if (!ResampleWave(w, dRatio, 0, bKeepLoop && (w.nModes & 4), &c.epc, &c.dPeak))
    return 0;
  c.dStoredRate = w.nRate * dRatio;
  c.epc.nAttackStep = 127;
  c.epc.nDecayPeriod = 1 << 30; // the level holds; the voice ends with its data
  c.epc.nDecayLevel = c.epc.nFloorLevel = 0;
  c.epc.nDecay2Period = 1;
  c.epc.nReleaseStep = 127;
  *pOut = std::move(c);
  return 1;
}

int32_t UsualLowNote(int32_t nProgram) {
  // Bass instruments play two octaves lower than the rest; a few high
  // instruments start an octave higher.
  if ((nProgram >= 32 && nProgram <= 39) || nProgram == 43 || nProgram == 58 || nProgram == 70 ||
      nProgram == 87)
    return 28;
  if (nProgram == 42 || nProgram == 57 || nProgram == 67 || nProgram == 71)
    return 36;
  if (nProgram == 72 || (nProgram >= 8 && nProgram <= 15 && nProgram != 12) || nProgram == 112)
    return 60;
  return 48;
}

// The level the converted sets play at: TiMidity++ scales a patch without
// amp= to a full-scale peak and one with amp= by that percentage, and so do
// these gains (option A 64 plays a full-scale sample at full scale), set so
// that none of the 31 openmsx songs clips at the default settings (loudest
// peak -0.7 dBFS at 44100 Hz, -1.5 at 22050).
constexpr double kMelodicGain = 0.53;
constexpr double kDrumGain = 0.88;

int32_t ConvertSoundSet(const TimidityReader &reader, const std::string &sLinkName,
                        const std::string &sDir, std::vector<SoundSetPatch> *pPatches,
                        std::vector<std::string> *pWarnings) {
  std::error_code ec;
  std::filesystem::create_directories(sDir, ec);
  int32_t nDone = 0;
  for (SoundSetPatch &p : *pPatches) {
    std::string sFile = reader.ResolveName(p.sName);
    std::ifstream in(sFile, std::ios::binary);
    std::vector<uint8_t> aBytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    PatchWave wave;
    Conversion c;
    if (!ParsePatch(aBytes.data(), aBytes.size(), &wave) ||
        !(p.bDrum ? ConvertDrum(wave, p.nKeyShift + 60, &c)
                  : ConvertMelodic(wave, UsualLowNote(p.nKey), &c))) {
      pWarnings->push_back(p.sName + ": cannot be converted, the patch stays");
      continue;
    }
    char szName[48];
    std::snprintf(szName, sizeof szName, "%s%03d-%03d.epc", p.bDrum ? "kit" : "bank", p.nBank,
                  p.nKey);
    const std::vector<uint8_t> aEpc = EpcBytes(c.epc);
    if (!ReplaceFile((std::filesystem::path(sDir) / szName).string(), aEpc.data(), aEpc.size())) {
      pWarnings->push_back(std::string(szName) + ": cannot be written in " + sDir);
      continue;
    }
    double dLevel = p.nAmpPercent >= 0 ? p.nAmpPercent / 100.0 * c.dPeak : 1.0;
    p.nGain = static_cast<int32_t>(
        std::clamp(std::lround(64.0 * (p.bDrum ? kDrumGain : kMelodicGain) * dLevel), 1L, 512L));
    p.nKeyShift = c.nKeyShift;
    p.sName = sLinkName + "/" + szName;
    ++nDone;
  }
  return nDone;
}
