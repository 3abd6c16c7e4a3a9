// Relink: the binder program beside the library run on each member's delinked deck through a
// response file in private work files; its return codes, a binder that is missing, cannot
// start or ends abnormally, the listings, and every message of the relink steps. A stand-in
// binder (a shell script) records what it was given and ends as the test says.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delink.h"
#include "extract_fixture.h"
#include "loadmod_fixture.h"
#include "relink.h"

using namespace xtest;
using testsupport::readFile;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// Connects the library as if it were loaded from `folder`, so that the binder is looked for
// there; the usual connection is back at the end.
class ModuleFolder {
  public:
    explicit ModuleFolder(const fs::path& folder, int trace = 0) {
        const std::string module = (folder / "libopxcore.so").string();
        int status = 0;
        ConnectionRecord* record = nullptr;
        pszOpxDllConnect(&status, &record, trace, module.c_str(), "Quorin Toolbench", "3.0.07",
                         nullptr, nullptr);
    }
    ~ModuleFolder() {
        int status = 0;
        ConnectionRecord* record = nullptr;
        pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr,
                         nullptr);
    }
};

// Sets an environment variable for a scope.
class Env {
  public:
    Env(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~Env() { had_ ? (void)::setenv(name_, old_.c_str(), 1) : (void)::unsetenv(name_); }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

class Relink : public LoadLibrary {
  protected:
    void SetUp() override {
        LoadLibrary::SetUp();
        bin_ = dir_ / "bin";
        fs::create_directories(bin_);
    }
    // A stand-in binder: it keeps its arguments, its response file, the deck the response file
    // names and the mode of the work files, then ends with the next of `codes` (a number, or
    // "kill" for a signal).
    void binder(const std::vector<std::string>& codes) {
        std::string list;
        for (const std::string& c : codes) list += c + "\n";
        writeFile(bin_ / "codes", list);
        const std::string d = dir_.path().string();
        writeFile(bin_ / "vrl", "#!/bin/sh\n"
                                "D='" +
                                    d +
                                    "'\n"
                                    "n=$(($(cat \"$D/count\" 2>/dev/null || echo 0) + 1))\n"
                                    "echo $n > \"$D/count\"\n"
                                    "echo \"$0 $*\" > \"$D/args.$n\"\n"
                                    "r=${1#-@}\n"
                                    "cp \"$r\" \"$D/response.$n\"\n"
                                    "deck=$(tail -n 1 \"$r\")\n"
                                    "cp \"$deck\" \"$D/deck.$n\"\n"
                                    "stat -c %a \"$r\" > \"$D/mode.$n\"\n"
                                    "code=$(sed -n ${n}p \"$D/bin/codes\")\n"
                                    "[ \"$code\" = kill ] && kill -9 $$\n"
                                    "exit $code\n");
        fs::permissions(bin_ / "vrl", fs::perms::owner_all);
    }
    HandlePtr twoModules() {
        return library({module("ONE", smallModule(), moduleEntry(16)),
                        module("TWO", smallModule(), moduleEntry(16))});
    }
    ExtractBlock relink(const std::string& target, const char* listing = nullptr,
                        const char* parm = "LET,LIST=ALL") {
        ExtractBlock r = request(EXTRACT_TYPE_RELINK, target);
        r.listing = listing;
        r.binderParameters = parm;
        return r;
    }
    fs::path bin_;
};

std::vector<std::string> notWritten(const RunResult& r) {
    std::vector<std::string> out;
    for (const Step& s : r.steps)
        if (s.result == EXTRACT_RESULT_NOT_WRITTEN) out.push_back(s.message);
    return out;
}

} // namespace

TEST_F(Relink, ReturnCodesOfTheBinder) {
    auto h = twoModules();
    ModuleFolder folder(bin_);
    // 0 to 4: relinked, created or replaced as the target was before; 5 to 20: failed, skipped,
    // and the next member goes on.
    binder({"4", "8"});
    writeFile(out("TWO"), "an old module");
    RunResult r = runRequest(h.get(), relink(out("&M")));
    EXPECT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(notWritten(r),
              (std::vector<std::string>{out("ONE") + " relinked, binder return code = 4",
                                        "relink failed, binder return code = 8"}));
    EXPECT_EQ(r.created, 1u);
    EXPECT_EQ(r.replaced, 0u);
    EXPECT_EQ(r.skipped, 1u);
    for (const Step& s : r.steps)
        if (s.result == EXTRACT_RESULT_NOT_WRITTEN) {
            EXPECT_EQ(s.file, out(s.member));
        }

    // A binder that ends abnormally ends the request: a signal, or a code above 20.
    for (const char* code : {"kill", "21"}) {
        fs::remove(dir_ / "count");
        binder({code});
        r = runRequest(h.get(), relink(out("&M")));
        EXPECT_EQ(r.severity, 12);
        const unsigned status = std::string(code) == "kill" ? 9u : 21u << 8;
        char want[64];
        std::snprintf(want, sizeof want, ": exit status %.8X", status);
        EXPECT_EQ(r.message, (bin_ / "vrl").string() + want) << code;
        EXPECT_EQ(r.skipped + r.created + r.replaced, 0u);
    }
}

TEST_F(Relink, ResponseFileAndWorkFiles) {
    auto h = library({module("ONE", smallModule(), moduleEntry(16))});
    ModuleFolder folder(bin_);
    binder({"0"});
    fs::create_directories(dir_ / "out dir");
    const std::string pattern = (dir_ / "out dir" / "&M.load").string();
    RunResult r = runRequest(h.get(), relink(pattern, nullptr, "LIST=ALL, XREF"));
    ASSERT_EQ(r.severity, 0) << r.message;
    // The binder beside the library, with the response file as its one argument.
    const std::string args = readFile(dir_ / "args.1");
    ASSERT_EQ(args.rfind((bin_ / "vrl").string() + " -@", 0), 0u) << args;
    const std::string responsePath =
        args.substr(args.find("-@") + 2, args.size() - 1 - args.find("-@") - 2);
    // Values with blanks in quotes; no listing line without a listing.
    const std::string response = readFile(dir_ / "response.1");
    const std::string deckPath = response.substr(response.rfind('\n', response.size() - 2) + 1);
    EXPECT_EQ(response, "-parm \"LIST=ALL, XREF\" -syslmod \"" + pattern + "\"\n" + deckPath);
    // The deck is the module's delinked deck; both work files were private and are gone.
    Read m = readModule(moduleEntry(16), smallModule());
    const std::vector<uint8_t> deck = opx::delinkModule(m.image, "ONE");
    EXPECT_EQ(readFile(dir_ / "deck.1"), std::string(deck.begin(), deck.end()));
    EXPECT_EQ(readFile(dir_ / "mode.1"), "600\n");
    EXPECT_FALSE(fs::exists(responsePath));
    EXPECT_FALSE(fs::exists(deckPath.substr(0, deckPath.size() - 1)));

    EXPECT_EQ(opx::responseValue("LET"), "LET");
    EXPECT_EQ(opx::responseValue(""), "\"\"");
    EXPECT_EQ(opx::responseValue("a \"b\""), "\"a \"\"b\"\"\"");
}

TEST_F(Relink, Listings) {
    auto h = twoModules();
    ModuleFolder folder(bin_);
    // One listing for all members: an old one is gone before the first member, and each run
    // appends ("+").
    binder({"0", "0"});
    writeFile(out("all.lst"), "an old listing");
    const std::string all = out("all.lst");
    RunResult r = runRequest(h.get(), relink(out("&M"), all.c_str()));
    ASSERT_EQ(r.severity, 0) << r.message;
    EXPECT_FALSE(fs::exists(all));
    EXPECT_EQ(readFile(dir_ / "response.1").rfind("-asa -sysprint+ " + all + "\n-parm ", 0), 0u);
    // One listing a member, named after it.
    fs::remove(dir_ / "count");
    binder({"0", "0"});
    const std::string each = out("&m.lst");
    r = runRequest(h.get(), relink(out("&M"), each.c_str()));
    ASSERT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(
        readFile(dir_ / "response.2").rfind("-asa -sysprint " + out("two.lst") + "\n-parm ", 0),
        0u);
    // A listing that cannot be opened.
    const std::string missing = out("no/such/folder/all.lst");
    r = runRequest(h.get(), relink(out("&M"), missing.c_str()));
    EXPECT_EQ(r.severity, 12);
    EXPECT_EQ(r.message, std::strerror(ENOENT));
    EXPECT_EQ(r.fileName, missing);
}

TEST_F(Relink, BinderThatCannotStart) {
    auto h = twoModules();
    ModuleFolder folder(bin_);
    RunResult r = runRequest(h.get(), relink(out("&M")));
    EXPECT_EQ(r.severity, 12);
    EXPECT_EQ(r.message, "Binder program " + (bin_ / "vrl").string() + " not found.");
    writeFile(bin_ / "vrl", "#!/bin/sh\nexit 0\n");
    fs::permissions(bin_ / "vrl", fs::perms::owner_read | fs::perms::owner_write);
    r = runRequest(h.get(), relink(out("&M")));
    EXPECT_EQ(r.severity, 12);
    EXPECT_EQ(r.message,
              "spawnv(" + (bin_ / "vrl").string() + ") failed: " + std::strerror(EACCES));
    EXPECT_EQ(r.skipped + r.created, 0u);
}

TEST_F(Relink, WorkFilesThatCannotBeMade) {
    auto h = twoModules();
    ModuleFolder folder(bin_);
    binder({"0", "0"});
    {
        Env tmp("TMPDIR", out("missing"));
        RunResult r = runRequest(h.get(), relink(out("&M")));
        EXPECT_EQ(r.message, "Creation of binder work file #1 failed.");
        EXPECT_EQ(r.severity, 12);
        EXPECT_EQ(r.fileName, "");
    }
    {
        // A folder whose path leaves room for the first work file's name, not for the second's.
        fs::path deep = dir_.path();
        while (deep.string().size() + 1 + 200 < 4076 - 1) deep /= std::string(200, 'd');
        deep /= std::string(4076 - deep.string().size() - 1, 'e');
        ASSERT_EQ(deep.string().size(), 4076u);
        fs::create_directories(deep);
        Env tmp("TMPDIR", deep.string());
        RunResult r = runRequest(h.get(), relink(out("&M")));
        EXPECT_EQ(r.message, "Creation of binder work file #2 failed.");
        EXPECT_EQ(r.severity, 12);
    }
    // Writing them.
    EXPECT_EQ(std::string(opx::writeWorkFile(out("no/such/file"), "x", 1)),
              "Open of binder work file \"" + out("no/such/file") +
                  "\" failed: " + std::strerror(ENOENT));
    EXPECT_EQ(std::string(opx::writeWorkFile("/dev/full", "x", 1)),
              std::string("Write to binder work file \"/dev/full\" failed: ") +
                  std::strerror(ENOSPC));
}

TEST_F(Relink, TraceShowsTheCommand) {
    auto h = library({module("ONE", smallModule(), moduleEntry(16))});
    ModuleFolder folder(bin_, 2);
    binder({"0"});
    testing::internal::CaptureStdout();
    RunResult r = runRequest(h.get(), relink(out("&M")));
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(r.severity, 0) << r.message;
    const std::string args = readFile(dir_ / "args.1");
    EXPECT_NE(printed.find("exec: " + args), std::string::npos) << printed;
}
