// The built-in panel images, embedded into the program at build time from the
// BMP files beside this header.
#pragma once

#include <cstddef>
#include <cstdint>

struct BuiltinImage {
  const char *szName;   // file name, e.g. "INPANE.bmp"
  const uint8_t *pData; // the whole BMP file
  size_t nSize;
};

// The image of that file name, or null.
const BuiltinImage *FindBuiltinImage(const char *szName);
