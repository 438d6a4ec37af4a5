// Turns a SoundFont into a sound set of EPC files: per General MIDI program
// the sample of the zone that serves the notes the program usually plays,
// per drum note of the percussion preset its own sample, each with its
// zone's tuning, loop, attenuation and volume envelope.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/soundset/patch_convert.h"
#include "tools/soundset/sf2_reader.h"

struct SoundSetPatch;

// The unit's simple envelope for a zone's volume envelope (timecents and
// centibels) at key nKey, for a voice whose envelope ticks dTicks times a
// second: attack (with delay), hold and decay as two linear segments that
// meet the zone's decibel curve at -20 and -40 dB, its sustain floor, and a
// release that reaches -40 dB when the zone's does.
void MapSf2Envelope(const int32_t *pGen, int32_t nKey, double dTicks, EpcImage *pEpc);

// The wave a region plays, stereo partner summed in, with pitch for key
// nKey: melodic (bDrum 0) at the zone's root with its tuning; a drum at the
// pitch the zone gives key nKey (scale tuning included), as its rate.
int32_t Sf2Wave(const Sf2File &sf2, const std::vector<Sf2Region> &aRegions, size_t nChosen,
                int32_t bDrum, int32_t nKey, PatchWave *pWave);

// The region of the preset a program or drum note is converted from: key
// nKey (or the nearest key with a region, stored in *pKey) at velocity 100,
// the left one of a stereo pair; its index in *pRegions, which holds every
// region sounding there. -1 when the preset has none.
int32_t ChooseRegion(const Sf2File &sf2, const Sf2Preset &preset, int32_t nKey,
                     std::vector<Sf2Region> *pRegions, int32_t *pKey);

// Converts programs 0-127 of bank 0 and drum notes 35-81 of bank 128 (its
// program 0) into EPC files in sDir, reached from the sound-set directory as
// sLinkName, and lists them in *pPatches with gains and key shifts. Returns
// the number converted.
int32_t ConvertSoundFont(const Sf2File &sf2, const std::string &sLinkName, const std::string &sDir,
                         std::vector<SoundSetPatch> *pPatches, std::vector<std::string> *pWarnings);
