#include "tools/smf/smf_writer.h"

#include <cstdio>

namespace smfw {

void PutVarLen(Bytes &out, uint32_t nValue) {
  uint8_t abGroups[5];
  int n = 0;
  do {
    abGroups[n++] = static_cast<uint8_t>(nValue & 0x7F);
    nValue >>= 7;
  } while (nValue != 0);
  while (n > 1)
    out.push_back(static_cast<uint8_t>(abGroups[--n] | 0x80));
  out.push_back(abGroups[0]);
}

void PutBe16(Bytes &out, uint32_t nValue) {
  out.push_back(static_cast<uint8_t>(nValue >> 8));
  out.push_back(static_cast<uint8_t>(nValue));
}

void PutBe32(Bytes &out, uint32_t nValue) {
  PutBe16(out, nValue >> 16);
  PutBe16(out, nValue & 0xFFFF);
}

static void PutLe32(Bytes &out, uint32_t nValue) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(nValue >> (8 * i)));
}

static void PutTag(Bytes &out, const char *pszTag) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(pszTag[i]));
}

Track &Track::Channel(uint32_t nDelta, int nStatus, int nChannel, const int *pnData, int nCount) {
  PutVarLen(abData_, nDelta);
  const int nFull = (nStatus & 0xF0) | (nChannel & 0x0F);
  if (!bRunningStatus_ || nFull != nLastStatus_)
    abData_.push_back(static_cast<uint8_t>(nFull));
  nLastStatus_ = nFull;
  for (int i = 0; i < nCount; ++i)
    abData_.push_back(static_cast<uint8_t>(pnData[i] & 0x7F));
  return *this;
}

Track &Track::NoteOn(uint32_t nDelta, int nChannel, int nKey, int nVelocity) {
  const int an[2] = {nKey, nVelocity};
  return Channel(nDelta, 0x90, nChannel, an, 2);
}

Track &Track::NoteOff(uint32_t nDelta, int nChannel, int nKey, int nVelocity) {
  const int an[2] = {nKey, nVelocity};
  return Channel(nDelta, 0x80, nChannel, an, 2);
}

Track &Track::PolyPressure(uint32_t nDelta, int nChannel, int nKey, int nPressure) {
  const int an[2] = {nKey, nPressure};
  return Channel(nDelta, 0xA0, nChannel, an, 2);
}

Track &Track::ControlChange(uint32_t nDelta, int nChannel, int nController, int nValue) {
  const int an[2] = {nController, nValue};
  return Channel(nDelta, 0xB0, nChannel, an, 2);
}

Track &Track::ProgramChange(uint32_t nDelta, int nChannel, int nProgram) {
  return Channel(nDelta, 0xC0, nChannel, &nProgram, 1);
}

Track &Track::ChannelPressure(uint32_t nDelta, int nChannel, int nPressure) {
  return Channel(nDelta, 0xD0, nChannel, &nPressure, 1);
}

Track &Track::PitchBend(uint32_t nDelta, int nChannel, int nValue) {
  const int an[2] = {nValue & 0x7F, (nValue >> 7) & 0x7F};
  return Channel(nDelta, 0xE0, nChannel, an, 2);
}

Track &Track::SysEx(uint32_t nDelta, const Bytes &abData) {
  PutVarLen(abData_, nDelta);
  abData_.push_back(0xF0);
  PutVarLen(abData_, static_cast<uint32_t>(abData.size()));
  abData_.insert(abData_.end(), abData.begin(), abData.end());
  nLastStatus_ = 0;
  return *this;
}

Track &Track::SysExPacket(uint32_t nDelta, const Bytes &abData) {
  PutVarLen(abData_, nDelta);
  abData_.push_back(0xF7);
  PutVarLen(abData_, static_cast<uint32_t>(abData.size()));
  abData_.insert(abData_.end(), abData.begin(), abData.end());
  nLastStatus_ = 0;
  return *this;
}

Track &Track::Meta(uint32_t nDelta, int nType, const Bytes &abData) {
  PutVarLen(abData_, nDelta);
  abData_.push_back(0xFF);
  abData_.push_back(static_cast<uint8_t>(nType));
  PutVarLen(abData_, static_cast<uint32_t>(abData.size()));
  abData_.insert(abData_.end(), abData.begin(), abData.end());
  nLastStatus_ = 0;
  return *this;
}

Track &Track::MetaText(uint32_t nDelta, int nType, const std::string &sText) {
  return Meta(nDelta, nType, Bytes(sText.begin(), sText.end()));
}

Track &Track::Tempo(uint32_t nDelta, uint32_t nMicrosPerQuarter) {
  return Meta(nDelta, 0x51,
              {static_cast<uint8_t>(nMicrosPerQuarter >> 16),
               static_cast<uint8_t>(nMicrosPerQuarter >> 8),
               static_cast<uint8_t>(nMicrosPerQuarter)});
}

Track &Track::TimeSignature(uint32_t nDelta, int nNumerator, int nDenomExp, int nClocks,
                            int nThirtySeconds) {
  return Meta(nDelta, 0x58,
              {static_cast<uint8_t>(nNumerator), static_cast<uint8_t>(nDenomExp),
               static_cast<uint8_t>(nClocks), static_cast<uint8_t>(nThirtySeconds)});
}

Track &Track::EndOfTrack(uint32_t nDelta) {
  return Meta(nDelta, 0x2F, {});
}

Track &Track::Raw(uint32_t nDelta, const Bytes &abEvent) {
  PutVarLen(abData_, nDelta);
  return RawBytes(abEvent);
}

Track &Track::RawBytes(const Bytes &abBytes) {
  abData_.insert(abData_.end(), abBytes.begin(), abBytes.end());
  nLastStatus_ = 0;
  return *this;
}

Track &File::AddTrack(bool bRunningStatus) {
  aTracks_.emplace_back(bRunningStatus);
  return aTracks_.back();
}

Bytes File::Build() const {
  Bytes out;
  PutTag(out, "MThd");
  PutBe32(out, 6);
  PutBe16(out, static_cast<uint32_t>(nFormat_));
  PutBe16(out, nDeclaredTracks_ >= 0 ? static_cast<uint32_t>(nDeclaredTracks_)
                                     : static_cast<uint32_t>(aTracks_.size()));
  PutBe16(out, nDivision_);
  for (const Track &track : aTracks_) {
    PutTag(out, "MTrk");
    PutBe32(out, static_cast<uint32_t>(track.Data().size()));
    out.insert(out.end(), track.Data().begin(), track.Data().end());
  }
  return out;
}

Bytes WrapRmi(const Bytes &abSmf) {
  const uint32_t nData = static_cast<uint32_t>(abSmf.size());
  const uint32_t nPad = nData & 1;
  Bytes out;
  PutTag(out, "RIFF");
  PutLe32(out, 4 + 8 + nData + nPad);
  PutTag(out, "RMID");
  PutTag(out, "data");
  PutLe32(out, nData);
  out.insert(out.end(), abSmf.begin(), abSmf.end());
  if (nPad)
    out.push_back(0);
  return out;
}

bool WriteFileBytes(const std::string &sPath, const Bytes &abData) {
  std::FILE *pFile = std::fopen(sPath.c_str(), "wb");
  if (!pFile)
    return false;
  const size_t nWritten = abData.empty() ? 0 : std::fwrite(abData.data(), 1, abData.size(), pFile);
  const bool bClosed = std::fclose(pFile) == 0;
  return nWritten == abData.size() && bClosed;
}

bool File::Save(const std::string &sPath, bool bRmi) const {
  return WriteFileBytes(sPath, bRmi ? WrapRmi(Build()) : Build());
}

} // namespace smfw
