// General MIDI program and percussion names, for the comments and reports of
// the sound-set tools.
#pragma once

#include <cstdint>

constexpr int32_t kGmFirstDrum = 35; // Acoustic Bass Drum
constexpr int32_t kGmLastDrum = 81;  // Open Triangle
constexpr int32_t kGmFamilySize = 8; // programs per General MIDI family

// Name of program 0..127.
const char *GmProgramName(int32_t nProgram);
// Name of drum note 35..81; "" for other notes.
const char *GmDrumName(int32_t nNote);
