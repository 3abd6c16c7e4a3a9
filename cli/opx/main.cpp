// opx: the command-line front end of the transmit-file extractor.
//
//   opx info FILE          what the file carries: origin, and every data set
//   opx list FILE [N]      the members of partitioned data set N (default: the first)
//
// Both take --json for scripts and --trace N for the library's trace level.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "opxcore.h"

namespace {

using nlohmann::json;

const char* kindName(int kind) {
    switch (kind) {
    case XMIT_KIND_MESSAGE: return "message";
    case XMIT_KIND_SEQUENTIAL: return "sequential";
    case XMIT_KIND_PARTITIONED: return "partitioned";
    case XMIT_KIND_PDSE: return "PDSE (not supported)";
    default: return "not supported";
    }
}

const char* kindKey(int kind) {
    switch (kind) {
    case XMIT_KIND_MESSAGE: return "message";
    case XMIT_KIND_SEQUENTIAL: return "sequential";
    case XMIT_KIND_PARTITIONED: return "partitioned";
    case XMIT_KIND_PDSE: return "pdse";
    default: return "unsupported";
    }
}

void printLine(const char* line) { std::fputs(line, stderr); }
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
    pszOpxDllConnect(&status, &record, trace, nullptr, "Quorin Toolbench", "3.0.07", printLine, fatalLine);
    if (const char* m = pszOpxSetConversion()) {
        std::fprintf(stderr, "opx: %s\n", m);
        std::fprintf(stderr, "opx: set CODEPAGE_ASCII and CODEPAGE_EBCDIC to a compatible pair (cpconv --list)\n");
        return false;
    }
    return true;
}

std::string trimRight(const char* s) {
    std::string t(s);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

std::string column(const std::string& line, size_t from, size_t to) {
    if (line.size() <= from) return std::string();
    std::string part = line.substr(from, to - from + 1);
    while (!part.empty() && part.back() == ' ') part.pop_back();
    size_t start = part.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : part.substr(start);
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
        std::printf("Origin:   node %s, user %s, time %s\n", h->originNode, h->originUser, h->originTime);
    }
    const char* openMessage = h->message;
    for (uint32_t i = 0; i < h->fileCount && h->dataSets != nullptr; ++i) {
        XmitDataSet* ds = &h->dataSets[i];
        if (ds->fileNumber == 0) break; // not reached before the reader stopped
        json d = {{"number", ds->fileNumber},  {"kind", kindKey(ds->kind)},   {"dsname", ds->dsname},
                  {"member", ds->member},      {"recfm", ds->recfmLetters},   {"lrecl", ds->lrecl},
                  {"blksize", ds->blksize},    {"encrypted", ds->encrypted != 0}};
        long members = -1;
        std::string dirError;
        if (ds->kind == XMIT_KIND_PARTITIONED && openMessage == nullptr) {
            if (XmitDataSet* loaded = pxhXmitFileLoadDir(h, ds->fileNumber)) members = loaded->entryCount;
            else dirError = h->message ? h->message : "";
        }
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
        std::printf("  LRECL:         %s\n", ds->lrecl >= 0 ? std::to_string(ds->lrecl).c_str() : "-");
        std::printf("  BLKSIZE:       %s\n", ds->blksize >= 0 ? std::to_string(ds->blksize).c_str() : "-");
        std::printf("  Encrypted:     %s\n", ds->encrypted ? "yes" : "no");
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
            if (h->dataSets[i].kind == XMIT_KIND_PARTITIONED || h->dataSets[i].kind == XMIT_KIND_PDSE) {
                number = i + 1;
                break;
            }
        if (number == 0) {
            std::fprintf(stderr, "opx: %s: no partitioned data set in the file (opx info shows what it holds)\n",
                         path.c_str());
            return 1;
        }
    }
    XmitDataSet* ds = pxhXmitFileLoadDir(h, number);
    if (ds == nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), h->message ? h->message : "no directory");
        return 1;
    }
    const bool load = ds->loadLibrary != 0;
    json members = json::array();
    if (!asJson) {
        std::printf(load ? "Member    Alias of  Size    Entry   AMODE  RMODE  AC  ------Attributes-------\n"
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
        // The display line has fixed columns; the typed fields are read from them.
        json m = {{"name", column(text, 0, 7)}};
        const std::string alias = column(text, 10, 17);
        m["aliasOf"] = alias.empty() ? json(nullptr) : json(alias);
        if (load) {
            if (text.size() > 18) {
                m["size"] = std::stoul(column(text, 20, 25), nullptr, 16);
                m["entryPoint"] = std::stoul(column(text, 28, 33), nullptr, 16);
                m["amode"] = column(text, 37, 39);
                m["rmode"] = column(text, 44, 46);
                const std::string ac = column(text, 49, 51);
                m["authorizationCode"] = ac.empty() ? json(nullptr) : json(std::stoul(ac));
                json attrs = json::array();
                for (size_t col = 54; col + 1 < text.size() + 1 && col <= 75; col += 3) {
                    std::string a = column(text, col, col + 1);
                    if (!a.empty()) attrs.push_back(a);
                }
                m["attributes"] = attrs;
            } else {
                m["programObject"] = true;
            }
        } else if (text.size() > 18) {
            m["version"] = std::stoul(column(text, 20, 22));
            m["modification"] = std::stoul(column(text, 24, 26));
            const std::string created = column(text, 29, 38), changed = column(text, 41, 50);
            m["created"] = created.empty() ? json(nullptr) : json(created);
            m["changed"] = changed.empty() ? json(nullptr) : json(changed);
            m["changedTime"] = column(text, 52, 56);
            const std::string user = column(text, 59, 66);
            m["user"] = user.empty() ? json(nullptr) : json(user);
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

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reads TSO TRANSMIT files: what they carry, and the members of their partitioned data sets.\n"
                 "Code pages come from CODEPAGE_ASCII (default 819) and CODEPAGE_EBCDIC (default 1047).",
                 "opx"};
    app.require_subcommand(1);
    int trace = 0;
    bool asJson = false;
    app.add_option("--trace", trace, "trace level of the library: 1 errors, 2 opens, 3 calls, 4 data dumps")
        ->check(CLI::Range(0, 4));
    app.add_flag("--json", asJson, "print JSON instead of text");

    std::string path;
    unsigned number = 0;
    CLI::App* infoCmd = app.add_subcommand("info", "describe the file and every data set in it");
    infoCmd->add_option("FILE", path, "the transmit file")->required();
    infoCmd->add_flag("--json", asJson, "print JSON instead of text");
    CLI::App* listCmd = app.add_subcommand("list", "list the members of a partitioned data set");
    listCmd->add_option("FILE", path, "the transmit file")->required();
    listCmd->add_option("N", number, "the data set's number (opx info shows them); default: the first partitioned one");
    listCmd->add_flag("--json", asJson, "print JSON instead of text");
    CLI11_PARSE(app, argc, argv);

    if (!connectLibrary(trace)) return 2;
    if (*infoCmd) return info(path, asJson);
    return list(path, number, asJson);
}
