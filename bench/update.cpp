// The update utility against plain copies of the same bytes, in one run:
//  - renumbering a sequential data set of 1,000,000 text records (CHANGE with NUMBER
//    SEQ1=ALL) against copying the file with read() and write(), both into a new file and
//    both over an existing one;
//  - copying a folder of 10,000 members (one REPRO per member) against copying each file with
//    open(), read(), write() and close().
// Prints the time of both, the ratio and the goal (within 3 times the plain copy).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "ufxcore.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRecords = 1000000;
constexpr size_t kMembers = 10000;
constexpr size_t kMemberRecords = 20;
constexpr double kGoal = 3.0;

// Best of several runs, in seconds; `prepare` runs untimed before each.
double measure(const std::function<void()>& prepare, const std::function<void()>& run,
               int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        prepare();
        const auto t0 = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

void writeFile(const fs::path& p, const std::string& data) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr || std::fwrite(data.data(), 1, data.size(), f) != data.size() ||
        std::fclose(f) != 0) {
        std::perror(p.c_str());
        std::exit(1);
    }
}

std::string records(size_t count, size_t salt) {
    std::string text;
    text.reserve(count * 81);
    char body[80], line[96];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(body, sizeof body, "         MVC   FIELD%05zu(8),SOURCE%05zu    RECORD %zu",
                      i % 100000, (i + salt) % 100000, i);
        std::snprintf(line, sizeof line, "%-72.72s%08zu\n", body, (i + 1) * 10 % 100000000);
        text += line;
    }
    return text;
}

// Copies a file with read() and write() through a 64 KiB buffer.
void plainCopy(const char* from, const char* to) {
    const int in = ::open(from, O_RDONLY);
    const int out = ::open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) std::abort();
    static std::vector<char> buffer(1 << 16);
    ssize_t n;
    while ((n = ::read(in, buffer.data(), buffer.size())) > 0)
        if (::write(out, buffer.data(), static_cast<size_t>(n)) != n) std::abort();
    ::close(in);
    if (::close(out) != 0) std::abort();
}

int runUtility(const fs::path& sysin, const fs::path& sysprint, const std::string& ut1,
               const std::string& ut2) {
    unsigned page = 1, reserved = 0;
    return iUpdateUtility("", sysin.c_str(), "SYSIN", sysprint.c_str(), "SYSPRINT", ut1.c_str(),
                          "SYSUT1", ut2.c_str(), "SYSUT2", nullptr, nullptr, &page, &reserved, 0, 0,
                          0);
}

void print(const char* what, double ours, double plain) {
    const double ratio = ours / plain;
    std::printf("%-34s ufx %7.3f s   plain copy %7.3f s   ratio %5.2fx (goal within %.0fx)%s\n",
                what, ours, plain, ratio, kGoal, ratio <= kGoal ? "" : "   ABOVE GOAL");
}

} // namespace

int main() {
    ::setenv("CODEPAGE_ASCII", "819", 1);
    ::setenv("CODEPAGE_EBCDIC", "1047", 1);
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (const char* problem = pszUfxSetConversion()) {
        std::fprintf(stderr, "%s\n", problem);
        return 1;
    }
    std::string base = (fs::temp_directory_path() / "ufxbench.XXXXXX").string();
    if (::mkdtemp(base.data()) == nullptr) return 1;
    const fs::path dir = base;

    // Renumbering a sequential data set, into a new file and over an existing one (which
    // the utility replaces by renaming its complete successor over it).
    writeFile(dir / "old.txt", records(kRecords, 7));
    writeFile(dir / "renumber", "./ CHANGE\n./ NUMBER SEQ1=ALL,NEW1=100,INCR=100\n");
    const std::string oldPath = (dir / "old.txt").string(), newPath = (dir / "new.txt").string();
    const std::string copyPath = (dir / "copy.txt").string();
    const auto fresh = [&] {
        fs::remove(newPath);
        fs::remove(copyPath);
    };
    const auto none = [] {};
    int cc = 0;
    const auto renumber = [&] {
        cc = runUtility(dir / "renumber", dir / "list", oldPath, newPath);
    };
    const auto copy = [&] { plainCopy(oldPath.c_str(), copyPath.c_str()); };
    const double ours = measure(fresh, renumber, 3);
    if (cc != 0 || fs::file_size(newPath) != fs::file_size(oldPath)) {
        std::fprintf(stderr, "the renumbering failed (condition code %d)\n", cc);
        return 1;
    }
    print("renumber 1,000,000 records", ours, measure(fresh, copy, 3));
    const double oursOver = measure(none, renumber, 3);
    print("  the same over an existing file", oursOver, measure(none, copy, 3));

    // Copying a folder of members.
    fs::create_directories(dir / "src");
    std::string deck;
    for (size_t m = 0; m < kMembers; ++m) {
        char name[16];
        std::snprintf(name, sizeof name, "M%07zu", m);
        writeFile(dir / "src" / name, records(kMemberRecords, m));
        deck += "./ REPRO NAME=" + std::string(name) + "\n";
    }
    writeFile(dir / "copy", deck);
    const auto emptyTarget = [&] {
        fs::remove_all(dir / "dst");
        fs::create_directories(dir / "dst");
    };
    const double oursCopy = measure(
        emptyTarget,
        [&] {
            cc = runUtility(dir / "copy", dir / "list", (dir / "src/&M").string(),
                            (dir / "dst/&M").string());
        },
        3);
    if (cc != 0 || std::distance(fs::directory_iterator(dir / "dst"), fs::directory_iterator()) !=
                       static_cast<long>(kMembers)) {
        std::fprintf(stderr, "the folder copy failed (condition code %d)\n", cc);
        return 1;
    }
    // The plain copy goes through the members in the same order as the deck.
    const double plainCopyTime = measure(
        emptyTarget,
        [&] {
            char name[16];
            for (size_t m = 0; m < kMembers; ++m) {
                std::snprintf(name, sizeof name, "M%07zu", m);
                plainCopy((dir / "src" / name).c_str(), (dir / "dst" / name).c_str());
            }
        },
        3);
    print("copy a folder of 10,000 members", oursCopy, plainCopyTime);

    fs::remove_all(dir);
    return 0;
}
