#!/usr/bin/env python3
"""Checks the product's data files: check-data.py [DATA_DIR]

Validates, in DATA_DIR (default: data/ beside this script's directory):
  arvelo.msg   four blocks of 257 lines, ISO-8859-1; every message number the program
               uses has a real text in each language
  arvelo.dat   the six keyboard tables and two palettes parse the way the program
               reads them, every CPC key and character can be reached in every table
  arvelo.hlp   topic headers are well formed, every topic exists in all four
               languages, links lead to topics, the setup labels and the help topic
               names of the message file have their topics
  arvelo0.cfg  statements parse, values lie within their bounds, every saved keyword
               is there, the sections are balanced and hold the ROM sets
Prints one line per problem and exits with 1 when there is any, else 0.
"""
import os
import re
import sys

LANG_SUFFIX = ['UK', 'GR', 'FR', 'SP']
MSG_BLOCK = 257
PLACEHOLDER = '-'

# Configuration keywords in id order (id = position). Kinds: N numeric with bounds,
# T text, R ROM_BLOCK, J joystick calibration, S section markers.
KEYWORDS = [
    ('NO TOKEN', 'S', None), ('#ENDIF', 'S', None), ('#IFCPC', 'S', None),
    ('AMSDOS_DISABLED', 'N', (0, 1)), ('AMSDOS_SPEEDUP', 'N', (0, 1)), ('BREAK_MASK', 'N', (0, 7)),
    ('COLOUR_SCREEN', 'N', (0, 1)), ('COMPANY_NAME', 'N', (0, 7)), ('CPC_TYPE', 'N', (0, 6)),
    ('CRTC_TYPE', 'N', (0, 2)), ('DATA_FILE', 'T', None), ('DRIVE_A', 'T', None),
    ('DRIVE_A_AUTOSTART', 'N', (0, 1)), ('DRIVE_A_SIDE', 'N', (0, 1)), ('DRIVE_A_WRITEPROT', 'N', (0, 1)),
    ('DRIVE_B', 'T', None), ('DRIVE_B_AUTOSTART', 'N', (0, 1)), ('DRIVE_B_SIDE', 'N', (0, 1)),
    ('DRIVE_B_WRITEPROT', 'N', (0, 1)), ('EMS_ENABLED', 'N', (0, 1)), ('EMULATION_DELAY', 'N', (0, 32000)),
    ('EMULATION_SPEED', 'N', (0, 0)), ('HELP_FILE', 'T', None), ('INTERRUPT_FREQUENCY', 'N', (300, 300)),
    ('INTERRUPT_RESUME', 'N', (0, 1)), ('JOY0_CALIBRATE', 'J', None), ('JOY1_CALIBRATE', 'J', None),
    ('JOY0_CURSOR_KEYS', 'N', (0, 2)), ('JOYSTICK_SIZE', 'N', (1, 2)), ('KBD_LANGUAGE', 'N', (0, 5)),
    ('LANGUAGE', 'N', (0, 3)), ('M4_ENABLED', 'N', (0, 1)), ('MOUSE_ENABLED', 'N', (0, 1)),
    ('MOUSE_TYPE', 'N', (0, 3)), ('MULTIMODE_UPDATE', 'N', (0, 2)), ('PALETTE_CHANGE', 'N', (0, 1)),
    ('POKE_DATABASE', 'T', None), ('PPI_50HZ', 'N', (0, 1)), ('PPI_EXP_SIGNAL', 'N', (0, 1)),
    ('PRINTER', 'T', None), ('RAM_SIZE', 'N', (64, 4160)), ('RAM_TYPE', 'N', (0, 1)),
    ('REALTIME', 'N', (0, 1)), ('ROM_BLOCK', 'R', None), ('ROM_PATH', 'T', None),
    ('SB_DELAY', 'N', (0, 0)), ('SB_DELAY0', 'N', (0, 0)), ('SB_DMA_BUF', 'N', (0, 0)),
    ('SB_SAMPLE_RATE', 'N', (0, 3)), ('SB_STEREO', 'N', (1, 1)), ('SCREEN_OFFSET', 'N', (0, 15)),
    ('M4_SDCARD_MODE', 'N', (0, 1)), ('SHOW_CONFIG', 'N', (0, 1)), ('SNAPSHOT', 'T', None),
    ('SOUND_DEVICE', 'N', (0, 0)), ('SOUND_ENABLED', 'N', (0, 1)), ('SOUND_FX_ENABLED', 'N', (0, 2)),
    ('TAPE_BYPASS', 'N', (0, 1)), ('TAPE_PATH', 'T', None), ('TMP_PATH', 'T', None),
    ('VIDEO_MODE', 'N', (0, 1)), ('VKBD_LANGUAGE', 'N', (0, 4)), ('VSYNC_POSITION', 'N', (0, 5)),
    ('M4_SD_PATH', 'T', None), ('SNA_SIZE', 'N', (0, 2)), ('KBD_TEXT_TYPING', 'N', (0, 1)),
]
KW_ID = {name: i for i, (name, _, _) in enumerate(KEYWORDS)}

# Keywords the configuration writer saves.
SAVED = ['AMSDOS_DISABLED', 'AMSDOS_SPEEDUP', 'BREAK_MASK', 'COLOUR_SCREEN', 'COMPANY_NAME',
         'CPC_TYPE', 'CRTC_TYPE', 'DATA_FILE', 'DRIVE_A', 'DRIVE_A_AUTOSTART', 'DRIVE_A_SIDE',
         'DRIVE_A_WRITEPROT', 'DRIVE_B', 'DRIVE_B_AUTOSTART', 'DRIVE_B_SIDE', 'DRIVE_B_WRITEPROT',
         'HELP_FILE', 'INTERRUPT_RESUME', 'JOY0_CURSOR_KEYS', 'JOYSTICK_SIZE', 'KBD_LANGUAGE',
         'LANGUAGE', 'M4_ENABLED', 'MOUSE_ENABLED', 'MOUSE_TYPE', 'POKE_DATABASE', 'PPI_50HZ',
         'PPI_EXP_SIGNAL', 'PRINTER', 'RAM_SIZE', 'RAM_TYPE', 'REALTIME', 'ROM_BLOCK', 'ROM_PATH',
         'SB_SAMPLE_RATE', 'SCREEN_OFFSET', 'M4_SDCARD_MODE', 'SHOW_CONFIG', 'SNAPSHOT',
         'SOUND_ENABLED', 'SOUND_FX_ENABLED', 'TAPE_BYPASS', 'TAPE_PATH', 'TMP_PATH', 'VIDEO_MODE',
         'VKBD_LANGUAGE', 'VSYNC_POSITION', 'M4_SD_PATH', 'SNA_SIZE', 'KBD_TEXT_TYPING']
# Saved keywords the template leaves out on purpose: the on-screen keyboard layout is
# chosen (and its line added) at the first start, and there is no poke database.
TEMPLATE_OMITS = {'VKBD_LANGUAGE', 'POKE_DATABASE'}
# Paths the first start copies into the settings directory.
FIRST_START_PATHS = ['ROM_PATH', 'TAPE_PATH', 'SNAPSHOT', 'M4_SD_PATH', 'DRIVE_A', 'DRIVE_B']

# The lines of the settings window: keywords (their label is message id + 1),
# section titles and actions.
SETUP_KEYWORDS = ['REALTIME', 'COLOUR_SCREEN', 'VIDEO_MODE', 'CRTC_TYPE', 'SOUND_ENABLED',
                  'SB_SAMPLE_RATE', 'SOUND_FX_ENABLED', 'M4_ENABLED', 'M4_SDCARD_MODE',
                  'KBD_LANGUAGE', 'VKBD_LANGUAGE', 'JOY0_CURSOR_KEYS', 'JOYSTICK_SIZE', 'MOUSE_TYPE',
                  'MOUSE_ENABLED', 'COMPANY_NAME', 'PPI_50HZ', 'PPI_EXP_SIGNAL', 'AMSDOS_DISABLED',
                  'AMSDOS_SPEEDUP', 'LANGUAGE', 'TAPE_BYPASS', 'RAM_SIZE', 'RAM_TYPE', 'CPC_TYPE',
                  'SHOW_CONFIG']
SETUP_LABELS = sorted(KW_ID[k] + 1 for k in SETUP_KEYWORDS)
SETUP_TITLES = list(range(65, 72))
SETUP_ACTIONS = [74, 75, 76, 77, 78, 79, 80, 82]
HELP_TOPIC_MESSAGES = [153, 154, 216]

# Every message number the program uses (see data/arvelo-msg-index.md).
USED_MESSAGES = sorted(set(
    SETUP_LABELS + SETUP_TITLES + SETUP_ACTIONS
    + [12, 13, 92, 93, 94, 95, 97, 98, 99, 100, 101, 104, 112, 114, 115, 152, 153, 154, 155, 158]
    + list(range(174, 193))
    + list(range(197, 206)) + [207, 212, 213, 216, 217, 218, 221]
    + list(range(222, 237)) + [238, 239] + list(range(240, 254)) + [256]))

problems = []


def problem(where, text):
    problems.append('%s: %s' % (where, text))


def looks_like_utf8(data):
    """True when the bytes hold UTF-8 multi-byte sequences (the files must be Latin-1)."""
    return re.search(rb'[\xc2-\xf4][\x80-\xbf]', data) is not None


def help_key(name):
    """Upper-cases a topic name the way the help lookup builds its keys."""
    table = {0xE4: 0xC4, 0xF6: 0xD6, 0xFC: 0xDC, 0xE9: 0xC9, 0xE7: 0xC7, 0xF1: 0xD1}
    out = bytearray()
    for b in name:
        if 0x61 <= b <= 0x7A:
            b -= 0x20
        out.append(table.get(b, b))
    return bytes(out)


# ----------------------------------------------------------------------------------
# Message file
# ----------------------------------------------------------------------------------
def check_messages(path):
    """Returns the messages as a list of four lists of 257 byte strings, or None."""
    name = os.path.basename(path)
    try:
        data = open(path, 'rb').read()
    except OSError as e:
        problem(name, 'cannot read: %s' % e)
        return None
    if looks_like_utf8(data):
        problem(name, 'holds UTF-8 sequences; the file must be ISO-8859-1')
    if b'\r' in data:
        problem(name, 'holds carriage returns')
    if data and not data.endswith(b'\n'):
        problem(name, 'last line has no line feed')
    lines = data.split(b'\n')
    if lines and lines[-1] == b'':
        lines.pop()
    for i, line in enumerate(lines):
        if len(line) > 4095:
            problem(name, 'line %d is longer than 4095 characters' % (i + 1))
    if len(lines) != 4 * MSG_BLOCK:
        problem(name, 'has %d lines, expected %d (4 languages x %d)' % (len(lines), 4 * MSG_BLOCK, MSG_BLOCK))
        if len(lines) < 4 * MSG_BLOCK:
            return None
    blocks = [lines[L * MSG_BLOCK:(L + 1) * MSG_BLOCK] for L in range(4)]
    for L, block in enumerate(blocks):
        for n in USED_MESSAGES:
            text = block[n].strip()
            if text in (b'', PLACEHOLDER.encode()):
                problem(name, 'message %d has no %s text (line %d)' % (n, LANG_SUFFIX[L], L * MSG_BLOCK + n + 1))
        for n in SETUP_LABELS + SETUP_TITLES + SETUP_ACTIONS + HELP_TOPIC_MESSAGES:
            if re.search(rb'[,\[\]]', block[n]):
                problem(name, 'message %d (%s) is a help topic name and must not hold , [ or ]'
                        % (n, LANG_SUFFIX[L]))
            if block[n].startswith(b'_') or block[n] != block[n].strip():
                problem(name, 'message %d (%s) starts with _ or a blank' % (n, LANG_SUFFIX[L]))
        labels = [help_key(block[n]) for n in SETUP_LABELS + SETUP_TITLES + SETUP_ACTIONS]
        dupes = {k for k in labels if labels.count(k) > 1}
        if dupes:
            problem(name, 'setup lines of %s share a label: %s' % (LANG_SUFFIX[L], sorted(dupes)))
    return blocks


# ----------------------------------------------------------------------------------
# Scanner (the configuration and data files share it)
# ----------------------------------------------------------------------------------
class Token:
    def __init__(self, kind, value, line):
        self.kind, self.value, self.line = kind, value, line


def scan(data, name):
    """Tokens of a configuration or data file: name, number, string, '=', ',', error."""
    tokens = []
    i, line, n = 0, 1, len(data)

    def number(i, base):
        value, sign, digits = 0, 1, 0
        while i < n:
            c = chr(data[i])
            if c == '-' and digits == 0 and sign == 1:
                sign = -1
                i += 1
                continue
            d = int(c, 36) if c.isalnum() and c.isascii() else 99
            if d >= base:
                break
            value = value * base + d
            digits += 1
            i += 1
        if digits == 0:
            problem(name, 'line %d: no number' % line)
        return i, value * sign

    while i < n:
        c = chr(data[i])
        if c == '\n':
            line += 1
            i += 1
        elif c.isspace():
            i += 1
        elif c == ';':
            while i < n and data[i] != 0x0A:
                i += 1
        elif c in '=,':
            tokens.append(Token(c, c, line))
            i += 1
        elif (c.isascii() and c.isalpha()) or c in '_#':
            j = i + 1
            while j < n and ((chr(data[j]).isascii() and chr(data[j]).isalnum()) or data[j] == 0x5F):
                j += 1
            tokens.append(Token('name', data[i:j].decode('latin-1').upper(), line))
            i = j
        elif c == '"':
            j = i + 1
            while j < n and data[j] not in (0x22, 0x0A):
                j += 1
            if j >= n or data[j] == 0x0A:
                problem(name, "line %d: string terminator '\"' missing" % line)
                tokens.append(Token('string', data[i + 1:j].decode('latin-1'), line))
                i = j
            else:
                tokens.append(Token('string', data[i + 1:j].decode('latin-1'), line))
                i = j + 1
        elif c in '%&':
            i, v = number(i + 1, 2 if c == '%' else 16)
            tokens.append(Token('number', v, line))
        elif c.isdigit() or c == '-':
            if data[i:i + 2] in (b'0x', b'0X'):
                i, v = number(i + 2, 16)
            else:
                i, v = number(i, 10)
            tokens.append(Token('number', v, line))
        else:
            problem(name, 'line %d: unexpected character %r' % (line, c))
            tokens.append(Token('error', c, line))
            i += 1
    return tokens


# ----------------------------------------------------------------------------------
# Data file
# ----------------------------------------------------------------------------------
# CPC matrix: key code = bit * 16 + row. Characters the CPC types without / with SHIFT.
def _cpc_chars():
    rows = [
        ['', '', '', '', '', '', '', ''],
        ['', '', '', '', '', '', '', ''],
        ['', '[{', '', ']}', '', '', '\\`', ''],
        ['^\xa3', '-=', '@|', 'pP', ';+', ':*', '/?', '.>'],
        ['0_', '9)', 'oO', 'iI', 'lL', 'kK', 'mM', ',<'],
        ['8(', "7'", 'uU', 'yY', 'hH', 'jJ', 'nN', ' '],
        ['6&', '5%', 'rR', 'tT', 'gG', 'fF', 'bB', 'vV'],
        ['4$', '3#', 'eE', 'wW', 'sS', 'dD', 'cC', 'xX'],
        ['1!', '2"', '', 'qQ', '', 'aA', '', 'zZ'],
    ]
    unshifted, shifted = {}, {}
    for row, keys in enumerate(rows):
        for bit, chars in enumerate(keys):
            if chars:
                unshifted[chars[0]] = bit * 16 + row
            if len(chars) > 1:
                shifted[chars[1]] = bit * 16 + row
    return unshifted, shifted


CPC_UNSHIFTED, CPC_SHIFTED = _cpc_chars()
CPC_SHIFT_KEY = 0x52
# Every key of the CPC keyboard (rows 0-8, DEL in row 9) and the joystick 0 directions
# and fire buttons (row 9, bits 0-5).
CPC_KEYS = {bit * 16 + row for row in range(9) for bit in range(8)} | {0x79}
JOYSTICK_KEYS = {bit * 16 + 9 for bit in range(6)}
KEYTABLES = ['KEYTAB_UK', 'KEYTAB_GR', 'KEYTAB_FR', 'KEYTAB_SP', 'KEYTAB_DK', 'KEYTAB_ORIG']
PALETTES = ['RGB_PAL_GREEN', 'RGB_PAL_COLOUR']


def valid_key(code):
    return (code & 0x0F) <= 9 and ((code >> 4) & 0x0F) <= 7 and (code & 0xFF00) == 0


def check_mapping(where, word):
    low = word & 0xFFFFF
    alt = (word >> 20) & 0xFFF
    if low & 0xEFF00 or not valid_key(low & 0xFF):
        problem(where, 'CPC key &%X is not a keyboard matrix position' % word)
        return []
    keys = [low & 0xFF]
    if alt:
        if not valid_key(alt):
            problem(where, 'Num Lock key &%X is not a keyboard matrix position' % alt)
        else:
            keys.append(alt)
    return keys


def check_keytable(name, values):
    where = 'arvelo.dat %s' % name
    if len(values) % 4:
        problem(where, '%d numbers are not whole groups of four' % len(values))
        return
    seen = set()
    reached = set()
    unshifted, shifted = set(), set()
    for g in range(0, len(values), 4):
        host, *codes = values[g:g + 4]
        if not 0 < host < 512:
            problem(where, 'host key %d is not an SDL scancode' % host)
        if host in seen:
            problem(where, 'host key %d appears twice' % host)
        seen.add(host)
        if codes == [255, 255, 255]:
            continue
        for col, word in enumerate(codes):
            if word < 0:
                problem(where, 'negative CPC key in group of host key %d' % host)
                continue
            for i, key in enumerate(check_mapping('%s host key %d' % (where, host), word)):
                reached.add(key)
                if i == 0:
                    (shifted if col == 1 else unshifted).add(key)
    missing = sorted(CPC_KEYS - reached)
    if missing:
        problem(where, 'CPC keys out of reach: %s' % ', '.join('&%02X' % k for k in missing))
    if not JOYSTICK_KEYS <= reached:
        problem(where, 'joystick 0 is not fully on keys')
    lost = [c for c, k in CPC_UNSHIFTED.items() if k not in unshifted]
    lost += [c for c, k in CPC_SHIFTED.items() if k not in shifted]
    if lost:
        problem(where, 'characters out of reach: %s' % ' '.join(repr(c) for c in lost))


def check_data(path):
    name = os.path.basename(path)
    try:
        data = open(path, 'rb').read()
    except OSError as e:
        problem(name, 'cannot read: %s' % e)
        return
    tokens = scan(data, name)
    found = {}
    i = 0
    while i < len(tokens):
        t = tokens[i]
        if t.kind != 'name' or t.value not in KEYTABLES + PALETTES:
            problem(name, 'line %d: %s where a keyword was expected' % (t.line, t.value))
            line = t.line
            while i < len(tokens) and tokens[i].line == line:
                i += 1
            continue
        key = t.value
        if key in found:
            problem(name, 'line %d: %s given twice' % (t.line, key))
        i += 1
        if i >= len(tokens) or tokens[i].kind != '=':
            problem(name, "line %d: '=' expected after %s" % (t.line, key))
            continue
        i += 1
        values = []
        limit = 864 if key in KEYTABLES else 96
        while True:
            if i >= len(tokens) or tokens[i].kind != 'number':
                problem(name, '(%s) not a value at line %d' % (key, tokens[i].line if i < len(tokens) else -1))
                break
            v = tokens[i].value
            i += 1
            if key in KEYTABLES and v < 0:
                break
            values.append(v)
            if len(values) == limit:
                if key in KEYTABLES:
                    problem(name, '%s has no end marker before the 864th number' % key)
                break
            if i >= len(tokens) or tokens[i].kind != ',':
                problem(name, "(%s) ',' expected after value %d" % (key, len(values)))
                break
            i += 1
        found[key] = values
    for key in KEYTABLES:
        if key not in found:
            problem(name, '%s is missing' % key)
        else:
            check_keytable(key, found[key])
    for key in PALETTES:
        if key not in found:
            problem(name, '%s is missing' % key)
            continue
        values = found[key]
        if len(values) != 96:
            problem(name, '%s has %d values, expected 96' % (key, len(values)))
        if any(not 0 <= v <= 255 for v in values):
            problem(name, '%s has values outside 0..255' % key)
    colour = found.get('RGB_PAL_COLOUR', [])
    if len(colour) == 96:
        rgb = [tuple(colour[3 * k:3 * k + 3]) for k in range(32)]
        if len(set(rgb)) != 27:
            problem(name, 'RGB_PAL_COLOUR holds %d different colours, the CPC has 27' % len(set(rgb)))
        if rgb[20] != (0, 0, 0) or rgb[11] != (255, 255, 255):
            problem(name, 'RGB_PAL_COLOUR: hardware colour 20 must be black and 11 bright white')
    green = found.get('RGB_PAL_GREEN', [])
    if len(green) == 96 and len(colour) == 96:
        def luma(p, k):
            return 0.299 * p[3 * k] + 0.587 * p[3 * k + 1] + 0.114 * p[3 * k + 2]
        order = sorted(range(32), key=lambda k: luma(colour, k))
        levels = [luma(green, k) for k in order]
        if any(b < a for a, b in zip(levels, levels[1:])):
            problem(name, 'RGB_PAL_GREEN does not follow the brightness of the colours')


# ----------------------------------------------------------------------------------
# Help file
# ----------------------------------------------------------------------------------
def check_help(path, messages):
    name = os.path.basename(path)
    try:
        data = open(path, 'rb').read()
    except OSError as e:
        problem(name, 'cannot read: %s' % e)
        return
    if looks_like_utf8(data):
        problem(name, 'holds UTF-8 sequences; the file must be ISO-8859-1')
    lines = data.split(b'\n')
    if lines and lines[-1] == b'':
        lines.pop()
    topics = []          # (line number, language, [names], [text lines])
    keys = {}            # key -> line number of its header
    current = None
    for number, line in enumerate(lines, 1):
        if line.startswith(b'#['):
            m = re.fullmatch(rb'#\[([^\[\]]+)\]\s*', line)
            if not m:
                problem(name, 'line %d: header not closed by ]' % number)
                current = None
                continue
            names, langs = [], set()
            for key in m.group(1).split(b','):
                km = re.fullmatch(rb'(.+)\.(UK|GR|FR|SP)', key)
                if not km or km.group(1) != km.group(1).strip():
                    problem(name, 'line %d: bad topic key %r' % (number, key))
                    continue
                if help_key(km.group(1)) != km.group(1):
                    problem(name, 'line %d: topic key %r is not upper case' % (number, key))
                if key in keys:
                    problem(name, 'line %d: key %r already used at line %d' % (number, key, keys[key]))
                keys[key] = number
                names.append(km.group(1))
                langs.add(km.group(2).decode())
            if len(langs) != 1:
                problem(name, 'line %d: a header must serve exactly one language' % number)
                current = None
                continue
            current = (number, langs.pop(), names, [])
            topics.append(current)
        elif line.startswith(b'#'):
            current = None
        elif current is not None:
            if len(line) > 76:
                problem(name, 'line %d: longer than the help window (76 characters)' % number)
            current[3].append((number, line))
    # every topic in all four languages: a header of another language that holds one of
    # the same names
    by_lang = {L: set() for L in LANG_SUFFIX}
    for _, lang, names, _ in topics:
        by_lang[lang].update(names)
    for number, lang, names, _ in topics:
        for other in LANG_SUFFIX:
            if not by_lang[other] & set(names):
                problem(name, 'line %d: topic %s has no %s version' % (number, names[0].decode('latin-1'), other))
    # links
    for _, lang, _, text in topics:
        for number, line in text:
            m = re.search(rb'(?:^|[^"])\[([^\]]*)\]', line)
            if not m:
                continue
            link = help_key(m.group(1))
            if link in (b'ENGLISH', b'GERMAN', b'FRENCH', b'SPANISH'):
                continue
            if link + b'.' + lang.encode() not in keys:
                problem(name, 'line %d: link %r leads to no %s topic' % (number, m.group(1).decode('latin-1'), lang))
    # the setup lines and the topic names of the message file
    if messages:
        for L, block in enumerate(messages):
            for n in SETUP_LABELS + SETUP_TITLES + SETUP_ACTIONS + HELP_TOPIC_MESSAGES:
                key = help_key(block[n]) + b'.' + LANG_SUFFIX[L].encode()
                if key not in keys:
                    problem(name, 'no topic %r for message %d' % (key.decode('latin-1'), n))
    for f in ['F%d' % k for k in range(1, 13)]:
        for L in LANG_SUFFIX:
            if ('%s.%s' % (f, L)).encode() not in keys:
                problem(name, 'no topic %s.%s' % (f, L))


# ----------------------------------------------------------------------------------
# Configuration template
# ----------------------------------------------------------------------------------
def check_template(path, data_dir):
    name = os.path.basename(path)
    try:
        data = open(path, 'rb').read()
    except OSError as e:
        problem(name, 'cannot read: %s' % e)
        return
    text_lines = data.decode('latin-1').split('\n')
    first = next((l for l in text_lines if '=' in l), '')
    if first.startswith(';') or not first:
        # the on-screen keyboard choice inserts its line before the first line with '='
        problem(name, "the first line holding '=' must be a statement, not %r" % first)
    for number, l in enumerate(text_lines, 1):
        if l[:1] in (' ', '\t') and l.strip() and not l.strip().startswith(';'):
            problem(name, 'line %d: statements must start in the first column' % number)
    tokens = scan(data, name)
    section = None
    seen = {}            # (section, keyword) -> count
    sections = {}        # section -> {slot: file}
    values = {}
    i = 0
    while i < len(tokens):
        t = tokens[i]
        i += 1
        if t.kind != 'name' or t.value not in KW_ID:
            problem(name, 'line %d: unknown keyword %s' % (t.line, t.value))
            continue
        kw = t.value
        kind, bounds = KEYWORDS[KW_ID[kw]][1:]
        if kw == '#IFCPC':
            if section is not None:
                problem(name, 'line %d: #IFCPC inside a section' % t.line)
            if i >= len(tokens) or tokens[i].kind != 'number':
                problem(name, 'line %d: #IFCPC without a number' % t.line)
                continue
            section = tokens[i].value
            sections.setdefault(section, {})
            i += 1
            continue
        if kw == '#ENDIF':
            if section is None:
                problem(name, "line %d: unexpected '#ENDIF'" % t.line)
            section = None
            continue
        if kw != 'ROM_BLOCK':
            seen[(section, kw)] = seen.get((section, kw), 0) + 1
            if seen[(section, kw)] > 1:
                problem(name, 'line %d: %s given twice in the same part' % (t.line, kw))
        if i >= len(tokens) or tokens[i].kind != '=':
            problem(name, "line %d: '=' expected after %s" % (t.line, kw))
            continue
        i += 1
        if kind == 'N':
            if i >= len(tokens) or tokens[i].kind != 'number':
                problem(name, 'line %d: (%s) not a value' % (t.line, kw))
                continue
            v = tokens[i].value
            i += 1
            lo, hi = bounds
            if kw == 'RAM_SIZE' and values.get('RAM_TYPE') == 1:
                hi = 576
            if not lo <= v <= hi:
                problem(name, 'line %d: (%s) out of bounds: not %d <= %d <= %d' % (t.line, kw, lo, v, hi))
            if kw == 'RAM_SIZE' and v % 64:
                problem(name, 'line %d: RAM_SIZE is no multiple of 64' % t.line)
            values[kw if section is None else (section, kw)] = v
        elif kind == 'T':
            if i >= len(tokens) or tokens[i].kind != 'string':
                problem(name, 'line %d: (%s) string expected' % (t.line, kw))
                continue
            values[kw] = tokens[i].value
            i += 1
        elif kind == 'R':
            parts = tokens[i:i + 5]
            if [p.kind for p in parts] != ['number', ',', 'string', ',', 'number']:
                problem(name, 'line %d: ROM_BLOCK needs slot, "file", offset' % t.line)
                continue
            slot, rom, offset = parts[0].value, parts[2].value, parts[4].value
            i += 5
            part = sections.setdefault(section, {})
            if slot in part:
                problem(name, 'line %d: ROM slot %d given twice in one part' % (t.line, slot))
            part[slot] = (rom, offset)
            if not (0 <= slot <= 255 and 0 <= offset):
                problem(name, 'line %d: bad ROM slot or offset' % t.line)
        else:
            problem(name, 'line %d: %s does not belong into the template' % (t.line, kw))
    if section is not None:
        problem(name, "'#ENDIF' missing")
    present = {kw for (_, kw) in seen}
    if any(sections.values()):
        present.add('ROM_BLOCK')
    for kw in SAVED:
        if kw not in present and kw not in TEMPLATE_OMITS:
            problem(name, 'saved keyword %s is missing' % kw)
    expected = {0: 'cpc464.rom', 1: 'cpc664.rom', 2: 'cpc6128.rom'}
    for cpc, image in expected.items():
        roms = sections.get(cpc, {})
        if roms.get(255) != (image, 0) or roms.get(0) != (image, 1) or roms.get(7) != ('amsdos.rom', 0):
            problem(name, '#IFCPC %d must load %s at offsets 0 and 1 (slots 255, 0) and amsdos.rom (slot 7)'
                    % (cpc, image))
    if values.get('CPC_TYPE') not in sections:
        problem(name, 'CPC_TYPE %s has no ROM section' % values.get('CPC_TYPE'))
    for cpc in sections:
        if cpc is not None and (cpc, 'RAM_SIZE') not in values and 'RAM_SIZE' not in values:
            problem(name, '#IFCPC %d gives no RAM_SIZE' % cpc)
    for kw in FIRST_START_PATHS:
        if not values.get(kw, '').startswith('./'):
            problem(name, '%s must be a "./" path so that the first start copies it' % kw)
    for kw in ('DATA_FILE', 'HELP_FILE'):
        f = values.get(kw)
        if f and not os.path.isfile(os.path.join(data_dir, f)):
            problem(name, '%s names %s, which is not in %s' % (kw, f, data_dir))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    data_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'data')
    messages = check_messages(os.path.join(data_dir, 'arvelo.msg'))
    check_data(os.path.join(data_dir, 'arvelo.dat'))
    check_help(os.path.join(data_dir, 'arvelo.hlp'), messages)
    check_template(os.path.join(data_dir, 'arvelo0.cfg'), data_dir)
    for p in problems:
        print(p)
    if problems:
        print('check-data: %d problem(s) in %s' % (len(problems), data_dir))
        return 1
    print('check-data: %s ok' % data_dir)
    return 0


if __name__ == '__main__':
    sys.exit(main())
