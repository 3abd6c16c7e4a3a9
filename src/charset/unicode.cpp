// The Unicode 5.0 property database for U+0000..U+FFFF: class bits, simple case mappings,
// numeric values and one-level decompositions. Each table is 256 pages of 256 entries chosen
// by the high byte of the code point; identical pages are stored once.
#include "codexa.h"
#include "unicode_props.h"

namespace codexa {

namespace {
#include "tables/unicode.inc"
} // namespace

uint16_t ctypeOf(uint16_t cp) {
    return kCtypePages[kCtypeIndex[cp >> 8]][cp & 0xFF];
}
uint16_t numberOf(uint16_t cp) {
    return kNumberPages[kNumberIndex[cp >> 8]][cp & 0xFF];
}

// The case tables hold 0 for a code point that maps to itself.
uint16_t upperOf(uint16_t cp) {
    uint16_t m = kUpperPages[kUpperIndex[cp >> 8]][cp & 0xFF];
    return m != 0 ? m : cp;
}
uint16_t lowerOf(uint16_t cp) {
    uint16_t m = kLowerPages[kLowerIndex[cp >> 8]][cp & 0xFF];
    return m != 0 ? m : cp;
}

} // namespace codexa

using namespace codexa;

OPX_EXTERN_C OPX_API uint32_t uUnicodeCtype(uint32_t u) {
    return u > 0xFFFF ? 0 : ctypeOf(static_cast<uint16_t>(u));
}

OPX_EXTERN_C OPX_API uint32_t uUnicodeToUpper(uint32_t u) {
    return u > 0xFFFF ? u : upperOf(static_cast<uint16_t>(u));
}

OPX_EXTERN_C OPX_API uint32_t uUnicodeToLower(uint32_t u) {
    return u > 0xFFFF ? u : lowerOf(static_cast<uint16_t>(u));
}

OPX_EXTERN_C OPX_API uint32_t uUnicodeNumber(uint32_t u) {
    return u > 0xFFFF ? 0 : numberOf(static_cast<uint16_t>(u));
}

OPX_EXTERN_C OPX_API const DecompRecord* pDecompUnicode(uint32_t u) {
    if (u > 0xFFFF) return nullptr;
    uint16_t offset = kDecompPages[kDecompIndex[u >> 8]][u & 0xFF];
    if (offset == 0) return nullptr;
    // Records are laid out in the word array as tag, count, code points, each 4-byte aligned.
    return reinterpret_cast<const DecompRecord*>(kDecompData + offset);
}
