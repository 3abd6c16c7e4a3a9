// Extracting the large partitioned benchmark file (about 1 GiB, 20,000 members of FB 80) as
// text, as text or binary as each member's content decides (auto), and as IBM records into a
// temporary folder, against copying the same file with plain 64 KiB reads and writes, in one
// run. Auto costs what deciding costs over text (goal: at most 10%).
//
//   bench_extract [MEMBERS [RECORDS_PER_MEMBER]]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "extract.h"
#include "large_pds.h"
#include "opxcore.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double plainCopy(const std::string& from, const std::string& to) {
    auto t0 = Clock::now();
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (in == nullptr || out == nullptr) std::exit(1);
    std::vector<char> buffer(65536);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        std::fwrite(buffer.data(), 1, n, out);
    std::fclose(in);
    std::fclose(out);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    fs::remove(to);
    return s;
}

// The same bytes copied into `files` files of equal size: what creating that many files costs
// on this file system, without any extraction work.
double plainCopyIntoFiles(const std::string& from, const std::string& folder, size_t files) {
    fs::create_directories(folder);
    auto t0 = Clock::now();
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) std::exit(1);
    const uint64_t each = fs::file_size(from) / files + 1;
    std::vector<char> buffer(65536);
    for (size_t f = 0; f < files; ++f) {
        std::FILE* out = std::fopen((folder + "/M" + std::to_string(f)).c_str(), "wb");
        if (out == nullptr) std::exit(1);
        uint64_t left = each;
        size_t n;
        while (left > 0 && (n = std::fread(buffer.data(), 1,
                                           std::min<uint64_t>(buffer.size(), left), in)) > 0) {
            std::fwrite(buffer.data(), 1, n, out);
            left -= n;
        }
        std::fclose(out);
    }
    std::fclose(in);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    fs::remove_all(folder);
    return s;
}

double extract(const std::string& file, int type, const std::string& folder, unsigned long* records,
               opx::ExtractExtras::Mode mode = opx::ExtractExtras::Mode::AsRequested) {
    opx::ExtractExtras extras;
    extras.mode = mode;
    fs::create_directories(folder);
    auto t0 = Clock::now();
    XmitHandle* h = pXmitFileOpen(file.c_str());
    const std::string pattern = folder + "/&M";
    ExtractBlock req{};
    req.type = type;
    req.target = pattern.c_str();
    req.dataSet = 1;
    int r = opx::extractStep(EXTRACT_GO, h, &req, extras);
    while (r != EXTRACT_RESULT_DONE) r = opx::extractStep(EXTRACT_GO, h, &req, extras);
    if (req.severity != 0) {
        std::fprintf(stderr, "extraction failed: %s\n", req.message ? req.message : "?");
        std::exit(1);
    }
    opx::extractStep(EXTRACT_STOP, h, &req, extras);
    *records = req.recordsWritten;
    vXmitFileClose(h);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    fs::remove_all(folder);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const size_t members = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const size_t perMember = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 670;
    const fs::path work = fs::temp_directory_path() / ("bench_extract." + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string file = (work / "large.xmit").string();
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (!makeLargePds(file, members, perMember)) return 1;
    const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
    std::printf("%s: %.0f MB, %zu members of %zu FB 80 records\n", file.c_str(), mb, members,
                perMember);

    plainCopy(file, (work / "warm").string()); // the file in the page cache, the disk warmed up
    const long rssBefore = peakRssKiB();
    unsigned long textRecords = 0, ibmRecords = 0, autoRecords = 0;
    double copy = 1e30, copyFiles = 1e30, text = 1e30, ibm = 1e30, autoText = 1e30;
    for (int i = 0; i < 2; ++i) {
        copy = std::min(copy, plainCopy(file, (work / "copy").string()));
        copyFiles =
            std::min(copyFiles, plainCopyIntoFiles(file, (work / "files").string(), members));
        // Text and auto take turns at going first, so that neither always meets the file
        // system's write-back of the other's files.
        for (int k = 0; k < 2; ++k) {
            if ((i + k) % 2 == 0)
                text = std::min(text, extract(file, EXTRACT_TYPE_TEXT, (work / "text").string(),
                                              &textRecords));
            else
                autoText =
                    std::min(autoText, extract(file, EXTRACT_TYPE_TEXT, (work / "auto").string(),
                                               &autoRecords, opx::ExtractExtras::Mode::Auto));
        }
        ibm = std::min(ibm, extract(file, EXTRACT_TYPE_IBM, (work / "ibm").string(), &ibmRecords));
    }
    const long rssAfter = peakRssKiB();
    std::printf("plain copy, one file         %8.0f MB/s\n", mb / copy);
    std::printf("plain copy into %zu files %8.0f MB/s\n", members, mb / copyFiles);
    std::printf("extract as text              %8.0f MB/s  %.2fx the one-file copy's time (goal: "
                "within 3x), %.2fx the "
                "%zu-file copy's; %lu records\n",
                mb / text, text / copy, text / copyFiles, members, textRecords);
    std::printf("extract auto (text decided)  %8.0f MB/s  %.2fx the time of text (goal: at most "
                "1.10x)\n",
                mb / autoText, autoText / text);
    std::printf("extract as IBM records       %8.0f MB/s  %.2fx the one-file copy's time, %.2fx "
                "the %zu-file copy's\n",
                mb / ibm, ibm / copy, ibm / copyFiles, members);
    std::printf("peak memory           %ld KiB before extracting, %ld KiB after\n", rssBefore,
                rssAfter);
    fs::remove_all(work);
    return textRecords == members * perMember && ibmRecords == textRecords &&
                   autoRecords == textRecords
               ? 0
               : 1;
}
