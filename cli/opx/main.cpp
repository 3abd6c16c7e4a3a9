// opx: the command-line front end of the transmit-file extractor.
//
//   opx info FILE          what the file carries: origin, and every data set
//   opx list FILE [N]      the members of partitioned data set N (default: the first)
//
// Both take --json for scripts and --trace N for the library's trace level.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "codepage_warning.h"
#include "extract.h"
#include "opxcore.h"
#include "reader.h"

namespace {

using nlohmann::json;

const char* kindName(int kind) {
    switch (kind) {
    case XMIT_KIND_MESSAGE:
        return "message";
    case XMIT_KIND_SEQUENTIAL:
        return "sequential";
    case XMIT_KIND_PARTITIONED:
        return "partitioned";
    case XMIT_KIND_PDSE:
        return "partitioned (PDSE)";
    default:
        return "not supported";
    }
}

const char* kindKey(int kind) {
    switch (kind) {
    case XMIT_KIND_MESSAGE:
        return "message";
    case XMIT_KIND_SEQUENTIAL:
        return "sequential";
    case XMIT_KIND_PARTITIONED:
        return "partitioned";
    case XMIT_KIND_PDSE:
        return "pdse";
    default:
        return "unsupported";
    }
}

void printLine(const char* line) {
    std::fputs(line, stderr);
}
void fatalLine(const char*) {} // the library writes the text to standard error itself

struct Handle {
    XmitHandle* h = nullptr;
    ~Handle() { vXmitFileClose(h); }
};

// Connects with the family and version the library expects and sets the code pages from
// CODEPAGE_ASCII / CODEPAGE_EBCDIC. Returns false after printing the error.
bool connectLibrary(int trace) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszOpxDllConnect(&status, &record, trace, nullptr, "Quorin Toolbench", "3.0.07", printLine,
                     fatalLine);
    cli::warnIgnoredCodePages("opx");
    if (const char* m = pszOpxSetConversion()) {
        std::fprintf(stderr, "opx: %s\n", m);
        std::fprintf(
            stderr,
            "opx: set CODEPAGE_ASCII and CODEPAGE_EBCDIC to a compatible pair (cpconv --list)\n");
        return false;
    }
    return true;
}

std::string trimRight(const char* s) {
    std::string t(s);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

// The file a sequential data set or a message is written to when -o names no file: its data
// set name, else the transmit file's name without its extension (with ".msg" for a message).
std::string defaultFileName(const std::string& transmitFile, const XmitDataSet& ds) {
    if (ds.dsname[0] != '\0') return ds.dsname;
    const std::filesystem::path p(transmitFile);
    std::string name = p.stem().string();
    if (name.empty() || name == "." || name == "..") name = "data";
    if (ds.kind == XMIT_KIND_MESSAGE) return name + ".msg";
    // Never the transmit file itself (a name without an extension).
    if (name == p.filename().string()) name += ".data";
    return name;
}

int info(const std::string& path, bool asJson) {
    Handle file;
    file.h = pXmitFileOpen(path.c_str());
    XmitHandle* h = file.h;
    json doc;
    if (h->message != nullptr && h->fileCount == 0) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), h->message);
        return 1;
    }
    doc["file"] = path;
    doc["origin"] = {{"node", h->originNode}, {"user", h->originUser}, {"time", h->originTime}};
    doc["dataSets"] = json::array();
    if (!asJson) {
        std::printf("File:     %s\n", path.c_str());
        std::printf("Origin:   node %s, user %s, time %s\n", h->originNode, h->originUser,
                    h->originTime);
    }
    const char* openMessage = h->message;
    for (uint32_t i = 0; i < h->fileCount && h->dataSets != nullptr; ++i) {
        XmitDataSet* ds = &h->dataSets[i];
        if (ds->fileNumber == 0) break; // not reached before the reader stopped
        json d = {{"number", ds->fileNumber},  {"kind", kindKey(ds->kind)},
                  {"dsname", ds->dsname},      {"member", ds->member},
                  {"recfm", ds->recfmLetters}, {"lrecl", ds->lrecl},
                  {"blksize", ds->blksize},    {"encrypted", ds->encrypted != 0}};
        long members = -1;
        std::string dirError;
        if ((ds->kind == XMIT_KIND_PARTITIONED || ds->kind == XMIT_KIND_PDSE) &&
            openMessage == nullptr) {
            if (XmitDataSet* loaded = opx::loadDirectory(h, ds->fileNumber, true))
                members = loaded->entryCount;
            else
                dirError = h->message ? h->message : "";
        }
        const bool sequential = ds->kind == XMIT_KIND_SEQUENTIAL || ds->kind == XMIT_KIND_MESSAGE;
        if (sequential) d["target"] = defaultFileName(path, *ds);
        d["loadLibrary"] = ds->loadLibrary != 0;
        d["members"] = members >= 0 ? json(members) : json(nullptr);
        if (!dirError.empty()) d["error"] = dirError;
        if (ds->kind == XMIT_KIND_MESSAGE) d["message"] = ds->messageText ? ds->messageText : "";
        doc["dataSets"].push_back(d);
        if (asJson) continue;
        std::printf("\nData set %u: %s\n", ds->fileNumber, kindName(ds->kind));
        if (ds->dsname[0]) std::printf("  Name:          %s\n", ds->dsname);
        if (ds->member[0]) std::printf("  Member:        %s\n", ds->member);
        std::printf("  RECFM:         %s\n", ds->recfmLetters[0] ? ds->recfmLetters : "-");
        std::printf("  LRECL:         %s\n",
                    ds->lrecl >= 0 ? std::to_string(ds->lrecl).c_str() : "-");
        std::printf("  BLKSIZE:       %s\n",
                    ds->blksize >= 0 ? std::to_string(ds->blksize).c_str() : "-");
        std::printf("  Encrypted:     %s\n", ds->encrypted ? "yes" : "no");
        if (sequential) std::printf("  Extracts to:   %s\n", defaultFileName(path, *ds).c_str());
        if (ds->kind == XMIT_KIND_PARTITIONED || ds->kind == XMIT_KIND_PDSE) {
            std::printf("  Load library:  %s\n", ds->loadLibrary ? "yes" : "no");
            if (members >= 0) std::printf("  Members:       %ld\n", members);
            if (!dirError.empty()) std::printf("  Directory:     %s\n", dirError.c_str());
        }
        if (ds->kind == XMIT_KIND_MESSAGE) {
            std::printf("  Message:\n");
            const char* text = ds->messageText ? ds->messageText : "";
            for (const char* p = text; *p;) {
                const char* nl = std::strchr(p, '\n');
                std::printf("    %.*s\n", static_cast<int>(nl ? nl - p : std::strlen(p)), p);
                p = nl ? nl + 1 : p + std::strlen(p);
            }
        }
    }
    if (openMessage != nullptr) doc["error"] = openMessage;
    if (asJson) std::printf("%s\n", doc.dump(2).c_str());
    if (openMessage != nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), openMessage);
        return 1;
    }
    return 0;
}

int list(const std::string& path, unsigned number, bool asJson) {
    Handle file;
    file.h = pXmitFileOpen(path.c_str());
    XmitHandle* h = file.h;
    if (h->message != nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), h->message);
        return 1;
    }
    if (number == 0) {
        for (uint32_t i = 0; i < h->fileCount; ++i)
            if (h->dataSets[i].kind == XMIT_KIND_PARTITIONED ||
                h->dataSets[i].kind == XMIT_KIND_PDSE) {
                number = i + 1;
                break;
            }
        if (number == 0) {
            std::fprintf(
                stderr,
                "opx: %s: no partitioned data set in the file (opx info shows what it holds)\n",
                path.c_str());
            return 1;
        }
    }
    XmitDataSet* ds = opx::loadDirectory(h, number, true);
    if (ds == nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(),
                     h->message ? h->message : "no directory");
        return 1;
    }
    const bool load = ds->loadLibrary != 0;
    json members = json::array();
    if (!asJson) {
        std::printf(
            load ? "Member    Alias of  Size    Entry   AMODE  RMODE  AC  ------Attributes-------\n"
                 : "Member    Alias of  Ver.Mod  -Created--  --Last Changed--  User\n");
    }
    char line[128];
    for (uint32_t i = 0; i < ds->entryCount; ++i) {
        vXmitFileFormatDe(ds, i, line, sizeof line);
        const std::string text = trimRight(line);
        if (!asJson) {
            std::printf("%s\n", text.c_str());
            continue;
        }
        // The typed fields come from the decoded entry, not from the display line's columns.
        const opx::DecodedEntry d = opx::decodeEntry(ds, i);
        json m = {{"name", trimRight(d.name)}};
        m["aliasOf"] = !d.alias          ? json(nullptr)
                       : d.aliasResolved ? json(trimRight(d.aliasOf))
                                         : json("????????");
        if (load) {
            const DirectoryEntryInfo& info = d.module;
            if (info.flags & DE_PROGRAM_OBJECT) {
                m["programObject"] = true;
            } else {
                m["size"] = info.moduleSize;
                m["entryPoint"] = info.entryPoint;
                m["amode"] = opx::amodeName(info.flags);
                m["rmode"] = (info.flags & DE_RMODE_ANY) ? "ANY" : "24";
                m["authorizationCode"] =
                    (info.flags & DE_APF) ? json(info.flags & 0xFF) : json(nullptr);
                json attrs = json::array();
                for (const opx::ModuleAttribute& a : opx::kModuleAttributes)
                    if (info.flags & a.flag) attrs.push_back(a.text);
                if (info.flags & DE_NOT_EDITABLE)
                    attrs.push_back("NE");
                else if (info.flags & DE_NOT_EXECUTABLE)
                    attrs.push_back("NX");
                m["attributes"] = attrs;
            }
        } else if (d.statistics) {
            m["version"] = d.version;
            m["modification"] = d.modification;
            const std::string created = trimRight(d.created), changed = trimRight(d.changed);
            m["created"] = created.empty() ? json(nullptr) : json(created);
            m["changed"] = changed.empty() ? json(nullptr) : json(changed);
            char time[8];
            std::snprintf(time, sizeof time, "%.2X:%.2X", d.hour, d.minute);
            m["changedTime"] = time;
            m["lines"] = {{"current", d.currentLines},
                          {"initial", d.initialLines},
                          {"modified", d.modifiedLines}};
            m["user"] = d.user[0] != '\0' ? json(trimRight(d.user)) : json(nullptr);
        }
        members.push_back(m);
    }
    if (asJson) {
        json doc = {{"file", path},
                    {"dataSet", number},
                    {"dsname", ds->dsname},
                    {"loadLibrary", load},
                    {"hasAliases", ds->hasAliases != 0},
                    {"members", members}};
        std::printf("%s\n", doc.dump(2).c_str());
    }
    return 0;
}

// ---- extract ----------------------------------------------------------------------------------

struct ExtractOptions {
    std::string path;
    std::vector<std::string> positional; // [N] [MEMBER...]
    std::string output;
    std::string type = "text";
    std::string lineEnd = "native";
    int tabs = 0;
    bool strip = false;
    unsigned lrecl = 0;
    unsigned blksize = 0;
    std::string format = "fixed";
    std::string pad;
    bool translate = false, blocked = false, spanned = false, truncate = false;
    std::string replace = "never";
    bool json = false;
};

bool isNumber(const std::string& s) {
    return !s.empty() && s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isDirectory(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int lookup(const std::string& value, std::initializer_list<std::pair<const char*, int>> table,
           const char* what) {
    for (const auto& [name, v] : table)
        if (value == name) return v;
    std::fprintf(stderr, "opx: unknown %s '%s' (see opx extract --help)\n", what, value.c_str());
    return -1;
}

// Asks on the terminal whether to replace a file: y yes, n no, a all, q quit.
char askReplace(const char* file) {
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) return 'n';
    std::fprintf(tty, "\r\033[K%s exists. Replace it? [y]es, [n]o, [a]ll, [q]uit: ", file);
    std::fflush(tty);
    char answer = 'n';
    char buffer[32];
    if (std::fgets(buffer, sizeof buffer, tty) != nullptr)
        answer = static_cast<char>(std::tolower(static_cast<unsigned char>(buffer[0])));
    std::fclose(tty);
    return answer;
}

int extract(const ExtractOptions& o) {
    Handle file;
    file.h = pXmitFileOpen(o.path.c_str());
    XmitHandle* h = file.h;
    if (h->message != nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", o.path.c_str(), h->message);
        return 1;
    }
    unsigned number = 0;
    size_t firstMember = 0;
    if (!o.positional.empty() && isNumber(o.positional[0])) {
        number = static_cast<unsigned>(std::stoul(o.positional[0]));
        firstMember = 1;
    }
    if (number == 0) {
        // The first data set that is not a message, else the first one.
        for (uint32_t i = 0; i < h->fileCount && number == 0; ++i)
            if (h->dataSets[i].kind != XMIT_KIND_MESSAGE) number = i + 1;
        if (number == 0) number = 1;
    }
    if (number > h->fileCount) {
        std::fprintf(stderr, "opx: %s: data set %u was not transmitted (opx info shows them)\n",
                     o.path.c_str(), number);
        return 12;
    }
    const XmitDataSet& ds = h->dataSets[number - 1];
    const bool partitioned = ds.kind == XMIT_KIND_PARTITIONED || ds.kind == XMIT_KIND_PDSE;

    ExtractBlock req{};
    std::vector<std::string> members(o.positional.begin() + static_cast<long>(firstMember),
                                     o.positional.end());
    std::vector<const char*> names;
    for (const auto& m : members) names.push_back(m.c_str());
    if (!names.empty()) {
        req.memberNames = names.data();
        req.memberCount = static_cast<uint32_t>(names.size());
    }
    // The target: a pattern with &M or &m for members, a file for a sequential data set; a
    // folder means every file goes into it.
    std::string target = o.output;
    if (target.empty()) target = ".";
    // For members, a target without "&M" or "&m" in its last part is a folder, made when it
    // does not exist yet; for a sequential data set it is the file.
    const size_t lastSlash = target.find_last_of('/');
    const std::string lastPart =
        lastSlash == std::string::npos ? target : target.substr(lastSlash + 1);
    const bool pattern =
        lastPart.find("&M") != std::string::npos || lastPart.find("&m") != std::string::npos;
    if (partitioned && !pattern && !isDirectory(target) && std::filesystem::exists(target)) {
        std::fprintf(stderr,
                     "opx: %s is a file: for the members of a partitioned data set, -o names a "
                     "folder or a pattern with &M or &m (such as out/&m.txt)\n",
                     target.c_str());
        return 12;
    }
    if (isDirectory(target) || target.back() == '/' || (partitioned && !pattern)) {
        if (target.back() != '/') target += '/';
        if (partitioned) {
            target += "&M";
        } else {
            target += defaultFileName(o.path, ds);
        }
    }
    // The folder the files go into is made when it does not exist yet.
    if (const size_t slash = target.rfind('/'); slash != std::string::npos && slash > 0) {
        std::error_code ec;
        std::filesystem::create_directories(target.substr(0, slash), ec);
        if (ec) {
            std::fprintf(stderr, "opx: cannot make the folder %s: %s\n",
                         target.substr(0, slash).c_str(), ec.message().c_str());
            return 12;
        }
    }
    req.target = target.c_str();
    req.dataSet = number;
    req.type = lookup(o.type,
                      {{"text", 0},
                       {"dump", 1},
                       {"prefix", 2},
                       {"ibm", 3},
                       {"convert", 4},
                       {"delink", 5},
                       {"relink", 6}},
                      "type");
    req.lineEnd = lookup(o.lineEnd, {{"native", 0}, {"cr", 1}, {"lf", 2}, {"crlf", 3}}, "line end");
    req.format =
        lookup(o.format,
               {{"fixed", 0}, {"bytes", 1}, {"len2", 2}, {"len2i", 3}, {"rdw", 4}, {"variable", 5}},
               "format");
    if (req.type < 0 || req.lineEnd < 0 || req.format < 0) return 2;
    req.tabWidth = static_cast<uint8_t>(o.tabs);
    req.lrecl = o.lrecl;
    // Records of undefined format are blocks: their length is bounded by the block size, not by
    // the LRECL (which some writers set to a value of their own).
    if (req.lrecl == 0 && ds.recfmLetters[0] == 'U' && ds.blksize > 0 &&
        req.type == EXTRACT_TYPE_CONVERT)
        req.lrecl = static_cast<uint32_t>(ds.blksize);
    req.blockSize = o.blksize;
    req.padCharacter = 0x40;
    if (!o.pad.empty()) {
        // The pad character is an EBCDIC byte: two hexadecimal digits, or a name.
        if (o.pad == "blank")
            req.padCharacter = 0x40;
        else if (o.pad == "zero")
            req.padCharacter = 0xF0;
        else if (o.pad == "null")
            req.padCharacter = 0x00;
        else if (o.pad.size() == 2 && std::isxdigit(static_cast<unsigned char>(o.pad[0])) &&
                 std::isxdigit(static_cast<unsigned char>(o.pad[1])))
            req.padCharacter = static_cast<uint8_t>(std::stoul(o.pad, nullptr, 16));
        else {
            std::fprintf(
                stderr,
                "opx: --pad takes two hexadecimal digits (an EBCDIC byte), blank, zero or null\n");
            return 2;
        }
    }
    if (o.strip) req.options |= EXTRACT_STRIP;
    if (o.translate) req.options |= EXTRACT_TRANSLATE;
    if (o.blocked) req.options |= EXTRACT_BLOCKED;
    if (o.spanned) req.options |= EXTRACT_SPANNED;
    if (o.truncate) req.options |= EXTRACT_TRUNCATE;

    const bool progress = !o.json && isatty(STDERR_FILENO);
    std::string replace = o.replace;
    if (replace == "ask" && !isatty(STDIN_FILENO)) replace = "never";
    json results = json::array();
    auto report = [&](const char* what, const std::string& name, const std::string& target2,
                      long records, const char* why) {
        if (progress) std::fprintf(stderr, "\r\033[K");
        if (o.json) {
            json j = {{"result", what}, {"member", name}, {"file", target2}};
            if (records >= 0) j["records"] = records;
            if (why) j["reason"] = why;
            results.push_back(j);
            return;
        }
        if (records >= 0)
            std::printf("%-8s %s (%ld records)\n", what, target2.c_str(), records);
        else if (why)
            std::printf("%-8s %s%s%s: %s\n", what, name.c_str(), name.empty() ? "" : " ",
                        target2.c_str(), why);
        else
            std::printf("%-8s %s\n", what, target2.c_str());
    };

    int result = opx::extractStep(EXTRACT_GO, h, &req, opx::ExtractExtras{true});
    bool replaceAll = replace == "always";
    std::string pending;
    bool pendingNew = false;
    unsigned long done = 0;
    while (result != EXTRACT_RESULT_DONE) {
        int function = EXTRACT_GO;
        switch (result) {
        case EXTRACT_RESULT_NEW:
        case EXTRACT_RESULT_EXISTS: {
            pending = req.fileName ? req.fileName : "";
            pendingNew = result == EXTRACT_RESULT_NEW;
            if (progress) std::fprintf(stderr, "\r\033[K[%lu] %s", done + 1, req.memberName);
            if (result == EXTRACT_RESULT_EXISTS && !replaceAll) {
                char answer = replace == "ask" ? askReplace(pending.c_str()) : 'n';
                if (answer == 'a') replaceAll = true;
                if (answer == 'q') {
                    function = EXTRACT_STOP;
                    break;
                }
                if (answer != 'y' && answer != 'a') {
                    report("skipped", req.memberName, pending, -1, "exists");
                    function = EXTRACT_SKIP;
                }
            }
            if (function == EXTRACT_GO && !partitioned) {
                // A sequential data set is written by this call and the request ends.
                const uint32_t before = req.filesCreated + req.filesReplaced;
                result = opx::extractStep(EXTRACT_GO, h, &req, opx::ExtractExtras{true});
                if (req.filesCreated + req.filesReplaced > before)
                    report(pendingNew ? "created" : "replaced", "", pending,
                           static_cast<long>(req.recordsWritten), nullptr);
                continue;
            }
            break;
        }
        case EXTRACT_RESULT_WRITTEN:
            ++done;
            report(pendingNew ? "created" : "replaced", req.memberName, pending,
                   static_cast<long>(req.recordsWritten), nullptr);
            break;
        case EXTRACT_RESULT_NOT_WRITTEN:
            report("not written", req.memberName, "", -1, req.message ? req.message : "");
            break;
        default:
            break;
        }
        if (function == EXTRACT_STOP) break;
        result = opx::extractStep(function, h, &req, opx::ExtractExtras{true});
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
    const int severity = req.severity;
    const std::string message = req.message ? req.message : "";
    const std::string fileName = req.fileName ? req.fileName : "";
    opx::extractStep(EXTRACT_STOP, h, &req, opx::ExtractExtras{true});
    if (o.json) {
        json doc = {{"file", o.path},
                    {"dataSet", number},
                    {"results", results},
                    {"created", req.filesCreated},
                    {"replaced", req.filesReplaced},
                    {"skipped", req.filesSkipped},
                    {"records", req.recordsWritten},
                    {"severity", severity}};
        if (!message.empty()) doc["message"] = message;
        std::printf("%s\n", doc.dump(2).c_str());
    } else {
        std::printf("%u created, %u replaced, %u skipped, %u records\n", req.filesCreated,
                    req.filesReplaced, req.filesSkipped, req.recordsWritten);
    }
    if (!message.empty())
        std::fprintf(stderr, "opx: %s%s%s\n", message.c_str(), fileName.empty() ? "" : ": ",
                     fileName.c_str());
    return severity;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Reads TSO TRANSMIT files: what they carry, and the members of their partitioned data "
        "sets.\n"
        "Code pages come from CODEPAGE_ASCII (default 819) and CODEPAGE_EBCDIC (default 1047).",
        "opx"};
    app.require_subcommand(1);
    int trace = 0;
    bool asJson = false;
    app.add_option("--trace", trace,
                   "trace level of the library: 1 errors, 2 opens, 3 calls, 4 data dumps")
        ->check(CLI::Range(0, 4));
    app.add_flag("--json", asJson, "print JSON instead of text");

    std::string path;
    unsigned number = 0;
    CLI::App* infoCmd = app.add_subcommand("info", "describe the file and every data set in it");
    infoCmd->add_option("FILE", path, "the transmit file")->required();
    infoCmd->add_flag("--json", asJson, "print JSON instead of text");
    CLI::App* listCmd = app.add_subcommand("list", "list the members of a partitioned data set");
    listCmd->add_option("FILE", path, "the transmit file")->required();
    listCmd->add_option(
        "N", number,
        "the data set's number (opx info shows them); default: the first partitioned one");
    listCmd->add_flag("--json", asJson, "print JSON instead of text");

    ExtractOptions x;
    CLI::App* extractCmd = app.add_subcommand(
        "extract", "write a data set, or the members of a partitioned one, to files");
    extractCmd->add_option("FILE", x.path, "the transmit file")->required();
    extractCmd->add_option(
        "N_AND_MEMBERS", x.positional,
        "[N] [MEMBER...]: the data set's number (default: the first that is not a message) and the "
        "members to extract (default: all)");
    extractCmd->add_option(
        "-o,--output", x.output,
        "a file for a sequential data set; for members a folder (made when missing) or a pattern "
        "with &M (upper-case names) or &m (lower-case) in its last part, e.g. src/&m.txt "
        "(default: the current folder)");
    extractCmd->add_option("-t,--type", x.type, "text, dump, prefix, ibm or convert")
        ->capture_default_str();
    extractCmd
        ->add_option("--line-end", x.lineEnd, "text and dump line ends: native, lf, cr or crlf")
        ->capture_default_str();
    extractCmd->add_option("--tabs", x.tabs, "text: compress blanks to tabs every 4 or 8 columns")
        ->check(CLI::IsMember({0, 4, 8}));
    extractCmd->add_flag("--strip", x.strip,
                         "strip trailing blanks (text) or pad characters (records)");
    extractCmd->add_option(
        "--lrecl", x.lrecl,
        "output record or line length (default: the data set's; its block size for RECFM U)");
    extractCmd->add_option("--blksize", x.blksize, "convert: output block size");
    extractCmd
        ->add_option("--format", x.format, "convert: fixed, bytes, len2, len2i, rdw or variable")
        ->capture_default_str();
    extractCmd->add_option("--pad", x.pad,
                           "EBCDIC pad character: two hexadecimal digits, blank (40, the default), "
                           "zero (F0) or null (00)");
    extractCmd->add_flag("--translate", x.translate,
                         "convert: translate records to the workstation code page");
    extractCmd->add_flag("--blocked", x.blocked, "convert: several variable records to a block");
    extractCmd->add_flag("--spanned", x.spanned, "convert: long variable records in segments");
    extractCmd->add_flag("--truncate", x.truncate,
                         "cut records longer than the output record length silently");
    extractCmd->add_option("--replace", x.replace, "existing files: always, never or ask")
        ->check(CLI::IsMember({"always", "never", "ask"}))
        ->capture_default_str();
    extractCmd->add_flag("--json", x.json, "print the results as JSON");
    CLI11_PARSE(app, argc, argv);

    if (!connectLibrary(trace)) return 2;
    if (*infoCmd) return info(path, asJson);
    if (*extractCmd) {
        x.json = x.json || asJson;
        return extract(x);
    }
    return list(path, number, asJson);
}
