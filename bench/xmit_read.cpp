// Reading a large partitioned transmit file member by member, record by record, against
// reading the same file with plain fread in 64 KiB blocks, in one run. The file (about 1 GiB,
// 20,000 members of FB 80 records by default) is made with the tests' transmit-file writer.
//
//   bench_xmit_read [MEMBERS [RECORDS_PER_MEMBER [FILE]]]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "large_pds.h"
#include "opxcore.h"
#include "reader.h"

namespace {

using Clock = std::chrono::steady_clock;

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double plainRead(const std::string& path, uint64_t* checksum) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) std::exit(1);
    std::vector<uint8_t> buffer(65536);
    auto t0 = Clock::now();
    uint64_t sum = 0;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) sum += buffer[n - 1];
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::fclose(f);
    *checksum = sum;
    return s;
}

double memberRead(const std::string& path, uint64_t* records, uint64_t* bytes) {
    auto t0 = Clock::now();
    XmitHandle* h = pXmitFileOpen(path.c_str());
    if (h->message) {
        std::fprintf(stderr, "open: %s\n", h->message);
        std::exit(1);
    }
    uint64_t n = 0, b = 0;
    readEveryMember(h, &n, &b);
    vXmitFileClose(h);
    *records = n;
    *bytes = b;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const size_t members = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const size_t perMember = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 670;
    const std::string path =
        argc > 3 ? argv[3]
                 : (std::filesystem::temp_directory_path() / "bench_xmit_read.xmit").string();

    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);

    // Make the file, one member at a time: records are generated as they are written.
    if (!makeLargePds(path, members, perMember)) {
        std::perror(path.c_str());
        return 1;
    }
    const uint64_t size = std::filesystem::file_size(path);
    std::printf("%s: %.1f MiB, %zu members of %zu FB 80 records\n", path.c_str(), size / 1048576.0,
                members, perMember);

    uint64_t checksum = 0, records = 0, bytes = 0;
    plainRead(path, &checksum); // bring the file into the page cache
    const long rssBefore = peakRssKiB();
    double plain = 1e30, reader = 1e30;
    for (int i = 0; i < 3; ++i) {
        plain = std::min(plain, plainRead(path, &checksum));
        reader = std::min(reader, memberRead(path, &records, &bytes));
    }
    const long rssAfter = peakRssKiB();
    const double mb = size / 1e6;
    std::printf("plain fread 64 KiB   %8.0f MB/s\n", mb / plain);
    std::printf("member records       %8.0f MB/s  (%llu records, %llu data bytes)\n", mb / reader,
                static_cast<unsigned long long>(records), static_cast<unsigned long long>(bytes));
    std::printf("ratio                %8.2fx slower (goal: within 2x)\n", reader / plain);
    std::printf("peak memory          %ld KiB before reading, %ld KiB after\n", rssBefore,
                rssAfter);
    if (argc <= 3) std::filesystem::remove(path);
    const bool ok = records == static_cast<uint64_t>(members) * perMember;
    if (!ok) std::printf("WRONG RECORD COUNT\n");
    return ok ? 0 : 1;
}
