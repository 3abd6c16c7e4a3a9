// The linkage editor on generated object modules, against reading the same files plainly, in
// one run. For N from 1,000 to 10,000: SYSLIN holds N object modules, each a section with a
// V-type constant to the next one, an A-type constant to the one before and a V-type constant
// to a library routine; SYSLIB is a folder of N members, each a routine that calls the next
// routine. Every routine arrives by automatic call, so 2N object modules are linked into one
// module. Prints the time, the time per object module, the ratio to the plain read and how
// the time grows from the smallest N (the goal: close to linear).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "vrlcore.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Code page 1047 for the upper-case letters and digits of the generated names.
char ebcdic(char c) {
    if (c >= '0' && c <= '9') return static_cast<char>(0xF0 + (c - '0'));
    if (c >= 'A' && c <= 'I') return static_cast<char>(0xC1 + (c - 'A'));
    if (c >= 'J' && c <= 'R') return static_cast<char>(0xD1 + (c - 'J'));
    if (c >= 'S' && c <= 'Z') return static_cast<char>(0xE2 + (c - 'S'));
    return '\x40';
}

std::string card(const char* type) {
    std::string c(80, '\x40');
    c[0] = '\x02';
    for (int i = 0; i < 3; ++i) c[1 + i] = ebcdic(type[i]);
    return c;
}

void put(std::string& c, size_t at, unsigned value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        c[at + static_cast<size_t>(i)] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
}

std::string item(const std::string& name, int type, unsigned length) {
    std::string it(16, '\x40');
    for (size_t i = 0; i < name.size(); ++i) it[i] = ebcdic(name[i]);
    it[8] = static_cast<char>(type);
    put(it, 9, 0, 3);
    if (type == 0) {
        it[12] = 0;
        put(it, 13, length, 3);
    }
    return it;
}

// One object module: section `name` (16 bytes) with V(call) at 0, A(back) at 4, V(lib) at 8.
std::string deck(const std::string& name, const std::string& call, const std::string& back,
                 const std::string& lib) {
    std::vector<std::string> refs;
    for (const std::string& r : {call, back, lib})
        if (!r.empty() && std::find(refs.begin(), refs.end(), r) == refs.end()) refs.push_back(r);
    std::string out;
    std::string esd = card("ESD");
    std::vector<std::string> items{item(name, 0, 16)};
    for (const std::string& r : refs) items.push_back(item(r, 2, 0));
    for (size_t at = 0; at < items.size(); at += 3) {
        std::string c = card("ESD");
        const size_t n = std::min<size_t>(3, items.size() - at);
        put(c, 10, static_cast<unsigned>(n * 16), 2);
        put(c, 14, static_cast<unsigned>(at + 1), 2);
        for (size_t k = 0; k < n; ++k) c.replace(16 + 16 * k, 16, items[at + k]);
        out += c;
    }
    std::string txt = card("TXT");
    put(txt, 5, 0, 3);
    put(txt, 10, 16, 2);
    put(txt, 14, 1, 2);
    txt.replace(16, 16, std::string(16, '\0'));
    out += txt;
    std::string rld = card("RLD");
    std::string data;
    auto entry = [&](const std::string& target, unsigned flags, unsigned address) {
        if (target.empty()) return;
        const auto at = std::find(refs.begin(), refs.end(), target);
        const unsigned id = static_cast<unsigned>(at - refs.begin()) + 2;
        std::string e(8, '\0');
        put(e, 0, id, 2);
        put(e, 2, 1, 2);
        e[4] = static_cast<char>(flags);
        put(e, 5, address, 3);
        data += e;
    };
    entry(call, 0x1C, 0);
    entry(back, 0x0C, 4);
    entry(lib, 0x1C, 8);
    if (!data.empty()) {
        put(rld, 10, static_cast<unsigned>(data.size()), 2);
        rld.replace(16, data.size(), data);
        out += rld;
    }
    out += card("END");
    return out;
}

std::string name(char prefix, size_t i) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%c%06u", prefix, static_cast<unsigned>(i % 1000000));
    return buffer;
}

void writeFile(const fs::path& p, const std::string& data) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr || std::fwrite(data.data(), 1, data.size(), f) != data.size() ||
        std::fclose(f) != 0) {
        std::perror(p.c_str());
        std::exit(1);
    }
}

void ignore(void*, int, const char*) {}

// Reads every input file with open(), read() and close(): the floor of any link.
double plainRead(const fs::path& dir, size_t n) {
    const auto t0 = Clock::now();
    std::vector<char> buffer(1 << 16);
    auto slurp = [&](const fs::path& p) {
        const int fd = ::open(p.c_str(), O_RDONLY);
        if (fd < 0) std::abort();
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    };
    slurp(dir / "main.obj");
    for (size_t i = 0; i < n; ++i) slurp(dir / "lib" / name('L', i));
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double link(const fs::path& dir) {
    const std::string syslin = (dir / "main.obj").string();
    const std::string syslib = (dir / "lib/&M").string();
    const std::string syslmod = (dir / "load/&M").string();
    const char* lin[] = {syslin.c_str(), nullptr};
    const char* lib[] = {syslib.c_str(), nullptr};
    int status = 0;
    const auto t0 = Clock::now();
    const int rc =
        iLinkEdit(0, "LET=4", lin, "SYSLIN", lib, "SYSLIB", "BIG", syslmod.c_str(), "SYSLMOD", "",
                  "SYSPRINT", "", "SYSTERM", nullptr, nullptr, ignore, nullptr, &status, 0, 0, 0);
    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
    if (rc > 4) {
        std::fprintf(stderr, "link failed with return code %d\n", rc);
        std::exit(1);
    }
    return t;
}

} // namespace

int main() {
    ::setenv("CODEPAGE_ASCII", "819", 1);
    ::setenv("CODEPAGE_EBCDIC", "1047", 1);
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (pszVrlSetConversion() != nullptr) return 1;

    std::string tmpl = (fs::temp_directory_path() / "benchlink.XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return 1;
    const fs::path root = tmpl;
    std::printf("%8s %10s %12s %10s %8s %8s\n", "modules", "link s", "us/module", "read s", "ratio",
                "growth");
    double first = 0, firstN = 0;
    for (size_t n : {1000, 2000, 5000, 10000}) {
        const fs::path dir = root / std::to_string(n);
        fs::create_directories(dir / "lib");
        fs::create_directories(dir / "load");
        std::string main;
        for (size_t i = 0; i < n; ++i)
            main += deck(name('S', i), i + 1 < n ? name('S', i + 1) : "",
                         i > 0 ? name('S', i - 1) : "", name('L', i));
        writeFile(dir / "main.obj", main);
        for (size_t i = 0; i < n; ++i)
            writeFile(dir / "lib" / name('L', i),
                      deck(name('L', i), name('L', (i * 7 + 1) % n), "", ""));
        // Best of three, each on a fresh SYSLMOD.
        double best = 1e30, read = 1e30;
        for (int k = 0; k < 3; ++k) {
            fs::remove_all(dir / "load");
            fs::create_directories(dir / "load");
            read = std::min(read, plainRead(dir, n));
            best = std::min(best, link(dir));
        }
        // The module holds every section: 2N of 16 bytes (header bytes 116-119).
        std::FILE* saved = std::fopen((dir / "load/BIG").c_str(), "rb");
        unsigned char header[120] = {};
        if (saved == nullptr || std::fread(header, 1, sizeof header, saved) != sizeof header) {
            std::fprintf(stderr, "the module was not saved\n");
            return 1;
        }
        std::fclose(saved);
        const unsigned long size = static_cast<unsigned long>(header[116]) << 24 |
                                   static_cast<unsigned long>(header[117]) << 16 |
                                   static_cast<unsigned long>(header[118]) << 8 | header[119];
        if (size != 2 * n * 16) {
            std::fprintf(stderr, "module size %lu, expected %zu\n", size, 2 * n * 16);
            return 1;
        }
        const double modules = static_cast<double>(2 * n);
        if (first == 0) {
            first = best;
            firstN = modules;
        }
        std::printf("%8zu %10.3f %12.1f %10.3f %8.1f %8.2f\n", 2 * n, best, best / modules * 1e6,
                    read, best / read, (best / first) / (modules / firstN));
    }
    std::printf("growth: time relative to the first size, divided by the size relative to it "
                "(1.00 is linear)\n");
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
