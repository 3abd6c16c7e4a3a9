// make_image_seeds: writes small tape images and bare unloads for the image fuzz target's seed
// folder (fuzz/seeds/image): labeled and unlabeled tapes, plain, zlib and bzip2, a spanned PDS
// unload, and bare unloads with and without descriptors.
//
//   make_image_seeds FOLDER
#include <cstdio>
#include <string>

#include "tape_writer.h"

namespace {

void write(const std::string& path, const xmitw::Bytes& b) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(b.data(), 1, b.size(), f) != b.size())
        std::perror(path.c_str());
    if (f != nullptr) std::fclose(f);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_image_seeds FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    xmitw::Pds pds;
    for (int m = 0; m < 2; ++m) {
        xmitw::Member mem;
        mem.name = "M" + std::to_string(m);
        for (int r = 0; r < 3; ++r) {
            std::string l = "LINE " + std::to_string(r);
            l.resize(80, ' ');
            mem.records.push_back(xmitw::ebcdic(l));
        }
        mem.stats = xmitw::IspfStats{};
        pds.members.push_back(mem);
    }
    const auto unload = tapew::unloadOf(pds);
    std::vector<xmitw::Bytes> text;
    for (int r = 0; r < 4; ++r) text.push_back(xmitw::ebcdic(std::string(80, 'A' + r)));
    std::vector<tapew::TapeFile> files(2);
    files[0] = {"SEED.SEQ", 'F', 160, 80, 'B', tapew::fixedBlocks(text, 2)};
    files[1] = {"SEED.PDS", 'V', 300, 296, 'S', tapew::spannedBlocks(unload, 300)};
    write(dir + "/labeled.aws", tapew::labeledTape("SEED01", files));
    write(dir + "/labeled_zlib.het", tapew::labeledTape("SEED01", files, tapew::kZlib));
    write(dir + "/unlabeled_bzip2.het",
          tapew::unlabeledTape({files[0].blocks, files[1].blocks}, tapew::kBzip2));
    xmitw::Bytes none, rdw;
    for (const auto& r : unload) {
        xmitw::append(none, r);
        xmitw::append(rdw, {static_cast<uint8_t>((r.size() + 4) >> 8),
                            static_cast<uint8_t>(r.size() + 4), 0, 0});
        xmitw::append(rdw, r);
    }
    write(dir + "/bare.unload", none);
    write(dir + "/bare_rdw.unload", rdw);
    return 0;
}
