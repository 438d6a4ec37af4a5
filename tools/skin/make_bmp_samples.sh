#!/usr/bin/env bash
# Writes the decoder's test pictures into tests/panel/data: three small ASCII
# pictures (2, 16 and 20 colours, 13 x 5 so rows need padding) and ImageMagick's
# BMP files of them at 1, 4, 8 (plain and run-length) 24 and 32 bits. The
# decoder's tests read each BMP back and compare it with its picture.
set -euo pipefail
cd "$(dirname "$0")/../../tests/panel/data"
python3 - <<'PY'
import random
random.seed(7)
def ppm(name, cols):
    w, h = 13, 5
    pix = [cols[(x * 3 + y * 5) % len(cols)] for y in range(h) for x in range(w)]
    with open(name, 'w') as f:
        f.write("P3\n%d %d\n255\n" % (w, h))
        for y in range(h):
            f.write(" ".join("%d %d %d" % pix[y * w + x] for x in range(w)) + "\n")
c20 = [(random.randrange(256), random.randrange(256), random.randrange(256)) for _ in range(20)]
ppm('ref2.ppm', [(0, 0, 0), (255, 255, 255)])
ppm('ref16.ppm', c20[:16])
ppm('ref20.ppm', c20)
PY
convert ref2.ppm -type Palette BMP3:bits1.bmp
convert ref16.ppm -type Palette BMP3:bits4.bmp
convert ref20.ppm -type Palette -compress None BMP3:bits8.bmp
convert ref20.ppm -type Palette -compress RLE BMP3:rle8.bmp
convert ref20.ppm -type TrueColor BMP3:bits24.bmp
convert ref20.ppm -type TrueColorAlpha BMP:bits32.bmp
