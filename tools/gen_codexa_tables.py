#!/usr/bin/env python3
"""Generates the constant tables of the code page library (Python 3, standard library only).

Usage: gen_codexa_tables.py CODEPAGE_DIR UNICODEDATA OUTPUT_DIR

Reads the published to-Unicode mapping of each single-byte code page (one file per page, lines
"XX UUUU" or "XX -") and the Unicode 5.0 character database, and writes:

  codepages.inc  the 104 to-Unicode tables (with the library's departures from the published
                 mappings applied), the 20 variant masks and the 179-row code page directory;
  unicode.inc    the property database: class bits, upper and lower case, numeric value and
                 decomposition for U+0000..U+FFFF, each as 256 pages of 256 entries with
                 identical pages stored once.

Masks are not applied here: a row keeps the shared table of its code page and its mask, and
the library applies the mask when it builds a character set from the row.
The output is deterministic, so that a test can regenerate it and compare with the committed
sources.
"""
import os
import re
import sys

# ---------------------------------------------------------------------------------------------
# The code page directory, in lookup order. Each line: code page | kind | euro position | rows.
# A row is: variant, optional (CCSID), optional [mask], "name".
# "—" means no euro position. "—, X" means the position X is carried only by some rows (see
# euro_for_row below).
DIRECTORY = r'''
| 37 | EBCDIC | 0x9F | 0 "EBCDIC USA, Canada, Australia, New Zealand, Netherlands, Brazil, Portugal"; 101 (5033) [a] "EBCDIC Traditional Chinese"; 101 (8229) [a] "EBCDIC USA, Canada, Australia, New Zealand, Netherlands"; 697 (37) "EBCDIC USA, Canada, Australia, New Zealand, Netherlands, Brazil, Portugal"; 905 [c] "EBCDIC Canadian Bilingual"; 1114 [d] "EBCDIC Brazil, Portugal"; 1175 (937) [b] "EBCDIC Traditional Chinese" |
| 264 | EBCDIC | — | 0 "EBCDIC Print Train and Text Processing" |
| 273 | EBCDIC | 0x9F | 0 "EBCDIC Austria, Germany"; 265 (4369) [a] "EBCDIC Austria, Germany"; 697 (273) "EBCDIC Austria, Germany" |
| 274 | EBCDIC | 0x9F | 0 "EBCDIC Belgium"; 269 [a] "EBCDIC Belgium" |
| 275 | EBCDIC | 0x9F | 0 "EBCDIC Brazil"; 273 (4371) [a] "EBCDIC Brazil" |
| 277 | EBCDIC | 0x5A | 0 "EBCDIC Denmark, Norway"; 281 (4373) [a] "EBCDIC Denmark, Norway"; 697 (277) "EBCDIC Denmark, Norway" |
| 278 | EBCDIC | 0x5A | 0 "EBCDIC Finland, Sweden"; 285 (4374) [a] "EBCDIC Finland, Sweden"; 697 (278) "EBCDIC Finland, Sweden" |
| 280 | EBCDIC | 0x9F | 0 "EBCDIC Italy"; 293 (4376) [a] "EBCDIC Italy"; 697 (280) "EBCDIC Italy" |
| 281 | EBCDIC | 0x9F | 0 "EBCDIC Japanese English"; 297 [a] "EBCDIC Japanese English" |
| 284 | EBCDIC | 0x9F | 0 "EBCDIC Spanish"; 309 (4380) [a] "EBCDIC Spanish Latin America"; 650 (8476) [e] "EBCDIC Spain"; 697 (284) "EBCDIC Spanish" |
| 285 | EBCDIC | 0x9F | 0 "EBCDIC United Kingdom"; 313 (4381) [a] "EBCDIC United Kingdom"; 697 (285) "EBCDIC United Kingdom" |
| 290 | EBCDIC | —, 0xE1 | 0 "EBCDIC Japanese Katakana"; 332 (9122) [f] "EBCDIC Japanese Katakana"; 1172 (930) [g] "EBCDIC Japanese Katakana" |
| 293 | EBCDIC | — | 0 "EBCDIC APL" |
| 297 | EBCDIC | 0x9F | 0 "EBCDIC France"; 697 (297) "EBCDIC France"; 1129 (4393) [h] "EBCDIC France" |
| 310 | other | — | 0 "3270 APL Graphic Escape" |
| 351 | other | — | 0 "GDDM Default (USA)" |
| 367 | ASCII | — | 0 "US-ASCII-7" |
| 420 | EBCDIC | 0xFA | 0 "EBCDIC Arabic"; 235 (420) [i] "EBCDIC Arabic"; 1461 (16804) "EBCDIC Arabic" |
| 423 | EBCDIC | — | 0 "EBCDIC Greek"; 1124 [j] "EBCDIC Greek" |
| 424 | EBCDIC | 0x9C | 0 "EBCDIC Hebrew"; 941 (424) [k] "EBCDIC Hebrew"; 1357 (12712) "EBCDIC Hebrew" |
| 437 | ASCII | — | 0 "DOS USA" |
| 500 | EBCDIC | 0x9F | 0 "EBCDIC Latin-1"; 103 [a] "EBCDIC Latin-1"; 697 (500) "EBCDIC Latin-1"; 908 (45556) [l] "EBCDIC Swiss"; 1114 [m] "EBCDIC Belgium" |
| 720 | ASCII | — | 0 "MS-DOS Arabic" |
| 737 | ASCII | — | 0 "DOS Greek" |
| 775 | ASCII | — | 0 "DOS Baltic" |
| 803 | EBCDIC | 0x9C | 1147 (803) "EBCDIC Hebrew (old)"; 1356 (4899) "EBCDIC Hebrew (old)" |
| 838 | EBCDIC | 0xFE | 0 "EBCDIC Thai"; 938 (4934) [n] "EBCDIC Thai"; 1176 (838) "EBCDIC Thai" |
| 850 | ASCII | — | 0 "DOS Latin-1" |
| 852 | ASCII | — | 0 "DOS Latin-2" |
| 855 | ASCII | — | 0 "DOS Cyrillic" |
| 856 | ASCII | — | 0 "DOS Hebrew" |
| 857 | ASCII | — | 0 "DOS Turkish" |
| 858 | ASCII | 0xD5 | 0 "DOS Latin-1 + Euro" |
| 860 | ASCII | — | 0 "DOS Portuguese" |
| 861 | ASCII | — | 0 "DOS Icelandic" |
| 862 | ASCII | — | 0 "DOS Israel" |
| 863 | ASCII | — | 0 "DOS French Canadian" |
| 864 | ASCII | 0xA7 | 0 "DOS Arabic" |
| 865 | ASCII | — | 0 "DOS Nordic" |
| 866 | ASCII | — | 0 "DOS Russian" |
| 869 | ASCII | — | 0 "DOS Greek" |
| 870 | EBCDIC | 0x9F | 0 "EBCDIC Latin-2"; 959 (4966) [o] "EBCDIC Latin-2"; 1128 [p] "EBCDIC ROECE Latin, Yugoslav" |
| 871 | EBCDIC | 0x9F | 0 "EBCDIC Iceland"; 697 (871) "EBCDIC Iceland"; 1126 [q] "EBCDIC Iceland" |
| 875 | EBCDIC | 0xFC | 0 "EBCDIC Greek"; 923 (875) [r] "EBCDIC Greek"; 1159 [r] "EBCDIC Greek"; 1371 (4971) "EBCDIC Greek" |
| 878 | ASCII | — | 0 "KOI8-R Russian" |
| 880 | EBCDIC | 0xE1 | 0 "EBCDIC Cyrillic"; 960 (4976) "EBCDIC Cyrillic"; 1125 [s] "EBCDIC Cyrillic" |
| 907 | ASCII | — | 0 "ASCII APL" |
| 910 | ASCII | — | 0 "DOS APL USA" |
| 924 | EBCDIC | 0x9F | 1353 (924) "EBCDIC Latin-9" |
| 1005 | EBCDIC | — | 0 "EBCDIC Isomophic Text Communication" |
| 1006 | ASCII | — | 0 "DOS Urdu" |
| 1025 | EBCDIC | 0xE1 | 0 "EBCDIC Russian"; 1150 [s] "EBCDIC Russian" |
| 1026 | EBCDIC | 0x9F | 0 "EBCDIC Turkey"; 1126 (1026) "EBCDIC Turkey" |
| 1027 | EBCDIC | —, 0xE1 | 0 "EBCDIC Japanese (Latin) Extended"; 101 (931) [a] "EBCDIC Japanese (English)"; 1172 (939) [t] "EBCDIC Japanese (Latin)" |
| 1030 | EBCDIC | — | 0 "EBCDIC Japanese (Katakana) Extended" |
| 1031 | EBCDIC | — | 0 "EBCDIC Japanese (Latin) Extended" |
| 1047 | EBCDIC | 0x9F | 0 "EBCDIC Latin-1"; 697 (1047) "EBCDIC Latin-1" |
| 1122 | EBCDIC | 0x5A | 0 "EBCDIC Estonia" |
| 1123 | EBCDIC | 0xE1 | 0 "EBCDIC Ukraine"; 1326 (1123) "EBCDIC Ukraine" |
| 1130 | EBCDIC | 0x9F | 0 "EBCDIC Vietnamese" |
| 1139 | ASCII | — | 0 "ASCII Japanese Alphanumeric Katakana" |
| 1140 | EBCDIC | 0x9F | 0 "EBCDIC USA, Canada, Australia, New Zealand, Netherlands"; 695 (1140) "EBCDIC USA, Canada, Australia, New Zealand, Netherlands" |
| 1141 | EBCDIC | 0x9F | 0 "EBCDIC Austria, Germany"; 695 (1141) "EBCDIC Austria, Germany" |
| 1142 | EBCDIC | 0x5A | 0 "EBCDIC Denmark, Norway"; 695 (1142) "EBCDIC Denmark, Norway" |
| 1143 | EBCDIC | 0x5A | 0 "EBCDIC Finland, Sweden"; 695 (1143) "EBCDIC Finland, Sweden" |
| 1144 | EBCDIC | 0x9F | 0 "EBCDIC Italy"; 695 (1144) "EBCDIC Italy" |
| 1145 | EBCDIC | 0x9F | 0 "EBCDIC Spanish"; 695 (1145) "EBCDIC Spanish" |
| 1146 | EBCDIC | 0x9F | 0 "EBCDIC United Kingdom"; 695 (1146) "EBCDIC United Kingdom" |
| 1147 | EBCDIC | 0x9F | 0 "EBCDIC France"; 695 (1147) "EBCDIC France" |
| 1148 | EBCDIC | 0x9F | 0 "EBCDIC Latin-1"; 695 (1148) "EBCDIC Latin-1" |
| 1149 | EBCDIC | 0x9F | 0 "EBCDIC Iceland"; 695 (1149) "EBCDIC Iceland" |
| 1153 | EBCDIC | 0x9F | 0 "EBCDIC Latin-2"; 1375 (1153) "EBCDIC Latin-2" |
| 1154 | EBCDIC | 0xE1 | 0 "EBCDIC Cyrillic"; 1381 (1154) "EBCDIC Cyrillic" |
| 1155 | EBCDIC | 0x9F | 0 "EBCDIC Turkey"; 1378 (1155) "EBCDIC Turkey" |
| 1156 | EBCDIC | 0x9F | 0 "EBCDIC Baltic" |
| 1157 | EBCDIC | 0x5A | 0 "EBCDIC Estonia" |
| 1158 | EBCDIC | 0xE1 | 0 "EBCDIC Ukraine"; 1388 (1158) "EBCDIC Ukraine" |
| 1160 | EBCDIC | 0xFE | 0 "EBCDIC Thai"; 1395 (1160) "EBCDIC Thai" |
| 1164 | EBCDIC | 0x9F | 0 "EBCDIC Vietnamese" |
| 1165 | EBCDIC | 0x9F | 0 "EBCDIC Latin-2" |
| 1200 | Unicode | U+20AC | 0 "UTF-16" |
| 1201 | Unicode | U+20AC | 0 "UTF-16BE" |
| 1202 | Unicode | U+20AC | 0 "UTF-16LE" |
| 1208 | Unicode | U+20AC | 0 "UTF-8" |
| 1232 | Unicode | U+20AC | 0 "UTF-32" |
| 1233 | Unicode | U+20AC | 0 "UTF-32BE" |
| 1234 | Unicode | U+20AC | 0 "UTF-32LE" |
| 1250 | ASCII | 0x80 | 0 "Windows Latin-2" |
| 1251 | ASCII | 0x88 | 0 "Windows Cyrillic" |
| 1252 | ASCII | 0x80 | 0 "Windows Latin-1" |
| 1253 | ASCII | 0x80 | 0 "Windows Greek" |
| 1254 | ASCII | 0x80 | 0 "Windows Latin-5 Turkish" |
| 1255 | ASCII | 0x80 | 0 "Windows Hebrew" |
| 1256 | ASCII | 0x80 | 0 "Windows Arabic" |
| 1257 | ASCII | 0x80 | 0 "Windows Baltic" |
| 1258 | ASCII | 0x80 | 0 "Windows Vietnamese" |
| 8859 | ASCII | —, 0xA4 | 1 (819) "ISO Latin-1 Western European"; 2 (912) "ISO Latin-2 Eastern European"; 3 (913) "ISO Latin-3 Southern European"; 4 (914) "ISO Latin-4 Northern European"; 5 (915) "ISO Cyrillic"; 6 (1089) "ISO Arabic"; 7 (813) "ISO Greek"; 8 (916) "ISO Hebrew"; 9 (920) "ISO Latin-5 Turkish"; 10 (919) "ISO Latin-6 Nordic"; 11 (874) "ISO Thai"; 13 (921) "ISO Latin-7 Baltic"; 14 "ISO Latin-8 Celtic"; 15 (923) "ISO Latin-9"; 16 "ISO Latin-10 Romanian" |
'''

# Bytes each mask marks undefined, and the rows that use it.
MASKS = r'''
| a | 37/101, 273/265, 274/269, 275/273, 277/281, 278/285, 280/293, 281/297, 284/309, 285/313, 500/103, 1027/101 | 41–49, 51–59, 62–69, 70–78, 80, 8A–90, 9A–A0, AA–BF, CA–CF, DA–DF, E1, EA–EF, FA–FE |
| b | 37/1175 | 41–49, 51–59, 62–69, 70–78, 80, 8A–90, 9A–A0, AA–AF, B1–B9, BC–BF, CA–CF, DA–DF, E1, EA–EF, FA–FE |
| c | 37/905 | 41, 43, 45–47, 49, 55, 58–59, 63, 65–67, 69, 70, 75, 78, 80, 8A–90, 9A–9C, 9E–A0, AA–AF, B1–BC, BF, CA, CC–CF, DA, DE–DF, E1, EA, EC–EF, FA, FE |
| d | 37/1114 | 41, 8A–8F, 9A–A0, AA–AF, B3–B4, B6–B9, BF, CA, DA, DF, E1, EA, FA |
| e | 284/650 | 41–43, 46–47, 49, 52–53, 56, 58–59, 62–63, 66–67, 69, 70, 72–73, 76, 78, 80, 8A–90, 9C–A0, AC–B2, B4–B9, BC–BD, BF, CA–CC, CF, DA–DB, DD, DF, E1, EA–EC, EF, FA–FB, FD |
| f | 290/332 | 57, 59, 62–6A, 70–79, 80, 8B, 9B–9C, A0, AB, B0–B9, C0, CA–D0, DA–DF, E1, EA–EF, FA–FE |
| g | 290/1172 | 57, 59, 6A, 9C, CA–CF, DA–DF, E1, EA–EF, FA–FE |
| h | 297/1129 | 41, 44–49, 51, 54–55, 58–59, 62–69, 70–78, 80, 8A–90, 9A–A0, AA–BF, CA, CD–CF, DA, DD–DE, E1, EA–EF, FA–FE |
| i | 420/235 | 53–54, B6–B7, CC, CE, E1, EC, FA |
| j | 423/1124 | 68–6A, 70, 74, B0, CA, E1, FD–FE |
| k | 424/941 | 70, 72–73, 75–77, 80, 8C–8E, 9A–9C, 9E, AA–AE, CB–CF, DB–DF, EB–EF, FB–FE |
| l | 500/908 | 41, 46–47, 59, 62, 64–68, 72–78, 80, 8A–8F, 9A–A0, AA–AF, B2–B4, B6–B9, BC, BF, CA, CF, DA, E1, EA–EB, ED–EF, FA–FB, FD–FE |
| m | 500/1114 | 41, 8A–8F, 9A–9B, 9D, A0, AA–AF, B3–B4, B6–B9, BC, BF, CA, DA, DF, E1, EA, FA |
| n | 838/938 | 41, 49, 51, 59, 69, 71, 80, 90, A0, CA, E1, FD–FE |
| o | 870/959 | 42, 44, 56, 62, 66, 76, 8F, AF, B3 |
| p | 870/1128 | 42, 44, 52, 56, 62, 66, 72, 76, 8F, AF, B3 |
| q | 871/1126 | 41, 66, 9D, B2, B9, CA, DA, E1, EF, FD |
| r | 875/923, 875/1159 | 68–69, A1, DC, E1, EC–ED, FC–FD |
| s | 880/1125, 1025/1150 | 45, 55, 64, 73–74, 79, A1, C0, D0 |
| t | 1027/1172 | 41, 6A, 80, 90, CA–CF, DA–DF, E1, EA–EF, FA–FE |
'''

# Where this library's tables depart from the current edition of a published mapping.
# None marks a byte as undefined.
DEPARTURES = {
    '273': {0xBC: 0x00AF},
    '424': {0x9C: 0x20AC, 0x9E: 0x20AA, 0xBC: 0x203E,
            0xDB: 0x202D, 0xDC: 0x202E, 0xDD: 0x202C,
            0xFB: 0x202A, 0xFC: 0x202B, 0xFD: 0x200E, 0xFE: 0x200F},
    '720': {b: None for b in (0x80, 0x81, 0x84, 0x86, 0x8D, 0x8E, 0x8F, 0x90)},
    '864': {0xA7: 0x20AC},
    '875': {0xFC: 0x20AC, 0xDC: None, 0xE1: None, 0xEC: None, 0xED: None, 0xFD: None},
    # ISO 8859-7 in its 1987 edition.
    '8859-7': {0xA4: None, 0xA5: None, 0xAA: None, 0xB7: 0x0387},
    '8859-8': {0xAF: 0x203E, 0xFD: None, 0xFE: None},
}

KINDS = {'Unicode': 0, 'ASCII': 1, 'EBCDIC': 2, 'other': 3}
UNDEFINED = 0xFFFD


def euro_for_row(code_page, variant, field):
    """Returns the euro position of one row from the code page's euro column."""
    field = field.strip()
    if field in ('—', '-'):
        return 0
    if field.startswith('U+'):
        return int(field[2:], 16)
    if field.startswith('—'):
        # "—, X": the position exists only where the page's successors carry the euro sign:
        # ISO 8859 parts 15 and 16, and the Japanese rows of character set 1172.
        pos = int(field.split(',')[1].strip(), 16)
        if code_page == 8859:
            return pos if variant in (15, 16) else 0
        return pos if variant == 1172 else 0
    return int(field, 16)


ROW_RE = re.compile(r'\s*(\d+)(?: \((\d+)\))?(?: \[([a-t])\])? "([^"]*)"\s*')


def parse_directory():
    rows = []
    for line in DIRECTORY.strip().splitlines():
        cells = [c.strip() for c in line.strip().strip('|').split('|')]
        code_page, kind, euro, entries = int(cells[0]), KINDS[cells[1]], cells[2], cells[3]
        for entry in entries.split(';'):
            m = ROW_RE.fullmatch(entry)
            if not m:
                raise SystemExit('cannot read directory row %r' % entry)
            variant = int(m.group(1))
            rows.append(dict(code_page=code_page, variant=variant,
                             ccsid=int(m.group(2) or 0),
                             euro=euro_for_row(code_page, variant, euro),
                             kind=kind, mask=m.group(3), name=m.group(4)))
    return rows


def parse_masks():
    masks = {}
    for line in MASKS.strip().splitlines():
        cells = [c.strip() for c in line.strip().strip('|').split('|')]
        name, users, spans = cells
        marked = [0] * 256
        for span in spans.split(','):
            parts = [int(p, 16) for p in span.strip().replace('–', '-').split('-')]
            for b in range(parts[0], parts[-1] + 1):
                marked[b] = 1
        masks[name] = dict(bytes=marked, users=[tuple(int(x) for x in u.split('/'))
                                                 for u in users.split(',')])
    return masks


def table_label(row):
    if row['code_page'] == 8859:
        return '8859-%d' % row['variant']
    return str(row['code_page'])


def table_file(label):
    if label.startswith('8859-'):
        return 'cp8859-%02d.txt' % int(label[5:])
    return 'cp%05d.txt' % int(label)


def read_table(folder, label):
    path = os.path.join(folder, table_file(label))
    with open(path, encoding='ascii') as f:
        lines = f.read().splitlines()
    if len(lines) != 257:
        raise SystemExit('%s: expected 257 lines' % path)
    table = []
    for b, line in enumerate(lines[1:]):
        byte, value = line.split()
        if int(byte, 16) != b:
            raise SystemExit('%s: byte %02X out of order' % (path, b))
        cp = UNDEFINED if value == '-' else int(value, 16)
        # The tables hold 16-bit entries: a character beyond the BMP is not representable.
        table.append(UNDEFINED if cp > 0xFFFF else cp)
    for b, cp in DEPARTURES.get(label, {}).items():
        table[b] = UNDEFINED if cp is None else cp
    return table


def c_ident(label):
    return 'kToUnicode' + label.replace('-', '_')


def words(values, width, per_line, indent='    '):
    fmt = '0x%%0%dX' % width
    out = []
    for i in range(0, len(values), per_line):
        out.append(indent + ', '.join(fmt % v for v in values[i:i + per_line]) + ',')
    return '\n'.join(out)


def c_string(s):
    return '"' + s.replace('\\', '\\\\').replace('"', '\\"') + '"'


def write_codepages(folder, out_path):
    rows = parse_directory()
    masks = parse_masks()
    if len(rows) != 179:
        raise SystemExit('directory has %d rows, expected 179' % len(rows))
    mask_of = {}
    for name, mask in masks.items():
        for user in mask['users']:
            mask_of[user] = name
    for row in rows:
        want = mask_of.get((row['code_page'], row['variant']))
        if row['mask'] != want:
            raise SystemExit('row %d/%d: mask %r but the mask table says %r'
                             % (row['code_page'], row['variant'], row['mask'], want))

    labels = []
    for row in rows:
        if row['kind'] != 0 and table_label(row) not in labels:
            labels.append(table_label(row))
    if len(labels) != 104:
        raise SystemExit('%d to-Unicode tables, expected 104' % len(labels))

    out = ['// Generated by tools/gen_codexa_tables.py from the published code page mappings.',
           '// Do not edit: change the generator or its inputs and run it again.', '']
    for label in labels:
        table = read_table(folder, label)
        out.append('// code page %s' % label)
        out.append('static const uint16_t %s[256] = {' % c_ident(label))
        out.append(words(table, 4, 16))
        out.append('};')
        out.append('')
    for name in sorted(masks):
        out.append('// mask %s: %s' % (name, ', '.join('%d/%d' % u for u in masks[name]['users'])))
        out.append('static const uint8_t kMask_%s[256] = {' % name)
        out.append(words(masks[name]['bytes'], 1, 32).replace('0x', ''))
        out.append('};')
        out.append('')
    out.append('const CodePageEntry kDirectory[%d] = {' % len(rows))
    for row in rows:
        table = 'nullptr' if row['kind'] == 0 else c_ident(table_label(row))
        mask = 'kMask_%s' % row['mask'] if row['mask'] else 'nullptr'
        out.append('    {%d, %d, %d, 0x%04X, %d, %s, %s, %s},' % (
            row['code_page'], row['variant'], row['ccsid'], row['euro'], row['kind'], table, mask,
            c_string(row['name'])))
    out.append('};')
    out.append('')
    with open(out_path, 'w', encoding='utf-8', newline='\n') as f:
        f.write('\n'.join(out))


# ---------------------------------------------------------------------------------------------
# Unicode property database.

TAGS = ['font', 'noBreak', 'initial', 'medial', 'final', 'isolated', 'circle', 'super', 'sub',
        'vertical', 'wide', 'narrow', 'small', 'square', 'fraction', 'compat']


def class_bits(cp, gc):
    bits = 0
    if gc == 'Lu':
        bits |= 0x001
    if gc == 'Ll':
        bits |= 0x002
    if gc in ('Lu', 'Ll', 'Lt', 'Lo'):
        bits |= 0x004
    if gc == 'Nd':
        bits |= 0x008
    if 0x30 <= cp <= 0x39 or 0x41 <= cp <= 0x46 or 0x61 <= cp <= 0x66:
        bits |= 0x010
    if gc in ('Zs', 'Zl', 'Zp') or 0x09 <= cp <= 0x0D or cp == 0x85:
        bits |= 0x020
    control = gc in ('Cc', 'Cf', 'Zl', 'Zp')
    if control:
        bits |= 0x200
    else:
        bits |= 0x040
        if gc != 'Zs':
            bits |= 0x080
    if gc[0] == 'P' or gc in ('Lm', 'Mn', 'Mc', 'Me'):
        bits |= 0x400
    if (gc[0] == 'L' and gc != 'Lm') or gc in ('Nd', 'Nl'):
        bits |= 0x800
    return bits


def read_unicode(path):
    ctype = [0] * 0x10000
    # Case mappings hold 0 for "maps to itself", so that pages without mappings are shared.
    upper = [0] * 0x10000
    lower = [0] * 0x10000
    number = [0] * 0x10000
    decomp = {}
    in_range = False
    with open(path, encoding='ascii') as f:
        for line in f:
            fields = line.rstrip('\n').split(';')
            cp = int(fields[0], 16)
            name = fields[1]
            if name.endswith(', First>'):
                in_range = True
                continue
            if name.endswith(', Last>'):
                in_range = False
                continue
            if in_range or cp > 0xFFFF:
                continue
            gc = fields[2]
            ctype[cp] = class_bits(cp, gc)
            if gc in ('Nd', 'Nl') and fields[8] and '/' not in fields[8]:
                number[cp] = int(fields[8])
            if fields[12]:
                upper[cp] = int(fields[12], 16)
            if fields[13]:
                lower[cp] = int(fields[13], 16)
            if fields[5]:
                parts = fields[5].split()
                tag = 0
                if parts[0].startswith('<'):
                    tag = TAGS.index(parts[0][1:-1]) + 1
                    parts = parts[1:]
                # The records hold 16-bit code units: the six CJK compatibility ideographs
                # whose decomposition lies beyond the BMP keep it as a UTF-16 surrogate pair.
                units = []
                for p in parts:
                    v = int(p, 16)
                    if v > 0xFFFF:
                        v -= 0x10000
                        units += [0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF)]
                    else:
                        units.append(v)
                decomp[cp] = (tag, units)
    for c in range(0x41, 0x47):
        number[c] = c - 0x41 + 10
        number[c + 0x20] = c - 0x41 + 10
    return ctype, upper, lower, number, decomp


def paged(name, ctype, values, out):
    """Writes a table as shared pages plus a 256-entry page index."""
    pages, index = [], []
    for hi in range(256):
        page = tuple(values[hi * 256:(hi + 1) * 256])
        if page not in pages:
            pages.append(page)
        index.append(pages.index(page))
    out.append('// %s: %d distinct pages' % (name, len(pages)))
    out.append('static const %s k%sPages[%d][256] = {' % (ctype, name, len(pages)))
    for page in pages:
        out.append('    {')
        out.append(words(page, 4, 16, '        '))
        out.append('    },')
    out.append('};')
    out.append('static const uint8_t k%sIndex[256] = {' % name)
    out.append(words(index, 2, 16))
    out.append('};')
    out.append('')


def write_unicode(path, out_path):
    ctype, upper, lower, number, decomp = read_unicode(path)
    out = ['// Generated by tools/gen_codexa_tables.py from UnicodeData-5.0.0.txt.',
           '// Do not edit: change the generator or its inputs and run it again.', '']
    paged('Ctype', 'uint16_t', ctype, out)
    paged('Upper', 'uint16_t', upper, out)
    paged('Lower', 'uint16_t', lower, out)
    paged('Number', 'uint16_t', number, out)
    # Decomposition records: tag, count, code points, padded to an even number of 16-bit
    # words so that every record starts 4-byte aligned. Word offset 0 is never a record, so
    # an offset of 0 means "no decomposition".
    data = [0, 0]
    offsets = [0] * 0x10000
    longest = 0
    for cp in sorted(decomp):
        tag, seq = decomp[cp]
        offsets[cp] = len(data)
        data += [tag, len(seq)] + seq
        if len(data) % 2:
            data.append(0)
        longest = max(longest, len(seq))
    if len(data) > 0xFFFF:
        raise SystemExit('decomposition data too large for 16-bit offsets')
    out.append('// %d code points have a decomposition record; the longest has %d code points.'
               % (len(decomp), longest))
    out.append('alignas(4) static const uint16_t kDecompData[%d] = {' % len(data))
    out.append(words(data, 4, 16))
    out.append('};')
    out.append('')
    paged('Decomp', 'uint16_t', offsets, out)
    with open(out_path, 'w', encoding='utf-8', newline='\n') as f:
        f.write('\n'.join(out))


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    folder, ucd, out_dir = argv[1:]
    os.makedirs(out_dir, exist_ok=True)
    write_codepages(folder, os.path.join(out_dir, 'codepages.inc'))
    write_unicode(ucd, os.path.join(out_dir, 'unicode.inc'))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
