// torqa-cli play SONG: plays a song through the sound device with the saved
// rate, device, effects and units, the way the player's play command does,
// with a status line per finished buffer on a terminal. Ctrl-C stops cleanly.
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "platform/audio_devices.h"
#include "platform/event_loop.h"
#include "platform/message_box.h"
#include "platform/wave_out.h"
#include "player/app/startup.h"
#include "player/output/playback.h"
#include "player/render/render_loop.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "tools/cli/cli_host.h"
#include "tools/cli/commands.h"

namespace {

constexpr int kExitNoDevice = 69; // EX_UNAVAILABLE: run.sh renders to a file instead
constexpr int32_t kNormalTickStep = 256;
constexpr int32_t kUnityVolume = 127; // nOutVolume at 0 dB
constexpr int32_t kMinVolume = 2;
constexpr int32_t kMaxVolume = 714;
constexpr double kMinSpeed = 0.25;
constexpr double kMaxSpeed = 4.0;
constexpr int32_t kWaitMs = 100; // longest sleep between looks at Ctrl-C
constexpr uint32_t kMsgInterrupt = kWmUser + 1;

const char kUsage[] =
    "usage: torqa-cli play SONG [--from MEASURE] [--speed 0.25..4] [--volume DB]\n"
    "Plays SONG through the sound device with the player's saved rate, device, effects\n"
    "and units. --from starts at a measure (1 = the first), --speed scales the tempo,\n"
    "--volume sets the output level in dB (0 = normal, -36..+15). Ctrl-C stops.\n"
    "Exits with 69 when there is no sound device or it does not open.\n";

volatile sig_atomic_t gbInterrupted = 0;
bool gbTerminal = false;

// Posting is lock-free and async-signal-safe; the post also wakes the loop.
void OnInterrupt(int) {
  gbInterrupted = 1;
  PostLoopMessage(kMsgInterrupt, 0, 0);
}

double PeakDb(int32_t nPeak) {
  return nPeak > 0 ? 20.0 * std::log10(nPeak / 32768.0) : -96.0;
}

// One line, rewritten in place: position, output level, load, clipping.
void ShowStatus() {
  if (!gbTerminal)
    return;
  const int32_t *pnSum = CurMeterFrame.anSummary;
  int32_t nPeak =
      pnSum[kMeterOutPeakL] > pnSum[kMeterOutPeakR] ? pnSum[kMeterOutPeakL] : pnSum[kMeterOutPeakR];
  std::printf("\r\x1b[2K%4d:%d:%03d  out %6.1f dB  load %3d %%%s%s", pnSum[kMeterMeasure],
              (pnSum[kMeterBeatTick] >> 16) + 1, pnSum[kMeterBeatTick] & 0xFFFF, PeakDb(nPeak),
              pnSum[kMeterLoadPercent], pnSum[kMeterOverload] ? "  OVERLOAD" : "",
              pnSum[kMeterClipped] ? "  CLIP" : "");
  std::fflush(stdout);
}

// The main window's procedure, for the messages playback sends.
int32_t PlayWindowProc(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (nMessage == MM_WOM_DONE)
    OnWaveDoneMessage(wParam, lParam);
  else if (nMessage == UM_REDRAW)
    ShowStatus();
  else if (nMessage == kMsgInterrupt && bOutputOpen)
    StopPlayback(nullptr);
  return 0;
}

bool ParseDouble(const char *psz, double *pd) {
  char *pEnd = nullptr;
  double d = std::strtod(psz, &pEnd);
  if (pEnd == psz || *pEnd || !std::isfinite(d))
    return false;
  *pd = d;
  return true;
}

// Loads the song; on failure prints why (the loader's message box text) and returns false.
bool LoadSong(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "torqa-cli: %s: %s\n", pszPath,
                 S_ISDIR(st.st_mode) ? "is a directory" : std::strerror(errno));
    return false;
  }
  CaptureMessageSink sink;
  MessageSink *pPrevious = SetMessageSink(&sink);
  int32_t bLoaded = LoadSmf(pszPath);
  SetMessageSink(pPrevious);
  if (bLoaded)
    return true;
  if (!sink.sText.empty())
    std::fprintf(stderr, "torqa-cli: %s: %s: %s\n", pszPath, sink.sCaption.c_str(),
                 sink.sText.c_str());
  else
    std::fprintf(stderr, "torqa-cli: %s: not a MIDI file (format 0 or 1, or RMI)\n", pszPath);
  return false;
}

} // namespace

int CmdPlay(int argc, char **argv) {
  const char *pszSong = nullptr;
  int32_t nFrom = 1;
  double dSpeed = 1.0, dVolumeDb = 0.0;
  for (int i = 1; i < argc; i++) {
    std::string sArg = argv[i];
    bool bValue = i + 1 < argc;
    if (sArg == "-h" || sArg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (sArg == "--from" && bValue) {
      double d;
      if (!ParseDouble(argv[++i], &d) || d < 1 || d > 65535 || d != std::floor(d)) {
        std::fprintf(stderr, "torqa-cli: --from takes a measure number from 1, not %s\n", argv[i]);
        return 2;
      }
      nFrom = static_cast<int32_t>(d);
    } else if (sArg == "--speed" && bValue) {
      if (!ParseDouble(argv[++i], &dSpeed) || dSpeed < kMinSpeed || dSpeed > kMaxSpeed) {
        std::fprintf(stderr, "torqa-cli: --speed takes 0.25..4, not %s\n", argv[i]);
        return 2;
      }
    } else if (sArg == "--volume" && bValue) {
      if (!ParseDouble(argv[++i], &dVolumeDb)) {
        std::fprintf(stderr, "torqa-cli: --volume takes decibels, not %s\n", argv[i]);
        return 2;
      }
    } else if (sArg.size() > 1 && sArg[0] == '-') {
      std::fprintf(stderr, "torqa-cli: unknown or incomplete option %s\n%s", sArg.c_str(), kUsage);
      return 2;
    } else if (pszSong) {
      std::fprintf(stderr, "torqa-cli: play takes one SONG\n%s", kUsage);
      return 2;
    } else {
      pszSong = argv[i];
    }
  }
  if (!pszSong) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // The device list comes first: the settings pick the saved device from it.
  WaveOutDriver *pDriver = GetSdlWaveOutDriver();
  SetWaveOutDriver(pDriver);
  if (!pDriver || WaveOutGetNumDevs() == 0) {
    std::fprintf(stderr, "torqa-cli: no sound device\n");
    return kExitNoDevice;
  }
  CliLoadSettings();
  if (!LoadSong(pszSong))
    return 1;
  if (!WaveOutQuery(nSelDevice, nPCMRate)) {
    std::fprintf(stderr, "torqa-cli: the sound device \"%s\" does not open at %d Hz\n",
                 DeviceFullName(nSelDevice), nPCMRate);
    return kExitNoDevice;
  }
  if (!CliBindUnits())
    return 1;
  if (!AllocOutputBuffersOrReport(nullptr)) {
    ShutDown();
    return 1;
  }

  nStartMeasure = nFrom - 1;
  nTickStep = static_cast<int32_t>(std::lround(kNormalTickStep * dSpeed));
  long nVolume = std::lround(kUnityVolume * std::pow(10.0, dVolumeDb / 20.0));
  nOutVolume = nVolume < kMinVolume   ? kMinVolume
               : nVolume > kMaxVolume ? kMaxVolume
                                      : static_cast<int32_t>(nVolume);
  gbTerminal = isatty(STDOUT_FILENO) == 1;
  SetMessageHandler(PlayWindowProc);
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt; // no SA_RESTART: the wait ends at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  StartPlayback(nullptr);
  bool bOpened = bOutputOpen != 0;
  while (bOutputOpen) {
    if (gbInterrupted) {
      StopPlayback(nullptr);
      break;
    }
    if (GetEventLoop()->Wait(kWaitMs))
      PumpOneMessage();
  }
  if (gbTerminal)
    std::printf("\n");
  SetMessageHandler(nullptr);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  ShutDown();
  ShutdownSdlWaveOut();
  if (!bOpened) {
    std::fprintf(stderr, "torqa-cli: the sound device \"%s\" did not open at %d Hz\n",
                 DeviceFullName(nSelDevice), nPCMRate);
    return kExitNoDevice;
  }
  if (gbInterrupted)
    std::fprintf(stderr, "torqa-cli: stopped\n");
  return 0;
}
