// Panel states drawn for the golden images: each scene sets the engine and
// panel fields from a clean start, then the panel is painted in full with the
// built-in images. panel_golden writes their digests (and pictures to look
// at); tests/panel checks them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "player/ui/panel_image.h"

struct PanelScene {
  const char *szName; // key in the digest file
  const char *szFact; // what the picture shows
  void (*pfnSetUp)();
};

extern const PanelScene aPanelScenes[];
extern const int32_t nPanelSceneCount;

// The scene named szName, or null.
const PanelScene *FindPanelScene(const char *szName);
// Loads the built-in images, resets the state, applies the scene and
// paints the panel; returns the window's pixels.
const PanelImage &RenderPanelScene(const PanelScene &scene);
// FNV-1a over the size and pixels.
uint64_t PanelImageDigest(const PanelImage &img);
// The digest file: "name digest" per line, '#' lines are comments.
std::map<std::string, std::string> ReadPanelDigests(const char *szPath);
