// Extraction requests: the call protocol, targets and member selection, the start checks with
// their messages and severities, text and record outputs byte for byte, ISPF packed members
// and dumps.
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "extract.h"
#include "extract_fixture.h"
#include "run_command.h"

using namespace xtest;
using namespace xmitw;
namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

Pds textPds() {
    Pds pds;
    for (const char* name : {"ALPHA", "BETA", "GAMMA"}) {
        Member m;
        m.name = name;
        m.records = {ebcdic(line80(std::string(name) + " ONE")),
                     ebcdic(line80(std::string(name) + " TWO"))};
        m.stats = IspfStats{};
        pds.members.push_back(m);
    }
    pds.members[1].aliases = {"BALIAS"};
    return pds;
}

} // namespace

class Extract : public XmitTest {
  protected:
    std::string out(const std::string& name) { return (dir_ / name).string(); }
};

TEST_F(Extract, MembersAsTextStepByStep) {
    auto h = openPds(textPds());
    ASSERT_EQ(h->message, nullptr);
    fs::create_directory(dir_ / "src");
    ExtractBlock req = request(EXTRACT_TYPE_TEXT, out("src/&m.txt"));
    int r = eXmitFileExtract(EXTRACT_GO, h.get(), &req);
    ASSERT_EQ(r, EXTRACT_RESULT_NEW) << (req.message ? req.message : "");
    EXPECT_STREQ(req.memberName, "ALPHA");
    EXPECT_EQ(std::string(req.fileName), out("src/alpha.txt"));
    EXPECT_TRUE(req.progress & EXTRACT_PROGRESS_NEW_TARGET);
    r = eXmitFileExtract(EXTRACT_GO, h.get(), &req);
    ASSERT_EQ(r, EXTRACT_RESULT_WRITTEN);
    EXPECT_EQ(req.recordsWritten, 2u);
    EXPECT_EQ(req.filesCreated, 1u);
    EXPECT_EQ(readFile(out("src/alpha.txt")),
              line80("ALPHA ONE") + "\n" + line80("ALPHA TWO") + "\n");
    // The alias stands in the directory, but the member is written once, under its own name.
    r = eXmitFileExtract(EXTRACT_GO, h.get(), &req);
    ASSERT_EQ(r, EXTRACT_RESULT_NEW);
    EXPECT_STREQ(req.memberName, "BETA");
    r = eXmitFileExtract(EXTRACT_SKIP, h.get(), &req);
    ASSERT_EQ(r, EXTRACT_RESULT_NEW) << "skipping the announced member goes on with the next";
    EXPECT_STREQ(req.memberName, "GAMMA");
    EXPECT_EQ(req.filesSkipped, 1u);
    EXPECT_EQ(eXmitFileExtract(EXTRACT_GO, h.get(), &req), EXTRACT_RESULT_WRITTEN);
    EXPECT_EQ(eXmitFileExtract(EXTRACT_GO, h.get(), &req), EXTRACT_RESULT_DONE);
    EXPECT_EQ(req.severity, 0);
    EXPECT_EQ(req.message, nullptr);
    EXPECT_EQ(req.recordsWritten, 4u) << "the total of the request";
    EXPECT_FALSE(fs::exists(out("src/beta.txt")));
    // After the end only the stop is allowed.
    EXPECT_EQ(eXmitFileExtract(EXTRACT_GO, h.get(), &req), EXTRACT_RESULT_DONE);
    EXPECT_STREQ(req.message, "Internal error: restart not allowed");
    EXPECT_EQ(req.severity, 16);
    EXPECT_EQ(req.fileName, nullptr);
    EXPECT_EQ(eXmitFileExtract(EXTRACT_STOP, h.get(), &req), EXTRACT_RESULT_DONE);
    EXPECT_EQ(req.state, nullptr);
    EXPECT_EQ(req.recordsWritten, 4u);
    // No temporary files are left behind.
    for (const auto& e : fs::directory_iterator(dir_ / "src"))
        EXPECT_EQ(e.path().extension(), ".txt") << e.path();
}

TEST_F(Extract, ExistingTargetsAreReplacedOrSkipped) {
    auto h = openPds(textPds());
    testsupport::writeFile(out("ALPHA"), "old contents");
    RunResult skip = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M")), false);
    EXPECT_EQ(skip.steps[0].result, EXTRACT_RESULT_EXISTS);
    EXPECT_EQ(skip.created, 2u);
    EXPECT_EQ(skip.skipped, 1u);
    EXPECT_EQ(readFile(out("ALPHA")), "old contents");
    RunResult replace = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M")), true);
    EXPECT_EQ(replace.replaced, 3u);
    EXPECT_EQ(replace.created, 0u);
    EXPECT_EQ(readFile(out("ALPHA")).substr(0, 9), "ALPHA ONE");
}

TEST_F(Extract, TargetPatterns) {
    auto h = openPds(textPds());
    RunResult bad = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("x&M")));
    EXPECT_EQ(bad.message, "Invalid target file name pattern");
    EXPECT_EQ(bad.severity, 12);
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&Mfoo"))).message,
              "Invalid target file name pattern");
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("member"))).message,
              "Invalid target file name pattern");
    // "&D" stands for the transmit file's folder.
    RunResult d = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, "&D/&m.lst"));
    EXPECT_EQ(d.severity, 0) << d.message;
    EXPECT_TRUE(fs::exists(out("gamma.lst")));
    RunResult e = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, "&d&M"));
    EXPECT_EQ(e.severity, 0) << e.message;
    EXPECT_TRUE(fs::exists(out("GAMMA")));
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, "")).message,
              "Output path not specified");
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, "")).severity, 16);
    // A target folder that does not exist: the open fails with the system's text.
    RunResult missing = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("nowhere/&M")));
    EXPECT_EQ(missing.severity, 12);
    EXPECT_EQ(missing.message, std::strerror(ENOENT));
}

TEST_F(Extract, MemberSelection) {
    auto h = openPds(textPds());
    auto selecting = [&](std::vector<const char*> names, const std::string& pattern) {
        ExtractBlock req = request(EXTRACT_TYPE_TEXT, out(pattern));
        req.memberNames = names.data();
        req.memberCount = static_cast<uint32_t>(names.size());
        return runRequest(h.get(), req);
    };
    fs::create_directories(dir_ / "sel");
    fs::create_directories(dir_ / "al");
    RunResult two = selecting({"gamma", "ALPHA"}, "sel/&M");
    EXPECT_EQ(two.severity, 0) << two.message;
    EXPECT_EQ(two.created, 2u);
    EXPECT_TRUE(fs::exists(out("sel/ALPHA")));
    EXPECT_FALSE(fs::exists(out("sel/BETA")));
    // A member selected by its alias only is written under the alias name.
    RunResult alias = selecting({"BALIAS"}, "al/&M");
    EXPECT_EQ(alias.severity, 0) << alias.message;
    EXPECT_TRUE(fs::exists(out("al/BALIAS")));
    EXPECT_FALSE(fs::exists(out("al/BETA")));
    for (const char* missing : {"DELTA", "TOOLONGNAME", "1ABC", "A.B"}) {
        RunResult r = selecting({missing}, "&M");
        EXPECT_EQ(r.message,
                  std::string("Member \"") + missing + "\" not found in " + paths_.back())
            << missing;
        EXPECT_EQ(r.severity, 12);
    }
}

TEST_F(Extract, MemberNamesThatAreNoFileNames) {
    // A crafted directory whose member names would lead outside the target folder.
    Pds pds = textPds();
    pds.members[0].name = "../UP";
    pds.members[2].name = "A/B";
    auto h = openPds(pds);
    fs::create_directory(dir_ / "inner");
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("inner/&M")));
    EXPECT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(r.created, 1u);
    EXPECT_EQ(r.skipped, 2u);
    int refused = 0;
    for (const Step& s : r.steps)
        if (s.result == EXTRACT_RESULT_NOT_WRITTEN) {
            ++refused;
            EXPECT_EQ(s.message.rfind("Member name \"", 0), 0u) << s.message;
            EXPECT_NE(s.message.find("\" is not valid as a file name"), std::string::npos);
        }
    EXPECT_EQ(refused, 2);
    EXPECT_FALSE(fs::exists(dir_ / "UP"));
    EXPECT_FALSE(fs::exists(dir_ / "inner" / "A"));
    EXPECT_TRUE(fs::exists(dir_ / "inner" / "BETA"));
}

TEST_F(Extract, StartChecks) {
    auto h = openPds(textPds());
    auto check = [&](ExtractBlock req) {
        return std::pair{runRequest(h.get(), req).message, runRequest(h.get(), req).severity};
    };
    using P = std::pair<std::string, int>;
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"), 0)),
              (P{"Data set 0 was not transmitted", 12}));
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"), 2)),
              (P{"Data set 2 was not transmitted", 12}));
    ExtractBlock tabs = request(EXTRACT_TYPE_TEXT, out("&M"));
    tabs.tabWidth = 3;
    EXPECT_EQ(check(tabs), (P{"Output tab parameter is invalid", 12}));
    ExtractBlock le = request(EXTRACT_TYPE_DUMP, out("&M"));
    le.lineEnd = 4;
    EXPECT_EQ(check(le), (P{"Output text line end parameter is invalid", 12}));
    ExtractBlock dumpLrecl = request(EXTRACT_TYPE_DUMP, out("&M"));
    dumpLrecl.lrecl = 66;
    EXPECT_EQ(check(dumpLrecl), (P{"Output LRECL parameter is invalid", 12}));
    ExtractBlock format = request(EXTRACT_TYPE_CONVERT, out("&M"));
    format.format = 6;
    EXPECT_EQ(check(format), (P{"Output format parameter is invalid", 12}));
    ExtractBlock block = request(EXTRACT_TYPE_CONVERT, out("&M"));
    block.format = EXTRACT_FORMAT_VARIABLE;
    block.blockSize = 50; // below LRECL + 4
    EXPECT_EQ(check(block), (P{"Output block size is invalid", 12}));
    block.blockSize = 8;
    EXPECT_EQ(check(block), (P{"Output block size is invalid", 12}));
    ExtractBlock big = request(EXTRACT_TYPE_CONVERT, out("&M"));
    big.format = EXTRACT_FORMAT_LENGTH2;
    big.lrecl = 32768;
    EXPECT_EQ(check(big), (P{"Output LRECL parameter is invalid", 12}));
    big.lrecl = 16777212;
    big.format = EXTRACT_FORMAT_BYTES;
    EXPECT_EQ(check(big), (P{"Output LRECL parameter is invalid", 12}));
    EXPECT_EQ(check(request(9, out("&M"))), (P{"Invalid extract request type", 12}));
    EXPECT_EQ(check(request(EXTRACT_TYPE_DELINK, out("&M"))),
              (P{"DELINK extract request is only valid for load libraries", 12}));
    EXPECT_EQ(check(request(EXTRACT_TYPE_RELINK, out("&M"))),
              (P{"RELINK extract request is only valid for load libraries", 12}));
    // Closed file, unknown attributes, unsupported kinds.
    XmitDataSet& ds = h->dataSets[0];
    const XmitDataSet saved = ds;
    ds.encrypted = 1;
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"))), (P{"Data set is encrypted", 12}));
    ds = saved;
    ds.recfm = 0;
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"))), (P{"Data set RECFM is unknown", 12}));
    ds = saved;
    ds.lrecl = -1;
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"))), (P{"Data set LRECL is unknown", 12}));
    ds = saved;
    ds.blksize = -1;
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"))), (P{"Data set BLKSIZE is unknown", 12}));
    ds = saved;
    ds.kind = XMIT_KIND_PDSE;
    EXPECT_EQ(check(request(EXTRACT_TYPE_TEXT, out("&M"))),
              (P{"Data set type is not supported", 12}));
    ds = saved;
    FILE* stream = h->io.stream;
    h->io.stream = nullptr;
    RunResult closed = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M")));
    EXPECT_EQ(closed.message, "File is not open");
    EXPECT_EQ(closed.severity, 20);
    EXPECT_EQ(closed.fileName, paths_.back());
    h->io.stream = stream;
    // A null request and a first call that is not a start do nothing.
    EXPECT_EQ(eXmitFileExtract(EXTRACT_GO, h.get(), nullptr), EXTRACT_RESULT_DONE);
    ExtractBlock idle = request(EXTRACT_TYPE_TEXT, out("&M"));
    EXPECT_EQ(eXmitFileExtract(EXTRACT_SKIP, h.get(), &idle), EXTRACT_RESULT_DONE);
    EXPECT_EQ(idle.state, nullptr);
    EXPECT_EQ(eXmitFileExtract(EXTRACT_GO, nullptr, &idle), EXTRACT_RESULT_DONE);
    EXPECT_EQ(idle.state, nullptr);
}

TEST_F(Extract, SequentialDataSets) {
    std::vector<Bytes> records = {ebcdic(line80("FIRST")), ebcdic(line80("SECOND"))};
    auto h = openRecords(
        collect([&](const Emit& e) { sequentialTransmit("SEQ.DATA", 0x90, 80, 800, records, e); }));
    ASSERT_EQ(h->message, nullptr);
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("seq.txt")));
    EXPECT_EQ(r.steps[0].result, EXTRACT_RESULT_NEW);
    EXPECT_EQ(r.steps[1].result, EXTRACT_RESULT_DONE);
    EXPECT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(r.created, 1u);
    EXPECT_EQ(r.total, 2u);
    EXPECT_EQ(readFile(out("seq.txt")), line80("FIRST") + "\n" + line80("SECOND") + "\n");
    RunResult again = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("seq.txt")), false);
    EXPECT_EQ(again.steps[0].result, EXTRACT_RESULT_EXISTS);
    EXPECT_EQ(again.skipped, 1u);
    // A member list, a target that names no file, or the transmit file itself are refused.
    ExtractBlock members = request(EXTRACT_TYPE_TEXT, out("x.txt"));
    const char* names[] = {"A"};
    members.memberNames = names;
    members.memberCount = 1;
    EXPECT_EQ(runRequest(h.get(), members).message,
              "Cannot extract members from a sequential file");
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("sub/"))).message,
              "Invalid target file name");
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&x"))).message,
              "Invalid target file name");
    RunResult self = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, paths_.back()));
    EXPECT_EQ(self.message, "Invalid target file name");
    EXPECT_EQ(self.severity, 12);
    EXPECT_GT(fs::file_size(paths_.back()), 160u) << "the transmit file is untouched";
    RunResult viaDir = runRequest(
        h.get(), request(EXTRACT_TYPE_TEXT, "&D" + fs::path(paths_.back()).filename().string()));
    EXPECT_EQ(viaDir.message, "Invalid target file name") << "the same file by another spelling";
}

TEST_F(Extract, SequentialBlocksOfFixedRecords) {
    // A writer that sends a whole block of fixed records as one transmit record.
    std::vector<Bytes> records = {ebcdic(line80("ONE") + line80("TWO") + line80("THREE"))};
    auto h = openRecords(collect(
        [&](const Emit& e) { sequentialTransmit("SEQ.BLOCK", 0x90, 80, 240, records, e); }));
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("block.txt")));
    EXPECT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(r.total, 3u);
    EXPECT_EQ(readFile(out("block.txt")),
              line80("ONE") + "\n" + line80("TWO") + "\n" + line80("THREE") + "\n");
}

// Records of length 0 are records: an empty line in text (whatever the options), a record of
// its own in a dump, and counted once each, in sequential data sets and in members alike.
TEST_F(Extract, EmptyRecordsAreKeptEverywhere) {
    const std::vector<std::string> lines = {"", "FIRST  ", "", "", "A   SECOND", ""};
    std::vector<Bytes> records;
    std::string expected;
    for (const std::string& l : lines) {
        records.push_back(ebcdic(l));
        expected += l + "\n";
    }
    const std::string stripped = "\nFIRST\n\n\nA   SECOND\n\n";
    const std::string tabbed = "\nFIRST\n\n\nA\tSECOND\n\n";
    Pds pds;
    pds.recfm = 0x50; // VB
    pds.lrecl = 84;
    pds.blksize = 800;
    Member m;
    m.name = "EMPTIES";
    m.records = records;
    pds.members = {m};
    auto seq = openRecords(
        collect([&](const Emit& e) { sequentialTransmit("SEQ.VB", 0x50, 84, 800, records, e); }));
    auto part =
        open(xmitw::fileImage(collect([&](const Emit& e) { pdsTransmit(pds, e); })), "pds.xmit");
    ASSERT_EQ(seq->message, nullptr);
    ASSERT_EQ(part->message, nullptr);
    struct Case {
        int type;
        uint8_t options;
        uint8_t tabWidth;
        std::string expected; // empty: a dump, checked by its record headings
    };
    const Case cases[] = {{EXTRACT_TYPE_TEXT, 0, 0, expected},
                          {EXTRACT_TYPE_TEXT, EXTRACT_STRIP, 0, stripped},
                          {EXTRACT_TYPE_TEXT, EXTRACT_STRIP, 4, tabbed},
                          {EXTRACT_TYPE_DUMP, 0, 0, ""}};
    int n = 0;
    for (const Case& c : cases) {
        for (XmitHandle* h : {seq.get(), part.get()}) {
            const std::string target = out("empty" + std::to_string(n++));
            if (h == part.get()) fs::create_directory(target);
            ExtractBlock req = request(c.type, h == seq.get() ? target : target + "/&M");
            req.options = c.options;
            req.tabWidth = c.tabWidth;
            RunResult r = runRequest(h, req);
            SCOPED_TRACE(target);
            ASSERT_EQ(r.severity, 0) << r.message;
            EXPECT_EQ(r.total, lines.size()) << "every record is counted";
            const std::string text = readFile(h == seq.get() ? target : target + "/EMPTIES");
            if (c.type == EXTRACT_TYPE_TEXT) {
                EXPECT_EQ(text, c.expected);
                continue;
            }
            for (size_t i = 0; i < lines.size(); ++i) {
                const std::string heading = "Record " + std::to_string(i + 1) + "  length " +
                                            std::to_string(lines[i].size()) + "\n";
                EXPECT_NE(text.find(heading), std::string::npos) << heading;
            }
        }
    }
    // As variable records, each in a block of its own: block and record descriptors around
    // every record, the empty ones included.
    std::string blocks;
    for (const std::string& l : lines) {
        const auto b = static_cast<char>(l.size() + 8), r = static_cast<char>(l.size() + 4);
        blocks += std::string{'\0', b, '\0', '\0', '\0', r, '\0', '\0'};
        const Bytes e = ebcdic(l);
        blocks.append(e.begin(), e.end());
    }
    for (XmitHandle* h : {seq.get(), part.get()}) {
        const std::string target = out("variable" + std::to_string(n++));
        if (h == part.get()) fs::create_directory(target);
        ExtractBlock req = request(EXTRACT_TYPE_CONVERT, h == seq.get() ? target : target + "/&M");
        req.format = EXTRACT_FORMAT_VARIABLE;
        RunResult r = runRequest(h, req);
        ASSERT_EQ(r.severity, 0) << r.message;
        EXPECT_EQ(readFile(h == seq.get() ? target : target + "/EMPTIES"), blocks);
    }
}

// The members of a PDSE unload come out through the extractor's internal path; the exported
// call refuses the data set as before, and a PDSE program library refuses each member.
TEST_F(Extract, PdseUnloadsThroughTheInternalPath) {
    auto h = openRecords(pdseUnload(textPds()));
    ASSERT_EQ(h->message, nullptr);
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M"))).message,
              "Data set type is not supported");
    ExtractBlock req = request(EXTRACT_TYPE_TEXT, out("&m.txt"));
    int result = opx::extractStep(EXTRACT_GO, h.get(), &req, opx::ExtractExtras{true});
    while (result != EXTRACT_RESULT_DONE)
        result = opx::extractStep(EXTRACT_GO, h.get(), &req, opx::ExtractExtras{true});
    EXPECT_EQ(req.severity, 0) << (req.message ? req.message : "");
    EXPECT_EQ(req.filesCreated, 3u);
    opx::extractStep(EXTRACT_STOP, h.get(), &req, opx::ExtractExtras{true});
    EXPECT_EQ(req.recordsWritten, 6u);
    EXPECT_EQ(readFile(out("gamma.txt")), line80("GAMMA ONE") + "\n" + line80("GAMMA TWO") + "\n");

    Pds library = textPds();
    library.r1Flags = 0x48; // PDSE unload of a program library
    library.recfm = 0xC0;
    library.lrecl = 0;
    library.blksize = 4096;
    for (Member& m : library.members) {
        m.stats.reset();
        m.userData = Bytes(22, 0);
        m.userData[8] = 0x02;  // executable
        m.userData[18] = 0x04; // program object
    }
    auto lib = openRecords(pdseUnload(library));
    ASSERT_EQ(lib->message, nullptr);
    ExtractBlock dump = request(EXTRACT_TYPE_DUMP, out("&M.dump"));
    std::vector<std::string> refusals;
    result = opx::extractStep(EXTRACT_GO, lib.get(), &dump, opx::ExtractExtras{true});
    for (; result != EXTRACT_RESULT_DONE;
         result = opx::extractStep(EXTRACT_GO, lib.get(), &dump, opx::ExtractExtras{true}))
        if (result == EXTRACT_RESULT_NOT_WRITTEN) refusals.push_back(dump.message);
    opx::extractStep(EXTRACT_STOP, lib.get(), &dump, opx::ExtractExtras{true});
    EXPECT_EQ(refusals, std::vector<std::string>(3, "Extract of Program Object is not supported"));
    EXPECT_EQ(dump.filesSkipped, 3u);
    EXPECT_FALSE(fs::exists(out("ALPHA.dump")));
}

TEST_F(Extract, TextOptions) {
    Pds pds;
    Member m;
    m.name = "TABS";
    m.records = {ebcdic(line80("A               B")), ebcdic(line80("ABCDEFG B")),
                 ebcdic(line80("")), ebcdic(line80("   X"))};
    pds.members = {m};
    auto h = openPds(pds);
    ExtractBlock tabs = request(EXTRACT_TYPE_TEXT, out("&M"));
    tabs.tabWidth = 8;
    ASSERT_EQ(runRequest(h.get(), tabs).severity, 0);
    // One letter, 15 blanks and a letter: two tabs. A single blank before a stop stays a blank.
    EXPECT_EQ(readFile(out("TABS")), "A\t\tB\nABCDEFG B\n\n   X\n");
    ExtractBlock strip = request(EXTRACT_TYPE_TEXT, out("&M.s"));
    strip.options = EXTRACT_STRIP;
    strip.lineEnd = 3;
    ASSERT_EQ(runRequest(h.get(), strip).severity, 0);
    EXPECT_EQ(readFile(out("TABS.s")), "A               B\r\nABCDEFG B\r\n\r\n   X\r\n");
    ExtractBlock crEnd = request(EXTRACT_TYPE_TEXT, out("&M.r"));
    crEnd.options = EXTRACT_STRIP;
    crEnd.lineEnd = 1;
    runRequest(h.get(), crEnd);
    EXPECT_EQ(readFile(out("TABS.r")), "A               B\rABCDEFG B\r\r   X\r");

    // A line longer than LRECL: stopped with severity 8 and no file; or truncated on request.
    ExtractBlock short10 = request(EXTRACT_TYPE_TEXT, out("&M.t"));
    short10.lrecl = 10;
    RunResult stopped = runRequest(h.get(), short10);
    EXPECT_EQ(stopped.message, "Record would be truncated");
    EXPECT_EQ(stopped.severity, 8);
    EXPECT_EQ(stopped.fileName, "");
    EXPECT_FALSE(fs::exists(out("TABS.t")));
    short10.options = EXTRACT_STRIP | EXTRACT_TRUNCATE;
    EXPECT_EQ(runRequest(h.get(), short10).severity, 0);
    EXPECT_EQ(readFile(out("TABS.t")), "A\nABCDEFG B\n\n   X\n");
}

TEST_F(Extract, FailedReplacementKeepsTheOldFile) {
    Pds pds;
    Member m;
    m.name = "LONG";
    m.records = {ebcdic(line80("FITS")), ebcdic(std::string(100, 'X'))};
    pds.members = {m};
    pds.lrecl = 100;
    pds.blksize = 1000;
    auto h = openPds(pds);
    testsupport::writeFile(out("LONG"), "precious");
    ExtractBlock req = request(EXTRACT_TYPE_TEXT, out("&M"));
    req.lrecl = 80;
    RunResult r = runRequest(h.get(), req, true);
    EXPECT_EQ(r.severity, 8);
    EXPECT_EQ(readFile(out("LONG")), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 2)
        << "no temporary file is left";
}

TEST_F(Extract, BadMemberDataEndsTheRequestWithSeverity16) {
    Pds pds = textPds();
    auto recs = collect([&](const Emit& e) { pdsTransmit(pds, e); });
    // The first member data record follows COPYR1, COPYR2 and the directory record.
    auto bad = recs;
    bad[7].data[0] = 0x55; // a count field flag that is neither X'00' nor X'E0'
    auto h = openRecords(bad);
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M")));
    EXPECT_EQ(r.message, "Invalid member data control field");
    EXPECT_EQ(r.severity, 16);
    EXPECT_EQ(r.fileName, paths_.back());
    // The end of the member data missing: the last member runs into INMR06.
    auto cut = recs;
    cut[cut.size() - 2].data.resize(cut[cut.size() - 2].data.size() - 12);
    auto h2 = openRecords(cut);
    fs::create_directory(dir_ / "cut");
    RunResult r2 = runRequest(h2.get(), request(EXTRACT_TYPE_TEXT, out("cut/&M")));
    EXPECT_EQ(r2.message, "TSO TRANSMIT control record encountered before member end-of-file");
    EXPECT_EQ(r2.severity, 16);
    EXPECT_EQ(r2.created, 2u) << "the members before stay";
    EXPECT_FALSE(fs::exists(dir_ / "cut" / "GAMMA")) << "the failed member leaves no file";
}

// Runs a text extraction under a file size limit and reports severity, message and how many
// files other than the transmit file are left in its folder.
[[noreturn]] void extractUnderSizeLimit(const std::string& file, const std::string& target) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    connectOnce();
    XmitHandle* h = pXmitFileOpen(file.c_str());
    RunResult r = runRequest(h, request(EXTRACT_TYPE_TEXT, target));
    vXmitFileClose(h);
    int leftovers = 0;
    for (const auto& e : fs::directory_iterator(fs::path(file).parent_path()))
        leftovers += e.path().filename() != "big.xmit";
    std::fprintf(stderr, "[%d][%s][%d]", r.severity, r.message.c_str(), leftovers);
    std::exit(0);
}

// A write failure (here: the file size limit) ends the request with the system's text and
// removes what was written.
TEST_F(Extract, WriteFailuresLeaveNoFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Pds pds = samplePds(1, 200);
    auto image = fileImage(collect([&](const Emit& e) { pdsTransmit(pds, e); }));
    testsupport::writeFile(out("big.xmit"), std::string(image.begin(), image.end()));
    const std::string file = out("big.xmit"), target = out("&M");
    const std::string expected = std::string("\\[12\\]\\[") + std::strerror(EFBIG) + "\\]\\[0\\]";
    EXPECT_EXIT(extractUnderSizeLimit(file, target), testing::ExitedWithCode(0), expected);
}

// A record length from the file does not size an allocation: a spanned data set that claims
// an LRECL of 1.3 GB is extracted with a bounded buffer.
TEST_F(Extract, HugeLreclSizesNoAllocation) {
    Pds pds;
    pds.recfm = 0x58;
    pds.lrecl = 255;
    pds.blksize = 400;
    Member m;
    m.name = "SPAN";
    m.records = {ebcdic("SHORT RECORD")};
    pds.members = {m};
    auto recs = collect([&](const Emit& e) { pdsTransmit(pds, e); });
    recs[1].data =
        controlRecord("INMR02",
                      {textUnit(0x1028, "IEBCOPY"), numberUnit(0x003C, 0x0200, 2),
                       numberUnit(0x0042, 0x50000000, 4), numberUnit(0x0030, 400, 4),
                       TextUnit{0x0049, {{0x58, 0x02}}}, qualifierUnit(0x0002, "HUGE.LRECL")},
                      1);
    auto h = openRecords(recs);
    ASSERT_EQ(h->message, nullptr) << message(h);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    // Text would refuse the LRECL as an output length; a dump reads the records all the same.
    ExtractBlock req = request(EXTRACT_TYPE_DUMP, out("&M"));
    RunResult r = runRequest(h.get(), req);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(r.severity, 0) << r.message;
    EXPECT_NE(readFile(out("SPAN")).find("Record 1  length 12\n"), std::string::npos);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024)
        << "KiB of peak memory for one short record";
}
