#include "tools/cli/song_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/message_box.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"

bool ReadSongFile(const std::string &sPath, std::vector<uint8_t> *paBytes, std::string *psWhy) {
  paBytes->clear();
  // A FIFO blocks here until its writer comes, as a reader of one expects.
  const int nFd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (nFd < 0) {
    *psWhy = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(nFd, &st) != 0) {
    *psWhy = std::strerror(errno);
    close(nFd);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *psWhy = "is a directory";
    close(nFd);
    return false;
  }
  char szTooLarge[128];
  std::snprintf(szTooLarge, sizeof szTooLarge,
                "too large (the largest song read is %" PRId64 " MiB)", kMaxSongFileBytes >> 20);
  if (S_ISREG(st.st_mode) && st.st_size >= kMaxSongFileBytes) {
    *psWhy = szTooLarge;
    close(nFd);
    return false;
  }
  bool bOk = true;
  try {
    size_t nUsed = 0;
    paBytes->resize(S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 64 * 1024);
    for (;;) {
      if (nUsed == paBytes->size()) {
        if (static_cast<int64_t>(nUsed) >= kMaxSongFileBytes) {
          *psWhy = szTooLarge;
          bOk = false;
          break;
        }
        paBytes->resize(paBytes->size() * 2);
      }
      const ssize_t n = read(nFd, paBytes->data() + nUsed, paBytes->size() - nUsed);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        *psWhy = std::string("cannot read: ") + std::strerror(errno);
        bOk = false;
        break;
      }
      if (n == 0)
        break;
      nUsed += static_cast<size_t>(n);
    }
    paBytes->resize(nUsed);
    if (bOk && static_cast<int64_t>(nUsed) >= kMaxSongFileBytes) {
      *psWhy = szTooLarge;
      bOk = false;
    }
  } catch (const std::bad_alloc &) {
    *psWhy = "out of memory reading it";
    bOk = false;
  }
  close(nFd);
  if (!bOk)
    std::vector<uint8_t>().swap(*paBytes);
  return bOk;
}

bool LoadSongBytes(const std::string &sPath, const std::vector<uint8_t> &aBytes) {
  CaptureMessageSink sink;
  MessageSink *pPrevious = SetMessageSink(&sink);
  const int32_t bLoaded =
      LoadSmfBytes(aBytes.empty() ? nullptr : aBytes.data(), static_cast<int32_t>(aBytes.size()));
  SetMessageSink(pPrevious);
  if (bLoaded)
    return true;
  const char *pszPath = sPath.c_str();
  if (sink.sText == "タイムコードは扱えません")
    std::fprintf(stderr, "torqa-cli: %s: %s: %s (time-code (SMPTE) division is not supported)\n",
                 pszPath, sink.sCaption.c_str(), sink.sText.c_str());
  else if (sink.sText == "Global Memory")
    std::fprintf(stderr, "torqa-cli: %s: out of memory for the song image (%zu bytes)\n", pszPath,
                 aBytes.size());
  else if (!sink.sText.empty())
    std::fprintf(stderr, "torqa-cli: %s: %s: %s\n", pszPath, sink.sCaption.c_str(),
                 sink.sText.c_str());
  else
    std::fprintf(stderr, "torqa-cli: %s: not a MIDI file (no MThd header of format 0 or 1)\n",
                 pszPath);
  return false;
}

namespace {

constexpr int32_t kTickAccumFloor = INT32_MIN / 2; // the sequencer's bound on tick debt

// The song position after nSongTick changed, as the sequencer's tick sets it.
void SetPositionFromTick() {
  if (nTicksPerBeat == 0)
    return;
  nTickInBeat = nSongTick % nTicksPerBeat;
  const int32_t nBeat = nSongTick / nTicksPerBeat;
  nBeatInMeasure = nBeat % nBeatsPerMeasure;
  nMeasure = nBeat / nBeatsPerMeasure;
}

// The samples that nTicks ticks take from the accumulator value a, each tick
// adding nSamplesPerTick, with the clock taking nTickStep per sample and
// serving at most one tick per sample. Leaves the accumulator in *pA.
int64_t SamplesForTicks(int64_t nTicks, int64_t *pA) {
  const int64_t nStep = nTickStep;
  const int64_t nAdd = nSamplesPerTick;
  int64_t a = *pA;
  int64_t nSamples = 0;
  // The first tick on its own: it may start above the step or in debt.
  if (nTicks > 0) {
    const int64_t c = a > 0 ? (a - 1) / nStep + 1 : 1;
    a = std::max<int64_t>(a - c * nStep + nAdd, kTickAccumFloor);
    nSamples += c;
    --nTicks;
  }
  if (nTicks > 0 && nAdd < nStep) {
    // Every tick is one sample; the debt grows to the floor.
    nSamples += nTicks;
    a = std::max<int64_t>(a - nTicks * (nStep - nAdd), kTickAccumFloor);
  } else if (nTicks > 0) {
    if (a <= 0) { // one tick per sample until the debt is paid
      const int64_t nGain = nAdd - nStep;
      const int64_t nDebtTicks = nGain == 0 ? nTicks : std::min(nTicks, -a / nGain + 1);
      nSamples += nDebtTicks;
      a += nDebtTicks * nGain;
      nTicks -= nDebtTicks;
    }
    if (nTicks > 0) {
      // Each tick comes on the first sample that takes the accumulator to 0
      // or below: the last of them on sample ceil((a + (n - 1) add) / step).
      const int64_t nLast = (a + (nTicks - 1) * nAdd + nStep - 1) / nStep;
      nSamples += nLast;
      a = a + nTicks * nAdd - nLast * nStep;
    }
  }
  *pA = a;
  return nSamples;
}

} // namespace

int64_t SongLengthSamples(int64_t nLimit) {
  if (ActiveTrackCount() == 0 || nTickStep <= 0)
    return WalkToSongEnd(nLimit);
  int64_t nSamples = 0;
  while (nSamples < nLimit) {
    int32_t nMinDelta = INT32_MAX;
    for (int32_t t = 0; t < nTracks && t < kMaxTracks; ++t)
      if (abTrackActive[t] && anTrackDelta[t] < nMinDelta)
        nMinDelta = anTrackDelta[t];
    if (nMinDelta > 1) {
      // The ticks before the nearest event serve nothing: count them at once.
      const int32_t nQuiet = nMinDelta - 1;
      int64_t a = nTickAccum;
      const int64_t n = SamplesForTicks(nQuiet, &a);
      if (n >= nLimit - nSamples)
        return nLimit; // still playing at the limit
      nSamples += n;
      nTickAccum = static_cast<int32_t>(a);
      nSongTick =
          static_cast<int32_t>(static_cast<uint32_t>(nSongTick) + static_cast<uint32_t>(nQuiet));
      SetPositionFromTick();
      for (int32_t t = 0; t < nTracks && t < kMaxTracks; ++t)
        if (abTrackActive[t])
          anTrackDelta[t] -= nQuiet;
    }
    // The tick that serves events, through the sequencer itself.
    int64_t a = nTickAccum;
    const int64_t nBefore = a > nTickStep ? (a - 1) / nTickStep : 0;
    if (nBefore >= nLimit - nSamples)
      return nLimit;
    nTickAccum = static_cast<int32_t>(a - nBefore * nTickStep);
    nSamples += nBefore;
    SequencerClock();
    ++nSamples;
    if (ActiveTrackCount() == 0)
      break;
  }
  return nSamples;
}
