// Conversions: the table pair, the equivalence groups, line-end modes, the Unicode path with
// its status codes, and Base64.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codexa.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Pair {
    Charset* source;
    Charset* target;
    Conversion* conv;
    Pair(uint32_t from, uint32_t to)
        : source(pCharsetLoad(from, 0)), target(pCharsetLoad(to, 0)),
          conv(pConversionBuild(source, target)) {}
    ~Pair() {
        vConversionFree(conv);
        vCharsetFree(source);
        vCharsetFree(target);
    }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;
};

struct Result {
    int status;
    size_t consumed;
    Bytes out;
};

Result convert(const Conversion* conv, const Bytes& in, int direction = 0, int mode = 0,
               size_t room = 4096) {
    Bytes out(room + 1, 0xEE); // one guard byte beyond the area
    const uint8_t* p = in.data();
    uint8_t* q = out.data();
    int status = eConvert(&p, in.data() + in.size(), &q, out.data() + room, conv, direction, mode);
    EXPECT_EQ(out[room], 0xEE) << "written at or beyond the output end";
    out.resize(static_cast<size_t>(q - out.data()));
    return {status, static_cast<size_t>(p - in.data()), out};
}

Bytes bytes(std::initializer_list<int> list) {
    Bytes b;
    for (int v : list) b.push_back(static_cast<uint8_t>(v));
    return b;
}

Bytes str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(Conversion, SingleBytePair) {
    Pair p(1047, 819);
    ASSERT_NE(p.conv, nullptr);
    ASSERT_NE(p.conv->forward, nullptr);
    EXPECT_EQ(p.conv->forward[0xC1], 0x41);
    EXPECT_EQ(p.conv->reverse[0x41], 0xC1);
    EXPECT_EQ(convert(p.conv, bytes({0xC1, 0x81, 0xF0})).out, str("Aa0"));
    EXPECT_EQ(convert(p.conv, str("Aa0"), 1).out, bytes({0xC1, 0x81, 0xF0}));
    // 1047 and 819 hold the same 256 characters: both tables are permutations.
    std::vector<bool> seen(256);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(p.conv->reverse[p.conv->forward[b]], b);
        seen[p.conv->forward[b]] = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
}

TEST(Conversion, OutputFullAndEmptyInput) {
    Pair p(1047, 819);
    Result r = convert(p.conv, bytes({0xC1, 0xC2, 0xC3}), 0, 0, 2);
    EXPECT_EQ(r.status, CODEXA_FULL);
    EXPECT_EQ(r.consumed, 2u);
    EXPECT_EQ(r.out, str("AB"));
    r = convert(p.conv, {}, 0, 0, 0);
    EXPECT_EQ(r.status, CODEXA_OK);
}

TEST(Conversion, EquivalenceGroups) {
    Pair p(1252, 37);
    // The bullet, which 37 lacks, becomes its middle dot through group 1; the euro sign, which
    // 37 lacks and no group holds, the substitution byte.
    EXPECT_EQ(p.conv->forward[0x95], 0xB3);
    EXPECT_EQ(p.conv->forward[0x80], 0x3F);
    EXPECT_EQ(p.conv->forward[0xB7], 0xB3) << "1252's own middle dot";
    // The second pass sets the reverse entry too, over the exact one of the first pass.
    EXPECT_EQ(p.conv->reverse[0xB3], 0x95);
    EXPECT_EQ(p.conv->forward['A'], 0xC1);
}

TEST(Conversion, MissingOrFreedArguments) {
    Charset* a = pCharsetLoad(1047, 0);
    EXPECT_EQ(pConversionBuild(a, nullptr), nullptr);
    EXPECT_EQ(pConversionBuild(nullptr, a), nullptr);
    vCharsetFree(a);
    vConversionFree(nullptr);
    Bytes in = str("x"), out(4);
    const uint8_t* ip = in.data();
    uint8_t* op = out.data();
    EXPECT_EQ(eConvert(&ip, in.data() + 1, &op, out.data() + 4, nullptr, 0, 0), CODEXA_INVALID);
    Pair p(1047, 819);
    EXPECT_EQ(eConvert(&ip, in.data() + 1, &op, out.data() + 4, p.conv, 2, 0), CODEXA_INVALID);
    EXPECT_EQ(eConvert(&ip, in.data() + 1, &op, out.data() + 4, p.conv, -1, 0), CODEXA_INVALID);
    Conversion fake{};
    EXPECT_EQ(eConvert(&ip, in.data() + 1, &op, out.data() + 4, &fake, 0, 0), CODEXA_INVALID);
}

TEST(Conversion, LineEndModesSingleByte) {
    Pair e2a(1047, 1252);
    EXPECT_EQ(convert(e2a.conv, bytes({0x0D, 0x25}), 0, 5).out, bytes({0x0D, 0x0A}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 5).out, bytes({0x0D, 0x0A}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x25, 0x0D}), 0, 5).out, bytes({0x0D, 0x0A}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x0D, 0x15}), 0, 5).out, bytes({0x0D, 0x0A})) << "CR NL";
    EXPECT_EQ(convert(e2a.conv, bytes({0x15, 0x25}), 0, 5).out, bytes({0x0D, 0x0A, 0x0D, 0x0A}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x25, 0x25}), 0, 4).out, bytes({0x0A, 0x0A}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 2).out, bytes({0x0A})) << "1252 has no NL";
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 3).out, bytes({0x0D}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 6).out, bytes({0x0A, 0x0D}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 7).out, bytes({0x0D, 0x0A}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 8).out, bytes({0x0D, 0x0A})) << "ASCII: CR LF";
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 0).out, bytes({e2a.conv->forward[0x15]}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, 1).out, bytes({e2a.conv->forward[0x15]}));
    EXPECT_EQ(convert(e2a.conv, bytes({0x15}), 0, -4).out, bytes({e2a.conv->forward[0x15]}));

    Pair a2e(1252, 1047);
    EXPECT_EQ(convert(a2e.conv, bytes({0x0D, 0x0A}), 0, 2).out, bytes({0x15}));
    EXPECT_EQ(convert(a2e.conv, bytes({0x0A}), 0, 7).out, bytes({0x0D, 0x15}));
    EXPECT_EQ(convert(a2e.conv, bytes({0x0A}), 0, 8).out, bytes({0x15})) << "EBCDIC: NL";
    EXPECT_EQ(convert(a2e.conv, bytes({0x0A}), 0, 9).out, bytes({0x15}));
    // Direction 1 of a 1047-to-8859 conversion writes 8859 output: mode 9 takes LF.
    Pair e2i(1047, 819);
    EXPECT_EQ(convert(e2i.conv, bytes({0x15}), 0, 8).out, bytes({0x0D, 0x0A}));
    EXPECT_EQ(convert(e2i.conv, bytes({0x15}), 0, 9).out, bytes({0x0A}));
    EXPECT_EQ(convert(e2i.conv, bytes({0x0D, 0x0A}), 1, 9).out, bytes({0x15}));
    EXPECT_EQ(convert(e2i.conv,
                      str("a\x85"
                          "b"),
                      1, 4)
                  .out,
              bytes({0x81, 0x25, 0x82}))
        << "8859-1 has NL 0x85";
}

TEST(Conversion, LineEndThatDoesNotFit) {
    Pair p(1047, 1252);
    Result r = convert(p.conv, bytes({0xC1, 0x15, 0xC2}), 0, 5, 2);
    EXPECT_EQ(r.status, CODEXA_FULL);
    EXPECT_EQ(r.consumed, 1u) << "the input stays at the line-end byte";
    EXPECT_EQ(r.out, str("A"));
    Result rest = convert(p.conv, bytes({0x15, 0xC2}), 0, 5, 8);
    EXPECT_EQ(rest.status, CODEXA_OK);
    EXPECT_EQ(rest.out, str("\r\nB"));
}

TEST(Conversion, PairsAreRecognisedWithinOneCall) {
    Pair p(1252, 1047);
    Result first = convert(p.conv, bytes({'a', 0x0D}), 0, 4);
    Result second = convert(p.conv, bytes({0x0A, 'b'}), 0, 4);
    EXPECT_EQ(first.out, bytes({0x81, 0x25}));
    EXPECT_EQ(second.out, bytes({0x25, 0x82})) << "two line ends";
}

TEST(Conversion, MaskedPageSwitchesLineEndsOff) {
    Charset* a = pCharsetLoad(1252, 0);
    Charset* e = pCharsetLoad(1047, 0);
    vCharsetMask3270(e);
    Conversion* c = pConversionBuild(a, e);
    EXPECT_EQ(convert(c, bytes({0x0D, 0x0A}), 0, 5).out, bytes({0x3F, 0x3F}));
    vConversionFree(c);
    // Through Unicode as well: no line end made of zero bytes.
    Charset* u = pCharsetLoad(1208, 0);
    c = pConversionBuild(u, e);
    EXPECT_EQ(convert(c, str("a\r\nb"), 0, 5).out, bytes({0x81, 0x3F, 0x3F, 0x82}));
    EXPECT_EQ(convert(c, bytes({0x81, 0x15}), 1, 4).out, bytes({0x61, 0xEF, 0xBF, 0xBD}))
        << "a masked byte decodes to U+FFFD";
    vConversionFree(c);
    vCharsetFree(u);
    vCharsetFree(a);
    vCharsetFree(e);
}

TEST(Conversion, LaterSwitchesAreNotSeen) {
    Charset* a = pCharsetLoad(1252, 0);
    Charset* e = pCharsetLoad(37, 0);
    Conversion* c = pConversionBuild(a, e);
    vCharsetEnableEuro(e);
    EXPECT_EQ(c->forward[0x80], 0x3F);
    Conversion* after = pConversionBuild(a, e);
    EXPECT_EQ(after->forward[0x80], 0x9F);
    vConversionFree(after);
    vConversionFree(c);
    vCharsetFree(a);
    vCharsetFree(e);
}

// ---------------------------------------------------------------------------------------------

TEST(Conversion, Utf8Input) {
    Pair p(1208, 1047);
    EXPECT_EQ(p.conv->forward, nullptr);
    Result r = convert(p.conv, str("A\xC3\xA4\xE2\x82\xAC"));
    EXPECT_EQ(r.status, CODEXA_OK);
    EXPECT_EQ(r.out, bytes({0xC1, 0x43, 0x3F})) << "A, a-umlaut, euro (not in 1047)";
    r = convert(p.conv, str("A\xC3"));
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE);
    EXPECT_EQ(r.consumed, 1u);
    for (const std::string& bad :
         {std::string("\xC0\x80"), std::string("\xED\xA0\x80"), std::string("\x80"),
          std::string("\xF5\x80\x80\x80"), std::string("\xC3\x41"), std::string("\xF4\x90\x80\x80"),
          std::string("\xFF")}) {
        r = convert(p.conv, str("x" + bad));
        EXPECT_EQ(r.status, CODEXA_INVALID) << testing::PrintToString(bad);
        EXPECT_EQ(r.consumed, 1u) << "the input stays at the offending character";
    }
    r = convert(p.conv, str("\xE2\x82"));
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE);
    r = convert(p.conv, str("\xE0\x80\x80"));
    EXPECT_EQ(r.status, CODEXA_OK) << "overlong three-byte forms are not rejected";
}

TEST(Conversion, Utf16Output) {
    Pair p(1208, 1202);
    Result r = convert(p.conv, str("\xF0\x9F\x98\x80"), 0, 0, 2);
    EXPECT_EQ(r.status, CODEXA_FULL);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_TRUE(r.out.empty());
    r = convert(p.conv, str("\xF0\x9F\x98\x80"), 0, 0, 4);
    EXPECT_EQ(r.out, bytes({0x3D, 0xD8, 0x00, 0xDE}));
    r = convert(p.conv, bytes({0x3D, 0xD8, 0x00, 0xDE, 0x41, 0x00}), 1);
    EXPECT_EQ(r.out, str("\xF0\x9F\x98\x80"
                         "A"));
    r = convert(p.conv, bytes({0x00, 0xDC}), 1);
    EXPECT_EQ(r.status, CODEXA_INVALID) << "a lone low surrogate";
    r = convert(p.conv, bytes({0x00, 0xD8, 0x41, 0x00}), 1);
    EXPECT_EQ(r.status, CODEXA_INVALID) << "a high surrogate without its low one";
    r = convert(p.conv, bytes({0x00, 0xD8}), 1);
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE);
    r = convert(p.conv, bytes({0x41}), 1);
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE) << "less than one code unit";

    Pair be(1208, 1201);
    EXPECT_EQ(convert(be.conv, str("A")).out, bytes({0x00, 0x41}));
}

TEST(Conversion, Utf32) {
    Pair p(1234, 1233);
    Result r = convert(p.conv, bytes({0x00, 0xF6, 0x01, 0x00}));
    EXPECT_EQ(r.out, bytes({0x00, 0x01, 0xF6, 0x00}));
    r = convert(p.conv, bytes({0x00, 0x00, 0x11, 0x00}));
    EXPECT_EQ(r.status, CODEXA_INVALID);
    r = convert(p.conv, bytes({0x00, 0xD8, 0x00, 0x00}));
    EXPECT_EQ(r.status, CODEXA_INVALID);
    r = convert(p.conv, bytes({0x41, 0x00, 0x00}));
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE);
}

TEST(Conversion, SingleByteThroughUnicode) {
    Pair p(37, 1208);
    Result r = convert(p.conv, bytes({0xC1, 0x9F, 0x41}));
    EXPECT_EQ(r.out, str("A\xC2\xA4\xC2\xA0"));
    Charset* masked = pCharsetLoad(37, 101);
    Charset* u = pCharsetLoad(1208, 0);
    Conversion* c = pConversionBuild(masked, u);
    EXPECT_EQ(convert(c, bytes({0x41})).out, str("\xEF\xBF\xBD")) << "undefined byte: U+FFFD";
    vConversionFree(c);
    c = pConversionBuild(u, masked);
    EXPECT_EQ(convert(c, str("\xC2\xA0")).out, bytes({0x3F})) << "masked character: substitution";
    EXPECT_EQ(convert(c, str("\xF0\x9F\x98\x80")).out, bytes({0x3F})) << "beyond the table";
    vConversionFree(c);
    vCharsetFree(u);
    vCharsetFree(masked);
}

TEST(Conversion, LineEndsThroughUnicode) {
    Pair p(1208, 1047);
    EXPECT_EQ(convert(p.conv, str("a\r\nb"), 0, 2).out, bytes({0x81, 0x15, 0x82}));
    EXPECT_EQ(convert(p.conv,
                      str("a\r\xC2\x85"
                          "b"),
                      0, 2)
                  .out,
              bytes({0x81, 0x15, 0x82}));
    EXPECT_EQ(convert(p.conv, str("a\n\rb"), 0, 4).out, bytes({0x81, 0x25, 0x82}));
    EXPECT_EQ(convert(p.conv,
                      str("a\xE2\x80\xA8"
                          "b"),
                      0, 4)
                  .out,
              bytes({0x81, 0x25, 0x82}));
    EXPECT_EQ(convert(p.conv, str("\r\r"), 0, 4).out, bytes({0x25, 0x25}));
    EXPECT_EQ(convert(p.conv, str("\r\n"), 0, 0).out, bytes({0x0D, 0x25}));
    EXPECT_EQ(convert(p.conv, str("\r\n"), 0, 1).out, bytes({0x0D, 0x25}));
    EXPECT_EQ(convert(p.conv, bytes({0x15}), 1, 8).out, str("\n")) << "Unicode output: LF";
    EXPECT_EQ(convert(p.conv, bytes({0x15}), 1, 2).out, str("\xC2\x85"));
    EXPECT_EQ(convert(p.conv, bytes({0x25}), 1, 7).out, str("\r\xC2\x85"));
    // A CR whose following character is incomplete counts on its own.
    Result r = convert(p.conv, str("\r\xC2"), 0, 4);
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE);
    EXPECT_EQ(r.out, bytes({0x25}));
    EXPECT_EQ(r.consumed, 1u);
    // The whole line end fits or nothing is written.
    Pair u16(1208, 1202);
    r = convert(u16.conv, str("\r\n"), 0, 5, 3);
    EXPECT_EQ(r.status, CODEXA_FULL);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_TRUE(r.out.empty());
    r = convert(u16.conv, str("\r\n"), 0, 5, 4);
    EXPECT_EQ(r.out, bytes({0x0D, 0x00, 0x0A, 0x00}));
}

// ---------------------------------------------------------------------------------------------

namespace {

Result base64(bool encode, const Bytes& in, int alphabet = 0, size_t room = 64) {
    Bytes out(room + 1, 0xEE);
    const uint8_t* p = in.data();
    uint8_t* q = out.data();
    int status =
        encode ? ConvertToBase64(&p, in.data() + in.size(), &q, out.data() + room, alphabet)
               : ConvertFromBase64(&p, in.data() + in.size(), &q, out.data() + room, alphabet);
    EXPECT_EQ(out[room], 0xEE);
    out.resize(static_cast<size_t>(q - out.data()));
    return {status, static_cast<size_t>(p - in.data()), out};
}

} // namespace

TEST(Base64, Encode) {
    EXPECT_EQ(base64(true, str("abc")).out, str("YWJj"));
    EXPECT_EQ(base64(true, bytes({0})).out, str("AA=="));
    EXPECT_EQ(base64(true, str("ab")).out, str("YWI="));
    EXPECT_EQ(base64(true, {}).status, CODEXA_OK);
    EXPECT_EQ(base64(true, bytes({0xFB, 0xFF})).out, str("+/8="));
    Result r = base64(true, str("abcdef"), 0, 7);
    EXPECT_EQ(r.status, CODEXA_FULL);
    EXPECT_EQ(r.consumed, 3u);
    EXPECT_EQ(r.out, str("YWJj"));
    // EBCDIC alphabet: Y W J j as C1..E9 bytes, "=" as 0x7E.
    EXPECT_EQ(base64(true, str("abc"), 1).out, bytes({0xE8, 0xE6, 0xD1, 0x91}));
    EXPECT_EQ(base64(true, bytes({0xFB, 0xFF}), 1).out, bytes({0x4E, 0x61, 0xF8, 0x7E}));
    EXPECT_EQ(base64(true, str("a"), 2).status, CODEXA_INVALID);
}

TEST(Base64, Decode) {
    EXPECT_EQ(base64(false, str("YWI=")).out, str("ab"));
    EXPECT_EQ(base64(false, str("YWJ=")).status, CODEXA_INVALID);
    EXPECT_EQ(base64(false, str("YQ==")).out, str("a"));
    EXPECT_EQ(base64(false, str("YR==")).status, CODEXA_INVALID);
    EXPECT_EQ(base64(false, str("YQ=x")).status, CODEXA_INVALID);
    EXPECT_EQ(base64(false, str("Y===")).status, CODEXA_INVALID);
    Result r = base64(false, str("YWJjYW"));
    EXPECT_EQ(r.status, CODEXA_INCOMPLETE);
    EXPECT_EQ(r.out, str("abc"));
    EXPECT_EQ(r.consumed, 4u);
    r = base64(false, str("YQ==YWJj"));
    EXPECT_EQ(r.status, CODEXA_OK) << "a padded group in the middle is accepted";
    EXPECT_EQ(r.out, str("aabc"));
    r = base64(false, str("YW Jj"));
    EXPECT_EQ(r.status, CODEXA_INVALID) << "blanks are not skipped";
    r = base64(false, str("YWJjYWJj"), 0, 5);
    EXPECT_EQ(r.status, CODEXA_FULL);
    EXPECT_EQ(r.consumed, 4u);
    EXPECT_EQ(base64(false, bytes({0xE8, 0xE6, 0xD1, 0x91}), 1).out, str("abc"));
    EXPECT_EQ(base64(false, str("YWJj"), 1).status, CODEXA_INVALID)
        << "ASCII text, EBCDIC alphabet";
}

TEST(Base64, RoundTripAllLengths) {
    Bytes data;
    for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(i * 37 + 11));
    for (int alphabet = 0; alphabet < 2; ++alphabet)
        for (size_t n = 0; n <= data.size(); n += 7) {
            Bytes in(data.begin(), data.begin() + static_cast<long>(n));
            Result enc = base64(true, in, alphabet, 512);
            ASSERT_EQ(enc.status, CODEXA_OK);
            ASSERT_EQ(enc.out.size(), (n + 2) / 3 * 4);
            Result dec = base64(false, enc.out, alphabet, 512);
            ASSERT_EQ(dec.status, CODEXA_OK);
            ASSERT_EQ(dec.out, in);
        }
}
