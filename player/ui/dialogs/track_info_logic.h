// The track information dialog ("SETTRK") without its window: its text.
#pragma once

#include <string>

// The loaded song's header values and track names, one "\r\n"-ended line
// each, names converted from Shift-JIS to UTF-8.
std::string TrackInfoText();
