// Building character sets from directory rows, and the switches that change them in place.
#include <cstdlib>
#include <cstring>

#include "codexa.h"
#include "directory.h"
#include "unicode_props.h"

using namespace codexa;

namespace {

constexpr uint16_t kEuro = 0x20AC;

bool isSingleByte(const Charset* cs) {
    return cs != nullptr && cs->kind != CODEXA_KIND_UNICODE && cs->toUnicode != nullptr;
}

// Class bits of a byte's character; an undefined byte (U+FFFD) has none.
uint16_t classOf(uint16_t ch) {
    return ch == kUndefined ? 0 : ctypeOf(ch);
}

// Fills the from-Unicode table from the to-Unicode table: the substitution byte everywhere,
// then each defined character's byte, the higher byte winning when two carry one character.
void rebuildFromUnicode(Charset* cs) {
    std::memset(cs->fromUnicode, static_cast<uint8_t>(cs->substitution),
                static_cast<size_t>(cs->maxCodePoint) + 1);
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t ch = cs->toUnicode[b];
        if (ch != kUndefined && ch <= cs->maxCodePoint)
            cs->fromUnicode[ch] = static_cast<uint8_t>(b);
    }
}

Charset* buildUnicode(const CodePageEntry* row) {
    auto* cs = static_cast<Charset*>(std::calloc(1, sizeof(Charset)));
    if (cs == nullptr) return nullptr;
    cs->name = row->name;
    cs->row = row;
    cs->maxCodePoint = 0x10FFFF;
    cs->kind = CODEXA_KIND_UNICODE;
    cs->codePage = row->codePage;
    cs->variant = row->variant;
    cs->ccsid = row->ccsid;
    cs->euroPosition = kEuro;
    cs->substitution = kUndefined;
    cs->cr = 0x0D;
    cs->lf = 0x0A;
    cs->nl = 0x85;
    cs->ht = 0x09;
    uint32_t flags = CODEXA_EURO_PRESENT;
    switch (row->codePage) {
    case 1201:
        flags |= CODEXA_UNIT16;
        break;
    case 1200: // never reached by a lookup: plain UTF-16 loads as 1202
    case 1202:
        flags |= CODEXA_UNIT16 | CODEXA_LITTLE_ENDIAN;
        break;
    case 1208:
        flags |= CODEXA_UTF8;
        break;
    case 1233:
        flags |= CODEXA_UNIT32;
        break;
    case 1232: // never reached, as 1200
    case 1234:
        flags |= CODEXA_UNIT32 | CODEXA_LITTLE_ENDIAN;
        break;
    default:
        break;
    }
    cs->flags = flags;
    return cs;
}

Charset* buildSingleByte(const CodePageEntry* row) {
    // The largest code point comes from the row's own (unmasked) table, so every character of
    // the code page, masked or not, has its from-Unicode entry; a page with a euro position
    // reaches at least U+20AC so that the euro sign can always be switched in.
    uint32_t maxCp = 0;
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t ch = row->toUnicode[b];
        if (ch != kUndefined && ch > maxCp) maxCp = ch;
    }
    if (row->euroPosition != 0 && maxCp < kEuro) maxCp = kEuro;

    // One zeroed block: header, three 16-bit tables, upper, lower, from-Unicode.
    const size_t size = sizeof(Charset) + 3 * 256 * sizeof(uint16_t) + 2 * 256 + maxCp + 1;
    auto* block = static_cast<unsigned char*>(std::calloc(1, size));
    if (block == nullptr) return nullptr;
    auto* cs = reinterpret_cast<Charset*>(block);
    unsigned char* p = block + sizeof(Charset);
    cs->toUnicode = reinterpret_cast<uint16_t*>(p);
    p += 256 * sizeof(uint16_t);
    cs->classBits = reinterpret_cast<uint16_t*>(p);
    p += 256 * sizeof(uint16_t);
    cs->numeric = reinterpret_cast<uint16_t*>(p);
    p += 256 * sizeof(uint16_t);
    cs->upper = p;
    p += 256;
    cs->lower = p;
    p += 256;
    cs->fromUnicode = p;

    cs->codePage = row->codePage;
    cs->variant = row->variant;
    cs->ccsid = row->ccsid;
    cs->kind = row->kind;
    cs->name = row->name;
    cs->row = row;
    cs->maxCodePoint = maxCp;

    for (unsigned b = 0; b < 256; ++b) cs->toUnicode[b] = maskedChar(*row, b);

    if (row->euroPosition != 0) {
        cs->euroPosition = row->euroPosition;
        // Judged on the object's own (masked) table: a variant that masks out a native euro
        // sign does not have it standing there.
        cs->flags = cs->toUnicode[row->euroPosition] == kEuro ? CODEXA_EURO_PRESENT
                                                              : CODEXA_EURO_SWITCHABLE;
    }

    cs->cr = 0x0D;
    if (row->kind == CODEXA_KIND_EBCDIC) {
        cs->substitution = 0x3F;
        cs->lf = 0x25;
        cs->nl = 0x15;
        cs->ht = 0x05;
    } else {
        cs->substitution = 0x1A;
        cs->lf = 0x0A;
        cs->ht = 0x09;
        cs->nl = cs->toUnicode[0x85] == 0x0085 ? 0x85 : 0;
    }

    for (unsigned b = 0; b < 256; ++b) {
        uint16_t ch = cs->toUnicode[b];
        cs->classBits[b] = classOf(ch);
        cs->numeric[b] = ch == kUndefined ? 0 : numberOf(ch);
    }

    // Case counterparts need the lowest byte that carries a character: fill the from-Unicode
    // table lowest-first for that, then build it for good (highest byte wins).
    for (int b = 255; b >= 0; --b) {
        uint16_t ch = cs->toUnicode[b];
        if (ch != kUndefined) cs->fromUnicode[ch] = static_cast<uint8_t>(b);
    }
    auto lowestByteOf = [cs](uint16_t ch, unsigned self) -> uint8_t {
        if (ch > cs->maxCodePoint || ch == kUndefined) return static_cast<uint8_t>(self);
        uint8_t t = cs->fromUnicode[ch];
        return cs->toUnicode[t] == ch ? t : static_cast<uint8_t>(self);
    };
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t ch = cs->toUnicode[b];
        cs->upper[b] = static_cast<uint8_t>(b);
        cs->lower[b] = static_cast<uint8_t>(b);
        if (ch == kUndefined) continue;
        if (uint16_t u = upperOf(ch); u != ch) cs->upper[b] = lowestByteOf(u, b);
        if (uint16_t l = lowerOf(ch); l != ch) cs->lower[b] = lowestByteOf(l, b);
    }
    rebuildFromUnicode(cs);
    return cs;
}

Charset* build(const CodePageEntry* row) {
    if (row == nullptr) return nullptr;
    return row->kind == CODEXA_KIND_UNICODE ? buildUnicode(row) : buildSingleByte(row);
}

} // namespace

OPX_EXTERN_C OPX_API Charset* pCharsetLoad(uint32_t codePage, uint32_t variant) {
    return build(findByNumber(codePage, variant));
}

OPX_EXTERN_C OPX_API Charset* pCharsetLoadCCSID(uint32_t ccsid) {
    return build(findByCcsid(ccsid));
}

// Callers must not pass an object that was already freed: the check of the row reference is
// only a best effort against a double free by the same caller, since the block is gone.
OPX_EXTERN_C OPX_API void vCharsetFree(Charset* cs) {
    if (cs == nullptr || cs->row == nullptr) return;
    cs->row = nullptr;
    std::free(cs);
}

OPX_EXTERN_C OPX_API void vCharsetEnableEuro(Charset* cs) {
    if (!isSingleByte(cs) || (cs->flags & CODEXA_EURO_SWITCHABLE) == 0 ||
        (cs->flags & CODEXA_EURO_PRESENT) != 0 || cs->row == nullptr)
        return;
    const unsigned p = cs->euroPosition;
    // The character the object itself has at the position (masked bytes are undefined).
    const uint16_t ch = maskedChar(*cs->row, p);
    cs->toUnicode[p] = kEuro;
    cs->classBits[p] = ctypeOf(kEuro);
    cs->fromUnicode[kEuro] = static_cast<uint8_t>(p);
    // An undefined character has no from-Unicode entry to give up.
    if (ch != kUndefined && ch <= cs->maxCodePoint)
        cs->fromUnicode[ch] = static_cast<uint8_t>(cs->substitution);
    cs->flags |= CODEXA_EURO_PRESENT;
}

OPX_EXTERN_C OPX_API void vCharsetDisableEuro(Charset* cs) {
    const uint32_t both = CODEXA_EURO_PRESENT | CODEXA_EURO_SWITCHABLE;
    if (!isSingleByte(cs) || (cs->flags & both) != both || cs->row == nullptr) return;
    const unsigned p = cs->euroPosition;
    const uint16_t ch = maskedChar(*cs->row, p);
    cs->toUnicode[p] = ch;
    cs->classBits[p] = classOf(ch);
    if (ch != kUndefined && ch <= cs->maxCodePoint) cs->fromUnicode[ch] = static_cast<uint8_t>(p);
    cs->fromUnicode[kEuro] = static_cast<uint8_t>(cs->substitution);
    cs->flags &= ~static_cast<uint32_t>(CODEXA_EURO_PRESENT);
}

OPX_EXTERN_C OPX_API void vCharsetSetSubChar(Charset* cs, uint32_t byte) {
    if (!isSingleByte(cs) || byte > 0xFF || byte == cs->substitution) return;
    if (cs->toUnicode[byte] == kUndefined) return;
    cs->substitution = static_cast<uint16_t>(byte);
    rebuildFromUnicode(cs);
}

OPX_EXTERN_C OPX_API void vCharsetSwapNewLine(Charset* cs) {
    if (!isSingleByte(cs) || cs->kind != CODEXA_KIND_EBCDIC || cs->nl == 0) return;
    if (cs->nl == 0x15) {
        cs->nl = 0x25;
        cs->lf = 0x15;
    } else {
        cs->nl = 0x15;
        cs->lf = 0x25;
    }
    cs->toUnicode[cs->lf] = 0x000A;
    cs->toUnicode[cs->nl] = 0x0085;
    cs->fromUnicode[0x000A] = cs->lf;
    cs->fromUnicode[0x0085] = cs->nl;
}

OPX_EXTERN_C OPX_API void vCharsetMask3270(Charset* cs) {
    if (!isSingleByte(cs) || cs->kind != CODEXA_KIND_EBCDIC) return;
    auto isControlPosition = [](unsigned b) { return (b >= 0x01 && b <= 0x3F) || b == 0xFF; };
    if (isControlPosition(cs->substitution)) cs->substitution = 0x3F;
    cs->cr = cs->lf = cs->nl = cs->ht = 0;
    for (unsigned b = 0; b < 256; ++b) {
        if (!isControlPosition(b)) continue;
        const uint16_t ch = cs->toUnicode[b];
        cs->toUnicode[b] = kUndefined;
        cs->classBits[b] = 0;
        cs->numeric[b] = 0;
        cs->upper[b] = cs->lower[b] = static_cast<uint8_t>(b);
        if (ch != kUndefined && ch <= cs->maxCodePoint)
            cs->fromUnicode[ch] = static_cast<uint8_t>(cs->substitution);
    }
}
