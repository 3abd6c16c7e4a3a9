/* codexa: single-byte code pages, Unicode encoding forms, conversions between them, the Unicode
 * 5.0 character properties of the BMP, and Base64.
 *
 * A Charset is built from one row of a fixed directory of code pages (by code page number and
 * variant, or by CCSID). It maps each of its 256 bytes to Unicode and back, classifies them and
 * knows its line-end, tab and substitution bytes. A Conversion joins two Charsets and converts
 * text between them with eConvert. All data is compiled in; there is no global mutable state.
 *
 * The records below are shared by declaration with the callers: keep their field order.
 */
#ifndef CODEXA_H
#define CODEXA_H

#include <stdint.h>

#include "platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One row of the code page directory (opaque to callers). */
typedef struct CodePageEntry CodePageEntry;

/* Kinds of a directory row and of a Charset. */
enum {
    CODEXA_KIND_UNICODE = 0, /* Unicode encoding form */
    CODEXA_KIND_ASCII = 1,   /* ASCII-based single-byte page */
    CODEXA_KIND_EBCDIC = 2,  /* EBCDIC single-byte page */
    CODEXA_KIND_OTHER = 3    /* other single-byte page */
};

/* Bits of Charset.flags. */
enum {
    CODEXA_EURO_PRESENT = 0x01,    /* the euro sign stands at the euro position */
    CODEXA_EURO_SWITCHABLE = 0x02, /* the euro sign can be switched in at the euro position */
    CODEXA_UTF8 = 0x04,
    CODEXA_UNIT16 = 0x08,       /* 16-bit code units */
    CODEXA_UNIT32 = 0x10,       /* 32-bit code units */
    CODEXA_LITTLE_ENDIAN = 0x20 /* little-endian code units */
};

/* A character set: one heap block, this header followed by its six tables. For a Unicode
 * encoding form the header stands alone and the six table references are null. */
typedef struct Charset {
    uint16_t* toUnicode;      /* 256 entries; U+FFFD marks an undefined byte */
    uint16_t* classBits;      /* 256 entries of Unicode class bits (see uUnicodeCtype) */
    uint16_t* numeric;        /* 256 numeric values */
    uint8_t* upper;           /* 256: byte of the upper-case counterpart, else the byte */
    uint8_t* lower;           /* 256: byte of the lower-case counterpart, else the byte */
    uint8_t* fromUnicode;     /* maxCodePoint + 1 entries; the substitution byte where none */
    const char* name;         /* the row's name */
    const CodePageEntry* row; /* the row the object was built from; cleared when freed */
    uint32_t maxCodePoint;    /* largest index of fromUnicode; 0x10FFFF for Unicode forms */
    uint32_t kind;            /* CODEXA_KIND_* */
    uint32_t flags;           /* CODEXA_* flag bits */
    uint16_t codePage;
    uint16_t variant;
    uint16_t ccsid;
    uint16_t euroPosition; /* set only when the row has one; 0x20AC for Unicode forms */
    uint16_t substitution; /* substitution byte; U+FFFD for Unicode forms */
    uint8_t cr;            /* carriage return byte */
    uint8_t lf;            /* line feed byte; 0 = none */
    uint8_t nl;            /* next-line byte; 0 = none */
    uint8_t ht;            /* horizontal tab byte; 0 = none */
} Charset;

/* The code pages chosen by the environment: ASCII, EBCDIC, terminal, report. Preset each field
 * to 0 or to the caller's own default before calling uGetCodePageEnv. */
typedef struct CodePageEnv {
    uint32_t ascii;
    uint32_t ebcdic;
    uint32_t terminal;
    uint32_t report;
} CodePageEnv;

/* A decomposition: tag (0 canonical, 1..16 the compatibility tags font, noBreak, initial,
 * medial, final, isolated, circle, super, sub, vertical, wide, narrow, small, square, fraction,
 * compat), count, then count 16-bit code units (a code point beyond U+FFFF, which
 * six CJK compatibility ideographs decompose to, is a UTF-16 surrogate pair). Records are
 * 4-byte aligned. */
typedef struct DecompRecord {
    uint16_t tag;
    uint16_t count;
    /* followed by count code points; see DecompRecordCodePoints */
} DecompRecord;

static inline const uint16_t* DecompRecordCodePoints(const DecompRecord* record) {
    return (const uint16_t*)(record + 1);
}

/* A conversion between a source and a target Charset. For two single-byte Charsets the two
 * 256-byte tables follow the record in the same allocation; when either is a Unicode form the
 * table references are null. */
typedef struct Conversion {
    const Charset* source;
    const Charset* target;
    uint8_t* forward; /* source byte -> target byte */
    uint8_t* reverse; /* target byte -> source byte */
} Conversion;

/* Status codes of eConvert, ConvertToBase64 and ConvertFromBase64. */
enum {
    CODEXA_OK = 0,         /* all input consumed */
    CODEXA_INCOMPLETE = 1, /* the input ends inside a character or Base64 group */
    CODEXA_FULL = 2,       /* the output area is full */
    CODEXA_INVALID = 3     /* invalid input, or no usable Conversion */
};

/* Character sets. */
OPX_API Charset* pCharsetLoad(uint32_t codePage, uint32_t variant);
OPX_API Charset* pCharsetLoadCCSID(uint32_t ccsid);
OPX_API void vCharsetFree(Charset* charset);
OPX_API void vCharsetEnableEuro(Charset* charset);
OPX_API void vCharsetDisableEuro(Charset* charset);
OPX_API void vCharsetSetSubChar(Charset* charset, uint32_t byte);
OPX_API void vCharsetSwapNewLine(Charset* charset);
OPX_API void vCharsetMask3270(Charset* charset);
OPX_API uint32_t uGetCodePageEnv(CodePageEnv* env);

/* Unicode 5.0 properties of U+0000..U+FFFF. */
OPX_API uint32_t uUnicodeCtype(uint32_t codePoint);
OPX_API uint32_t uUnicodeToUpper(uint32_t codePoint);
OPX_API uint32_t uUnicodeToLower(uint32_t codePoint);
OPX_API uint32_t uUnicodeNumber(uint32_t codePoint);
OPX_API const DecompRecord* pDecompUnicode(uint32_t codePoint);

/* Conversions. Newline modes: 0, 1 none; 2 NL (else LF); 3 CR; 4 LF; 5 CR LF; 6 LF CR;
 * 7 CR NL (else CR LF); 8 the output's own convention; 9 and above as 8, LF for ISO 8859. */
OPX_API Conversion* pConversionBuild(const Charset* source, const Charset* target);
OPX_API void vConversionFree(Conversion* conversion);
OPX_API int eConvert(const uint8_t** input, const uint8_t* inputEnd, uint8_t** output,
                     uint8_t* outputEnd, const Conversion* conversion, int direction,
                     int newlineMode);

/* Base64 (RFC 4648 alphabet, no line breaks). Alphabet 0 ASCII, 1 EBCDIC. */
OPX_API int ConvertToBase64(const uint8_t** input, const uint8_t* inputEnd, uint8_t** output,
                            uint8_t* outputEnd, int alphabet);
OPX_API int ConvertFromBase64(const uint8_t** input, const uint8_t* inputEnd, uint8_t** output,
                              uint8_t* outputEnd, int alphabet);

#ifdef __cplusplus
}
#endif

#endif /* CODEXA_H */
