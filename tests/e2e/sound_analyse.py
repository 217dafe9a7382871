#!/usr/bin/env python3
"""Measures what a recorded CPC sound holds (16-bit stereo WAV, as arvelo-run writes).

  sound_analyse.py tone FILE [left|right]   -> freq=<Hz> duration=<s> start=<s>
  sound_analyse.py levels FILE [left|right] -> peak level per 100 ms window of sound
  sound_analyse.py noise FILE [left|right]  -> duration=<s> edges_per_s=<n> irregularity=<cv>
  sound_analyse.py segment FILE START END [left|right] -> freq=<Hz> of that stretch

The generator's output is never negative: a square wave swings between 0 and its
amplitude, so edges are counted across half of the stretch's largest value.
"""
import struct
import sys
import wave


def read(path, side):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2:
            sys.exit("not a 16-bit stereo WAV: " + path)
        rate = w.getframerate()
        raw = w.readframes(w.getnframes())
    n = len(raw) // 4
    s = struct.unpack("<%dh" % (2 * n), raw[: 4 * n])
    return rate, list(s[0::2] if side == "left" else s[1::2])


def edges(samples, lo=0, hi=None):
    hi = len(samples) if hi is None else hi
    top = max(samples[lo:hi], default=0)
    mid = top / 2.0
    return [i for i in range(max(lo, 1), hi) if samples[i - 1] <= mid < samples[i]]


def frequency(e, rate):
    if len(e) < 2 or e[-1] == e[0]:
        return 0.0
    return (len(e) - 1) * rate / float(e[-1] - e[0])


def main():
    what, path = sys.argv[1], sys.argv[2]
    rest = sys.argv[3:]
    side = rest[-1] if rest and rest[-1] in ("left", "right") else "left"
    rate, s = read(path, side)
    if what == "tone":
        e = edges(s)
        print("freq=%.2f duration=%.3f start=%.3f" % (
            frequency(e, rate), (e[-1] - e[0]) / float(rate) if e else 0.0,
            e[0] / float(rate) if e else 0.0))
    elif what == "segment":
        lo, hi = int(float(rest[0]) * rate), int(float(rest[1]) * rate)
        print("freq=%.2f" % frequency(edges(s, lo, hi), rate))
    elif what == "levels":
        win = rate // 10
        peaks = [max(s[i:i + win]) for i in range(0, len(s) - win + 1, win)]
        print(" ".join(str(p) for p in peaks if p > 0))
    elif what == "noise":
        e = edges(s)
        if len(e) < 3:
            print("duration=0 edges_per_s=0 irregularity=0")
            return
        gaps = [b - a for a, b in zip(e, e[1:])]
        mean = sum(gaps) / float(len(gaps))
        var = sum((g - mean) ** 2 for g in gaps) / float(len(gaps))
        duration = (e[-1] - e[0]) / float(rate)
        print("duration=%.3f edges_per_s=%.0f irregularity=%.2f" % (
            duration, len(e) / duration, var ** 0.5 / mean))
    else:
        sys.exit("unknown measurement " + what)


if __name__ == "__main__":
    main()
