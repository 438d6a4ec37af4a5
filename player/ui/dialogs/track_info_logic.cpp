#include "player/ui/dialogs/track_info_logic.h"

#include <cstdio>

#include "player/song/sjis_text.h"
#include "player/song/song.h"

std::string TrackInfoText() {
  char sz[64];
  std::string sText;
  std::snprintf(sz, sizeof sz, "SMF Format %d らしい\r\n", nSmfFormat);
  sText += sz;
  std::snprintf(sz, sizeof sz, "%d トラック有ります\r\n", nTracks);
  sText += sz;
  std::snprintf(sz, sizeof sz, "デルタタイムは %d \r\n", nDivision);
  sText += sz;
  for (int32_t i = 0; i < nTracks && i < kMaxTracks; i++) {
    std::snprintf(sz, sizeof sz, "%03d : ", i);
    sText += sz;
    sText += TrackNameToUtf8(aTrackInfo[i].szName);
    sText += "\r\n";
  }
  return sText;
}
