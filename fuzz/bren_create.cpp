// Fuzz target for iBrenCreate on arbitrary member files: the first bytes choose the record
// format, attributes, device, input kind and the number of members; the rest is cut into the
// member files (or one sequential input). A build that reports success must give a file that
// the extractor opens without a message, with every member read back without an error.
//
//   byte 0     record format (F FB V VB VBS U and a few invalid ones) and, in bit 4, sequential
//   byte 1     input kind (text, records) in bit 0; members 1-8 in bits 1-3; device in bits 4-6
//   bytes 2-5  LRECL and BLKSIZE (2 bytes each)
//   then       per member a 2-byte length and that many bytes
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "brencore.h"
#include "opxcore.h"
#include "reader.h"

namespace {

void ignore(const char*) {}

char folderPath[256];

const std::string& folder() {
    static const std::string dir = [] {
        // In memory when the system has a place for it: every run writes a few files.
        std::string tmpl = std::filesystem::is_directory("/dev/shm")
                               ? "/dev/shm/fuzz_bren_create.XXXXXX"
                               : "/tmp/fuzz_bren_create.XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) std::abort();
        std::filesystem::create_directory(tmpl + "/m");
        // Removed at exit (the path is kept in plain storage, which outlives the string).
        std::snprintf(folderPath, sizeof folderPath, "%s", tmpl.c_str());
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folderPath, ec);
        });
        return tmpl;
    }();
    return dir;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// Reads back what a successful build wrote; aborts when the file does not read.
void checkBuilt(const std::string& path, bool partitioned) {
    XmitHandle* h = pXmitFileOpen(path.c_str());
    if (h->message != nullptr) {
        std::fprintf(stderr, "built file does not open: %s\n", h->message);
        std::abort();
    }
    if (partitioned) {
        XmitDataSet* ds = pxhXmitFileLoadDir(h, h->fileCount);
        if (ds == nullptr) {
            std::fprintf(stderr, "built directory does not load: %s\n", h->message);
            std::abort();
        }
        std::vector<uint8_t> assembly(65536);
        MemberCursor c;
        if (!opx::startMembers(h, ds, &c, assembly.data(), static_cast<uint32_t>(assembly.size())))
            std::abort();
        for (unsigned m = 0; m < ds->entryCount; ++m) {
            int st;
            while ((st = opx::readMemberRecord(h, ds, &c)) == MEMBER_RECORD) {
            }
            if (st != MEMBER_END) {
                std::fprintf(stderr, "built member %u does not read: %s\n", m,
                             h->message ? h->message : "");
                std::abort();
            }
        }
    }
    vXmitFileClose(h);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        int status;
        ConnectionRecord* record;
        pszBrenDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", ignore,
                          nullptr);
        return true;
    }();
    (void)ready;
    if (size < 6) return 0;
    static const char* const kRecfm[] = {"F",  "FB", "V",  "VB",  "VBS", "U",   "FBA", "VBM",
                                         "FS", "VS", "UA", "FBX", "",    "VBA", "FBM", "V"};
    static const char* const kDevice[] = {"3390", "3380", "3330", "3340",
                                          "3350", "3375", "9345", ""};
    const bool sequential = (data[0] & 0x10) != 0;
    const unsigned members = sequential ? 1 : 1 + ((data[1] >> 1) & 7);
    const std::string dir = folder();
    size_t at = 6;
    std::vector<std::string> names;
    for (unsigned i = 0; i < members; ++i) {
        size_t length = 0;
        if (at + 2 <= size) {
            length =
                std::min<size_t>(static_cast<size_t>(data[at] << 8 | data[at + 1]), size - at - 2);
            at += 2;
        }
        const std::string name =
            std::string(1, static_cast<char>('A' + i)) + "M" + std::to_string(i);
        writeFile(dir + "/m/" + name + ".dat", data + std::min(at, size),
                  std::min(length, size - std::min(at, size)));
        at += length;
        names.push_back(name);
    }
    const std::string out = dir + "/out.xmi";
    const std::string input = sequential ? dir + "/m/" + names[0] + ".dat" : dir + "/m/&M.dat";
    BuildRequest r{};
    r.transmitFile = out.c_str();
    r.input.text = input.c_str();
    vCheckPattern(&r.input);
    std::snprintf(r.recfm, sizeof r.recfm, "%s", kRecfm[data[0] & 15]);
    std::snprintf(r.device, sizeof r.device, "%s", kDevice[(data[1] >> 4) & 7]);
    std::snprintf(r.dsname, sizeof r.dsname, "FUZZ.DATA");
    r.inputKind = (data[1] & 1) ? INPUT_RECORDS : INPUT_TEXT;
    r.lrecl = static_cast<uint32_t>(data[2] << 8 | data[3]);
    r.blksize = static_cast<uint32_t>(data[4] << 8 | data[5]);
    r.tabOption = 8;
    std::vector<std::array<char, sizeof(MemberName)>> list(members);
    if (!sequential) {
        // The list in reverse: the builder puts it in EBCDIC order itself.
        for (unsigned i = 0; i < members; ++i)
            std::snprintf(list[i].data(), sizeof(MemberName), "%s", names[members - 1 - i].c_str());
        r.members = reinterpret_cast<MemberName*>(list.data());
        r.memberCount = members;
        r.minimumDirectoryBlocks = uComputeDirBlocks(&r, nullptr);
        r.directoryBlocks = r.minimumDirectoryBlocks + (data[1] >> 7);
    }
    std::filesystem::remove(out);
    if (iBrenCreate(&r) == 0)
        checkBuilt(out, !sequential);
    else if (std::filesystem::exists(out)) {
        std::fprintf(stderr, "a failed build left its file: %s\n", r.message);
        std::abort();
    }
    // No temporary file is left behind, whatever the outcome.
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().find(".bren") != std::string::npos) {
            std::fprintf(stderr, "a temporary file was left: %s\n", e.path().c_str());
            std::abort();
        }
    return 0;
}
