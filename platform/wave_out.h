// Sound device output with the semantics of the Windows wave-out calls the
// playback code is written against: buffers (headers) are prepared, written
// to a queue, played in order and handed back one by one as MM_WOM_DONE
// messages posted to the event loop; pause, restart and reset (every queued
// buffer comes back, in order) act on the queue. Only the driver's own thread
// (if any) copies bytes out of queued buffers; all other calls, and all
// handling of the done messages, happen on the event loop's thread.
#pragma once

#include <cstdint>

// Posted once per finished buffer: wParam = the device's serial (WaveOutSerial),
// lParam = the WaveHeader pointer. The value of the Windows message.
constexpr uint32_t MM_WOM_DONE = 0x3BD;

enum : uint32_t {
  kWhdrPrepared = 0x2, // WHDR_PREPARED: set by WaveOutPrepareHeader
};

struct WaveHeader {
  uint8_t *pData;         // 16-bit signed little-endian stereo frames
  uint32_t nBufferLength; // bytes, a multiple of 4; not changed while queued
  uintptr_t dwUser;       // the caller's value (the playback code: buffer index 0-7)
  uint32_t dwFlags;       // kWhdr* bits; event loop thread only
  uint32_t dwDone;        // 1 from the buffer's finish until its done is handled; atomic_ref only
};

// One open device. Drivers derive from it.
class WaveOutDevice {
public:
  virtual ~WaveOutDevice() = default;
  // Appends a header to the play queue; returns 1, or 0 if it cannot be queued.
  virtual int32_t Write(WaveHeader *pHdr) = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  // Stops playing and hands back every queued header, oldest first, as done
  // messages posted after those already posted; the next write starts afresh.
  virtual void Reset() = 0;
  uint32_t nSerial = 0; // from WaveOutOpen, set before the device starts; never reused
};

// A sound device backend: the SDL one, or the test twin.
class WaveOutDriver {
public:
  virtual ~WaveOutDriver() = default;
  // Number of output devices; device ids are 0 .. count - 1 in driver order.
  virtual int32_t DeviceCount() = 0;
  // 1 when device nDevice can play 16-bit stereo at nRate (WAVE_FORMAT_QUERY).
  virtual int32_t Supports(int32_t nDevice, int32_t nRate) = 0;
  // Opens device nDevice for 16-bit stereo at nRate, stopped (it runs from
  // the first Restart, so it never plays before its buffers are queued), with
  // the given serial already set (its thread may post at once); null on failure.
  virtual WaveOutDevice *Open(int32_t nDevice, int32_t nRate, uint32_t nSerial) = 0;
  // Ends the device: after Close returns, no thread of it runs and it posts
  // nothing more. The device must have been reset.
  virtual void Close(WaveOutDevice *pDevice) = 0;
};

// Chooses the backend the calls below use (null: none, every open fails);
// returns the previous one.
WaveOutDriver *SetWaveOutDriver(WaveOutDriver *pDriver);
WaveOutDriver *GetWaveOutDriver();

// The SDL2 audio backend (platform/wave_out_sdl.cpp, library torqa_platform_sdl).
// Starts SDL's audio subsystem on first use; null when it cannot start.
WaveOutDriver *GetSdlWaveOutDriver();
// Stops SDL's audio subsystem again (every device must be closed).
void ShutdownSdlWaveOut();

// The Windows calls, on the chosen driver. Each returns 1 on success, 0 on
// any error (a null device, an unprepared header, no driver).
int32_t WaveOutGetNumDevs();
int32_t WaveOutQuery(int32_t nDevice, int32_t nRate);
int32_t WaveOutOpen(WaveOutDevice **phOut, int32_t nDevice, int32_t nRate);
int32_t WaveOutPrepareHeader(WaveOutDevice *hOut, WaveHeader *pHdr);
int32_t WaveOutUnprepareHeader(WaveOutDevice *hOut, WaveHeader *pHdr);
int32_t WaveOutWrite(WaveOutDevice *hOut, WaveHeader *pHdr);
int32_t WaveOutPause(WaveOutDevice *hOut);
int32_t WaveOutRestart(WaveOutDevice *hOut);
int32_t WaveOutReset(WaveOutDevice *hOut);
// Resets and closes; the done messages of the reset are already posted.
int32_t WaveOutClose(WaveOutDevice *hOut);
// Serial of an open device, as carried in its done messages; 0 for null.
uint32_t WaveOutSerial(const WaveOutDevice *hOut);
// What a driver calls for each finished header (any thread; never blocks):
// sets the header's done flag, then posts MM_WOM_DONE for it, or when the
// queue is full the loop's reserved MM_WOM_DONE with lParam 0, whose receiver
// then takes every set flag. A finish is never lost.
void PostWaveDone(const WaveOutDevice *pDevice, WaveHeader *pHdr);
// For the receiver of MM_WOM_DONE: 1 (and the flag cleared) when the header
// finished since it was last taken. A message and the reserved wake-up may
// both report one finish; only one of them takes it.
int32_t TakeWaveDone(WaveHeader *pHdr);
// Clears the header's done flag (before a new device uses it).
void ClearWaveDone(WaveHeader *pHdr);
