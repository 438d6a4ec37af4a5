// The Standard MIDI File loader: reads the whole file into the song image,
// finds an acceptable MThd anywhere in it (so RMI files load as they are) and
// pre-scans the tracks for their lengths and names. No event list is built:
// the sequencer reads events straight out of the image.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/message_box.h"
#include "player/song/image_reader.h"
#include "player/song/song.h"
#include "player/state/engine_hooks.h"

uint8_t *hSongMem = nullptr;
uint8_t *pSong = nullptr;
int32_t nSongBytes = 0;
int32_t nSongHeader = 0;
int32_t nSmfFormat = 0;
int32_t nTracks = 0;
int32_t nTracksInHeader = 0;
int32_t nDivision = 0;
TrackInfo aTrackInfo[kMaxTracks];

void FreeSong() {
  std::free(hSongMem);
  hSongMem = nullptr;
  pSong = nullptr;
  nSongBytes = 0;
}

int32_t SongImageEnd() {
  return hSongMem ? nSongBytes + kSongSlack : 0;
}

uint8_t *LockSong() {
  pSong = hSongMem;
  return pSong;
}

void UnlockSong() {
  pSong = nullptr;
}

// Skips the bytes of one track chunk's events from nPos up to nEnd, keeping the
// last Sequence/Track Name in szName.
static void ScanTrackEvents(int64_t nPos, int64_t nEnd, char *szName) {
  const uint8_t *pImage = hSongMem;
  int32_t nRunning = 0; // no status yet: leading data bytes are skipped
  while (nPos < nEnd) {
    ImageVarLen(pImage, nEnd, nPos);
    if (nPos >= nEnd)
      break;
    int32_t nStatus = ImageByteAt(pImage, nEnd, nPos);
    if (!(nStatus & 0x80) && nRunning == 0) {
      // No status yet in this track: skip data bytes up to the first status byte.
      while (nPos < nEnd && !(ImageByteAt(pImage, nEnd, nPos) & 0x80))
        ++nPos;
      if (nPos >= nEnd)
        break;
      nStatus = ImageByteAt(pImage, nEnd, nPos);
    }
    if (nStatus & 0x80) {
      ++nPos;
      nRunning = nStatus;
    } else {
      nStatus = nRunning;
    }
    int64_t nSkip = 0;
    switch (nStatus & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
      nSkip = 2;
      break;
    case 0xC0:
    case 0xD0:
      nSkip = 1;
      break;
    default: // 0xF0..0xFF
      if (nStatus == 0xF0 || nStatus == 0xF7) {
        nSkip = ImageVarLen(pImage, nEnd, nPos);
      } else if (nStatus == 0xF1 || nStatus == 0xF3) {
        nSkip = 1;
      } else if (nStatus == 0xF2) {
        nSkip = 2;
      } else if (nStatus == 0xFF) {
        const int32_t nType = ImageByteAt(pImage, nEnd, nPos++);
        nSkip = ImageVarLen(pImage, nEnd, nPos);
        if (nType == 0x03) {
          // szName holds 255 bytes and the NUL; a longer name is cut.
          const int64_t nCopy = nSkip < 255 ? nSkip : 255;
          int64_t i = 0;
          for (; i < nCopy && nPos + i < nEnd; ++i)
            szName[i] = static_cast<char>(ImageByteAt(pImage, nEnd, nPos + i));
          szName[i] = '\0';
        }
      }
      break;
    }
    nPos = ClampToImage(nPos + nSkip, nEnd);
  }
}

void ScanTrackNames(int32_t nHeader) {
  const uint8_t *pImage = hSongMem;
  const int64_t nImageEnd = SongImageEnd();
  nSongHeader = nHeader;
  nSmfFormat = ImageByteAt(pImage, nImageEnd, int64_t{nHeader} + kHdrFormatLow);
  nTracksInHeader = ImageBe16(pImage, nImageEnd, int64_t{nHeader} + kHdrTracks);
  nTracks = nTracksInHeader < kMaxTracks ? nTracksInHeader : kMaxTracks;
  nDivision = ImageBe16(pImage, nImageEnd, int64_t{nHeader} + kHdrDivision);
  std::memset(aTrackInfo, 0, sizeof aTrackInfo);
  if (nTracks <= 0)
    return;
  int64_t nChunk = int64_t{nHeader} + kHdrFirstChunk;
  for (int32_t t = 0; t < nTracks; ++t) {
    const uint32_t nLength = ImageBe32(pImage, nImageEnd, nChunk + kChunkLength);
    aTrackInfo[t].nLength = static_cast<int32_t>(nLength); // as declared, wrapped
    const int64_t nData = ClampToImage(nChunk + kChunkData, nImageEnd);
    const int64_t nDataEnd = ClampToImage(nData + nLength, nImageEnd);
    ScanTrackEvents(nData, nDataEnd, aTrackInfo[t].szName);
    nChunk = nDataEnd;
  }
}

// Searches the image for the first MThd with format 0 or 1. Returns 1 when one
// was accepted and scanned.
static int32_t AcceptHeader() {
  const uint8_t *pImage = hSongMem;
  const int64_t nImageEnd = SongImageEnd();
  for (int64_t i = 0; i < nSongBytes; ++i) {
    if (!ImageHasTag(pImage, nImageEnd, i, "MThd"))
      continue;
    const int32_t nFormat = ImageByteAt(pImage, nImageEnd, i + kHdrFormatLow);
    if (nFormat != 0 && nFormat != 1)
      continue;
    if (ImageByteAt(pImage, nImageEnd, i + kHdrDivision) & 0x80) {
      ShowMessageBox(Hooks.hwndOwner, "タイムコードは扱えません", "形式の問題", MsgIcon::Error);
      return 0;
    }
    // A division of 0 ticks would divide by zero in the tempo: not a usable header
    // (also a header cut off by the file's end, whose division falls into the slack).
    if (ImageBe16(pImage, nImageEnd, i + kHdrDivision) == 0)
      continue;
    ScanTrackNames(static_cast<int32_t>(i));
    return 1;
  }
  return 0;
}

int32_t LoadSmfBytes(const uint8_t *pData, int32_t nSize) {
  FreeSong();
  if (nSize < 0 || nSize > INT32_MAX - kSongSlack || (nSize > 0 && !pData))
    return 0;
  // Allocating and locking the block are one step here; its failure is the
  // locking failure the user is told of.
  uint8_t *pImage = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(nSize) + kSongSlack));
  if (!pImage) {
    ShowMessageBox(Hooks.hwndOwner, "Global Memory", "ERROR", MsgIcon::None);
    return 0;
  }
  if (nSize > 0)
    std::memcpy(pImage, pData, static_cast<size_t>(nSize));
  // The slack is zeroed so that reads just past the file's end see nothing.
  std::memset(pImage + nSize, 0, kSongSlack);
  hSongMem = pImage;
  nSongBytes = nSize;
  if (!AcceptHeader()) {
    FreeSong();
    return 0;
  }
  return 1;
}

// Reads the whole file into a malloc'ed buffer. Returns 1 on success.
static int32_t ReadWholeFile(const char *pszPath, uint8_t **ppData, int32_t *pnSize) {
  std::FILE *pFile = std::fopen(pszPath, "rb");
  if (!pFile)
    return 0;
  size_t nCapacity = 64 * 1024;
  size_t nUsed = 0;
  uint8_t *pData = static_cast<uint8_t *>(std::malloc(nCapacity));
  int32_t bOk = pData != nullptr;
  while (bOk) {
    if (nUsed == nCapacity) {
      if (nCapacity > static_cast<size_t>(INT32_MAX / 2)) {
        bOk = 0; // larger than the image can address
        break;
      }
      uint8_t *pGrown = static_cast<uint8_t *>(std::realloc(pData, nCapacity * 2));
      if (!pGrown) {
        bOk = 0;
        break;
      }
      pData = pGrown;
      nCapacity *= 2;
    }
    const size_t nRead = std::fread(pData + nUsed, 1, nCapacity - nUsed, pFile);
    nUsed += nRead;
    if (nRead == 0) {
      bOk = !std::ferror(pFile);
      break;
    }
  }
  std::fclose(pFile);
  if (!bOk || nUsed > static_cast<size_t>(INT32_MAX - kSongSlack)) {
    std::free(pData);
    return 0;
  }
  *ppData = pData;
  *pnSize = static_cast<int32_t>(nUsed);
  return 1;
}

int32_t LoadSmf(const char *pszPath) {
  FreeSong();
  uint8_t *pData = nullptr;
  int32_t nSize = 0;
  if (!pszPath || !ReadWholeFile(pszPath, &pData, &nSize))
    return 0;
  const int32_t bLoaded = LoadSmfBytes(pData, nSize);
  std::free(pData);
  return bLoaded;
}
