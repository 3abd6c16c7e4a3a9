// Conversions between two character sets: byte for byte through two 256-byte tables when both
// are single-byte code pages, otherwise character by character through Unicode. Optionally
// rewrites line ends into one convention.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "areas.h"
#include "codexa.h"
#include "directory.h"

using namespace codexa;

namespace {

// Code points that may stand for one another when the target lacks a character, searched in
// this order. Each group ends with 0.
const uint16_t kEquivalenceGroups[15][5] = {
    {0x2022, 0x2219, 0x00B7, 0x0387, 0}, // bullet, bullet operator, middle dot, ano teleia
    {0x00B0, 0x00BA, 0x02DA, 0x2070, 0}, // degree, masculine ordinal, ring above, sup. zero
    {0x00AF, 0x203E, 0},                 // macron, overline
    {0x0060, 0x0300, 0},                 // grave accent, combining grave
    {0x00B4, 0x0301, 0x0384, 0},         // acute accent, combining acute, tonos
    {0x00B5, 0x03BC, 0},                 // micro sign, small mu
    {0x00D0, 0x0110, 0},                 // capital eth, capital D with stroke
    {0x0021, 0x01C3, 0},                 // exclamation mark, retroflex click
    {0x005C, 0x2216, 0},                 // reverse solidus, set minus
    {0x007E, 0x223C, 0},                 // tilde, tilde operator
    {0x0394, 0x2206, 0},                 // capital delta, increment
    {0x03B1, 0x237A, 0},                 // alpha, APL alpha
    {0x03B9, 0x2373, 0},                 // iota, APL iota
    {0x03C1, 0x2374, 0},                 // rho, APL rho
    {0x03C9, 0x2375, 0},                 // omega, APL omega
};

bool isUnicode(const Charset* cs) {
    return cs->kind == CODEXA_KIND_UNICODE;
}

// True when the target has exactly this character: within its table, and the byte it maps
// to maps back to it.
bool representsExactly(const Charset* target, uint32_t ch) {
    return ch <= target->maxCodePoint && target->toUnicode[target->fromUnicode[ch]] == ch;
}

// The target byte for a character through the first equivalence group that holds it, or -1.
int equivalentByte(const Charset* target, uint16_t ch) {
    for (const auto& group : kEquivalenceGroups) {
        bool inGroup = false;
        for (const uint16_t* m = group; *m; ++m) inGroup |= (*m == ch);
        if (!inGroup) continue;
        for (const uint16_t* m = group; *m; ++m)
            if (*m != ch && representsExactly(target, *m)) return target->fromUnicode[*m];
        return -1; // only the first group that holds the character is searched
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Line ends.

enum LineChar : uint8_t { kCR, kLF, kNL };

struct LineEnd {
    LineChar chars[2];
    int count; // 0: line-end conversion off
};

// The line end that a newline mode writes on an output character set.
LineEnd lineEndFor(int mode, const Charset* out) {
    if (mode >= 8) {
        if (isUnicode(out))
            mode = 4;
        else if (mode >= 9 && out->codePage == 8859)
            mode = 4;
        else if (out->kind == CODEXA_KIND_ASCII)
            mode = 5;
        else
            mode = 2;
    }
    const bool hasNl = out->nl != 0;
    switch (mode) {
    case 2:
        return hasNl ? LineEnd{{kNL, kNL}, 1} : LineEnd{{kLF, kLF}, 1};
    case 3:
        return {{kCR, kCR}, 1};
    case 4:
        return {{kLF, kLF}, 1};
    case 5:
        return {{kCR, kLF}, 2};
    case 6:
        return {{kLF, kCR}, 2};
    case 7:
        return hasNl ? LineEnd{{kCR, kNL}, 2} : LineEnd{{kCR, kLF}, 2};
    default:
        return {{kCR, kCR}, 0}; // 0, 1 and negative modes: no conversion
    }
}

uint8_t lineByte(const Charset* cs, LineChar c) {
    return c == kCR ? cs->cr : c == kLF ? cs->lf : cs->nl;
}

uint32_t lineCodePoint(LineChar c) {
    return c == kCR ? 0x0D : c == kLF ? 0x0A : 0x85;
}

// ---------------------------------------------------------------------------------------------
// Single-byte pair.

int convertTable(const uint8_t** input, const uint8_t* inEnd, uint8_t** output, uint8_t* outEnd,
                 const uint8_t* table, const Charset* in, const Charset* out, int mode) {
    const uint8_t* p = *input;
    uint8_t* q = *output;
    LineEnd le = (in->cr != 0 && out->cr != 0) ? lineEndFor(mode, out) : LineEnd{{kCR, kCR}, 0};

    if (le.count == 0) {
        size_t room = static_cast<size_t>(outEnd - q);
        size_t n = static_cast<size_t>(inEnd - p);
        if (n > room) n = room;
        for (size_t i = 0; i < n; ++i) q[i] = table[p[i]];
        *input = p + n;
        *output = q + n;
        return *input == inEnd ? CODEXA_OK : CODEXA_FULL;
    }

    const uint8_t cr = in->cr, lf = in->lf, nl = in->nl;
    uint8_t endBytes[2] = {lineByte(out, le.chars[0]), lineByte(out, le.chars[1])};
    int status = CODEXA_OK;
    while (p < inEnd) {
        const uint8_t b = *p;
        const bool isLineEnd = b == cr || (lf != 0 && b == lf) || (nl != 0 && b == nl);
        if (!isLineEnd) {
            if (q == outEnd) {
                status = CODEXA_FULL;
                break;
            }
            *q++ = table[b];
            ++p;
            continue;
        }
        if (outEnd - q < le.count) {
            status = CODEXA_FULL;
            break;
        }
        *q++ = endBytes[0];
        if (le.count == 2) *q++ = endBytes[1];
        ++p;
        if (p < inEnd) {
            const uint8_t next = *p;
            if ((b == cr && ((lf != 0 && next == lf) || (nl != 0 && next == nl))) ||
                (lf != 0 && b == lf && next == cr))
                ++p;
        }
    }
    *input = p;
    *output = q;
    return status;
}

// ---------------------------------------------------------------------------------------------
// Through Unicode. Each encoding form is a decoder and an encoder; eConvert picks the pair.

enum Form { kSingle, kUtf8, kUtf16le, kUtf16be, kUtf32le, kUtf32be };

Form formOf(const Charset* cs) {
    if (!isUnicode(cs)) return kSingle;
    const bool le = (cs->flags & CODEXA_LITTLE_ENDIAN) != 0;
    if (cs->flags & CODEXA_UNIT32) return le ? kUtf32le : kUtf32be;
    if (cs->flags & CODEXA_UNIT16) return le ? kUtf16le : kUtf16be;
    return kUtf8;
}

inline uint32_t load16(const uint8_t* p, bool le) {
    return le ? static_cast<uint32_t>(p[0] | (p[1] << 8))
              : static_cast<uint32_t>((p[0] << 8) | p[1]);
}
inline uint32_t load32(const uint8_t* p, bool le) {
    return le ? (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24)
              : (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
                 uint32_t(p[3]));
}

// Decodes one character at p (at least one code unit is available). Returns a status: OK with
// the code point and its length in bytes, INCOMPLETE or INVALID.
template <Form F>
inline int decode(const uint8_t* p, const uint8_t* end, const Charset* cs, uint32_t& cp,
                  size_t& len) {
    if constexpr (F == kSingle) {
        cp = cs->toUnicode[*p];
        len = 1;
        return CODEXA_OK;
    } else if constexpr (F == kUtf8) {
        const uint8_t b = *p;
        if (b < 0x80) {
            cp = b;
            len = 1;
            return CODEXA_OK;
        }
        size_t n;
        uint32_t v;
        if (b >= 0xC2 && b <= 0xDF) {
            n = 2;
            v = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            n = 3;
            v = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4;
            v = b & 0x07;
        } else
            return CODEXA_INVALID;
        // Continuation bytes are checked as far as they go before an incomplete end is reported,
        // so that a sequence broken inside the input is invalid, not incomplete.
        const size_t have = static_cast<size_t>(end - p);
        for (size_t i = 1; i < n; ++i) {
            if (i >= have) return CODEXA_INCOMPLETE;
            if ((p[i] & 0xC0) != 0x80) return CODEXA_INVALID;
            v = (v << 6) | (p[i] & 0x3F);
        }
        if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return CODEXA_INVALID;
        cp = v;
        len = n;
        return CODEXA_OK;
    } else if constexpr (F == kUtf16le || F == kUtf16be) {
        constexpr bool le = F == kUtf16le;
        const uint32_t u = load16(p, le);
        if (u >= 0xDC00 && u <= 0xDFFF) return CODEXA_INVALID;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (end - p < 4) return CODEXA_INCOMPLETE;
            const uint32_t low = load16(p + 2, le);
            if (low < 0xDC00 || low > 0xDFFF) return CODEXA_INVALID;
            cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            len = 4;
            return CODEXA_OK;
        }
        cp = u;
        len = 2;
        return CODEXA_OK;
    } else {
        const uint32_t u = load32(p, F == kUtf32le);
        if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return CODEXA_INVALID;
        cp = u;
        len = 4;
        return CODEXA_OK;
    }
}

template <Form F> constexpr size_t unitSize() {
    return (F == kUtf32le || F == kUtf32be) ? 4 : (F == kUtf16le || F == kUtf16be) ? 2 : 1;
}

// Bytes needed to encode a code point.
template <Form F> inline size_t encodedSize(uint32_t cp) {
    if constexpr (F == kSingle)
        return 1;
    else if constexpr (F == kUtf8)
        return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    else if constexpr (F == kUtf16le || F == kUtf16be)
        return cp < 0x10000 ? 2 : 4;
    else
        return 4;
}

inline void store16(uint8_t* q, uint32_t u, bool le) {
    if (le) {
        q[0] = uint8_t(u);
        q[1] = uint8_t(u >> 8);
    } else {
        q[0] = uint8_t(u >> 8);
        q[1] = uint8_t(u);
    }
}

// Writes a code point; the caller has checked that encodedSize bytes fit.
template <Form F> inline uint8_t* encode(uint8_t* q, uint32_t cp, const Charset* cs) {
    if constexpr (F == kSingle) {
        *q = cp <= cs->maxCodePoint ? cs->fromUnicode[cp] : static_cast<uint8_t>(cs->substitution);
        return q + 1;
    } else if constexpr (F == kUtf8) {
        if (cp < 0x80) {
            *q = uint8_t(cp);
            return q + 1;
        }
        if (cp < 0x800) {
            q[0] = uint8_t(0xC0 | (cp >> 6));
            q[1] = uint8_t(0x80 | (cp & 0x3F));
            return q + 2;
        }
        if (cp < 0x10000) {
            q[0] = uint8_t(0xE0 | (cp >> 12));
            q[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            q[2] = uint8_t(0x80 | (cp & 0x3F));
            return q + 3;
        }
        q[0] = uint8_t(0xF0 | (cp >> 18));
        q[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        q[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        q[3] = uint8_t(0x80 | (cp & 0x3F));
        return q + 4;
    } else if constexpr (F == kUtf16le || F == kUtf16be) {
        constexpr bool le = F == kUtf16le;
        if (cp < 0x10000) {
            store16(q, cp, le);
            return q + 2;
        }
        const uint32_t v = cp - 0x10000;
        store16(q, 0xD800 + (v >> 10), le);
        store16(q + 2, 0xDC00 + (v & 0x3FF), le);
        return q + 4;
    } else {
        if (F == kUtf32le) {
            q[0] = uint8_t(cp);
            q[1] = uint8_t(cp >> 8);
            q[2] = uint8_t(cp >> 16);
            q[3] = uint8_t(cp >> 24);
        } else {
            q[0] = uint8_t(cp >> 24);
            q[1] = uint8_t(cp >> 16);
            q[2] = uint8_t(cp >> 8);
            q[3] = uint8_t(cp);
        }
        return q + 4;
    }
}

// A line-end character of the mode as it is written on the output: a single-byte page writes
// its own byte, a Unicode form the code point.
template <Form Out> inline size_t lineEndSize(const LineEnd& le) {
    size_t n = 0;
    for (int i = 0; i < le.count; ++i) n += encodedSize<Out>(lineCodePoint(le.chars[i]));
    return n;
}

template <Form Out>
inline uint8_t* writeLineEnd(uint8_t* q, const LineEnd& le, const Charset* out) {
    for (int i = 0; i < le.count; ++i) {
        if constexpr (Out == kSingle)
            *q++ = lineByte(out, le.chars[i]);
        else
            q = encode<Out>(q, lineCodePoint(le.chars[i]), out);
    }
    return q;
}

template <Form In, Form Out>
int convertUnicode(const uint8_t** input, const uint8_t* inEnd, uint8_t** output, uint8_t* outEnd,
                   const Charset* in, const Charset* out, const LineEnd& le) {
    const uint8_t* p = *input;
    uint8_t* q = *output;
    constexpr size_t inUnit = unitSize<In>();
    constexpr size_t outUnit = unitSize<Out>();
    int status = CODEXA_OK;
    for (;;) {
        if constexpr (In == kUtf8) {
            // Runs of ASCII, the bulk of most text, skip the general decoder. A CR or LF in the
            // run ends it when line ends are converted.
            const size_t room = static_cast<size_t>(outEnd - q) / encodedSize<Out>(0x41);
            const uint8_t* runEnd = p + std::min(static_cast<size_t>(inEnd - p), room);
            if (le.count == 0) {
                while (p < runEnd && *p < 0x80) q = encode<Out>(q, *p++, out);
            } else {
                while (p < runEnd && *p < 0x80 && *p != 0x0A && *p != 0x0D)
                    q = encode<Out>(q, *p++, out);
            }
        }
        const size_t left = static_cast<size_t>(inEnd - p);
        if (left < inUnit) {
            status = left == 0 ? CODEXA_OK : CODEXA_INCOMPLETE;
            break;
        }
        uint32_t cp;
        size_t len;
        int d = decode<In>(p, inEnd, in, cp, len);
        if (d != CODEXA_OK) {
            status = d;
            break;
        }
        if (static_cast<size_t>(outEnd - q) < outUnit) {
            status = CODEXA_FULL;
            break;
        }

        if (le.count != 0 && (cp == 0x0A || cp == 0x0D || cp == 0x85 || cp == 0x2028)) {
            size_t total = len;
            if ((cp == 0x0D || cp == 0x0A) && p + len < inEnd) {
                uint32_t next;
                size_t nextLen;
                if (static_cast<size_t>(inEnd - (p + len)) >= inUnit &&
                    decode<In>(p + len, inEnd, in, next, nextLen) == CODEXA_OK &&
                    ((cp == 0x0D && (next == 0x0A || next == 0x85)) ||
                     (cp == 0x0A && next == 0x0D)))
                    total += nextLen;
            }
            if (static_cast<size_t>(outEnd - q) < lineEndSize<Out>(le)) {
                status = CODEXA_FULL;
                break;
            }
            q = writeLineEnd<Out>(q, le, out);
            p += total;
            continue;
        }
        if (static_cast<size_t>(outEnd - q) < encodedSize<Out>(cp)) {
            status = CODEXA_FULL;
            break;
        }
        q = encode<Out>(q, cp, out);
        p += len;
    }
    *input = p;
    *output = q;
    return status;
}

using UnicodeConverter = int (*)(const uint8_t**, const uint8_t*, uint8_t**, uint8_t*,
                                 const Charset*, const Charset*, const LineEnd&);

template <Form In> UnicodeConverter pickOutput(Form out) {
    switch (out) {
    case kSingle:
        return convertUnicode<In, kSingle>;
    case kUtf8:
        return convertUnicode<In, kUtf8>;
    case kUtf16le:
        return convertUnicode<In, kUtf16le>;
    case kUtf16be:
        return convertUnicode<In, kUtf16be>;
    case kUtf32le:
        return convertUnicode<In, kUtf32le>;
    case kUtf32be:
        return convertUnicode<In, kUtf32be>;
    }
    return nullptr;
}

UnicodeConverter pick(Form in, Form out) {
    switch (in) {
    case kSingle:
        return pickOutput<kSingle>(out);
    case kUtf8:
        return pickOutput<kUtf8>(out);
    case kUtf16le:
        return pickOutput<kUtf16le>(out);
    case kUtf16be:
        return pickOutput<kUtf16be>(out);
    case kUtf32le:
        return pickOutput<kUtf32le>(out);
    case kUtf32be:
        return pickOutput<kUtf32be>(out);
    }
    return nullptr;
}

} // namespace

// Callers must not pass freed objects: the row check is only a best effort.
OPX_EXTERN_C OPX_API Conversion* pConversionBuild(const Charset* source, const Charset* target) {
    if (source == nullptr || target == nullptr || source->row == nullptr || target->row == nullptr)
        return nullptr;
    if (isUnicode(source) || isUnicode(target)) {
        auto* conv = static_cast<Conversion*>(std::calloc(1, sizeof(Conversion)));
        if (conv == nullptr) return nullptr;
        conv->source = source;
        conv->target = target;
        return conv;
    }

    uint8_t forward[256], reverse[256];
    std::memset(forward, static_cast<uint8_t>(target->substitution), sizeof forward);
    std::memset(reverse, static_cast<uint8_t>(source->substitution), sizeof reverse);
    bool targetLacks = false;
    for (unsigned b = 0; b < 256; ++b) {
        const uint16_t ch = source->toUnicode[b];
        if (ch == kUndefined) continue;
        if (ch > target->maxCodePoint) {
            targetLacks = true;
            continue;
        }
        const uint8_t t = target->fromUnicode[ch];
        const uint16_t back = target->toUnicode[t];
        if (back == ch) {
            forward[b] = t;
            reverse[t] = static_cast<uint8_t>(b);
        } else if (back != kUndefined) {
            targetLacks = true;
        }
    }
    if (targetLacks) {
        // Characters the target lacks take the first member of their equivalence group that it
        // has. The reverse entry follows, even over an exact mapping of the first pass.
        for (unsigned b = 0; b < 256; ++b) {
            const uint16_t ch = source->toUnicode[b];
            if (ch == kUndefined) continue;
            if (ch <= target->maxCodePoint && forward[b] != target->substitution) continue;
            int t = equivalentByte(target, ch);
            if (t < 0) continue;
            forward[b] = static_cast<uint8_t>(t);
            reverse[t] = static_cast<uint8_t>(b);
        }
    }

    auto* block = static_cast<unsigned char*>(std::calloc(1, sizeof(Conversion) + 512));
    if (block == nullptr) return nullptr;
    auto* conv = reinterpret_cast<Conversion*>(block);
    conv->source = source;
    conv->target = target;
    conv->forward = block + sizeof(Conversion);
    conv->reverse = conv->forward + 256;
    std::memcpy(conv->forward, forward, 256);
    std::memcpy(conv->reverse, reverse, 256);
    return conv;
}

OPX_EXTERN_C OPX_API void vConversionFree(Conversion* conv) {
    if (conv == nullptr || conv->source == nullptr) return;
    conv->source = nullptr;
    conv->target = nullptr;
    conv->forward = nullptr;
    conv->reverse = nullptr;
    std::free(conv);
}

OPX_EXTERN_C OPX_API int eConvert(const uint8_t** input, const uint8_t* inputEnd, uint8_t** output,
                                  uint8_t* outputEnd, const Conversion* conv, int direction,
                                  int newlineMode) {
    if (!codexa::areasValid(input, inputEnd, output, outputEnd) || conv == nullptr ||
        conv->source == nullptr || conv->target == nullptr)
        return CODEXA_INVALID;
    if (direction != 0 && direction != 1) return CODEXA_INVALID;
    const Charset* in = direction == 0 ? conv->source : conv->target;
    const Charset* out = direction == 0 ? conv->target : conv->source;

    if (conv->forward != nullptr && conv->reverse != nullptr) {
        const uint8_t* table = direction == 0 ? conv->forward : conv->reverse;
        return convertTable(input, inputEnd, output, outputEnd, table, in, out, newlineMode);
    }

    // A single-byte side without a carriage return (a 3270-masked page) has no line ends to
    // write, so line ends then convert like other characters.
    LineEnd le{{kCR, kCR}, 0};
    const bool singleWithoutCr =
        (!isUnicode(in) && in->cr == 0) || (!isUnicode(out) && out->cr == 0);
    if (!singleWithoutCr) le = lineEndFor(newlineMode, out);
    UnicodeConverter fn = pick(formOf(in), formOf(out));
    return fn(input, inputEnd, output, outputEnd, in, out, le);
}
