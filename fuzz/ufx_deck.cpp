// Fuzz target for the update utility: a SYSIN deck run against a small folder of members.
//
// The first byte chooses the data sets (partitioned or sequential SYSUT1 and SYSUT2, PARM NEW,
// binary records, DISP=MOD, lower-case member files, listing file or callback) and whether the
// rest is taken as raw SYSIN bytes or as a program that builds a deck from statements,
// parameters, continuations, sequence fields and stray lines. After every run the work folder
// must hold only what the run may write there: members with member names, the sequential
// outputs, the listing, and no temporary file left behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "ufxcore.h"

namespace fs = std::filesystem;

namespace {

fs::path g_root; // holds only "work"
fs::path g_work;

void write(const fs::path& p, const std::string& data) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::string card(const std::string& text, unsigned seq) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%-72.72s%08u", text.c_str(), seq);
    return buffer;
}

// A fresh work folder: members A, B, C in "pds" (text) and A in "bin" (EBCDIC records), a
// sequential "seq.txt" and an empty "out".
void reset(bool lower) {
    std::error_code ec;
    fs::remove_all(g_work, ec);
    fs::create_directories(g_work / "pds");
    fs::create_directories(g_work / "out");
    fs::create_directories(g_work / "bin");
    std::string text;
    for (unsigned n = 10; n <= 60; n += 10) text += card("RECORD " + std::to_string(n), n) + "\n";
    for (const char* m : {"A", "B", "C"})
        write(g_work / "pds" / (lower ? std::string(1, char(m[0] + 32)) : m), text);
    write(g_work / "seq.txt", text);
    std::string bin;
    for (unsigned n = 10; n <= 30; n += 10) {
        std::string c = card("REC", n);
        for (char& ch : c)
            ch = ch == ' ' ? '\x40' : ch >= '0' && ch <= '9' ? char(0xF0 + ch - '0') : '\xC1';
        bin += c;
    }
    write(g_work / "bin" / (lower ? "a" : "A"), bin);
}

bool memberName(const std::string& n, bool lower) {
    if (n.empty() || n.size() > 8 || (n[0] >= '0' && n[0] <= '9')) return false;
    for (char c : n) {
        const bool letter = lower ? (c >= 'a' && c <= 'z') : (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '$' && c != '#' && c != '@' && c != '{')
            return false;
    }
    return true;
}

// Everything under the root must be what a run may leave there.
void check(bool lower) {
    for (const auto& e : fs::directory_iterator(g_root))
        if (e.path() != g_work) {
            std::fprintf(stderr, "written outside the work folder: %s\n", e.path().c_str());
            std::abort();
        }
    for (const auto& e : fs::directory_iterator(g_work)) {
        const std::string name = e.path().filename();
        if (name == "pds" || name == "out" || name == "bin") {
            for (const auto& m : fs::directory_iterator(e.path()))
                if (!m.is_regular_file() || !memberName(m.path().filename(), lower)) {
                    std::fprintf(stderr, "unexpected member file: %s\n", m.path().c_str());
                    std::abort();
                }
        } else if (name != "seq.txt" && name != "out.txt" && name != "sysin" &&
                   name != "sysprint") {
            std::fprintf(stderr, "unexpected file: %s\n", e.path().c_str());
            std::abort();
        }
    }
}

struct Bytes {
    const uint8_t* p;
    size_t n;
    bool more() const { return n > 0; }
    uint8_t next() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
};

const char* const kOperations[] = {"ADD",    "CHANGE", "REPL", "REPRO", "ENDUP",
                                   "NUMBER", "DELETE", "add",  "ALIAS", ""};
const char* const kFunctionParameters[] = {
    "NAME=A",        "NAME=B",     "NAME=C",           "NAME=D",
    "NAME=0000TEMP", "MEMBER=A",   "MEMBER=E",         "LIST=ALL",
    "NEW=PO",        "NEW=PS",     "UPDATE=INPLACE",   "COLUMN=10",
    "COLUMN=1",      "SEQFLD=738", "SEQFLD=(738,773)", "SEQFLD=(756,773)",
    "SEQFLD=715",    "LEVEL=0A",   "SSI=0000ABCD",     "SOURCE=1",
    "NAME=(A,B)",    "NAME=A)",    "NAME=../X",        "NAME=$#@",
    "NAME=",         "LIST",       "NAME=A,",
};

// A deck built from the bytes: statements with parameters, continued statements, data records
// with and without sequence numbers, and raw lines.
std::string buildDeck(Bytes in) {
    std::vector<std::string> lines;
    while (in.more()) {
        const uint8_t op = in.next();
        switch (op % 8) {
        case 0:
        case 1: { // a statement with up to 3 parameters
            std::string s = "./ ";
            s += kOperations[in.next() % (sizeof kOperations / sizeof *kOperations)];
            const int count = in.next() % 4;
            for (int i = 0; i < count; ++i) {
                s += i == 0 ? " " : ",";
                if (op & 0x10) {
                    static const char* const kDetail[] = {"SEQ1=", "SEQ2=", "NEW1=", "INCR="};
                    s += kDetail[in.next() % 4];
                    s += std::to_string(in.next() * 10u);
                } else if (op & 0x20) {
                    s += (in.next() & 1) ? "SEQ1=ALL" : "INSERT=YES";
                } else {
                    s += kFunctionParameters[in.next() % (sizeof kFunctionParameters /
                                                          sizeof *kFunctionParameters)];
                }
            }
            lines.push_back(s);
            break;
        }
        case 2: // a data record under a sequence number
            lines.push_back(card("DATA " + std::to_string(op), in.next() * 5u));
            break;
        case 3: // a data record with a blank sequence field
            lines.push_back("DATA " + std::to_string(in.next()));
            break;
        case 4: { // continue the last statement at one of its commas
            if (lines.empty() || lines.back().rfind("./", 0) != 0) break;
            std::string last = lines.back();
            const size_t comma = last.find(',', in.next() % (last.size() + 1));
            if (comma == std::string::npos) break;
            std::string first = last.substr(0, comma + 1);
            first.resize(71, ' ');
            first += 'X';
            lines.back() = first;
            lines.push_back("./             " + last.substr(comma + 1));
            break;
        }
        case 5: { // a raw line
            const size_t length = in.next() % 100;
            std::string s;
            for (size_t i = 0; i < length && in.more(); ++i) s += static_cast<char>(in.next());
            lines.push_back(s);
            break;
        }
        case 6: { // a record with bytes in its sequence field and column 72
            std::string s(72, ' ');
            s[71] = static_cast<char>(in.next());
            for (int i = 0; i < 8; ++i) s += static_cast<char>(in.next());
            lines.push_back(s);
            break;
        }
        default:
            lines.push_back("./ ENDUP");
            break;
        }
    }
    std::string deck;
    for (const auto& l : lines) deck += l + "\n";
    return deck;
}

void ignore(void*, int, const char*) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string root = std::string(base) + "/ufxfuzz.XXXXXX";
    if (::mkdtemp(root.data()) == nullptr) std::abort();
    g_root = root;
    g_work = g_root / "work";
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    });
    ::setenv("CODEPAGE_ASCII", "819", 1);
    ::setenv("CODEPAGE_EBCDIC", "1047", 1);
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (pszUfxSetConversion() != nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t config = data[0];
    const bool lower = (config & 0x40) != 0;
    reset(lower);
    const std::string member = lower ? "&m" : "&M";
    const std::string pds = (g_work / "pds" / member).string(),
                      out = (g_work / "out" / member).string();
    const std::string bin = (g_work / "bin" / member).string(), seq = (g_work / "seq.txt").string();
    const std::string outSeq = (g_work / "out.txt").string();
    const char* parm = "";
    const char* ut1 = nullptr;
    const char* ut2 = nullptr;
    unsigned ut1Flags = 0;
    switch (config & 7) {
    case 0:
        ut1 = pds.c_str();
        ut2 = pds.c_str();
        break;
    case 1:
        ut1 = pds.c_str();
        ut2 = out.c_str();
        break;
    case 2:
        ut1 = seq.c_str();
        ut2 = outSeq.c_str();
        break;
    case 3:
        parm = "NEW";
        ut2 = out.c_str();
        break;
    case 4:
        parm = "NEW";
        ut2 = outSeq.c_str();
        break;
    case 5:
        ut1 = pds.c_str();
        ut2 = outSeq.c_str();
        break;
    case 6:
        ut1 = seq.c_str();
        ut2 = out.c_str();
        break;
    default:
        ut1 = bin.c_str();
        ut1Flags = UPDATE_DD_BINARY;
        break;
    }
    const unsigned ut2Flags =
        ((config & 0x08) ? UPDATE_DD_BINARY : 0) | ((config & 0x20) ? UPDATE_DD_APPEND : 0);
    Bytes rest{data + 1, size - 1};
    const std::string deck = (config & 0x80)
                                 ? buildDeck(rest)
                                 : std::string(reinterpret_cast<const char*>(rest.p), rest.n);
    const std::string sysin = (g_work / "sysin").string();
    write(sysin, deck);
    const std::string sysprint = (config & 0x10) ? "<stdout>" : (g_work / "sysprint").string();
    unsigned page = 1, reserved = 0;
    const int cc =
        iUpdateUtility(parm, sysin.c_str(), "SYSIN", sysprint.c_str(), "SYSPRINT", ut1, "SYSUT1",
                       ut2, "SYSUT2", ignore, nullptr, &page, &reserved, 0, ut1Flags, ut2Flags);
    if (cc != 0 && cc != 12) std::abort();
    check(lower);
    return 0;
}
