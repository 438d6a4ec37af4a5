// The contract between the player and a sound unit library: thirteen C entry
// points, the message form handed to MidiIn and the accumulator layout lent to Make.
#pragma once

#include <cstdint>

// The host window given to InitUNIT, SysSig and Copyright: in the window
// program the main window, an Fl_Window of the host's shared FLTK, which owns
// the unit's dialogs; a headless host passes null, and no dialog opens.
typedef void *UnitWindow;

// Bytes kept for a file or directory path, NUL included: Linux's PATH_MAX. The
// player's plug-in directory and slot paths and the unit's directory share it,
// so a directory one side accepts the other can hold; longer paths are refused.
constexpr int32_t kPathBytes = 4096;

// EventMessage: bytes 0-1 length n (little-endian), byte 2 status, then data.
// Channel messages: n counts status + data (2 or 3). System exclusive: n counts
// the bytes after 0xF0; byte 2 is 0xF0, the n bytes follow, then one 0x00.
enum : int32_t {
  kEventMessageBytes = 1024, // the sequencer's assembly buffer
  kMsgLenLo = 0,
  kMsgLenHi = 1,
  kMsgStatus = 2,
  kMsgData1 = 3,
  kMsgData2 = 4,
};

// anChannelAcc layout: [ch] left, [16+ch] right, [32+ch] voices of ch sounding.
enum : int32_t {
  kAccLeft = 0,
  kAccRight = 16,
  kAccVoices = 32,
  kAccCount = 48,
};

// Message source given to MidiIn for messages the player makes itself.
constexpr int32_t kSourcePlayer = -1;

extern "C" {
typedef int32_t (*PfnGetType)(void);
typedef int32_t (*PfnGetName)(char *pszName);
typedef int32_t (*PfnGetVer)(void);
typedef int32_t (*PfnTestDLL)(void);
typedef void (*PfnCopyright)(UnitWindow hwnd);
typedef void (*PfnMake)(int32_t *pAcc);
typedef int32_t (*PfnSetRate)(int32_t nRate);
typedef void (*PfnInitUNIT)(UnitWindow hwnd, const char *pszDir);
typedef int32_t (*PfnLoadCFG)(void);
typedef void (*PfnRemoveCFG)(void);
typedef void (*PfnFreeLockCFG)(void);
typedef void (*PfnMidiIn)(const uint8_t *pMsg, int32_t nSource);
typedef intptr_t (*PfnSysSig)(UnitWindow hwnd, int32_t nCode);
typedef uint32_t (*PfnMakeBlock)(int32_t *pRows, int32_t nCount);
typedef int32_t (*PfnLoadedInstruments)(void);
}

// Beyond the thirteen, a unit may export MakeBlock: the same as nCount calls
// of Make (1 <= nCount <= kBlockFrames) with no other call in between, into
// rows: accumulator k of sample i is pRows[k * kBlockFrames + i]. It adds, as
// Make does, and returns a mask with bit ch set for every channel whose three
// rows it may have changed. The voice counts are added for the last sample
// only (the host reads no other); the rest of those rows stays as it was.
// The host uses it when present; units without it are called sample by
// sample. Long blocks share a unit's fixed costs per voice over more samples.
constexpr int32_t kBlockFrames = 512;
inline constexpr const char *kUnitBlockEntryName = "MakeBlock";

// A unit may also export LoadedInstruments: how many instruments its latest
// LoadCFG gave a sound. LoadCFG returns 1 for a set that was read even when
// nothing in it loaded; with 0 here the unit stays silent whatever it is
// sent, which a host can tell its user before it plays or records.
inline constexpr const char *kUnitLoadedEntryName = "LoadedInstruments";

// The thirteen entry points, in the order the host resolves them: one list
// for the names and for the host's slot record and lookup. X(name) gets each
// name; its type is Pfn##name.
#define TORQA_UNIT_ENTRY_POINTS(X)                                                                 \
  X(GetType)                                                                                       \
  X(GetName)                                                                                       \
  X(GetVer)                                                                                        \
  X(TestDLL)                                                                                       \
  X(Copyright)                                                                                     \
  X(Make)                                                                                          \
  X(SetRate)                                                                                       \
  X(InitUNIT)                                                                                      \
  X(LoadCFG)                                                                                       \
  X(RemoveCFG)                                                                                     \
  X(FreeLockCFG)                                                                                   \
  X(MidiIn)                                                                                        \
  X(SysSig)

#define TORQA_UNIT_ENTRY_NAME(name) #name,
inline constexpr const char *kUnitEntryNames[] = {TORQA_UNIT_ENTRY_POINTS(TORQA_UNIT_ENTRY_NAME)};
#undef TORQA_UNIT_ENTRY_NAME
constexpr int32_t kUnitEntryCount = sizeof kUnitEntryNames / sizeof kUnitEntryNames[0];
