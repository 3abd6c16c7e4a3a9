// opx on files as people download them: transmit files inside members (followed to a depth,
// and refused when damaged), file times from the ISPF statistics, aliases as links or copies,
// UTF-8 text, sequence numbers and sizes in the listing.
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_command.h"
#include "shared_dir.h"
#include "tape_writer.h"
#include "xmit_writer.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kOpx = OPX_PATH;

CommandResult opx(const std::string& args, const std::string& environment = "LC_ALL=C") {
    return runCommand("env " + environment + " " + quote(kOpx) + " " + args);
}

xmitw::Bytes image(const xmitw::Pds& pds) {
    return xmitw::fileImage(
        xmitw::collect([&](const xmitw::Emit& e) { xmitw::pdsTransmit(pds, e); }));
}

std::string write(const TempDir& dir, const std::string& name, const xmitw::Bytes& bytes) {
    const std::string path = (dir / name).string();
    writeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

xmitw::Member textMember(const std::string& name, const std::string& text) {
    xmitw::Member m;
    m.name = name;
    std::string l = text;
    l.resize(80, ' ');
    m.records = {xmitw::ebcdic(l)};
    return m;
}

// A PDS whose member NAME holds the transmit file `inner` as FB 80 records.
xmitw::Pds wrapping(const std::string& name, const xmitw::Bytes& inner) {
    xmitw::Pds pds;
    pds.dsname = "WRAP." + name;
    xmitw::Member m;
    m.name = name;
    for (size_t at = 0; at < inner.size(); at += 80)
        m.records.emplace_back(inner.begin() + static_cast<long>(at),
                               inner.begin() + static_cast<long>(std::min(at + 80, inner.size())));
    pds.members = {textMember("README", "WRAPPED"), m};
    return pds;
}

time_t mtimeOf(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mtime;
}

} // namespace

TEST(OpxDownloads, TransmitFilesInsideMembers) {
    TempDir dir;
    xmitw::Pds leaf;
    leaf.members = {textMember("LEAF", "THE LEAF")};
    const xmitw::Bytes depth2 = image(wrapping("MIDDLE", image(wrapping("INNER", image(leaf)))));
    const std::string file = write(dir, "outer.xmi", depth2);

    // Without --recursive the inner transmit file is a file of its own, and the listing says so.
    CommandResult r = opx("list " + quote(file));
    EXPECT_NE(r.out.find("xmit"), std::string::npos) << r.out;
    r = opx("extract " + quote(file) + " -o " + quote((dir / "flat").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "flat" / "MIDDLE.xmi"));

    // With it, each level goes into a folder named after its member.
    r = opx("extract -r " + quote(file) + " -o " + quote((dir / "deep").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "deep" / "MIDDLE" / "INNER" / "LEAF"),
              "THE LEAF" + std::string(72, ' ') + "\n");
    EXPECT_EQ(readFile(dir / "deep" / "MIDDLE" / "README").substr(0, 7), "WRAPPED");
    EXPECT_FALSE(fs::exists(dir / "deep" / "MIDDLE.xmi")) << "the folder takes its place";
    EXPECT_NE(r.out.find("expanded"), std::string::npos);

    // Nine levels: the ninth stays a file, with a message.
    xmitw::Bytes nest = image(leaf);
    for (int level = 0; level < 9; ++level)
        nest = image(wrapping("L" + std::to_string(level), nest));
    r = opx("extract -r " + quote(write(dir, "nine.xmi", nest)) + " -o " +
            quote((dir / "nine").string()));
    EXPECT_NE(r.err.find("nested more than 8 deep"), std::string::npos) << r.err;
    fs::path p = dir / "nine";
    for (int level = 8; level >= 1; --level) p /= "L" + std::to_string(level);
    EXPECT_TRUE(fs::is_regular_file(p / "L0.xmi")) << p;

    // A member that begins like a transmit file but is cut short: kept as a file, with why.
    xmitw::Bytes cut = image(leaf);
    cut.resize(160);
    r = opx("extract -r " + quote(write(dir, "cut.xmi", image(wrapping("BROKEN", cut)))) + " -o " +
            quote((dir / "cut").string()));
    EXPECT_TRUE(fs::is_regular_file(dir / "cut" / "BROKEN.xmi"));
    EXPECT_NE(r.err.find("BROKEN.xmi: not extracted in its turn"), std::string::npos) << r.err;
}

TEST(OpxDownloads, FileTimesFromTheStatistics) {
    TempDir dir;
    xmitw::Pds pds;
    pds.members = {textMember("STATS", "A"), textMember("NOSTATS", "B")};
    // Last changed 2023-11-20 (day 324) at 14:05:33.
    pds.members[0].stats = xmitw::IspfStats{1, 0, 121001, 123324, 0x14, 0x05, "IBMUSER", false};
    auto bytes = image(pds);
    const std::string file = write(dir, "times.xmit", bytes);
    const time_t before = std::time(nullptr);
    CommandResult r = opx("extract " + quote(file) + " -o " + quote((dir / "a").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::tm t{};
    t.tm_year = 123, t.tm_mon = 10, t.tm_mday = 20, t.tm_hour = 14, t.tm_min = 5, t.tm_isdst = -1;
    const time_t changed = std::mktime(&t);
    EXPECT_NEAR(static_cast<double>(mtimeOf(dir / "a" / "STATS")), static_cast<double>(changed),
                59);
    EXPECT_GE(mtimeOf(dir / "a" / "NOSTATS"), before) << "no statistics: the time of extraction";
    r = opx("extract --no-times " + quote(file) + " -o " + quote((dir / "b").string()));
    EXPECT_GE(mtimeOf(dir / "b" / "STATS"), before);

    // A sequential data set takes the transmit file's time (INMFTIME).
    auto seq = xmitw::fileImage(xmitw::collect([&](const xmitw::Emit& e) {
        xmitw::sequentialTransmit("A.SEQ", 0x90, 80, 800, {xmitw::ebcdic(std::string(80, 'S'))}, e,
                                  {"N", "U", "20210309045318"});
    }));
    r = opx("extract " + quote(write(dir, "seq.xmit", seq)) + " -o " + quote((dir / "s").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    t = std::tm{};
    t.tm_year = 121, t.tm_mon = 2, t.tm_mday = 9, t.tm_hour = 4, t.tm_min = 53, t.tm_sec = 18;
    t.tm_isdst = -1;
    EXPECT_EQ(mtimeOf(dir / "s"), std::mktime(&t));
}

TEST(OpxDownloads, AliasesAsLinksCopiesOrNothing) {
    TempDir dir;
    xmitw::Pds pds;
    pds.members = {textMember("MAIN", "MAIN TEXT"), textMember("OTHER", "OTHER")};
    pds.members[0].aliases = {"ALIAS1"};
    const std::string file = write(dir, "aliases.xmit", image(pds));
    CommandResult r =
        opx("extract " + quote(file) + " -o " + quote((dir / "link").string() + "/&m.txt"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const fs::path link = dir / "link" / "alias1.txt";
    ASSERT_TRUE(fs::is_symlink(link)) << r.out;
    EXPECT_EQ(fs::read_symlink(link), "main.txt") << "relative, inside the folder";
    EXPECT_EQ(readFile(link), readFile(dir / "link" / "main.txt"));
    EXPECT_NE(r.out.find("linked   " + link.string() + " -> main.txt\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(", 1 alias\n"), std::string::npos);

    r = opx("extract --aliases copy " + quote(file) + " -o " + quote((dir / "copy").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::is_symlink(dir / "copy" / "ALIAS1"));
    EXPECT_EQ(readFile(dir / "copy" / "ALIAS1"), readFile(dir / "copy" / "MAIN"));

    r = opx("extract --aliases skip " + quote(file) + " -o " + quote((dir / "skip").string()));
    EXPECT_FALSE(fs::exists(dir / "skip" / "ALIAS1"));
    // Only the other member asked for: no alias of it.
    r = opx("extract " + quote(file) + " OTHER -o " + quote((dir / "one").string()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "one" / "ALIAS1")));
}

TEST(OpxDownloads, TextInUtf8AndOtherEncodings) {
    TempDir dir;
    xmitw::Pds pds;
    pds.members = {textMember("SIGNS", "5\xA2 \xAC \xA6")}; // Latin-1: ¢ ¬ ¦
    const std::string file = write(dir, "signs.xmit", image(pds));
    const struct {
        std::string environment, options, expected;
    } cases[] = {
        {"LC_ALL=C.UTF-8", "", "5\xC2\xA2 \xC2\xAC \xC2\xA6"},
        {"LC_ALL=C", "", "5\xA2 \xAC \xA6"},
        {"LC_ALL=C", "--encoding utf-8", "5\xC2\xA2 \xC2\xAC \xC2\xA6"},
        {"LC_ALL=C.UTF-8", "--encoding latin1", "5\xA2 \xAC \xA6"},
        {"LC_ALL=C.UTF-8", "--encoding 1252", "5\xA2 \xAC \xA6"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string out = (dir / ("o" + std::to_string(n++))).string();
        CommandResult r =
            opx("extract --strip " + c.options + " " + quote(file) + " -o " + quote(out),
                c.environment);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(fs::path(out) / "SIGNS"), c.expected + "\n")
            << c.environment << c.options;
    }
    EXPECT_EQ(opx("extract --encoding 1047 " + quote(file)).exitCode, 2)
        << "EBCDIC is not for text";

    // The national letters of code page 273 (German): EBCDIC 4A 5A E0 C0 D0 6A A1 7C are
    // Ä Ü Ö ä ü ö ß §.
    xmitw::Member german;
    german.name = "UMLAUTE";
    german.records = {xmitw::Bytes{0x4A, 0x5A, 0xE0, 0xC0, 0xD0, 0x6A, 0xA1, 0x7C}};
    german.records[0].resize(80, 0x40);
    xmitw::Pds gpds;
    gpds.members = {german};
    const std::string gfile = write(dir, "german.xmit", image(gpds));
    CommandResult r = opx("extract --strip " + quote(gfile) + " -o " + quote((dir / "g").string()),
                          "LC_ALL=C.UTF-8 CODEPAGE_EBCDIC=273");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "g" / "UMLAUTE"), "ÄÜÖäüöß§\n");
}

TEST(OpxDownloads, SequenceNumbersAndSizes) {
    TempDir dir;
    xmitw::Pds pds;
    xmitw::Member numbered, lettered;
    numbered.name = "NUMBERED";
    lettered.name = "LETTERED";
    for (int i = 1; i <= 2000; ++i) {
        char seq[16];
        std::snprintf(seq, sizeof seq, "%08d", i);
        std::string l = "LINE " + std::to_string(i);
        l.resize(72, ' ');
        numbered.records.push_back(xmitw::ebcdic(l + seq));
        lettered.records.push_back(xmitw::ebcdic(l + (i == 7 ? "ABCDEFGH" : seq)));
    }
    pds.members = {numbered, lettered};
    const std::string file = write(dir, "num.xmit", image(pds));
    CommandResult r =
        opx("extract --unnum --strip " + quote(file) + " -o " + quote((dir / "u").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "u" / "NUMBERED").substr(0, 7), "LINE 1\n");
    EXPECT_NE(r.out.find("(2000 records, sequence numbers removed)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(2000 records; sequence numbers kept: record 7 holds other characters "
                         "than digits in its sequence field (columns 73-80))"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(dir / "u" / "LETTERED").substr(0, 87),
              "LINE 1" + std::string(66, ' ') + "00000001\nLINE 2");

    r = opx("list -H " + quote(file));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("NUMBERED" + std::string(60, ' ') + "     2000       156K  text\n"),
              std::string::npos)
        << r.out;
    r = opx("info --json " + quote(file));
    auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["dataSets"][0]["records"], 4000);
    EXPECT_EQ(doc["dataSets"][0]["bytes"], 320000);
}

// Every nested download of the corpus extracts to the bottom, with no transmit file left over.
TEST(OpxDownloads, CorpusNestedFilesExtractRecursively) {
    REQUIRE_SHARED(folder, "corpus/xmit/nested");
    int files = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        TempDir dir;
        CommandResult r =
            opx("extract -r " + quote(e.path().string()) + " -o " + quote(dir.path().string()));
        EXPECT_EQ(r.exitCode, 0) << e.path() << r.err;
        for (const auto& f : fs::recursive_directory_iterator(dir.path()))
            EXPECT_NE(f.path().extension(), ".xmi") << f.path();
        ++files;
    }
    EXPECT_GE(files, 6);
}

// Tapes through opx: the volume and files described, members listed and extracted, and a tape
// that breaks off part-way still giving the files before the break.
TEST(OpxTapes, InfoListAndExtract) {
    TempDir dir;
    xmitw::Pds pds;
    pds.members = {textMember("ALPHA", "ALPHA TEXT"), textMember("BETA", "BETA TEXT")};
    std::vector<tapew::TapeFile> files(2);
    files[0] = {"USER.SEQ",
                'F',
                160,
                80,
                'B',
                tapew::fixedBlocks(
                    {xmitw::ebcdic(std::string(80, 'S')), xmitw::ebcdic(std::string(80, 'T'))}, 2)};
    files[1] = {"USER.PDS", 'V', 400, 396, 'S', tapew::spannedBlocks(tapew::unloadOf(pds), 400)};
    const std::string tape =
        write(dir, "tape.het", tapew::labeledTape("VOL777", files, tapew::kZlib));
    CommandResult r = opx("info " + quote(tape));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Tape:     volume VOL777, standard labels\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Data set 2: partitioned\n  Name:          USER.PDS\n  RECFM:         FB"),
              std::string::npos)
        << r.out;
    r = opx("list " + quote(tape));
    EXPECT_NE(r.out.find("ALPHA"), std::string::npos) << r.out;
    r = opx("extract " + quote(tape) + " 2 -o " + quote((dir / "pds").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "pds" / "BETA"), "BETA TEXT" + std::string(71, ' ') + "\n");

    // Cut in the middle of the second file: the first is still read, with a warning.
    xmitw::Bytes image = tapew::labeledTape("VOL777", files);
    image.resize(image.size() - 200);
    const std::string cut = write(dir, "cut.aws", image);
    r = opx("extract " + quote(cut) + " 1 -o " + quote((dir / "seq").string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("opx: warning: " + cut + ": Truncated block"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "seq"), std::string(80, 'S') + "\n" + std::string(80, 'T') + "\n");
    EXPECT_EQ(opx("list " + quote(cut) + " 2").exitCode, 1);
}
