// The sequencer: walks the song image's tracks tick by tick against the output
// sample clock and dispatches due events. All values signed 32-bit.
#pragma once

#include <cstdint>

#include "player/song/song.h"

// Per-track state, indexed by track number.
extern int32_t anTrackPos[kMaxTracks];      // offset of the next unread byte in the image
extern int32_t anTrackLen[kMaxTracks];      // declared chunk data length
extern int32_t abTrackActive[kMaxTracks];   // 1 until End of Track is dispatched
extern int32_t anTrackDelta[kMaxTracks];    // ticks left until the next event; <= 0 due
extern int32_t anRunningStatus[kMaxTracks]; // last status byte read (>= 0x80)

// Song timing.
extern int32_t nTempoBpm;        // tempo at start, beats per minute (120)
extern int32_t nSamplesPerTick;  // output samples per tick, 1/256 units
extern int32_t nTickAccum;       // tick accumulator, 1/256 sample units
extern int32_t nTickStep;        // subtracted per output sample; 256 = normal speed
extern int32_t nSongTick;        // ticks since the start of the song
extern int32_t nBeatsPerMeasure; // time signature numerator
extern int32_t nBeatUnit;        // time signature denominator (power of 2)
extern int32_t nTicksPerBeat;    // nDivision * 4 / nBeatUnit
extern int32_t nMeasure;         // from 0
extern int32_t nBeatInMeasure;   // from 0
extern int32_t nTickInBeat;      // from 0

extern int32_t bTextChanged;    // set when a Text meta event was read; the window clears it
extern int32_t bSuppressNoteOn; // while 1, sounding note-ons are not sent (seeking)

// Told of every event SequencerStep reads, before it is routed: the status byte,
// then for channel messages their data bytes (7 bits), for meta events the type
// and length, for system exclusive the length. For tools and tests; null in the player.
typedef void (*PfnSequencerObserver)(int32_t nTrack, int32_t nStatus, int32_t nData1,
                                     int32_t nData2);
extern PfnSequencerObserver pfnSequencerObserver;

void ResetSequencer();
void PrepareSong();
void SetTempoBpm(int32_t nBpm);
// The time signature a song starts with: 4/4, nTicksPerBeat = nDivision.
void ResetTimeSignature();
void SequencerStep(int32_t nTrack);
void SeekToMeasure(int32_t nMeasureTo);
// One step of the tick clock (per output sample): returns 1 when a tick elapsed.
// The render loop calls it once per sample; SeekToMeasure does the same steps.
int32_t SequencerClock();
// Runs the tick clock as SequencerClock would for up to nMax samples, but
// stops before the first sample whose tick serves an event; returns the
// samples run. Nothing reaches the units or the channels meanwhile.
int32_t SequencerQuietRun(int32_t nMax);
// Number of tracks still active (0 once the song is over).
int32_t ActiveTrackCount();
// Runs the tick clock without rendering until every track has ended or nLimit
// samples have passed; returns the samples walked (the song's length).
int64_t WalkToSongEnd(int64_t nLimit);

// Readies the loaded song for a walk to its end at nRate that no unit hears
// (its length, its events): rate and normal speed set, the sequencer and the
// position at the start, note-ons held back, the image locked. EndSongWalk
// unlocks it and lets note-ons through again; the position stays.
void BeginSongWalk(int32_t nRate);
void EndSongWalk();

// Low-level readers on track t, bounded by the image.
int32_t ReadTrackByte(int32_t t);
int32_t ReadVarLen(int32_t t);
void ReadMetaText(int32_t t, uint8_t *pBuffer);
void ReadSysEx(int32_t t, uint8_t *pBuffer);
