// The IEBCOPY unload: its control records, the directory and its display lines, load-module
// attributes, packed dates, relative TTRs and member data through the cursor.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "codexa.h"
#include "reader.h"
#include "xmit_fixture.h"

using namespace xtest;
using namespace xmitw;

namespace {

// Positions of the unload's records in a single-file transmit file.
constexpr size_t kR1 = 4, kR2 = 5, kDirectory = 6;

std::vector<LogicalRecord> pdsRecords(const Pds& pds) {
    return collect([&](const Emit& e) { pdsTransmit(pds, e); });
}

// A load-module line of 77 columns: name at 0, then texts at the given columns.
std::string moduleLine(std::initializer_list<std::pair<unsigned, std::string>> parts) {
    std::string l(77, ' ');
    for (const auto& [column, text] : parts) l.replace(column, text.size(), text);
    return l;
}

std::string line(XmitDataSet* ds, unsigned index, unsigned size = 100) {
    std::string buffer(size, '\x7F');
    vXmitFileFormatDe(ds, index, buffer.data(), size);
    return std::string(buffer.c_str());
}

std::string translated(const uint8_t* data, uint32_t length) {
    std::string s;
    Charset* e = pCharsetLoad(1047, 0);
    for (uint32_t i = 0; i < length; ++i)
        s.push_back(static_cast<char>(e->toUnicode[data[i]] < 256 ? e->toUnicode[data[i]] : '?'));
    vCharsetFree(e);
    return s;
}

// Every record of every member, as text, in unload order.
std::vector<std::vector<std::string>> readAll(XmitHandle* h, XmitDataSet* ds, std::string* error,
                                              uint32_t assemblySize = 0) {
    std::vector<std::vector<std::string>> members;
    std::vector<uint8_t> assembly(assemblySize);
    MemberCursor c;
    if (!opx::startMembers(h, ds, &c, assemblySize ? assembly.data() : nullptr, assemblySize)) {
        *error = h->message ? h->message : "start failed";
        return members;
    }
    unsigned distinct = 0;
    for (unsigned i = 0; i < ds->entryCount; ++i)
        if (!(opx::directoryEntry(ds, i)[11] & 0x80)) ++distinct;
    for (unsigned m = 0; m < distinct; ++m) {
        members.emplace_back();
        for (;;) {
            int st = opx::readMemberRecord(h, ds, &c);
            if (st == MEMBER_RECORD) {
                members.back().push_back(translated(c.record, c.recordLength));
                continue;
            }
            if (st == MEMBER_ERROR) {
                *error = h->message ? h->message : "error";
                return members;
            }
            break;
        }
    }
    return members;
}

} // namespace

class Unload : public XmitTest {
  protected:
    // Opens a file whose records went through `edit`, and loads the directory.
    HandlePtr openEdited(const Pds& pds,
                         const std::function<void(std::vector<LogicalRecord>&)>& edit) {
        auto recs = pdsRecords(pds);
        edit(recs);
        return openRecords(recs);
    }
    std::string openMessage(const Pds& pds,
                            const std::function<void(std::vector<LogicalRecord>&)>& edit) {
        return message(openEdited(pds, edit));
    }
    std::string directoryMessage(const Pds& pds,
                                 const std::function<void(std::vector<LogicalRecord>&)>& edit) {
        auto h = openEdited(pds, edit);
        if (h->message) return std::string("open: ") + h->message;
        XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
        EXPECT_EQ(ds, nullptr);
        return message(h);
    }
};

TEST_F(Unload, ReadsAPartitionedDataSet) {
    Pds pds = samplePds(3, 25);
    pds.members[1].aliases = {"ALIAS2"};
    auto h = openPds(pds);
    ASSERT_EQ(h->message, nullptr) << message(h);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    EXPECT_EQ(ds->kind, XMIT_KIND_PARTITIONED);
    EXPECT_EQ(ds->tracksPerCylinder, 15);
    EXPECT_EQ(ds->extentCount, 1);
    EXPECT_EQ(ds->extents[0][0], 150u);
    EXPECT_EQ(ds->extents[0][1], 90u * 15);
    EXPECT_EQ(ds->entryCount, 4u);
    EXPECT_EQ(ds->entryLength, 40u);
    EXPECT_EQ(ds->hasAliases, 1);
    EXPECT_EQ(ds->loadLibrary, 0);
    EXPECT_GT(ds->dataPosition, ds->directoryPosition);
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), ds) << "read once, then returned as it is";

    std::string error;
    auto members = readAll(h.get(), ds, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[2].size(), 25u);
    EXPECT_EQ(members[2][24].substr(0, 19), "MEMBER 3 LINE 25   ");
    EXPECT_EQ(members[0][0].size(), 80u);
}

TEST_F(Unload, DirectoryLines) {
    Pds pds = samplePds(2, 1);
    pds.members[0].name = "ALPHA";
    pds.members[0].stats = IspfStats{1, 4, 121063, 123324, 0x14, 0x05, "IBMUSER", false};
    pds.members[1].name = "BETA";
    pds.members[1].stats = IspfStats{12, 0, 99001, 100060, 0x09, 0x30, "", true};
    pds.members[1].aliases = {"BALIAS"};
    Member orphan;
    orphan.name = "ZNOSTATS";
    orphan.records = {ebcdic(std::string(80, 'Z'))};
    pds.members.push_back(orphan);
    auto h = openPds(pds);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    ASSERT_EQ(ds->entryCount, 4u);
    // Entries stand in name order: ALPHA, BALIAS, BETA, ZNOSTATS.
    EXPECT_EQ(line(ds, 0), "ALPHA                 1.004  2021-03-04  2023-11-20 14:05  IBMUSER");
    EXPECT_EQ(line(ds, 1), "BALIAS    BETA       12.000  1999-01-01  2000-02-29 09:30  ")
        << "no user ID: the format's two trailing blanks stay";
    EXPECT_EQ(line(ds, 2), "BETA                 12.000  1999-01-01  2000-02-29 09:30  ");
    EXPECT_EQ(line(ds, 3), "ZNOSTATS          ") << "no statistics: the line ends after column 17";
    EXPECT_EQ(line(ds, 4), "") << "an index beyond the directory gives an empty line";
    EXPECT_EQ(line(ds, 0, 78).size(), 66u) << "the user ID ends the line";
    EXPECT_EQ(line(ds, 0, 40), "") << "a line too small for every entry stays empty";
    vXmitFileFormatDe(nullptr, 0, nullptr, 0);
    char one[1] = {'x'};
    vXmitFileFormatDe(ds, 0, one, 1);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(Unload, PackedDates) {
    char text[11];
    auto date = [&](uint32_t value, uint8_t sign = 0x0F) {
        Bytes p = packedDate(value, sign);
        std::memset(text, '#', sizeof text);
        int r = opx::packedDate(p.data(), text);
        return r == 0  ? std::string(text)
               : r < 0 ? "zero:" + std::string(text)
                       : std::string("invalid");
    };
    EXPECT_EQ(date(99060), "1999-03-01") << "day 60 of a common year";
    EXPECT_EQ(date(100060), "2000-02-29") << "day 60 of a leap year";
    EXPECT_EQ(date(100366), "2000-12-31");
    EXPECT_EQ(date(99365), "1999-12-31");
    EXPECT_EQ(date(99366), "invalid");
    EXPECT_EQ(date(75001), "1975-01-01");
    EXPECT_EQ(date(74365), "invalid") << "before 1975";
    EXPECT_EQ(date(100000), "invalid") << "day 0";
    EXPECT_EQ(date(149365), "2049-12-31");
    EXPECT_EQ(date(150001), "invalid") << "above 150000";
    EXPECT_EQ(date(0), "zero:          ");
    EXPECT_EQ(date(121001, 0x0C), "invalid") << "sign C";
    const uint8_t notDigits[4] = {0x01, 0x2A, 0x00, 0x1F};
    EXPECT_EQ(opx::packedDate(notDigits, text), 1);
}

TEST_F(Unload, ChangeDateWithSignCSuppressesStatistics) {
    Pds pds = samplePds(1, 1);
    auto h = openEdited(pds, [](std::vector<LogicalRecord>& recs) {
        // The changed date of the only entry (offset 20 from the entry at block offset 2).
        Bytes& dir = recs[kDirectory].data;
        dir[20 + 2 + 20 + 3] = (dir[20 + 2 + 20 + 3] & 0xF0) | 0x0C;
    });
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    EXPECT_EQ(line(ds, 0), "MEM1              ");
}

TEST_F(Unload, AliasWithoutItsMember) {
    Pds pds = samplePds(1, 1);
    auto h = openEdited(pds, [](std::vector<LogicalRecord>& recs) {
        Bytes& dir = recs[kDirectory].data;
        // Make the only entry an alias whose TTR matches nothing.
        dir[20 + 2 + 11] |= 0x80;
    });
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    EXPECT_EQ(line(ds, 0).substr(0, 18), "MEM1      ????????");
    EXPECT_EQ(ds->hasAliases, 1);
}

TEST_F(Unload, ControlRecordMessages) {
    Pds pds = samplePds(1, 1);
    auto r1 = [&](std::function<void(Bytes&)> f) {
        return openMessage(pds, [&](std::vector<LogicalRecord>& recs) { f(recs[kR1].data); });
    };
    EXPECT_EQ(openMessage(pds, [](auto& recs) { recs[kR1].control = true; }),
              "Invalid TSO TRANSMIT file data (missing IEBCOPY control record 1)");
    EXPECT_EQ(r1([](Bytes& r) { r.resize(35); }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 length)");
    EXPECT_EQ(r1([](Bytes& r) { r[2] = 0x6E; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 ID)");
    EXPECT_EQ(r1([](Bytes& r) { r[26] = r[27] = 0; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 device information)");
    EXPECT_EQ(r1([](Bytes& r) { r[26] = 1, r[27] = 1; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 device information)");
    EXPECT_EQ(r1([](Bytes& r) { r[36] = 1; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY control record count)");
    EXPECT_EQ(r1([](Bytes& r) { r[36] = 2; }), "");
    EXPECT_EQ(r1([](Bytes& r) { r.resize(36); }), "") << "exactly 36 bytes: no count byte";
    EXPECT_EQ(openMessage(pds, [](auto& recs) { recs[kR2].control = true; }),
              "Invalid TSO TRANSMIT file data (missing IEBCOPY control record 2)");
    auto r2 = [&](std::function<void(Bytes&)> f) {
        return openMessage(pds, [&](std::vector<LogicalRecord>& recs) { f(recs[kR2].data); });
    };
    EXPECT_EQ(r2([](Bytes& r) { r.push_back(0); }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 length)");
    EXPECT_EQ(r2([](Bytes& r) { r[0] = 0; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extents)");
    EXPECT_EQ(r2([](Bytes& r) { r[0] = 17; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extents)");
    EXPECT_EQ(r2([](Bytes& r) { r[16 + 9] = 15; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extent information)")
        << "a start head not below the tracks per cylinder";
    EXPECT_EQ(r2([](Bytes& r) { r[16 + 13] = 15; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extent information)");
    EXPECT_EQ(r2([](Bytes& r) { r[16 + 10] = 0, r[16 + 11] = 9; }),
              "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extent information)")
        << "an end before the start";
}

TEST_F(Unload, PdseAndUnsupportedUnloads) {
    Pds pds = samplePds(1, 1);
    auto kind = [&](std::function<void(Pds&)> f) {
        Pds p = pds;
        f(p);
        auto h = openPds(p);
        EXPECT_EQ(h->message, nullptr) << message(h);
        return std::pair{h->dataSets[0].kind, static_cast<int>(h->dataSets[0].loadLibrary)};
    };
    EXPECT_EQ(kind([](Pds& p) {
                  p.tracksPerCylinder = 256;
                  p.extents = {{0, 0, 1, 255}};
              }).first,
              XMIT_KIND_PDSE);
    EXPECT_EQ(kind([](Pds& p) { p.r1Flags = 0x01; }).first, XMIT_KIND_PDSE);
    EXPECT_EQ(kind([](Pds& p) { p.smsFlags = 0x08; }).first, XMIT_KIND_PDSE);
    EXPECT_EQ(kind([](Pds& p) { p.r1Flags = 0x48; }), std::pair(int(XMIT_KIND_PDSE), 1));
    EXPECT_EQ(kind([](Pds& p) { p.r1Flags = 0x80; }).first, XMIT_KIND_UNSUPPORTED);
    EXPECT_EQ(kind([](Pds& p) { p.r1Flags = 0xC0; }).first, XMIT_KIND_UNSUPPORTED);

    Pds pdse = pds;
    pdse.tracksPerCylinder = 256;
    pdse.extents = {{0, 0, 1, 255}};
    auto h = openPds(pdse);
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), nullptr);
    EXPECT_STREQ(h->message, "PDSE data sets are not supported");
}

// A PDSE unload: the exported call refuses it, the internal path reads its directory and its
// members; every malformed piece of it gets its message.
TEST_F(Unload, PdseUnloads) {
    const Pds pds = samplePds(3, 30);
    auto h = openRecords(pdseUnload(pds));
    ASSERT_EQ(h->message, nullptr) << message(h);
    ASSERT_EQ(h->dataSets[0].kind, XMIT_KIND_PDSE);
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), nullptr);
    EXPECT_STREQ(h->message, "PDSE data sets are not supported");
    XmitDataSet* ds = opx::loadDirectory(h.get(), 1, true);
    ASSERT_NE(ds, nullptr) << message(h);
    EXPECT_EQ(ds->entryCount, 3u);
    EXPECT_EQ(line(ds, 1), "MEM2                  2.000  2021-01-01  2021-02-01 14:05  IBMUSER");
    std::string error;
    auto members = readAll(h.get(), ds, &error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[2].size(), 30u);
    EXPECT_EQ(members[2][29].substr(0, 19), "MEMBER 3 LINE 30   ");

    // The first member data record follows the marker, which follows the one directory record.
    constexpr size_t kMarker = kDirectory + 1, kData = kDirectory + 2;
    auto run = [&](std::function<void(std::vector<LogicalRecord>&)> edit) {
        auto recs = pdseUnload(pds);
        edit(recs);
        auto h2 = openRecords(recs);
        if (h2->message) return std::string("open: ") + h2->message;
        XmitDataSet* d = opx::loadDirectory(h2.get(), 1, true);
        if (d == nullptr) return std::string("dir: ") + message(h2);
        std::string e;
        readAll(h2.get(), d, &e);
        return e;
    };
    const struct {
        const char* what;
        std::function<void(std::vector<LogicalRecord>&)> edit;
        const char* message;
    } cases[] = {
        {"as made", [](auto&) {}, ""},
        {"no marker after the directory",
         [&](auto& r) { r.erase(r.begin() + static_cast<long>(kMarker)); },
         "dir: Invalid TSO TRANSMIT file (invalid directory data record)"},
        {"a marker with more in it", [&](auto& r) { r[kMarker].data[5] = 1; },
         "dir: Invalid TSO TRANSMIT file (invalid directory data record)"},
        {"a directory count field of another flag", [&](auto& r) { r[kDirectory].data[0] = 0x04; },
         "dir: Invalid TSO TRANSMIT file (invalid directory data record)"},
        {"an unknown block flag", [&](auto& r) { r[kData].data[0] = 0x10; },
         "Invalid member data control field"},
        {"a last-group flag on data", [&](auto& r) { r[kData].data[0] = 0x40; },
         "Invalid member data control field"},
        {"an end of group with data", [&](auto& r) { r[kData].data[0] = 0x80; },
         "Invalid member data control field"},
        {"member data cut short", [&](auto& r) { r[kData].data.resize(12 + 800); },
         "TSO TRANSMIT control record encountered before member end-of-file"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.edit), c.message) << c.what;

    // The same marks in an ordinary unload are errors there.
    Pds ordinary = samplePds(1, 1);
    EXPECT_EQ(directoryMessage(ordinary, [](auto& r) { r[kDirectory].data[0] = 0x08; }),
              "Invalid TSO TRANSMIT file (invalid directory data record)");
}

TEST_F(Unload, LoadDirMessages) {
    auto h = openPds(samplePds(1, 1));
    EXPECT_EQ(pxhXmitFileLoadDir(nullptr, 1), nullptr);
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 0), nullptr);
    EXPECT_STREQ(h->message, "Data set 0 was not transmitted");
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 2), nullptr);
    EXPECT_STREQ(h->message, "Data set 2 was not transmitted");
    h->dataSets[0].encrypted = 1;
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), nullptr);
    EXPECT_STREQ(h->message, "Directory information is not available");
    h->dataSets[0].encrypted = 0;
    h->dataSets[0].kind = XMIT_KIND_SEQUENTIAL;
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), nullptr);
    EXPECT_STREQ(h->message, "Directory information is not available");
    std::fclose(h->io.stream);
    h->io.stream = nullptr;
    EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), nullptr);
    EXPECT_STREQ(h->message, "File is not open");
}

TEST_F(Unload, DirectoryMessages) {
    Pds pds = samplePds(2, 1);
    const std::string invalid = "Invalid TSO TRANSMIT file (invalid directory data record)";
    auto dir = [&](std::function<void(Bytes&)> f) {
        return directoryMessage(
            pds, [&](std::vector<LogicalRecord>& recs) { f(recs[kDirectory].data); });
    };
    EXPECT_EQ(
        directoryMessage(pds, [](auto& recs) { recs[kDirectory].control = true; }),
        "Invalid TSO TRANSMIT file (unexpected XMIT control record in IEBCOPY directory data)");
    EXPECT_EQ(dir([](Bytes& d) { d[9] = 0x07; }), invalid)
        << "a count field other than the fixed one";
    EXPECT_EQ(dir([](Bytes& d) { d.resize(d.size() - 20); }), invalid)
        << "fewer than 276 bytes left";
    EXPECT_EQ(dir([](Bytes& d) {
                  d[20] = 0x01;
                  d[21] = 0x01;
              }),
              invalid)
        << "a used length above 256";
    EXPECT_EQ(dir([](Bytes& d) {
                  d[20] = 0;
                  d[21] = 13;
              }),
              invalid)
        << "13 bytes without the X'FF' name";
    EXPECT_EQ(dir([](Bytes& d) { d[21] = static_cast<uint8_t>(d[21] - 25); }), invalid)
        << "an entry longer than the bytes its block uses";
}

TEST_F(Unload, DirectoryEndings) {
    // The last block with a used length of 12 and the X'FF' name.
    Pds pds = samplePds(1, 1);
    pds.members[0].name = std::string("AAAAAAA");
    // Fill the first block exactly so that the X'FF' name goes into a block of its own.
    pds.members.clear();
    for (int i = 0; i < 6; ++i) {
        Member m;
        m.name = "M" + std::to_string(i);
        m.records = {ebcdic(std::string(80, 'x'))};
        m.userData = Bytes(30, 0); // 42-byte entries: six fill 2 + 252 bytes
        pds.members.push_back(m);
    }
    pds.spareDirectoryBlocks = 0;
    auto recs = pdsRecords(pds);
    Bytes& d = recs[kDirectory].data;
    ASSERT_GE(d.size(), 2u * 276);
    EXPECT_EQ(d[276 + 20] * 256 + d[276 + 21], 14) << "the writer's last block: 2 + 12";
    d[276 + 21] = 12; // a used length of 12 with a X'FF' name
    auto h = openRecords(recs);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    EXPECT_EQ(ds->entryCount, 6u);

    // A directory record that ends with the 12-byte marker ends the directory even when more
    // records follow before the member data: they are member data then.
    Pds two = samplePds(2, 3);
    two.directoryBlocksPerRecord = 1;
    two.spareDirectoryBlocks = 3;
    auto recs2 = pdsRecords(two);
    // Put the marker at the end of the first directory record: what follows is not directory.
    recs2[kDirectory].data.insert(recs2[kDirectory].data.end(), 12, 0);
    // Drop the spare-block records that followed (they would otherwise be read as member data).
    size_t firstData = kDirectory + 1;
    while (recs2[firstData].data.size() % 276 == 0 || recs2[firstData].data.size() % 276 == 12)
        ++firstData;
    recs2.erase(recs2.begin() + kDirectory + 1, recs2.begin() + static_cast<long>(firstData));
    auto h2 = openRecords(recs2);
    XmitDataSet* ds2 = pxhXmitFileLoadDir(h2.get(), 1);
    ASSERT_NE(ds2, nullptr) << message(h2);
    EXPECT_EQ(ds2->entryCount, 2u);
    std::string error;
    auto members = readAll(h2.get(), ds2, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(members.size(), 2u);
}

TEST_F(Unload, LoadLibraryMarks) {
    // A RECFM U data set is a load library only when its entries look like load modules.
    Pds pds;
    pds.recfm = 0xC0;
    pds.lrecl = 0;
    pds.blksize = 6144;
    Member m;
    m.name = "PROG";
    m.records = {Bytes(100, 0x07)};
    m.userData = Bytes(22, 0);
    m.userData[20 - 12] = 0x82;     // RENT, executable
    m.userData[22 - 12 + 2] = 0x40; // size 0x000040 at 22..24
    pds.members = {m};
    auto h = openPds(pds);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    EXPECT_EQ(ds->loadLibrary, 1);
    EXPECT_EQ(
        line(ds, 0),
        moduleLine(
            {{0, "PROG"}, {20, "000040"}, {28, "000000"}, {37, "24"}, {44, "24"}, {57, "RN"}}));

    Pds bare = pds;
    bare.members[0].userData.clear(); // an entry of only 12 bytes
    auto hb = openPds(bare);
    XmitDataSet* dsb = pxhXmitFileLoadDir(hb.get(), 1);
    ASSERT_NE(dsb, nullptr) << message(hb);
    EXPECT_EQ(dsb->loadLibrary, 0) << "a 12-byte entry is no load module";

    Pds fb = samplePds(1, 1);
    auto hf = openPds(fb);
    EXPECT_EQ(pxhXmitFileLoadDir(hf.get(), 1)->loadLibrary, 0);
}

TEST_F(Unload, LoadModuleAttributes) {
    // Entry layout: name, TTR, indicator, then attributes from offset 12.
    auto entry = [](std::initializer_list<std::pair<unsigned, uint8_t>> bytes, unsigned length,
                    bool alias = false) {
        Bytes e(length, 0);
        e[11] = static_cast<uint8_t>((alias ? 0x80 : 0) | ((length - 12) / 2));
        for (auto [at, v] : bytes) e[at] = v;
        return e;
    };
    DirectoryEntryInfo info;
    Bytes e = entry({{20, 0xFE},
                     {21, 0x09},
                     {22, 0x01},
                     {23, 0x02},
                     {24, 0x03},
                     {27, 0x00},
                     {28, 0x00},
                     {29, 0x10},
                     {30, 0x38},
                     {31, 0x13},
                     {33, 0x00},
                     {34, 0x10},
                     {35, 0x00},
                     {36, 0x08},
                     // SSI at 42 (41 rounded up), APF at 46-47
                     {42, 0xAB},
                     {43, 0xCD},
                     {44, 0xEF},
                     {45, 0x01},
                     {47, 0x07}},
                    48);
    opx::decodeLoadModuleEntry(e.data(), 48, &info);
    EXPECT_EQ(info.moduleSize, 0x010203u);
    EXPECT_EQ(info.entryPoint, 0x10u);
    EXPECT_EQ(info.scatterListLength, 0x10u);
    EXPECT_EQ(info.translationTableLength, 8u);
    EXPECT_EQ(info.ssi[0], 0xAB);
    EXPECT_EQ(info.ssi[3], 0x01);
    const uint32_t want = 7 | DE_APF | DE_SSI | (3u << 10) | DE_RMODE_ANY | DE_REFR | DE_RENT |
                          DE_REUS | DE_TEST | DE_ONLY | DE_OVLY | DE_SCTR | DE_NOT_EDITABLE |
                          DE_PAGE_ALIGNED;
    EXPECT_EQ(info.flags, want);

    // An alias moves the optional sections by 11 bytes; sections beyond the entry are absent.
    Bytes a = entry({{20, 0x02}, {30, 0x18}, {31, 0x02}}, 34, true);
    opx::decodeLoadModuleEntry(a.data(), 34, &info);
    EXPECT_EQ(info.flags & (DE_SSI | DE_APF), 0u);
    EXPECT_EQ((info.flags & DE_AMODE_MASK) >> 10, 2u);
    Bytes apf = entry({{20, 0x00}, {30, 0x08}, {34, 0x01}}, 36);
    opx::decodeLoadModuleEntry(apf.data(), 36, &info);
    EXPECT_EQ(info.flags & (DE_APF | 0xFF), DE_APF | 1u);
    EXPECT_TRUE(info.flags & DE_NOT_EXECUTABLE);
}

TEST_F(Unload, LoadModuleLines) {
    Pds pds;
    pds.recfm = 0xC0;
    pds.lrecl = 0;
    pds.blksize = 6144;
    auto module = [](const char* name, std::initializer_list<std::pair<unsigned, uint8_t>> attrs,
                     unsigned userBytes) {
        Member m;
        m.name = name;
        m.records = {Bytes(64, 0x07)};
        m.userData = Bytes(userBytes, 0);
        for (auto [at, v] : attrs) m.userData[at - 12] = v;
        return m;
    };
    pds.members = {module("APFMOD",
                          {{20, 0x82}, {21, 0x01}, {22, 0x12}, {30, 0x08}, {31, 0x12}, {34, 0x07}},
                          24),
                   module("NOEXEC", {{20, 0x00}, {31, 0x03}}, 22),
                   module("NOEDIT",
                          {{20, 0x7E},
                           {21, 0x08},
                           {30, 0x08},
                           {35, 0x00},
                           {36, 0x00},
                           {37, 0x00},
                           {38, 0x00},
                           {42, 0x00}},
                          32),
                   module("POBJ", {{20, 0x02}, {30, 0x04}}, 22)};
    pds.members[0].aliases = {"APFALIAS"};
    auto h = openPds(pds);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    ASSERT_EQ(ds->loadLibrary, 1);
    // APFALIAS, APFMOD, NOEDIT, NOEXEC, POBJ
    EXPECT_EQ(line(ds, 1), moduleLine({{0, "APFMOD"},
                                       {20, "120000"},
                                       {28, "000000"},
                                       {37, "31"},
                                       {44, "ANY"},
                                       {50, "07"},
                                       {54, "RF"},
                                       {57, "RN"}}));
    EXPECT_EQ(line(ds, 0).substr(0, 18), "APFALIAS  APFMOD  ");
    EXPECT_EQ(
        line(ds, 3),
        moduleLine(
            {{0, "NOEXEC"}, {20, "000000"}, {28, "000000"}, {37, "ANY"}, {44, "24"}, {75, "NX"}}));
    // REUS, OVLY, TEST, ONLY and SCTR; APF data after the scatter fields with code 0: " 00".
    EXPECT_EQ(line(ds, 2), moduleLine({{0, "NOEDIT"},
                                       {20, "000000"},
                                       {28, "000000"},
                                       {37, "24"},
                                       {44, "24"},
                                       {50, "00"},
                                       {60, "RU"},
                                       {63, "TS"},
                                       {66, "OL"},
                                       {69, "OV"},
                                       {72, "SC"},
                                       {75, "NE"}}));
    EXPECT_EQ(line(ds, 4), "POBJ              ") << "a program object: nothing after column 17";
}

TEST_F(Unload, RelativeTtrAcrossExtents) {
    XmitDataSet ds{};
    ds.tracksPerCylinder = 15;
    ds.extentCount = 2;
    ds.extents[0][0] = 150; // cylinder 10
    ds.extents[0][1] = 30;
    ds.extents[1][0] = 600; // cylinder 40
    ds.extents[1][1] = 45;
    const uint8_t inFirst[12] = {0, 0, 0, 0, 0, 11, 0, 2, 5, 0, 0, 80};  // cyl 11 head 2, record 5
    const uint8_t inSecond[12] = {0, 1, 0, 0, 0, 40, 0, 3, 1, 0, 0, 80}; // extent 1, cyl 40 head 3
    EXPECT_EQ(opx::relativeTtr(&ds, inFirst), (17u << 8) | 5);
    EXPECT_EQ(opx::relativeTtr(&ds, inSecond), (33u << 8) | 1);

    // A member placed in the second extent is found by its TTR and read.
    Pds pds = samplePds(3, 40);
    pds.extents = {{10, 0, 10, 1}, {40, 0, 60, 14}};
    pds.blocksPerTrack = 2;
    auto h = openPds(pds);
    XmitDataSet* d = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(d, nullptr) << message(h);
    std::string error;
    auto members = readAll(h.get(), d, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[2][39].substr(0, 16), "MEMBER 3 LINE 40");
    // The members start at the TTRs of their directory entries.
    MemberCursor c;
    ASSERT_TRUE(opx::startMembers(h.get(), d, &c, nullptr, 0));
    for (unsigned i = 0; i < 3; ++i) {
        uint32_t ttr = 0;
        ASSERT_EQ(opx::peekBlockTtr(h.get(), d, &c, &ttr), MEMBER_RECORD);
        const uint8_t* e = opx::directoryEntry(d, i);
        EXPECT_EQ(ttr, (uint32_t(e[8]) << 16) | (e[9] << 8) | e[10]) << i;
        EXPECT_EQ(opx::skipToMemberEnd(h.get(), d, &c), MEMBER_END);
    }
}

TEST_F(Unload, VariableAndSpannedMembers) {
    Pds vb;
    vb.recfm = 0x50; // VB
    vb.lrecl = 255;
    vb.blksize = 400;
    Member m;
    m.name = "VAR";
    for (int i = 0; i < 20; ++i)
        m.records.push_back(ebcdic(std::string(static_cast<size_t>(i * 10), 'V')));
    vb.members = {m};
    auto h = openPds(vb);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << message(h);
    std::string error;
    auto members = readAll(h.get(), ds, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(members[0].size(), 20u);
    EXPECT_EQ(members[0][0], "") << "an empty record: a descriptor of length 4";
    EXPECT_EQ(members[0][19], std::string(190, 'V'));

    // Spanned: a record in three segments over two blocks (codes 1, 3, 2), then a whole one.
    Pds vbs;
    vbs.recfm = 0x58;
    vbs.lrecl = 1000;
    vbs.blksize = 200;
    Member s;
    s.name = "SPAN";
    auto seg = [](uint8_t code, const std::string& text) {
        Bytes b;
        put16(b, static_cast<uint32_t>(text.size() + 4));
        b.push_back(code);
        b.push_back(0);
        append(b, ebcdic(text));
        return b;
    };
    auto block = [](std::vector<Bytes> segs) {
        Bytes body;
        for (auto& sg : segs) append(body, sg);
        Bytes b;
        put16(b, static_cast<uint32_t>(body.size() + 4));
        put16(b, 0);
        append(b, body);
        return b;
    };
    // RECFM U layout of the writer puts each "record" as a block: give it the blocks.
    Pds raw = vbs;
    raw.recfm = 0xC0; // written as undefined blocks, read back as spanned below
    s.records = {block({seg(1, "FIRST-"), seg(3, "MIDDLE-")}),
                 block({seg(2, "LAST"), seg(0, "WHOLE")})};
    raw.members = {s};
    auto recs = collect([&](const Emit& e) { pdsTransmit(raw, e); });
    recs[1].data =
        controlRecord("INMR02",
                      {textUnit(0x1028, "IEBCOPY"), numberUnit(0x003C, 0x0200, 2),
                       numberUnit(0x0042, 1000, 4), numberUnit(0x0030, 200, 4),
                       TextUnit{0x0049, {{0x58, 0x02}}}, qualifierUnit(0x0002, "SPAN.PDS")},
                      1);
    auto hs = openRecords(recs);
    XmitDataSet* dss = pxhXmitFileLoadDir(hs.get(), 1);
    ASSERT_NE(dss, nullptr) << message(hs);
    ASSERT_STREQ(dss->recfmLetters, "VBS");
    auto assembled = readAll(hs.get(), dss, &error, 996);
    ASSERT_EQ(error, "");
    ASSERT_EQ(assembled[0].size(), 2u);
    EXPECT_EQ(assembled[0][0], "FIRST-MIDDLE-LAST");
    EXPECT_EQ(assembled[0][1], "WHOLE");
    // Without an assembly buffer the segments come one by one.
    auto segments = readAll(hs.get(), dss, &error);
    EXPECT_EQ(segments[0].size(), 4u);
    // An assembly buffer too small for the record.
    auto tooSmall = readAll(hs.get(), dss, &error, 10);
    EXPECT_EQ(error, "Invalid member data record length");
}

TEST_F(Unload, MemberDataMessages) {
    Pds pds = samplePds(1, 3);
    const size_t data = kDirectory + 1; // the first member data record
    auto run = [&](std::function<void(std::vector<LogicalRecord>&)> edit, uint32_t assembly = 0,
                   std::function<void(XmitDataSet*)> attrs = nullptr) {
        auto recs = pdsRecords(pds);
        edit(recs);
        auto h = openRecords(recs);
        if (h->message) return std::string("open: ") + h->message;
        XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
        if (ds == nullptr) return std::string("dir: ") + message(h);
        if (attrs) attrs(ds);
        std::string error;
        readAll(h.get(), ds, &error, assembly);
        return error;
    };
    EXPECT_EQ(run([](auto&) {}), "");
    EXPECT_EQ(run([&](auto& r) { r[data].data[0] = 0x01; }), "Invalid member data control field");
    EXPECT_EQ(run([&](auto& r) { r[data].data[1] = 0x05; }), "Invalid member data control field")
        << "extent";
    EXPECT_EQ(run([&](auto& r) { r[data].data[9] = 0x08; }), "Invalid member data control field")
        << "key length";
    EXPECT_EQ(run([&](auto& r) { r[data].data.resize(r[data].data.size() - 6); }),
              "Invalid member data control field")
        << "fewer than 12 bytes";
    EXPECT_EQ(run([&](auto& r) { r[data].data[10] = 0x7F; }), "Invalid member data CKD field");
    // The end marker of the member is missing: the next record is INMR06.
    EXPECT_EQ(run([&](auto& r) { r[data].data.resize(r[data].data.size() - 12); }),
              "TSO TRANSMIT control record encountered before member end-of-file");
    // A block flagged X'E0' is passed over.
    EXPECT_EQ(run([&](auto& r) {
                  Bytes skip = {0xE0, 0, 0, 0, 0, 10, 0, 0, 1, 0, 0, 4, 1, 2, 3, 4};
                  r[data].data.insert(r[data].data.begin(), skip.begin(), skip.end());
              }),
              "");
    // Fixed records that do not fit the block, and an unknown LRECL.
    EXPECT_EQ(run([](auto&) {}, 0, [](XmitDataSet* ds) { ds->lrecl = 70; }),
              "Invalid member data record length");
    EXPECT_EQ(run([](auto&) {}, 0, [](XmitDataSet* ds) { ds->lrecl = 0; }),
              "Invalid member data record length");
    // Undefined records longer than the block size.
    EXPECT_EQ(run([](auto&) {}, 0,
                  [](XmitDataSet* ds) {
                      std::strcpy(ds->recfmLetters, "U");
                      ds->blksize = 100;
                  }),
              "Invalid member data record length");
    // Variable blocks: descriptors checked against the block.
    auto asVariable = [](XmitDataSet* ds) {
        std::strcpy(ds->recfmLetters, "VB");
        ds->lrecl = 84;
    };
    EXPECT_EQ(run([](auto&) {}, 0, asVariable), "Invalid member data BDW");
    EXPECT_EQ(run(
                  [&](auto& r) {
                      Bytes& d = r[data].data;
                      // The first block becomes BDW 240 + RDW 84 ... the 80-byte text as records.
                      d[12] = 0x00, d[13] = 0xF0, d[14] = 0,
                      d[15] = 0;                  // BDW = 240 = the block's length
                      d[16] = 0x00, d[17] = 0x03; // RDW length 3
                  },
                  0, asVariable),
              "Invalid member data RDW");
    EXPECT_EQ(run(
                  [&](auto& r) {
                      Bytes& d = r[data].data;
                      d[12] = 0x00, d[13] = 0xF0, d[14] = 0, d[15] = 0;
                      d[16] = 0x00, d[17] = 0xF8; // longer than the block
                  },
                  0, asVariable),
              "Invalid member data RDW");
    EXPECT_EQ(run(
                  [&](auto& r) {
                      Bytes& d = r[data].data;
                      d[10] = 0, d[11] = 7; // a block of 7 bytes
                      d.erase(d.begin() + 12 + 7, d.begin() + 12 + 240);
                      d[12] = 0, d[13] = 7;
                  },
                  0, asVariable),
              "Invalid member data record length");
    auto asSpanned = [](XmitDataSet* ds) {
        std::strcpy(ds->recfmLetters, "VBS");
        ds->lrecl = 1000;
    };
    auto spanned = [&](uint8_t firstCode, uint8_t secondCode, bool endAfterFirst) {
        return [=](std::vector<LogicalRecord>& r) {
            Bytes& d = r[data].data;
            // Rebuild the member data: one block with one or two segments, then the end.
            Bytes cf(d.begin(), d.begin() + 12);
            Bytes block = {0, 0, 0, 0};
            Bytes s1 = {0, 8, firstCode, 0, 0xC1, 0xC2, 0xC3, 0xC4};
            append(block, s1);
            if (!endAfterFirst) append(block, Bytes{0, 6, secondCode, 0, 0xC5, 0xC6});
            block[1] = static_cast<uint8_t>(block.size());
            cf[10] = 0;
            cf[11] = static_cast<uint8_t>(block.size());
            Bytes end(cf);
            end[10] = end[11] = 0;
            d = cf;
            append(d, block);
            append(d, end);
        };
    };
    EXPECT_EQ(run(spanned(1, 2, false), 100, asSpanned), "");
    EXPECT_EQ(run(spanned(2, 2, false), 100, asSpanned), "Invalid member data SDW")
        << "a last segment first";
    EXPECT_EQ(run(spanned(1, 0, false), 100, asSpanned), "Invalid member data SDW")
        << "a whole record inside";
    EXPECT_EQ(run(spanned(1, 2, true), 100, asSpanned), "EOF in segmented member data");
}

TEST_F(Unload, DataRecordsBeforeInmr03ArePassedOver) {
    // Two partitioned files: the second's INMR03 is found after the first's unload.
    Pds a = samplePds(2, 2), b = samplePds(1, 4);
    b.dsname = "SECOND.PDS";
    auto first = collect([&](const Emit& e) { pdsTransmit(a, e); });
    auto second = collect([&](const Emit& e) { pdsTransmit(b, e); });
    std::vector<LogicalRecord> recs;
    Bytes inmr01 = controlRecord(
        "INMR01", {textUnit(0x1011, "N"), textUnit(0x1012, "U"), numberUnit(0x102F, 2, 1)});
    recs.push_back({inmr01, true});
    recs.push_back(first[1]);
    recs.push_back(first[2]);
    auto renumber = [](LogicalRecord r) {
        r.data[9] = 2;
        return r;
    };
    recs.push_back(renumber(second[1]));
    recs.push_back(renumber(second[2]));
    recs.insert(recs.end(), first.begin() + 3, first.end() - 1);
    recs.insert(recs.end(), second.begin() + 3, second.end());
    auto h = openRecords(recs);
    ASSERT_EQ(h->message, nullptr) << message(h);
    ASSERT_EQ(h->fileCount, 2u);
    EXPECT_STREQ(h->dataSets[1].dsname, "SECOND.PDS");
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 2);
    ASSERT_NE(ds, nullptr) << message(h);
    std::string error;
    auto members = readAll(h.get(), ds, &error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].size(), 4u);
    ASSERT_NE(pxhXmitFileLoadDir(h.get(), 1), nullptr);
    members = readAll(h.get(), &h->dataSets[0], &error);
    EXPECT_EQ(members.size(), 2u);
}
