// Draws the built-in panel images and writes them as 24-bit BMP files:
//   make_skin DIR
// The thirteen panel bitmaps at their cell layouts, the About picture
// (ABITMAP.bmp) and the window icon (A0Torqa.bmp). One palette throughout: a
// dark panel, a green LCD, white glyphs, red and amber for warnings. Labels use
// a 3 x 5 pixel font drawn here; Japanese text and logos come from the IPA
// fonts through FreeType.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The palette.
constexpr uint32_t kBody = 0x2A2D33;      // panel face
constexpr uint32_t kBodyLight = 0x4A4F58; // bevel light edge
constexpr uint32_t kBodyDark = 0x141619;  // bevel shadow, recesses
constexpr uint32_t kButton = 0x3A3E46;    // button face
constexpr uint32_t kButtonLight = 0x5E646F;
constexpr uint32_t kButtonDark = 0x1C1E22;
constexpr uint32_t kGlyph = 0xE8ECF0;    // button glyphs
constexpr uint32_t kGlyphDim = 0x6A707A; // unavailable glyphs
constexpr uint32_t kLabel = 0xA8AEB8;    // panel labels
constexpr uint32_t kLcd = 0x07140A;      // LCD background
constexpr uint32_t kLcdGhost = 0x14301B; // unlit LCD segments
constexpr uint32_t kLcdDim = 0x1F7A33;   // half-lit LCD
constexpr uint32_t kLcdOn = 0x40FF60;    // lit LCD, the panel's text colour
constexpr uint32_t kAmber = 0xFFB030;
constexpr uint32_t kAmberDim = 0x4A3512;
constexpr uint32_t kRed = 0xFF4040;
constexpr uint32_t kRedDim = 0x4A1616;

struct Canvas {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  Canvas(int nW, int nH, uint32_t c = 0) : w(nW), h(nH), px(static_cast<size_t>(nW * nH), c) {}
  void Set(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < w && y < h)
      px[static_cast<size_t>(y * w + x)] = c;
  }
  uint32_t Get(int x, int y) const { return px[static_cast<size_t>(y * w + x)]; }
  void Fill(int x, int y, int nW, int nH, uint32_t c) {
    for (int j = y; j < y + nH; ++j)
      for (int i = x; i < x + nW; ++i)
        Set(i, j, c);
  }
  // Mixes c into the pixel with coverage a (0..255).
  void Blend(int x, int y, uint32_t c, int a) {
    if (x < 0 || y < 0 || x >= w || y >= h || a <= 0)
      return;
    uint32_t &p = px[static_cast<size_t>(y * w + x)];
    uint32_t q = 0;
    for (int s = 0; s <= 16; s += 8) {
      const int d = static_cast<int>((p >> s) & 0xFF), v = static_cast<int>((c >> s) & 0xFF);
      q |= static_cast<uint32_t>(d + (v - d) * std::min(a, 255) / 255) << s;
    }
    p = q;
  }
  void Paste(const Canvas &src, int x, int y) {
    for (int j = 0; j < src.h; ++j)
      for (int i = 0; i < src.w; ++i)
        Set(x + i, y + j, src.Get(i, j));
  }
};

uint32_t Mix(uint32_t a, uint32_t b, int t) { // t/255 of b over a
  Canvas c(1, 1, a);
  c.Blend(0, 0, b, t);
  return c.px[0];
}

void WriteBmp(const std::string &sPath, const Canvas &c) {
  const int nStride = (c.w * 3 + 3) & ~3;
  const uint32_t nData = static_cast<uint32_t>(nStride * c.h);
  std::vector<uint8_t> b(54 + nData, 0);
  auto Put32 = [&b](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  Put32(2, 54 + nData);
  Put32(10, 54);
  Put32(14, 40);
  Put32(18, static_cast<uint32_t>(c.w));
  Put32(22, static_cast<uint32_t>(c.h)); // bottom-up
  b[26] = 1;
  b[28] = 24;
  Put32(34, nData);
  Put32(38, 3780); // 96 dpi
  Put32(42, 3780);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) {
      const uint32_t p = c.Get(x, y);
      uint8_t *q = &b[54 + static_cast<size_t>((c.h - 1 - y) * nStride + x * 3)];
      q[0] = static_cast<uint8_t>(p);
      q[1] = static_cast<uint8_t>(p >> 8);
      q[2] = static_cast<uint8_t>(p >> 16);
    }
  FILE *f = std::fopen(sPath.c_str(), "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
    std::perror(sPath.c_str());
    std::exit(1);
  }
}

// ---- the 3 x 5 label font ----

const char *TinyGlyph(char ch) {
  static const char *const kLetters[26] = {
      "010101111101101", "110101110101110", "011100100100011", "110101101101110", "111100110100111",
      "111100110100100", "011100101101011", "101101111101101", "111010010010111", "001001001101010",
      "101101110101101", "100100100100111", "101111111101101", "110101101101101", "010101101101010",
      "110101110100100", "010101101110011", "110101110101101", "011100010001110", "111010010010010",
      "101101101101111", "101101101101010", "101101111111101", "101101010101101", "101101010010010",
      "111001010100111"};
  static const char *const kDigits[10] = {"111101101101111", "010110010010111", "110001010100111",
                                          "110001010001110", "101101111001001", "111100110001110",
                                          "011100111101111", "111001010010010", "111101111101111",
                                          "111101111001110"};
  if (ch >= 'A' && ch <= 'Z')
    return kLetters[ch - 'A'];
  if (ch >= '0' && ch <= '9')
    return kDigits[ch - '0'];
  switch (ch) {
  case '-':
    return "000000111000000";
  case '+':
    return "000010111010000";
  case ':':
    return "000010000010000";
  case '.':
    return "000000000000010";
  case '/':
    return "001001010100100";
  case '?':
    return "111001010000010";
  }
  return "000000000000000";
}

// Draws text in the 3 x 5 font, each pixel scaled by s; returns the width.
int TinyText(Canvas &c, int x, int y, const char *sz, uint32_t col, int s = 1) {
  int x0 = x;
  for (; *sz; ++sz, x += 4 * s) {
    const char *g = TinyGlyph(*sz);
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 3; ++i)
        if (g[j * 3 + i] == '1')
          c.Fill(x + i * s, y + j * s, s, s, col);
  }
  return x - x0 - s;
}
int TinyWidth(const char *sz, int s = 1) {
  return static_cast<int>(std::strlen(sz)) * 4 * s - s;
}

// ---- FreeType text ----

FT_Library ftLib;

struct Font {
  FT_Face face = nullptr;
  Font(const char *szPath, int nPx) {
    if (FT_New_Face(ftLib, szPath, 0, &face)) {
      std::fprintf(stderr, "make_skin: cannot open font %s\n", szPath);
      std::exit(1);
    }
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(nPx));
  }
};

uint32_t NextCodepoint(const char *&s) {
  const auto b = static_cast<uint8_t>(*s++);
  if (b < 0x80)
    return b;
  const int n = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  uint32_t cp = b & (0x3F >> n);
  for (int i = 0; i < n && *s; ++i)
    cp = (cp << 6) | (static_cast<uint8_t>(*s++) & 0x3F);
  return cp;
}

// Draws UTF-8 text with its baseline at y; returns the advance in pixels.
int Text(Canvas &c, Font &f, int x, int y, const char *sz, uint32_t col,
         bool bMeasureOnly = false) {
  int pen = x;
  for (const char *s = sz; *s;) {
    const uint32_t cp = NextCodepoint(s);
    if (FT_Load_Char(f.face, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT))
      continue;
    const FT_GlyphSlot g = f.face->glyph;
    if (!bMeasureOnly)
      for (unsigned j = 0; j < g->bitmap.rows; ++j)
        for (unsigned i = 0; i < g->bitmap.width; ++i)
          c.Blend(pen + g->bitmap_left + static_cast<int>(i),
                  y - g->bitmap_top + static_cast<int>(j), col,
                  g->bitmap.buffer[j * static_cast<unsigned>(g->bitmap.pitch) + i]);
    pen += static_cast<int>(g->advance.x >> 6);
  }
  return pen - x;
}
int TextWidth(Font &f, const char *sz) {
  Canvas c(1, 1);
  return Text(c, f, 0, 0, sz, 0, true);
}

// ---- shapes ----

// A raised box: light top and left edges, dark bottom and right.
void Bevel(Canvas &c, int x, int y, int w, int h, uint32_t face, uint32_t light, uint32_t dark) {
  c.Fill(x, y, w, h, face);
  c.Fill(x, y, w, 1, light);
  c.Fill(x, y, 1, h, light);
  c.Fill(x, y + h - 1, w, 1, dark);
  c.Fill(x + w - 1, y, 1, h, dark);
}
// A sunken box: the reverse.
void Inset(Canvas &c, int x, int y, int w, int h, uint32_t face) {
  Bevel(c, x, y, w, h, face, kBodyDark, kBodyLight);
}

void Disc(Canvas &c, double cx, double cy, double r, uint32_t col) {
  for (int y = static_cast<int>(cy - r - 1); y <= cy + r + 1; ++y)
    for (int x = static_cast<int>(cx - r - 1); x <= cx + r + 1; ++x) {
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      c.Blend(x, y, col, static_cast<int>(std::clamp((r - d + 0.5) * 255.0, 0.0, 255.0)));
    }
}
void Ring(Canvas &c, double cx, double cy, double r, double t, uint32_t col) {
  for (int y = static_cast<int>(cy - r - 2); y <= cy + r + 2; ++y)
    for (int x = static_cast<int>(cx - r - 2); x <= cx + r + 2; ++x) {
      const double d = std::fabs(std::hypot(x + 0.5 - cx, y + 0.5 - cy) - r);
      c.Blend(x, y, col, static_cast<int>(std::clamp((t / 2 - d + 0.5) * 255.0, 0.0, 255.0)));
    }
}
void Line(Canvas &c, double x0, double y0, double x1, double y1, double t, uint32_t col) {
  const int xa = static_cast<int>(std::min(x0, x1) - t - 1),
            xb = static_cast<int>(std::max(x0, x1) + t + 1);
  const int ya = static_cast<int>(std::min(y0, y1) - t - 1),
            yb = static_cast<int>(std::max(y0, y1) + t + 1);
  const double dx = x1 - x0, dy = y1 - y0, len2 = std::max(dx * dx + dy * dy, 1e-9);
  for (int y = ya; y <= yb; ++y)
    for (int x = xa; x <= xb; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const double u = std::clamp(((px - x0) * dx + (py - y0) * dy) / len2, 0.0, 1.0);
      const double d = std::hypot(px - (x0 + u * dx), py - (y0 + u * dy));
      c.Blend(x, y, col, static_cast<int>(std::clamp((t / 2 - d + 0.5) * 255.0, 0.0, 255.0)));
    }
}
// Triangle pointing right (dir 1) or left (-1) in the box, pixel-exact.
void Triangle(Canvas &c, int x, int y, int w, int h, int dir, uint32_t col) {
  for (int i = 0; i < w; ++i) {
    const int col_i = dir > 0 ? i : w - 1 - i;
    const int half = (h - 1) * (w - i) / (2 * w);
    const int mid = y + (h - 1) / 2;
    for (int j = mid - half; j <= mid + half + ((h - 1) % 2); ++j)
      c.Set(x + col_i, j, col);
  }
}

// ---- button glyphs, drawn into a box of about 11 x 9 ----

enum Glyph {
  kSize,
  kStop,
  kPlay,
  kExit,
  kTop,
  kBack,
  kOn,
  kHelp,
  kSpeed,
  kOpen,
  kRecord,
  kSetup,
  kTest,
  kAbout,
  kAssign,
  kClear
};

void DrawGlyph(Canvas &c, Glyph g, int x, int y, uint32_t col) {
  switch (g) {
  case kSize: // a small window inside a large one
    c.Fill(x, y, 11, 1, col), c.Fill(x, y + 8, 11, 1, col);
    c.Fill(x, y, 1, 9, col), c.Fill(x + 10, y, 1, 9, col);
    c.Fill(x + 2, y + 2, 4, 4, col);
    break;
  case kStop:
    c.Fill(x + 1, y, 9, 9, col);
    break;
  case kPlay:
    Triangle(c, x + 2, y, 8, 9, 1, col);
    break;
  case kExit:
    Line(c, x + 1.5, y + 0.5, x + 9.5, y + 8.5, 2.0, col);
    Line(c, x + 9.5, y + 0.5, x + 1.5, y + 8.5, 2.0, col);
    break;
  case kTop:
    c.Fill(x + 1, y, 2, 9, col);
    Triangle(c, x + 3, y, 4, 9, -1, col);
    Triangle(c, x + 7, y, 4, 9, -1, col);
    break;
  case kBack:
    c.Fill(x + 1, y + 3, 1, 3, col);
    Triangle(c, x + 2, y, 5, 9, -1, col);
    Triangle(c, x + 6, y, 5, 9, -1, col);
    break;
  case kOn:
    Triangle(c, x, y, 5, 9, 1, col);
    Triangle(c, x + 4, y, 5, 9, 1, col);
    c.Fill(x + 9, y + 3, 1, 3, col);
    break;
  case kHelp:
    TinyText(c, x + 2, y - 1, "?", col, 2);
    break;
  case kSpeed: // a double arrow: drag sideways
    c.Fill(x + 1, y + 4, 7, 1, col);
    for (int i = 0; i < 3; ++i) {
      c.Fill(x + 1 + i, y + 4 - i, 1, 2 * i + 1, col);
      c.Fill(x + 7 - i, y + 4 - i, 1, 2 * i + 1, col);
    }
    break;
  case kOpen: // a folder
    c.Fill(x + 1, y + 1, 4, 1, col);
    c.Fill(x + 1, y + 2, 9, 6, col);
    c.Fill(x + 2, y + 3, 7, 1, kButton);
    break;
  case kRecord:
    Disc(c, x + 5.5, y + 4.0, 3.6, kRed);
    break;
  case kSetup: // a gear
    for (int k = 0; k < 8; ++k) {
      const double a = k * M_PI / 4;
      Line(c, x + 5.5, y + 4, x + 5.5 + 4.2 * std::cos(a), y + 4 + 4.2 * std::sin(a), 1.8, col);
    }
    Disc(c, x + 5.5, y + 4, 3.0, col);
    Disc(c, x + 5.5, y + 4, 1.2, kButton);
    break;
  case kTest: // a note
    Disc(c, x + 4, y + 7, 2.2, col);
    c.Fill(x + 5, y, 1, 7, col);
    Line(c, x + 5.5, y + 0.5, x + 8.5, y + 3, 1.4, col);
    break;
  case kAbout: // "i" in a circle
    Ring(c, x + 5.5, y + 4.5, 4.2, 1.2, col);
    c.Set(x + 5, y + 2, col);
    c.Fill(x + 5, y + 4, 1, 3, col);
    break;
  case kAssign:
    c.Fill(x + 3, y + 1, 5, 1, col), c.Fill(x + 5, y - 1, 1, 5, col);
    break;
  case kClear:
    Line(c, x + 3.5, y - 0.5, x + 7.5, y + 3.5, 1.3, col);
    Line(c, x + 7.5, y - 0.5, x + 3.5, y + 3.5, 1.3, col);
    break;
  }
}

// A 21 x 20 panel button with a glyph and an optional label under it.
void Button(Canvas &c, int x, int y, int w, Glyph g, const char *szLabel, uint32_t col = kGlyph) {
  Bevel(c, x, y, w, 20, kButton, kButtonLight, kButtonDark);
  if (szLabel) {
    DrawGlyph(c, g, x + (w - 11) / 2, y + 2, col);
    TinyText(c, x + (w - TinyWidth(szLabel)) / 2 + 1, y + 13, szLabel, kLabel);
  } else {
    DrawGlyph(c, g, x + (w - 11) / 2, y + 5, col);
  }
}

// ---- the bitmaps ----

// A round lamp centred in a cell.
void Lamp(Canvas &c, double cx, double cy, double r, uint32_t col, bool bGlow) {
  Disc(c, cx, cy, r + 0.8, kBodyDark);
  Disc(c, cx, cy, r, col);
  if (bGlow)
    Disc(c, cx - r / 3, cy - r / 3, r / 2.5, Mix(col, 0xFFFFFF, 150));
}

Canvas MakeLed() { // 8 x 24: idle, lit, muted
  Canvas c(8, 24, kBody);
  Ring(c, 4, 4, 3.0, 1.0, kBodyLight);
  Disc(c, 4, 4, 2.4, kLcdGhost);
  Lamp(c, 4, 12, 3.0, kLcdOn, true);
  Lamp(c, 4, 20, 3.0, kRed, true);
  return c;
}

// Seven segments a..g in a 5 x 9 digit at (x, y).
void Segments(Canvas &c, int x, int y, unsigned nMask) {
  auto Seg = [&](int n, int sx, int sy, int w, int h) {
    c.Fill(x + sx, y + sy, w, h, (nMask >> n) & 1 ? kLcdOn : kLcdGhost);
  };
  Seg(0, 1, 0, 3, 1); // a
  Seg(1, 4, 1, 1, 3); // b
  Seg(2, 4, 5, 1, 3); // c
  Seg(3, 1, 8, 3, 1); // d
  Seg(4, 0, 5, 1, 3); // e
  Seg(5, 0, 1, 1, 3); // f
  Seg(6, 1, 4, 3, 1); // g
}

Canvas MakeDigits() { // 66 x 9: blank, 0..9, colon
  static const unsigned kMasks[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  Canvas c(66, 9, kLcd);
  Segments(c, 0, 0, 0);
  for (int d = 0; d < 10; ++d)
    Segments(c, 6 * (d + 1), 0, kMasks[d]);
  c.Set(66 - 4, 2, kLcdOn);
  c.Set(66 - 4, 6, kLcdOn);
  return c;
}

Canvas MakeLump() { // 21 x 40: slot off, on
  Canvas c(21, 40, kBody);
  for (int k = 0; k < 2; ++k) {
    Inset(c, 2, 20 * k + 2, 17, 16, kBodyDark);
    Lamp(c, 10.5, 20 * k + 10, 5.0, k ? kLcdOn : kLcdGhost, k != 0);
  }
  return c;
}

Canvas MakeWarn() { // 36 x 32: clip off/on, overload off/on
  Canvas c(36, 32, kBody);
  const char *const aszLabel[2] = {"CLIP", "OVER"};
  const uint32_t aOn[2] = {kRed, kAmber}, aOff[2] = {kRedDim, kAmberDim};
  for (int k = 0; k < 4; ++k) {
    const int y = 8 * k, n = k / 2;
    const bool bOn = k % 2;
    Lamp(c, 4, y + 4, 2.8, bOn ? aOn[n] : aOff[n], bOn);
    TinyText(c, 11, y + 2, aszLabel[n], bOn ? aOn[n] : kLabel);
  }
  return c;
}

Canvas MakeMeter() { // 264 x 63: 33 columns, level 0..32 lit from the bottom
  Canvas c(264, 63, kLcd);
  for (int n = 0; n <= 32; ++n)
    for (int k = 1; k <= 32; ++k) {
      const uint32_t on = k > 28 ? kRed : k > 22 ? kAmber : kLcdOn;
      c.Fill(8 * n + 1, 64 - 2 * k, 6, 1, k <= n ? on : kLcdGhost);
    }
  return c;
}

Canvas MakeVol() { // 21 x 640: knob at 32 angles, cell 0 loudest
  Canvas c(21, 640, kButton);
  for (int k = 0; k < 32; ++k) {
    const int y = 20 * k;
    Bevel(c, 0, y, 21, 20, kButton, kButtonLight, kButtonDark);
    const double cx = 10.5, cy = y + 10.0;
    // Scale dots from 7:30 (quiet) clockwise to 4:30 (loud).
    for (int t = 0; t <= 6; ++t) {
      const double a = (135 + 45.0 * t) * M_PI / 180;
      c.Blend(static_cast<int>(cx + 8.6 * std::cos(a)), static_cast<int>(cy + 8.6 * std::sin(a)),
              kLabel, 200);
    }
    Disc(c, cx, cy, 6.6, kBodyDark);
    Disc(c, cx, cy, 5.8, 0x50565F);
    Disc(c, cx - 1, cy - 1, 4.6, 0x5C626C);
    const double a = (135 + 270.0 * (31 - k) / 31) * M_PI / 180;
    Line(c, cx + 1.5 * std::cos(a), cy + 1.5 * std::sin(a), cx + 5.6 * std::cos(a),
         cy + 5.6 * std::sin(a), 1.6, kLcdOn);
  }
  return c;
}

Canvas MakeBar() { // 60 x 16: no focus, focus
  Canvas c(60, 16, kBody);
  Inset(c, 0, 0, 60, 8, kBodyDark);
  TinyText(c, 18, 1, "TORQA", kGlyphDim);
  Inset(c, 0, 8, 60, 8, kLcd);
  c.Fill(1, 9, 58, 6, kLcdDim);
  TinyText(c, 18, 9, "TORQA", kLcdOn);
  return c;
}

Canvas MakeMenu1() { // buttons 0..7, the speed strip 8 and the knob's place 9
  Canvas c(200, 20, kBody);
  const Glyph aGlyph[8] = {kSize, kStop, kPlay, kExit, kTop, kBack, kOn, kHelp};
  for (int i = 0; i < 8; ++i)
    Button(c, 21 * i, 0, 21, aGlyph[i], nullptr, i == 2 ? kLcdOn : i == 3 ? kRed : kGlyph);
  Bevel(c, 168, 0, 11, 20, kButton, kButtonLight, kButtonDark);
  DrawGlyph(c, kSpeed, 168, 3, kGlyph);
  TinyText(c, 170, 12, "S", kLabel);
  Bevel(c, 179, 0, 21, 20, kButton, kButtonLight, kButtonDark);
  return c;
}

Canvas MakeMenu2() { // buttons 10..14 and the grip that moves the window
  Canvas c(200, 20, kBody);
  const Glyph aGlyph[5] = {kOpen, kRecord, kSetup, kTest, kAbout};
  const char *const aszLabel[5] = {"OPEN", "WAV", "SET", "TEST", "INFO"};
  for (int i = 0; i < 5; ++i)
    Button(c, 21 * i, 0, 21, aGlyph[i], aszLabel[i]);
  Inset(c, 106, 1, 93, 18, kBody);
  for (int y = 4; y < 17; y += 3)
    for (int x = 109; x < 120; x += 3)
      c.Set(x, y, kBodyLight), c.Set(x + 1, y + 1, kBodyDark);
  TinyText(c, 124, 4, "TORQA", kLcdOn, 2);
  return c;
}

// A slot row: the lamp's socket, the name field and four small buttons.
void SlotRow(Canvas &c, int y, bool bUsed) {
  c.Fill(0, y, 200, 20, kBody);
  c.Fill(0, y, 200, 1, kBodyLight);
  Inset(c, 2, y + 2, 17, 16, kBodyDark);
  if (!bUsed)
    Lamp(c, 10.5, y + 10, 5.0, 0x202328, false);
  Inset(c, 23, y + 1, 176, 9, bUsed ? kLcd : kBodyDark);
  if (!bUsed)
    TinyText(c, 26, y + 3, "EMPTY - PRESS +", kGlyphDim);
  const char *const aszLabel[4] = {nullptr, "MIDI", "SET", "EDIT"};
  for (int i = 0; i < 4; ++i) {
    const int x = 24 + 30 * i;
    Bevel(c, x, y + 10, 21, 10, kButton, kButtonLight, kButtonDark);
    if (i == 0)
      DrawGlyph(c, bUsed ? kClear : kAssign, x + 5, y + 13, bUsed ? kRed : kLcdOn);
    else
      TinyText(c, x + (21 - TinyWidth(aszLabel[i])) / 2 + 1, y + 12, aszLabel[i],
               bUsed ? kGlyph : kGlyphDim);
  }
}

Canvas MakePanel() { // 200 x 120: top, empty slot row, used slot row
  Canvas c(200, 120, kBody);
  Bevel(c, 0, 0, 200, 80, kBody, kBodyLight, kBodyDark);
  // Lamp strip and the screen's bezel.
  Inset(c, 61, 0, 130, 10, kBodyDark);
  Inset(c, 45, 9, 146, 65, kLcd);
  // Meter captions under the screen.
  // L: the load, O: the output level, then channels 1..16 (odd ones numbered).
  TinyText(c, 48, 74, "L", kAmber);
  TinyText(c, 56, 74, "O", kAmber);
  for (int ch = 0; ch < 16; ch += 2) {
    const std::string s = std::to_string(ch + 1);
    TinyText(c, 62 + 8 * ch + (8 - TinyWidth(s.c_str())) / 2, 74, s.c_str(), kLabel);
    c.Set(62 + 8 * ch + 11, 76, kGlyphDim);
  }
  // Warning lamps' and logo's field.
  Inset(c, 3, 9, 40, 20, kBody);
  Inset(c, 3, 30, 40, 20, kBodyDark);
  TinyText(c, 6, 33, "TORQA", kLcdOn, 1);
  TinyText(c, 6, 41, "MIDI", kGlyphDim, 1);
  // Position read-out: play lamp, measure; beat : tick.
  Inset(c, 3, 50, 40, 22, kLcd);
  c.Set(19, 64, kLcdDim);
  c.Set(19, 68, kLcdDim);
  TinyText(c, 5, 74, "BEAT", kLabel);
  TinyText(c, 23, 74, "TICK", kLabel);
  SlotRow(c, 80, false);
  SlotRow(c, 100, true);
  return c;
}

Canvas MakeType2(Font &big, Font &small) { // 600 x 63 strip for the screen slide
  Canvas c(600, 63, kLcd);
  for (int x = 0; x < 600; x += 2)
    for (int y = 0; y < 63; y += 2)
      c.Set(x, y, 0x0B1D10);
  for (int x = 0; x < 600; ++x) {
    const double v = 8 * std::sin(x * 0.07) * std::sin(x * 0.011);
    c.Set(x, static_cast<int>(58 + v / 2), kLcdDim);
  }
  Text(c, big, 150, 38, "TORQA", kLcdOn);
  Text(c, small, 300, 36, "MIDI PLAYER", kLcdOn);
  Text(c, small, 300, 51, "ミディ プレーヤー", kLcdDim);
  return c;
}

Canvas MakeType3(Font &big, Font &small) { // 128 x 47 mono-mix emblem
  Canvas c(128, 47, 0);
  Ring(c, 23, 23, 17, 3, kAmber);
  Disc(c, 23, 23, 7, kAmber);
  Text(c, big, 48, 30, "MONO", kAmber);
  Text(c, small, 50, 43, "モノラル", kGlyph);
  return c;
}

// One line of the help: an optional glyph box and a text.
struct HelpLine {
  int nGlyph; // -1 none, -2 section heading
  const char *szText;
};

Canvas MakeHelp(Font &font, Font &bold) {
  static const HelpLine kLines[] = {
      {-2, "上の列のボタン"},
      {kSize, "大きさ切替 (右クリック)"},
      {kStop, "停止"},
      {kPlay, "演奏 (Space)"},
      {kExit, "終了 (Ctrl+Q)"},
      {kTop, "先頭の小節へ"},
      {kBack, "1小節戻る (←)"},
      {kOn, "1小節進む (→)"},
      {kHelp, "このヘルプ (F1)"},
      {kSpeed, "左右ドラッグ: 速度"},
      {-1, "つまみ 上下ドラッグ: 音量"},
      {-2, "下の列のボタン"},
      {kOpen, "MIDIを開く (Ctrl+O)"},
      {kRecord, "WAVへ録音"},
      {kSetup, "システム設定"},
      {kTest, "サウンドテスト"},
      {kAbout, "バージョン情報"},
      {-1, "TORQAの帯: ドラッグで移動"},
      {-2, "ユニット欄"},
      {-1, "ランプ: 有効/無効"},
      {kAssign, "ユニットを割当"},
      {kClear, "ユニットを外す"},
      {-1, "MIDI SET EDIT: 各設定"},
      {-2, "ランプとメーター"},
      {-1, "上のランプ: 押すとミュート"},
      {-1, "CLIP 音割れ  OVER 処理落ち"},
      {-1, "メーター: L 負荷 O 出力 1-16"},
      {-2, "ヘルプ中"},
      {-1, "↑↓ スクロール ←→ 濃さ"},
      {-1, "Esc か右クリックで戻る"},
  };
  constexpr int kLineHeight = 11;
  Canvas c(144, 334, 0);
  int y = 2;
  for (const HelpLine &line : kLines) {
    if (line.nGlyph == -2) {
      c.Fill(0, y + 1, 144, 9, kLcdDim);
      Text(c, bold, 4, y + 9, line.szText, 0xFFFFFF);
    } else {
      int x = 2;
      if (line.nGlyph >= 0) {
        Canvas g(13, 11, kButton);
        Bevel(g, 0, 0, 13, 11, kButton, kButtonLight, kButtonDark);
        const Glyph glyph = static_cast<Glyph>(line.nGlyph);
        DrawGlyph(g, glyph, 1, glyph == kAssign || glyph == kClear ? 4 : 1,
                  glyph == kClear    ? kRed
                  : glyph == kAssign ? kLcdOn
                                     : kGlyph);
        c.Paste(g, x, y);
        x += 16;
      }
      if (x + TextWidth(font, line.szText) > c.w)
        std::fprintf(stderr, "make_skin: help line too wide: %s\n", line.szText);
      Text(c, font, x, y + 9, line.szText, kLcdOn);
    }
    y += kLineHeight;
  }
  return c;
}

Canvas MakeAbout(Font &big, Font &small) { // 227 x 227
  Canvas c(227, 227, kBody);
  Bevel(c, 0, 0, 227, 227, kBody, kBodyLight, kBodyDark);
  Inset(c, 16, 16, 195, 120, kLcd);
  for (int n = 0; n < 18; ++n) {
    const double v = 0.5 + 0.45 * std::sin(n * 0.9) * std::cos(n * 0.31);
    const int nLit = static_cast<int>(v * 26);
    for (int k = 1; k <= 26; ++k) {
      const uint32_t on = k > 22 ? kRed : k > 17 ? kAmber : kLcdOn;
      c.Fill(24 + 10 * n, 130 - 4 * k, 8, 2, k <= nLit ? on : kLcdGhost);
    }
  }
  const int w = TextWidth(big, "TORQA");
  Text(c, big, (227 - w) / 2, 180, "TORQA", kLcdOn);
  const char *szSub = "MIDI プレーヤー";
  Text(c, small, (227 - TextWidth(small, szSub)) / 2, 205, szSub, kLabel);
  return c;
}

Canvas MakeIcon() { // 48 x 48 window icon
  Canvas c(48, 48, 0);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      const double dx = std::max(std::fabs(x + 0.5 - 24) - 18, 0.0);
      const double dy = std::max(std::fabs(y + 0.5 - 24) - 18, 0.0);
      const double d = std::hypot(dx, dy);
      c.Blend(x, y, kBody, static_cast<int>(std::clamp((6.0 - d) * 255.0, 0.0, 255.0)));
    }
  const int aLevel[5] = {5, 8, 6, 9, 4};
  for (int n = 0; n < 5; ++n)
    for (int k = 0; k < 9; ++k)
      c.Fill(9 + 6 * n, 37 - 3 * k, 5, 2,
             k < aLevel[n] ? (k >= 8   ? kRed
                              : k >= 6 ? kAmber
                                       : kLcdOn)
                           : kLcdGhost);
  return c;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_skin DIR\n");
    return 2;
  }
  const std::string sDir = argv[1];
  if (FT_Init_FreeType(&ftLib))
    return 1;
  const char *szGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf";
  Font help(szGothic, 10), heading(szGothic, 10), logo(szGothic, 40), mid(szGothic, 14),
      emblem(szGothic, 21), about(szGothic, 48), aboutSmall(szGothic, 14);
  WriteBmp(sDir + "/G-LED.bmp", MakeLed());
  WriteBmp(sDir + "/7Seg.bmp", MakeDigits());
  WriteBmp(sDir + "/Lump.bmp", MakeLump());
  WriteBmp(sDir + "/Warn.bmp", MakeWarn());
  WriteBmp(sDir + "/LVM.bmp", MakeMeter());
  WriteBmp(sDir + "/INPANE.bmp", MakePanel());
  WriteBmp(sDir + "/Type2.bmp", MakeType2(logo, mid));
  WriteBmp(sDir + "/Type3.bmp", MakeType3(emblem, help));
  WriteBmp(sDir + "/Menu1.bmp", MakeMenu1());
  WriteBmp(sDir + "/Menu2.bmp", MakeMenu2());
  WriteBmp(sDir + "/Vol.bmp", MakeVol());
  WriteBmp(sDir + "/Bar.bmp", MakeBar());
  WriteBmp(sDir + "/Help.bmp", MakeHelp(help, heading));
  WriteBmp(sDir + "/ABITMAP.bmp", MakeAbout(about, aboutSmall));
  WriteBmp(sDir + "/A0Torqa.bmp", MakeIcon());
  return 0;
}
