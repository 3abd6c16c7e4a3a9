// Extraction outputs byte for byte: the six record formats with blocking and spanning, the
// round trip through the variable format, ISPF packed members, dumps, and load modules (their
// checks, refusals and listing).
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "dump.h"
#include "extract_fixture.h"
#include "loadmodule.h"
#include "reader.h"
#include "run_command.h"

using namespace xtest;
using namespace xmitw;
namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
std::string str(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

Bytes be16(uint32_t v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) append(out, p);
    return out;
}
Bytes rdw(uint32_t n, uint8_t code = 0) {
    return {static_cast<uint8_t>((n + 4) >> 8), static_cast<uint8_t>(n + 4), code, 0};
}
Bytes bdw(uint32_t n) {
    return {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0, 0};
}

// A VB data set of one member with records of the given lengths (filled with 'a' + index).
Pds variablePds(const std::vector<size_t>& lengths, int lrecl = 255, int blksize = 400) {
    Pds pds;
    pds.recfm = 0x50;
    pds.lrecl = lrecl;
    pds.blksize = blksize;
    Member m;
    m.name = "VAR";
    for (size_t i = 0; i < lengths.size(); ++i)
        m.records.push_back(ebcdic(std::string(lengths[i], static_cast<char>('a' + i))));
    pds.members = {m};
    return pds;
}

} // namespace

class Formats : public XmitTest {
  protected:
    std::string out(const std::string& name) { return (dir_ / name).string(); }
    std::string extractOne(XmitHandle* h, ExtractBlock req, const std::string& name) {
        RunResult r = runRequest(h, req);
        EXPECT_EQ(r.severity, 0) << r.message;
        return readFile(out(name));
    }
};

TEST_F(Formats, FixedAndVariableAsStored) {
    Pds fb = samplePds(1, 3);
    auto h = openPds(fb);
    const std::string ibm = extractOne(h.get(), request(EXTRACT_TYPE_IBM, out("&M")), "MEM1");
    ASSERT_EQ(ibm.size(), 240u) << "three fixed records of 80 bytes";
    EXPECT_EQ(ibm.substr(80, 80),
              str(ebcdic(std::string("MEMBER 1 LINE 2") + std::string(65, ' '))));

    auto hv = openPds(variablePds({3, 0, 5}));
    // Records as stored: blocks with block descriptors (unblocked VB still has blocks).
    std::string vb = extractOne(hv.get(), request(EXTRACT_TYPE_IBM, out("&M")), "VAR");
    Bytes want = cat({bdw(4 + 7 + 4 + 9), rdw(3), ebcdic("aaa"), rdw(0), rdw(5), ebcdic("ccccc")});
    EXPECT_EQ(vb, str(want))
        << "blocked: the three records share a block; the empty one stays empty";
    // With length prefixes: each record behind its descriptor.
    std::string prefix = extractOne(hv.get(), request(EXTRACT_TYPE_PREFIX, out("&M.p")), "VAR.p");
    EXPECT_EQ(prefix, str(cat({bdw(24), rdw(3), ebcdic("aaa"), rdw(0), rdw(5), ebcdic("ccccc")})));

    Pds v = variablePds({3, 0, 5});
    v.recfm = 0x40; // V, unblocked
    auto hu = openPds(v);
    EXPECT_EQ(extractOne(hu.get(), request(EXTRACT_TYPE_IBM, out("&M.u")), "VAR.u"),
              str(cat({bdw(11), rdw(3), ebcdic("aaa"), bdw(8), rdw(0), bdw(13), rdw(5),
                       ebcdic("ccccc")})))
        << "unblocked: a block descriptor for every record";
    EXPECT_EQ(extractOne(hu.get(), request(EXTRACT_TYPE_PREFIX, out("&M.r")), "VAR.r"),
              str(cat({rdw(3), ebcdic("aaa"), rdw(0), rdw(5), ebcdic("ccccc")})))
        << "unblocked with prefixes: record descriptors, no block descriptors";
}

TEST_F(Formats, ConvertFormats) {
    auto h = openPds(variablePds({50, 2}));
    auto convert = [&](int format, uint32_t lrecl, uint8_t options, const std::string& name,
                       uint32_t block = 0) {
        ExtractBlock req = request(EXTRACT_TYPE_CONVERT, out("&M." + name));
        req.format = format;
        req.lrecl = lrecl;
        req.options = options;
        req.blockSize = block;
        req.padCharacter = 0x40;
        return extractOne(h.get(), req, "VAR." + name);
    };
    // Format 0: padded to LRECL with the pad character, as given or translated.
    std::string fixed = convert(EXTRACT_FORMAT_FIXED, 80, 0, "f0");
    ASSERT_EQ(fixed.size(), 160u);
    EXPECT_EQ(fixed.substr(0, 80), str(ebcdic(std::string(50, 'a'))) + std::string(30, '\x40'));
    std::string fixedT = convert(EXTRACT_FORMAT_FIXED, 80, EXTRACT_TRANSLATE, "f0t");
    EXPECT_EQ(fixedT.substr(0, 80), std::string(50, 'a') + std::string(30, ' '));
    EXPECT_EQ(convert(EXTRACT_FORMAT_BYTES, 80, EXTRACT_TRANSLATE, "f1"),
              std::string(50, 'a') + "bb");
    EXPECT_EQ(convert(EXTRACT_FORMAT_LENGTH2, 80, EXTRACT_TRANSLATE, "f2"),
              str(be16(50)) + std::string(50, 'a') + str(be16(2)) + "bb");
    EXPECT_EQ(convert(EXTRACT_FORMAT_LENGTH2I, 80, EXTRACT_TRANSLATE, "f3"),
              str(be16(52)) + std::string(50, 'a') + str(be16(4)) + "bb");
    // Format 4 keeps only the spanned option: the records stay EBCDIC.
    EXPECT_EQ(convert(EXTRACT_FORMAT_RDW, 84, EXTRACT_TRANSLATE, "f4"),
              str(cat({rdw(50), ebcdic(std::string(50, 'a')), rdw(2), ebcdic("bb")})));
    // Format 4 takes records up to LRECL - 4 data bytes.
    EXPECT_EQ(convert(EXTRACT_FORMAT_RDW, 54, 0, "f4max").size(), 54u + 6u);
    EXPECT_EQ(
        convert(EXTRACT_FORMAT_VARIABLE, 84, EXTRACT_BLOCKED, "f5", 200),
        str(cat({bdw(4 + 54 + 6), rdw(50), ebcdic(std::string(50, 'a')), rdw(2), ebcdic("bb")})));
    EXPECT_EQ(
        convert(EXTRACT_FORMAT_VARIABLE, 56, EXTRACT_BLOCKED, "f5s", 60),
        str(cat({bdw(58), rdw(50), ebcdic(std::string(50, 'a')), bdw(10), rdw(2), ebcdic("bb")})))
        << "a block of 60 cannot take the second record after the first";
    // Strip drops trailing pad characters; a record longer than LRECL stops the request.
    ExtractBlock stripReq = request(EXTRACT_TYPE_CONVERT, out("&M.strip"));
    stripReq.format = EXTRACT_FORMAT_BYTES;
    stripReq.lrecl = 40;
    RunResult tooLong = runRequest(h.get(), stripReq);
    EXPECT_EQ(tooLong.message, "Record would be truncated");
    EXPECT_EQ(tooLong.severity, 8);
    EXPECT_FALSE(fs::exists(out("VAR.strip")));
    stripReq.options = EXTRACT_TRUNCATE;
    EXPECT_EQ(runRequest(h.get(), stripReq).severity, 0);
    EXPECT_EQ(readFile(out("VAR.strip")).size(), 42u);
}

TEST_F(Formats, SpannedRecordsAcrossBlocks) {
    // A spanned data set whose members were written as logical records: re-spanned on output.
    Pds pds = variablePds({500, 20});
    pds.recfm = 0x58; // VBS
    pds.lrecl = 1000;
    pds.blksize = 200;
    // The writer of the tests blocks variable records without spanning; a 500-byte record
    // needs a larger block there, so the data set is written with BLKSIZE 600 and read back as
    // VBS 200.
    Pds written = pds;
    written.blksize = 600;
    auto recs = collect([&](const Emit& e) { pdsTransmit(written, e); });
    auto h = openRecords(recs);
    ASSERT_EQ(h->message, nullptr);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr);
    ds->blksize = 200;
    std::string out3 = extractOne(h.get(), request(EXTRACT_TYPE_IBM, out("&M")), "VAR");
    const Bytes a = ebcdic(std::string(500, 'a')), b = ebcdic(std::string(20, 'b'));
    // First segment fills the block: 200 - 8 = 192 bytes; a middle one 192; the last 116, then
    // the 20-byte record follows in the same block.
    Bytes want = cat({bdw(200), rdw(192, 0x01), Bytes(a.begin(), a.begin() + 192)});
    append(want, cat({bdw(200), rdw(192, 0x03), Bytes(a.begin() + 192, a.begin() + 384)}));
    append(want,
           cat({bdw(4 + 120 + 24), rdw(116, 0x02), Bytes(a.begin() + 384, a.end()), rdw(20), b}));
    EXPECT_EQ(out3, str(want));

    // And back: the spanned output read as a member gives the logical records again.
    Pds back;
    back.recfm = 0xC0; // the blocks as undefined records, reinterpreted as VBS below
    back.lrecl = 0;
    back.blksize = 200;
    Member m;
    m.name = "BACK";
    size_t at = 0;
    while (at < out3.size()) {
        const size_t len =
            (static_cast<uint8_t>(out3[at]) << 8) | static_cast<uint8_t>(out3[at + 1]);
        m.records.push_back(bytesOf(out3.substr(at, len)));
        at += len;
    }
    back.members = {m};
    auto rb = collect([&](const Emit& e) { pdsTransmit(back, e); });
    rb[1].data = controlRecord("INMR02",
                               {textUnit(0x1028, "IEBCOPY"), numberUnit(0x003C, 0x0200, 2),
                                numberUnit(0x0042, 1000, 4), numberUnit(0x0030, 200, 4),
                                TextUnit{0x0049, {{0x58, 0x02}}}, qualifierUnit(0x0002, "B.PDS")},
                               1);
    auto hb = openRecords(rb);
    XmitDataSet* dsb = pxhXmitFileLoadDir(hb.get(), 1);
    ASSERT_NE(dsb, nullptr) << message(hb);
    std::vector<uint8_t> assembly(996);
    MemberCursor c;
    ASSERT_TRUE(opx::startMembers(hb.get(), dsb, &c, assembly.data(), 996));
    ASSERT_EQ(opx::readMemberRecord(hb.get(), dsb, &c), MEMBER_RECORD);
    EXPECT_EQ(Bytes(c.record, c.record + c.recordLength), a);
    ASSERT_EQ(opx::readMemberRecord(hb.get(), dsb, &c), MEMBER_RECORD);
    EXPECT_EQ(Bytes(c.record, c.record + c.recordLength), b);
    EXPECT_EQ(opx::readMemberRecord(hb.get(), dsb, &c), MEMBER_END);
}

TEST_F(Formats, UndefinedRecords) {
    Pds pds;
    pds.recfm = 0xC0;
    pds.lrecl = 0;
    pds.blksize = 100;
    Member m;
    m.name = "BLOCKS";
    m.records = {Bytes{1, 2, 3}, Bytes(100, 9)};
    m.userData = Bytes(2, 0); // not load-module data
    pds.members = {m};
    auto h = openPds(pds);
    EXPECT_EQ(extractOne(h.get(), request(EXTRACT_TYPE_IBM, out("&M")), "BLOCKS"),
              str(cat({{1, 2, 3}, Bytes(100, 9)})));
    EXPECT_EQ(extractOne(h.get(), request(EXTRACT_TYPE_PREFIX, out("&M.p")), "BLOCKS.p"),
              str(cat({be16(3), {1, 2, 3}, be16(100), Bytes(100, 9)})));
}

namespace {

// A packed member: the stream of control bytes and data cut into fixed records of 80 bytes
// (the end of the last record after X'FF' is filler).
Member packedMember(const std::string& name, const Bytes& stream, std::vector<Bytes> after = {}) {
    Member m;
    m.name = name;
    for (size_t at = 0; at < stream.size(); at += 80) {
        Bytes r(stream.begin() + static_cast<long>(at),
                stream.begin() + static_cast<long>(std::min(stream.size(), at + 80)));
        r.resize(80, 0x00);
        m.records.push_back(r);
    }
    for (Bytes& a : after) m.records.push_back(a);
    return m;
}

} // namespace

TEST_F(Formats, IspfPackedMembers) {
    // First form: X'00' X'01' X'40' "F", the LRECL in bytes 6-7, data from offset 8. Copies and
    // repeats run on over the input records.
    Bytes stream = {0x00, 0x01, 0x40, 0xC6, 0x00, 0x00, 0x00, 0x50};
    append(stream, Bytes{0x83});
    append(stream, ebcdic("ABCD")); // copy 4 bytes
    append(stream, Bytes{0x7A, 9}); // 10 copies...
    append(stream, ebcdic("X"));    // ...of "X"
    append(stream, Bytes{0x05});    // 6 blanks
    // A copy of 80 bytes that starts in the first input record and ends in the second, and
    // runs from the first output line into the second.
    append(stream, Bytes{0xCF});
    append(stream, ebcdic(std::string(80, 'Q')));
    append(stream, Bytes{0x7A}); // a repeat whose count and byte stand in the next record
    while (stream.size() % 80 != 0) stream.insert(stream.end() - 1, 0x00); // blanks before it
    append(stream, Bytes{3});
    append(stream, ebcdic("R"));
    append(stream, Bytes{0xFF});
    Pds pds;
    pds.members = {packedMember("PACKED", stream, {ebcdic(line80("NOT READ AFTER THE END"))})};
    auto h = openPds(pds);
    const std::string text = extractOne(h.get(), request(EXTRACT_TYPE_TEXT, out("&M")), "PACKED");
    const size_t blanksBefore = 80 - (8 + 5 + 3 + 1 + 1 + 80 + 1) % 80;
    std::string all =
        "ABCDXXXXXXXXXX      " + std::string(80, 'Q') + std::string(blanksBefore, ' ') + "RRRR";
    std::string want;
    for (size_t at = 0; at < all.size(); at += 80) want += line80(all.substr(at, 80)) + "\n";
    EXPECT_EQ(text, want);

    // An ordinary member starting with other bytes is text as it stands.
    Pds plain;
    Member p;
    p.name = "PLAIN";
    p.records = {ebcdic(line80("HELLO"))};
    plain.members = {p};
    auto hp = openPds(plain);
    EXPECT_EQ(extractOne(hp.get(), request(EXTRACT_TYPE_TEXT, out("&M")), "PLAIN"),
              line80("HELLO") + "\n");
}

TEST_F(Formats, IspfPackedSecondFormAndShortRecords) {
    // Second form: X'00' ... "F" at byte 5, the LRECL at 8-9, data from 10 and from 2 in every
    // following record. A run of blanks is cut at the end of the line.
    Bytes first = {0x00, 0x00, 0x00, 0x00, 0x00, 0xC6, 0x00, 0x00, 0x00, 0x50, 0x82};
    append(first, ebcdic("ABC"));
    append(first, Bytes{0x7A, 78, 0x40}); // 79 blanks: 77 fit the line
    while (first.size() < 80) first.push_back(0x00);
    Bytes next = {0x99, 0x99, 0x80};
    append(next, ebcdic("Q"));
    append(next, Bytes{0xFF});
    next.resize(80, 0);
    Pds pds;
    Member m;
    m.name = "PACK2";
    m.records = {first, next};
    pds.members = {m};
    auto h = openPds(pds);
    const std::string text = extractOne(h.get(), request(EXTRACT_TYPE_TEXT, out("&M")), "PACK2");
    // The zero bytes that fill the first record count as single blanks of the second line.
    const size_t zeros = 80 - (10 + 4 + 3);
    EXPECT_EQ(text, line80("ABC") + "\n" + line80(std::string(zeros, ' ') + "Q") + "\n");
}

TEST_F(Formats, DumpListing) {
    Pds pds;
    pds.recfm = 0xC0;
    pds.lrecl = 0;
    pds.blksize = 100;
    Member m;
    m.name = "DUMPME";
    m.records = {cat({ebcdic("ABCD"), {0x4B, 0x00}}), Bytes(20, 0xC1)};
    m.userData = {};
    pds.members = {m};
    pds.dsname = "DUMP.PDS";
    auto h = openPds(pds);
    ExtractBlock req = request(EXTRACT_TYPE_DUMP, out("&M"));
    req.lrecl = 100; // below 120: 16-byte lines
    std::string d = extractOne(h.get(), req, "DUMPME");
    auto dumpLine16 = [](const std::string& offset, const std::string& hex,
                         const std::string& chars) {
        std::string l = offset + "   " + hex;
        l.resize(49, ' ');
        std::string c = chars;
        c.resize(16, ' ');
        return l + "|" + c + "|";
    };
    const std::string entryHex = "C4E4D4D7 D4C54040 00000100";
    std::string want = "Dump of DUMP.PDS(DUMPME)\n\nDirectory entry  length 12\n";
    want += dumpLine16("00000000", entryHex, "DUMPME") + "\n";
    want += "\nRecord 1  length 6\n" + dumpLine16("00000000", "C1C2C3C4 4B00", "ABCD.") + "\n";
    want += "\nRecord 2  length 20\n" +
            dumpLine16("00000000", "C1C1C1C1 C1C1C1C1 C1C1C1C1 C1C1C1C1", std::string(16, 'A')) +
            "\n" + dumpLine16("00000010", "C1C1C1C1", "AAAA") + "\n";
    EXPECT_EQ(d, want);
    EXPECT_EQ(dumpLine16("0", "", "").size(), 67u);
    // 120 or more: 32-byte lines, "|" at column 86, 120 columns.
    std::string wide = opx::dumpLine(Bytes(32, 0xF1).data(), 32, 32, 0x20);
    EXPECT_EQ(wide.size(), 120u);
    EXPECT_EQ(wide[86], '|');
    EXPECT_EQ(wide.substr(0, 8), "00000020");
    EXPECT_EQ(wide.substr(87, 32), std::string(32, '1'));
    std::string narrow = opx::dumpLine(Bytes(16, 0xF1).data(), 16, 16, 0);
    EXPECT_EQ(narrow.size(), 67u);
    EXPECT_EQ(narrow.substr(11, 37), "F1F1F1F1 F1F1F1F1 F1F1F1F1 F1F1F1F1  ");

    // A sequential data set: "Dump of" with the data set name alone.
    std::vector<Bytes> records = {ebcdic("X")};
    auto hs = openRecords(
        collect([&](const Emit& e) { sequentialTransmit("SEQ.ONE", 0x90, 80, 800, records, e); }));
    std::string ds = extractOne(hs.get(), request(EXTRACT_TYPE_DUMP, out("seq.dump")), "seq.dump");
    EXPECT_EQ(ds.substr(0, ds.find('\n')), "Dump of SEQ.ONE");
    EXPECT_NE(ds.find("Record 1  length 1\n"), std::string::npos);
}
