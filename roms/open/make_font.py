#!/usr/bin/env python3
"""Builds the open system ROM's 2 KB character set (256 glyphs of 8 bytes, top row
first, bit 7 the leftmost pixel) from the drawn glyphs of font.txt.

make_font.py font.txt font.bin
A malformed sheet (a row that is not 8 pixels of '#' and '.', a glyph that is not
8 rows, a code drawn twice) stops the build with the line it was found on."""
import sys


def glyph_code(spec, where):
    spec = spec.strip()
    if spec.startswith('&') and len(spec) == 3:
        return int(spec[1:], 16)
    if len(spec) == 1:
        return ord(spec)
    sys.exit('%s: "= %s" names no character' % (where, spec))


def read_sheet(path):
    glyphs, code, rows = {}, None, []

    def finish(where):
        if code is None:
            return
        if len(rows) != 8:
            sys.exit('%s: glyph &%02X has %d rows, not 8' % (where, code, len(rows)))
        if code in glyphs:
            sys.exit('%s: glyph &%02X drawn twice' % (where, code))
        glyphs[code] = bytes(int(r.replace('#', '1').replace('.', '0'), 2) for r in rows)

    with open(path, encoding='ascii') as sheet:
        for number, line in enumerate(sheet, 1):
            where = '%s:%d' % (path, number)
            line = line.rstrip('\n')
            if line.startswith('# ') or line == '#':
                continue
            if line.startswith('= '):
                finish(where)
                code, rows = glyph_code(line[2:], where), []
            elif len(line) == 8 and set(line) <= set('#.') and code is not None:
                rows.append(line)
            elif line.strip():
                sys.exit('%s: not a row of 8 pixels: %r' % (where, line))
        finish(path)
    return glyphs


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: make_font.py font.txt font.bin')
    glyphs = read_sheet(sys.argv[1])
    table = bytearray(2048)
    for code, bits in glyphs.items():
        table[code * 8:code * 8 + 8] = bits
    with open(sys.argv[2], 'wb') as out:
        out.write(table)


main()
