// Test twin of the sound device: a wave-out driver the test steps by hand.
// A device opens stopped and runs from its first restart. Nothing plays by
// itself; Step() "plays" the oldest queued buffer (its bytes
// are appended to Played()) and posts its done message to the event loop, as
// the real device's audio thread would.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/wave_out.h"

class FakeWaveOutDevice : public WaveOutDevice {
public:
  explicit FakeWaveOutDevice(class FakeWaveOutDriver *pDriver) : pDriver_(pDriver) {}
  int32_t Write(WaveHeader *pHdr) override;
  void Pause() override;
  void Restart() override;
  void Reset() override;

  std::deque<WaveHeader *> queue; // written, not yet played
  int32_t bPaused = 0;
  int32_t nRate = 0;

private:
  class FakeWaveOutDriver *pDriver_;
};

class FakeWaveOutDriver : public WaveOutDriver {
public:
  int32_t DeviceCount() override { return nDevices; }
  int32_t Supports(int32_t nDevice, int32_t nRate) override;
  WaveOutDevice *Open(int32_t nDevice, int32_t nRate, uint32_t nSerial) override;
  void Close(WaveOutDevice *pDevice) override;

  // Plays the oldest queued buffer of the open device unless it is paused.
  // Returns 1 when one was played.
  int32_t Step();
  FakeWaveOutDevice *Device() const { return pOpen; }
  const std::vector<uint8_t> &Played() const { return abPlayed; }

  int32_t nDevices = 1;
  int32_t bFailOpen = 0; // every open fails
  int32_t nOnlyRate = 0; // when set, Supports accepts only this rate on device nOnlyDevice
  int32_t nOnlyDevice = 0;
  int32_t nOpenDevice = -1; // device id of the last open
  int32_t nOpens = 0;
  int32_t nQueuedAtStart = -1; // headers queued when the last opened device first ran
  int32_t nCloses = 0;
  std::vector<std::string> log; // "open", "pause", "write <i>", "restart", "reset", "close"
  std::vector<uint8_t> abPlayed;
  FakeWaveOutDevice *pOpen = nullptr;
};
