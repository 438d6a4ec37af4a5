// The loaded sound set: 768 instrument records, the program and drum maps,
// and the loader's entry points. Sample data is 16-bit signed little-endian
// mono in a data block that is locked (pData set) only while in use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokra {

constexpr int32_t kInstruments = 768;
constexpr int32_t kMapSize = 128;       // programs, banks, notes and kits per map
constexpr int32_t kInstPathBytes = 512; // an instrument's szPath, NUL included
constexpr int32_t kBlockSlack = 64;     // zeroed bytes behind every data block's content
constexpr int32_t kEpcHeaderBytes = 64;
// Sample memory of one whole sound set: a sample that would take it past this
// is not loaded (listed as not loaded), so a damaged set cannot exhaust memory.
constexpr size_t kMaxSetSampleBytes = size_t{1} << 30;
// Sound sets and their samples live in szUnitDir + this.
inline constexpr char kSoundSetDir[] = "VOKRA/";

// nType values: the file format the instrument was loaded from.
enum : int32_t {
  kTypeEpc = 1, // simple envelope
  kTypeFpv = 3, // five-stage envelope
  kTypePat = 4, // GUS patch, simple envelope
};

// A movable data block: content plus kBlockSlack zero bytes, and a lock count.
struct DataBlock;
class ByteSource;

// Written by the loader (configuration options, sample loaders); pData also
// by LockInstrument and FreeLockCFG. The first 64 bytes mirror the EPC file
// header (offsets in comments).
struct Instrument {
  uint8_t abEpcIdent[4];   // 0: EPC identification, not examined
  int32_t nDataSize;       // 4: bytes of 16-bit sample data (0 when empty)
  uint8_t abEpcUnused[15]; // 8: not used
  int8_t nTranspose;       // 23: semitones, melodic notes only
  int32_t nStart;          // 24: byte offset where a note starts
  int32_t nLoopStart;      // 28: byte offset of the loop start
  int32_t nEnd;            // 32: byte offset of the last sample played; the loop end
  int32_t nAttackStep;     // 36: simple envelope: level added per attack step
  int32_t nDecayPeriod;    // 40: simple envelope: ticks per decay step
  int32_t nDecay2Period;   // 44: simple envelope: ticks per second-decay step
  int32_t nReleaseStep;    // 48: simple envelope: level removed per release step
  int32_t nDecayLevel;     // 52: simple envelope: end of the first decay
  int32_t nFloorLevel;     // 56: simple envelope: level the second decay holds at
  int32_t bLoop;           // 60: 0/1, the sample loops
  // Behind the header, so that the fields every render reads share two cache lines.
  uint8_t *pData;   // locked content of hData; null while unlocked
  DataBlock *hData; // sample data block, null when none

  int32_t nStartLevel;  // five-stage envelope (FPV bytes): 0..255, level at note-on minus 1
  int32_t nAttackRate;  // five-stage: 0..255, counts from 96 down
  int32_t nDecay1Rate;  // five-stage: 0..255, 96 holds
  int32_t nDecay1Depth; // five-stage: -128..127, level drop of the first decay
  int32_t nDecay2Rate;  // five-stage: 0..255, 96 holds
  int32_t nDecay2Depth; // five-stage: -128..127, level drop of the second decay
  int32_t nDecay3Rate;  // five-stage: 0..255, sustain decay, 96 holds
  int32_t nReleaseRate; // five-stage: 0..255, 96 cuts at once
  int32_t nPeakLevel;   // five-stage: 1..255, top of the attack
  int32_t nRateDivider; // five-stage: 0..10, ticks skipped per step
  int32_t nLoopLength;  // five-stage: nEnd - nLoopStart + 2, bytes

  int32_t nInstGain; // option A, gain applied by Make (64; any int32)
  int32_t nKeyShift; // option K, semitones (0; any int32)
  int32_t nType;     // kTypeEpc, kTypeFpv or kTypePat
  int32_t nInstPan;  // option S minus 1 (64); not used for mixing
  int32_t nInstPanL; // min(127 - nInstPan, 63)
  int32_t nInstPanR; // min(nInstPan, 63)

  char szPath[kInstPathBytes]; // full path of the sample file; empty: no sample
  int32_t bPathCut;            // 0/1, the name did not fit szPath: the load fails
  int32_t bLockOnUse;          // 1: locked by the program change that selects it
};
static_assert(offsetof(Instrument, nDataSize) == 4 && offsetof(Instrument, nTranspose) == 23 &&
                  offsetof(Instrument, nStart) == 24 && offsetof(Instrument, bLoop) == 60,
              "the record's header block has the EPC header's layout");

// Loader-owned tables; the voice engine and MIDI input only read them
// (except LockInstrument below).
extern Instrument aInstrument[kInstruments];
// Instrument index (number - 1) by [program][bank]; 0 also means unassigned.
extern int32_t anProgramMap[kMapSize][kMapSize];
// Instrument index by [drum note][kit]; the kit is the rhythm channel's program.
extern int32_t anDrumMap[kMapSize][kMapSize];

// Data blocks. AllocBlock returns a block of nBytes + kBlockSlack zero bytes,
// unlocked, or null. LockBlock returns the content and adds one lock;
// UnlockBlock removes one and returns the locks left.
DataBlock *AllocBlock(size_t nBytes);
// The same with the content copied from pSrc (nBytes of it).
DataBlock *AllocBlockFrom(const uint8_t *pSrc, size_t nBytes);
// A block made of bytes already written: the first nBytes of pBytes, a
// SampleAlloc block of at least nBytes + kBlockSlack; the slack is zeroed.
// Null when pBytes is (the allocation failed), and null with the bytes freed
// when the record cannot be had.
DataBlock *AdoptBlock(uint8_t *pBytes, size_t nBytes);
uint8_t *LockBlock(DataBlock *hBlock);
int32_t UnlockBlock(DataBlock *hBlock);
void FreeBlock(DataBlock *hBlock);
// Sample bytes the blocks may still take before the set reaches its limit
// (kMaxSetSampleBytes unless a test set another with SetSampleLimit).
size_t SampleBytesLeft();
void SetSampleLimit(size_t nBytes);

// Program change: locks instrument nInst's data when it has a block and a
// null pData, storing the pointer in pData. Returns 1 when pData is set after.
int32_t LockInstrument(int32_t nInst);

// Empties every record and both maps (also what InitUNIT does).
void ClearInstruments();

// Optional "-", optional "+", decimal digits; 0 without digits. Advances
// nIndex past what it read. Values wrap at 32 bits.
int32_t ParseCfgInt(const char *pszText, int32_t &nIndex);

// Parses a configuration text (bytes up to nSize or the first NUL) into the
// records and maps. LoadCFG = read szUnitDir + "VOKRA/" + szCfgName, parse,
// clear bLockOnUse of program 0 bank 0, LoadAllSamples. Returns 1 or 0.
void ParseCfgText(const uint8_t *pText, size_t nSize);
int32_t LoadCFG();
// Instruments whose sample the latest LoadCFG loaded (0 when it returned 0):
// with none, the unit makes no sound whatever it is sent.
extern int32_t nLoadedInstruments;
void RemoveCFG();
void FreeLockCFG();

// Loads the sample of every instrument with a path and reports each to the
// loading list. Returns the number of samples that failed.
int32_t LoadAllSamples();

// Each loads aInstrument[nInst]'s szPath; 1 on success. The Parse forms take
// the file's bytes and are what the Load forms call once the file is read.
int32_t LoadEpcSample(int32_t nInst);
int32_t LoadFpvSample(int32_t nInst);
int32_t LoadPatSample(int32_t nInst);
int32_t ParseEpcSample(Instrument &inst, const uint8_t *pFile, size_t nFile);
// The EPC parser on a source: the size is checked against the header before
// any data is read.
int32_t ParseEpcSource(Instrument &inst, ByteSource &src);
int32_t ParseFpvSource(Instrument &inst, ByteSource &src);
int32_t ParseFpvSample(Instrument &inst, const uint8_t *pFile, size_t nFile);
int32_t ParsePatSample(Instrument &inst, const uint8_t *pFile, size_t nFile);

} // namespace vokra
