// A fake sound unit for the song tests: bound into aUnitSlots, it records every
// message MidiIn receives with its source and when it arrived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/smf/smf_writer.h"

struct CapturedMessage {
  int32_t nSlot;           // which fake unit received it
  std::vector<uint8_t> ab; // the whole EventMessage (length bytes included)
  int32_t nSource;         // track number or -1
  int32_t nSongTick;       // nSongTick at dispatch
  int64_t nSample;         // output-sample index of the walk at dispatch
};

extern std::vector<CapturedMessage> gCaptured;
extern int64_t gnWalkSample; // the sample the walk is producing

// Clears every slot, the capture, the channel mutes and the sequencer's switches.
void ResetSongTestState();
// Binds a capture unit into slot nSlot (loaded; active as given).
void InstallCaptureUnit(int32_t nSlot, int32_t bActive);

// Loads bytes and starts the song as playback does (rate nRate, 4/4, 120 bpm).
// Returns LoadSmfBytes's result; on 0 nothing is started.
int32_t StartSong(const smfw::Bytes &abFile, int32_t nRate = 44100);
// The same start for the song already loaded.
void StartLoadedSong(int32_t nRate = 44100);
// Runs the tick clock one sample at a time until every track has ended or nMaxSamples
// samples have been produced. Returns the samples produced.
int64_t WalkSong(int64_t nMaxSamples);

// Only channel and system-exclusive messages from the song (source >= 0) of one slot.
std::vector<CapturedMessage> SongMessages(int32_t nSlot = 0);
std::string Hex(const std::vector<uint8_t> &ab);
