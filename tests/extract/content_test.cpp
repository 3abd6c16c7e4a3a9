// What a member holds and how it is written when the content decides: the sniffer's rule and
// its threshold, auto and binary modes, transmit files inside members, the removal of
// sequence fields, text re-encoded, and the survey of a data set's members.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "content.h"
#include "extract.h"
#include "extract_fixture.h"
#include "survey.h"

using namespace xtest;
using namespace xmitw;
namespace fs = std::filesystem;
using opx::Content;
using opx::ContentSniffer;
using opx::ExtractExtras;
using testsupport::readFile;

namespace {

// FB 80 records of a text, with sequence numbers in columns 73-80.
std::vector<Bytes> numberedSource(int lines) {
    std::vector<Bytes> r;
    for (int i = 1; i <= lines; ++i) {
        char seq[16];
        std::snprintf(seq, sizeof seq, "%08d", i * 100);
        std::string l = "         LA    R1,WORK" + std::to_string(i);
        l.resize(72, ' ');
        r.push_back(ebcdic(l + seq));
    }
    return r;
}

// A transmit file (a small PDS) as the FB 80 records of a member.
std::vector<Bytes> transmitAsRecords(const Pds& inner) {
    const Bytes image = fileImage(collect([&](const Emit& e) { pdsTransmit(inner, e); }));
    std::vector<Bytes> records;
    for (size_t at = 0; at < image.size(); at += 80)
        records.emplace_back(image.begin() + static_cast<long>(at),
                             image.begin() + static_cast<long>(at + 80));
    return records;
}

Content sniff(const std::vector<Bytes>& records, uint32_t lrecl = 80) {
    ContentSniffer s(lrecl);
    for (const Bytes& r : records) s.add(r.data(), static_cast<uint32_t>(r.size()));
    return s.verdict();
}

Bytes bytesOf(size_t n, uint8_t first, uint8_t step) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i * step);
    return b;
}

} // namespace

class ContentTest : public XmitTest {
  protected:
    std::string out(const std::string& name) { return (dir_ / name).string(); }
    RunResult run(XmitHandle* h, ExtractBlock req, const ExtractExtras& extras,
                  std::vector<opx::ExtractOutcome>* outcomes = nullptr) {
        RunResult result;
        int r = opx::extractStep(EXTRACT_GO, h, &req, extras);
        while (r != EXTRACT_RESULT_DONE) {
            if (r == EXTRACT_RESULT_WRITTEN && outcomes)
                outcomes->push_back(*opx::extractOutcome(&req));
            result.steps.push_back({r, req.memberName, req.fileName ? req.fileName : "",
                                    req.message ? req.message : "", req.recordsWritten});
            r = opx::extractStep(EXTRACT_GO, h, &req, extras);
        }
        result.severity = req.severity;
        result.message = req.message ? req.message : "";
        if (outcomes && req.progress & EXTRACT_PROGRESS_SEQUENTIAL && req.filesCreated)
            outcomes->push_back(*opx::extractOutcome(&req));
        opx::extractStep(EXTRACT_STOP, h, &req, extras);
        result.created = req.filesCreated;
        result.total = req.recordsWritten;
        return result;
    }
};

TEST_F(ContentTest, TheSnifferRule) {
    Pds inner = samplePds(1, 2);
    // A JPEG's first bytes, a load module's text, packed decimal data.
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01};
    for (int i = 0; i < 200; ++i) jpeg.push_back(static_cast<uint8_t>(i * 37 + 11));
    Bytes module(80, 0x00);
    module[0] = 0x47, module[1] = 0xF0, module[2] = 0xF0, module[3] = 0x0C;
    Bytes packed;
    for (int i = 0; i < 16; ++i) packed.insert(packed.end(), {0x00, 0x12, 0x34, 0x5C, 0x00});
    const struct {
        const char* what;
        std::vector<Bytes> records;
        uint32_t lrecl;
        Content expected;
    } cases[] = {
        {"numbered source", numberedSource(30), 80, Content::Text},
        {"JCL",
         {ebcdic(line80("//STEP1 EXEC PGM=IEFBR14")), ebcdic(line80("//DD1 DD DSN=A.B"))},
         80,
         Content::Text},
        {"REXX in VB",
         {ebcdic("/* REXX */"), ebcdic("say 'Hello, \xA2 \xAC \xA6'"), ebcdic("")},
         0,
         Content::Text},
        {"ISPF-packed",
         {{0x00, 0x01, 0x40, 0xC6, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00}},
         80,
         Content::Text},
        {"empty member", {}, 80, Content::Text},
        {"a JPEG", {jpeg}, 0, Content::Binary},
        {"a load module", {module}, 0, Content::Binary},
        {"packed decimal", {packed}, 80, Content::Binary},
        {"a transmit file", transmitAsRecords(inner), 80, Content::Transmit},
    };
    for (const auto& c : cases) EXPECT_EQ(sniff(c.records, c.lrecl), c.expected) << c.what;

    // The threshold: 1 byte in 50 that is not printable is still text; one more is not.
    Bytes text(1000, 0xC1);
    for (int i = 0; i < 20; ++i) text[static_cast<size_t>(i) * 50] = 0x00;
    EXPECT_EQ(sniff({text}), Content::Text);
    text[999] = 0x01;
    EXPECT_EQ(sniff({text}), Content::Binary);
    // Only the sample counts: binary data after the first 16 KiB is not looked at.
    std::vector<Bytes> late = numberedSource(ContentSniffer::kSampleBytes / 80 + 1);
    late.push_back(Bytes(8000, 0x00));
    EXPECT_EQ(sniff(late), Content::Text);
}

TEST_F(ContentTest, AutoModeWritesEachMemberAsItsContentSays) {
    Pds inner = samplePds(1, 2);
    Pds pds;
    auto add = [&pds](const std::string& name, std::vector<Bytes> records) {
        Member m;
        m.name = name;
        m.records = std::move(records);
        pds.members.push_back(m);
    };
    const Bytes binary = bytesOf(160, 0x00, 7);
    add("BIN",
        {Bytes(binary.begin(), binary.begin() + 80), Bytes(binary.begin() + 80, binary.end())});
    add("EMPTY", {});
    add("NESTED", transmitAsRecords(inner));
    add("SOURCE", numberedSource(3));
    auto h = openPds(pds);
    ASSERT_EQ(h->message, nullptr);
    std::vector<opx::ExtractOutcome> outcomes;
    ExtractExtras autoMode;
    autoMode.mode = ExtractExtras::Mode::Auto;
    RunResult r = run(h.get(), request(EXTRACT_TYPE_TEXT, out("&M.txt")), autoMode, &outcomes);
    ASSERT_EQ(r.severity, 0) << r.message;
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_EQ(outcomes[0].content, Content::Binary);
    EXPECT_EQ(readFile(out("BIN.txt")), std::string(binary.begin(), binary.end()));
    EXPECT_EQ(outcomes[1].content, Content::Text);
    EXPECT_EQ(readFile(out("EMPTY.txt")), "");
    EXPECT_EQ(outcomes[2].content, Content::Transmit);
    const Bytes image = fileImage(collect([&](const Emit& e) { pdsTransmit(inner, e); }));
    EXPECT_EQ(readFile(out("NESTED.xmi")), std::string(image.begin(), image.end()))
        << "a transmit file is written whole, as NAME.xmi";
    EXPECT_FALSE(fs::exists(out("NESTED.txt")));
    EXPECT_EQ(readFile(out("SOURCE.txt")).substr(0, 81),
              "         LA    R1,WORK1" + std::string(49, ' ') + "00000100\n");

    // Binary mode: everything as its bytes, text too (EBCDIC as it is).
    ExtractExtras binaryMode;
    binaryMode.mode = ExtractExtras::Mode::Binary;
    fs::create_directory(dir_ / "bin");
    ASSERT_EQ(run(h.get(), request(EXTRACT_TYPE_TEXT, out("bin/&M")), binaryMode).severity, 0);
    const Bytes source = numberedSource(3)[0];
    EXPECT_EQ(readFile(out("bin/SOURCE")).substr(0, 80), std::string(source.begin(), source.end()));
    EXPECT_EQ(readFile(out("bin/NESTED")).size(), image.size()) << "named as the member";

    // A sequential data set that is a transmit file: NAME.xmi when the name has no extension.
    auto seq = openRecords(collect([&](const Emit& e) {
        sequentialTransmit("SEQ.XMIT", 0x90, 80, 3120, transmitAsRecords(inner), e);
    }));
    outcomes.clear();
    ASSERT_EQ(
        run(seq.get(), request(EXTRACT_TYPE_TEXT, out("seqfile")), autoMode, &outcomes).severity,
        0);
    EXPECT_EQ(readFile(out("seqfile.xmi")), std::string(image.begin(), image.end()));
    ASSERT_EQ(run(seq.get(), request(EXTRACT_TYPE_TEXT, out("named.bin")), autoMode).severity, 0);
    EXPECT_TRUE(fs::exists(out("named.bin")));
}

TEST_F(ContentTest, SequenceFieldsAreRemovedOnlyWhenEveryRecordAllows) {
    std::vector<Bytes> lettered = numberedSource(4);
    lettered[2][75] = 0xC1; // an "A" in column 76 of record 3
    std::vector<Bytes> shortVariable = {ebcdic("00000100SAY 1"), ebcdic("0000")};
    const struct {
        const char* what;
        uint8_t recfm;
        int lrecl;
        std::vector<Bytes> records;
        bool removed;
        std::string firstLine, kept;
    } cases[] = {
        {"fixed 80, numbered", 0x90, 80, numberedSource(4), true,
         "         LA    R1,WORK1" + std::string(49, ' '), ""},
        {"fixed 80, a letter in the field", 0x90, 80, lettered, false,
         "         LA    R1,WORK1" + std::string(49, ' ') + "00000100",
         "record 3 holds other characters than digits in its sequence field (columns 73-80)"},
        {"variable, numbered",
         0x50,
         255,
         {ebcdic("00000100/* REXX */"), ebcdic("00000200SAY 'HI'"), ebcdic("        ")},
         true,
         "/* REXX */",
         ""},
        {"variable, a record shorter than the field", 0x50, 255, shortVariable, false,
         "00000100SAY 1", "record 2 is shorter than its sequence field"},
        {"fixed 40",
         0x90,
         40,
         {ebcdic(std::string(40, 'X'))},
         false,
         std::string(40, 'X'),
         "the record format has no sequence field"},
    };
    int n = 0;
    for (const auto& c : cases) {
        Pds pds;
        pds.recfm = c.recfm;
        pds.lrecl = c.lrecl;
        pds.blksize = 3200;
        Member m;
        m.name = "SRC";
        m.records = c.records;
        pds.members = {m};
        auto h = openPds(pds);
        ASSERT_EQ(h->message, nullptr) << c.what;
        ExtractExtras unnum;
        unnum.unnum = true;
        std::vector<opx::ExtractOutcome> outcomes;
        const std::string folder = "u" + std::to_string(n++);
        fs::create_directory(dir_ / folder);
        RunResult r =
            run(h.get(), request(EXTRACT_TYPE_TEXT, out(folder + "/&M")), unnum, &outcomes);
        ASSERT_EQ(r.severity, 0) << c.what << ": " << r.message;
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].unnumbered, c.removed) << c.what;
        EXPECT_EQ(outcomes[0].unnumKept ? outcomes[0].unnumKept : "", c.kept) << c.what;
        const std::string text = readFile(out(folder + "/SRC"));
        EXPECT_EQ(text.substr(0, text.find('\n')), c.firstLine) << c.what;
        EXPECT_EQ(r.total, c.records.size()) << "every record is written: " << c.what;
    }
}

TEST_F(ContentTest, TextIsReEncodedThroughTheTable) {
    // A table that writes the upper half of the workstation code page as two bytes (as UTF-8
    // does for Latin-1).
    opx::TextEncoding utf8{};
    for (unsigned b = 0; b < 256; ++b) {
        if (b < 0x80) {
            utf8.length[b] = 1;
            utf8.bytes[b][0] = static_cast<uint8_t>(b);
        } else {
            utf8.length[b] = 2;
            utf8.bytes[b][0] = static_cast<uint8_t>(0xC0 | (b >> 6));
            utf8.bytes[b][1] = static_cast<uint8_t>(0x80 | (b & 0x3F));
        }
    }
    Pds pds;
    Member m;
    m.name = "CENTS";
    m.records = {ebcdic(line80("PRICE 5\xA2 \xAC \xA6")) /* Latin-1 */};
    pds.members = {m};
    auto h = openPds(pds);
    ExtractExtras extras;
    extras.encoding = &utf8;
    ExtractBlock req = request(EXTRACT_TYPE_TEXT, out("&M"));
    req.options = EXTRACT_STRIP;
    ASSERT_EQ(run(h.get(), req, extras).severity, 0);
    EXPECT_EQ(readFile(out("CENTS")), "PRICE 5\xC2\xA2 \xC2\xAC \xC2\xA6\n");
}

TEST_F(ContentTest, SurveyCountsEveryMemberOnce) {
    Pds pds = samplePds(3, 7);
    pds.members[1].aliases = {"ALIAS2"};
    pds.members[2].records = {bytesOf(80, 0, 3), bytesOf(80, 1, 5)};
    auto h = openPds(pds);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr);
    std::vector<opx::DataSurvey> s;
    ASSERT_TRUE(opx::surveyMembers(h.get(), ds, s));
    ASSERT_EQ(s.size(), 4u); // ALIAS2, MEM1, MEM2, MEM3 in directory order
    EXPECT_TRUE(s[0].found);
    EXPECT_EQ(s[0].records, 7u) << "the alias shares its member's data";
    EXPECT_EQ(s[1].bytes, 7u * 80);
    EXPECT_EQ(s[3].records, 2u);
    EXPECT_EQ(s[3].content, Content::Binary);
    EXPECT_EQ(s[1].content, Content::Text);
}
