// Writes the stress song: 270 held notes of sustaining instruments on the 15
// melodic channels, struck within the first 1.2 seconds and released together
// after 31 seconds. The unit has 256 voices and no voice stealing, so the
// first 256 notes sound for 30 seconds with every voice busy and the last 14
// are dropped. It is the worst case for the render loop.
//
//   make_stress OUT.mid
#include <cstdio>

#include "tools/smf/smf_writer.h"

namespace {

constexpr int kDivision = 480; // ticks per quarter note; 120 bpm: 960 ticks a second
constexpr int kTicksPerSecond = 960;
constexpr int kNotesPerChannel = 18; // 15 channels x 18 = 270 notes, 14 over the voice limit
constexpr int kStrikeGap = 4;        // ticks between two note-ons (about 4 ms)
constexpr int kReleaseTick = 31 * kTicksPerSecond;
constexpr int kEndTick = 36 * kTicksPerSecond; // room for the releases to fade

// Instruments that hold while the key is down (organs, reeds, strings, pads).
constexpr int kPrograms[15] = {16, 19, 21, 48, 49, 52, 56, 61, 68, 71, 73, 80, 81, 89, 91};

// Distinct notes within a channel (a repeated note would release its voice):
// a C major pentatonic scale upwards from C2, each channel on its own offset.
int NoteOf(int nChannelIndex, int i) {
  static const int kPentatonic[5] = {0, 2, 4, 7, 9};
  static const int kOffsets[3] = {0, 12, 7};
  return 36 + kOffsets[nChannelIndex % 3] + 12 * (i / 5) + kPentatonic[i % 5];
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_stress OUT.mid\n");
    return 2;
  }
  smfw::File file(1, kDivision);
  smfw::Track &conductor = file.AddTrack();
  conductor.TrackName(0, "stress: 256 voices for 30 s");
  conductor.Tempo(0, 500000);
  conductor.TimeSignature(0, 4, 2);
  conductor.EndOfTrack(kEndTick);

  int nStrike = 0; // index of the next note-on over all channels
  int nChannelIndex = 0;
  for (int nChannel = 0; nChannel < 16; ++nChannel) {
    if (nChannel == 9)
      continue; // the rhythm channel: its notes do not hold
    smfw::Track &track = file.AddTrack();
    track.ProgramChange(0, nChannel, kPrograms[nChannelIndex]);
    track.ControlChange(0, nChannel, 7, 40); // quiet: 256 voices still fit the 16-bit range better
    track.ControlChange(0, nChannel, 10, 8 + nChannelIndex * 8);
    track.ControlChange(0, nChannel, 91, 40);
    track.ControlChange(0, nChannel, 93, 20);
    // Strikes interleave over the channels: note i of channel c at (i * 15 + c) * gap.
    int nTick = 0;
    for (int i = 0; i < kNotesPerChannel; ++i) {
      const int nAt = (i * 15 + nChannelIndex) * kStrikeGap;
      track.NoteOn(static_cast<uint32_t>(nAt - nTick), nChannel, NoteOf(nChannelIndex, i), 100);
      nTick = nAt;
      ++nStrike;
    }
    for (int i = 0; i < kNotesPerChannel; ++i) {
      track.NoteOff(static_cast<uint32_t>(kReleaseTick - nTick), nChannel,
                    NoteOf(nChannelIndex, i));
      nTick = kReleaseTick;
    }
    track.EndOfTrack(static_cast<uint32_t>(kEndTick - nTick));
    ++nChannelIndex;
  }
  if (!file.Save(argv[1])) {
    std::fprintf(stderr, "make_stress: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %d notes on 15 channels\n", argv[1], nStrike);
  return 0;
}
