// Reading a PDS unload from a tape image: every record of every member of a large unload
// (about 1 GiB with the defaults) on an AWS tape, against a plain read of the same file; and
// the same tape as HET with zlib blocks, against inflating its blocks and nothing more (what
// zcat would do with them), in one run.
//
//   bench_tape [MEMBERS [RECORDS_PER_MEMBER]]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "image.h"
#include "large_pds.h"
#include "opxcore.h"
#include "reader.h"
#include "tape_writer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A labeled tape of one file: the unload of MEMBERS members of PER_MEMBER FB 80 records,
// written as spanned records in blocks of 32760 bytes.
bool makeTape(const std::string& path, size_t members, size_t perMember, tapew::Compression c) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    xmitw::Sink sink(out);
    tapew::TapeWriter w(sink, c);
    w.block(tapew::vol1("BENCH1"));
    w.block(tapew::hdr1("HDR1", "BENCH.UNLOAD", 1));
    w.block(tapew::hdr2("HDR2", 'V', 32760, 32756, 'S'));
    w.tapeMark();
    tapew::SpannedBlocker blocker(32760, [&w](const xmitw::Bytes& b) { w.block(b); });
    const xmitw::Pds pds = largePds(members, perMember);
    xmitw::unloadRecords(pds, [&](const xmitw::Bytes& r, bool) { blocker.record(r); });
    blocker.finish();
    w.tapeMark();
    w.block(tapew::hdr1("EOF1", "BENCH.UNLOAD", 1));
    w.block(tapew::hdr2("EOF2", 'V', 32760, 32756, 'S'));
    w.tapeMark();
    w.tapeMark();
    return std::fclose(out) == 0;
}

double plainRead(const std::string& path) {
    auto t0 = Clock::now();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    std::vector<char> buffer(65536);
    size_t total = 0, n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) total += n;
    std::fclose(in);
    if (total == 0) std::exit(1);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Every block of a HET image inflated, and nothing else done with it.
double inflateBlocks(const std::string& path) {
    auto t0 = Clock::now();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    std::vector<uint8_t> data, out(1 << 20);
    uint8_t header[6];
    while (std::fread(header, 1, 6, in) == 6) {
        const size_t n = header[0] | (header[1] << 8);
        data.resize(n);
        if (n > 0 && std::fread(data.data(), 1, n, in) != n) break;
        if (header[4] & 0x01) {
            uLongf produced = out.size();
            uncompress(out.data(), &produced, data.data(), static_cast<uLong>(n));
        }
    }
    std::fclose(in);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Every record of every member, read through the tape reader and the unload code.
double readMembers(const std::string& path, uint64_t* records) {
    auto t0 = Clock::now();
    XmitHandle* h = opx::openImage(path.c_str());
    uint64_t bytes = 0;
    readEveryMember(h, records, &bytes);
    vXmitFileClose(h);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const size_t members = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const size_t perMember = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 670;
    const fs::path work = fs::temp_directory_path() / ("bench_tape." + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string aws = (work / "large.aws").string(), het = (work / "large.het").string();
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (!makeTape(aws, members, perMember, tapew::kNone) ||
        !makeTape(het, members, perMember, tapew::kZlib))
        return 1;
    const double mb = static_cast<double>(fs::file_size(aws)) / 1e6;
    const double hetMb = static_cast<double>(fs::file_size(het)) / 1e6;
    std::printf("%s: %.0f MB (HET %.0f MB), %zu members of %zu FB 80 records\n", aws.c_str(), mb,
                hetMb, members, perMember);
    plainRead(aws); // in the page cache
    double plain = 1e30, tape = 1e30, inflate = 1e30, hetTape = 1e30;
    uint64_t awsRecords = 0, hetRecords = 0;
    for (int i = 0; i < 2; ++i) {
        plain = std::min(plain, plainRead(aws));
        tape = std::min(tape, readMembers(aws, &awsRecords));
        inflate = std::min(inflate, inflateBlocks(het));
        hetTape = std::min(hetTape, readMembers(het, &hetRecords));
    }
    std::printf("plain read of the AWS image   %8.0f MB/s\n", mb / plain);
    std::printf("every member from the AWS tape %7.0f MB/s  %.2fx the plain read's time (goal: "
                "within 2x); %llu records\n",
                mb / tape, tape / plain, static_cast<unsigned long long>(awsRecords));
    std::printf("inflating the HET blocks      %8.0f MB/s of tape data\n", mb / inflate);
    std::printf("every member from the HET tape %7.0f MB/s  %.2fx the time of inflating alone\n",
                mb / hetTape, hetTape / inflate);
    fs::remove_all(work);
    const uint64_t expected = static_cast<uint64_t>(members) * perMember;
    return awsRecords == expected && hetRecords == expected ? 0 : 1;
}
