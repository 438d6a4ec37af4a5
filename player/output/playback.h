// The sound device and the ring of eight output buffers: playback start,
// refill, stop and the sound test. Everything here runs on the event loop's
// thread; the device reports each finished buffer as an MM_WOM_DONE message.
// The buffers themselves (apOutBuf, anBufState, nBlockBytes, fBlockSeconds)
// and the meter frames are declared with the render loop.
#pragma once

#include <cstdint>

#include "platform/event_loop.h"
#include "platform/wave_out.h"
#include "player/state/engine_state.h"

// Private messages of the main window.
constexpr uint32_t UM_INIT = kWmUser + 0x68;   // start-up: effect lines and output buffers
constexpr uint32_t UM_REDRAW = kWmUser + 0x6A; // 0x46A: the panel redraws from CurMeterFrame

// Output state.
extern WaveOutDevice *hWaveOut;    // the open device, null when closed (playback)
extern WaveHeader aWaveHeaders[8]; // one per ring buffer; dwUser = buffer index (playback)
// bOutputOpen and hwndTest, the busy flags, are engine state.

// Texts of the messages this part shows (captions and texts as the user sees them).
inline constexpr const char *kNoMemoryText = "必要なメモリを確保できませんでした";
inline constexpr const char *kPcmBufferCaption = "PCMバッファ障害";
inline constexpr const char *kNoRateText =
    "指定された離散レートをサポートするPCMデバイスは、\r\n現在システム上に存在しませんでした\r\n"
    "設定値は、このまま設定されますが、\r\n再生される事は有りません";
inline constexpr const char *kSoundDeviceCaption = "サウンドデバイスの問題";

// Allocates the eight buffers; 1 when all exist, else none is kept and 0.
int32_t AllocOutputBuffers();
void FreeOutputBuffers();
// The start-up step of the main window: AllocOutputBuffers, and on failure the
// "PCMバッファ障害" message box owned by hwnd. Returns the allocation's result;
// on 0 the caller destroys the window.
int32_t AllocOutputBuffersOrReport(void *hwnd);

// Opens device nSelDevice at nRate, 16-bit stereo. Returns 1, or 0 on any error.
int32_t OpenWaveDevice(void *hwnd, WaveOutDevice **phOut, int32_t nRate);
// 1 when some output device, asked from index 0 on, plays 16-bit stereo at nRate.
int32_t TestRate(int32_t nRate);
// The setup dialog's check: TestRate, and when it fails the "サウンドデバイスの問題"
// warning owned by hwndDlg. Returns TestRate's result.
int32_t TestRateOrWarn(void *hwndDlg, int32_t nRate);
// Reset (every queued buffer comes back as done), unprepare all 8 headers, close.
void CloseWaveDevice(WaveOutDevice *hOut);
// Points the 8 headers at the 8 buffers with length nBytes and user value = index.
void PrepareHeaders(int32_t nBytes);
// nBlockBytes for nRate: about 46.4 ms of frames, about 202 ms with bPowerSave
// at rates up to 22050 Hz; a whole number of frames, never more than a buffer.
int32_t BlockBytesForRate(int32_t nRate, int32_t bPowerSave);

// Plays the loaded song from nStartMeasure. Does nothing without a song, with
// the sound test dialog open, or when the device does not open.
void StartPlayback(void *hwnd);
// Sounds one note for exactly eight blocks (units only, no sequencer or effects).
void StartSoundTest(int32_t nProgram, int32_t nBank, int32_t nKey, int32_t nChannel);
// Closes the device, unlocks the song, lets the units free their locks. A second
// call (nothing open any more) has no effect.
void StopPlayback(void *hwnd);
// A buffer came back: publish its meters, refill every free buffer in ring
// order, and stop once the song has ended and the last buffer is back.
void OnBufferDone(WaveHeader *pHdr);
// The main window's MM_WOM_DONE handling: OnBufferDone for the header in
// lParam, unless the message comes from an earlier device while another is
// open (buffers handed back by a stop before a restart); with lParam 0 (the
// loop's reserved wake-up, when the queue was full) for every finished buffer.
void OnWaveDoneMessage(uintptr_t wParam, intptr_t lParam);
