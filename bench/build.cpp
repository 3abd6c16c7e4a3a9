// Building transmit files against copying the same bytes with plain reads and writes, in one
// run: a partitioned data set of 10,000 members of 666 FB 80 records (about 0.5 GiB) from text
// members and from stored records, and a sequential data set of about 1 GiB from text.
//
//   bench_build [MEMBERS [RECORDS_PER_MEMBER [SEQUENTIAL_MIB [FOLDER]]]]
//
// The inputs are made in a temporary folder (or FOLDER) and removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "brencore.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Copies the files' bytes into one output file with 64 KiB reads and writes; returns seconds.
double plainCopy(const std::vector<std::string>& inputs, const std::string& output) {
    const auto t0 = Clock::now();
    std::FILE* out = std::fopen(output.c_str(), "wb");
    if (out == nullptr) std::exit(1);
    std::vector<char> buffer(65536);
    for (const std::string& in : inputs) {
        std::FILE* f = std::fopen(in.c_str(), "rb");
        if (f == nullptr) std::exit(1);
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0)
            std::fwrite(buffer.data(), 1, n, out);
        std::fclose(f);
    }
    std::fclose(out);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Builds a transmit file; returns seconds (exits on failure).
double build(const std::string& output, const std::string& input, uint32_t kind,
             const std::vector<std::string>& members) {
    const auto t0 = Clock::now();
    BuildRequest r{};
    r.transmitFile = output.c_str();
    r.input.text = input.c_str();
    vCheckPattern(&r.input);
    std::snprintf(r.recfm, sizeof r.recfm, "FB");
    r.lrecl = 80;
    r.blksize = 27920;
    r.inputKind = kind;
    std::snprintf(r.device, sizeof r.device, "3390");
    std::snprintf(r.dsname, sizeof r.dsname, "BENCH.DATA");
    std::vector<char> names(members.size() * sizeof(MemberName));
    if (!members.empty()) {
        for (size_t i = 0; i < members.size(); ++i)
            std::snprintf(&names[i * sizeof(MemberName)], sizeof(MemberName), "%s",
                          members[i].c_str());
        r.members = reinterpret_cast<MemberName*>(names.data());
        r.memberCount = static_cast<uint32_t>(members.size());
        r.minimumDirectoryBlocks = r.directoryBlocks = uComputeDirBlocks(&r, nullptr);
    }
    if (iBrenCreate(&r) != 0) {
        std::fprintf(stderr, "build failed: %s\n", r.message);
        std::exit(1);
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Result {
    double plain = 1e30, built = 1e30;
};

// The better of two runs each, alternating so that both see the same cache state.
Result measure(const std::vector<std::string>& inputs, const std::string& pattern, uint32_t kind,
               const std::vector<std::string>& members, const std::string& folder) {
    Result r;
    for (int i = 0; i < 2; ++i) {
        r.plain = std::min(r.plain, plainCopy(inputs, folder + "/copy.out"));
        fs::remove(folder + "/copy.out");
        r.built = std::min(r.built, build(folder + "/built.xmi", pattern, kind, members));
        fs::remove(folder + "/built.xmi");
    }
    return r;
}

void report(const char* what, uint64_t bytes, const Result& r) {
    const double mb = bytes / 1e6;
    std::printf("%-34s plain copy %7.0f MB/s   build %7.0f MB/s   ratio %5.2fx (goal: within 3x)\n",
                what, mb / r.plain, mb / r.built, r.built / r.plain);
}

} // namespace

int main(int argc, char** argv) {
    const size_t members = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    const size_t perMember = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 666;
    const size_t sequentialMiB = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1024;
    std::string folder =
        argc > 4 ? argv[4] : (fs::temp_directory_path() / "bench_build.XXXXXX").string();
    if (argc <= 4 && mkdtemp(folder.data()) == nullptr) return 1;
    fs::create_directories(folder + "/text");
    fs::create_directories(folder + "/records");

    int status;
    ConnectionRecord* record;
    pszBrenDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (const char* m = pszBrenSetConversion()) {
        std::fprintf(stderr, "%s\n", m);
        return 1;
    }

    // The members: 80-column text lines, and the same lines as EBCDIC FB 80 records.
    std::vector<std::string> names, textFiles, recordFiles;
    uint64_t textBytes = 0, recordBytes = 0;
    {
        std::string text, records;
        char line[96];
        for (size_t m = 0; m < members; ++m) {
            char name[16];
            std::snprintf(name, sizeof name, "M%07zu", m);
            names.push_back(name);
            text.clear();
            records.clear();
            for (size_t i = 0; i < perMember; ++i) {
                std::snprintf(line, sizeof line, "%-80.80s",
                              ("MEMBER " + std::to_string(m) + " RECORD " + std::to_string(i) +
                               " OF A BENCHMARK")
                                  .c_str());
                text.append(line, 80);
                text += '\n';
                for (int k = 0; k < 80; ++k) records += static_cast<char>(0x40 + (line[k] & 0x3F));
            }
            textFiles.push_back(folder + "/text/" + name + ".txt");
            recordFiles.push_back(folder + "/records/" + name + ".bin");
            for (auto [path, data] :
                 {std::pair{&textFiles.back(), &text}, std::pair{&recordFiles.back(), &records}}) {
                std::FILE* f = std::fopen(path->c_str(), "wb");
                std::fwrite(data->data(), 1, data->size(), f);
                std::fclose(f);
            }
            textBytes += text.size();
            recordBytes += records.size();
        }
        // The sequential input: text lines up to the size asked for.
        std::FILE* f = std::fopen((folder + "/sequential.txt").c_str(), "wb");
        const uint64_t target = uint64_t(sequentialMiB) << 20;
        for (uint64_t written = 0, i = 0; written < target; ++i) {
            std::snprintf(line, sizeof line, "%-80.80s",
                          ("SEQUENTIAL RECORD " + std::to_string(i)).c_str());
            line[80] = '\n';
            std::fwrite(line, 1, 81, f);
            written += 81;
        }
        std::fclose(f);
    }
    const uint64_t sequentialBytes = fs::file_size(folder + "/sequential.txt");
    std::printf("%zu members of %zu FB 80 records: %.1f MiB of text, %.1f MiB of records; "
                "sequential %.1f MiB of "
                "text\n",
                members, perMember, textBytes / 1048576.0, recordBytes / 1048576.0,
                sequentialBytes / 1048576.0);

    const Result text = measure(textFiles, folder + "/text/&M.txt", INPUT_TEXT, names, folder);
    report("partitioned from text members", textBytes, text);
    const Result records =
        measure(recordFiles, folder + "/records/&M.bin", INPUT_RECORDS, names, folder);
    report("partitioned from stored records", recordBytes, records);
    const Result sequential =
        measure({folder + "/sequential.txt"}, folder + "/sequential.txt", INPUT_TEXT, {}, folder);
    report("sequential from text", sequentialBytes, sequential);

    fs::remove_all(folder);
    const bool ok = text.built < 3 * text.plain && records.built < 3 * records.plain &&
                    sequential.built < 3 * sequential.plain;
    if (!ok) std::printf("NOT WITHIN 3x OF THE PLAIN COPY\n");
    return 0;
}
