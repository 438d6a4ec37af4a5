#!/usr/bin/python3
"""Prints the zones a SoundFont preset plays for a key and velocity, one line
each, sorted: sample name, root key, coarse tune, fine tune, attenuation,
sample modes, key range; a line "--" after each case. Written from the
SoundFont 2.01 format description, apart from the reader under test, to
check it against.

    sf2_facts.py FONT.sf2 BANK:PROGRAM:KEY:VELOCITY...
"""
import struct
import sys


def chunks(data):
    at = 0
    while at + 8 <= len(data):
        cid, size = struct.unpack_from("<4sI", data, at)
        yield cid.decode("latin-1"), data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)


def records(data, fmt):
    size = struct.calcsize(fmt)
    return [struct.unpack_from(fmt, data, i) for i in range(0, len(data), size)]


def pdta(path):
    """The preset-data lists, read without the sample pool."""
    with open(path, "rb") as f:
        f.seek(12)
        while True:
            head = f.read(12)
            if len(head) < 12:
                return {}
            cid, size, kind = struct.unpack("<4sI4s", head)
            if cid == b"LIST" and kind == b"pdta":
                return dict(chunks(f.read(size - 4)))
            f.seek(size - 4 + (size & 1), 1)


def main():
    hydra = pdta(sys.argv[1])
    for case in sys.argv[2:]:
        facts(hydra, *map(int, case.split(":")))
        print("--")


def facts(hydra, bank, program, key, vel):
    phdr = records(hydra["phdr"], "<20sHHHIII")
    pbag = records(hydra["pbag"], "<HH")
    pgen = records(hydra["pgen"], "<HH")
    inst = records(hydra["inst"], "<20sH")
    ibag = records(hydra["ibag"], "<HH")
    igen = records(hydra["igen"], "<HH")
    shdr = records(hydra["shdr"], "<20sIIIIIBbHH")

    def zones(bags, gens, first, end, terminal):
        """(global generators, [zone generators]) of bags [first, end)."""
        glob, out = {}, []
        for b in range(first, end):
            g = {oper: amount for oper, amount in gens[bags[b][0]:bags[b + 1][0]]}
            last = gens[bags[b + 1][0] - 1][0] if bags[b + 1][0] > bags[b][0] else None
            if last != terminal:
                if b == first:
                    glob = g
                continue
            out.append(g)
        return glob, out

    def signed(v):
        return v - 0x10000 if v & 0x8000 else v

    def in_range(r, n):
        return (r & 0xFF) <= n <= (r >> 8)

    full = 127 << 8
    lines = []
    for i, p in enumerate(phdr[:-1]):
        if (p[2], p[1]) != (bank, program):
            continue
        pglob, pzones = zones(pbag, pgen, p[3], phdr[i + 1][3], 41)
        for pz in pzones:
            pg = {**pglob, **pz}
            if not (in_range(pg.get(43, full), key) and in_range(pg.get(44, full), vel)):
                continue
            n = pg[41]
            iglob, izones = zones(ibag, igen, inst[n][1], inst[n + 1][1], 53)
            for iz in izones:
                ig = {**iglob, **iz}
                if not (in_range(ig.get(43, full), key) and in_range(ig.get(44, full), vel)):
                    continue
                s = shdr[ig[53]]
                root = signed(ig.get(58, 0xFFFF))
                root = root if 0 <= root <= 127 else s[6]
                # Preset values add to the instrument's.
                coarse = signed(ig.get(51, 0)) + signed(pg.get(51, 0))
                fine = signed(ig.get(52, 0)) + signed(pg.get(52, 0))
                atten = signed(ig.get(48, 0)) + signed(pg.get(48, 0))
                lo = max(ig.get(43, full) & 0xFF, pg.get(43, full) & 0xFF)
                hi = min(ig.get(43, full) >> 8, pg.get(43, full) >> 8)
                name = s[0].split(b"\0")[0].decode("latin-1")
                lines.append(f"{name}|{root}|{coarse}|{fine}|{atten}|{ig.get(54, 0) & 3}|{lo}-{hi}")
    for line in sorted(lines):
        print(line)


main()
