// torqa-cli render SONG...: records songs to WAV files through the player's
// recorder, with the saved settings unless options override them (the
// overrides are not saved). Every song renders in a child process of its own,
// so a unit is one instance per render and -j N renders give the same bytes as
// one after another. The children report progress through a pipe; only this
// process writes to the terminal. Each song file is read once, here: a child
// loads the bytes it inherits.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "player/app/startup.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/render/wav_recorder.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "tools/cli/cli_host.h"
#include "tools/cli/commands.h"
#include "tools/cli/song_file.h"

#if defined(__SANITIZE_ADDRESS__)
#define TORQA_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORQA_LEAK_CHECK 1
#endif
#endif
#ifdef TORQA_LEAK_CHECK
#include <dirent.h>
#include <sanitizer/lsan_interface.h>

namespace {

bool gbForkedAlone = false; // the process had one thread when this child was forked

// Threads of this process, from /proc/self/task; 0 when it cannot be read.
int ThreadCount() {
  DIR *pDir = opendir("/proc/self/task");
  if (!pDir)
    return 0;
  int nCount = 0;
  while (const dirent *pEntry = readdir(pDir))
    nCount += pEntry->d_name[0] != '.';
  closedir(pDir);
  return nCount;
}

} // namespace
#endif

namespace {

constexpr int32_t kMaxJobs = 64;
constexpr int32_t kMax3DLength = 1600;
constexpr int32_t kDefaultMaxSeconds = 60 * 60 * 4; // a song still running after 4 hours is cut off
constexpr int32_t kMaxMaxSeconds = 60 * 60 * 24 * 7;
constexpr double kReportInterval = 0.1; // seconds between progress reports of a child
constexpr int32_t kBarWidth = 24;

const char kUsage[] =
    "usage: torqa-cli render SONG... [-o OUT.wav] [-r RATE] [--reverb on|off] [--chorus on|off]\n"
    "                        [--lpf on|off] [--3d DEPTH] [--3d-engine light|medium|heavy] [-j N]\n"
    "                        [--max-length SECONDS]\n"
    "Records each SONG to a WAV file (default: the song's name with .wav, beside it;\n"
    "-o - writes it to standard output). A render still running after --max-length\n"
    "seconds (default 14400, 4 hours; 0: no limit) is cut off there.\n"
    "Rate and effects default to the player's saved settings; options here are not saved.\n"
    "Units are those of the saved slots (PLUGIN/ beside the program, or $TORQA_PLUGIN_DIR).\n";

struct Song {
  std::string sPath;
  std::string sOut;           // the WAV file; /dev/stdout for -o -
  double dSeconds;            // length of the song itself, without the tail
  std::vector<uint8_t> aData; // the file's bytes when it cannot be read again (a FIFO)
};

constexpr char kStdoutPath[] = "/dev/stdout";

// One message from a child: progress, or with bFinal the outcome.
struct JobReport {
  int64_t nBytes;
  double dElapsed; // seconds since the recording began
  int32_t nMeasure, nBeat, nTick;
  int32_t bFinal;
  int32_t nStatus;
  int32_t nErrno;
  int32_t bSounded; // some sample of the file is not zero
  int32_t bCutOff;  // stopped at the length limit
};
static_assert(sizeof(JobReport) <= PIPE_BUF, "reports must reach the pipe in one piece");

struct Job {
  size_t nSong;
  pid_t nPid;
  int nFd; // read end of the child's report pipe
  JobReport last;
  bool bHaveFinal;
};

volatile sig_atomic_t gbInterrupted = 0;
// The signal that interrupted: passed on to the children, and 128 + it is the
// exit code.
volatile sig_atomic_t gnSignal = 0;

void OnInterrupt(int nSignal) {
  gnSignal = nSignal;
  gbInterrupted = 1;
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

bool ParseInt(const char *psz, int32_t nMin, int32_t nMax, int32_t *pn) {
  char *pEnd = nullptr;
  errno = 0;
  long n = std::strtol(psz, &pEnd, 10);
  if (!*psz || *pEnd || errno || n < nMin || n > nMax)
    return false;
  *pn = static_cast<int32_t>(n);
  return true;
}

bool ParseOnOff(const char *psz, int32_t *pb) {
  if (!std::strcmp(psz, "on"))
    *pb = 1;
  else if (!std::strcmp(psz, "off"))
    *pb = 0;
  else
    return false;
  return true;
}

std::string DefaultOutput(const std::string &sSong) {
  size_t nSlash = sSong.rfind('/');
  size_t nDot = sSong.rfind('.');
  if (nDot != std::string::npos && (nSlash == std::string::npos || nDot > nSlash + 1))
    return sSong.substr(0, nDot) + ".wav";
  return sSong + ".wav";
}

// Whether the output can be created: its directory must allow writing, and an
// existing file must be a writable regular file.
bool CheckOutput(const std::string &sOut, std::string *pWhy) {
  struct stat st;
  if (stat(sOut.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *pWhy = "is a directory";
      return false;
    }
    if (access(sOut.c_str(), W_OK) != 0) {
      *pWhy = std::strerror(errno);
      return false;
    }
    return true;
  }
  size_t nSlash = sOut.rfind('/');
  std::string sDir = nSlash == std::string::npos ? "." : sOut.substr(0, nSlash + 1);
  if (access(sDir.c_str(), W_OK | X_OK) != 0) {
    *pWhy = std::strerror(errno);
    return false;
  }
  return true;
}

// Which file an output names: the file itself when it exists, else its
// directory and name.
struct OutputId {
  dev_t nDev;
  ino_t nIno;
  std::string sName; // empty when the file exists
  bool operator==(const OutputId &) const = default;
};

OutputId IdentifyOutput(const std::string &sOut) {
  struct stat st;
  if (stat(sOut.c_str(), &st) == 0)
    return OutputId{st.st_dev, st.st_ino, std::string()};
  size_t nSlash = sOut.rfind('/');
  std::string sDir = nSlash == std::string::npos ? "." : sOut.substr(0, nSlash + 1);
  std::string sName = nSlash == std::string::npos ? sOut : sOut.substr(nSlash + 1);
  if (stat(sDir.c_str(), &st) != 0)
    return OutputId{0, 0, sOut};
  return OutputId{st.st_dev, st.st_ino, sName};
}

// /dev/null may take any number of renders.
bool IsCharacterDevice(const std::string &sOut) {
  struct stat st;
  return stat(sOut.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Reads a song and loads it into the song image; on failure prints why and
// returns false. The bytes stay in *pSong when the file cannot be read again.
bool LoadSong(Song *pSong) {
  std::vector<uint8_t> aBytes;
  std::string sWhy;
  if (!ReadSongFile(pSong->sPath, &aBytes, &sWhy)) {
    std::fprintf(stderr, "torqa-cli: %s: %s\n", pSong->sPath.c_str(), sWhy.c_str());
    return false;
  }
  if (!LoadSongBytes(pSong->sPath, aBytes))
    return false;
  struct stat st;
  if (stat(pSong->sPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    pSong->aData = std::move(aBytes);
  return true;
}

// The song's length at nRate up to nLimitSeconds, from its tempo map (before
// any unit is bound, so nothing hears the events).
double SongSeconds(int32_t nRate, int32_t nLimitSeconds) {
  const int32_t nSavedRate = nPCMRate;
  BeginSongWalk(nRate);
  const int64_t nLimit = nLimitSeconds > 0 ? int64_t{nRate} * nLimitSeconds : INT64_MAX;
  const int64_t nSamples = SongLengthSamples(nLimit);
  EndSongWalk();
  nPCMRate = nSavedRate;
  return static_cast<double>(nSamples) / nRate;
}

// --- The child: one song, reports through nFd. ---

struct ChildContext {
  int nFd;
  double dStart;
  double dLastReport;
  int64_t nMaxBytes; // the length limit in data bytes; 0 for none
  int32_t bSounded;
  int32_t bCutOff;
};

void SendReport(int nFd, const JobReport &report) {
  ssize_t n;
  do
    n = write(nFd, &report, sizeof report);
  while (n < 0 && errno == EINTR);
}

void OnChildProgress(void *pUser, const RecordProgress &progress) {
  ChildContext &ctx = *static_cast<ChildContext *>(pUser);
  // The block just written is still in output buffer 0.
  for (int32_t i = 0; !ctx.bSounded && i < kRecordBlockBytes; ++i)
    ctx.bSounded = apOutBuf[0][i] != 0;
  if (gbInterrupted)
    bRecording = 0; // ends after this block, with a valid file
  if (ctx.nMaxBytes > 0 && progress.nBytes >= ctx.nMaxBytes && bRecording) {
    bRecording = 0;
    ctx.bCutOff = 1;
  }
  double dNow = Now();
  if (dNow - ctx.dLastReport < kReportInterval)
    return;
  ctx.dLastReport = dNow;
  JobReport report{progress.nBytes,
                   dNow - ctx.dStart,
                   progress.nMeasure,
                   progress.nBeat,
                   progress.nTick,
                   0,
                   0,
                   0,
                   ctx.bSounded,
                   0};
  SendReport(ctx.nFd, report);
}

// The child's exit codes; anything else (a sanitizer's report) is a failure
// the parent names.
constexpr int kChildDone = 0;
constexpr int kChildFailed = 1;

[[noreturn]] void RunChild(const Song &song, int32_t nRate, int32_t nMaxSeconds, int nFd) {
  JobReport final{0, 0, 0, 0, 0, 1, kRecordNoSong, 0, 0, 0};
  CaptureMessageSink sink; // the parent prints the outcome
  SetMessageSink(&sink);
  if (song.sOut == kStdoutPath)
    signal(SIGPIPE, SIG_IGN); // a reader that goes away is a write error, not a killed render
  int32_t bLoaded = 0;
  if (!song.aData.empty()) {
    bLoaded = LoadSmfBytes(song.aData.data(), static_cast<int32_t>(song.aData.size()));
  } else {
    std::vector<uint8_t> aBytes;
    std::string sWhy;
    bLoaded = ReadSongFile(song.sPath, &aBytes, &sWhy) &&
              LoadSmfBytes(aBytes.data(), static_cast<int32_t>(aBytes.size()));
  }
  if (bLoaded) {
    ChildContext ctx{nFd, Now(), Now(), int64_t{nMaxSeconds} * nRate * 4, 0, 0};
    RecordResult result = RecordWavFile(song.sOut.c_str(), nRate, OnChildProgress, &ctx, nullptr);
    final.nBytes = result.nDataBytes;
    final.dElapsed = Now() - ctx.dStart;
    final.nStatus = result.nStatus;
    final.nErrno = result.nErrno;
    final.bSounded = ctx.bSounded;
    final.bCutOff = ctx.bCutOff && result.nStatus == kRecordAborted && !gbInterrupted;
  }
  SendReport(nFd, final);
  close(nFd);
  FreeSong();
#ifdef TORQA_LEAK_CHECK
  // _exit skips the sanitizer's leak check: run it, so leaks in the render
  // path are reported and fail the render. Not where the parent had other
  // threads when it forked (the audio library's, after a first run listed the
  // devices): the checker would take them for live threads it cannot stop.
  if (gbForkedAlone && __lsan_do_recoverable_leak_check())
    _exit(23);
#endif
  _exit(final.nStatus == kRecordDone || final.bCutOff ? kChildDone : kChildFailed);
}

// --- The parent: starts children, shows their progress. ---

class Display {
public:
  Display(bool bTerminal, bool bAllToStderr) : bTerminal_(bTerminal), bAllToStderr_(bAllToStderr) {}

  // Prints a finished song's line above the progress bars.
  void Line(const std::string &sLine, bool bError) {
    Clear();
    std::FILE *pOut = bError || bAllToStderr_ ? stderr : stdout;
    std::fprintf(pOut, "%s\n", sLine.c_str());
    std::fflush(pOut);
  }

  void Bars(const std::vector<Job> &aJobs, const std::vector<Song> &aSongs, int32_t nRate) {
    if (!bTerminal_)
      return;
    Clear();
    for (const Job &job : aJobs) {
      const Song &song = aSongs[job.nSong];
      double dDone = static_cast<double>(job.last.nBytes) / 4.0 / nRate;
      double dFraction = song.dSeconds > 0 ? dDone / song.dSeconds : 1.0;
      if (dFraction > 1.0)
        dFraction = 1.0;
      int nFill = static_cast<int>(dFraction * kBarWidth);
      std::string sBar(static_cast<size_t>(nFill), '=');
      sBar.resize(kBarWidth, ' ');
      if (nFill < kBarWidth)
        sBar[static_cast<size_t>(nFill)] = '>';
      std::string sName = song.sPath;
      if (sName.size() > 28)
        sName = "..." + sName.substr(sName.size() - 25);
      double dSpeed = job.last.dElapsed > 0 ? dDone / job.last.dElapsed : 0.0;
      std::printf("\r\x1b[2K%-28s [%s] %7.2f s / %.2f s  measure %d  beat %d.%04d  ×%.1f\n",
                  sName.c_str(), sBar.c_str(), dDone, song.dSeconds, job.last.nMeasure,
                  job.last.nBeat, job.last.nTick, dSpeed);
    }
    nDrawn_ = static_cast<int>(aJobs.size());
    std::fflush(stdout);
  }

private:
  void Clear() {
    if (!bTerminal_)
      return;
    for (; nDrawn_ > 0; --nDrawn_)
      std::printf("\x1b[1A\x1b[2K");
    std::fflush(stdout);
  }

  bool bTerminal_;
  bool bAllToStderr_;
  int nDrawn_ = 0;
};

std::string DisplayName(const Song &song) {
  return song.sOut == kStdoutPath ? std::string("standard output") : song.sOut;
}

std::string Outcome(const Song &song, const JobReport &r, int32_t nRate, int32_t nMaxSeconds,
                    bool *pbError) {
  char sz[1024];
  double dSeconds = static_cast<double>(r.nBytes) / 4.0 / nRate;
  double dSpeed = r.dElapsed > 0 ? dSeconds / r.dElapsed : 0.0;
  *pbError = r.nStatus != kRecordDone;
  if (r.bCutOff) {
    *pbError = false; // the promised limit, not a failure; said on stderr all the same
    std::snprintf(sz, sizeof sz,
                  "torqa-cli: %s: still playing after %d s; cut off there (--max-length changes "
                  "the limit); %s holds the first %.2f s",
                  song.sPath.c_str(), nMaxSeconds, DisplayName(song).c_str(), dSeconds);
    return sz;
  }
  switch (r.nStatus) {
  case kRecordDone:
    std::snprintf(sz, sizeof sz, "%s -> %s: %.2f s at %d Hz, rendered in %.2f s (×%.1f real time)",
                  song.sPath.c_str(), DisplayName(song).c_str(), dSeconds, nRate, r.dElapsed,
                  dSpeed);
    break;
  case kRecordAborted:
    std::snprintf(sz, sizeof sz, "torqa-cli: %s: interrupted; %s holds the first %.2f s",
                  song.sPath.c_str(), DisplayName(song).c_str(), dSeconds);
    break;
  case kRecordNotCreated:
    std::snprintf(sz, sizeof sz, "torqa-cli: %s: cannot create: %s", DisplayName(song).c_str(),
                  std::strerror(r.nErrno));
    break;
  case kRecordWriteFailed:
    std::snprintf(sz, sizeof sz, "torqa-cli: %s: write failed: %s; the file holds the first %.2f s",
                  DisplayName(song).c_str(), std::strerror(r.nErrno), dSeconds);
    break;
  case kRecordTooLong:
    std::snprintf(sz, sizeof sz,
                  "torqa-cli: %s: stopped at the 4 GiB limit of a WAV file; the file holds the "
                  "first %.2f s",
                  DisplayName(song).c_str(), dSeconds);
    break;
  case kRecordNoMemory:
    std::snprintf(sz, sizeof sz, "torqa-cli: %s: out of memory", song.sPath.c_str());
    break;
  default:
    std::snprintf(sz, sizeof sz, "torqa-cli: %s: the song could not be loaded again",
                  song.sPath.c_str());
    break;
  }
  return sz;
}

bool StartJob(const std::vector<Song> &aSongs, size_t nSong, int32_t nRate, int32_t nMaxSeconds,
              Job *pJob) {
  int aFd[2];
  if (pipe2(aFd, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "torqa-cli: cannot start a render: %s\n", std::strerror(errno));
    return false;
  }
  std::fflush(stdout);
  std::fflush(stderr);
#ifdef TORQA_LEAK_CHECK
  gbForkedAlone = ThreadCount() == 1;
#endif
  pid_t nPid = fork();
  if (nPid < 0) {
    std::fprintf(stderr, "torqa-cli: cannot start a render: %s\n", std::strerror(errno));
    close(aFd[0]);
    close(aFd[1]);
    return false;
  }
  if (nPid == 0) {
    close(aFd[0]);
    RunChild(aSongs[nSong], nRate, nMaxSeconds, aFd[1]);
  }
  close(aFd[1]);
  *pJob = Job{nSong, nPid, aFd[0], JobReport{}, false};
  return true;
}

// Reads what a child sent; returns false at the end of its pipe.
bool ReadReports(Job &job) {
  JobReport report;
  ssize_t n = read(job.nFd, &report, sizeof report);
  if (n < 0 && errno == EINTR)
    return true;
  if (n != static_cast<ssize_t>(sizeof report))
    return false;
  if (report.bFinal) {
    // The outcome carries no position; the bar keeps the last one.
    report.nMeasure = job.last.nMeasure;
    report.nBeat = job.last.nBeat;
    report.nTick = job.last.nTick;
    job.bHaveFinal = true;
  }
  job.last = report;
  return true;
}

int RenderAll(const std::vector<Song> &aSongs, int32_t nRate, int32_t nJobs, int32_t nMaxSeconds) {
  // Standard output may be the WAV itself: then every line goes to stderr.
  const bool bWavOnStdout = aSongs.size() == 1 && aSongs[0].sOut == kStdoutPath;
  Display display(!bWavOnStdout && isatty(STDOUT_FILENO) == 1, bWavOnStdout);
  bool bForwarded = false;
  std::vector<Job> aRunning;
  size_t nNext = 0;
  int nFailed = 0;
  double dLastDraw = 0;
  while (nNext < aSongs.size() || !aRunning.empty()) {
    while (!gbInterrupted && nNext < aSongs.size() &&
           static_cast<int32_t>(aRunning.size()) < nJobs) {
      Job job;
      if (!StartJob(aSongs, nNext, nRate, nMaxSeconds, &job)) {
        ++nFailed;
        ++nNext;
        continue;
      }
      aRunning.push_back(job);
      ++nNext;
    }
    if (gbInterrupted && nNext < aSongs.size()) {
      nFailed += static_cast<int>(aSongs.size() - nNext); // never started
      nNext = aSongs.size();
    }
    if (gbInterrupted && !bForwarded) {
      // A signal sent to this process alone (a service manager's, Popen.terminate())
      // must stop the renders too; each leaves a valid file of what it has.
      for (const Job &job : aRunning)
        kill(job.nPid, gnSignal ? gnSignal : SIGINT);
      bForwarded = true;
    }
    if (aRunning.empty())
      break;
    std::vector<pollfd> aPoll;
    for (const Job &job : aRunning)
      aPoll.push_back({job.nFd, POLLIN, 0});
    if (poll(aPoll.data(), aPoll.size(), 250) < 0 && errno != EINTR)
      break;
    for (size_t i = aRunning.size(); i-- > 0;) {
      if (!(aPoll[i].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      Job &job = aRunning[i];
      if (ReadReports(job))
        continue;
      close(job.nFd);
      int nWait = 0;
      while (waitpid(job.nPid, &nWait, 0) < 0 && errno == EINTR) {
      }
      const Song &song = aSongs[job.nSong];
      bool bError = true;
      std::string sLine;
      const bool bChildExited = WIFEXITED(nWait) && (WEXITSTATUS(nWait) == kChildDone ||
                                                     WEXITSTATUS(nWait) == kChildFailed);
      if (job.bHaveFinal && bChildExited) {
        sLine = Outcome(song, job.last, nRate, nMaxSeconds, &bError);
      } else {
        char sz[512];
        std::snprintf(sz, sizeof sz, "torqa-cli: %s: the render stopped unexpectedly (%s %d)",
                      song.sPath.c_str(), WIFSIGNALED(nWait) ? "signal" : "exit code",
                      WIFSIGNALED(nWait) ? WTERMSIG(nWait) : WEXITSTATUS(nWait));
        sLine = sz;
      }
      display.Line(sLine, bError || job.last.bCutOff);
      if (job.bHaveFinal && job.last.nStatus == kRecordDone && !job.last.bSounded)
        display.Line("torqa-cli: warning: " + DisplayName(song) +
                         " is silent: the units made no sound (is their sound set in " +
                         CliPluginDir() + "?)",
                     true);
      nFailed += bError;
      aRunning.erase(aRunning.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (Now() - dLastDraw >= kReportInterval) {
      display.Bars(aRunning, aSongs, nRate);
      dLastDraw = Now();
    }
  }
  display.Bars({}, aSongs, nRate);
  if (gbInterrupted)
    return 128 + (gnSignal ? gnSignal : SIGINT);
  return nFailed ? 1 : 0;
}

} // namespace

int CmdRender(int argc, char **argv) {
  std::vector<std::string> aSongPaths;
  std::string sOut;
  bool bHaveOut = false;
  int32_t nRate = -1, nJobs = 1, nMaxSeconds = kDefaultMaxSeconds;
  int32_t bReverb = -1, bChorus = -1, bLpf = -1, n3D = -1, n3DEngine = -1;
  for (int i = 1; i < argc; ++i) {
    std::string sArg = argv[i];
    const char *pszValue = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need = [&](const char *pszWhat) {
      if (!pszValue)
        std::fprintf(stderr, "torqa-cli: %s needs %s\n", sArg.c_str(), pszWhat);
      return pszValue != nullptr;
    };
    if (sArg == "-h" || sArg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (sArg == "-o") {
      if (!need("a file name"))
        return 2;
      sOut = argv[++i];
      bHaveOut = true;
      if (sOut.empty()) {
        std::fprintf(stderr, "torqa-cli: -o needs a file name, not an empty one\n");
        return 2;
      }
    } else if (sArg == "-r") {
      if (!need("a rate"))
        return 2;
      if (!ParseInt(argv[++i], kMinRecordRate, kMaxRecordRate, &nRate)) {
        std::fprintf(stderr, "torqa-cli: rate %s is outside %d..%d Hz\n", argv[i], kMinRecordRate,
                     kMaxRecordRate);
        return 2;
      }
    } else if (sArg == "--reverb" || sArg == "--chorus" || sArg == "--lpf") {
      if (!need("on or off"))
        return 2;
      int32_t *pb = sArg == "--reverb" ? &bReverb : sArg == "--chorus" ? &bChorus : &bLpf;
      if (!ParseOnOff(argv[++i], pb)) {
        std::fprintf(stderr, "torqa-cli: %s takes on or off, not %s\n", sArg.c_str(), argv[i]);
        return 2;
      }
    } else if (sArg == "--3d") {
      if (!need("a depth"))
        return 2;
      if (!ParseInt(argv[++i], 0, kMax3DLength, &n3D)) {
        std::fprintf(stderr, "torqa-cli: 3D depth %s is outside 0..%d\n", argv[i], kMax3DLength);
        return 2;
      }
    } else if (sArg == "--3d-engine") {
      if (!need("light, medium or heavy"))
        return 2;
      std::string s = argv[++i];
      n3DEngine = s == "light" ? 0 : s == "medium" ? 1 : s == "heavy" ? 2 : -1;
      if (n3DEngine < 0) {
        std::fprintf(stderr, "torqa-cli: 3D engine %s is not light, medium or heavy\n", s.c_str());
        return 2;
      }
    } else if (sArg == "--max-length") {
      if (!need("a number of seconds"))
        return 2;
      if (!ParseInt(argv[++i], 0, kMaxMaxSeconds, &nMaxSeconds)) {
        std::fprintf(stderr, "torqa-cli: --max-length %s is outside 0..%d seconds\n", argv[i],
                     kMaxMaxSeconds);
        return 2;
      }
    } else if (sArg == "-j") {
      if (!need("a number"))
        return 2;
      if (!ParseInt(argv[++i], 1, kMaxJobs, &nJobs)) {
        std::fprintf(stderr, "torqa-cli: -j %s is outside 1..%d\n", argv[i], kMaxJobs);
        return 2;
      }
    } else if (sArg.size() > 1 && sArg[0] == '-') {
      std::fprintf(stderr, "torqa-cli: unknown option %s\n%s", sArg.c_str(), kUsage);
      return 2;
    } else {
      aSongPaths.push_back(sArg);
    }
  }
  if (aSongPaths.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (bHaveOut && aSongPaths.size() > 1) {
    std::fprintf(stderr, "torqa-cli: -o names one output; give one SONG with it\n");
    return 2;
  }
  if (sOut == "-") {
    if (isatty(STDOUT_FILENO) == 1) {
      std::fprintf(stderr, "torqa-cli: -o - would write the WAV to the terminal; redirect it\n");
      return 2;
    }
    sOut = kStdoutPath;
  }

  // A full disk or a size limit must end in a message, not in a killed
  // process: also while a first run lists the devices (the sound server's
  // shared memory is sized then).
  signal(SIGXFSZ, SIG_IGN);
  CliLoadSettings();
  if (nRate < 0)
    nRate = nPCMRate;
  if (nRate < kMinRecordRate || nRate > kMaxRecordRate) {
    std::fprintf(stderr, "torqa-cli: the saved rate %d is outside %d..%d Hz; give -r\n", nRate,
                 kMinRecordRate, kMaxRecordRate);
    return 1;
  }

  // Every song and output is checked before anything renders.
  std::vector<Song> aSongs;
  std::vector<OutputId> aOutputIds;
  bool bBad = false;
  for (const std::string &sPath : aSongPaths) {
    Song song{sPath, bHaveOut ? sOut : DefaultOutput(sPath), 0, {}};
    if (!LoadSong(&song)) {
      bBad = true;
      continue;
    }
    song.dSeconds = SongSeconds(nRate, nMaxSeconds);
    FreeSong();
    if (song.sOut == kStdoutPath) {
      aSongs.push_back(std::move(song));
      continue;
    }
    std::string sWhy;
    if (!CheckOutput(song.sOut, &sWhy)) {
      std::fprintf(stderr, "torqa-cli: %s: output not writable: %s\n", song.sOut.c_str(),
                   sWhy.c_str());
      bBad = true;
      continue;
    }
    struct stat stSong, stOut;
    if (stat(sPath.c_str(), &stSong) == 0 && stat(song.sOut.c_str(), &stOut) == 0 &&
        stSong.st_dev == stOut.st_dev && stSong.st_ino == stOut.st_ino) {
      std::fprintf(stderr, "torqa-cli: %s: the output would overwrite the song\n",
                   song.sOut.c_str());
      bBad = true;
      continue;
    }
    // Two spellings of one file (./d/x.mid and d/X.MID, a linked directory)
    // name the same output: compare files, not strings.
    const OutputId id = IdentifyOutput(song.sOut);
    for (size_t k = 0; k < aSongs.size(); ++k)
      if (aOutputIds[k] == id && !IsCharacterDevice(song.sOut)) {
        std::fprintf(stderr, "torqa-cli: %s and %s would both write %s\n", aSongs[k].sPath.c_str(),
                     sPath.c_str(), song.sOut.c_str());
        bBad = true;
      }
    aSongs.push_back(std::move(song));
    aOutputIds.push_back(id);
  }
  if (bBad)
    return 1;

  if (!CliBindUnits())
    return 1;
  // The options change this run only; they come after the binding, which on
  // a first run saves the settings.
  if (bReverb >= 0)
    bUseEff1 = bReverb;
  if (bChorus >= 0)
    bUseEff3 = bChorus;
  if (bLpf >= 0)
    bLPF = bLpf;
  if (n3D >= 0)
    n3DLength = n3D;
  if (n3DEngine >= 0)
    n3DENGIN = n3DEngine;
  Apply3DEngineSetting();
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  int nResult = RenderAll(aSongs, nRate, nJobs, nMaxSeconds);
  ShutDown();
  return nResult;
}
