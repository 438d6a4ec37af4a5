// Pitch and level tables and the note-to-increment conversions.
#include <cmath>

#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra {

const int32_t anSemitoneTable[12] = {17416, 18432, 19576, 20684, 21968, 23096,
                                     24822, 25892, 27444, 29276, 31132, 32768};
int32_t anVelocityCurve[128];
int32_t anLfoSine[512];

namespace {
constexpr int32_t kTableOctave = 9;   // anSemitoneTable holds octave 9 (notes 108..119)
constexpr int32_t kHighestNote = 143; // twelve octaves
constexpr int32_t kRateBase = 11025;  // NoteToStep(60) = 272 at 44100 Hz
constexpr int32_t kBendCentre = 8192;
constexpr int32_t kFineScale = 2097152; // fine tune of +-8192 moves about 1/256
} // namespace

void BuildVelocityCurve() {
  anVelocityCurve[0] = 0;
  for (int32_t v = 1; v < 128; ++v)
    anVelocityCurve[v] =
        static_cast<int32_t>(std::sin(v * 0.007874015748031496 * 1.570796326794895) * 127);
}

void BuildLfoSine() {
  for (int32_t i = 0; i < 512; ++i)
    anLfoSine[i] = static_cast<int32_t>(std::sin(i * 0.00390625 * 3.1415927) * 256);
}

int32_t NoteToStep(int32_t n) {
  if (n < 0)
    n = 0;
  if (n > kHighestNote)
    n = kHighestNote;
  const int32_t nOctave = n / 12;
  const int32_t nSemitone = n - 12 * nOctave;
  int32_t v = anSemitoneTable[nSemitone];
  if (nOctave <= kTableOctave)
    v >>= kTableOctave - nOctave;
  else
    v <<= nOctave - kTableOctave;
  return v * kRateBase / nRate;
}

// Fine tune scales the base increment in 32-bit integers; the product is
// formed wider since low rates give large increments.
static int32_t FineTuned(int32_t b, int32_t nFine) {
  return b + static_cast<int32_t>(static_cast<int64_t>(b) * nFine / kFineScale);
}

int32_t BendStep(int32_t nBend, int32_t nRange, int32_t n, int32_t nFine) {
  if (nRange == 0)
    return FineTuned(NoteToStep(n), nFine);
  const float u = static_cast<float>(8192.0 / nRange);
  if (nBend >= kBendCentre) {
    const int32_t x = nBend - kBendCentre;
    const int32_t h = static_cast<int32_t>(x / u);
    const int32_t r = static_cast<int32_t>(x - h * u);
    const int32_t b = FineTuned(NoteToStep(n + h), nFine);
    const int32_t d = NoteToStep(n + h + 1) - NoteToStep(n + h);
    return static_cast<int32_t>(b + d * (r / u));
  }
  const int32_t x = kBendCentre - nBend;
  const int32_t h = static_cast<int32_t>(x / u);
  const int32_t r = static_cast<int32_t>(x - h * u);
  const int32_t b = FineTuned(NoteToStep(n - h), nFine);
  const int32_t d = NoteToStep(n - h) - NoteToStep(n - h - 1);
  return static_cast<int32_t>(b - d * (r / u));
}

} // namespace vokra
