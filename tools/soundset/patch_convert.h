// Converts the wave of a GUS patch that the unit would play into the unit's
// own EPC form: band-limited resampling (libsoxr) to a stored rate chosen for
// the notes the instrument plays, the root moved onto its semitone, seamless
// loops, and an envelope that follows the patch's, release included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The middle waveform of a patch (the one the unit's patch loader keeps).
struct PatchWave {
  int32_t nRate = 0;           // source sample rate, Hz
  double dRootHz = 0;          // root frequency
  int32_t nLoopStart = 0;      // in source samples
  int32_t nLoopEnd = 0;        // in source samples, one past the loop's last
  int32_t nModes = 0;          // mode bits: 2 loop, 3 ping-pong, 5 sustain, 6 envelope
  int32_t nScaleFactor = 1024; // 0: every key plays the recorded pitch
  uint8_t abRate[6] = {};      // envelope rates
  uint8_t abOffset[6] = {};    // envelope levels, 255 = full
  std::vector<float> aSamples; // -32768..32767
};

// Reads the middle waveform; 0 when the bytes are not a readable patch.
int32_t ParsePatch(const uint8_t *pData, size_t nSize, PatchWave *pWave);

// Everything an EPC file holds.
struct EpcImage {
  int32_t nTranspose = 0;
  int32_t nLoopStart = 0; // byte offsets, as the unit reads them
  int32_t nEnd = 0;
  int32_t nAttackStep = 127;
  int32_t nDecayPeriod = 0;
  int32_t nDecay2Period = 0;
  int32_t nReleaseStep = 3;
  int32_t nDecayLevel = 127;
  int32_t nFloorLevel = 127;
  int32_t bLoop = 0;
  std::vector<int16_t> aData;
};

std::vector<uint8_t> EpcBytes(const EpcImage &epc);

// Writes sPath whole through a file beside it and a rename: a player that has
// the old file mapped keeps its pages (truncating it in place would fault
// them), and a failed write leaves no half file. False on failure.
bool ReplaceFile(const std::string &sPath, const void *pData, size_t nBytes);

// Envelope ticks per second of a voice stepping dStep source samples per
// output sample at 44100 Hz.
double EnvelopeTicks(double dStep);

// The frequency the unit's note table gives note n when a sample holds middle C
// at 44100 Hz: its semitone table's ratios, without the integer truncations.
double TablePitchHz(int32_t nNote);
// The unit's increment for note n at 44100 Hz, in 1/272 of a source sample.
int32_t TableStep44100(int32_t nNote);

struct Conversion {
  EpcImage epc;
  int32_t nKeyShift = 0;  // option K (drums: the octaves of the stored rate)
  double dPeak = 0;       // peak of the converted wave before normalising, full scale 1
  double dStoredRate = 0; // samples per second of the recorded sound
};

// Melodic instrument whose usual notes lie in the two octaves above nLowNote:
// stored so that nLowNote steps one sample per 44.1 kHz output sample (the
// transposition field 60 - nLowNote), band-limited for those two octaves, with
// the root at the unit's note-table pitch.
int32_t ConvertMelodic(const PatchWave &wave, int32_t nLowNote, Conversion *pOut);
// Rhythm instrument for drum note nKey sounding at note nPitchNote's pitch (or,
// with a negative nPitchNote, at the recorded pitch): no loop, no envelope,
// played to its end as a drum is (with bKeepLoop, a looping wave keeps its
// loop: the caller gives it an envelope that ends it).
int32_t ConvertDrum(const PatchWave &wave, int32_t nPitchNote, Conversion *pOut,
                    bool bKeepLoop = false);

// The lowest note General MIDI program p usually plays.
int32_t UsualLowNote(int32_t nProgram);

struct SoundSetPatch;
class TimidityReader;

// Converts every patch of a configuration into an EPC file in sDir, which the
// sound-set directory reaches as sLinkName, and points the patches at them,
// with the gain (option A) and key shift the converted files need. Patches
// that cannot be converted keep their GUS file. Returns the number converted.
int32_t ConvertSoundSet(const TimidityReader &reader, const std::string &sLinkName,
                        const std::string &sDir, std::vector<SoundSetPatch> *pPatches,
                        std::vector<std::string> *pWarnings);
