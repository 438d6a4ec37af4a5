// A small Standard MIDI File writer for tools and tests: build tracks event by
// event (each with its delta time), then get the file bytes, bare or RMI-wrapped.
// Nothing is validated: tests use it to build damaged files on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace smfw {

using Bytes = std::vector<uint8_t>;

// Appends a variable-length quantity (7 bits per byte, most significant group first).
void PutVarLen(Bytes &out, uint32_t nValue);
void PutBe16(Bytes &out, uint32_t nValue);
void PutBe32(Bytes &out, uint32_t nValue);

class Track {
public:
  // With running status on, a channel event whose status equals the previous
  // channel status is written without its status byte.
  explicit Track(bool bRunningStatus = false) : bRunningStatus_(bRunningStatus) {}

  Track &NoteOn(uint32_t nDelta, int nChannel, int nKey, int nVelocity);
  Track &NoteOff(uint32_t nDelta, int nChannel, int nKey, int nVelocity = 0);
  Track &PolyPressure(uint32_t nDelta, int nChannel, int nKey, int nPressure);
  Track &ControlChange(uint32_t nDelta, int nChannel, int nController, int nValue);
  Track &ProgramChange(uint32_t nDelta, int nChannel, int nProgram);
  Track &ChannelPressure(uint32_t nDelta, int nChannel, int nPressure);
  // nValue 0..16383, 8192 = centre.
  Track &PitchBend(uint32_t nDelta, int nChannel, int nValue);
  // abData: the bytes after 0xF0, the closing 0xF7 included when wanted.
  Track &SysEx(uint32_t nDelta, const Bytes &abData);
  // An 0xF7 escape packet: 0xF7, length, bytes.
  Track &SysExPacket(uint32_t nDelta, const Bytes &abData);
  Track &Meta(uint32_t nDelta, int nType, const Bytes &abData);
  Track &Text(uint32_t nDelta, const std::string &sText) { return MetaText(nDelta, 0x01, sText); }
  Track &TrackName(uint32_t nDelta, const std::string &sName) {
    return MetaText(nDelta, 0x03, sName);
  }
  Track &MetaText(uint32_t nDelta, int nType, const std::string &sText);
  Track &Tempo(uint32_t nDelta, uint32_t nMicrosPerQuarter);
  // nDenomExp: the denominator as a power of two (2 = quarter, 3 = eighth).
  Track &TimeSignature(uint32_t nDelta, int nNumerator, int nDenomExp, int nClocks = 24,
                       int nThirtySeconds = 8);
  Track &EndOfTrack(uint32_t nDelta = 0);
  // Any bytes after a delta time, as given (running status is forgotten).
  Track &Raw(uint32_t nDelta, const Bytes &abEvent);
  // Bytes with no delta time in front (to build broken tracks).
  Track &RawBytes(const Bytes &abBytes);

  const Bytes &Data() const { return abData_; }

private:
  Track &Channel(uint32_t nDelta, int nStatus, int nChannel, const int *pnData, int nCount);

  Bytes abData_;
  bool bRunningStatus_;
  int nLastStatus_ = 0;
};

class File {
public:
  // nDivisionField is the raw 16-bit field (bit 15 set = SMPTE time code).
  File(int nFormat, uint32_t nDivisionField) : nFormat_(nFormat), nDivision_(nDivisionField) {}

  Track &AddTrack(bool bRunningStatus = false);
  Track &TrackAt(size_t i) { return aTracks_[i]; }
  size_t TrackCount() const { return aTracks_.size(); }
  // The header's track count; by default the number of tracks added.
  void SetDeclaredTracks(uint32_t nCount) { nDeclaredTracks_ = static_cast<int64_t>(nCount); }

  // MThd (length 6) followed by one MTrk chunk per track, each with its true length.
  Bytes Build() const;
  // Writes Build() (RMI-wrapped if asked) to sPath; returns false on an I/O error.
  bool Save(const std::string &sPath, bool bRmi = false) const;

private:
  int nFormat_;
  uint32_t nDivision_;
  int64_t nDeclaredTracks_ = -1;
  std::vector<Track> aTracks_;
};

// Wraps SMF bytes as RIFF RMID with one "data" chunk (padded to an even size).
Bytes WrapRmi(const Bytes &abSmf);
bool WriteFileBytes(const std::string &sPath, const Bytes &abData);

} // namespace smfw
