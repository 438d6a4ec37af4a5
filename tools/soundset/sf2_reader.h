// A bounded reader of SoundFont 2 files (RIFF sfbk): the sample pool, the
// sample headers, and the preset and instrument zones with their generators,
// enough to find which sample, tuning, loop and envelope a preset plays for a
// key and velocity. Every count and offset is checked against the bytes
// present; a damaged file is refused with a message, never read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Generator numbers used here.
enum Sf2Gen : int32_t {
  kSf2StartOffset = 0,
  kSf2EndOffset = 1,
  kSf2LoopStartOffset = 2,
  kSf2LoopEndOffset = 3,
  kSf2StartCoarseOffset = 4,
  kSf2FilterFc = 8,
  kSf2FilterQ = 9,
  kSf2ModEnvToFilterFc = 11,
  kSf2EndCoarseOffset = 12,
  kSf2Pan = 17,
  kSf2SustainModEnv = 29,
  kSf2DelayVolEnv = 33,
  kSf2AttackVolEnv = 34,
  kSf2HoldVolEnv = 35,
  kSf2DecayVolEnv = 36,
  kSf2SustainVolEnv = 37,
  kSf2ReleaseVolEnv = 38,
  kSf2KeyToVolEnvHold = 39,
  kSf2KeyToVolEnvDecay = 40,
  kSf2Instrument = 41,
  kSf2KeyRange = 43,
  kSf2VelRange = 44,
  kSf2LoopStartCoarseOffset = 45,
  kSf2InitialAttenuation = 48,
  kSf2LoopEndCoarseOffset = 50,
  kSf2CoarseTune = 51,
  kSf2FineTune = 52,
  kSf2SampleId = 53,
  kSf2SampleModes = 54,
  kSf2ScaleTuning = 56,
  kSf2OverridingRootKey = 58,
  kSf2GenCount = 61,
};

struct Sf2SampleHeader {
  std::string sName;
  uint32_t nStart = 0, nEnd = 0, nLoopStart = 0, nLoopEnd = 0; // in the pool, samples
  uint32_t nRate = 0;
  int32_t nOriginalPitch = 60;
  int32_t nCorrection = 0; // cents
  int32_t nLink = 0;
  int32_t nType = 1; // 1 mono, 2 right, 4 left, 8 linked; 0x8000 ROM
};

// One instrument zone as a preset plays it: the instrument zone's generators
// (its global zone's where it gives none, the defaults otherwise) plus the
// preset zone's, ranges intersected.
struct Sf2Region {
  int32_t anGen[kSf2GenCount] = {};
  int32_t nSample = -1;
  int32_t nKeyLo = 0, nKeyHi = 127, nVelLo = 0, nVelHi = 127;
};

struct Sf2Preset {
  std::string sName;
  int32_t nProgram = 0, nBank = 0;
  int32_t nFirstBag = 0, nEndBag = 0; // preset zones [first, end)
};

class Sf2File {
public:
  Sf2File() = default;
  Sf2File(const Sf2File &) = delete;
  Sf2File &operator=(const Sf2File &) = delete;
  Sf2File(Sf2File &&) = default;
  Sf2File &operator=(Sf2File &&) = default;

  // Reads a whole file held in memory; the bytes are copied. Returns 0 with
  // *pError set when they are not a readable SoundFont.
  int32_t Parse(const uint8_t *pData, size_t nSize, std::string *pError);
  // Reads a file; without bWithSamples the sample pool stays empty (the
  // zones and sample headers alone).
  int32_t ReadFile(const std::string &sPath, std::string *pError, bool bWithSamples = true);

  // The preset of bank and program, or null.
  const Sf2Preset *FindPreset(int32_t nBank, int32_t nProgram) const;
  // Every region of the preset that sounds for key and velocity.
  std::vector<Sf2Region> Regions(const Sf2Preset &preset, int32_t nKey, int32_t nVelocity) const;
  // Every region of the preset, whatever key and velocity.
  std::vector<Sf2Region> AllRegions(const Sf2Preset &preset) const;

  std::vector<Sf2Preset> aPresets;
  std::vector<Sf2SampleHeader> aSamples;
  // The sample pool, the smpl chunk's 16-bit samples.
  const int16_t *Pool() const { return pPool_; }
  size_t PoolSize() const { return nPool_; }

private:
  std::vector<int16_t> anPool_; // Parse's copy
  std::shared_ptr<void> pMap_;  // ReadFile's mapping of the file
  const int16_t *pPool_ = nullptr;
  size_t nPool_ = 0;
  struct Zone {
    int32_t nFirstGen = 0, nEndGen = 0;
  };
  struct Gen {
    int32_t nOper = 0;
    int32_t nAmount = 0; // signed 16-bit; ranges as lo | hi << 8
  };
  struct Instrument {
    int32_t nFirstBag = 0, nEndBag = 0;
  };
  std::vector<Zone> aPresetZones_, aInstZones_;
  std::vector<Gen> aPresetGens_, aInstGens_;
  std::vector<Instrument> aInstruments_;
};

// The generator defaults of the SoundFont 2.01 format.
void Sf2Defaults(int32_t *pGen);
