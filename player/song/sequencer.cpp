// The sequencer: one read cursor per track in the song image, all tracks walked
// in parallel in song ticks, the tick clock driven by the output sample clock.
// Every read is bounded by the image: a damaged track ends instead of running off it.
#include "player/song/sequencer.h"

#include <algorithm>
#include <climits>

#include "common/unit_interface.h"
#include "player/song/image_reader.h"
#include "player/song/routing.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"

int32_t anTrackPos[kMaxTracks];
int32_t anTrackLen[kMaxTracks];
int32_t abTrackActive[kMaxTracks];
int32_t anTrackDelta[kMaxTracks];
int32_t anRunningStatus[kMaxTracks];

int32_t nTempoBpm = 120;
int32_t nSamplesPerTick = 0;
int32_t nTickAccum = 0;
int32_t nTickStep = 256;
int32_t nSongTick = 0;
int32_t nBeatsPerMeasure = 4;
int32_t nBeatUnit = 4;
int32_t nTicksPerBeat = 0;
int32_t nMeasure = 0;
int32_t nBeatInMeasure = 0;
int32_t nTickInBeat = 0;

int32_t bTextChanged = 0;
int32_t bSuppressNoteOn = 0;

PfnSequencerObserver pfnSequencerObserver = nullptr;

constexpr int32_t kTempoScale = 15360; // 60 s per minute x 256 (1/256-sample units)
constexpr int32_t kMicrosPerMinute = 60000000;
constexpr int32_t kTextBytesMax = kEventMessageBytes - 5;  // 2 length + text + 0D 0A 00
constexpr int32_t kSysExBytesMax = kEventMessageBytes - 4; // 2 length + F0 + data + 00
constexpr int32_t kMaxBeatUnitExp = 30;                    // 1 << 30 still fits int32
// When ticks are shorter than nTickStep the clock can only serve one per sample and
// the accumulator runs into debt; bounding the debt keeps it from overflowing.
constexpr int32_t kTickAccumFloor = INT32_MIN / 2;

static int32_t ImageEnd() {
  return pSong ? SongImageEnd() : 0;
}

int32_t ReadTrackByte(int32_t t) {
  const int32_t nPos = anTrackPos[t];
  if (!pSong || nPos < 0 || nPos >= ImageEnd())
    return 0;
  anTrackPos[t] = nPos + 1;
  return pSong[nPos];
}

int32_t ReadVarLen(int32_t t) {
  int64_t nPos = anTrackPos[t];
  const int32_t nValue = ImageVarLen(pSong, ImageEnd(), nPos);
  anTrackPos[t] = static_cast<int32_t>(nPos);
  return nValue;
}

// Advances track t's cursor by nCount bytes, stopping at the end of the image.
static void SkipTrackBytes(int32_t t, int64_t nCount) {
  anTrackPos[t] = static_cast<int32_t>(ClampToImage(int64_t{anTrackPos[t]} + nCount, ImageEnd()));
}

// Copies nCount bytes from track t's cursor to pDest (zeros past the image's end).
static void CopyTrackBytes(int32_t t, uint8_t *pDest, int32_t nCount) {
  const int64_t nEnd = ImageEnd();
  for (int32_t i = 0; i < nCount; ++i)
    pDest[i] = static_cast<uint8_t>(ImageByteAt(pSong, nEnd, int64_t{anTrackPos[t]} + i));
}

void ReadMetaText(int32_t t, uint8_t *pBuffer) {
  const int32_t nLength = ReadVarLen(t);
  if (pBuffer) {
    // Text beyond the buffer is cut; the cursor still passes all of it.
    const int32_t nKept = nLength < kTextBytesMax ? nLength : kTextBytesMax;
    pBuffer[kMsgLenLo] = static_cast<uint8_t>(nKept);
    pBuffer[kMsgLenHi] = static_cast<uint8_t>(nKept >> 8);
    CopyTrackBytes(t, pBuffer + 2, nKept);
    pBuffer[2 + nKept] = 0x0D;
    pBuffer[3 + nKept] = 0x0A;
    pBuffer[4 + nKept] = 0x00;
  }
  SkipTrackBytes(t, nLength);
}

void ReadSysEx(int32_t t, uint8_t *pBuffer) {
  const int32_t nLength = ReadVarLen(t);
  const int32_t nKept = nLength < kSysExBytesMax ? nLength : kSysExBytesMax;
  pBuffer[kMsgLenLo] = static_cast<uint8_t>(nKept);
  pBuffer[kMsgLenHi] = static_cast<uint8_t>(nKept >> 8);
  pBuffer[kMsgStatus] = 0xF0;
  CopyTrackBytes(t, pBuffer + 3, nKept);
  pBuffer[3 + nKept] = 0x00;
  SkipTrackBytes(t, nLength);
}

void ResetSequencer() {
  ResetChannels();
  for (int32_t t = 0; t < kMaxTracks; ++t) {
    abTrackActive[t] = 0;
    anTrackDelta[t] = 0;
  }
  nTempoBpm = 120;
  nTickAccum = 0;
  nSongTick = 0;
  nMeasure = 0;
  nBeatInMeasure = 0;
  nTickInBeat = 0;
}

void PrepareSong() {
  const int64_t nEnd = ImageEnd();
  const int64_t nHeader = nSongHeader;
  // The header the loader accepted, which need not be the first MThd in the image.
  nSmfFormat = ImageByteAt(pSong, nEnd, nHeader + kHdrFormatLow);
  const int32_t nDeclared = ImageBe16(pSong, nEnd, nHeader + kHdrTracks);
  nTracks = nDeclared < kMaxTracks ? nDeclared : kMaxTracks;
  nDivision = ImageBe16(pSong, nEnd, nHeader + kHdrDivision);
  for (int32_t t = 0; t < kMaxTracks; ++t) {
    abTrackActive[t] = 0;
    anTrackDelta[t] = 0;
    anRunningStatus[t] = 0; // no status until the track gives one
    anTrackPos[t] = 0;
    anTrackLen[t] = 0;
  }
  int64_t nSearch = nHeader + kHdrFirstChunk;
  for (int32_t t = 0; t < nTracks; ++t) {
    while (nSearch < nSongBytes && !ImageHasTag(pSong, nEnd, nSearch, "MTrk"))
      ++nSearch;
    if (nSearch >= nSongBytes) {
      anTrackPos[t] = static_cast<int32_t>(nEnd);
      anTrackLen[t] = 0;
      continue; // no chunk left for this track: it stays inactive
    }
    const uint32_t nLength = ImageBe32(pSong, nEnd, nSearch + kChunkLength);
    anTrackLen[t] = static_cast<int32_t>(nLength);
    anTrackPos[t] = static_cast<int32_t>(ClampToImage(nSearch + kChunkData, nEnd));
    abTrackActive[t] = 1;
    anTrackDelta[t] = ReadVarLen(t);
    nSearch = ClampToImage(nSearch + kChunkData + nLength, nEnd);
  }
}

void SetTempoBpm(int32_t nBpm) {
  const int64_t nDenominator = int64_t{nBpm} * nDivision;
  if (nDenominator <= 0)
    return; // no tempo or no division: keep the present tick length
  nSamplesPerTick = static_cast<int32_t>(int64_t{nPCMRate} * kTempoScale / nDenominator);
}

void ResetTimeSignature() {
  nBeatsPerMeasure = 4;
  nBeatUnit = 4;
  nTicksPerBeat = nDivision * 4 / nBeatUnit;
}

static void Notify(int32_t t, int32_t nStatus, int32_t nData1, int32_t nData2) {
  if (pfnSequencerObserver)
    pfnSequencerObserver(t, nStatus, nData1, nData2);
}

// Meta event after its 0xFF: type, length, data.
static void DispatchMeta(int32_t t, uint8_t *pText) {
  const int32_t nType = ReadTrackByte(t);
  if (nType != 0x2F && nType != 0x51 && nType != 0x58) {
    const int32_t nLengthPos = anTrackPos[t];
    Notify(t, 0xFF, nType, ReadVarLen(t));
    anTrackPos[t] = nLengthPos;
    ReadMetaText(t, nType == 0x01 ? pText : nullptr);
    if (nType == 0x01) {
      bTextChanged = 1;
      InvalidateMainWindow();
    }
    return;
  }
  // Read as a quantity: for every well-formed length (< 128) that is the single byte.
  const int32_t nLength = ReadVarLen(t);
  Notify(t, 0xFF, nType, nLength);
  uint8_t ab[4] = {0, 0, 0, 0};
  if (nType == 0x2F) {
    abTrackActive[t] = 0;
  } else if (nType == 0x51 && nLength >= 3) {
    CopyTrackBytes(t, ab, 3);
    const int32_t nMicros = ab[0] << 16 | ab[1] << 8 | ab[2];
    // 0 would divide by zero. (Three bytes never exceed one minute per beat, so the
    // tempo is at least 3 bpm.)
    if (nMicros > 0)
      SetTempoBpm(kMicrosPerMinute / nMicros);
  } else if (nType == 0x58 && nLength >= 4) {
    CopyTrackBytes(t, ab, 4);
    // A numerator of 0 would divide by zero; a denominator past 2^30 cannot be held.
    if (ab[0] != 0 && ab[1] <= kMaxBeatUnitExp) {
      nBeatsPerMeasure = ab[0];
      nBeatUnit = 1 << ab[1];
      nTicksPerBeat = nDivision * 4 / nBeatUnit;
    }
  }
  SkipTrackBytes(t, nLength);
}

// Handles one event whose status is s (data bytes still unread).
static void DispatchEvent(int32_t t, int32_t s, uint8_t *pMsg, uint8_t *pText) {
  const int32_t nChannel = s & 0x0F;
  pMsg[kMsgLenHi] = 0;
  pMsg[kMsgStatus] = static_cast<uint8_t>(s);
  switch (s & 0xF0) {
  case 0x80:
  case 0x90:
  case 0xA0:
  case 0xB0:
  case 0xE0: {
    const int32_t nData1 = ReadTrackByte(t) & 0x7F;
    const int32_t nData2 = ReadTrackByte(t) & 0x7F;
    Notify(t, s, nData1, nData2);
    pMsg[kMsgLenLo] = 3;
    pMsg[kMsgData1] = static_cast<uint8_t>(nData1);
    pMsg[kMsgData2] = static_cast<uint8_t>(nData2);
    if ((s & 0xF0) == 0x90 && nData2 > 0) {
      if (aChannels[nChannel].bMute == 0 && bSuppressNoteOn == 0)
        SendToUnits(pMsg, t, kToActive);
    } else if ((s & 0xF0) == 0xA0) {
      SendToUnits(pMsg, t, kToActive);
    } else {
      SendToUnits(pMsg, t, kToLoaded);
      if ((s & 0xF0) == 0xB0)
        ApplyControlChange(nChannel, nData1, nData2);
    }
    return;
  }
  case 0xC0:
  case 0xD0: {
    const int32_t nData1 = ReadTrackByte(t) & 0x7F;
    Notify(t, s, nData1, 0);
    pMsg[kMsgLenLo] = 2;
    pMsg[kMsgData1] = static_cast<uint8_t>(nData1);
    SendToUnits(pMsg, t, kToLoaded);
    return;
  }
  default:
    break;
  }
  switch (s) {
  case 0xF0:
    ReadSysEx(t, pMsg);
    Notify(t, s, pMsg[kMsgLenLo] | pMsg[kMsgLenHi] << 8, 0);
    SendToUnits(pMsg, t, kToLoaded);
    break;
  case 0xF7: // escaped packet: length and bytes, not for the units
    Notify(t, s, 0, 0);
    SkipTrackBytes(t, ReadVarLen(t));
    break;
  case 0xF1:
  case 0xF3:
    Notify(t, s, 0, 0);
    SkipTrackBytes(t, 1);
    break;
  case 0xF2:
    Notify(t, s, 0, 0);
    SkipTrackBytes(t, 2);
    break;
  case 0xFF:
    DispatchMeta(t, pText);
    break;
  default: // 0xF4..0xFE carry no data
    Notify(t, s, 0, 0);
    break;
  }
}

void SequencerStep(int32_t t) {
  uint8_t abMsg[kEventMessageBytes];
  uint8_t abText[kEventMessageBytes];
  while (anTrackDelta[t] <= 0 && abTrackActive[t] == 1) {
    // Past the file's last byte there is no event: the track ends here.
    if (!pSong || anTrackPos[t] >= nSongBytes) {
      abTrackActive[t] = 0;
      break;
    }
    int32_t s = ReadTrackByte(t);
    if (s < 0x80) {
      if (anRunningStatus[t] == 0) {
        // No status yet in this track: skip data bytes up to the first status byte.
        while (s < 0x80 && anTrackPos[t] < nSongBytes)
          s = ReadTrackByte(t);
        if (s < 0x80) {
          abTrackActive[t] = 0;
          break;
        }
        anRunningStatus[t] = s;
      } else {
        --anTrackPos[t];
        s = anRunningStatus[t];
      }
    } else {
      anRunningStatus[t] = s;
    }
    DispatchEvent(t, s, abMsg, abText);
    // The next event's delta time (after End of Track it is read and never used).
    anTrackDelta[t] += ReadVarLen(t);
  }
}

// One tick: song position from the tick count under the current time signature.
static void AdvanceSongTick() {
  nSongTick = static_cast<int32_t>(static_cast<uint32_t>(nSongTick) + 1u); // wraps, not UB
  if (nTicksPerBeat != 0) {
    nTickInBeat = nSongTick % nTicksPerBeat;
    const int32_t nBeat = nSongTick / nTicksPerBeat;
    nBeatInMeasure = nBeat % nBeatsPerMeasure;
    nMeasure = nBeat / nBeatsPerMeasure;
  }
}

static void ServeTracks() {
  for (int32_t t = 0; t < nTracks && t < kMaxTracks; ++t) {
    if (abTrackActive[t]) {
      --anTrackDelta[t];
      if (anTrackDelta[t] <= 0)
        SequencerStep(t);
    }
  }
}

static void AddSamplesPerTick() {
  nTickAccum += nSamplesPerTick;
  if (nTickAccum < kTickAccumFloor)
    nTickAccum = kTickAccumFloor;
}

// The tick itself, kept out of line so that the clock's common case (no tick
// due) saves no registers and runs a handful of instructions.
[[gnu::noinline]] static int32_t ClockTick() {
  AdvanceSongTick();
  AddSamplesPerTick();
  ServeTracks();
  return 1;
}

// The samples before the next tick only count the clock down: up to nMax of
// them are taken at once. Returns how many.
static int64_t CountDownToTick(int64_t nMax) {
  if (nTickStep <= 0 || nTickAccum <= nTickStep)
    return 0;
  const int64_t n = std::min<int64_t>((nTickAccum - 1) / nTickStep, nMax);
  nTickAccum -= static_cast<int32_t>(n) * nTickStep;
  return n;
}

int32_t SequencerClock() {
  nTickAccum -= nTickStep;
  if (nTickAccum > 0)
    return 0;
  return ClockTick();
}

int32_t SequencerQuietRun(int32_t nMax) {
  // Every tick lowers each active track's delta by one and serves the tracks
  // that reach 0: the ticks before the smallest delta serve nothing.
  int32_t nMinDelta = INT32_MAX;
  for (int32_t t = 0; t < nTracks && t < kMaxTracks; ++t) {
    if (abTrackActive[t] && anTrackDelta[t] < nMinDelta)
      nMinDelta = anTrackDelta[t];
  }
  int32_t nQuietTicks = nMinDelta > 0 ? nMinDelta - 1 : 0;
  int32_t n = 0;
  while (n < nMax) {
    n += static_cast<int32_t>(CountDownToTick(nMax - n));
    if (n >= nMax)
      break;
    if (nTickAccum - nTickStep > 0) { // no tick in this sample either (a step of 0 or less)
      nTickAccum -= nTickStep;
      ++n;
      continue;
    }
    if (nQuietTicks <= 0)
      break; // this sample's tick serves events: SequencerClock's to run
    --nQuietTicks;
    nTickAccum -= nTickStep;
    ClockTick();
    ++n;
  }
  return n;
}

int32_t ActiveTrackCount() {
  int32_t nActive = 0;
  for (int32_t t = 0; t < nTracks && t < kMaxTracks; ++t)
    nActive += abTrackActive[t] != 0;
  return nActive;
}

int64_t WalkToSongEnd(int64_t nLimit) {
  int64_t nSamples = 0;
  if (ActiveTrackCount() == 0)
    return 0;
  while (nSamples < nLimit) {
    nSamples += CountDownToTick(nLimit - nSamples);
    if (nSamples >= nLimit)
      break;
    const int32_t bTick = SequencerClock();
    ++nSamples;
    if (bTick && ActiveTrackCount() == 0) // tracks end only on a tick
      break;
  }
  return nSamples;
}

void BeginSongWalk(int32_t nRate) {
  nPCMRate = nRate;
  nTickStep = 256;
  bSuppressNoteOn = 1;
  ResetSequencer();
  LockSong();
  PrepareSong();
  SetTempoBpm(nTempoBpm);
  ResetTimeSignature();
}

void EndSongWalk() {
  UnlockSong();
  bSuppressNoteOn = 0;
}

void SeekToMeasure(int32_t nMeasureTo) {
  if (nTickStep <= 0)
    return;
  while (nMeasure < nMeasureTo) {
    int32_t bSongOver = 0;
    nTickAccum -= nTickStep;
    if (nTickAccum <= 0) {
      AdvanceSongTick();
      if (nMeasure >= nMeasureTo) {
        // Leave the tick that opens the measure to the first rendered sample.
        nTickAccum += nTickStep;
        nSongTick = static_cast<int32_t>(static_cast<uint32_t>(nSongTick) - 1u);
        break;
      }
      AddSamplesPerTick();
      ServeTracks();
      // Past the song's end nothing can happen: counting empty measures up to a far
      // start measure (or forever, with 0 ticks per beat) would only stall the player.
      bSongOver = ActiveTrackCount() == 0;
    }
    if (Hooks.pfnSeekSample)
      Hooks.pfnSeekSample();
    if (bSongOver)
      break;
  }
}
