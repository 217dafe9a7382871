#!/usr/bin/env python3
"""Synthesises the nine drive and machine sounds of the emulator and writes them as
RIFF WAV data (mono, 16 bits, 44,100 Hz) as a C++ source file. The build runs it and
compiles its output from the build tree (src/CMakeLists.txt); the output is never committed.

The sounds are modelled from their mechanics: short broadband transients where parts
strike each other, damped resonances of the plastic and metal parts they excite,
friction noise for sliding, and a periodic hum for the spinning motor. Everything is
deterministic (fixed random seeds), so running the script again gives the same file.

Usage: scripts/make_fx_recordings.py output.cpp
"""
import math
import random
import struct
import sys

RATE = 44100


def silence(n):
    return [0.0] * n


def add(dst, src, at=0, gain=1.0):
    """Mixes src into dst starting at sample `at` (clipped to dst's length)."""
    for i, v in enumerate(src):
        j = at + i
        if 0 <= j < len(dst):
            dst[j] += v * gain


def ms(t):
    return int(round(t * RATE / 1000.0))


def damped_sine(freq, tau_ms, length, phase=0.0, rng=None, jitter=0.0):
    """A resonance struck once: sin at freq decaying with time constant tau."""
    tau = tau_ms / 1000.0
    out = []
    f = freq
    for i in range(length):
        t = i / RATE
        if rng is not None and jitter:
            f = freq * (1.0 + jitter * math.sin(2 * math.pi * 7.0 * t))
        out.append(math.exp(-t / tau) * math.sin(2 * math.pi * f * t + phase))
    return out


def noise_burst(rng, tau_ms, length):
    """White noise with an exponential decay: the broadband part of an impact."""
    tau = tau_ms / 1000.0
    return [rng.uniform(-1, 1) * math.exp(-(i / RATE) / tau) for i in range(length)]


class Biquad:
    """Second-order filter (band-pass, low-pass or high-pass), direct form I."""

    def __init__(self, kind, freq, q):
        w = 2 * math.pi * freq / RATE
        cw, sw = math.cos(w), math.sin(w)
        alpha = sw / (2 * q)
        if kind == "band":
            b = [alpha, 0.0, -alpha]
        elif kind == "low":
            b = [(1 - cw) / 2, 1 - cw, (1 - cw) / 2]
        else:  # high
            b = [(1 + cw) / 2, -(1 + cw), (1 + cw) / 2]
        a0 = 1 + alpha
        self.b = [x / a0 for x in b]
        self.a = [-2 * cw / a0, (1 - alpha) / a0]
        self.x1 = self.x2 = self.y1 = self.y2 = 0.0

    def run(self, xs):
        out = []
        for x in xs:
            y = (self.b[0] * x + self.b[1] * self.x1 + self.b[2] * self.x2
                 - self.a[0] * self.y1 - self.a[1] * self.y2)
            self.x2, self.x1 = self.x1, x
            self.y2, self.y1 = self.y1, y
            out.append(y)
        return out


def filtered(xs, kind, freq, q=0.707):
    return Biquad(kind, freq, q).run(xs)


def impact(rng, length, body, modes, crack_tau=0.5, crack_hp=1500.0, crack_gain=0.6):
    """One strike: a high-passed noise crack plus the struck resonances.

    body: list of (freq, tau_ms, gain) low resonances; modes: the same for the
    bright plastic/metal modes."""
    out = silence(length)
    crack = filtered(noise_burst(rng, crack_tau, min(length, ms(6))), "high", crack_hp)
    add(out, crack, 0, crack_gain)
    for freq, tau, gain in body + modes:
        add(out, damped_sine(freq, tau, length, rng.uniform(0, 2 * math.pi)), 0, gain)
    # The first fraction of a millisecond rises instead of jumping (no digital step).
    rise = ms(0.15)
    for i in range(min(rise, length)):
        out[i] *= i / rise
    return out


def fade_out(xs, length):
    n = len(xs)
    for i in range(max(0, n - length), n):
        xs[i] *= (n - 1 - i) / float(length)


def normalise(xs, peak):
    m = max(abs(v) for v in xs) or 1.0
    return [v * peak / m for v in xs]


# ---- The recordings ----------------------------------------------------------------------

def key_press():
    """A key travelling down and bottoming out: a first light tick as the switch
    closes, then the louder clack of the key cap hitting the frame."""
    rng = random.Random(101)
    n = 2769
    out = silence(n)
    add(out, impact(rng, n - ms(1), [(210, 9, 0.35)], [(2350, 3.0, 0.3), (4100, 1.6, 0.2)],
                    crack_tau=0.3, crack_gain=0.4), ms(1))
    add(out, impact(rng, n - ms(7), [(180, 12, 0.7), (430, 7, 0.45)],
                    [(1150, 6, 0.35), (2300, 3.5, 0.5), (3900, 2.2, 0.35)],
                    crack_tau=0.5, crack_gain=0.9), ms(7))
    add(out, filtered(noise_burst(rng, 9, n - ms(7)), "band", 1800, 0.8), ms(7), 0.15)
    fade_out(out, ms(6))
    return normalise(out, 30000)


def key_release():
    """The spring pushes the key back: a soft tick as it leaves the bottom, the cap
    hitting its upper stop after about 25 ms, a little rattle and the spring's ring."""
    rng = random.Random(202)
    n = 6492
    out = silence(n)
    add(out, impact(rng, ms(30), [(260, 6, 0.3)], [(2900, 2.0, 0.2)], crack_tau=0.25,
                    crack_gain=0.3), ms(1))
    top = ms(25)
    add(out, impact(rng, n - top, [(240, 10, 0.5), (520, 6, 0.35)],
                    [(2700, 3.0, 0.55), (4400, 1.8, 0.35)], crack_tau=0.4, crack_gain=0.8), top)
    for delay, gain in ((8, 0.28), (15, 0.12), (21, 0.05)):
        add(out, impact(rng, ms(20), [], [(3100, 1.5, 0.6)], crack_tau=0.2, crack_gain=0.5),
            top + ms(delay), gain)
    add(out, damped_sine(1620, 35, n - top), top, 0.06)
    fade_out(out, ms(12))
    return normalise(out, 24000)


def friction(rng, length, low, high, roughness_hz, depth):
    """Sliding contact: band-limited noise with an uneven, juddering level."""
    xs = [rng.uniform(-1, 1) for _ in range(length)]
    xs = filtered(filtered(xs, "high", low), "low", high)
    phase = rng.uniform(0, 6.28)
    judder = 0.0
    out = []
    for i, v in enumerate(xs):
        t = i / RATE
        judder = 0.995 * judder + 0.005 * rng.uniform(-1, 1)
        level = 1.0 + depth * math.sin(2 * math.pi * roughness_hz * t + phase) + 6 * judder
        out.append(v * max(0.0, level))
    return out


def envelope(length, attack, release):
    out = []
    for i in range(length):
        a = min(1.0, i / float(attack)) if attack else 1.0
        r = min(1.0, (length - 1 - i) / float(release)) if release else 1.0
        out.append(a * r)
    return out


def spin(rng, length, f_start, f_end, ramp):
    """Motor spinning up from f_start to f_end Hz over `ramp` samples: a fundamental
    with harmonics and some bearing noise."""
    out = []
    phase = 0.0
    hiss = filtered([rng.uniform(-1, 1) for _ in range(length)], "band", 2600, 0.7)
    for i in range(length):
        f = f_start + (f_end - f_start) * min(1.0, i / float(ramp))
        phase += 2 * math.pi * f / RATE
        v = (math.sin(phase) + 0.5 * math.sin(2 * phase + 0.4) + 0.3 * math.sin(3 * phase + 1.1)
             + 0.15 * math.sin(5 * phase + 2.0))
        out.append(v + 0.6 * hiss[i])
    return out


def disc_long():
    """A disc pushed into the 3-inch drive: the disc slides in, the mechanism latches
    with a heavy clunk and the shutter spring snaps, the head loads, and the drive
    spins the disc briefly before stopping."""
    rng = random.Random(303)
    n = 94133
    out = silence(n)
    slide_len = ms(450)
    slide = friction(rng, slide_len, 700, 3200, 23, 0.35)
    env = envelope(slide_len, ms(120), ms(60))
    add(out, [s * e for s, e in zip(slide, env)], ms(10), 0.22)
    latch = ms(470)
    add(out, impact(rng, n - latch, [(135, 28, 1.0), (310, 14, 0.5)],
                    [(920, 10, 0.45), (3250, 5, 0.35), (5200, 2.5, 0.2)],
                    crack_tau=0.8, crack_gain=1.0), latch)
    add(out, impact(rng, ms(120), [(260, 8, 0.3)], [(2100, 4, 0.5), (4700, 2, 0.3)],
                    crack_tau=0.4, crack_gain=0.7), latch + ms(48), 0.55)
    for k in range(5):  # the spring settling
        add(out, impact(rng, ms(25), [], [(3600 + 300 * k, 2.0, 0.5)], crack_tau=0.2,
                        crack_gain=0.4), latch + ms(90 + 23 * k), 0.2 * (0.7 ** k))
    add(out, impact(rng, ms(60), [(190, 7, 0.5)], [(1700, 3, 0.5)], crack_tau=0.3,
                    crack_gain=0.6), ms(900), 0.4)
    spin_at, spin_len = ms(1000), ms(920)
    whirr = spin(rng, spin_len, 40, 118, ms(300))
    env = envelope(spin_len, ms(150), ms(260))
    add(out, [s * e for s, e in zip(whirr, env)], spin_at, 0.12)
    add(out, impact(rng, ms(50), [(230, 6, 0.4)], [(2500, 2.5, 0.4)], crack_tau=0.3,
                    crack_gain=0.5), ms(1960), 0.22)
    fade_out(out, ms(40))
    return normalise(out, 28000)


def disc_short():
    """The eject button: the button clicks, the spring throws the disc out with a
    loud snap, and the disc slides out of the slot."""
    rng = random.Random(404)
    n = 32668
    out = silence(n)
    add(out, impact(rng, ms(60), [(300, 6, 0.4)], [(2400, 3, 0.5), (4000, 1.8, 0.3)],
                    crack_tau=0.3, crack_gain=0.6), ms(15), 0.5)
    snap = ms(80)
    add(out, impact(rng, n - snap, [(110, 24, 1.0), (280, 12, 0.55)],
                    [(1050, 8, 0.4), (3400, 4, 0.35)], crack_tau=0.9, crack_gain=1.0), snap)
    slide_len = ms(330)
    slide = friction(rng, slide_len, 800, 3500, 31, 0.3)
    env = envelope(slide_len, ms(15), ms(250))
    add(out, [s * e for s, e in zip(slide, env)], snap + ms(20), 0.25)
    add(out, impact(rng, ms(40), [], [(2900, 2.0, 0.5)], crack_tau=0.2, crack_gain=0.4),
        ms(520), 0.15)
    fade_out(out, ms(30))
    return normalise(out, 28000)


def motor_hum():
    """One cycle of the running floppy motor. Every component is a whole harmonic of
    the recording's length, so the cycle repeats without a seam."""
    rng = random.Random(505)
    n = 366
    f0 = RATE / float(n)  # 120.49 Hz
    parts = [(1, 1.0), (2, 0.55), (3, 0.32), (4, 0.22), (5, 0.12), (6, 0.09), (7, 0.06),
             (8, 0.05)]
    parts += [(k, 0.05 * rng.uniform(0.4, 1.0)) for k in range(12, 36)]  # bearing noise
    out = []
    phases = {k: rng.uniform(0, 2 * math.pi) for k, _ in parts}
    for i in range(n):
        t = i / float(RATE)
        out.append(sum(g * math.sin(2 * math.pi * k * f0 * t + phases[k]) for k, g in parts))
    return normalise(out, 1800)


def single_step():
    """The stepper moving the head one track: a tick and the ring of the head carriage."""
    rng = random.Random(606)
    n = 1130
    out = silence(n)
    add(out, impact(rng, n - ms(1), [(240, 8, 0.6)], [(1350, 4, 0.7), (2900, 2, 0.45)],
                    crack_tau=0.4, crack_gain=0.8), ms(1))
    add(out, impact(rng, ms(12), [], [(1500, 2.5, 0.6)], crack_tau=0.2, crack_gain=0.4),
        ms(5), 0.3)
    fade_out(out, ms(3))
    return normalise(out, 6000)


def step_click():
    """One step of a long seek: a short tick that dies within the recording, so that
    repeated back to back the steps make the drive's seek buzz."""
    rng = random.Random(707)
    n = 542
    out = impact(rng, n - ms(0.5), [(300, 3.5, 0.5)], [(1500, 2.2, 0.7), (3100, 1.2, 0.4)],
                 crack_tau=0.3, crack_gain=0.8)
    out = [0.0] * ms(0.5) + out
    fade_out(out, 60)
    return normalise(out, 5000)


def relay(rng, n, bounces, ring):
    out = silence(n)
    add(out, impact(rng, n - ms(1), [(320, 6, 0.45)], ring, crack_tau=0.35, crack_gain=1.0), ms(1))
    for delay, gain in bounces:
        add(out, impact(rng, ms(15), [], ring[:1], crack_tau=0.15, crack_gain=0.8),
            ms(1 + delay), gain)
    return out


def cassette_on():
    """The cassette motor relay pulling in: the armature strikes, the contacts bounce
    a few times and the frame rings."""
    rng = random.Random(808)
    n = 3615
    out = relay(rng, n, [(1.2, 0.5), (2.1, 0.3), (2.8, 0.18)],
                [(4200, 8, 0.5), (2600, 12, 0.35), (6100, 3, 0.2)])
    fade_out(out, ms(10))
    return normalise(out, 28000)


def cassette_off():
    """The relay dropping out: one duller click as the armature falls back."""
    rng = random.Random(909)
    n = 2021
    out = relay(rng, n, [(1.6, 0.25)], [(3600, 6, 0.5), (2200, 9, 0.3)])
    fade_out(out, ms(8))
    return normalise(out, 21000)


RECORDINGS = [
    ("key_press", key_press),
    ("key_release", key_release),
    ("disc_long", disc_long),
    ("disc_short", disc_short),
    ("motor_hum", motor_hum),
    ("single_step", single_step),
    ("step_click", step_click),
    ("cassette_on", cassette_on),
    ("cassette_off", cassette_off),
]


def wav_bytes(samples):
    pcm = b"".join(struct.pack("<h", max(-32768, min(32767, int(round(v))))) for v in samples)
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(pcm), b"WAVE", b"fmt ", 16,
                         1, 1, RATE, RATE * 2, 2, 16, b"data", len(pcm))
    return header + pcm


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_fx_recordings.py output.cpp")
    target = sys.argv[1]
    lines = [
        "// The drive and machine sounds as RIFF WAV data (mono, 16 bits, 44,100 Hz).",
        "// Generated by scripts/make_fx_recordings.py at build time; edit the script.",
        '#include "sound/fx_recordings.h"',
        "",
        "namespace {",
    ]
    names = []
    for name, make in RECORDINGS:
        data = wav_bytes(make())
        names.append((name, len(data)))
        lines.append("alignas(4) const uint8_t wav_%s[%d] = {" % (name, len(data)))
        row = []
        for i, b in enumerate(data):
            row.append(str(b))
            if len(row) == 40:
                lines.append(",".join(row) + ",")
                row = []
        if row:
            lines.append(",".join(row) + ",")
        lines.append("};")
    lines.append("}  // namespace")
    lines.append("")
    lines.append("const FxWavData fx_wav_table[9] = {")
    for name, size in names:
        lines.append("    {wav_%s, %d}," % (name, size))
    lines.append("};")
    with open(target, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
