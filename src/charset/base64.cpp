// Base64 (the RFC 4648 alphabet, "=" as pad) in ASCII or in EBCDIC. No line breaks are written
// and none are skipped.
#include <cstddef>

#include "areas.h"
#include "codexa.h"

namespace {

constexpr char kAscii[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Alphabet {
    uint8_t encode[64];
    uint8_t pad;
    int8_t decode[256]; // -1 for every byte outside the alphabet, the pad included
};

// The same 64 characters and pad as EBCDIC bytes.
constexpr uint8_t toEbcdic(char c) {
    if (c >= 'A' && c <= 'I') return static_cast<uint8_t>(0xC1 + (c - 'A'));
    if (c >= 'J' && c <= 'R') return static_cast<uint8_t>(0xD1 + (c - 'J'));
    if (c >= 'S' && c <= 'Z') return static_cast<uint8_t>(0xE2 + (c - 'S'));
    if (c >= 'a' && c <= 'i') return static_cast<uint8_t>(0x81 + (c - 'a'));
    if (c >= 'j' && c <= 'r') return static_cast<uint8_t>(0x91 + (c - 'j'));
    if (c >= 's' && c <= 'z') return static_cast<uint8_t>(0xA2 + (c - 's'));
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(0xF0 + (c - '0'));
    if (c == '+') return 0x4E;
    if (c == '/') return 0x61;
    return 0x7E; // '='
}

constexpr Alphabet makeAlphabet(bool ebcdic) {
    Alphabet a{};
    for (int i = 0; i < 256; ++i) a.decode[i] = -1;
    for (int i = 0; i < 64; ++i) {
        a.encode[i] = ebcdic ? toEbcdic(kAscii[i]) : static_cast<uint8_t>(kAscii[i]);
        a.decode[a.encode[i]] = static_cast<int8_t>(i);
    }
    a.pad = ebcdic ? 0x7E : static_cast<uint8_t>('=');
    return a;
}

const Alphabet kAlphabets[2] = {makeAlphabet(false), makeAlphabet(true)};

const Alphabet* alphabetOf(int which) {
    return which == 0 || which == 1 ? &kAlphabets[which] : nullptr;
}

} // namespace

OPX_EXTERN_C OPX_API int ConvertToBase64(const uint8_t** input, const uint8_t* inEnd,
                                         uint8_t** output, uint8_t* outEnd, int alphabet) {
    const Alphabet* a = alphabetOf(alphabet);
    if (a == nullptr || !codexa::areasValid(input, inEnd, output, outEnd)) return CODEXA_INVALID;
    const uint8_t* p = *input;
    uint8_t* q = *output;
    int status = CODEXA_OK;
    while (p < inEnd) {
        if (outEnd - q < 4) {
            status = CODEXA_FULL;
            break;
        }
        const size_t n = inEnd - p >= 3 ? 3 : static_cast<size_t>(inEnd - p);
        const uint32_t v = (uint32_t(p[0]) << 16) | (n > 1 ? uint32_t(p[1]) << 8 : 0) |
                           (n > 2 ? uint32_t(p[2]) : 0);
        q[0] = a->encode[(v >> 18) & 0x3F];
        q[1] = a->encode[(v >> 12) & 0x3F];
        q[2] = n > 1 ? a->encode[(v >> 6) & 0x3F] : a->pad;
        q[3] = n > 2 ? a->encode[v & 0x3F] : a->pad;
        q += 4;
        p += n;
    }
    *input = p;
    *output = q;
    return status;
}

OPX_EXTERN_C OPX_API int ConvertFromBase64(const uint8_t** input, const uint8_t* inEnd,
                                           uint8_t** output, uint8_t* outEnd, int alphabet) {
    const Alphabet* a = alphabetOf(alphabet);
    if (a == nullptr || !codexa::areasValid(input, inEnd, output, outEnd)) return CODEXA_INVALID;
    const uint8_t* p = *input;
    uint8_t* q = *output;
    int status = CODEXA_OK;
    while (p < inEnd) {
        if (inEnd - p < 4) {
            status = CODEXA_INCOMPLETE;
            break;
        }
        int v[4];
        int k = 0;
        while (k < 4 && (v[k] = a->decode[p[k]]) >= 0) ++k;
        if (k == 4) {
            if (outEnd - q < 3) {
                status = CODEXA_FULL;
                break;
            }
            q[0] = static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4));
            q[1] = static_cast<uint8_t>(((v[1] & 0x0F) << 4) | (v[2] >> 2));
            q[2] = static_cast<uint8_t>(((v[2] & 0x03) << 6) | v[3]);
            q += 3;
        } else if (k == 3) {
            if ((v[2] & 0x03) != 0 || p[3] != a->pad) {
                status = CODEXA_INVALID;
                break;
            }
            if (outEnd - q < 2) {
                status = CODEXA_FULL;
                break;
            }
            q[0] = static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4));
            q[1] = static_cast<uint8_t>(((v[1] & 0x0F) << 4) | (v[2] >> 2));
            q += 2;
        } else if (k == 2) {
            if ((v[1] & 0x0F) != 0 || p[2] != a->pad || p[3] != a->pad) {
                status = CODEXA_INVALID;
                break;
            }
            if (outEnd - q < 1) {
                status = CODEXA_FULL;
                break;
            }
            q[0] = static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4));
            q += 1;
        } else {
            status = CODEXA_INVALID;
            break;
        }
        p += 4;
    }
    *input = p;
    *output = q;
    return status;
}
