// mkxmit: makes a small TSO TRANSMIT file of a partitioned data set from a folder of text
// files, for the demo and for trying the tools out. Each file becomes a member (its name
// without extension, upper case) of fixed 80-byte records with ISPF statistics.
//
//   mkxmit OUT.xmit DSNAME FOLDER [--alias MEMBER=ALIAS]... [--message FILE]
//
// It uses the tests' transmit-file writer; the builder of the toolkit is `bren`.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "xmit_writer.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(
            stderr,
            "usage: mkxmit OUT.xmit DSNAME FOLDER [--alias MEMBER=ALIAS]... [--message FILE]\n");
        return 2;
    }
    const std::string out = argv[1];
    xmitw::Pds pds;
    pds.dsname = argv[2];
    pds.blksize = 3120;
    std::map<std::string, std::vector<std::string>> aliases;
    std::vector<std::string> message;
    bool haveMessage = false;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--alias" && value.find('=') != std::string::npos) {
            aliases[value.substr(0, value.find('='))].push_back(value.substr(value.find('=') + 1));
        } else if (option == "--message") {
            std::ifstream in(value);
            for (std::string line; std::getline(in, line);) message.push_back(line);
            haveMessage = true;
        } else {
            std::fprintf(stderr, "mkxmit: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(argv[3]))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    uint8_t version = 1;
    for (const fs::path& f : files) {
        xmitw::Member m;
        m.name = f.stem().string().substr(0, 8);
        for (char& c : m.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::ifstream in(f);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            line.resize(80, ' ');
            m.records.push_back(xmitw::ebcdic(line));
        }
        // Fixed statistics, so that the demo's output is the same every time.
        m.stats = xmitw::IspfStats{version++, 3, 126020, 126341, 0x14, 0x27, "DEMOUSER", false};
        m.aliases = aliases[m.name];
        pds.members.push_back(std::move(m));
    }
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (f == nullptr) {
        std::perror(out.c_str());
        return 1;
    }
    xmitw::Sink sink(f);
    xmitw::SegmentWriter w(sink);
    xmitw::Origin origin{"DEMONODE", "DEMOUSER", "20261208120000"};
    xmitw::pdsTransmit(
        pds, [&](const xmitw::Bytes& r, bool control) { w.record(r, control); }, origin,
        haveMessage ? &message : nullptr);
    w.finish();
    return std::fclose(f) == 0 ? 0 : 1;
}
