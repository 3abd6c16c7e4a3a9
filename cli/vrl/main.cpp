// vrl: the linkage editor as a job step on the command line.
//
//   vrl -parm LIST=ALL,MAP -syslmod 'load/&M' -sysprint link.lst main.obj link.txt
//   vrl -syslib 'lib/&m.obj' -syslmod 'load/&m.bin' -sysprint - deck.obj
//   vrl -@response.txt
//
// A response file holds the same arguments, any number a line; a value with blanks is written
// in double quotes (a double quote inside is doubled). The extractor's relink writes lines
// such as
//   -asa -sysprint+ /tmp/relink.lst
//   -parm "LET,LIST=ALL" -syslmod /work/load/&M
//   /tmp/relink.obj
// Positional arguments are the SYSLIN files. Messages go to standard error (SYSTERM) unless
// -systerm says otherwise. The exit status is the job step's return code (0, 4, 8, 12 or 16);
// a command line that cannot be used ends with 16.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "platform/process.h"
#include "vrlcore.h"

namespace {

constexpr const char* kFamily = "Quorin Toolbench";
constexpr const char* kVersion = "3.0.07";
constexpr int kUsageError = 16;
constexpr int kMaxResponseDepth = 8;

struct Messages {
    bool json = false;
    nlohmann::json operatorLines = nlohmann::json::array();
    nlohmann::json lines = nlohmann::json::array();
};

// Operator lines and messages issued while no listing is open go to standard error.
void onMessage(void* user, int kind, const char* text) {
    auto* messages = static_cast<Messages*>(user);
    if (messages->json) {
        (kind == LINKEDIT_MESSAGE_OPERATOR ? messages->operatorLines : messages->lines)
            .push_back(text);
        return;
    }
    std::fprintf(stderr, "%s%s\n", kind == LINKEDIT_MESSAGE_OPERATOR ? "vrl: " : "", text);
}

void onTrace(const char* line) {
    std::fputs(line, stderr);
}

// The words of a response file line: blanks separate them; a word that starts with a double
// quote runs to the closing quote, a doubled quote standing for one.
bool splitLine(const std::string& line, std::vector<std::string>& words, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        word += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                word += line[i++];
            }
            if (!closed) {
                error = "a quoted value has no closing quote";
                return false;
            }
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                word += line[i++];
        }
        words.push_back(word);
    }
    return true;
}

// Expands "-@FILE" arguments into the words of the file.
bool expand(const std::vector<std::string>& in, std::vector<std::string>& out, int depth,
            std::string& error) {
    for (const std::string& arg : in) {
        if (arg.rfind("-@", 0) != 0) {
            out.push_back(arg);
            continue;
        }
        const std::string path = arg.substr(2);
        if (depth >= kMaxResponseDepth) {
            error = "response files nest too deeply at " + path;
            return false;
        }
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            error = "cannot read the response file " + path + ": " + std::strerror(errno);
            return false;
        }
        std::vector<std::string> words;
        std::string line;
        unsigned long number = 0;
        while (std::getline(file, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!splitLine(line, words, error)) {
                error = path + " line " + std::to_string(number) + ": " + error;
                return false;
            }
        }
        if (!expand(words, out, depth + 1, error)) return false;
    }
    return true;
}

// The single-dash options of the response file as CLI11 options. An option and its value
// become one "--name=value" word, so that values may begin with a dash or be empty. Words
// that are not options are SYSLIN files; they follow a "--".
bool normalize(const std::vector<std::string>& in, std::vector<std::string>& out,
               std::string& error) {
    static const char* const kValued[] = {"parm",    "syslmod", "sysprint", "syslib",
                                          "systerm", "member",  "blksize",  "trace"};
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& a = in[i];
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            files.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyFiles = true;
            continue;
        }
        std::string name = a.substr(a[1] == '-' ? 2 : 1);
        std::string value;
        bool hasValue = false;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "sysprint+") {
            out.push_back("--sysprint-append");
            name = "sysprint";
        }
        bool valued = false;
        for (const char* v : kValued)
            if (name == v) valued = true;
        if (valued && !hasValue) {
            if (i + 1 >= in.size()) {
                error = "-" + name + " needs a value";
                return false;
            }
            value = in[++i];
            hasValue = true;
        }
        out.push_back(hasValue ? "--" + name + "=" + value : "--" + name);
    }
    if (!files.empty()) {
        out.push_back("--");
        out.insert(out.end(), files.begin(), files.end());
    }
    return true;
}

// A listing for "-sysprint -": a private temporary file copied to standard output afterwards.
class StdoutListing {
  public:
    ~StdoutListing() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    bool create(std::string& error) {
        if (!platform::createWorkFile("vrl-listing", path_)) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string& path() const { return path_; }
    bool copyTo(std::FILE* to) const {
        std::FILE* in = std::fopen(path_.c_str(), "rb");
        if (in == nullptr) return false;
        char buffer[1 << 16];
        size_t n;
        bool ok = true;
        // The file already has the line ends of a text file; they pass as they are.
        std::fflush(to);
        platform::setBinaryMode(to);
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            if (std::fwrite(buffer, 1, n, to) != n) ok = false;
        std::fclose(in);
        return ok && std::fflush(to) == 0;
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::ifstream in(path_, std::ios::binary);
        std::string line;
        // The file is text that the library wrote in text mode: CR LF line ends on Windows.
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out.push_back(line);
        }
        return out;
    }

  private:
    std::string path_;
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "The linkage editor: reads object modules and control statements from the SYSLIN files, "
        "resolves external references (automatic call from the SYSLIB libraries), and saves "
        "each module as a member file of SYSLMOD, with a paged listing on SYSPRINT.\n"
        "SYSLMOD and SYSLIB are folders of member files named by a pattern whose last component "
        "begins with &M or &m (&m gives lower-case names), e.g. 'load/&m.bin'. Quote such "
        "paths in the shell. '<stdin>' as a SYSLIN file reads standard input.\n"
        "Arguments may come from a response file: -@FILE, any number a line, values with blanks "
        "in double quotes. The single-dash forms (-parm, -syslmod, -sysprint, -sysprint+, "
        "-asa, -syslib, -systerm) are those of the extractor's relink.\n"
        "The exit status is the return code: 0, 4, 8, 12 or 16.",
        "vrl"};
    // Options are --name or -x only: a path that begins with a slash (which on Windows names
    // the current drive's root) is an argument, never a Windows-style /option.
    app.allow_windows_style_options(false);
    std::optional<std::string> parm, syslmod, sysprint, member;
    std::vector<std::string> syslib, syslin;
    std::string systerm = "-";
    bool printAppend = false, asa = false, json = false, split = false;
    unsigned blksize = 0;
    int trace = 0;
    app.add_option("--parm", parm, "the options (PARM), e.g. LIST=ALL,MAP,XREF,LET=8");
    app.add_option("--syslmod", syslmod, "where modules are saved: a pattern with &M or &m");
    app.add_option("--sysprint", sysprint, "the listing file; - for standard output");
    app.add_flag("--sysprint-append", printAppend,
                 "append the listing to the SYSPRINT file (the response file's -sysprint+)");
    app.add_flag("--asa", asa, "listings carry ASA carriage control (they always do)");
    app.add_option("--syslib", syslib,
                   "a library pattern for INCLUDE and automatic call "
                   "(repeat it for a concatenation)");
    app.add_option("--systerm", systerm,
                   "the messages: a file, - for standard error (the default), or '' for none")
        ->capture_default_str();
    app.add_flag("--systerm-split", split, "write SYSTERM lines 80 columns at a time");
    app.add_option("--member", member,
                   "the member name of the module when no NAME statement "
                   "gives one (an existing member is then replaced)");
    app.add_option("--blksize", blksize, "the block size of the SYSLMOD data set (0: no limit)")
        ->capture_default_str();
    app.add_option("--trace", trace, "trace level of the file operations on standard error: 0 to 4")
        ->check(CLI::Range(0, 4))
        ->capture_default_str();
    app.add_flag("--json", json,
                 "print the return code and the messages as JSON on standard output");
    app.add_option("syslin", syslin, "the SYSLIN files: object decks and control statements");

    std::vector<std::string> raw(argv + 1, argv + argc), expanded, words;
    std::string error;
    if (!expand(raw, expanded, 0, error) || !normalize(expanded, words, error)) {
        std::fprintf(stderr, "vrl: %s (see vrl --help)\n", error.c_str());
        return kUsageError;
    }
    try {
        std::vector<std::string> reversed(words.rbegin(), words.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vrl: %s (see vrl --help)\n", e.what());
        return kUsageError;
    }
    (void)asa;

    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, trace, nullptr, kFamily, kVersion, onTrace, nullptr);
    if (const char* problem = pszVrlSetConversion(); problem != nullptr) {
        std::fprintf(stderr, "vrl: %s (check CODEPAGE_ASCII and CODEPAGE_EBCDIC)\n", problem);
        return kUsageError;
    }

    Messages messages;
    messages.json = json;
    StdoutListing listing, terminal;
    std::string sysprintPath = sysprint ? *sysprint : "";
    bool copyListing = false;
    if (sysprint && *sysprint == "-") {
        if (!listing.create(error)) {
            std::fprintf(stderr, "vrl: cannot create a temporary file for the listing: %s\n",
                         error.c_str());
            return kUsageError;
        }
        sysprintPath = listing.path();
        copyListing = true;
    }
    std::string systermPath = systerm == "-" ? "<stderr>" : systerm;
    if (json && !systermPath.empty()) {
        if (!terminal.create(error)) {
            std::fprintf(stderr, "vrl: cannot create a temporary file for the messages: %s\n",
                         error.c_str());
            return kUsageError;
        }
        systermPath = terminal.path();
    }
    std::vector<const char*> lin, lib;
    for (const std::string& s : syslin) lin.push_back(s.c_str());
    lin.push_back(nullptr);
    for (const std::string& s : syslib) lib.push_back(s.c_str());
    lib.push_back(nullptr);
    const unsigned printFlags = printAppend && !copyListing ? LINKEDIT_DD_APPEND : 0;
    const unsigned termFlags = split ? LINKEDIT_DD_SPLIT : 0;
    int reserved = 0;
    std::fflush(stdout);
    int rc = iLinkEdit(0, parm ? parm->c_str() : nullptr, lin.data(), "SYSLIN", lib.data(),
                       "SYSLIB", member ? member->c_str() : nullptr,
                       syslmod ? syslmod->c_str() : nullptr, "SYSLMOD", sysprintPath.c_str(),
                       "SYSPRINT", systermPath.c_str(), "SYSTERM", nullptr, nullptr, onMessage,
                       &messages, &reserved, blksize, printFlags, termFlags);
    if (copyListing && !listing.copyTo(stdout)) {
        std::fprintf(stderr, "vrl: cannot write the listing to standard output: %s\n",
                     std::strerror(errno));
        if (rc < 12) rc = 12;
    }
    if (json) {
        nlohmann::json out = {
            {"returnCode", rc}, {"messages", messages.lines}, {"operator", messages.operatorLines}};
        if (!systermPath.empty())
            for (const std::string& line : terminal.lines()) out["messages"].push_back(line);
        std::printf("%s\n", out.dump(2).c_str());
    }
    std::fflush(stdout);
    return rc;
}
