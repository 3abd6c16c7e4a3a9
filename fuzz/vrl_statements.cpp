// Fuzz target for the linkage editor's job step: the input is a SYSLIN file (control
// statements, object decks, or both) run against a small library, linked and saved. A hash of
// the input chooses the options, the load-module format and whether SYSLIN is the input itself
// or a file that includes it. After every run the work folder may hold only what a run writes
// there: the listing, the terminal file and members with member names, and no temporary file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

#include "vrlcore.h"

namespace fs = std::filesystem;

namespace {

fs::path g_root;
fs::path g_work;
char g_rootPath[256];

void write(const fs::path& p, const std::string& data) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// An object card in code page 1047 built from its fields.
std::string card(const char* type, const std::string& fields) {
    std::string c(80, '\x40');
    c[0] = '\x02';
    static const char kTypes[][4] = {"ESD", "TXT", "END"};
    static const char kEbcdic[][4] = {"\xC5\xE2\xC4", "\xE3\xE7\xE3", "\xC5\xD5\xC4"};
    for (int i = 0; i < 3; ++i)
        if (std::strcmp(type, kTypes[i]) == 0) c.replace(1, 3, kEbcdic[i], 3);
    c.replace(4, fields.size(), fields);
    return c;
}

// The library: statement members and an object deck with section OBJ (8 bytes of text).
void makeLibrary() {
    fs::create_directories(g_work / "lib");
    write(g_work / "lib/sub1.obj", " ENTRY SUB1\n");
    write(g_work / "lib/sub2.obj", " INCLUDE SYSLIB(SUB1)\n");
    write(g_work / "lib/loop.obj", " INCLUDE SYSLIB(LOOP)\n");
    std::string esd =
        std::string("\x40\x40\x40\x40\x40\x40\x00\x10\x40\x40\x00\x01", 12) +
        std::string("\xD6\xC2\xD1\x40\x40\x40\x40\x40\x00\x00\x00\x00\x00\x00\x00\x08", 16);
    std::string txt = std::string("\x40\x00\x00\x00\x40\x40\x00\x08\x40\x40\x00\x01", 12) +
                      std::string("\x07\xFE\x00\x00\x00\x00\x00\x00", 8);
    write(g_work / "lib/obj.obj", card("ESD", esd) + card("TXT", txt) + card("END", ""));
}

bool memberName(const std::string& n) {
    if (n.empty() || n.size() > 8 || (n[0] >= '0' && n[0] <= '9')) return false;
    for (char c : n)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '$' || c == '#' || c == '@'))
            return false;
    return true;
}

void check() {
    for (const auto& e : fs::directory_iterator(g_root))
        if (e.path() != g_work) {
            std::fprintf(stderr, "written outside the work folder: %s\n", e.path().c_str());
            std::abort();
        }
    for (const auto& e : fs::directory_iterator(g_work)) {
        const std::string name = e.path().filename();
        if (name == "lib") continue;
        if (name == "load") {
            for (const auto& m : fs::directory_iterator(e.path())) {
                const std::string file = m.path().filename();
                const std::string stem = file.size() > 4 && file.substr(file.size() - 4) == ".bin"
                                             ? file.substr(0, file.size() - 4)
                                             : file;
                if (!m.is_regular_file() || !memberName(stem)) {
                    std::fprintf(stderr, "unexpected member file: %s\n", m.path().c_str());
                    std::abort();
                }
            }
            continue;
        }
        if (name != "syslin" && name != "outer" && name != "list" && name != "term") {
            std::fprintf(stderr, "unexpected file: %s\n", e.path().c_str());
            std::abort();
        }
    }
}

void ignore(void*, int, const char*) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string root = std::string(base) + "/vrlfuzz.XXXXXX";
    if (::mkdtemp(root.data()) == nullptr) std::abort();
    std::snprintf(g_rootPath, sizeof g_rootPath, "%s", root.c_str());
    g_root = root;
    g_work = g_root / "work";
    fs::create_directories(g_work);
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_rootPath, ec);
    });
    makeLibrary();
    ::setenv("CODEPAGE_ASCII", "819", 1);
    ::setenv("CODEPAGE_EBCDIC", "1047", 1);
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (pszVrlSetConversion() != nullptr) std::abort();
    return 0;
}

// Code page 1047 for the lower-case letters, "/", "<" and ">".
unsigned char toEbcdic(char c) {
    if (c >= 'a' && c <= 'i') return static_cast<unsigned char>(0x81 + (c - 'a'));
    if (c >= 'j' && c <= 'r') return static_cast<unsigned char>(0x91 + (c - 'j'));
    if (c >= 's' && c <= 'z') return static_cast<unsigned char>(0xA2 + (c - 's'));
    return c == '/' ? 0x61 : c == '<' ? 0x4C : 0x6E;
}

// Whether the input names a file that never ends or blocks its reader (devices, the process
// tables, named pipes of the system, standard input), in ASCII or EBCDIC: such an INCLUDE
// would read for ever, which is the file's doing, not the linkage editor's.
bool namesEndlessFile(const uint8_t* data, size_t size) {
    static const char* const kNames[] = {"/dev",    "/proc", "/sys", "/run",
                                         "<stdin>", "/var",  "/tmp"};
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* n : kNames) {
        std::string ebcdic;
        for (const char* c = n; *c != '\0'; ++c) ebcdic += static_cast<char>(toEbcdic(*c));
        if (text.find(n) != std::string_view::npos || text.find(ebcdic) != std::string_view::npos)
            return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (namesEndlessFile(data, size)) return 0;
    // A small hash of the input chooses the options, so every seed runs as it stands.
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    // Load module formats only: their 16 MB limit bounds the module image that a run builds
    // (program objects may reach 1 GB from a few ESD cards).
    static const char* const kParms[] = {"COMPAT=LKED",
                                         "COMPAT=LKED,LIST=ALL,MAP,XREF",
                                         "COMPAT=LMF,NCAL,LET=8",
                                         "COMPAT=LKED,LIST=ALL,SCTR",
                                         "COMPAT=LMF,MAP,TEST,XREF",
                                         "COMPAT=LKED,CASE=MIXED,UPCASE,XREF",
                                         "COMPAT=LKED,MSGLEVEL=4,RMODE=SPLIT,AMODE=31",
                                         "COMPAT=LMF,STORENX,HOBSET,AMODE=MIN"};
    const char* parm = kParms[hash % 8];
    const bool lower = (hash >> 3) & 1;
    const bool included = (hash >> 4) & 1;

    std::error_code ec;
    fs::remove_all(g_work / "load", ec);
    fs::create_directories(g_work / "load");
    write(g_work / "syslin", std::string(reinterpret_cast<const char*>(data), size));
    std::string syslin = (g_work / "syslin").string();
    if (included) {
        write(g_work / "outer", " INCLUDE '" + syslin + "'\n");
        syslin = (g_work / "outer").string();
    }
    const std::string syslib = (g_work / "lib/&m.obj").string();
    const std::string syslmod = (g_work / (lower ? "load/&m.bin" : "load/&M")).string();
    const std::string list = (g_work / "list").string(), term = (g_work / "term").string();
    const char* lin[] = {syslin.c_str(), nullptr};
    const char* lib[] = {syslib.c_str(), nullptr};
    int status = 0;
    // Relative paths in INCLUDE statements stay inside the work folder during the run.
    const fs::path home = fs::current_path();
    fs::current_path(g_work);
    const int rc =
        iLinkEdit(0, parm, lin, "SYSLIN", lib, "SYSLIB", (hash >> 5) & 1 ? "prog" : nullptr,
                  syslmod.c_str(), "SYSLMOD", list.c_str(), "SYSPRINT", term.c_str(), "SYSTERM",
                  nullptr, nullptr, ignore, nullptr, &status, 0, 0, 0);
    fs::current_path(home);
    if (rc != 0 && rc != 4 && rc != 8 && rc != 12 && rc != 16) std::abort();
    check();
    return 0;
}
