// Engine state the render loop, effects, output and settings share: the
// lowest of the player's layers. Written between blocks by the user
// interface, read per sample by the render loop.
#pragma once

#include <cstdint>

// Settings fields (persisted by the settings store).
extern int32_t nPCMRate;           // output rate, Hz, 5200..96000 (22050 on first run)
extern int32_t n3DLength;          // 3D depth 0..1600 (see kMax3DDepth); 0 = stage off
extern int32_t n3DENGIN;           // 0 Light, 1 Medium, 2 Heavy
extern uint32_t dwProcessPriority; // 0x40, 0x20, 0x80 or 0x100
extern int32_t bPowerSave1;        // long blocks at rates up to 22050 Hz
extern int32_t bDispEnable;        // display flag, kept only
extern int32_t bUseEff1;           // reverb on
extern int32_t bUseEff3;           // chorus on
extern int32_t bLPF;               // band filter on (rates up to 44100 Hz)
extern int32_t bSizeGeometry;      // panel size mode 1..4
extern int32_t nSelDevice;         // index into the device list

// Mixing.
extern int32_t anChannelAcc[48]; // lent to every unit's Make; cleared after each sample
extern int32_t nMasterGain;      // 0..127; 127 after a channel reset
extern int32_t nOutVolume;       // 2..714, 127 = 0 dB; playback and sound test only
extern int32_t bMonoMix;         // debug mono switch
extern int32_t nLpfL;            // band filter state
extern int32_t nLpfR;
extern int32_t nTailBlocks;   // silent blocks still allowed after the song ended
extern int32_t bPlaying;      // playback running
extern int32_t nStartMeasure; // measure playback starts from

// Busy flags: the main window refuses to start a second long operation while
// one of these is set.
extern int32_t bOutputOpen; // 1 from a playback or sound-test start until StopPlayback (playback)
extern void *hwndTest;      // the sound test dialog, null when closed (its dialog)
