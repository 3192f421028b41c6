#!/usr/bin/env python3
"""Generates core/src/text/unicode_tables.inc, the lower-casing tables of the core.

    scripts/env python3 tools/gen_unicode_tables.py [--ucd DIR] [--out FILE]

Reads UnicodeData.txt (simple lower-case mappings), SpecialCasing.txt (the
unconditional full lower-case mappings; conditional and locale rows are left
out: Final_Sigma is handled in code, locale rules are not applied) and
DerivedCoreProperties.txt (Cased, Case_Ignorable) from the Unicode Character
Database, by default the one the unicode-data package installs.

The output is committed, so a build never runs this script. Layout:

- kLatin1Lower: the lower case of every code point below 0x100, a direct
  table for the byte-level shortcuts (all of them map within Latin-1).
- a two-stage table for every code point: kBlockIndex[cp >> kBlockShift]
  selects one of the deduplicated blocks in kBlocks, whose entry for
  cp & (block size - 1) is an index into kRecords. A record holds the
  mapping as a delta (one character) or as a slice of kExpansions (several
  characters), and the Cased / Case_Ignorable flags.
- code points at or above kTableLimit all use record 0 (no mapping, no flags).
- kWideCapitals: every character from U+0100 to U+FFFF whose lower case is
  one other character (capital sigma aside), with that lower case, sorted by
  it: the characters that lower-case to a given one, found by a search.
"""

import argparse
import os
import re
import sys

MAX_CP = 0x110000
CASED = 1
CASE_IGNORABLE = 2


def parse_hex_list(field):
    return [int(x, 16) for x in field.split()]


def version_of(path):
    """The version in a UCD file's first line, e.g. '# SpecialCasing-17.0.0.txt'."""
    with open(path, encoding="utf-8") as f:
        first = f.readline()
    m = re.match(r"#\s*\S+-(\d+\.\d+\.\d+)\.txt", first)
    if not m:
        sys.exit(f"{path}: no version in the first line: {first!r}")
    return m.group(1)


def read_simple_lower(path):
    lower = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            if len(fields) != 15:
                sys.exit(f"{path}: unexpected line {line!r}")
            if fields[13]:
                lower[int(fields[0], 16)] = [int(fields[13], 16)]
    return lower


def read_special_lower(path):
    """Unconditional lower-case mappings of SpecialCasing.txt."""
    special = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            fields = [x.strip() for x in data.split(";")]
            # code; lower; title; upper; [conditions;] -> a trailing empty field
            conditions = fields[4] if len(fields) > 5 else ""
            if conditions:
                continue
            special[int(fields[0], 16)] = parse_hex_list(fields[1])
    return special


def read_properties(path, wanted):
    props = {name: set() for name in wanted}
    with open(path, encoding="utf-8") as f:
        for line in f:
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            cps, name = [x.strip() for x in data.split(";")[:2]]
            if name not in props:
                continue
            lo, _, hi = cps.partition("..")
            lo = int(lo, 16)
            hi = int(hi, 16) if hi else lo
            props[name].update(range(lo, hi + 1))
    for name, cps in props.items():
        if not cps:
            sys.exit(f"{path}: property {name} not found")
    return props


def utf8_len(cp):
    return 1 if cp < 0x80 else 2 if cp < 0x800 else 3 if cp < 0x10000 else 4


def build(ucd):
    files = {
        name: os.path.join(ucd, name)
        for name in ("UnicodeData.txt", "SpecialCasing.txt", "DerivedCoreProperties.txt")
    }
    version = version_of(files["DerivedCoreProperties.txt"])
    if version_of(files["SpecialCasing.txt"]) != version:
        sys.exit("SpecialCasing.txt and DerivedCoreProperties.txt differ in version")

    lower = read_simple_lower(files["UnicodeData.txt"])
    lower.update(read_special_lower(files["SpecialCasing.txt"]))
    props = read_properties(files["DerivedCoreProperties.txt"], ("Cased", "Case_Ignorable"))

    # The byte-level shortcuts rely on these; the output buffer sizing relies
    # on no character growing by more than half its UTF-8 length.
    for cp, mapping in lower.items():
        if cp < 0x100:
            assert len(mapping) == 1 and mapping[0] < 0x100, hex(cp)
            assert (cp < 0x80) == (mapping[0] < 0x80), hex(cp)
        out_len = sum(utf8_len(c) for c in mapping)
        assert 2 * out_len <= 3 * utf8_len(cp), hex(cp)
    assert lower[0x3A3] == [0x3C3]

    expansions = []
    expansion_at = {}
    records = [(0, 0, 0, 0)]  # (delta, expansion offset, expansion length, flags)
    record_at = {records[0]: 0}
    per_cp = [0] * MAX_CP
    for cp in range(MAX_CP):
        flags = (CASED if cp in props["Cased"] else 0) | (
            CASE_IGNORABLE if cp in props["Case_Ignorable"] else 0)
        mapping = lower.get(cp, [cp])
        if len(mapping) == 1:
            rec = (mapping[0] - cp, 0, 0, flags)
        else:
            key = tuple(mapping)
            if key not in expansion_at:
                expansion_at[key] = len(expansions)
                expansions.extend(mapping)
            rec = (0, expansion_at[key], len(mapping), flags)
        if rec not in record_at:
            record_at[rec] = len(records)
            records.append(rec)
        per_cp[cp] = record_at[rec]

    last = max(cp for cp in range(MAX_CP) if per_cp[cp] != 0)

    best = None
    for shift in range(4, 11):
        size = 1 << shift
        limit = (last // size + 1) * size
        blocks, block_at, index = [], {}, []
        for start in range(0, limit, size):
            block = tuple(per_cp[start:start + size])
            if block not in block_at:
                block_at[block] = len(blocks)
                blocks.append(block)
            index.append(block_at[block])
        index_bytes = 1 if len(blocks) <= 0x100 else 2
        entry_bytes = 1 if len(records) <= 0x100 else 2
        total = len(index) * index_bytes + len(blocks) * size * entry_bytes
        if best is None or total < best[0]:
            best = (total, shift, limit, blocks, index, index_bytes, entry_bytes)

    total, shift, limit, blocks, index, index_bytes, entry_bytes = best
    capitals = sorted((lower[cp][0], cp) for cp in range(0x100, 0x10000)
                      if cp in lower and len(lower[cp]) == 1 and lower[cp][0] != cp and cp != 0x3A3)
    assert all(low <= 0xFFFF for low, _ in capitals)
    return dict(version=version, lower=lower, records=records, expansions=expansions, capitals=capitals,
                shift=shift, limit=limit, blocks=blocks, index=index,
                index_bytes=index_bytes, entry_bytes=entry_bytes, total=total)


def wrap(values, fmt, per_line):
    items = [fmt(v) for v in values]
    return "\n".join("    " + ", ".join(items[i:i + per_line]) + ","
                     for i in range(0, len(items), per_line))


def render(t):
    uint = {1: "std::uint8_t", 2: "std::uint16_t"}
    latin1 = [t["lower"].get(cp, [cp])[0] for cp in range(0x100)]
    flat_blocks = [e for block in t["blocks"] for e in block]
    out = []
    out.append(f"""\
// Generated by tools/gen_unicode_tables.py from the Unicode Character
// Database {t['version']} (UnicodeData, SpecialCasing without conditions,
// DerivedCoreProperties Cased and Case_Ignorable). Do not edit.
//
// Included once, inside the namespace of case_folding.cpp, which defines
// CaseRecord {{ delta, expansion, length, flags }}, the flag bits and
// WideCapital {{ lower, capital }}.
// Two-stage lookup: {len(t['index'])} block indices, {len(t['blocks'])} blocks of {1 << t['shift']},
// {len(t['records'])} records, {t['total']} bytes for the two stages.

inline constexpr char kUnicodeVersion[] = "{t['version']}";

inline constexpr unsigned kBlockShift = {t['shift']};
inline constexpr char32_t kTableLimit = 0x{t['limit']:X};
using BlockIndexEntry = {uint[t['index_bytes']]};
using BlockEntry = {uint[t['entry_bytes']]};

inline constexpr std::uint8_t kLatin1Lower[256] = {{
{wrap(latin1, lambda v: f"0x{v:02X}", 12)}
}};

inline constexpr char32_t kExpansions[{len(t['expansions'])}] = {{
{wrap(t['expansions'], lambda v: f"0x{v:04X}", 8)}
}};

inline constexpr CaseRecord kRecords[{len(t['records'])}] = {{
{wrap(t['records'], lambda r: f"{{{r[0]}, {r[1]}, {r[2]}, {r[3]}}}", 4)}
}};

inline constexpr BlockIndexEntry kBlockIndex[{len(t['index'])}] = {{
{wrap(t['index'], str, 16)}
}};

inline constexpr BlockEntry kBlocks[{len(flat_blocks)}] = {{
{wrap(flat_blocks, str, 16)}
}};

// {{lower case, character}}, sorted.
inline constexpr WideCapital kWideCapitals[{len(t['capitals'])}] = {{
{wrap(t['capitals'], lambda c: f"{{0x{c[0]:04X}, 0x{c[1]:04X}}}", 6)}
}};
""")
    return "".join(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", default="/usr/share/unicode",
                        help="directory of the Unicode Character Database files")
    parser.add_argument("--out", default=os.path.join(here, "..", "core", "src", "text", "unicode_tables.inc"))
    args = parser.parse_args()
    tables = build(args.ucd)
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(render(tables))
    print(f"{os.path.normpath(args.out)}: Unicode {tables['version']}, "
          f"{len(tables['records'])} records, {len(tables['blocks'])} blocks of "
          f"{1 << tables['shift']}, {tables['total']} bytes")


if __name__ == "__main__":
    main()
