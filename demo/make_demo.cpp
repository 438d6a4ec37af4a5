// Writes the demo song: about 47 seconds in A minor, format 1, one track per
// instrument. Intro, a flute tune over Am F C G, an alto-sax bridge with pitch
// bends at a faster tempo, a waltz in 3/4 with glockenspiel, and a slowing
// outro that ends on a pedalled C major chord. It exercises what a player has
// to get right: programs, pans, drums on channel 10, tempo and time-signature
// changes, pitch bend, sustain pedal, reverb and chorus sends and a GS
// rhythm-part system-exclusive message.
//
//   make_demo OUT.mid
#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/smf/smf_writer.h"

namespace {

constexpr int kDivision = 480; // ticks per quarter note
constexpr int kBars = 21;

// Bars 14-17 are the waltz in 3/4; every other bar is 4/4.
int BeatsInBar(int nBar) {
  return nBar >= 14 && nBar <= 17 ? 3 : 4;
}

int BarTick(int nBar) {
  int nTick = 0;
  for (int b = 0; b < nBar; ++b)
    nTick += BeatsInBar(b) * kDivision;
  return nTick;
}

// Tick of a position given in beats (quarters) from the start of a bar.
int At(int nBar, double dBeat) {
  return BarTick(nBar) + static_cast<int>(dBeat * kDivision);
}

int Beats(double dBeats) {
  return static_cast<int>(dBeats * kDivision);
}

enum Kind { kOff, kCtrl, kBend, kProgram, kOn, kTempo, kTimeSig, kSysEx, kName };

struct Event {
  int nTick;
  Kind kind;
  int a, b; // key/controller/value, velocity/value
  int nSeq; // insertion order breaks ties
};

// One track's events with absolute times, written out in time order. At one
// tick note-offs come first, then controllers and bends, then note-ons.
class Part {
public:
  Part(const char *pszName, int nChannel) : pszName_(pszName), nChannel_(nChannel) {}

  void Note(int nTick, int nLength, int nKey, int nVelocity) {
    Add(nTick, kOn, nKey, nVelocity);
    Add(nTick + nLength - 8, kOff, nKey, 0); // a short gap keeps repeated notes apart
  }
  void Chord(int nTick, int nLength, std::initializer_list<int> aKeys, int nVelocity) {
    int n = 0;
    for (int nKey : aKeys)
      Note(nTick, nLength, nKey, nVelocity - 3 * n++);
  }
  void Control(int nTick, int nController, int nValue) { Add(nTick, kCtrl, nController, nValue); }
  void Program(int nTick, int nProgram) { Add(nTick, kProgram, nProgram, 0); }
  void Bend(int nTick, int nValue) { Add(nTick, kBend, nValue, 0); }
  // A glide from one bend value to another in nSteps even steps.
  void BendRamp(int nTick, int nLength, int nFrom, int nTo, int nSteps) {
    for (int i = 0; i <= nSteps; ++i)
      Bend(nTick + nLength * i / nSteps, nFrom + (nTo - nFrom) * i / nSteps);
  }
  void Tempo(int nTick, int nBpm) { Add(nTick, kTempo, 60000000 / nBpm, 0); }
  void TimeSig(int nTick, int nNumerator) { Add(nTick, kTimeSig, nNumerator, 0); }
  void SysEx(int nTick) { Add(nTick, kSysEx, 0, 0); }
  // Pan, volume and effect sends at the start of the song.
  void Setup(int nProgram, int nVolume, int nPan, int nReverb, int nChorus) {
    if (nProgram >= 0)
      Program(0, nProgram);
    Control(0, 7, nVolume);
    Control(0, 10, nPan);
    Control(0, 91, nReverb);
    Control(0, 93, nChorus);
  }

  void WriteTo(smfw::File &file) {
    std::stable_sort(aEvents_.begin(), aEvents_.end(), [](const Event &x, const Event &y) {
      return x.nTick != y.nTick ? x.nTick < y.nTick : x.kind < y.kind;
    });
    smfw::Track &track = file.AddTrack(true);
    track.TrackName(0, pszName_);
    int nLast = 0;
    for (const Event &e : aEvents_) {
      uint32_t nDelta = static_cast<uint32_t>(e.nTick - nLast);
      nLast = e.nTick;
      switch (e.kind) {
      case kOff:
        track.NoteOff(nDelta, nChannel_, e.a, 0);
        break;
      case kOn:
        track.NoteOn(nDelta, nChannel_, e.a, e.b);
        break;
      case kCtrl:
        track.ControlChange(nDelta, nChannel_, e.a, e.b);
        break;
      case kBend:
        track.PitchBend(nDelta, nChannel_, e.a);
        break;
      case kProgram:
        track.ProgramChange(nDelta, nChannel_, e.a);
        break;
      case kTempo:
        track.Tempo(nDelta, static_cast<uint32_t>(e.a));
        break;
      case kTimeSig:
        track.TimeSignature(nDelta, e.a, 2);
        break;
      case kSysEx:
        // GS: part 10 (block 0) is a rhythm part, drum map 1. Checksum 0x1A.
        track.SysEx(nDelta, {0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x01, 0x1A, 0xF7});
        break;
      case kName:
        break;
      }
    }
    track.EndOfTrack(static_cast<uint32_t>(BarTick(kBars) - nLast));
  }

private:
  void Add(int nTick, Kind kind, int a, int b) {
    aEvents_.push_back({nTick, kind, a, b, static_cast<int>(aEvents_.size())});
  }

  const char *pszName_;
  int nChannel_;
  std::vector<Event> aEvents_;
};

// Chords of the song, one per bar: root for the bass and a close voicing.
struct ChordShape {
  int nBass;
  int anVoicing[3];
};
constexpr ChordShape kAm{45, {57, 60, 64}}, kF{41, {53, 57, 60}}, kC{36, {55, 60, 64}},
    kG{43, {55, 59, 62}}, kEm{40, {55, 59, 64}}, kDm{38, {53, 57, 62}};
const ChordShape kProgression[kBars] = {kAm, kF,  kAm, kF,  kC, kG, kAm, kF, kG, kG, kF,
                                        kG,  kEm, kAm, kDm, kG, kC, kAm, kF, kG, kC};

// A melody note: beat offset in the bar, length in beats, key.
struct Tune {
  int nBar;
  double dBeat, dLength;
  int nKey;
};

// Velocity with a little deterministic variation, so repeated notes breathe.
int Humanize(int nVelocity, int nIndex) {
  return nVelocity + (nIndex * 7) % 5 - 2;
}

void WriteConductor(Part &p) {
  p.TimeSig(0, 4);
  p.Tempo(0, 100);
  p.Tempo(BarTick(10), 108); // the bridge pushes on
  p.TimeSig(BarTick(14), 3); // the waltz
  p.TimeSig(BarTick(18), 4);
  p.Tempo(BarTick(18), 100); // and the outro slows down
  p.Tempo(BarTick(19), 92);
  p.Tempo(BarTick(20), 84);
  p.Tempo(At(20, 2), 76);
}

void WritePiano(Part &p) {
  p.Setup(0, 90, 44, 50, 10);
  for (int bar = 0; bar < kBars; ++bar) {
    const ChordShape &c = kProgression[bar];
    const int *v = c.anVoicing;
    // The pedal goes down just after each bar starts and up just before the next.
    p.Control(At(bar, 0) + 10, 64, 127);
    if (bar < kBars - 1)
      p.Control(BarTick(bar + 1) - 20, 64, 0);
    if (bar < 2 || bar == 18) {
      // Broken chords rising over two octaves.
      const int anArp[8] = {v[0],      v[1],      v[2],      v[0] + 12,
                            v[1] + 12, v[2] + 12, v[0] + 24, v[2] + 12};
      for (int i = 0; i < 8; ++i)
        p.Note(At(bar, i * 0.5), Beats(0.5), anArp[i], Humanize(70, i));
    } else if (bar >= 14 && bar <= 17) {
      for (int beat = 1; beat < 3; ++beat)
        p.Chord(At(bar, beat), Beats(1), {v[0], v[1], v[2]}, Humanize(62, beat));
    } else if (bar == kBars - 1) {
      p.Chord(At(bar, 0), Beats(4), {v[0] - 12, v[0], v[1], v[2], v[1] + 12}, 84);
    } else {
      p.Chord(At(bar, 0), Beats(1.5), {v[0], v[1], v[2]}, Humanize(80, bar));
      p.Chord(At(bar, 1.5), Beats(1), {v[0], v[1], v[2]}, Humanize(68, bar + 1));
      p.Chord(At(bar, 3), Beats(1), {v[0], v[1], v[2]}, Humanize(72, bar + 2));
    }
  }
  p.Control(BarTick(kBars) - 4, 64, 0);
}

void WriteBass(Part &p) {
  p.Setup(33, 108, 64, 20, 0);
  for (int bar = 2; bar < kBars; ++bar) {
    int r = kProgression[bar].nBass;
    if (bar >= 14 && bar <= 17) {
      p.Note(At(bar, 0), Beats(2.5), r, 90);
      continue;
    }
    if (bar == kBars - 1) {
      p.Note(At(bar, 0), Beats(4), r, 96);
      continue;
    }
    p.Note(At(bar, 0), Beats(1.5), r, Humanize(96, bar));
    p.Note(At(bar, 1.5), Beats(0.5), r, Humanize(78, bar + 1));
    p.Note(At(bar, 2), Beats(1), r + 7, Humanize(86, bar + 2));
    p.Note(At(bar, 3), Beats(0.5), r + 12, Humanize(80, bar + 3));
    p.Note(At(bar, 3.5), Beats(0.5), r + 7, Humanize(76, bar + 4));
  }
}

void WriteStrings(Part &p) {
  p.Setup(48, 86, 84, 80, 40);
  for (int bar = 1; bar < kBars; ++bar) {
    const int *v = kProgression[bar].anVoicing;
    int nLength = Beats(BeatsInBar(bar));
    int nVelocity = bar >= 10 && bar <= 13 ? 70 : 58;
    p.Chord(At(bar, 0), nLength + 6, {v[0] - 12, v[1], v[2]}, nVelocity);
  }
  // The last chord swells.
  for (int i = 0; i <= 8; ++i)
    p.Control(At(kBars - 1, i * 0.5), 11, 90 + i * 4);
}

void WriteFlute(Part &p) {
  p.Setup(73, 96, 36, 70, 20);
  static const Tune kTune[] = {
      {2, 0, 1.5, 76},
      {2, 1.5, .5, 74},
      {2, 2, 1, 72},
      {2, 3, 1, 74},
      {3, 0, 2, 72},
      {3, 2, 1, 69},
      {3, 3, 1, 72},
      {4, 0, 1.5, 67},
      {4, 1.5, .5, 69},
      {4, 2, 1, 72},
      {4, 3, 1, 76},
      {5, 0, 3, 74},
      {5, 3, .5, 71},
      {5, 3.5, .5, 74},
      {6, 0, 1.5, 76},
      {6, 1.5, .5, 79},
      {6, 2, 1, 81},
      {6, 3, 1, 79},
      {7, 0, 1, 77},
      {7, 1, 1, 76},
      {7, 2, 1, 74},
      {7, 3, 1, 72},
      {8, 0, 1.5, 74},
      {8, 1.5, .5, 72},
      {8, 2, 1, 71},
      {8, 3, 1, 67},
      {9, 0, 2, 74},
      {9, 2, 2, 71},
      // The waltz.
      {14, 0, 2, 77},
      {14, 2, 1, 76},
      {15, 0, 1, 74},
      {15, 1, 1, 71},
      {15, 2, 1, 74},
      {16, 0, 3, 72},
      {17, 0, 2, 69},
      {17, 2, 1, 71},
      // The outro.
      {18, 0, 2, 72},
      {18, 2, 2, 69},
      {19, 0, 2, 71},
      {19, 2, 2, 74},
      {20, 0, 4, 72},
  };
  int i = 0;
  for (const Tune &t : kTune)
    p.Note(At(t.nBar, t.dBeat), Beats(t.dLength), t.nKey, Humanize(88, i++));
}

void WriteSax(Part &p) {
  p.Setup(65, 98, 92, 60, 10);
  constexpr int kCentre = 8192;
  constexpr int kSemitone = 4096; // the default bend range is two semitones
  // Bar 10 (F): a scoop into the first note.
  p.Bend(At(10, 0), kCentre - kSemitone);
  p.Note(At(10, 0), Beats(1.5), 72, 92);
  p.BendRamp(At(10, 0), Beats(0.25), kCentre - kSemitone, kCentre, 8);
  p.Note(At(10, 1.5), Beats(0.5), 74, 84);
  p.Note(At(10, 2), Beats(2), 77, 94);
  // Bar 11 (G).
  p.Note(At(11, 0), Beats(1), 79, 96);
  p.Note(At(11, 1), Beats(1), 77, 86);
  p.Note(At(11, 2), Beats(1.5), 74, 88);
  p.Note(At(11, 3.5), Beats(0.5), 72, 80);
  // Bar 12 (Em): a long note that bends up a semitone and falls back.
  p.Note(At(12, 0), Beats(2), 71, 94);
  p.BendRamp(At(12, 0.5), Beats(0.5), kCentre, kCentre + kSemitone, 8);
  p.BendRamp(At(12, 1.25), Beats(0.5), kCentre + kSemitone, kCentre, 8);
  p.Note(At(12, 2), Beats(1), 67, 84);
  p.Note(At(12, 3), Beats(1), 71, 88);
  // Bar 13 (Am): the last note rises a whole tone into the waltz.
  p.Note(At(13, 0), Beats(3), 69, 92);
  p.Note(At(13, 3), Beats(1), 72, 90);
  p.BendRamp(At(13, 3.25), Beats(0.6), kCentre, kCentre + 2 * kSemitone - 1, 12);
  p.Bend(At(14, 0), kCentre);
}

void WriteGlockenspiel(Part &p) {
  p.Setup(9, 100, 100, 90, 30);
  for (int bar = 14; bar <= 17; ++bar) {
    const int *v = kProgression[bar].anVoicing;
    const int anArp[6] = {v[0] + 12, v[1] + 12, v[2] + 12, v[0] + 24, v[2] + 12, v[1] + 12};
    for (int i = 0; i < 6; ++i)
      p.Note(At(bar, i * 0.5), Beats(0.5), anArp[i], Humanize(64, i));
  }
}

// General MIDI percussion keys.
enum Drum {
  kKick = 36,
  kStick = 37,
  kSnare = 38,
  kHatClosed = 42,
  kTomLow = 45,
  kHatOpen = 46,
  kTomMid = 47,
  kTomHigh = 50,
  kCrash = 49,
  kRide = 51,
  kTambourine = 54,
};

void WriteDrums(Part &p) {
  p.SysEx(0);
  p.Setup(0, 110, 64, 45, 0);
  auto hit = [&](int nBar, double dBeat, int nKey, int nVelocity) {
    p.Note(At(nBar, dBeat), Beats(0.25), nKey, nVelocity);
  };
  hit(0, 0, kHatClosed, 60);
  for (int beat = 1; beat < 4; ++beat)
    hit(0, beat, kHatClosed, 50);
  // Bar 1: the hi-hat, then a snare run into the tune.
  for (int i = 0; i < 6; ++i)
    hit(1, i * 0.5, kHatClosed, i % 2 ? 48 : 62);
  for (int i = 0; i < 4; ++i)
    hit(1, 3 + i * 0.25, kSnare, 60 + i * 10);
  for (int bar = 2; bar < 14; ++bar) {
    bool bBridge = bar >= 10;
    if (bar == 2 || bar == 10)
      hit(bar, 0, kCrash, 100);
    hit(bar, 0, kKick, 104);
    if (bBridge)
      hit(bar, 1.5, kKick, 88);
    hit(bar, 2, kKick, 96);
    hit(bar, 1, kSnare, 96);
    hit(bar, 3, kSnare, 100);
    for (int i = 0; i < 8; ++i) {
      bool bLast = i == 7 && bar % 4 == 1;
      hit(bar, i * 0.5,
          bBridge ? kRide
          : bLast ? kHatOpen
                  : kHatClosed,
          Humanize(i % 2 ? 56 : 72, i + bar));
    }
    if (bBridge) {
      hit(bar, 1, kTambourine, 70);
      hit(bar, 3, kTambourine, 70);
    }
  }
  // Bar 13 ends with a tom run down into the waltz.
  hit(13, 3, kTomHigh, 90);
  hit(13, 3.25, kTomMid, 92);
  hit(13, 3.5, kTomLow, 96);
  hit(13, 3.75, kTomLow, 100);
  for (int bar = 14; bar <= 17; ++bar) {
    hit(bar, 0, kKick, 90);
    hit(bar, 0, kRide, 70);
    hit(bar, 1, kStick, 64);
    hit(bar, 1, kRide, 56);
    hit(bar, 2, kStick, 60);
    hit(bar, 2, kRide, 56);
  }
  hit(18, 0, kCrash, 90);
  for (int i = 0; i < 8; ++i)
    hit(18, i * 0.5, kHatClosed, Humanize(i % 2 ? 50 : 64, i));
  hit(18, 0, kKick, 96);
  hit(18, 2, kKick, 90);
  hit(18, 1, kSnare, 84);
  hit(18, 3, kSnare, 88);
  // Bar 19: the fill that closes the song.
  hit(19, 0, kKick, 96);
  hit(19, 1, kSnare, 84);
  const int anFill[8] = {kSnare, kSnare, kTomHigh, kTomHigh, kTomMid, kTomMid, kTomLow, kTomLow};
  for (int i = 0; i < 8; ++i)
    hit(19, 2 + i * 0.25, anFill[i], 70 + i * 4);
  hit(20, 0, kCrash, 110);
  hit(20, 0, kKick, 110);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo OUT.mid\n");
    return 2;
  }
  smfw::File file(1, kDivision);
  Part conductor("Torqa demo", 0);
  WriteConductor(conductor);
  conductor.WriteTo(file);
  struct {
    const char *pszName;
    int nChannel;
    void (*pfnWrite)(Part &);
  } const kParts[] = {
      {"Piano", 0, WritePiano}, {"Bass", 1, WriteBass},    {"Strings", 2, WriteStrings},
      {"Flute", 3, WriteFlute}, {"Alto Sax", 4, WriteSax}, {"Glockenspiel", 5, WriteGlockenspiel},
      {"Drums", 9, WriteDrums},
  };
  for (const auto &part : kParts) {
    Part p(part.pszName, part.nChannel);
    part.pfnWrite(p);
    p.WriteTo(file);
  }
  if (!file.Save(argv[1])) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
