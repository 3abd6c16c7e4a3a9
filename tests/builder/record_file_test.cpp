// The record-format reader: every stored layout and text input, every reason code and the
// message that explains it, and the edge cases of each layout.
#include <gmock/gmock.h>

#include "build_support.h"
#include "codexa.h"
#include "record_file.h"

using namespace btest;
using testing::HasSubstr;

namespace {

struct Read {
    std::vector<std::string> records;
    int status = 0;
    int reason = 0;
    std::string trace;
    uint32_t lrecl = 0, blksize = 0;
};

struct Options {
    int code = RECFM_CODE_FIXED;
    uint32_t lrecl = 0, blksize = 0, flags = RECORD_STRIPPED;
    bool blocks = false;
    int mode = RECORD_MODE_STORED;
    const Charset* charset = nullptr;
    int tabs = 0;
    int trace = 1;
};

// Writes `data` to a file and reads it to its end (or first failure) as records or blocks.
Read readAll(const std::string& data, const Options& o) {
    testsupport::TempDir dir;
    const std::string path = (dir / "input").string();
    testsupport::writeFile(path, data);
    connect(o.trace);
    RecordFile f{};
    f.io.path = path.c_str();
    f.recfmCode = o.code;
    f.lrecl = o.lrecl;
    f.blksize = o.blksize;
    f.flags = o.flags;
    f.mode = o.mode;
    f.charset = o.charset;
    f.tabOption = o.tabs;
    Read r;
    EXPECT_EQ(bren::openRecordFile(f), IO_OK);
    int st;
    while ((st = o.blocks ? bren::readBlock(f) : bren::readRecord(f)) == IO_OK &&
           r.records.size() < 100000)
        r.records.emplace_back(reinterpret_cast<const char*>(f.record), f.recordLength);
    r.status = st;
    r.reason = f.reason;
    r.lrecl = f.lrecl;
    r.blksize = f.blksize;
    bren::closeRecordFile(f);
    r.trace = traced();
    return r;
}

Options stored(int code, uint32_t lrecl, uint32_t blksize, uint32_t flags = RECORD_STRIPPED) {
    Options o;
    o.code = code;
    o.lrecl = lrecl;
    o.blksize = blksize;
    o.flags = flags;
    return o;
}

Options text(int code, uint32_t lrecl, uint32_t blksize = 0, uint32_t extra = 0) {
    Options o = stored(code, lrecl, blksize, RECORD_STRIPPED | RECORD_TEXT | RECORD_TRIM | extra);
    return o;
}

std::string be16(uint32_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string rdw(uint32_t length, uint8_t code = 0) {
    return be16(length) + std::string(1, char(code)) + '\0';
}
std::string e(const std::string& s) {
    return bytesOf(xmitw::ebcdic(s));
}

} // namespace

TEST(RecordFile, AttributeChecksNameTheFailingAttribute) {
    struct Case {
        int code;
        uint32_t lrecl, blksize, flags;
        int reason;
        const char* message;
    } cases[] = {
        {RECFM_CODE_FIXED, 0, 800, 0, REASON_LRECL, "LRECL not specified"},
        {RECFM_CODE_FIXED, 32761, 0, 0, REASON_LRECL, "Invalid LRECL of 32761 specified"},
        {RECFM_CODE_FIXED, 80, 810, 0, REASON_LRECL, "Invalid LRECL of 80 specified"},
        {RECFM_CODE_FIXED_UNBLOCKED, 0, 0, 0, REASON_LRECL, "LRECL not specified"},
        {RECFM_CODE_FIXED, 80, 262145, 0, REASON_BLKSIZE, "Invalid BLKSIZE of 262145 specified"},
        {RECFM_CODE_UNDEFINED, 32761, 0, 0, REASON_LRECL, "Invalid LRECL of 32761"},
        {RECFM_CODE_PREFIXED, 32753, 0, 0, REASON_LRECL, "Invalid LRECL of 32753"},
        {RECFM_CODE_VARIABLE, 80, 8, 0, REASON_BLKSIZE, "Invalid BLKSIZE of 8 specified"},
        {RECFM_CODE_VARIABLE, 4, 0, 0, REASON_LRECL, "Invalid LRECL of 4 specified"},
        {RECFM_CODE_VARIABLE, 32757, 0, 0, REASON_LRECL, "Invalid LRECL of 32757"},
        {RECFM_CODE_VARIABLE_BLOCKED, 100, 100, 0, REASON_LRECL, "Invalid LRECL of 100"},
        {6, 80, 80, 0, REASON_RECFM, "Invalid RECFM code 6 specified"},
        // Text lines of a variable format are measured against LRECL - 4.
        {RECFM_CODE_VARIABLE_BLOCKED, 3, 0, RECORD_TEXT, REASON_LRECL,
         "Invalid LRECL of 3 specified"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Read r = readAll("x", stored(c.code, c.lrecl, c.blksize, RECORD_STRIPPED | c.flags));
        EXPECT_EQ(r.status, RECORD_FORMAT_ERROR);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(std::string("Error reading \"")));
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
    EXPECT_STREQ(bren::reasonText(REASON_EOF_IN_CHARACTER), "End of file in MBCS character");
    // Defaults: V without LRECL takes BLKSIZE - 4, and BLKSIZE LRECL + 4; U takes 32760.
    Read v = readAll(rdw(8) + "abcd", stored(RECFM_CODE_VARIABLE, 0, 104));
    EXPECT_EQ(v.lrecl, 100u);
    v = readAll(rdw(8) + "abcd", stored(RECFM_CODE_VARIABLE, 96, 0));
    EXPECT_EQ(v.blksize, 100u);
    v = readAll(be16(1) + "a", stored(RECFM_CODE_UNDEFINED, 0, 0));
    EXPECT_EQ(v.lrecl, 32760u);
    EXPECT_EQ(v.records, std::vector<std::string>{"a"});
}

TEST(RecordFile, FixedRecords) {
    EXPECT_EQ(readAll("", stored(RECFM_CODE_FIXED, 80, 80)).status, IO_EOF);
    const std::string data = std::string(80, 'a') + "b";
    Read r = readAll(data, stored(RECFM_CODE_FIXED, 80, 800));
    EXPECT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.reason, REASON_EOF_IN_RECORD);
    EXPECT_THAT(
        r.trace,
        HasSubstr("Short fixed length record of 1 out of 80 bytes at +80 while reading record 2"));
    r = readAll(data, stored(RECFM_CODE_FIXED_UNBLOCKED, 80, 0));
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1], "b");
    EXPECT_EQ(r.status, IO_EOF);
}

TEST(RecordFile, LengthPrefixedRecords) {
    // Code 2: the length does not count itself; code 3: it does. The prefix is kept unless
    // descriptors are stripped.
    Read r = readAll(be16(3) + "abc" + be16(1) + "d", stored(RECFM_CODE_UNDEFINED, 0, 0));
    EXPECT_EQ(r.records, (std::vector<std::string>{"abc", "d"}));
    r = readAll(be16(5) + "abc", stored(RECFM_CODE_PREFIXED, 0, 0, 0));
    EXPECT_EQ(r.records, std::vector<std::string>{be16(5) + "abc"});
    struct Case {
        std::string data;
        int code;
        uint32_t lrecl;
        int reason;
        const char* message;
    } cases[] = {
        {be16(3) + "abc" + "\x01", RECFM_CODE_UNDEFINED, 0, REASON_EOF_IN_RDW,
         "Short 2-byte RDW read at +5 while reading record 2"},
        {be16(0), RECFM_CODE_UNDEFINED, 0, REASON_RDW,
         "Invalid 2-byte RDW X'0000' read at +0 while reading record 1, LRECL=32760 reason: "
         "Invalid RDW"},
        {be16(2), RECFM_CODE_PREFIXED, 0, REASON_RDW, "Invalid 2-byte RDW X'0002'"},
        {be16(11) + "0123456789a", RECFM_CODE_UNDEFINED, 10, REASON_RECORD_TOO_LONG,
         "LRECL=10 reason: Record is too long"},
        {be16(4) + "ab", RECFM_CODE_UNDEFINED, 0, REASON_EOF_IN_RECORD,
         "Short record of 2 out of 4 bytes at +0 after reading record 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, stored(c.code, c.lrecl, 0));
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
}

TEST(RecordFile, VariableRecords) {
    Read r = readAll(rdw(7) + "abc" + rdw(4), stored(RECFM_CODE_VARIABLE, 80, 0));
    EXPECT_EQ(r.records, (std::vector<std::string>{"abc", ""}));
    r = readAll(rdw(7) + "abc", stored(RECFM_CODE_VARIABLE, 80, 0, 0));
    EXPECT_EQ(r.records, std::vector<std::string>{rdw(7) + "abc"});
    struct Case {
        std::string data;
        int reason;
        const char* message;
    } cases[] = {
        {rdw(3), REASON_RDW,
         "Invalid RDW X'00030000' of record 1 read at +0, LRECL=80 BLKSIZE=84 reason: Invalid RDW"},
        {rdw(0x51) + std::string(77, 'x'), REASON_RECORD_TOO_LONG, "Invalid RDW X'00510000'"},
        {std::string("\x00\x08", 2), REASON_EOF_IN_RDW,
         "Short RDW encountered while reading record 1"},
        {rdw(10) + "ab", REASON_EOF_IN_RECORD,
         "Short record of 2 out of 6 bytes at +0 while reading record 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, stored(RECFM_CODE_VARIABLE, 80, 0));
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
}

TEST(RecordFile, BlockedVariableRecords) {
    const std::string block = be16(4 + 7 + 4) + std::string(2, '\0') + rdw(7) + "abc" + rdw(4);
    Read r = readAll(block + block, stored(RECFM_CODE_VARIABLE_BLOCKED, 80, 0));
    EXPECT_EQ(r.records, (std::vector<std::string>{"abc", "", "abc", ""}));
    // An extended BDW (bit X'80') says 40000 bytes: accepted with no BLKSIZE or one that is as
    // large, refused with a smaller one.
    const std::string big = std::string("\x80\x00\x9C\x40", 4) + rdw(32004) +
                            std::string(32000, 'a') + rdw(7992) + std::string(7988, 'b');
    EXPECT_EQ(
        readAll(big, stored(RECFM_CODE_VARIABLE_BLOCKED, 0, 0, RECORD_STRIPPED | RECORD_SPANNED))
            .records.size(),
        2u);
    EXPECT_EQ(readAll(big, stored(RECFM_CODE_VARIABLE_BLOCKED, 32756, 40000)).records.size(), 2u);
    r = readAll(big, stored(RECFM_CODE_VARIABLE_BLOCKED, 32756, 32760));
    EXPECT_EQ(r.reason, REASON_BLOCK_TOO_LONG);
    EXPECT_THAT(r.trace,
                HasSubstr("Invalid BDW X'80009C40' of block 1 read at +0 while reading record 1, "
                          "BLKSIZE=32760 reason: Block is too long"));
    struct Case {
        std::string data;
        int reason;
        const char* message;
    } cases[] = {
        {be16(7) + std::string(2, '\0') + "abc", REASON_BDW,
         "Invalid BDW X'00070000' of block 1 read at +0 while reading record 1"},
        {std::string("\x80\x00\x10\x00", 4), REASON_BDW, "reason: Invalid BDW"},
        {block + std::string("\x00\x10", 2), REASON_EOF_IN_BDW,
         "Short BDW encountered for block 2 while reading record 3"},
        {be16(20) + std::string(2, '\0') + rdw(7) + "abc", REASON_EOF_IN_BLOCK,
         "Short block of 11 out of 20 bytes at +0 while reading block 1while reading record 1"},
        {be16(13) + std::string(2, '\0') + rdw(7) + "abc" + std::string("\x00\x04", 2),
         REASON_EOF_IN_RDW, "Short RDW encountered in block 1while reading record 2"},
        {be16(12) + std::string(2, '\0') + rdw(9) + "abcd", REASON_RDW,
         "Invalid RDW X'00090000' for record 1 in block 1 at +4, LRECL=80 reason: Invalid RDW"},
        {be16(100) + std::string(2, '\0') + rdw(96) + std::string(92, 'z'), REASON_RECORD_TOO_LONG,
         "LRECL=80 reason: Record is too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, stored(RECFM_CODE_VARIABLE_BLOCKED, 80, 0));
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
}

TEST(RecordFile, SpannedRecords) {
    const uint32_t vbs = RECORD_STRIPPED | RECORD_SPANNED;
    // A record in three segments: the first ends its block, the last begins one and is followed
    // by a complete record in the same block (as z/OS writes them).
    const std::string b1 = be16(4 + 4 + 3) + std::string(2, '\0') + rdw(4 + 3, 1) + "abc";
    const std::string b2 = be16(4 + 4 + 2) + std::string(2, '\0') + rdw(4 + 2, 3) + "de";
    const std::string b3 =
        be16(4 + 5 + 5) + std::string(2, '\0') + rdw(5, 2) + "f" + rdw(5, 0) + "g";
    Read r = readAll(b1 + b2 + b3, stored(RECFM_CODE_VARIABLE_BLOCKED, 0, 0, vbs));
    EXPECT_EQ(r.records, (std::vector<std::string>{"abcdef", "g"}));
    // Unblocked VS: the segments stand one after the other; without stripping the joined record
    // gets an RDW of its own.
    r = readAll(rdw(6, 1) + "ab" + rdw(5, 2) + "c",
                stored(RECFM_CODE_VARIABLE, 0, 0, vbs & ~RECORD_STRIPPED));
    EXPECT_EQ(r.records, std::vector<std::string>{rdw(7) + "abc"});
    struct Case {
        std::string data;
        int code;
        uint32_t lrecl;
        int reason;
        const char* message;
    } cases[] = {
        {b1, RECFM_CODE_VARIABLE_BLOCKED, 0, REASON_EOF_IN_SPANNED,
         "End-of-file encountered after spanned segment of record 1"},
        {b2, RECFM_CODE_VARIABLE_BLOCKED, 0, REASON_SDW,
         "Invalid SDW X'00060300' in block 1 at +4 while reading record 1, LRECL=0 reason: Invalid "
         "SDW"},
        {b1 + b1, RECFM_CODE_VARIABLE_BLOCKED, 0, REASON_SDW, "Invalid SDW X'00070100' in block 2"},
        {rdw(5, 4) + "x", RECFM_CODE_VARIABLE, 0, REASON_SDW, "reason: Invalid SDW"},
        // A first segment that does not end its block.
        {be16(4 + 5 + 5) + std::string(2, '\0') + rdw(5, 1) + "f" + rdw(5, 2) + "g",
         RECFM_CODE_VARIABLE_BLOCKED, 0, REASON_SDW, "X'00050100'"},
        {b1 + b2 + b3, RECFM_CODE_VARIABLE_BLOCKED, 9, REASON_RECORD_TOO_LONG,
         "LRECL=9 reason: Record is too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, stored(c.code, c.lrecl, 0, vbs));
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
}

TEST(RecordFile, TransmitSegments) {
    Options o;
    o.mode = RECORD_MODE_XMIT;
    // A record of two segments, then an empty record of one segment.
    Read r = readAll(std::string("\x04\x80"
                                 "ab\x03\x40"
                                 "c\x02\xC0",
                                 9),
                     o);
    EXPECT_EQ(r.records, (std::vector<std::string>{"abc", ""}));
    struct Case {
        std::string data;
        int reason;
        const char* message;
    } cases[] = {
        {std::string("\x03\xC0"
                     "a\x03",
                     4),
         REASON_EOF_IN_RDW, "Short XMIT RDW encountered while reading record 2"},
        {std::string("\x01\xC0", 2), REASON_RDW,
         "Invalid XMIT RDW X'01C0' of record 1 read at +0, reason:"},
        {std::string("\x03\xD0"
                     "a",
                     3),
         REASON_RDW, "Invalid XMIT RDW X'03D0'"},
        {std::string("\x03\x40"
                     "a",
                     3),
         REASON_RDW, "Invalid XMIT RDW X'0340'"},
        {std::string("\x03\xA0"
                     "a\x03\x40"
                     "b",
                     6),
         REASON_RDW, "Invalid XMIT RDW X'0340' of record 1 read at +3"},
        {std::string("\x02\x80\x03\x40"
                     "b",
                     5),
         REASON_RDW, "Invalid XMIT RDW X'0280'"},
        {std::string("\x05\xC0"
                     "a",
                     3),
         REASON_EOF_IN_RECORD,
         "Short XMIT segment of 1 out of 3 bytes at +0 while reading record 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, o);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
}

TEST(RecordFile, TextLinesBecomeRecordsOfTheFormat) {
    // FB 80: padded with EBCDIC blanks, trailing blanks trimmed first; the last line needs no
    // line end, and a final Ctrl-Z is not data.
    Read r = readAll("one  \ntwo\x1A", text(RECFM_CODE_FIXED, 80, 800));
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[0], e("one") + std::string(77, '\x40'));
    EXPECT_EQ(r.records[1], e("two") + std::string(77, '\x40'));
    // A Ctrl-Z that is not the last byte is data.
    r = readAll("a\x1A"
                "b",
                text(RECFM_CODE_VARIABLE, 84));
    EXPECT_EQ(r.records, std::vector<std::string>{e("a\x1A"
                                                    "b")});
    // Line ends: CR LF, LF CR, CR alone and LF alone end one line each; CR CR ends two.
    r = readAll("a\r\nb\n\rc\rd\ne\r\rf", text(RECFM_CODE_VARIABLE, 84));
    EXPECT_EQ(r.records,
              (std::vector<std::string>{e("a"), e("b"), e("c"), e("d"), e("e"), "", e("f")}));
    // A pair split across the 1024-byte pieces of the reader still counts once.
    r = readAll(std::string(1023, 'x') + "\r\nnext", text(RECFM_CODE_VARIABLE, 2000));
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1], e("next"));
    // U: an empty line is one blank; V: LRECL - 4 characters at most; without stripping the
    // RDW is in front.
    r = readAll("\nab\n", text(RECFM_CODE_UNDEFINED, 100));
    EXPECT_EQ(r.records, (std::vector<std::string>{"\x40", e("ab")}));
    r = readAll("ab\n", stored(RECFM_CODE_VARIABLE, 84, 0, RECORD_TEXT));
    EXPECT_EQ(r.records, std::vector<std::string>{rdw(6) + e("ab")});
    r = readAll("12345\n", text(RECFM_CODE_VARIABLE, 8));
    EXPECT_EQ(r.reason, REASON_RECORD_TOO_LONG);
    EXPECT_THAT(r.trace, HasSubstr("Text line 1 is longer than 4 bytes"));
    // 81 characters are too many for LRECL 80, unless the 81st is a blank to be trimmed, or
    // the line may be cut.
    r = readAll(std::string(80, 'x') + "y\n", text(RECFM_CODE_FIXED, 80, 80));
    EXPECT_EQ(r.reason, REASON_RECORD_TOO_LONG);
    EXPECT_THAT(r.trace, HasSubstr("Text line 1 is longer than 80 bytes"));
    EXPECT_EQ(readAll(std::string(80, 'x') + "  \n", text(RECFM_CODE_FIXED, 80, 80)).records.size(),
              1u);
    r = readAll(std::string(80, 'x') + " y\n", text(RECFM_CODE_FIXED, 80, 80, RECORD_TRUNCATE));
    EXPECT_EQ(r.records, std::vector<std::string>{e(std::string(80, 'x'))});
    // Untranslated text lines (mode 2) keep their bytes.
    Options raw = text(RECFM_CODE_VARIABLE, 84);
    raw.mode = RECORD_MODE_TEXT;
    EXPECT_EQ(readAll("ab \n", raw).records, std::vector<std::string>{"ab"});
}

TEST(RecordFile, TabsExpandToTheNextStop) {
    Options o = text(RECFM_CODE_VARIABLE, 84, 0, 0);
    o.flags &= ~static_cast<uint32_t>(RECORD_TRIM);
    o.tabs = 8;
    EXPECT_EQ(readAll("a\tb\n\tc\n", o).records,
              (std::vector<std::string>{e("a       b"), e("        c")}));
    o.tabs = 4;
    // At a stop a tab still moves on to the next one.
    EXPECT_EQ(readAll("abcd\te\n", o).records, std::vector<std::string>{e("abcd    e")});
    o.tabs = 0;
    EXPECT_EQ(readAll("a\tb\n", o).records, std::vector<std::string>{e("a\tb")});
}

TEST(RecordFile, TextBlocks) {
    Options o = text(RECFM_CODE_FIXED, 4, 12);
    o.blocks = true;
    Read r = readAll("a\nb\nc\nd\n", o);
    EXPECT_EQ(r.records, (std::vector<std::string>{e("a   b   c   "), e("d   ")}));
    // Without BLKSIZE a fixed block is one record.
    o.blksize = 0;
    EXPECT_EQ(readAll("a\nb\n", o).records.size(), 2u);
    // VB: lines behind RDWs under a BDW, as many as BLKSIZE holds; a VB block needs a BLKSIZE.
    o = text(RECFM_CODE_VARIABLE_BLOCKED, 84, 20);
    o.blocks = true;
    r = readAll("aaaa\nbbbb\ncc\n", o);
    EXPECT_EQ(r.records,
              (std::vector<std::string>{be16(20) + std::string(2, '\0') + rdw(8) + e("aaaa") +
                                            rdw(8) + e("bbbb"),
                                        be16(10) + std::string(2, '\0') + rdw(6) + e("cc")}));
    o.blksize = 0;
    r = readAll("a\n", o);
    EXPECT_EQ(r.reason, REASON_BLKSIZE);
    EXPECT_THAT(r.trace, HasSubstr("BLKSIZE not specified"));
    // V unblocked and U: one line a block.
    o = text(RECFM_CODE_VARIABLE, 84, 88);
    o.blocks = true;
    EXPECT_EQ(readAll("a\nb\n", o).records.size(), 2u);
}

TEST(RecordFile, StoredBlocks) {
    Options o = stored(RECFM_CODE_FIXED, 4, 8);
    o.blocks = true;
    EXPECT_EQ(readAll("aaaabbbbcccc", o).records, (std::vector<std::string>{"aaaabbbb", "cccc"}));
    Read r = readAll("aaaabbbbcc", o);
    EXPECT_EQ(r.reason, REASON_EOF_IN_BLOCK);
    EXPECT_THAT(
        r.trace,
        HasSubstr("Short fixed length block of 2 out of 8 bytes at +8 while reading block 2"));
    o = stored(RECFM_CODE_FIXED_UNBLOCKED, 4, 0);
    o.blocks = true;
    EXPECT_EQ(readAll("aaaabb", o).records, (std::vector<std::string>{"aaaa", "bb"}));
    // U: the record without its prefix; V: BDW, RDW and data.
    o = stored(RECFM_CODE_UNDEFINED, 100, 0);
    o.blocks = true;
    EXPECT_EQ(readAll(be16(2) + "ab", o).records, std::vector<std::string>{"ab"});
    o = stored(RECFM_CODE_VARIABLE, 80, 0);
    o.blocks = true;
    EXPECT_EQ(readAll(rdw(6) + "ab", o).records,
              std::vector<std::string>{be16(10) + std::string(2, '\0') + rdw(6) + "ab"});
    // VB: the block as stored, every RDW checked.
    o = stored(RECFM_CODE_VARIABLE_BLOCKED, 80, 0);
    o.blocks = true;
    const std::string block = be16(14) + std::string(2, '\0') + rdw(6) + "ab" + rdw(4);
    EXPECT_EQ(readAll(block, o).records, std::vector<std::string>{block});
    struct Case {
        std::string data;
        int reason;
        const char* message;
    } cases[] = {
        {block + std::string(1, '\0'), REASON_EOF_IN_BDW, "Short BDW encountered for block 2\n"},
        {be16(5) + std::string(2, '\0') + "a", REASON_BDW,
         "Invalid BDW X'00050000' of block 1 read at +0, BLKSIZE=0 reason"},
        {be16(30) + std::string(2, '\0') + rdw(6), REASON_EOF_IN_BLOCK,
         "Short block of 8 out of 30 bytes at +0 while reading block 1\n"},
        {be16(14) + std::string(2, '\0') + rdw(6) + "ab" + rdw(5), REASON_RDW,
         "Invalid RDW X'00050000' of record 2 in block 1 read at +10, BLKSIZE=0 LRECL=80 reason: "
         "Invalid RDW"},
        {be16(94) + std::string(2, '\0') + rdw(90) + std::string(86, 'q'), REASON_RECORD_TOO_LONG,
         "LRECL=80 reason: Record is too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, o);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
    o.lrecl = 6;
    o.blksize = 10;
    r = readAll(block, o);
    EXPECT_EQ(r.reason, REASON_BLOCK_TOO_LONG);
    EXPECT_THAT(r.trace, HasSubstr("BLKSIZE=10 reason: Block is too long"));
}

TEST(RecordFile, UnicodeAndCodePageText) {
    Charset* utf8 = pCharsetLoad(1208, 0);
    Charset* utf16 = pCharsetLoad(1200, 0); // little-endian
    Charset* cp437 = pCharsetLoad(437, 0);
    Charset* cp1047 = pCharsetLoad(1047, 0);
    ASSERT_TRUE(utf8 && utf16 && cp437 && cp1047);
    Options o = text(RECFM_CODE_VARIABLE, 84);
    o.charset = utf8;
    // é (U+00E9) is EBCDIC X'51'; a character beyond Latin-1 becomes the substitute X'3F'.
    Read r = readAll("caf\xC3\xA9 \xE2\x82\xAC\nx", o);
    EXPECT_EQ(r.records, (std::vector<std::string>{"\x83\x81\x86\x51\x40\x3F", e("x")}));
    struct Case {
        std::string data;
        int reason;
        const char* message;
    } cases[] = {
        {"a\x80", REASON_INVALID_CHARACTER, "Invalid UTF-8 character X'80' in line 1 at +1"},
        {"\xC3\x41", REASON_INVALID_CHARACTER, "Invalid UTF-8 character X'C341' in line 1 at +0"},
        {"\xE2\x82\x41", REASON_INVALID_CHARACTER, "Invalid UTF-8 character X'E28241'"},
        {"\xF0\x9F\x98\x41", REASON_INVALID_CHARACTER, "Invalid UTF-8 character X'F09F9841'"},
        {"\xE0\x80\x80", REASON_INVALID_CHARACTER, "Invalid UTF-8 character X'E08080'"}, // overlong
        {"ab\n\xE2\x82", REASON_EOF_IN_CHARACTER,
         "Short UTF-8 character encountered while reading line 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        r = readAll(c.data, o);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_THAT(r.trace, HasSubstr(c.message));
    }
    // The limit counts characters: five é are five characters of LRECL 9 - 4.
    o.lrecl = 9;
    EXPECT_EQ(readAll("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", o).records.size(), 1u);
    r = readAll("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9z", o);
    EXPECT_THAT(r.trace, HasSubstr("Text line 1 is longer than 5 characters"));
    // UTF-16: a surrogate pair is one character; a lone low surrogate is invalid.
    o = text(RECFM_CODE_VARIABLE, 84);
    o.charset = utf16;
    r = readAll(std::string("a\0\x3D\xD8\x00\xDE\n\0", 8), o);
    EXPECT_EQ(r.records, std::vector<std::string>{"\x81\x3F"});
    r = readAll(std::string("\x00\xDC", 2), o);
    EXPECT_THAT(r.trace, HasSubstr("Invalid UTF-16LE character X'00DC' in line 1 at +0"));
    r = readAll(std::string("a", 1), o);
    EXPECT_EQ(r.reason, REASON_EOF_IN_CHARACTER);
    // A single-byte page: its own line ends and tab; a byte it does not define is invalid.
    o = text(RECFM_CODE_VARIABLE, 84);
    o.charset = cp437;
    EXPECT_EQ(readAll("ab\r\ncd", o).records, (std::vector<std::string>{e("ab"), e("cd")}));
    // EBCDIC input is already EBCDIC: not translated, its own NL ends the line.
    o.charset = cp1047;
    EXPECT_EQ(readAll("\xC1\xC2\x40\x15\xC3", o).records,
              (std::vector<std::string>{"\xC1\xC2", "\xC3"}));
    Charset* cp1252 = pCharsetLoad(1252, 0);
    o.charset = cp1252;
    r = readAll("a\x81", o);
    EXPECT_EQ(r.reason, REASON_INVALID_CHARACTER);
    EXPECT_THAT(r.trace, HasSubstr("character X'81' in line 1 at +1"));
    r = readAll("abcdefgh", [&] {
        Options l = text(RECFM_CODE_VARIABLE, 8);
        l.charset = cp437;
        return l;
    }());
    EXPECT_THAT(r.trace, HasSubstr("Text line 1 is longer than 4 bytes"));
    for (Charset* c : {utf8, utf16, cp437, cp1047, cp1252}) vCharsetFree(c);
}

TEST(RecordFile, TracesRecordsBlocksEndOfFileAndErrors) {
    Options o = stored(RECFM_CODE_FIXED, 2, 4);
    o.trace = 3;
    Read r = readAll("abcd", o);
    EXPECT_THAT(r.trace, HasSubstr("eIoReadRecord("));
    EXPECT_THAT(r.trace, HasSubstr("): record 2 length 2 read at +2\n"));
    EXPECT_THAT(r.trace, HasSubstr("): End Of File at +4 after reading record 2\n"));
    o.blocks = true;
    r = readAll("abcd", o);
    EXPECT_THAT(r.trace, HasSubstr("): block 1 length 4 read at +0\n"));
    EXPECT_THAT(r.trace, HasSubstr("eIoReadBlock("));
    EXPECT_THAT(r.trace, HasSubstr("): End Of File at +4 after reading block 1\n"));
    o.trace = 4;
    r = readAll("\xC1\xC2\xC3\xC4", o);
    EXPECT_THAT(r.trace, HasSubstr("|ABCD|")); // the EBCDIC rendering of the dump
    // A folder opens for reading but cannot be read: an I/O error, status 1.
    testsupport::TempDir dir;
    for (bool blocks : {false, true}) {
        connect(3);
        RecordFile f{};
        f.io.path = dir.path().c_str();
        f.recfmCode = RECFM_CODE_FIXED;
        f.lrecl = 80;
        ASSERT_EQ(bren::openRecordFile(f), IO_OK);
        EXPECT_EQ(blocks ? bren::readBlock(f) : bren::readRecord(f), IO_ERROR);
        EXPECT_EQ(f.io.errnum, EISDIR);
        EXPECT_THAT(traced(),
                    HasSubstr(std::string(": ERROR: ") + std::strerror(EISDIR) +
                              " at +0 after reading " + (blocks ? "block 0" : "record 0")));
        // Sticky: the next read returns the same status.
        EXPECT_EQ(bren::readRecord(f), IO_ERROR);
        bren::closeRecordFile(f);
    }
    connect(0);
}
