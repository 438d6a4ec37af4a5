#include "tools/soundset/sf2_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>

namespace {

uint32_t Le32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Le16(const uint8_t *p) {
  return p[0] | (p[1] << 8);
}
int32_t Signed16(uint32_t v) {
  return static_cast<int32_t>(v) - ((v & 0x8000) ? 0x10000 : 0);
}

// A chunk's payload inside the file's bytes.
struct Chunk {
  const uint8_t *p = nullptr;
  size_t n = 0;
};

// The sub-chunks of a list payload, by four-character id; 0 when a size runs
// past the payload.
int32_t Walk(Chunk list, std::vector<std::pair<std::string, Chunk>> *pOut) {
  size_t at = 0;
  while (at + 8 <= list.n) {
    uint32_t nSize = Le32(list.p + at + 4);
    if (nSize > list.n - at - 8)
      return 0;
    pOut->push_back({std::string(reinterpret_cast<const char *>(list.p + at), 4),
                     Chunk{list.p + at + 8, nSize}});
    at += 8 + nSize + (nSize & 1);
  }
  return 1;
}

std::string Name20(const uint8_t *p) {
  size_t n = 0;
  while (n < 20 && p[n])
    ++n;
  return std::string(reinterpret_cast<const char *>(p), n);
}

// Generators that a preset zone may not give: they are ignored there.
bool PresetMayGive(int32_t nOper) {
  switch (nOper) {
  case kSf2StartOffset:
  case kSf2EndOffset:
  case kSf2LoopStartOffset:
  case kSf2LoopEndOffset:
  case kSf2StartCoarseOffset:
  case kSf2EndCoarseOffset:
  case kSf2LoopStartCoarseOffset:
  case kSf2LoopEndCoarseOffset:
  case 46: // keynum
  case 47: // velocity
  case kSf2SampleModes:
  case 57: // exclusive class
  case kSf2OverridingRootKey:
    return false;
  default:
    return true;
  }
}

} // namespace

void Sf2Defaults(int32_t *pGen) {
  std::fill(pGen, pGen + kSf2GenCount, 0);
  pGen[8] = 13500; // filter cutoff
  for (int32_t g :
       std::initializer_list<int32_t>{21, 23, 25, 26, 27, 28, 30, kSf2DelayVolEnv, kSf2AttackVolEnv,
                                      kSf2HoldVolEnv, kSf2DecayVolEnv, kSf2ReleaseVolEnv})
    pGen[g] = -12000;
  pGen[kSf2KeyRange] = 127 << 8;
  pGen[kSf2VelRange] = 127 << 8;
  pGen[46] = pGen[47] = -1;
  pGen[kSf2ScaleTuning] = 100;
  pGen[kSf2OverridingRootKey] = -1;
}

int32_t Sf2File::ReadFile(const std::string &sPath, std::string *pError, bool bWithSamples) {
  // The file is read chunk by chunk into an image without the sample pool,
  // which is mapped: a conversion touches a fifth of FluidR3's 150 MB.
  std::ifstream in(sPath, std::ios::binary);
  auto fail = [&](const std::string &s) {
    *pError = sPath + ": " + s;
    return 0;
  };
  if (!in)
    return fail("cannot be opened");
  in.seekg(0, std::ios::end);
  const int64_t nFile = in.tellg();
  in.seekg(0);
  uint8_t abHead[12];
  if (nFile < 12 || !in.read(reinterpret_cast<char *>(abHead), 12) ||
      std::memcmp(abHead, "RIFF", 4) != 0 || std::memcmp(abHead + 8, "sfbk", 4) != 0)
    return fail("not a SoundFont (no RIFF sfbk header)");
  const int64_t nEnd = std::min<int64_t>(nFile, 8 + int64_t{Le32(abHead + 4)});
  std::vector<uint8_t> aImage(abHead, abHead + 12);
  int64_t nPoolAt = -1, nPoolBytes = 0;
  for (int64_t at = 12; at + 12 <= nEnd;) {
    uint8_t ab[12];
    in.seekg(at);
    if (!in.read(reinterpret_cast<char *>(ab), 12))
      return fail("cannot be read");
    const int64_t nSize = Le32(ab + 4);
    if (nSize > nEnd - at - 8)
      return fail("a chunk runs past the end of the file");
    if (std::memcmp(ab, "LIST", 4) == 0 && std::memcmp(ab + 8, "sdta", 4) == 0) {
      // The list's sub-chunks, the pool's payload left out of the image.
      const size_t nList = aImage.size();
      aImage.insert(aImage.end(), ab, ab + 12);
      for (int64_t sub = at + 12; sub + 8 <= at + 8 + nSize;) {
        uint8_t abSub[8];
        in.seekg(sub);
        if (!in.read(reinterpret_cast<char *>(abSub), 8))
          return fail("cannot be read");
        const int64_t nSub = Le32(abSub + 4);
        if (nSub > at + 8 + nSize - sub - 8)
          return fail("a sub-chunk runs past its list");
        if (std::memcmp(abSub, "smpl", 4) == 0) {
          nPoolAt = sub + 8;
          nPoolBytes = nSub & ~int64_t{1};
          std::memset(abSub + 4, 0, 4);
        }
        aImage.insert(aImage.end(), abSub, abSub + 8);
        sub += 8 + nSub + (nSub & 1);
      }
      const uint32_t nListSize = static_cast<uint32_t>(aImage.size() - nList - 8);
      for (int32_t i = 0; i < 4; ++i)
        aImage[nList + 4 + i] = static_cast<uint8_t>(nListSize >> (8 * i));
    } else {
      const size_t n = aImage.size();
      aImage.resize(n + 8 + static_cast<size_t>(nSize));
      in.seekg(at);
      if (!in.read(reinterpret_cast<char *>(aImage.data() + n), 8 + nSize))
        return fail("cannot be read");
    }
    at += 8 + nSize + (nSize & 1);
  }
  const uint32_t nRiff = static_cast<uint32_t>(aImage.size() - 8);
  for (int32_t i = 0; i < 4; ++i)
    aImage[4 + i] = static_cast<uint8_t>(nRiff >> (8 * i));
  if (!Parse(aImage.data(), aImage.size(), pError))
    return fail(*pError);
  if (bWithSamples && nPoolAt >= 0 && nPoolBytes > 0) {
    static_assert(std::endian::native == std::endian::little, "the pool is mapped as it lies");
    const int nFd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    void *p = nFd < 0 ? MAP_FAILED
                      : mmap(nullptr, static_cast<size_t>(nFile), PROT_READ, MAP_PRIVATE, nFd, 0);
    if (nFd >= 0)
      close(nFd);
    if (p == MAP_FAILED || (nPoolAt & 1))
      return fail("cannot be mapped");
    pMap_ = std::shared_ptr<void>(p, [nFile](void *q) { munmap(q, static_cast<size_t>(nFile)); });
    pPool_ = reinterpret_cast<const int16_t *>(static_cast<const uint8_t *>(p) + nPoolAt);
    nPool_ = static_cast<size_t>(nPoolBytes / 2);
  }
  return 1;
}

int32_t Sf2File::Parse(const uint8_t *pData, size_t nSize, std::string *pError) {
  *this = Sf2File();
  auto fail = [pError](const char *psz) {
    *pError = psz;
    return 0;
  };
  if (nSize < 12 || std::memcmp(pData, "RIFF", 4) != 0 || std::memcmp(pData + 8, "sfbk", 4) != 0)
    return fail("not a SoundFont (no RIFF sfbk header)");
  const size_t nRiff = std::min<size_t>(Le32(pData + 4), nSize - 8);
  if (nRiff < 4)
    return fail("truncated RIFF chunk");
  std::vector<std::pair<std::string, Chunk>> aTop;
  if (!Walk(Chunk{pData + 12, nRiff - 4}, &aTop))
    return fail("a chunk runs past the end of the file");
  Chunk smpl, pdta;
  bool bSdta = false, bPdta = false;
  for (auto &[sId, c] : aTop) {
    if (sId != "LIST" || c.n < 4)
      continue;
    std::string sType(reinterpret_cast<const char *>(c.p), 4);
    std::vector<std::pair<std::string, Chunk>> aSub;
    if (!Walk(Chunk{c.p + 4, c.n - 4}, &aSub))
      return fail("a sub-chunk runs past its list");
    if (sType == "sdta") {
      for (auto &[s, sc] : aSub)
        if (s == "smpl") {
          smpl = sc;
          bSdta = true;
        }
    } else if (sType == "pdta") {
      pdta = Chunk{c.p + 4, c.n - 4};
      bPdta = true;
    }
  }
  if (!bSdta)
    return fail("no sample data (sdta smpl)");
  if (!bPdta)
    return fail("no preset data (pdta)");
  std::vector<std::pair<std::string, Chunk>> aHydra;
  Walk(pdta, &aHydra);
  const char *apszIds[9] = {"phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"};
  const size_t anRecord[9] = {38, 4, 10, 4, 22, 4, 10, 4, 46};
  Chunk h[9];
  for (int32_t i = 0; i < 9; ++i) {
    bool bFound = false;
    for (auto &[s, c] : aHydra)
      if (s == apszIds[i]) {
        h[i] = c;
        bFound = true;
      }
    // Each list ends with a terminal record.
    if (!bFound || h[i].n % anRecord[i] != 0 || h[i].n / anRecord[i] < 1)
      return fail("a preset-data chunk is missing or has a broken size");
  }
  auto count = [&](int32_t i) { return h[i].n / anRecord[i]; };
  if (count(0) < 2 || count(4) < 2 || count(8) < 2)
    return fail("no presets, instruments or samples");

  anPool_.resize(smpl.n / 2);
  for (size_t i = 0; i < anPool_.size(); ++i)
    anPool_[i] = static_cast<int16_t>(Signed16(Le16(smpl.p + 2 * i)));
  pPool_ = anPool_.data();
  nPool_ = anPool_.size();

  // Bags index generators; both lists must rise and stay inside their list.
  auto readBags = [&](int32_t iBag, int32_t iGen, std::vector<Zone> *pZones) {
    const size_t nBags = count(iBag), nGens = count(iGen);
    uint32_t nPrev = 0;
    for (size_t b = 0; b < nBags; ++b) {
      uint32_t g = Le16(h[iBag].p + 4 * b);
      if (g < nPrev || g > nGens - 1)
        return 0;
      if (b > 0)
        pZones->push_back(Zone{static_cast<int32_t>(nPrev), static_cast<int32_t>(g)});
      nPrev = g;
    }
    return 1;
  };
  auto readGens = [&](int32_t iGen, std::vector<Gen> *pGens) {
    for (size_t g = 0; g + 1 < count(iGen); ++g) {
      const uint8_t *p = h[iGen].p + 4 * g;
      pGens->push_back(Gen{static_cast<int32_t>(Le16(p)), Signed16(Le16(p + 2))});
    }
  };
  if (!readBags(1, 3, &aPresetZones_) || !readBags(5, 7, &aInstZones_))
    return fail("zone generator indices out of order or out of range");
  readGens(3, &aPresetGens_);
  readGens(7, &aInstGens_);

  // Presets and instruments index bags the same way.
  auto readHeads = [&](int32_t iHead, size_t nRecord, size_t nBagAt, size_t nZones, auto add) {
    uint32_t nPrev = 0;
    for (size_t i = 0; i < count(iHead); ++i) {
      uint32_t b = Le16(h[iHead].p + nRecord * i + nBagAt);
      if (b < nPrev || b > nZones)
        return 0;
      if (i > 0)
        add(i - 1, static_cast<int32_t>(nPrev), static_cast<int32_t>(b));
      nPrev = b;
    }
    return 1;
  };
  if (!readHeads(0, 38, 24, aPresetZones_.size(), [&](size_t i, int32_t b0, int32_t b1) {
        const uint8_t *p = h[0].p + 38 * i;
        aPresets.push_back(Sf2Preset{Name20(p), static_cast<int32_t>(Le16(p + 20)),
                                     static_cast<int32_t>(Le16(p + 22)), b0, b1});
      }))
    return fail("preset zone indices out of order or out of range");
  if (!readHeads(4, 22, 20, aInstZones_.size(), [&](size_t, int32_t b0, int32_t b1) {
        aInstruments_.push_back({b0, b1});
      }))
    return fail("instrument zone indices out of order or out of range");

  for (size_t i = 0; i + 1 < count(8); ++i) {
    const uint8_t *p = h[8].p + 46 * i;
    Sf2SampleHeader s;
    s.sName = Name20(p);
    s.nStart = Le32(p + 20);
    s.nEnd = Le32(p + 24);
    s.nLoopStart = Le32(p + 28);
    s.nLoopEnd = Le32(p + 32);
    s.nRate = Le32(p + 36);
    s.nOriginalPitch = p[40];
    s.nCorrection = static_cast<int8_t>(p[41]);
    s.nLink = static_cast<int32_t>(Le16(p + 42));
    s.nType = static_cast<int32_t>(Le16(p + 44));
    aSamples.push_back(std::move(s));
  }
  return 1;
}

const Sf2Preset *Sf2File::FindPreset(int32_t nBank, int32_t nProgram) const {
  for (const Sf2Preset &p : aPresets)
    if (p.nBank == nBank && p.nProgram == nProgram)
      return &p;
  return nullptr;
}

std::vector<Sf2Region> Sf2File::AllRegions(const Sf2Preset &preset) const {
  return Regions(preset, -1, -1);
}

std::vector<Sf2Region> Sf2File::Regions(const Sf2Preset &preset, int32_t nKey,
                                        int32_t nVelocity) const {
  std::vector<Sf2Region> aOut;
  auto last = [](const std::vector<Gen> &aGens, const Zone &z) {
    return z.nEndGen > z.nFirstGen ? aGens[static_cast<size_t>(z.nEndGen - 1)].nOper : -1;
  };
  // A zone's generators replace those of its global zone (or the defaults).
  auto apply = [](const std::vector<Gen> &aGens, const Zone &z, int32_t *pGen) {
    for (int32_t g = z.nFirstGen; g < z.nEndGen; ++g) {
      const Gen &gen = aGens[static_cast<size_t>(g)];
      if (gen.nOper >= 0 && gen.nOper < kSf2GenCount)
        pGen[gen.nOper] = gen.nAmount;
    }
  };
  auto lo = [](int32_t v) { return v & 0xFF; };
  auto hi = [](int32_t v) { return (v >> 8) & 0xFF; };
  auto inRange = [&](int32_t nRange, int32_t n) {
    return n < 0 || (n >= lo(nRange) && n <= hi(nRange));
  };

  int32_t anPresetGlobal[kSf2GenCount] = {};
  anPresetGlobal[kSf2KeyRange] = anPresetGlobal[kSf2VelRange] = 127 << 8;
  for (int32_t pz = preset.nFirstBag; pz < preset.nEndBag; ++pz) {
    const Zone &zp = aPresetZones_[static_cast<size_t>(pz)];
    if (last(aPresetGens_, zp) != kSf2Instrument) {
      if (pz == preset.nFirstBag)
        apply(aPresetGens_, zp, anPresetGlobal);
      continue;
    }
    int32_t anPreset[kSf2GenCount];
    std::copy(anPresetGlobal, anPresetGlobal + kSf2GenCount, anPreset);
    apply(aPresetGens_, zp, anPreset);
    const int32_t nInst = anPreset[kSf2Instrument];
    if (nInst < 0 || static_cast<size_t>(nInst) >= aInstruments_.size() ||
        !inRange(anPreset[kSf2KeyRange], nKey) || !inRange(anPreset[kSf2VelRange], nVelocity))
      continue;
    const Instrument &inst = aInstruments_[static_cast<size_t>(nInst)];
    int32_t anGlobal[kSf2GenCount];
    Sf2Defaults(anGlobal);
    for (int32_t iz = inst.nFirstBag; iz < inst.nEndBag; ++iz) {
      const Zone &zi = aInstZones_[static_cast<size_t>(iz)];
      if (last(aInstGens_, zi) != kSf2SampleId) {
        if (iz == inst.nFirstBag)
          apply(aInstGens_, zi, anGlobal);
        continue;
      }
      Sf2Region r;
      std::copy(anGlobal, anGlobal + kSf2GenCount, r.anGen);
      apply(aInstGens_, zi, r.anGen);
      const int32_t nKeyRange = r.anGen[kSf2KeyRange], nVelRange = r.anGen[kSf2VelRange];
      r.nKeyLo = std::max(lo(nKeyRange), lo(anPreset[kSf2KeyRange]));
      r.nKeyHi = std::min(hi(nKeyRange), hi(anPreset[kSf2KeyRange]));
      r.nVelLo = std::max(lo(nVelRange), lo(anPreset[kSf2VelRange]));
      r.nVelHi = std::min(hi(nVelRange), hi(anPreset[kSf2VelRange]));
      if (r.nKeyLo > r.nKeyHi || r.nVelLo > r.nVelHi ||
          (nKey >= 0 && (nKey < r.nKeyLo || nKey > r.nKeyHi)) ||
          (nVelocity >= 0 && (nVelocity < r.nVelLo || nVelocity > r.nVelHi)))
        continue;
      // Preset generators add to the instrument's.
      for (int32_t g = 0; g < kSf2GenCount; ++g)
        if (g != kSf2KeyRange && g != kSf2VelRange && g != kSf2Instrument && g != kSf2SampleId &&
            PresetMayGive(g))
          r.anGen[g] += anPreset[g];
      r.nSample = r.anGen[kSf2SampleId];
      if (r.nSample < 0 || static_cast<size_t>(r.nSample) >= aSamples.size())
        continue;
      aOut.push_back(r);
    }
  }
  return aOut;
}
