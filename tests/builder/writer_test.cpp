// The transmit-file writer: every refusal of a request, the records it writes and their text
// units, sizes, segments and padding, the completion messages, and what happens when reading
// or writing fails (nothing is left behind).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include <gmock/gmock.h>

#include "build_support.h"
#include "writer.h"

using namespace btest;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

class Writer : public testing::Test {
  protected:
    void SetUp() override { connect(); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& data) const {
        testsupport::writeFile(path(name), data);
        return path(name);
    }
    // A folder of member files, each of `lines` text lines.
    std::string members(const std::vector<std::string>& names, int lines = 3) const {
        fs::create_directories(dir_ / "pds");
        for (const std::string& n : names) {
            std::string text;
            for (int i = 0; i < lines; ++i) text += n + " LINE " + std::to_string(i + 1) + "\n";
            testsupport::writeFile(dir_ / "pds" / (n + ".txt"), text);
        }
        return (dir_ / "pds" / "&M.txt").string();
    }
    // The files left in the test's folder (a failed build leaves no temporary file).
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_.path()))
            if (e.is_regular_file()) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    testsupport::TempDir dir_;
};

// The text units of a control record from an offset: key and values.
struct Unit {
    uint16_t key;
    std::vector<Bytes> values;
};
std::vector<Unit> textUnits(const Bytes& r, size_t at) {
    std::vector<Unit> out;
    while (at + 4 <= r.size()) {
        Unit u{static_cast<uint16_t>(r[at] << 8 | r[at + 1]), {}};
        const unsigned count = r[at + 2] << 8 | r[at + 3];
        at += 4;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned length = r[at] << 8 | r[at + 1];
            u.values.emplace_back(r.begin() + at + 2, r.begin() + at + 2 + length);
            at += 2 + length;
        }
        out.push_back(u);
    }
    return out;
}
std::vector<uint16_t> keys(const std::vector<Unit>& units) {
    std::vector<uint16_t> k;
    for (const Unit& u : units) k.push_back(u.key);
    return k;
}
uint32_t number(const Bytes& v) {
    uint32_t n = 0;
    for (uint8_t b : v) n = n << 8 | b;
    return n;
}

} // namespace

TEST_F(Writer, RefusesRequestsItCannotBuild) {
    const std::string seq = write("in.txt", "a line\n");
    const std::string pds = members({"A", "B", "C"});
    struct Case {
        const char* what;
        std::function<void(Request&)> set;
        const char* message;
    } cases[] = {
        {"no device for a PDS", [&](Request& q) { q.r.device[0] = 0; },
         "Invalid device name specified!"},
        {"unknown device", [&](Request& q) { std::snprintf(q.r.device, 8, "3391"); },
         "Invalid device name specified!"},
        {"FBX", [&](Request& q) { std::snprintf(q.r.recfm, 5, "FBX"); },
         "Invalid record format specified!"},
        {"UB", [&](Request& q) { std::snprintf(q.r.recfm, 5, "UB"); },
         "Invalid record format specified!"},
        {"fb", [&](Request& q) { std::snprintf(q.r.recfm, 5, "fb"); },
         "Invalid record format specified!"},
        {"bits without F, V or U", [&](Request& q) { q.r.recfmBits = 0x10; },
         "Invalid record format specified!"},
        {"no RECFM", [&](Request& q) { q.r.recfm[0] = 0; }, "Record format not specified!"},
        {"VBS PDS", [&](Request& q) { std::snprintf(q.r.recfm, 5, "VBS"); },
         "Record format VBS is invalid for a partitioned data set!"},
        {"FBM text", [&](Request& q) { std::snprintf(q.r.recfm, 5, "FBM"); },
         "Record format FBM is invalid for text files!"},
        {"FB without BLKSIZE", [&](Request& q) { q.r.blksize = 0; }, "BLKSIZE not specified!"},
        {"VB without LRECL",
         [&](Request& q) {
             std::snprintf(q.r.recfm, 5, "VB");
             q.r.lrecl = 0;
             q.r.blksize = 27998;
         },
         "LRECL not specified!"},
        {"BLKSIZE above 32760", [&](Request& q) { q.r.blksize = 32800; },
         "Invalid BLKSIZE specified!"},
        {"BLKSIZE above a 3330 track", [&](Request& q) { std::snprintf(q.r.device, 8, "3330"); },
         "Invalid BLKSIZE specified!"},
        {"V LRECL 4",
         [&](Request& q) {
             std::snprintf(q.r.recfm, 5, "V");
             q.r.lrecl = 4;
             q.r.blksize = 100;
         },
         "Invalid LRECL specified!"},
        {"V BLKSIZE 8",
         [&](Request& q) {
             std::snprintf(q.r.recfm, 5, "VB");
             q.r.lrecl = 100;
             q.r.blksize = 8;
         },
         "Invalid BLKSIZE specified!"},
        {"VB LRECL past BLKSIZE",
         [&](Request& q) {
             std::snprintf(q.r.recfm, 5, "VB");
             q.r.lrecl = 100;
             q.r.blksize = 100;
         },
         "Invalid LRECL/BLKSIZE combination!"},
        {"FB not a multiple", [&](Request& q) { q.r.blksize = 27921; },
         "Invalid LRECL/BLKSIZE combination!"},
        {"F with a block of two",
         [&](Request& q) {
             std::snprintf(q.r.recfm, 5, "F");
             q.r.blksize = 160;
         },
         "Invalid LRECL/BLKSIZE combination!"},
        {"no directory blocks", [&](Request& q) { q.r.minimumDirectoryBlocks = 0; },
         "Invalid directory block count!"},
        {"too many directory blocks", [&](Request& q) { q.r.directoryBlocks = 32768; },
         "Invalid directory block count!"},
        {"fewer than needed", [&](Request& q) { q.r.directoryBlocks = 0; },
         "Invalid directory block count!"},
        {"minimum that the members do not need",
         [&](Request& q) {
             q.r.minimumDirectoryBlocks = 2;
             q.r.directoryBlocks = 2;
         },
         "Internal error: invalid directory block count"},
        {"a member twice", [&](Request& q) { std::snprintf(q.r.members[2], 9, "A"); },
         "Duplicate member A in the member list"},
        {"a name that is not a member name",
         [&](Request& q) { std::snprintf(q.r.members[2], 9, "1AB"); },
         "Invalid member name \"1AB\""},
        {"a member without a file", [&](Request& q) { std::snprintf(q.r.members[2], 9, "D"); },
         "Member D does not exist as file \""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Request q(path("out.xmi"), pds);
        q.setMembers({"A", "B", "C"});
        c.set(q);
        EXPECT_EQ(q.create(), 16);
        EXPECT_EQ(q.r.returnCode, 16);
        EXPECT_THAT(q.message, HasSubstr(c.message));
        EXPECT_FALSE(fs::exists(path("out.xmi")));
    }
    // Sequential: VBS is refused for text, the input must open.
    Request v(path("out.xmi"), seq, "VBS", 100, 27998);
    EXPECT_EQ(v.create(), 16);
    EXPECT_EQ(v.message, "Record format VBS is invalid for text files!");
    Request missing(path("out.xmi"), path("nothing.txt"));
    EXPECT_EQ(missing.create(), 16);
    EXPECT_EQ(missing.message,
              "Error opening \"" + path("nothing.txt") + "\": No such file or directory");
    EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
}

TEST_F(Writer, DefaultsForUnblockedFormats) {
    const std::string seq = write("in.txt", "a line\n");
    Request v(path("v.xmi"), seq, "V", 0, 27998);
    ASSERT_EQ(v.create(), 0) << v.message;
    EXPECT_EQ(v.r.lrecl, 27994u);
    Request f(path("f.xmi"), seq, "F", 80, 0);
    ASSERT_EQ(f.create(), 0) << f.message;
    EXPECT_EQ(f.r.blksize, 80u);
    Request bits(path("u.xmi"), seq, "", 0, 6144);
    bits.r.recfmBits = BREN_RECFM_U;
    ASSERT_EQ(bits.create(), 0) << bits.message;
    EXPECT_STREQ(bits.r.recfm, "U"); // the text made from the bits
    EXPECT_EQ(bits.r.lrecl, 6144u);
}

TEST_F(Writer, OutputThatIsAnInputIsRefused) {
    const std::string seq = write("in.txt", "a line\n");
    const std::string pds = members({"A"});
    const std::string message = write("msg.txt", "hello\n");
    fs::create_symlink(seq, path("link.xmi"));
    Request same(path("link.xmi"), seq);
    EXPECT_EQ(same.create(), 16);
    EXPECT_EQ(same.message, "Output file \"" + path("link.xmi") + "\" is also an input file");
    EXPECT_EQ(testsupport::readFile(seq), "a line\n");
    Request member((dir_ / "pds" / "A.txt").string(), pds);
    member.setMembers({"A"});
    EXPECT_EQ(member.create(), 16);
    EXPECT_THAT(member.message, HasSubstr("is also an input file"));
    Request msg(message, seq);
    msg.r.messageFile = message.c_str();
    EXPECT_EQ(msg.create(), 16);
    EXPECT_THAT(msg.message, HasSubstr("is also an input file"));
    EXPECT_EQ(testsupport::readFile(message), "hello\n");
}

TEST_F(Writer, SequentialFileRecordsAndTextUnits) {
    // SOURCE_DATE_EPOCH fixes the time stamp: 2021-03-09 05:14:41 UTC, day 68.
    setenv("SOURCE_DATE_EPOCH", "1615266881", 1);
    const std::string in = write("in.bin", std::string(253, 'a') + std::string(254, 'b'));
    Request q(path("out.xmi"), in, "U", 300, 300);
    q.r.inputKind = INPUT_RECORDS;
    q.r.originUser[0] = 0; // an empty text: the unit has no value
    // Two records of 253 and 254 bytes behind 2-byte lengths.
    write("in.bin", std::string("\x00\xFD", 2) + std::string(253, 'a') +
                        std::string("\x00\xFE", 2) + std::string(254, 'b'));
    ASSERT_EQ(q.create(), 0) << q.message;
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_EQ(q.message, "TSO TRANSMIT file \"" + path("out.xmi") +
                             "\" successfully created with 2 records from data "
                             "set TEST.DATA, file \"" +
                             in + "\"");
    const std::string image = testsupport::readFile(path("out.xmi"));
    EXPECT_EQ(image.size() % 80, 0u);
    auto records = logicalRecords(image);
    ASSERT_EQ(records.size(), 6u); // INMR01, INMR02, INMR03, two data records, INMR06
    // After INMR06 only blanks, up to the multiple of 80.
    const size_t end = image.rfind(bytesOf(xmitw::ebcdic("INMR06"))) + 6;
    EXPECT_EQ(image.substr(end), std::string(image.size() - end, '\x40'));
    // A record of 253 bytes is one segment of 255; one of 254 is 255 and 3.
    const size_t first = image.find(std::string(253, 'a')) - 2;
    EXPECT_EQ(static_cast<uint8_t>(image[first]), 255);
    EXPECT_EQ(static_cast<uint8_t>(image[first + 1]), 0xC0);
    EXPECT_EQ(static_cast<uint8_t>(image[first + 255]), 255);
    EXPECT_EQ(static_cast<uint8_t>(image[first + 256]), 0x80);
    EXPECT_EQ(static_cast<uint8_t>(image[first + 510]), 3);
    EXPECT_EQ(static_cast<uint8_t>(image[first + 511]), 0x40);

    const auto r1 = textUnits(records[0].data, 6);
    EXPECT_EQ(keys(r1),
              (std::vector<uint16_t>{0x0042, 0x1011, 0x1012, 0x1001, 0x1002, 0x1024, 0x102F}));
    EXPECT_EQ(r1[0].values, std::vector<Bytes>{Bytes{80}});
    EXPECT_EQ(r1[1].values, std::vector<Bytes>{xmitw::ebcdic("NODEA")});
    EXPECT_TRUE(r1[2].values.empty());
    EXPECT_EQ(r1[5].values, std::vector<Bytes>{xmitw::ebcdic("20210309051441")});
    EXPECT_EQ(r1[6].values, std::vector<Bytes>{Bytes{1}});
    const auto r2 = textUnits(records[1].data, 10);
    EXPECT_EQ(keys(r2),
              (std::vector<uint16_t>{0x1028, 0x102C, 0x003C, 0x0042, 0x0030, 0x0049, 0x0002}));
    EXPECT_EQ(r2[0].values[0], xmitw::ebcdic("INMCOPY"));
    // The size: 507 data bytes and a quarter more, in 4 KiB units.
    EXPECT_EQ(number(r2[1].values[0]), 4096u);
    EXPECT_EQ(r2[2].values[0], (Bytes{0x40, 0x00}));
    EXPECT_EQ(number(r2[3].values[0]), 0u);   // U: no LRECL
    EXPECT_EQ(number(r2[4].values[0]), 300u); // BLKSIZE carries it
    EXPECT_EQ(r2[5].values[0], (Bytes{0xC0, 0x00}));
    EXPECT_EQ(r2[6].values, (std::vector<Bytes>{xmitw::ebcdic("TEST"), xmitw::ebcdic("DATA")}));
    EXPECT_EQ(records[2].data.size(), 40u);
    EXPECT_EQ(keys(textUnits(records[2].data, 6)),
              (std::vector<uint16_t>{0x102C, 0x003C, 0x0042, 0x0049}));

    auto h = open(path("out.xmi"));
    ASSERT_EQ(h->message, nullptr) << h->message;
    EXPECT_STREQ(h->originTime, "20210309051441");
    EXPECT_EQ(h->dataSets[0].lrecl, 0);
    EXPECT_EQ(h->dataSets[0].blksize, 300);

    // One record: the singular.
    write("one.txt", "x\n");
    Request one(path("one.xmi"), path("one.txt"));
    ASSERT_EQ(one.create(), 0);
    EXPECT_THAT(one.message, HasSubstr("with 1 record from"));
}

TEST_F(Writer, SizeUnitsChangeFormAt2GiB) {
    uint8_t unit[10];
    bren::encodeSizeUnit(unit, (uint64_t(1) << 31) - 1);
    EXPECT_EQ(Bytes(unit, unit + 10), (Bytes{0x10, 0x2C, 0, 1, 0, 4, 0x7F, 0xFF, 0xFF, 0xFF}));
    bren::encodeSizeUnit(unit, uint64_t(1) << 31);
    EXPECT_EQ(Bytes(unit, unit + 10), (Bytes{0x80, 0x18, 0, 1, 0, 4, 0, 0, 0x08, 0x00}));
    bren::encodeSizeUnit(unit, (uint64_t(5) << 32) + 1); // rounded up to whole megabytes
    EXPECT_EQ(Bytes(unit + 6, unit + 10), (Bytes{0, 0, 0x50, 0x01}));
}

TEST_F(Writer, PartitionedRecordsMessageAndSpace) {
    const std::string pds = members({"C", "A", "B"});
    const std::string msg = write("msg.txt", "first line\n\nlast\n");
    Request q(path("out.xmi"), pds);
    ASSERT_EQ(q.listMembers(), "");
    q.r.directoryBlocks = 5;
    q.r.messageFile = msg.c_str();
    q.r.spaceUnit = SPACE_CYLINDERS;
    q.r.spaceFlags = SPACE_ADD_PRIMARY;
    q.r.primary = 1;
    q.r.secondary = 2;
    std::snprintf(q.r.device, 8, "3380");
    ASSERT_EQ(q.create(), 0) << q.message;
    EXPECT_EQ(q.message,
              "TSO TRANSMIT file \"" + path("out.xmi") +
                  "\" successfully created from 3 members of data set TEST.DATA, path \"" +
                  (dir_ / "pds").string() + "/\"");
    const auto records = logicalRecords(testsupport::readFile(path("out.xmi")));
    // INMR01; the INMR02 of the message, IEBCOPY and INMCOPY; the message's INMR03 and its three
    // lines; INMR03; COPYR1, COPYR2, one directory record; a block and an end for each member;
    // INMR06.
    ASSERT_EQ(records.size(), 1u + 3 + 4 + 1 + 3 + 6 + 1);
    const auto msg2 = textUnits(records[1].data, 10);
    EXPECT_EQ(keys(msg2),
              (std::vector<uint16_t>{0x1028, 0x0028, 0x102C, 0x003C, 0x0042, 0x0030, 0x0049}));
    EXPECT_EQ(number(msg2[2].values[0]), 17u); // the message file's size
    EXPECT_EQ(number(textUnits(records[0].data, 6)[6].values[0]), 2u);
    const auto po = textUnits(records[2].data, 10);
    EXPECT_EQ(number(Bytes(records[2].data.begin() + 6, records[2].data.begin() + 10)),
              2u); // file 2
    EXPECT_EQ(keys(po), (std::vector<uint16_t>{0x1028, 0x102C, 0x003C, 0x8012, 0x0042, 0x0030,
                                               0x0049, 0x000C, 0x0002}));
    EXPECT_EQ(po[0].values[0], xmitw::ebcdic("IEBCOPY"));
    EXPECT_EQ(po[2].values[0], (Bytes{0x02, 0x00}));
    EXPECT_EQ(po[6].values[0], (Bytes{0x90, 0x00}));
    EXPECT_EQ(number(po[7].values[0]), 5u);
    const auto unloadUnits = textUnits(records[3].data, 10);
    EXPECT_EQ(keys(unloadUnits),
              (std::vector<uint16_t>{0x1028, 0x102C, 0x003C, 0x0042, 0x0030, 0x0049}));
    EXPECT_EQ(number(unloadUnits[3].values[0]), 32756u);
    EXPECT_EQ(unloadUnits[5].values[0], (Bytes{0x48, 0x02}));
    // The data needs one cylinder of the 3380; one more was asked for: 30 tracks of 47968.
    EXPECT_EQ(number(po[1].values[0]), 30u * 47968);
    EXPECT_EQ(po[1].values[0], unloadUnits[1].values[0]);
    EXPECT_EQ(number(textUnits(records[8].data, 6)[0].values[0]), 30u * 47968);
    const Bytes& r1 = records[9].data;
    ASSERT_EQ(r1.size(), 56u);
    EXPECT_EQ(r1[45], 0xC0);                                        // cylinders
    EXPECT_EQ(number(Bytes(r1.begin() + 46, r1.begin() + 49)), 2u); // secondary
    EXPECT_EQ(number(Bytes(r1.begin() + 49, r1.begin() + 51)), 0u); // everything on track 0
    EXPECT_EQ(r1[51], 5 + 6); // 5 directory blocks, then 6 records
    const Bytes& r2 = records[10].data;
    EXPECT_EQ(number(Bytes(r2.begin() + 26, r2.begin() + 30)),
              (2u << 16) | 14); // cylinder 2, head 14
    EXPECT_EQ(number(Bytes(r2.begin() + 30, r2.begin() + 32)), 30u);
    // One directory block used (of 5 allocated) and the end marker.
    EXPECT_EQ(records[11].data.size(), 276u + 12);

    auto h = open(path("out.xmi"));
    ASSERT_EQ(h->message, nullptr) << h->message;
    EXPECT_STREQ(h->dataSets[0].messageText, "first line\n\nlast\n");
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 2);
    ASSERT_NE(ds, nullptr) << h->message;
    std::string error;
    const auto read = memberRecords(h.get(), ds, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].name, "A");
    EXPECT_EQ(read[2].name, "C");
    EXPECT_EQ(read[0].ttr, 6u); // after the five directory blocks of track 0

    // One member: the singular.
    Request one(path("one.xmi"), pds);
    one.setMembers({"B"});
    ASSERT_EQ(one.create(), 0) << one.message;
    EXPECT_THAT(one.message, HasSubstr("from 1 member of data set"));
}

TEST_F(Writer, SpaceAndCapacityRefusals) {
    const std::string pds = members({"A"}, 200);
    Request q(path("out.xmi"), pds);
    q.setMembers({"A"});
    q.r.spaceUnit = SPACE_TRACKS;
    q.r.primary = 0;
    EXPECT_EQ(q.create(), 16);
    EXPECT_EQ(q.message, "Insufficient primary space specified, 1 tracks required");
    // A 3340 holds 50 blocks of one byte a track, on 8340 tracks: 417,000 blocks do not fit.
    write("pds/BIG.bin", std::string(417001, 'x'));
    Request big(path("big.xmi"), (dir_ / "pds" / "&M.bin").string(), "F", 1, 1);
    big.r.inputKind = INPUT_RECORDS;
    std::snprintf(big.r.device, 8, "3340");
    big.setMembers({"BIG"});
    EXPECT_EQ(big.create(), 16);
    EXPECT_EQ(big.message, "Device capacity exceeded");
    EXPECT_EQ(files(), std::vector<std::string>{});
}

TEST_F(Writer, ReadFailuresNameTheFileAndRecord) {
    const std::string dirPath = dir_.path().string();
    struct Case {
        std::string input, recfm;
        uint32_t kind, lrecl, blksize;
        std::string message;
    } cases[] = {
        {write("short.bin", std::string(90, 'x')), "FB", INPUT_RECORDS, 80, 800,
         "Error reading \"" + path("short.bin") + "\" record 2: End of file in record"},
        {write("long.txt", "ok\n" + std::string(81, 'y') + "\n"), "FB", INPUT_TEXT, 80, 800,
         "Error reading \"" + path("long.txt") + "\" record 2: Record is too long"},
        {dirPath, "FB", INPUT_TEXT, 80, 800, "Error reading \"" + dirPath + "\": Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Request q(path("out.xmi"), c.input, c.recfm.c_str(), c.lrecl, c.blksize);
        q.r.inputKind = c.kind;
        EXPECT_EQ(q.create(), 16);
        EXPECT_EQ(q.message, c.message);
    }
    // A member: the block in hand.
    members({"A"});
    write("pds/B.txt", std::string(100, 'z') + "\n");
    Request m(path("out.xmi"), (dir_ / "pds" / "&M.txt").string());
    m.setMembers({"A", "B"});
    EXPECT_EQ(m.create(), 16);
    EXPECT_EQ(m.message, "Error reading \"" + (dir_ / "pds" / "B.txt").string() +
                             "\": block 1: Record is too long");
    // The message file.
    const std::string seq = write("in.txt", "x\n");
    struct MessageCase {
        std::string file, message;
    } messages[] = {
        {write("empty.txt", ""),
         "Error opening message file \"" + path("empty.txt") + "\": File is empty"},
        {path("none.txt"),
         "Error opening message file \"" + path("none.txt") + "\": No such file or directory"},
        {(dir_ / "pds").string(),
         "Error reading message file \"" + (dir_ / "pds").string() + "\": Is a directory"},
        {write("wide.txt", std::string(248, 'w')),
         "Error reading message file \"" + path("wide.txt") + "\" record 1: Record is too long"},
    };
    for (const MessageCase& c : messages) {
        SCOPED_TRACE(c.message);
        Request q(path("out.xmi"), seq);
        q.r.messageFile = c.file.c_str();
        EXPECT_EQ(q.create(), 16);
        EXPECT_EQ(q.message, c.message);
    }
    // Nothing was left behind: no transmit file and no temporary one.
    EXPECT_THAT(files(), testing::Not(testing::Contains(testing::HasSubstr("out.xmi"))));
}

TEST_F(Writer, OutputInAFolderThatIsNotThere) {
    const std::string out = path("absent/out.xmi");
    Request q(out, write("in.txt", "x\n"));
    EXPECT_EQ(q.create(), 16);
    EXPECT_EQ(q.message, "Error creating file \"" + out + "\": No such file or directory");
}

TEST_F(Writer, FailedBuildKeepsThePreviousFile) {
    const std::string good = write("good.txt", "x\n");
    Request first(path("out.xmi"), good);
    ASSERT_EQ(first.create(), 0);
    const std::string before = testsupport::readFile(path("out.xmi"));
    Request bad(path("out.xmi"), write("bad.txt", std::string(81, 'q')));
    EXPECT_EQ(bad.create(), 16);
    EXPECT_EQ(testsupport::readFile(path("out.xmi")), before);
    EXPECT_EQ(files(), (std::vector<std::string>{"bad.txt", "good.txt", "out.xmi"}));
}

TEST_F(Writer, WriteAndPositioningFailures) {
    const std::string seq = write("in.txt", [] {
        std::string s;
        for (int i = 0; i < 2000; ++i) s += "line " + std::to_string(i) + "\n";
        return s;
    }());
    // A file size limit makes the writes fail (the signal is ignored, so write reports EFBIG).
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        Request q(path("out.xmi"), seq);
        const int rc = q.create();
        const bool ok = rc == 16 && q.message == "Error writing transmit file \"" +
                                                     path("out.xmi") +
                                                     "\": " + std::strerror(EFBIG);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Positioning for the final rewrites: the first seek of a PDS reaches the directory, that
    // of a sequential file its INMR02; the last goes back to the end.
    const std::string pds = members({"A"});
    struct Case {
        bool partitioned;
        int failing;
        const char* message;
    } cases[] = {
        {true, 1, "Error updating directory records at +"},
        {true, 2, "Error seeking to offset +"},
        {false, 1, "Error seeking to offset +"},
        {false, 3, "Error restoring file position to +"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Request q(path("out.xmi"), c.partitioned ? pds : seq);
        if (c.partitioned) q.setMembers({"A"});
        bren::failOutputSeekForTesting(c.failing);
        EXPECT_EQ(q.create(), 16);
        bren::failOutputSeekForTesting(0);
        EXPECT_THAT(q.message, HasSubstr(c.message));
        EXPECT_THAT(q.message, HasSubstr(" in transmit file \"" + path("out.xmi") +
                                         "\": " + std::strerror(EIO)));
        EXPECT_FALSE(fs::exists(path("out.xmi")));
    }
    EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
}
