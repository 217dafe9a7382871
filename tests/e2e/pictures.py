#!/usr/bin/env python3
"""Picture checks for the window tests (pictures read through ImageMagick's convert).

  pictures.py locate PART FULL           PART appears pixel for pixel inside FULL:
                                         prints "X Y"
  pictures.py window WINDOW FULL [--skip Y0 Y1]
                                         a window capture at the frame's size shows
                                         FULL's monitor lines, each twice, after the
                                         real-time smoothing (rows Y0 to Y1-1 left out,
                                         where the picture moves); prints the share of
                                         matching pixels
  pictures.py same REFERENCE PICTURE [BLOCK TOLERANCE X Y W H]
                                         the same size, pixel for pixel; or both holding
                                         the box X Y W H, which alone is compared, every
                                         BLOCKxBLOCK block's average within TOLERANCE
                                         (0-255, per colour channel) of the reference's;
                                         prints the largest difference
Exit status 0 when the check holds, 1 otherwise (also when a picture cannot be read).
"""
import re
import subprocess
import sys


def load(path):
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                          stdout=subprocess.PIPE).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    assert header, "not an 8-bit PPM picture"
    w, h = int(header.group(1)), int(header.group(2))
    return w, h, data[header.end():header.end() + w * h * 3]


def locate(part_path, full_path):
    pw, ph, part = load(part_path)
    fw, fh, full = load(full_path)
    prow = [part[y * pw * 3:(y + 1) * pw * 3] for y in range(ph)]
    for y in range(fh - ph + 1):
        line = full[y * fw * 3:(y + 1) * fw * 3]
        x = line.find(prow[0])
        while x >= 0:
            if x % 3 == 0:
                px = x // 3
                if px + pw <= fw and all(
                        full[((y + r) * fw + px) * 3:((y + r) * fw + px + pw) * 3] == prow[r]
                        for r in range(ph)):
                    print(px, y)
                    return 0
            x = line.find(prow[0], x + 1)
    print("not found")
    return 1


def to565(r, g, b):
    return (r >> 3, g >> 2, b >> 3)


def smooth(line):
    """The real-time picture: (2 left + 5 centre + 2 right) / 9 per RGB565 channel."""
    out = list(line)
    for x in range(1, len(line) - 1):
        out[x] = tuple((2 * line[x - 1][c] + 5 * line[x][c] + 2 * line[x + 1][c]) // 9
                       for c in range(3))
    return out


def expand(p):
    r, g, b = p
    return ((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2))


def window(window_path, full_path, skip):
    ww, wh, win = load(window_path)
    fw, fh, full = load(full_path)
    if (ww, wh) != (fw, fh):
        print("window is %dx%d, picture %dx%d" % (ww, wh, fw, fh))
        return 1
    good = total = 0
    for y in range(0, fh, 2):
        if skip[0] <= y < skip[1]:
            continue
        row = full[y * fw * 3:(y + 1) * fw * 3]
        line = [to565(row[3 * x], row[3 * x + 1], row[3 * x + 2]) for x in range(fw)]
        want = [expand(p) for p in smooth(line)]
        for dy in (0, 1):
            base = (y + dy) * ww * 3
            for x in range(fw):
                got = win[base + 3 * x:base + 3 * x + 3]
                total += 1
                if all(abs(got[c] - want[x][c]) <= 12 for c in range(3)):
                    good += 1
    share = good / total
    print("%.4f" % share)
    return 0 if share >= 0.995 else 1


def block_means(w, px, box, block):
    x0, y0, bw, bh = box
    means = {}
    for y in range(y0, y0 + bh):
        for x in range(x0, x0 + bw):
            sums = means.setdefault(((x - x0) // block, (y - y0) // block), [0, 0, 0, 0])
            for c in range(3):
                sums[c] += px[(y * w + x) * 3 + c]
            sums[3] += 1
    return {k: [v[c] / v[3] for c in range(3)] for k, v in means.items()}


def same(ref_path, path, block, tolerance, box=None):
    rw, rh, ref = load(ref_path)
    w, h, px = load(path)
    if box:
        x, y, bw, bh = box
        if x + bw > min(w, rw) or y + bh > min(h, rh):
            print("the box does not fit: picture %dx%d, reference %dx%d" % (w, h, rw, rh))
            return 1
    elif (rw, rh) != (w, h):
        print("picture is %dx%d, reference %dx%d" % (w, h, rw, rh))
        return 1
    if block == 1 and not box:
        worst = max((abs(a - b) for a, b in zip(ref, px)), default=0)
    else:
        box = box or (0, 0, w, h)
        want, got = block_means(rw, ref, box, block), block_means(w, px, box, block)
        worst = max(abs(want[k][c] - got[k][c]) for k in want for c in range(3))
    print("%.1f" % worst)
    return 0 if worst <= tolerance else 1


def main(argv):
    try:
        return run(argv)
    except (subprocess.CalledProcessError, OSError, AssertionError, ValueError) as e:
        print("cannot read the picture: %s" % e)
        return 1


def run(argv):
    command, args = (argv[0], argv[1:]) if argv else ("", [])
    if command == "locate" and len(args) == 2:
        return locate(*args)
    if command == "window" and len(args) == 2:
        return window(*args, (0, 0))
    if command == "window" and len(args) == 5 and args[2] == "--skip":
        return window(args[0], args[1], (int(args[3]), int(args[4])))
    if command == "same" and len(args) == 2:
        return same(*args, 1, 0)
    if command == "same" and len(args) == 8:
        return same(args[0], args[1], int(args[2]), float(args[3]), [int(v) for v in args[4:]])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
