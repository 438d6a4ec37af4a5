// The 256-voice engine: note start and release, pitch (voices.cpp,
// pitch.cpp), the four render routines (voice_step.cpp) with their envelopes
// (envelope.cpp), and Make's voice loops (voice_mix.cpp, voice_stretch.cpp).
#pragma once

#include <cstdint>

namespace vokra {

constexpr int32_t kVoiceCount = 256;
constexpr int32_t kStepUnit = 272;     // nStep of one source sample per output sample
constexpr int32_t kNoteReleased = 128; // nNote of a voice released by note-off or hold
constexpr int32_t kStageEnded = 5;     // every voice after StopAllVoices

// Returns one output sample of voice nVoice.
typedef int32_t (*PfnRender)(int32_t nVoice);

// One voice. Written by the note operations (NoteOn & co.) and by its render
// routine, which Make calls once per output sample while bActive is set.
struct Voice {
  int32_t nChannel;      // MIDI channel 0..15
  int32_t nInstrument;   // instrument index 0..767
  int32_t nStep;         // phase increment per output sample, 1/272 source sample
  int32_t nNote;         // note 0..127 while the key is down; 128 once released
  int32_t nKeyNote;      // note as struck; used for retuning
  int32_t nEnvTimer;     // envelope clock accumulator, 0..nRate
  int32_t nEnvClock;     // envelope ticks per second: nStep x nRate / 22050 + 512
  int32_t nLevel;        // envelope level, 0..127 (simple) or 0..255 (five-stage)
  int32_t nVelGain;      // velocity factor 0..127 from anVelocityCurve
  int32_t nFrac;         // position fraction 0..271
  int32_t nPos;          // byte offset of the current sample in the instrument's data
  int32_t nEnvCount;     // countdown to the next envelope step
  int32_t nStage;        // envelope stage; past the release stage the voice is free
  int32_t nType;         // instrument type at note-on: 3 five-stage, else simple
  int32_t nEnvSub;       // five-stage divider gate counter
  int32_t bHeldOff;      // 0/1, note-off arrived while hold was on
  int32_t nAmp;          // nLevel x nVelGain, applied to the sample (/16384)
  int32_t bActive;       // 0/1, rendered by Make
  int32_t nInstGain;     // instrument gain (option A), applied by Make
  PfnRender pfnRender;   // chosen at note-on from nType and bOverSample
  int32_t *pnSum;        // collector: the channel's nSum
  int32_t *pnVoiceCount; // collector: the channel's nVoiceCount
};

extern Voice aVoice[kVoiceCount];

// Set where the processor has SSSE3: the block voice loop then picks the
// reads of slow steps out of a window by byte shuffles. Tests clear it to
// check the other way; both give the same sums.
extern bool bShuffleReads;
// Set where the processor has AVX2: those loops, and the pan of the rows
// handed out, then keep eight sums in one register. Tests clear it, as
// bShuffleReads.
extern bool bWideSums;
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#define VOKRA_WIDE_SUMS 1 // the AVX2 loops are built
#endif

// Increments of notes 108..119 before rate scaling (not equal-tempered).
extern const int32_t anSemitoneTable[12];
extern int32_t anVelocityCurve[128]; // quarter sine 0..127, built by BuildVelocityCurve
extern int32_t anLfoSine[512];       // one sine cycle -255..255, built by BuildLfoSine

void BuildVelocityCurve();
void BuildLfoSine();

// Phase increment of note n at nRate; notes outside 0..143 are clamped.
int32_t NoteToStep(int32_t n);
// Increment of note n bent by nBend (0..16383, 8192 centre) over nRange
// semitones and fine-tuned by nFine (-8192..8191, about +-1/256).
int32_t BendStep(int32_t nBend, int32_t nRange, int32_t n, int32_t nFine);

void NoteOn(int32_t nChannel, int32_t nNote, int32_t nVelocity);
void NoteOff(int32_t nChannel, int32_t nNote);
void ReleaseHeld(int32_t nChannel);
void RetuneChannel(int32_t nChannel);
void ApplyPolyPressure(int32_t nChannel, int32_t nNote, int32_t nValue);
void StopAllVoices();
// nVoiceTop = one past the highest active voice.
void CountVoices();

int32_t RenderSimple(int32_t nVoice);
int32_t RenderSimpleInterp(int32_t nVoice);
int32_t RenderFiveStage(int32_t nVoice);
int32_t RenderFiveStageInterp(int32_t nVoice);
// The voice loop of Make: renders every active voice below nVoiceTop and adds
// its weighted sample and a count to its channel's collectors.
void MixVoices();

// Result of RenderVoiceRun: the samples the voice sounded in (it ended in the
// last one when it is no longer active), and whether its end recounted
// nVoiceTop as EndVoice does (false only for a voice without data).
struct VoiceRun {
  int32_t nSamples;
  bool bRecounted;
};
// Renders active voice nVoice for up to nCount samples, sample i with
// vibrato sine anSine[i], adding its weighted samples to pnSum[i] as
// MixVoices adds them to the channel's nSum; stops after the sample in which
// the voice ends.
VoiceRun RenderVoiceRun(int32_t nVoice, int32_t nCount, const int32_t *anSine, int32_t *pnSum);

// Stage from which a voice of type nType is releasing: 4 five-stage, else 3.
inline int32_t ReleaseStage(int32_t nType) {
  return nType == 3 ? 4 : 3;
}

} // namespace vokra
