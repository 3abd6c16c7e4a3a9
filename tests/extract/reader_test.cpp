// The transmit-file reader: segments, control records, text units, every message with the
// offsets it names, and the description of each data set.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "extract_fixture.h"
#include "failing_stream.h"
#include "reader.h"
#include "xmit_fixture.h"
#include "xmit_format.h"

using namespace xtest;
using namespace xmitw;

namespace {

const std::vector<TextUnit> kOrigin = {textUnit(0x1011, "NODEA"), textUnit(0x1012, "USERA"),
                                       textUnit(0x1024, "20261208093000")};

Bytes inmr01(uint32_t files) {
    auto units = kOrigin;
    units.push_back(numberUnit(0x102F, files, 1));
    return controlRecord("INMR01", units);
}

Bytes seqInmr02(uint32_t n, std::string_view dsname = "A.B", std::string_view utility = "INMCOPY") {
    return controlRecord("INMR02",
                         {textUnit(0x1028, utility), numberUnit(0x003C, 0x4000, 2),
                          numberUnit(0x0042, 80, 2), numberUnit(0x0030, 3120, 2),
                          TextUnit{0x0049, {{0x90, 0}}}, qualifierUnit(0x0002, dsname)},
                         n);
}

// A sequential transmit file of the given records, record by record.
std::vector<LogicalRecord> sequential(const std::vector<std::string>& lines) {
    std::vector<LogicalRecord> r = {
        {inmr01(1), true}, {seqInmr02(1), true}, {controlRecord("INMR03", {}), true}};
    for (const auto& l : lines) r.push_back({ebcdic(l), false});
    r.push_back({controlRecord("INMR06", {}), true});
    return r;
}

} // namespace

class Reader : public XmitTest {};

TEST_F(Reader, DescribesASequentialDataSet) {
    auto h = openRecords(sequential({"LINE ONE", "LINE TWO"}));
    ASSERT_EQ(h->message, nullptr) << message(h);
    EXPECT_STREQ(h->originNode, "NODEA");
    EXPECT_STREQ(h->originUser, "USERA");
    EXPECT_STREQ(h->originTime, "20261208093000");
    ASSERT_EQ(h->fileCount, 1u);
    const XmitDataSet& ds = h->dataSets[0];
    EXPECT_EQ(ds.kind, XMIT_KIND_SEQUENTIAL);
    EXPECT_EQ(ds.fileNumber, 1u);
    EXPECT_STREQ(ds.dsname, "A.B") << "two qualifier values joined by one period";
    EXPECT_EQ(ds.lrecl, 80);
    EXPECT_EQ(ds.blksize, 3120);
    EXPECT_EQ(ds.recfm, 0x90);
    EXPECT_STREQ(ds.recfmLetters, "FB");
    EXPECT_GT(ds.dataPosition, 0);
    EXPECT_EQ(h->io.binary, 1);
    EXPECT_EQ(h->directoryLength, paths_.back().rfind('/') + 1);
}

TEST_F(Reader, FileSize) {
    for (size_t size : {0u, 80u, 161u, 159u}) {
        auto h = open(Bytes(size, 0x40));
        EXPECT_STREQ(h->message, "Invalid TSO TRANSMIT file (bad file size)") << size;
        EXPECT_EQ(h->fileCount, 0u);
    }
    auto missing = HandlePtr(pXmitFileOpen((dir_ / "absent.xmit").string().c_str()));
    EXPECT_STREQ(missing->message, std::strerror(ENOENT));
    EXPECT_EQ(missing->io.stream, nullptr);
}

TEST_F(Reader, Inmr01Messages) {
    // The first length byte is 0: the record cannot be read.
    EXPECT_EQ(message(open(Bytes(160, 0))),
              "Invalid TSO TRANSMIT file (cannot read INMR01 record)");
    // A data record first, or another control record.
    EXPECT_EQ(message(openRecords({{inmr01(1), false}, {controlRecord("INMR06", {}), true}})),
              "Invalid TSO TRANSMIT file (bad INMR01 record ID)");
    EXPECT_EQ(message(openRecords({{controlRecord("INMR02", {}, 1), true}})),
              "Invalid TSO TRANSMIT file (bad INMR01 record ID)");
    EXPECT_EQ(message(openRecords({{ebcdic("INM"), true}, {controlRecord("INMR06", {}), true}})),
              "Invalid TSO TRANSMIT file (bad INMR01 record ID)")
        << "a record shorter than its identifier";
    // A text unit that runs past the record.
    Bytes bad = controlRecord("INMR01", {textUnit(0x1011, "NODEA")});
    bad[bad.size() - 6] = 0x40; // the value's length
    EXPECT_EQ(message(openRecords({{bad, true}, {controlRecord("INMR06", {}), true}})),
              "Invalid TSO TRANSMIT file (bad INMR01 segment fields)");
    Bytes trailing = inmr01(0);
    trailing.push_back(0x00);
    EXPECT_EQ(message(openRecords({{trailing, true}, {controlRecord("INMR06", {}), true}})),
              "Invalid TSO TRANSMIT file (bad INMR01 segment fields)")
        << "text units must end exactly at the record's end";
    // A file count that the file cannot hold sizes no allocation.
    auto units = kOrigin;
    units.push_back(numberUnit(0x102F, 0xFFFFFFFF, 4));
    auto h =
        openRecords({{controlRecord("INMR01", units), true}, {controlRecord("INMR06", {}), true}});
    EXPECT_EQ(message(h), "Invalid TSO TRANSMIT file (bad INMR01 segment fields)");
    EXPECT_EQ(h->dataSets, nullptr);
}

TEST_F(Reader, NoFiles) {
    auto h = openRecords({{inmr01(0), true}, {controlRecord("INMR06", {}), true}});
    EXPECT_EQ(h->message, nullptr);
    EXPECT_EQ(h->fileCount, 0u);
    EXPECT_EQ(h->dataSets, nullptr);
}

TEST_F(Reader, Inmr02Messages) {
    auto withInmr02 = [&](const LogicalRecord& r) {
        return message(openRecords({{inmr01(1), true}, r, {controlRecord("INMR06", {}), true}}));
    };
    EXPECT_EQ(withInmr02({ebcdic("DATA"), false}),
              "Invalid TSO TRANSMIT file (missing INMR02 record)");
    EXPECT_EQ(withInmr02({controlRecord("INMR03", {}), true}),
              "Invalid TSO TRANSMIT file (bad INMR02 record ID)");
    EXPECT_EQ(withInmr02({seqInmr02(2), true}),
              "Invalid TSO TRANSMIT file (bad INMR02 file number)");
    EXPECT_EQ(withInmr02({ebcdic("INMR02\x01"), true}),
              "Invalid TSO TRANSMIT file (bad INMR02 file number)")
        << "too short for a file number";
    Bytes bad = seqInmr02(1);
    bad.push_back(0x12);
    EXPECT_EQ(withInmr02({bad, true}), "Invalid TSO TRANSMIT file (bad INMR02 segment fields)");
    // A later record of the group is checked the same way.
    EXPECT_EQ(
        message(openRecords({{inmr01(1), true},
                             {seqInmr02(1, "A.B", "IEBCOPY"), true},
                             {controlRecord("INMR02", {textUnit(0x1028, "INMCOPY")}, 3), true},
                             {controlRecord("INMR06", {}), true}})),
        "Invalid TSO TRANSMIT file (bad INMR02 file number)");
}

TEST_F(Reader, Inmr03Message) {
    auto records = sequential({"X"});
    records[2] = {controlRecord("INMR04", {}), true};
    EXPECT_EQ(message(openRecords(records)), "Invalid TSO TRANSMIT file (bad INMR03 record ID)");
}

TEST_F(Reader, SegmentLengths) {
    // A data record cut into a first segment and a segment of length 2 (no data) in its
    // middle. The open passes over the first file's data records to reach the second file.
    Bytes two;
    Sink sink2(&two);
    SegmentWriter w2(sink2);
    w2.record(inmr01(2), true);
    w2.record(seqInmr02(1), true);
    w2.record(seqInmr02(2), true);
    w2.record(controlRecord("INMR03", {}), true);
    w2.segment(5, 0x80, ebcdic("ABC"));
    const size_t offset2 = two.size();
    w2.segment(2, 0x00, {});
    w2.record(controlRecord("INMR06", {}), true);
    w2.finish();
    EXPECT_EQ(message(open(two)), "Invalid segment length at offset " + std::to_string(offset2));

    // A length byte of 0 and of 1 are invalid at their own offsets.
    for (uint8_t bad : {0, 1}) {
        Bytes b;
        Sink s(&b);
        SegmentWriter sw(s);
        sw.record(inmr01(2), true);
        sw.record(seqInmr02(1), true);
        sw.record(seqInmr02(2), true);
        sw.record(controlRecord("INMR03", {}), true);
        sw.record(ebcdic("DATA"), false);
        const size_t at = b.size();
        sw.raw({bad});
        sw.record(controlRecord("INMR06", {}), true);
        sw.finish();
        EXPECT_EQ(message(open(b)), "Invalid segment length at offset " + std::to_string(at))
            << int(bad);
    }
}

TEST_F(Reader, EmptyRecordSegment) {
    // A segment of length 2 that is both first and last is an empty record.
    Bytes image;
    Sink sink(&image);
    SegmentWriter w(sink);
    w.record(inmr01(2), true);
    w.record(seqInmr02(1), true);
    w.record(seqInmr02(2), true);
    w.record(controlRecord("INMR03", {}), true);
    w.segment(2, 0xC0, {});
    w.record(controlRecord("INMR03", {}), true);
    w.record(controlRecord("INMR06", {}), true);
    w.finish();
    auto h = open(image);
    EXPECT_EQ(h->message, nullptr) << message(h);
}

TEST_F(Reader, SegmentFlags) {
    auto build = [&](uint8_t firstFlags, uint8_t secondFlags, size_t* flagsOffset) {
        Bytes b;
        Sink s(&b);
        SegmentWriter w(s);
        w.record(inmr01(2), true);
        w.record(seqInmr02(1), true);
        w.record(seqInmr02(2), true);
        w.record(controlRecord("INMR03", {}), true);
        const size_t first = b.size();
        w.segment(5, firstFlags, ebcdic("ABC"));
        const size_t second = b.size();
        w.segment(5, secondFlags, ebcdic("DEF"));
        w.record(controlRecord("INMR03", {}), true);
        w.record(controlRecord("INMR06", {}), true);
        w.finish();
        *flagsOffset = (firstFlags & 0x80) && !(firstFlags & 0x0F) ? second + 1 : first + 1;
        return b;
    };
    auto flagsMessage = [&](uint8_t first, uint8_t second, size_t* at) {
        return message(open(build(first, second, at)));
    };
    size_t at;
    // A continuation segment flagged first again is accepted.
    EXPECT_EQ(flagsMessage(0x80, 0xC0, &at), "");
    std::string m = flagsMessage(0x00, 0xC0, &at);
    EXPECT_EQ(m, "Invalid segment flags at offset " + std::to_string(at))
        << "a first segment without X'80'";
    m = flagsMessage(0x81, 0x40, &at);
    EXPECT_EQ(m, "Invalid segment flags at offset " + std::to_string(at));
    m = flagsMessage(0x80, 0x48, &at);
    EXPECT_EQ(m, "Invalid segment flags at offset " + std::to_string(at));
    EXPECT_EQ(flagsMessage(0x90, 0x50, &at), "") << "X'10' is accepted and ignored";
}

TEST_F(Reader, EndOfFile) {
    // A segment longer than what is left of the file.
    Bytes c;
    Sink sc(&c);
    SegmentWriter wc(sc);
    wc.record(inmr01(1), true);
    wc.raw({200, 0xA0});
    wc.finish();
    EXPECT_EQ(message(open(c)), "Unexpected end of file");
    // A record whose last segment never comes: the file ends right after a whole segment.
    Bytes exact;
    Sink se(&exact);
    SegmentWriter we(se);
    we.record(inmr01(1), true);
    const size_t length = 160 - exact.size();
    we.segment(static_cast<uint8_t>(length), 0xA0, Bytes(length - 2, 0xC1));
    ASSERT_EQ(exact.size(), 160u);
    EXPECT_EQ(message(open(exact)), "Unexpected end of file");
}

// A read that fails is reported with the system's reason, not as the end of the file.
TEST_F(Reader, ReadErrorsAreNotEndOfFile) {
    std::vector<std::string> lines(200, std::string(80, 'X'));
    const Bytes image = fileImage(sequential(lines));
    for (unsigned trace : {0u, 3u}) {
        auto h = open(image);
        ASSERT_EQ(h->message, nullptr);
        FailingSource source{std::string(image.begin(), image.end()), 0, image.size() / 2};
        std::fclose(h->io.stream);
        h->io.stream = failingStream(&source);
        h->io.traceLevel = static_cast<int>(trace);
        ASSERT_EQ(opx::seek(h.get(), h->dataSets[0].dataPosition), IO_OK);
        int status = IO_OK;
        while ((status = opx::readRecord(h.get())) == IO_OK && !opx::isControl(h.get())) {
        }
        EXPECT_EQ(status, IO_ERROR) << trace;
        EXPECT_STREQ(h->message, "READ error: Input/output error") << trace;
    }
    // The same failure in the middle of member data ends an extraction with the reason.
    const Bytes pds = fileImage(collect([](const Emit& e) { pdsTransmit(samplePds(4, 200), e); }));
    for (size_t cut : {pds.size() / 2, pds.size() - 100}) {
        auto h = open(pds, "pds.xmit");
        ASSERT_EQ(h->message, nullptr);
        FailingSource source{std::string(pds.begin(), pds.end()), 0, cut};
        std::fclose(h->io.stream);
        h->io.stream = failingStream(&source);
        testsupport::TempDir out;
        RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, (out / "&M").string()));
        EXPECT_EQ(r.severity, 16) << cut;
        EXPECT_EQ(r.message, "READ error: Input/output error") << cut;
    }
}

TEST_F(Reader, LastSegmentEndsAtEndOfFile) {
    auto records = sequential({"ONLY"});
    Bytes image = fileImage(records);
    // Rebuild so that the INMR06 segment ends exactly at a multiple of 80: pad the data record.
    for (size_t extra = 0; extra < 80; ++extra) {
        std::vector<LogicalRecord> r = sequential({std::string(1 + extra, 'X')});
        Bytes img;
        Sink s(&img);
        SegmentWriter w(s);
        for (auto& lr : r) w.record(lr.data, lr.control);
        if (img.size() % 80 == 0) {
            auto h = open(img);
            EXPECT_EQ(h->message, nullptr) << message(h);
            EXPECT_EQ(h->dataSets[0].kind, XMIT_KIND_SEQUENTIAL);
            return;
        }
    }
    FAIL() << "no padding made the file end on a record";
}

TEST_F(Reader, KindsAndUtilities) {
    auto kindOf = [&](std::vector<TextUnit> units) {
        auto h = openRecords({{inmr01(1), true},
                              {controlRecord("INMR02", units, 1), true},
                              {controlRecord("INMR02", {textUnit(0x1028, "INMCOPY")}, 1), true},
                              {controlRecord("INMR03", {}), true},
                              {controlRecord("INMR06", {}), true}});
        EXPECT_EQ(h->message, nullptr) << message(h);
        return h->dataSets[0].kind;
    };
    // A partitioned data set sent by another utility is sequential without a member name.
    EXPECT_EQ(kindOf({textUnit(0x1028, "OTHER"), numberUnit(0x003C, 0x0200, 2)}),
              XMIT_KIND_SEQUENTIAL);
    EXPECT_EQ(
        kindOf({textUnit(0x1028, "OTHER"), numberUnit(0x003C, 0x0200, 2), textUnit(0x0003, "MEM")}),
        XMIT_KIND_UNSUPPORTED);
    EXPECT_EQ(kindOf({textUnit(0x1028, "IEBCOPY"), numberUnit(0x003C, 0x4000, 2)}),
              XMIT_KIND_UNSUPPORTED);
    EXPECT_EQ(kindOf({textUnit(0x1028, "OTHER"), numberUnit(0x003C, 0x8000, 2)}),
              XMIT_KIND_UNSUPPORTED);
    // A one-byte organisation value is a number of one byte: X'40' is not sequential.
    EXPECT_EQ(kindOf({textUnit(0x1028, "OTHER"), TextUnit{0x003C, {{0x40}}}}),
              XMIT_KIND_UNSUPPORTED);
}

TEST_F(Reader, RecfmLettersAndNumbers) {
    auto describe = [&](std::vector<TextUnit> units) {
        units.insert(units.begin(), textUnit(0x1028, "INMCOPY"));
        auto h = openRecords({{inmr01(1), true},
                              {controlRecord("INMR02", units, 1), true},
                              {controlRecord("INMR03", {}), true},
                              {controlRecord("INMR06", {}), true}});
        EXPECT_EQ(h->message, nullptr) << message(h);
        return h->dataSets[0];
    };
    const struct {
        uint8_t recfm;
        const char* letters;
    } kCases[] = {{0x80, "F"},  {0x90, "FB"},  {0x94, "FBA"}, {0x92, "FBM"},
                  {0x40, "V"},  {0x50, "VB"},  {0x58, "VBS"}, {0xC0, "U"},
                  {0xE0, "UT"}, {0x96, "FBA"}, {0x10, ""},    {0x00, ""}};
    for (auto c : kCases) {
        XmitDataSet ds = describe({TextUnit{0x0049, {{c.recfm, 0}}}});
        EXPECT_STREQ(ds.recfmLetters, c.letters) << std::hex << int(c.recfm);
    }
    XmitDataSet ds = describe({numberUnit(0x0042, 0x012345, 3), numberUnit(0x0030, 0x1234, 6)});
    EXPECT_EQ(ds.lrecl, 0x012345);
    EXPECT_EQ(ds.blksize, 0x1234) << "the last four bytes of a longer value";
    ds = describe({});
    EXPECT_EQ(ds.lrecl, -1);
    EXPECT_EQ(ds.blksize, -1);
    EXPECT_EQ(ds.recfm, 0);
    // A name longer than a data set name can be stops at 44 characters.
    ds = describe({qualifierUnit(0x0002, "AAAAAAAA.BBBBBBBB.CCCCCCCC.DDDDDDDD.EEEEEEEE.FFFFFFFF")});
    EXPECT_EQ(std::strlen(ds.dsname), 44u);
    EXPECT_EQ(std::string(ds.dsname), std::string("AAAAAAAA.BBBBBBBB.CCCCCCCC.DDDDDDDD.EEEEEEEE"));
    ds = describe({textUnit(0x0003, "TOOLONGNAME")});
    EXPECT_STREQ(ds.member, "TOOLONGN");
}

TEST_F(Reader, EncryptedDataSet) {
    auto h = openRecords({{inmr01(1), true},
                          {seqInmr02(1, "A.B", "IEBCOPY"), true},
                          {controlRecord("INMR02", {textUnit(0x1028, "AMSCIPHR")}, 1), true},
                          {controlRecord("INMR02", {textUnit(0x1028, "INMCOPY")}, 1), true},
                          {controlRecord("INMR03", {}), true},
                          {controlRecord("INMR06", {}), true}});
    ASSERT_EQ(h->message, nullptr) << message(h);
    EXPECT_EQ(h->dataSets[0].encrypted, 1);
    // The cipher named by the first record of the group marks it as well.
    auto first = openRecords({{inmr01(1), true},
                              {seqInmr02(1, "A.B", "AMSCIPHR"), true},
                              {controlRecord("INMR02", {textUnit(0x1028, "INMCOPY")}, 1), true},
                              {controlRecord("INMR03", {}), true},
                              {controlRecord("INMR06", {}), true}});
    ASSERT_EQ(first->message, nullptr) << message(first);
    EXPECT_EQ(first->dataSets[0].encrypted, 1);
}

TEST_F(Reader, MessageText) {
    Pds pds = samplePds(1, 1);
    std::vector<std::string> lines = {"HELLO FROM THE MAINFRAME", "", "  LAST LINE  "};
    auto h = openRecords(collect([&](const Emit& e) { pdsTransmit(pds, e, {}, &lines); }));
    ASSERT_EQ(h->message, nullptr) << message(h);
    ASSERT_EQ(h->fileCount, 2u);
    EXPECT_EQ(h->dataSets[0].kind, XMIT_KIND_MESSAGE);
    ASSERT_NE(h->dataSets[0].messageText, nullptr);
    EXPECT_STREQ(h->dataSets[0].messageText, "HELLO FROM THE MAINFRAME\n\n  LAST LINE\n")
        << "trailing blanks go; a blank line stays as an empty line";
    EXPECT_EQ(h->dataSets[1].kind, XMIT_KIND_PARTITIONED);
    EXPECT_STREQ(h->dataSets[1].dsname, "TEST.PDS");

    std::vector<std::string> none;
    auto empty = openRecords(collect([&](const Emit& e) { pdsTransmit(pds, e, {}, &none); }));
    ASSERT_EQ(empty->message, nullptr) << message(empty);
    EXPECT_EQ(empty->dataSets[0].messageText, nullptr) << "a message without lines has no text";
}

TEST_F(Reader, CloseAcceptsNull) {
    vXmitFileClose(nullptr);
}

TEST(ReaderDeathTest, NotConnected) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fresh process that never connected.
    EXPECT_EXIT(pXmitFileOpen("/dev/null"), testing::ExitedWithCode(20), "DLL is not connected");
    EXPECT_EXIT(
        {
            int status;
            ConnectionRecord* record;
            pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.7", nullptr,
                             nullptr);
        },
        testing::ExitedWithCode(20),
        "Quorin Toolbench OPXCORE.DLL version 3.0.07 is\nincompatible with Quorin "
        "Toolbench version 3.0.7");
}

TEST_F(Reader, SeekTellAndRecords) {
    auto h = openRecords(sequential({"LINE ONE", "LINE TWO"}));
    ASSERT_EQ(h->message, nullptr);
    const int64_t data = h->dataSets[0].dataPosition;
    ASSERT_EQ(opx::seek(h.get(), data), IO_OK);
    int64_t at = -1;
    ASSERT_EQ(opx::tell(h.get(), &at), IO_OK);
    EXPECT_EQ(at, data);
    ASSERT_EQ(opx::readRecord(h.get()), IO_OK);
    EXPECT_EQ(h->recordOffset, data);
    EXPECT_EQ(std::string(h->record, h->record + h->recordLength),
              std::string(reinterpret_cast<const char*>(ebcdic("LINE ONE").data()), 8));
    EXPECT_FALSE(opx::isControl(h.get()));
    ASSERT_EQ(opx::tell(h.get(), &at), IO_OK);
    const int64_t second = at;
    ASSERT_EQ(opx::readRecord(h.get()), IO_OK);
    EXPECT_EQ(h->recordOffset, second);
    // Back to the first record, traced: the stream and the reader agree at every level.
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(
        &status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", [](const char*) {}, nullptr);
    h->io.traceLevel = 3;
    ASSERT_EQ(opx::seek(h.get(), data), IO_OK);
    ASSERT_EQ(opx::readRecord(h.get()), IO_OK);
    ASSERT_EQ(opx::tell(h.get(), &at), IO_OK);
    EXPECT_EQ(at, second);
    ASSERT_EQ(opx::readRecord(h.get()), IO_OK);
    ASSERT_EQ(opx::readRecord(h.get()), IO_OK);
    EXPECT_TRUE(opx::isControl(h.get()));
    EXPECT_TRUE(opx::hasIdentifier(h.get(), xmit::kInmr06));
    h->io.traceLevel = 0;
    // A stream that cannot seek (a pipe): the failure names the operation and the system's text.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::FILE* keep = h->io.stream;
    h->io.stream = fdopen(fds[0], "rb");
    EXPECT_EQ(opx::seek(h.get(), data), IO_ERROR);
    EXPECT_EQ(message(h), std::string("SEEK error: ") + std::strerror(ESPIPE));
    std::fclose(h->io.stream);
    close(fds[1]);
    h->io.stream = keep;
}
