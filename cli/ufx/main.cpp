// ufx: the update utility as a job step on the command line.
//
//   ufx --parm NEW --sysin deck.txt --sysprint - --sysut2 'lib/&m.asm'
//   ufx --sysin change.txt --sysprint list.txt --sysut1 'lib/&M' --sysut2 'lib/&M'
//
// Each --sysXXX option binds a DD name to a path; an omitted one is a missing DD statement. A
// path whose last component holds &M or &m is a partitioned data set (a folder of member
// files). The exit status is the run's condition code: 0, or 12 after any error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "codepage_warning.h"
#include "platform/files.h"
#include "platform/process.h"
#include "ufxcore.h"

namespace {

constexpr const char* kFamily = "Quorin Toolbench";
constexpr const char* kVersion = "3.0.07";

struct Messages {
    bool json = false;
    nlohmann::json list = nlohmann::json::array();
};

// Level 1 (a missing DD statement) goes to standard error; listing messages, which arrive only
// when there is no listing file, to standard output.
void onMessage(void* argument, int level, const char* text) {
    auto* messages = static_cast<Messages*>(argument);
    if (messages->json) {
        messages->list.push_back({{"level", level}, {"text", text}});
        return;
    }
    std::FILE* to = level == UPDATE_MESSAGE_DD_MISSING ? stderr : stdout;
    std::fprintf(to, "%s%s\n", level == UPDATE_MESSAGE_DD_MISSING ? "ufx: " : "", text);
}

void onTrace(const char* line) {
    std::fputs(line, stderr);
}

// The listing of "--sysprint -" is written to a private temporary file and copied to standard
// output once the run is over.
class StdoutListing {
  public:
    bool create() {
        if (!platform::createWorkFile("ufx-listing", path_)) {
            error_ = std::strerror(errno);
            return false;
        }
        return true;
    }
    ~StdoutListing() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    bool copyToStdout() {
        std::FILE* in = std::fopen(path_.c_str(), "rb");
        if (in == nullptr) return false;
        char buffer[1 << 16];
        size_t n;
        bool ok = true;
        // The file already has the line ends of a text file; they pass as they are.
        std::fflush(stdout);
        platform::setBinaryMode(stdout);
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            if (std::fwrite(buffer, 1, n, stdout) != n) ok = false;
        std::fclose(in);
        return ok && std::fflush(stdout) == 0;
    }

  private:
    std::string path_;
    std::string error_;
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Applies update control statements (./ ADD, CHANGE, REPL, REPRO, NUMBER, DELETE, ENDUP) "
        "from SYSIN to an old master (SYSUT1), writing the new master (SYSUT2) and a paged listing "
        "(SYSPRINT).\n"
        "A path whose last component holds &M or &m is a partitioned data set: a folder of member "
        "files named by the pattern (&m gives lower-case names), e.g. 'src/&m.asm'. Quote such "
        "paths "
        "in the shell. Any other path is a sequential data set; an empty path is a dummy data set; "
        "'nul' is the null device. An omitted DD option is a missing DD statement.\n"
        "The exit status is the condition code: 0, or 12 after any error.",
        "ufx"};
    // Options are --name or -x only: a path that begins with a slash (which on Windows names
    // the current drive's root) is an argument, never a Windows-style /option.
    app.allow_windows_style_options(false);
    std::optional<std::string> parm, sysin, sysprint, sysut1, sysut2;
    bool ut1Binary = false, ut1Append = false, ut2Binary = false, ut2Append = false,
         printAppend = false;
    bool json = false;
    int trace = 0;
    unsigned page = 1;
    app.add_option("--parm", parm,
                   "the program parameter: NEW (create a new master), MOD, or empty");
    app.add_option(
        "--sysin", sysin,
        "the control and data statements (text lines or EBCDIC card images); - for standard input");
    app.add_option(
        "--sysprint", sysprint,
        "the listing file; - for standard output; '<stdout>' for messages only; nul for none");
    app.add_option("--sysut1", sysut1, "the old master: a file, or a folder pattern with &M or &m");
    app.add_option("--sysut2", sysut2, "the new master: a file, or a folder pattern with &M or &m");
    app.add_flag("--sysut1-binary", ut1Binary,
                 "SYSUT1 holds 80-byte EBCDIC records instead of text lines");
    app.add_flag("--sysut1-append", ut1Append, "SYSUT1 is DISP=MOD");
    app.add_flag("--sysut2-binary", ut2Binary,
                 "write SYSUT2 as 80-byte EBCDIC records instead of text lines");
    app.add_flag("--sysut2-append", ut2Append,
                 "append to SYSUT2 (DISP=MOD) instead of replacing it");
    app.add_flag("--sysprint-append", printAppend, "append the listing to the SYSPRINT file");
    app.add_option("--page", page, "the number of the listing's first page")->capture_default_str();
    app.add_option("--trace", trace, "trace level of the file operations on standard error: 0 to 4")
        ->check(CLI::Range(0, 4))
        ->capture_default_str();
    app.add_flag(
        "--json", json,
        "print the condition code and the messages as JSON on standard output (SYSPRINT - then "
        "carries no listing)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "ufx: %s (see ufx --help)\n", e.what());
        return 2;
    }

    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, trace, nullptr, kFamily, kVersion, onTrace, nullptr);
    cli::warnIgnoredCodePages("ufx");
    if (const char* problem = pszUfxSetConversion(); problem != nullptr) {
        std::fprintf(stderr, "ufx: %s (check CODEPAGE_ASCII and CODEPAGE_EBCDIC)\n", problem);
        return 12;
    }

    Messages messages;
    messages.json = json;
    StdoutListing listing;
    std::string sysinPath, sysprintPath;
    const char* sysinArg = nullptr;
    const char* sysprintArg = nullptr;
    if (sysin) {
        sysinPath = *sysin == "-" ? "<stdin>" : *sysin;
        sysinArg = sysinPath.c_str();
    }
    bool copyListing = false;
    if (sysprint) {
        if (*sysprint == "-" && json) {
            sysprintPath = "<stdout>";
        } else if (*sysprint == "-") {
            if (!listing.create()) {
                std::fprintf(stderr, "ufx: cannot create a temporary file for the listing: %s\n",
                             listing.error().c_str());
                return 12;
            }
            sysprintPath = listing.path();
            copyListing = true;
        } else {
            sysprintPath = *sysprint;
        }
        sysprintArg = sysprintPath.c_str();
    }
    const unsigned printFlags = printAppend && !copyListing ? UPDATE_DD_APPEND : 0;
    const unsigned ut1Flags =
        (ut1Binary ? UPDATE_DD_BINARY : 0) | (ut1Append ? UPDATE_DD_APPEND : 0);
    const unsigned ut2Flags =
        (ut2Binary ? UPDATE_DD_BINARY : 0) | (ut2Append ? UPDATE_DD_APPEND : 0);
    unsigned reserved = 0;
    std::fflush(stdout);
    int cc = iUpdateUtility(parm ? parm->c_str() : "", sysinArg, "SYSIN", sysprintArg, "SYSPRINT",
                            sysut1 ? sysut1->c_str() : nullptr, "SYSUT1",
                            sysut2 ? sysut2->c_str() : nullptr, "SYSUT2", onMessage, &messages,
                            &page, &reserved, printFlags, ut1Flags, ut2Flags);
    if (copyListing && !listing.copyToStdout()) {
        std::fprintf(stderr, "ufx: cannot write the listing to standard output: %s\n",
                     std::strerror(errno));
        if (cc == 0) cc = 12;
    }
    if (json) {
        nlohmann::json out = {
            {"conditionCode", cc}, {"nextPage", page}, {"messages", messages.list}};
        std::printf("%s\n", out.dump(2).c_str());
    }
    std::fflush(stdout);
    return cc;
}
