// The job step's files and listing: DD binding with its terminal errors, the heading and file
// table, pages, MSGLEVEL, SYSTERM copies and the caller's callback.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "linkedit.h"
#include "linkedit_support.h"

using namespace lt;

namespace {

using Callback = std::vector<std::pair<int, std::string>>;

std::string ctl(const TempDir& dir, const std::vector<std::string>& text,
                const std::string& name = "ctl.txt") {
    writeFile(dir / name, statements(text));
    return (dir / name).string();
}

} // namespace

TEST(Listing, HeadingFileTableAndEnd) {
    TempDir dir;
    JobSpec setup;
    setup.parm = "LIST=ALL";
    setup.syslin = {ctl(dir, {" ENTRY MAIN"}), ctl(dir, {"* a comment", " ENTRY SUB"}, "b.txt")};
    setup.syslib = {(dir / "lib/&m.obj").string()};
    const JobResult r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 0);
    const std::string d = dir.path().string();
    EXPECT_EQ(r.listing, (std::vector<std::string>{
                             titleLine(1),
                             " ",
                             " VRL000I PARAMETERS - LIST=ALL",
                             " ",
                             " DDNAME     SEQ   PATH",
                             " --------   ---   ----------------",
                             " SYSLIN       1   " + d + "/ctl.txt",
                             "              2   " + d + "/b.txt",
                             " SYSLIB       1   " + d + "/lib/&m.obj",
                             " SYSLMOD          " + d + "/load/&M",
                             " SYSPRINT         " + d + "/list.txt",
                             " SYSTERM          " + d + "/term.txt",
                             " VRL100I  ENTRY MAIN",
                             " VRL100I  ENTRY SUB",
                             " ",
                             " VRL009I Processing completed, return code is 0",
                         }));
    EXPECT_EQ(r.term, std::vector<std::string>{"VRL009I Processing completed, return code is 0"});
    EXPECT_TRUE(r.callback.empty());
}

TEST(Listing, LongParmStringContinues) {
    TempDir dir;
    std::string parm;
    while (parm.size() < 250) parm += "XREF,";
    parm.resize(250);
    parm.back() = 'F';
    JobSpec setup;
    setup.parm = parm.c_str();
    setup.syslin = {ctl(dir, {})};
    const JobResult r = runJob(dir, setup);
    ASSERT_GE(r.listing.size(), 5u);
    EXPECT_EQ(r.listing[2], " VRL000I PARAMETERS - " + parm.substr(0, 99));
    EXPECT_EQ(r.listing[3], " " + std::string(21, ' ') + parm.substr(99, 99));
    EXPECT_EQ(r.listing[4], " " + std::string(21, ' ') + parm.substr(198));
    JobSpec none;
    none.parm = nullptr;
    none.syslin = setup.syslin;
    EXPECT_EQ(runJob(dir, none).listing[2], " VRL000I PARAMETERS -");
}

// Sixty lines a page: the title, a blank line and 58 more; then the next page.
TEST(Listing, Pages) {
    TempDir dir;
    std::vector<std::string> text(70, " ENTRY MAIN");
    JobSpec setup;
    setup.syslin = {ctl(dir, text)};
    const JobResult r = runJob(dir, setup);
    ASSERT_GT(r.listing.size(), 62u);
    EXPECT_EQ(r.listing[0], titleLine(1));
    EXPECT_EQ(r.listing[59], " VRL100I  ENTRY MAIN");
    EXPECT_EQ(r.listing[60], titleLine(2));
    EXPECT_EQ(r.listing[61], " ");
    EXPECT_EQ(r.listing[62], " VRL100I  ENTRY MAIN");
    size_t echoes = 0;
    for (const auto& l : r.listing) echoes += l == " VRL100I  ENTRY MAIN";
    EXPECT_EQ(echoes, 70u);
}

// The page number runs from 9999 to 0.
TEST(Listing, PageNumberWraps) {
    TempDir dir;
    vrl::Job job;
    const std::string path = (dir / "p.txt").string();
    job.dd[vrl::kSysprint].path = path;
    job.dd[vrl::kSysprint].io.path = job.dd[vrl::kSysprint].path.c_str();
    job.dd[vrl::kSysprint].io.stream = std::fopen(path.c_str(), "w");
    ASSERT_NE(job.dd[vrl::kSysprint].io.stream, nullptr);
    vrl::takeTime(job.runTime);
    vrl::buildTitle(job);
    job.page = 9999;
    vrl::printLine(job, "A");
    job.lines = 999;
    vrl::printLine(job, "B");
    std::fclose(job.dd[vrl::kSysprint].io.stream);
    job.dd[vrl::kSysprint].io.stream = nullptr;
    EXPECT_EQ(lines(readFile(path)),
              (std::vector<std::string>{titleLine(9999), " ", " A", titleLine(0), " ", " B"}));
}

// MSGLEVEL: messages below it are neither listed nor copied but count in the return code;
// the lines of a statement error follow the message they belong to.
TEST(Listing, Msglevel) {
    TempDir dir;
    writeFile(dir / "a.obj",
              deck({esd(1, {sd("A", 0, 8)}), txt(1, 0, std::string(8, '\0')), end()}));
    const std::vector<std::string> syslin = {ctl(dir, {" CHANGE X(Y)"}), (dir / "a.obj").string(),
                                             ctl(dir, {" XYZ  FOO"}, "b.txt")};
    const std::string warning = "VRL109W CHANGE request for X was not processed.";
    const std::string error =
        "VRL106E Operation XYZ is invalid or not supported; SYSLIN+2 record 1 "
        "PATH=" +
        (dir / "b.txt").string();
    struct Case {
        const char* parm;
        bool warning, error;
    };
    for (const Case c : {Case{"MSGLEVEL=0", true, true}, Case{"MSGLEVEL=4", true, true},
                         Case{"MSGLEVEL=8", false, true}, Case{"MSGLEVEL=12", false, false}}) {
        JobSpec setup;
        setup.parm = c.parm;
        setup.syslin = syslin;
        setup.member = "PROG";
        std::filesystem::remove(dir / "load/PROG");
        const JobResult r = runJob(dir, setup);
        EXPECT_EQ(r.rc, 8) << c.parm;
        EXPECT_EQ(r.listed(warning), c.warning) << c.parm;
        EXPECT_EQ(r.listed(error), c.error) << c.parm;
        EXPECT_EQ(r.listed("         XYZ  FOO"), c.error) << c.parm;
        EXPECT_EQ(r.listed("VRL009I Processing completed, return code is 8"),
                  std::string(c.parm) == "MSGLEVEL=0")
            << c.parm;
        EXPECT_EQ(std::count(r.term.begin(), r.term.end(), " XYZ  FOO"), c.error ? 1 : 0) << c.parm;
    }
}

// A line longer than 120 characters continues on the next listing line; the path of a message
// that would pass 114 characters stands on its own line; SYSTERM drops the indentation of
// continuation lines and, when asked, writes 80 columns a line.
TEST(Listing, LongLines) {
    TempDir dir;
    const std::string name = std::string(150, 'n') + ".txt";
    const std::string path = ctl(dir, {" XYZ  FOO"}, name);
    JobSpec setup;
    setup.syslin = {path};
    setup.termFlags = LINKEDIT_DD_SPLIT;
    const JobResult r = runJob(dir, setup);
    const std::string pathLine = "        PATH=" + path;
    const auto at =
        std::find(r.listing.begin(), r.listing.end(),
                  " VRL106E Operation XYZ is invalid or not supported; SYSLIN record 1");
    ASSERT_NE(at, r.listing.end());
    EXPECT_EQ(*(at + 1), " " + pathLine.substr(0, 120));
    EXPECT_EQ(*(at + 2), " " + pathLine.substr(120, 120));
    const std::string termPath = "PATH=" + path;
    const auto t = std::find(r.term.begin(), r.term.end(),
                             "VRL106E Operation XYZ is invalid or not supported; SYSLIN record 1");
    ASSERT_NE(t, r.term.end());
    EXPECT_EQ(*(t + 1), termPath.substr(0, 80));
    EXPECT_EQ(*(t + 2), termPath.substr(80, 80));
    EXPECT_EQ(*(t + 4), " XYZ  FOO");
    EXPECT_EQ(*(t + 5), "4EEE44CDD" + std::string(71, '4'));
}

// DD binding: what a job step does when a DD cannot be used.
TEST(Listing, TerminalDdErrors) {
    TempDir dir;
    const std::string input = ctl(dir, {" XYZ  FOO"});
    const std::string d = dir.path().string();
    struct Case {
        const char* name;
        std::function<void(JobSpec&)> set;
        Callback callback;
        bool listing; // a listing file is written
    };
    const std::string end16 = "VRL009I Processing completed, return code is 16";
    const Case cases[] = {
        {"SYSPRINT missing",
         [](JobSpec& s) { s.nullSysprint = true; },
         {{1, "KEC130I SYSPRINT DD STATEMENT MISSING"},
          {2, "VRL010T DDNAME SYSPRINT cannot be opened, DD statement is missing."},
          {2, end16}},
         false},
        {"SYSPRINT unopenable",
         [&](JobSpec& s) { s.sysprint = d + "/none/list.txt"; },
         {{1,
           "KEC141I 013-18,SYSPRINT,No such file or directory, PATH=\"" + d + "/none/list.txt\""},
          {2, "VRL011T DDNAME SYSPRINT cannot be opened, No such file or directory, PATH=" + d +
                  "/none/list.txt"},
          {2, end16}},
         false},
        {"SYSPRINT binary",
         [](JobSpec& s) { s.printFlags = LINKEDIT_DD_BINARY; },
         {{2, "VRL012T DDNAME SYSPRINT cannot be opened, FILEDATA=TEXT is required"}, {2, end16}},
         false},
        {"SYSTERM missing",
         [](JobSpec& s) { s.nullSysterm = true; },
         {{1, "KEC130I SYSTERM DD STATEMENT MISSING"}},
         true},
        {"SYSTERM binary", [](JobSpec& s) { s.termFlags = LINKEDIT_DD_BINARY; }, {}, true},
        {"SYSLMOD missing",
         [](JobSpec& s) { s.nullSyslmod = true; },
         {{1, "KEC130I SYSLMOD DD STATEMENT MISSING"}},
         true},
        {"SYSLMOD pattern",
         [&](JobSpec& s) { s.syslmod = d + "/load/x&M"; },
         {{1, "KEC141I 013-14,SYSLMOD ,DCB=DSORG=PO REQUIRES DATASET DSORG=PO"},
          {1, "        PATH=" + d + "/load/x&M"}},
         true},
        {"SYSLIN missing",
         [](JobSpec& s) { s.syslin.clear(); },
         {{1, "KEC130I SYSLIN DD STATEMENT MISSING"}},
         true},
        {"SYSLIN unopenable",
         [&](JobSpec& s) { s.syslin = {d + "/none.txt"}; },
         {{1, "KEC141I 013-18,SYSLIN  ,No such file or directory, PATH=\"" + d + "/none.txt\""}},
         true},
    };
    for (const Case& c : cases) {
        JobSpec setup;
        setup.parm = "LET=5";
        setup.syslin = {input};
        c.set(setup);
        const JobResult r = runJob(dir, setup);
        EXPECT_EQ(r.rc, 16) << c.name;
        EXPECT_EQ(r.callback, c.callback) << c.name;
        EXPECT_EQ(!r.listing.empty(), c.listing) << c.name;
        // No input is read after a terminal error.
        EXPECT_FALSE(r.listedPrefix("VRL106E")) << c.name;
        if (c.listing) {
            // The option messages were issued once the listing was open.
            EXPECT_TRUE(r.listed("VRL110E Parameter error: \"LET=5\" is invalid or not supported"))
                << c.name;
            EXPECT_EQ(r.listing.back(), " " + end16) << c.name;
        }
    }
    JobSpec setup;
    setup.syslin = {input};
    setup.syslmod = d + "/load/x&M";
    EXPECT_TRUE(runJob(dir, setup)
                    .listed("VRL013T DDNAME SYSLMOD cannot be opened, invalid path "
                            "pattern \"" +
                            d + "/load/x&M\""));
    setup = JobSpec{};
    setup.nullSysterm = true;
    setup.syslin = {input};
    const JobResult noTerm = runJob(dir, setup);
    EXPECT_TRUE(noTerm.listed("VRL010T DDNAME SYSTERM cannot be opened, DD statement is missing."));
    EXPECT_FALSE(noTerm.listedPrefix("DDNAME     SEQ"));
}

// Without a listing, messages reach SYSTERM only; with neither, nothing but the return code.
TEST(Listing, NoListing) {
    TempDir dir;
    JobSpec setup;
    setup.parm = "LET=5";
    setup.syslin = {ctl(dir, {" ENTRY MAIN"})};
    setup.sysprint = "";
    JobResult r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 8);
    EXPECT_FALSE(std::filesystem::exists(dir / "list.txt"));
    EXPECT_EQ(r.term, (std::vector<std::string>{
                          "VRL110E Parameter error: \"LET=5\" is invalid or not supported",
                          "VRL009I Processing completed, return code is 8"}));
    EXPECT_TRUE(r.callback.empty());
    setup.systerm = "";
    std::filesystem::remove(dir / "term.txt");
    r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 8);
    EXPECT_FALSE(std::filesystem::exists(dir / "term.txt"));
    EXPECT_TRUE(r.callback.empty());
    setup = JobSpec{};
    setup.mode = LINKEDIT_MODE_NOTERM;
    setup.syslin = {ctl(dir, {" ENTRY MAIN"})};
    r = runJob(dir, setup);
    EXPECT_FALSE(std::filesystem::exists(dir / "term.txt"));
    EXPECT_FALSE(r.listing.empty());
}

TEST(Listing, AppendedListing) {
    TempDir dir;
    writeFile(dir / "list.txt", "earlier run\n");
    JobSpec setup;
    setup.syslin = {ctl(dir, {" ENTRY MAIN"})};
    setup.sysprint = (dir / "list.txt").string();
    setup.printFlags = LINKEDIT_DD_APPEND;
    runJob(dir, setup);
    const auto listing = lines(readFile(dir / "list.txt"));
    ASSERT_GT(listing.size(), 2u);
    EXPECT_EQ(listing[0], "earlier run");
    EXPECT_EQ(listing[1], titleLine(1));
}

// The caller's member name becomes part of a file name: one that is not a member name is
// refused and the module has no default name.
TEST(Listing, CallerMemberName) {
    TempDir dir;
    JobSpec setup;
    setup.syslin = {ctl(dir, {" INCLUDE SYSLMOD"})};
    setup.member = "../../X";
    JobResult r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 8);
    EXPECT_EQ(r.listing[3], " VRL112E Invalid member name \"../../X\"");
    EXPECT_TRUE(r.listedPrefix("VRL125E Member name list missing for DDNAME: \"SYSLMOD\""));
    setup.member = "prog";
    writeFile(dir / "load/PROG", statements({" ENTRY FROMPROG"}));
    r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.listed("VRL100I  ENTRY FROMPROG"));
}

// A job step without a connection ends the process with exit code 20.
TEST(Listing, Unconnected) {
    const auto r = testsupport::runCommand(UNCONNECTED_PATH);
    EXPECT_EQ(r.exitCode, 20);
    EXPECT_NE(r.err.find("DLL is not connected"), std::string::npos);
}

// A listing that cannot be written: the job step says so and ends with 16.
TEST(Listing, ListingWriteFails) {
    TempDir dir;
    for (size_t statements : {1u, 200u}) {
        JobSpec setup;
        setup.syslin = {ctl(dir, std::vector<std::string>(statements, " ENTRY MAIN"))};
        setup.sysprint = "/dev/full";
        const JobResult r = runJob(dir, setup);
        EXPECT_EQ(r.rc, 16) << statements;
        const auto found = std::find_if(r.callback.begin(), r.callback.end(), [](const auto& c) {
            return c.second == "VRL017T Error writing to SYSPRINT: No space left on device, "
                               "PATH=/dev/full";
        });
        EXPECT_NE(found, r.callback.end()) << statements;
    }
}
