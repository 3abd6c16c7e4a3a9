// The code page directory: an ordered, constant table of rows, and the lookups over it.
#pragma once

#include <cstddef>
#include <cstdint>

struct CodePageEntry {
    uint16_t codePage;         // 8859 for every ISO 8859 part
    uint16_t variant;          // 0 base row; EBCDIC: the GCSGID; 8859: the part number
    uint16_t ccsid;            // 0 = none
    uint16_t euroPosition;     // 0 = none; 0x20AC for the Unicode rows
    uint32_t kind;             // CODEXA_KIND_*
    const uint16_t* toUnicode; // 256 entries shared by the rows of one code page; null: Unicode
    const uint8_t* mask;       // optional: nonzero marks a byte this variant leaves undefined
    const char* name;
};

namespace codexa {

inline constexpr uint16_t kUndefined = 0xFFFD;

// The directory rows, in lookup order.
const CodePageEntry* directoryBegin();
const CodePageEntry* directoryEnd();
size_t directorySize();

// Lookup by code page number and variant: the first exact row; with variant 0, else the last
// row whose CCSID equals the number. Plain UTF-16 and UTF-32 (1200, 1232) stand for their
// little-endian forms. Returns null when nothing matches.
const CodePageEntry* findByNumber(uint32_t codePage, uint32_t variant);

// Lookup by CCSID: the first row with that CCSID, else the last base row (variant 0) of the
// code page with that number.
const CodePageEntry* findByCcsid(uint32_t ccsid);

// The character of byte b in a row, with the row's mask applied.
inline uint16_t maskedChar(const CodePageEntry& row, unsigned b) {
    if (row.mask != nullptr && row.mask[b] != 0) return kUndefined;
    return row.toUnicode[b];
}

} // namespace codexa
