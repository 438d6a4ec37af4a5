#include "tools/soundset/sf2_convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/soundset/timidity_cfg.h"

namespace {

// Key and velocity a program's sample is taken at: an octave above the
// lowest note it usually plays, struck at velocity 100.
constexpr int32_t kVelocity = 100;
constexpr int32_t kFirstDrum = 35, kLastDrum = 81;
constexpr int32_t kDrumBank = 128;
// The decibel range a SoundFont envelope spans from full level to silence.
constexpr double kEnvelopeDb = 96.0;
// Seconds a note is typically held before its release.
constexpr double kTypicalHold = 0.5;
// A sustain this far down (or further) is silence: the note decays away.
constexpr double kSilentDb = 60.0;
// Cutoffs from this many cents on (13500: 20 kHz) leave the wave alone.
constexpr int32_t kOpenFilter = 13500;
// Samples a baked filter needs to settle into a loop's period.
constexpr int64_t kFilterSettle = 4096;
// The level the sets play at, option A 64 playing a full-scale sample at full
// scale: chosen so that the 31 openmsx songs do not clip at the default
// settings and sit near TiMidity++'s loudness.
constexpr double kMelodicGain = 1.03;
constexpr double kDrumGain = 1.25;

double Seconds(int32_t nTimecents) {
  return std::exp2(std::clamp(nTimecents, -12000, 8000) / 1200.0);
}
double Level(double dDb) {
  return 127.0 * std::pow(10.0, -dDb / 20.0);
}
int32_t Clamp(double d, int32_t nLo, int32_t nHi) {
  return static_cast<int32_t>(
      std::clamp(std::lround(d), static_cast<long>(nLo), static_cast<long>(nHi)));
}

} // namespace

void MapSf2Envelope(const int32_t *g, int32_t nKey, double dTicks, EpcImage *pEpc) {
  EpcImage &e = *pEpc;
  // The unit has no delay: the attack takes it in.
  const double dAttack = Seconds(g[kSf2DelayVolEnv]) + Seconds(g[kSf2AttackVolEnv]);
  e.nAttackStep = Clamp(std::ceil(127.0 * 5.0 / std::max(dAttack * dTicks, 1e-9)), 1, 127);
  const double dHold = Seconds(g[kSf2HoldVolEnv] + g[kSf2KeyToVolEnvHold] * (60 - nKey));
  const double dDecay = Seconds(g[kSf2DecayVolEnv] + g[kSf2KeyToVolEnvDecay] * (60 - nKey));
  const double dSustainDb = std::clamp(g[kSf2SustainVolEnv], 0, 1440) / 10.0;
  double dHeldDb = 0; // where a held note stands when it is released
  if (dSustainDb < 1.0) {
    e.nDecayLevel = e.nFloorLevel = 126;
    e.nDecayPeriod = e.nDecay2Period = 1;
  } else {
    // The zone falls in decibels, the unit in level steps: two straight
    // segments meeting its curve at dMid and dLow decibels.
    const double dMid = std::min(dSustainDb / 2, 20.0), dLow = std::min(dSustainDb, 40.0);
    const double dL1 = Level(dMid), dL2 = Level(dLow);
    e.nDecayLevel = Clamp(dL1, 1, 126);
    const double dT1 = dHold + dDecay * dMid / kEnvelopeDb;
    e.nDecayPeriod = Clamp(dT1 * dTicks / std::max(127.0 - e.nDecayLevel, 1.0), 1, 1 << 24);
    e.nFloorLevel = dSustainDb >= kSilentDb ? 0 : Clamp(Level(dSustainDb), 0, e.nDecayLevel);
    const double dT2 = dDecay * (dLow - dMid) / kEnvelopeDb;
    e.nDecay2Period = Clamp(dT2 * dTicks / std::max(dL1 - dL2, 1.0), 1, 1 << 24);
    // Where the zone's decay stands after a typical held note.
    dHeldDb = std::min(dSustainDb, kEnvelopeDb * std::max(kTypicalHold - dHold, 0.0) / dDecay);
  }
  // Release: the zone falls 40 dB in 40/96 of its release time from where
  // the note stands; the unit by nReleaseStep every 20 ticks, linearly.
  const double dRelease = std::max(Seconds(g[kSf2ReleaseVolEnv]) * 40.0 / kEnvelopeDb, 0.005);
  e.nReleaseStep = Clamp(0.99 * Level(dHeldDb) * 20.0 / (dRelease * dTicks), 1, 127);
}

namespace {

// One channel of a region: its samples and loop (nLoopEnd 0: none).
struct Channel {
  std::vector<float> a;
  int64_t nLoopStart = 0, nLoopEnd = 0;
};

int32_t ReadChannel(const Sf2File &sf2, const Sf2SampleHeader &h, const int32_t *g, Channel *pOut) {
  const int64_t nPool = static_cast<int64_t>(sf2.PoolSize());
  const int64_t nStart =
      int64_t{h.nStart} + g[kSf2StartOffset] + 32768LL * g[kSf2StartCoarseOffset];
  const int64_t nEnd = int64_t{h.nEnd} + g[kSf2EndOffset] + 32768LL * g[kSf2EndCoarseOffset];
  if (nStart < 0 || nStart + 2 > nEnd || nEnd > nPool)
    return 0;
  pOut->a.assign(sf2.Pool() + nStart, sf2.Pool() + nEnd);
  const int64_t nLoopStart = int64_t{h.nLoopStart} + g[kSf2LoopStartOffset] +
                             32768LL * g[kSf2LoopStartCoarseOffset] - nStart;
  const int64_t nLoopEnd =
      int64_t{h.nLoopEnd} + g[kSf2LoopEndOffset] + 32768LL * g[kSf2LoopEndCoarseOffset] - nStart;
  const int32_t nMode = g[kSf2SampleModes] & 3;
  if ((nMode == 1 || nMode == 3) && nLoopStart >= 0 && nLoopStart + 2 <= nLoopEnd &&
      nLoopEnd <= nEnd - nStart) {
    pOut->nLoopStart = nLoopStart;
    pOut->nLoopEnd = nLoopEnd;
  }
  return 1;
}

// The channel's samples as played, its loop repeated, up to n samples.
float Played(const Channel &c, int64_t i) {
  if (c.nLoopEnd > 0 && i >= c.nLoopEnd)
    i = c.nLoopStart + (i - c.nLoopStart) % (c.nLoopEnd - c.nLoopStart);
  return i < static_cast<int64_t>(c.a.size()) ? c.a[static_cast<size_t>(i)] : 0.0f;
}

// The zone's low-pass filter baked into the wave (the unit has none): a
// two-pole low-pass at dCutoffHz with resonance dQ, as FluidSynth runs it.
// A looping wave is filtered over repeats of its loop until the filter has
// settled, and its last repeat becomes the loop, so the seam stays seamless.
void BakeFilter(Channel *pC, double dRate, double dCutoffHz, double dQ) {
  const double w0 = 2.0 * M_PI * dCutoffHz / dRate, dAlpha = std::sin(w0) / (2.0 * dQ);
  const double c = std::cos(w0), a0 = 1.0 + dAlpha, dGain = 1.0 / std::sqrt(dQ);
  const double b0 = dGain * (1.0 - c) / 2.0 / a0, b1 = dGain * (1.0 - c) / a0, b2 = b0;
  const double a1 = -2.0 * c / a0, a2 = (1.0 - dAlpha) / a0;
  int64_t n = static_cast<int64_t>(pC->a.size());
  int64_t nRepeats = 0;
  const int64_t nLoop = pC->nLoopEnd - pC->nLoopStart;
  if (pC->nLoopEnd > 0) {
    nRepeats = std::max<int64_t>(1, (kFilterSettle + nLoop - 1) / nLoop);
    n = pC->nLoopEnd + nRepeats * nLoop;
  }
  std::vector<float> aOut(static_cast<size_t>(n));
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double x = Played(*pC, i);
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    aOut[static_cast<size_t>(i)] = static_cast<float>(y);
  }
  pC->a = std::move(aOut);
  if (pC->nLoopEnd > 0) {
    pC->nLoopStart += nRepeats * nLoop;
    pC->nLoopEnd += nRepeats * nLoop;
  }
}

} // namespace

int32_t Sf2Wave(const Sf2File &sf2, const std::vector<Sf2Region> &aRegions, size_t nChosen,
                int32_t bDrum, int32_t nKey, PatchWave *pWave) {
  if (nChosen >= aRegions.size())
    return 0;
  const Sf2Region &r = aRegions[nChosen];
  const int32_t *g = r.anGen;
  const Sf2SampleHeader &s = sf2.aSamples[static_cast<size_t>(r.nSample)];
  Channel c;
  if (!ReadChannel(sf2, s, g, &c) || s.nRate < 400 || s.nRate > 400000)
    return 0;
  // A stereo pair plays as one: the partner summed in. The partner is the
  // linked sample when the link goes both ways (its own region where the
  // preset has one) or, where it does not (FluidR3 links every sample to
  // sample 0), the region panned to the other side over the same keys.
  // Looping pairs sum into one loop when their loops are equally long: from
  // where both loop, every loop length repeats.
  Channel p;
  int32_t nPartner = -1;
  const int32_t *pGen = g;
  if ((s.nType & 6) && s.nLink != r.nSample && static_cast<size_t>(s.nLink) < sf2.aSamples.size() &&
      sf2.aSamples[static_cast<size_t>(s.nLink)].nLink == r.nSample)
    nPartner = s.nLink;
  for (const Sf2Region &o : aRegions)
    if (&o != &r &&
        (nPartner >= 0 ? o.nSample == nPartner
                       : (o.anGen[kSf2Pan] > 0) != (g[kSf2Pan] > 0) && o.anGen[kSf2Pan] != 0 &&
                             g[kSf2Pan] != 0 && o.nKeyLo == r.nKeyLo && o.nKeyHi == r.nKeyHi)) {
      nPartner = o.nSample;
      pGen = o.anGen;
    }
  if (nPartner >= 0) {
    if (ReadChannel(sf2, sf2.aSamples[static_cast<size_t>(nPartner)], pGen, &p) &&
        (c.nLoopEnd > 0) == (p.nLoopEnd > 0) &&
        c.nLoopEnd - c.nLoopStart == p.nLoopEnd - p.nLoopStart) {
      Channel m;
      if (c.nLoopEnd > 0) {
        m.nLoopStart = std::max(c.nLoopStart, p.nLoopStart);
        m.nLoopEnd = m.nLoopStart + (c.nLoopEnd - c.nLoopStart);
      }
      const int64_t n =
          c.nLoopEnd > 0 ? m.nLoopEnd : static_cast<int64_t>(std::max(c.a.size(), p.a.size()));
      m.a.resize(static_cast<size_t>(n));
      for (int64_t i = 0; i < n; ++i)
        m.a[static_cast<size_t>(i)] = 0.5f * (Played(c, i) + Played(p, i));
      c = std::move(m);
    }
  }
  // Filter cutoff in absolute cents, lowered by the format's default
  // velocity modulator at velocity 100 and raised by the modulation
  // envelope halfway between its peak and its sustain; open filters are
  // left out.
  const double dModEnv = 1.0 - std::clamp(g[kSf2SustainModEnv], 0, 1000) / 2000.0;
  const double dFilterCents =
      g[kSf2FilterFc] + g[kSf2ModEnvToFilterFc] * dModEnv - 2400.0 * (127 - kVelocity) / 127;
  if (g[kSf2FilterFc] < kOpenFilter) {
    const double dCutoff = 8.176 * std::exp2(dFilterCents / 1200.0);
    if (dCutoff < 0.45 * s.nRate)
      BakeFilter(&c, s.nRate, std::max(dCutoff, 20.0),
                 std::max(0.5, std::pow(10.0, (g[kSf2FilterQ] / 10.0 - 3.01) / 20.0)));
  }
  PatchWave w;
  w.nRate = static_cast<int32_t>(s.nRate);
  w.aSamples = std::move(c.a);
  if (c.nLoopEnd > 0) {
    w.nModes = 4;
    w.nLoopStart = static_cast<int32_t>(c.nLoopStart);
    w.nLoopEnd = static_cast<int32_t>(c.nLoopEnd);
  }
  const int32_t nRoot = g[kSf2OverridingRootKey] >= 0 && g[kSf2OverridingRootKey] <= 127
                            ? g[kSf2OverridingRootKey]
                            : (s.nOriginalPitch <= 127 ? s.nOriginalPitch : 60);
  const double dCents = g[kSf2CoarseTune] * 100.0 + g[kSf2FineTune] + s.nCorrection;
  if (!bDrum) {
    // The recorded rate sounds the note nRoot minus the tuning.
    w.dRootHz = 440.0 * std::exp2((nRoot - dCents / 100.0 - 69.0) / 12.0);
  } else {
    // The drum sounds at its recorded pitch, played at this rate.
    const double dRate =
        s.nRate * std::exp2(((nKey - nRoot) * g[kSf2ScaleTuning] + dCents) / 1200.0);
    if (!(dRate >= 1.0 && dRate < 4.0e6))
      return 0;
    w.nRate = static_cast<int32_t>(std::lround(dRate));
    w.dRootHz = 440.0;
  }
  *pWave = std::move(w);
  return 1;
}

int32_t ChooseRegion(const Sf2File &sf2, const Sf2Preset &preset, int32_t nKey,
                     std::vector<Sf2Region> *pRegions, int32_t *pKey) {
  for (int32_t d = 0; d < 128; ++d)
    for (int32_t k : {nKey + d, nKey - d}) {
      if (k < 0 || k > 127)
        continue;
      *pRegions = sf2.Regions(preset, k, kVelocity);
      if (pRegions->empty())
        *pRegions = sf2.Regions(preset, k, -1);
      if (pRegions->empty())
        continue;
      *pKey = k;
      for (size_t i = 0; i < pRegions->size(); ++i) // the left one of a pair
        if ((sf2.aSamples[static_cast<size_t>((*pRegions)[i].nSample)].nType & 4) ||
            (*pRegions)[i].anGen[kSf2Pan] < 0)
          return static_cast<int32_t>(i);
      return 0;
    }
  return -1;
}

int32_t ConvertSoundFont(const Sf2File &sf2, const std::string &sLinkName, const std::string &sDir,
                         std::vector<SoundSetPatch> *pPatches,
                         std::vector<std::string> *pWarnings) {
  std::error_code ec;
  std::filesystem::create_directories(sDir, ec);
  int32_t nDone = 0;
  for (int32_t bDrum = 0; bDrum <= 1; ++bDrum) {
    const Sf2Preset *pPreset = bDrum ? sf2.FindPreset(kDrumBank, 0) : nullptr;
    if (bDrum && !pPreset) {
      pWarnings->push_back("no percussion preset (bank 128, program 0)");
      continue;
    }
    for (int32_t n = bDrum ? kFirstDrum : 0; n <= (bDrum ? kLastDrum : 127); ++n) {
      if (!bDrum && !(pPreset = sf2.FindPreset(0, n))) {
        pWarnings->push_back("program " + std::to_string(n) + ": no preset in bank 0");
        continue;
      }
      const int32_t nLow = bDrum ? 0 : UsualLowNote(n);
      std::vector<Sf2Region> aRegions;
      int32_t nKey = 0;
      const int32_t nChosen = ChooseRegion(sf2, *pPreset, bDrum ? n : nLow + 12, &aRegions, &nKey);
      PatchWave w;
      Conversion c;
      const std::string sWhat =
          (bDrum ? "drum note " : "program ") + std::to_string(n) + " (" + pPreset->sName + ")";
      if (nChosen < 0 || (bDrum && nKey != n)) {
        pWarnings->push_back(sWhat + ": no zone plays it");
        continue;
      }
      const Sf2Region &r = aRegions[static_cast<size_t>(nChosen)];
      const bool bDecays = r.anGen[kSf2SustainVolEnv] >= kSilentDb * 10;
      if (!Sf2Wave(sf2, aRegions, static_cast<size_t>(nChosen), bDrum, nKey, &w) ||
          !(bDrum ? ConvertDrum(w, -1, &c, bDecays) : ConvertMelodic(w, nLow, &c))) {
        pWarnings->push_back(sWhat + ": its sample cannot be converted");
        continue;
      }
      // Same clock as the voice: a drum steps as its key shift says, a
      // melodic note an octave and a half above its lowest usual note.
      const double dTicks =
          EnvelopeTicks(bDrum ? TableStep44100(60 + c.nKeyShift) / 272.0 : std::exp2(1.5));
      MapSf2Envelope(r.anGen, nKey, dTicks, &c.epc);
      char szName[48];
      std::snprintf(szName, sizeof szName, "%s000-%03d.epc", bDrum ? "kit" : "bank", n);
      const std::vector<uint8_t> aEpc = EpcBytes(c.epc);
      if (!ReplaceFile((std::filesystem::path(sDir) / szName).string(), aEpc.data(), aEpc.size())) {
        pWarnings->push_back(std::string(szName) + ": cannot be written in " + sDir);
        continue;
      }
      // Attenuation as FluidSynth and the hardware the format was made for
      // apply it: 0.4 of the centibels given.
      const double dAtten =
          std::pow(10.0, -0.4 * std::max(r.anGen[kSf2InitialAttenuation], 0) / 200.0);
      SoundSetPatch p{};
      p.bDrum = bDrum;
      p.nBank = 0;
      p.nKey = n;
      p.sName = sLinkName + "/" + szName;
      p.nGain = Clamp(64.0 * (bDrum ? kDrumGain : kMelodicGain) * c.dPeak * dAtten, 1, 512);
      p.nPan = 0;
      p.nKeyShift = c.nKeyShift;
      pPatches->push_back(p);
      ++nDone;
    }
  }
  return nDone;
}
