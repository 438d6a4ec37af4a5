#!/usr/bin/python3
"""Helpers of listen.sh: writes the isolated-notes song, splits a song into its
drum channel and the rest, and measures renders the way a careful listener
would judge them (level, clipping, decays, releases, highs, pitch, balance).

  listen.py notes OUT.mid
  listen.py split IN.mid DRUMS.mid MELODIC.mid
  listen.py report DIR RENDERER...

A judging aid, not a test: it prints numbers and passes no verdicts.
"""
import math
import os
import struct
import sys
import wave

import numpy as np

# Isolated notes: melodic programs held 1.5 s at C3, C4 and C5 with 3 s of
# silence after each note-off, then every drum note 35-81 alone for 3 s.
LEAD_IN = 1.0
HOLD = 1.5
MELODIC_GAP = 3.0
DRUM_SPACING = 3.0
MELODIC = [
    (0, "piano"), (40, "violin"), (48, "strings"), (73, "flute"), (79, "ocarina"),
    (65, "alto sax"), (56, "trumpet"), (33, "finger bass"), (24, "nylon guitar"),
]
NOTES = [48, 60, 72]
DRUMS = list(range(35, 82))
DIVISION = 480
TEMPO_US = 500000  # 120 bpm: one tick is 1/960 s


def ticks(seconds):
    return int(round(seconds * DIVISION * 1e6 / TEMPO_US))


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def notes_timeline():
    """(kind, program or drum note, note, on time, off time) of every note."""
    events = []
    t = LEAD_IN
    for program, name in MELODIC:
        for note in NOTES:
            events.append(("melodic", program, name, note, t, t + HOLD))
            t += HOLD + MELODIC_GAP
    for note in DRUMS:
        events.append(("drum", 0, "drum", note, t, t + 0.1))
        t += DRUM_SPACING
    return events, t


def write_notes(path):
    timed = []  # (tick, order, bytes)
    last_program = None
    for kind, program, _, note, on, off in notes_timeline()[0]:
        ch = 9 if kind == "drum" else 0
        if kind == "melodic" and program != last_program:
            timed.append((ticks(on) - 10, 0, bytes([0xC0 | ch, program])))
            last_program = program
        timed.append((ticks(on), 2, bytes([0x90 | ch, note, 100])))
        timed.append((ticks(off), 1, bytes([0x80 | ch, note, 0])))
    end = notes_timeline()[1]
    timed.append((ticks(end), 3, None))
    timed.sort(key=lambda e: (e[0], e[1]))
    track = bytearray(b"\x00\xFF\x51\x03" + TEMPO_US.to_bytes(3, "big"))
    now = 0
    for tick, _, msg in timed:
        track += vlq(tick - now)
        now = tick
        track += msg if msg is not None else b"\xFF\x2F\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, DIVISION))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)


def split_song(src, drums_path, melodic_path):
    """Writes two copies of a Standard MIDI File: one keeping only channel 10's
    channel messages, one keeping every other channel's. Meta and system
    messages stay in both, delta times are carried over what is dropped."""
    data = open(src, "rb").read()
    if data[:4] == b"RIFF":  # RMI
        data = data[data.index(b"MThd"):]
    hdr_len = struct.unpack(">I", data[4:8])[0]
    header = data[: 8 + hdr_len]
    pos = 8 + hdr_len
    outs = {True: bytearray(header), False: bytearray(header)}
    while pos + 8 <= len(data):
        cid, length = data[pos:pos + 4], struct.unpack(">I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + length]
        pos += 8 + length
        if cid != b"MTrk":
            continue
        kept = {True: bytearray(), False: bytearray()}
        pending = {True: 0, False: 0}
        i, status = 0, 0
        while i < len(body):
            delta = 0
            while i < len(body):
                b = body[i]
                i += 1
                delta = (delta << 7) | (b & 0x7F)
                if not b & 0x80:
                    break
            for k in pending:
                pending[k] += delta
            if i >= len(body):
                break
            b = body[i]
            if b & 0x80:
                status = b
                i += 1
            start = i
            if status == 0xFF:
                i += 1
                n, j = 0, i
                while j < len(body):
                    n = (n << 7) | (body[j] & 0x7F)
                    j += 1
                    if not body[j - 1] & 0x80:
                        break
                i = j + n
                msg, owner = bytes([0xFF]) + body[start:i], None
            elif status in (0xF0, 0xF7):
                n, j = 0, i
                while j < len(body):
                    n = (n << 7) | (body[j] & 0x7F)
                    j += 1
                    if not body[j - 1] & 0x80:
                        break
                i = j + n
                msg, owner = bytes([status]) + body[start:i], None
            else:
                size = 1 if (status & 0xF0) in (0xC0, 0xD0) else 2
                i += size
                msg, owner = bytes([status]) + body[start:i], (status & 0x0F) == 9
            for k in kept:
                if owner is None or owner == k:
                    kept[k] += vlq(pending[k]) + msg
                    pending[k] = 0
        for k in outs:
            outs[k] += b"MTrk" + struct.pack(">I", len(kept[k])) + kept[k]
    open(drums_path, "wb").write(outs[True])
    open(melodic_path, "wb").write(outs[False])


def read_wav(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise SystemExit(f"{path}: not 16-bit")
        rate, channels = w.getframerate(), w.getnchannels()
        x = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.int32)
    return rate, x.reshape(-1, channels)


def db(x):  # power ratio
    return 10 * math.log10(x) if x > 0 else -math.inf


FRAME = 0.005  # seconds per level frame


def levels(mono, rate):
    """dBFS of every FRAME of the signal."""
    n = int(rate * FRAME)
    frames = len(mono) // n
    sq = (mono[: frames * n].astype(np.float64) ** 2).reshape(frames, n).mean(axis=1)
    return 10 * np.log10(sq / 32768.0 ** 2 + 1e-12)


def local_onset(lev, t):
    """Seconds of the steepest rise near t: renderers' clocks drift apart by
    tenths of a second over a few minutes."""
    a, b = max(2, int((t - 0.3) / FRAME)), min(len(lev), int((t + 0.8) / FRAME))
    if b <= a:
        return t
    rise = lev[a:b] - lev[a - 2:b - 2]
    return (a + int(np.argmax(rise)) - 1) * FRAME


def onset(mono, rate):
    """Seconds to the first sample above -50 dBFS."""
    idx = np.nonzero(np.abs(mono) > 32768 * 10 ** (-60 / 20))[0]
    return idx[0] / rate if len(idx) else 0.0


def time_to_fall(lev, start_frame, ref_db, drop_db, limit_frames):
    """Seconds from start_frame until the level stays below ref_db - drop_db."""
    end = min(len(lev), start_frame + limit_frames)
    seg = lev[start_frame:end]
    above = np.nonzero(seg > ref_db - drop_db)[0]
    if len(above) == 0:
        return 0.0
    if above[-1] == len(seg) - 1:
        return math.inf
    return (above[-1] + 1) * FRAME


def high_share(mono, rate, a, b):
    seg = mono[int(a * rate):int(b * rate)].astype(np.float64)
    if len(seg) < 1024:
        return -math.inf
    spectrum = np.abs(np.fft.rfft(seg * np.hanning(len(seg)))) ** 2
    freqs = np.fft.rfftfreq(len(seg), 1 / rate)
    return db(spectrum[freqs > 6000].sum() / max(spectrum.sum(), 1e-9))


def pitch_cents(mono, rate, a, b, note):
    """Deviation in cents of the sounding fundamental from equal temperament
    (A4 = 440 Hz): the strongest of the first four harmonics near where the
    note puts them, divided by its number."""
    seg = mono[int(a * rate):int(b * rate)].astype(np.float64)
    if len(seg) < 1024:
        return math.nan
    pad = 8 * len(seg)
    spectrum = np.abs(np.fft.rfft(seg * np.hanning(len(seg)), pad))
    bin_hz = rate / pad
    f0 = 440.0 * 2 ** ((note - 69) / 12)
    best = None
    for h in range(1, 5):
        lo, hi = int(h * f0 * 2 ** (-0.5 / 12) / bin_hz), int(h * f0 * 2 ** (0.5 / 12) / bin_hz)
        if hi + 1 >= len(spectrum) or lo < 1:
            break
        k = lo + int(np.argmax(spectrum[lo:hi]))
        if best is None or spectrum[k] > best[0]:
            y0, y1, y2 = np.log(spectrum[k - 1:k + 2] + 1e-12)
            d = 0.5 * (y0 - y2) / (y0 - 2 * y1 + y2) if (y0 - 2 * y1 + y2) != 0 else 0.0
            best = (spectrum[k], (k + d) * bin_hz / h)
    return 1200 * math.log2(best[1] / f0) if best else math.nan


def step_runs(samples):
    """Share of samples in runs of three or more equal consecutive values."""
    if len(samples) < 3:
        return 0.0
    same = samples[1:] == samples[:-1]
    covered = np.zeros(len(samples), dtype=bool)
    triple = same[1:] & same[:-1]
    idx = np.nonzero(triple)[0]
    for off in range(3):
        covered[idx + off] = True
    return covered.mean()


def fmt(v, unit=""):
    if isinstance(v, str):
        return v
    if v is None or (isinstance(v, float) and math.isnan(v)):
        return "-"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return f"{v:.2f}{unit}" if abs(v) < 10 else f"{v:.1f}{unit}"


def table(title, rows, names):
    print(f"\n{title}")
    width = max(9, max(len(n) for n in names) + 1)
    print(f"{'':28}" + "".join(f"{n:>{width}}" for n in names))
    for label, vals in rows:
        print(f"{label:28}" + "".join(f"{fmt(v):>{width}}" for v in vals))


def report_notes(wavs, names):
    events, _ = notes_timeline()
    per = {}
    for name, path in zip(names, wavs):
        rate, x = read_wav(path)
        mono = x.mean(axis=1)
        left = x[:, 0]
        shift = onset(mono, rate) - LEAD_IN  # renderers differ in leading silence
        lev = levels(mono, rate)
        res = {}
        for kind, program, label, note, on, off in events:
            held = off - on
            on = local_onset(lev, on + shift)
            off = on + held
            f_on, f_off = int(on / FRAME), int(off / FRAME)
            if kind == "melodic":
                a, b = on + 0.3, on + 1.3
                hold_db = float(np.median(lev[f_off - 20:f_off])) if f_off <= len(lev) else -math.inf
                key = f"{label} {note}"
                res[key + " level dB"] = hold_db
                res[key + " >6k dB"] = high_share(mono, rate, a, b)
                res[key + " cents"] = pitch_cents(mono, rate, a, b, note)
                res[key + " runs3 %"] = 100 * step_runs(left[int(a * rate):int(b * rate)])
                res[key + " release s"] = time_to_fall(lev, f_off, hold_db, 40,
                                                       int(MELODIC_GAP / FRAME))
            else:
                win = lev[f_on:f_on + int(0.1 / FRAME)]
                peak = float(win.max()) if len(win) else -math.inf
                res[f"drum {note} level dB"] = peak
                res[f"drum {note} decay s"] = time_to_fall(lev, f_on, peak, 40,
                                                           int(DRUM_SPACING / FRAME))
        mel = [v for k, v in res.items() if k.endswith("level dB") and not k.startswith("drum")]
        drm = [v for k, v in res.items() if k.startswith("drum") and k.endswith("level dB")]
        finite = lambda vs: [v for v in vs if math.isfinite(v)]
        res["drum - melodic dB"] = np.mean(finite(drm)) - np.mean(finite(mel))
        per[name] = res
    keys = list(per[names[0]].keys())
    groups = {}
    for k in keys:
        groups.setdefault(k.split(" ")[-2] + " " + k.split(" ")[-1], []).append(k)
    for group, ks in groups.items():
        table(f"isolated notes: {group}", [(k.rsplit(' ', 2)[0] if k.count(' ') > 1 else k,
                                            [per[n].get(k) for n in names]) for k in ks], names)


def song_stats(path):
    _, x = read_wav(path)
    clipped = int(np.count_nonzero(np.abs(x) >= 32767))
    rms = db(float((x.astype(np.float64) ** 2).mean()) / 32768 ** 2)
    peak = 20 * math.log10(max(int(np.abs(x).max()), 1) / 32768)
    return rms, peak, clipped


def report_songs(directory, names):
    songs = sorted({f.split("--")[0] for f in os.listdir(directory)
                    if f.endswith(".wav") and "--" in f and not f.startswith("notes--")
                    and "." not in f.split("--")[0]})
    rows = {"rms dBFS": [], "peak dBFS": [], "clipped": [], "drum - melodic dB": []}
    for s in songs:
        vals = {k: [] for k in rows}
        for n in names:
            full = os.path.join(directory, f"{s}--{n}.wav")
            if not os.path.exists(full):
                for k in vals:
                    vals[k].append(None)
                continue
            rms, peak, clipped = song_stats(full)
            vals["rms dBFS"].append(rms)
            vals["peak dBFS"].append(peak)
            vals["clipped"].append(float(clipped))
            d = os.path.join(directory, f"{s}.drums--{n}.wav")
            m = os.path.join(directory, f"{s}.melodic--{n}.wav")
            if os.path.exists(d) and os.path.exists(m):
                vals["drum - melodic dB"].append(song_stats(d)[0] - song_stats(m)[0])
            else:
                vals["drum - melodic dB"].append(None)
        for k in rows:
            rows[k].append((s, vals[k]))
    for k, r in rows.items():
        table(f"songs: {k}", r, names)


def main(argv):
    if len(argv) == 3 and argv[1] == "notes":
        write_notes(argv[2])
    elif len(argv) == 5 and argv[1] == "split":
        split_song(argv[2], argv[3], argv[4])
    elif len(argv) >= 4 and argv[1] == "report":
        directory, names = argv[2], argv[3:]
        notes = [os.path.join(directory, f"notes--{n}.wav") for n in names]
        if all(os.path.exists(p) for p in notes):
            report_notes(notes, names)
        report_songs(directory, names)
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
