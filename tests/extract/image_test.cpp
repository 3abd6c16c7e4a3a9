// Tape images and bare unloads: labeled and unlabeled tapes, plain and compressed, a PDS
// unload spanned across blocks, transmit files on tape, bare unloads with and without
// descriptors, every fault of a tape's structure with its offset, and the corpus tapes.
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "extract.h"
#include "extract_fixture.h"
#include "failing_stream.h"
#include "image.h"
#include "reader.h"
#include "shared_dir.h"
#include "tape_writer.h"

using namespace xtest;
using namespace xmitw;
namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

struct ImageCloser {
    void operator()(XmitHandle* h) const { vXmitFileClose(h); }
};
using ImagePtr = std::unique_ptr<XmitHandle, ImageCloser>;

std::vector<Bytes> textRecords(const std::string& prefix, int n) {
    std::vector<Bytes> r;
    for (int i = 1; i <= n; ++i) r.push_back(ebcdic(line80(prefix + " " + std::to_string(i))));
    return r;
}

// The members of data set n as text files in a folder: name to contents.
std::map<std::string, std::string> membersOf(XmitHandle* h, unsigned n, const fs::path& folder) {
    fs::create_directories(folder);
    ExtractBlock req = request(EXTRACT_TYPE_TEXT, (folder / "&M").string(), n);
    opx::ExtractExtras extras;
    int r = opx::extractStep(EXTRACT_GO, h, &req, extras);
    while (r != EXTRACT_RESULT_DONE) r = opx::extractStep(EXTRACT_GO, h, &req, extras);
    EXPECT_EQ(req.severity, 0) << (req.message ? req.message : "");
    opx::extractStep(EXTRACT_STOP, h, &req, extras);
    std::map<std::string, std::string> m;
    for (const auto& e : fs::directory_iterator(folder))
        m[e.path().filename().string()] = readFile(e.path());
    return m;
}

// The records of a sequential data set n, as the reader delivers them.
std::vector<Bytes> recordsOf(XmitHandle* h, unsigned n) {
    std::vector<Bytes> out;
    EXPECT_EQ(opx::seek(h, h->dataSets[n - 1].dataPosition), IO_OK);
    while (opx::readRecord(h) == IO_OK && !opx::isControl(h))
        out.emplace_back(h->record, h->record + h->recordLength);
    return out;
}

} // namespace

class Image : public XmitTest {
  protected:
    ImagePtr openImage(const Bytes& bytes, const std::string& name = "image.aws",
                       const opx::ImageOptions& options = {}) {
        const std::string path = (dir_ / name).string();
        testsupport::writeFile(path, std::string(bytes.begin(), bytes.end()));
        paths_.push_back(path);
        return ImagePtr(opx::openImage(paths_.back().c_str(), options));
    }
};

TEST_F(Image, LabeledTapesPlainAndCompressed) {
    Pds pds = samplePds(3, 40);
    const Bytes transmit = fileImage(collect([&](const Emit& e) { pdsTransmit(pds, e); }));
    const std::vector<Bytes> seqRecords = textRecords("SEQ", 25);
    std::vector<tapew::TapeFile> files(3);
    files[0] = {"USER.SEQ", 'F', 800, 80, 'B', tapew::fixedBlocks(seqRecords, 10)};
    // The unload in blocks far smaller than its records, so that they span.
    files[1] = {"USER.PDS", 'V', 200, 196, 'S', tapew::spannedBlocks(tapew::unloadOf(pds), 200)};
    std::vector<Bytes> xmitRecords;
    for (size_t at = 0; at < transmit.size(); at += 80)
        xmitRecords.emplace_back(transmit.begin() + static_cast<long>(at),
                                 transmit.begin() + static_cast<long>(at + 80));
    files[2] = {"USER.PDS.XMIT", 'F', 3200, 80, 'B', tapew::fixedBlocks(xmitRecords, 40)};
    auto reference = openPds(pds);
    const auto expected = membersOf(reference.get(), 1, dir_ / "reference");
    for (tapew::Compression c : {tapew::kNone, tapew::kZlib, tapew::kBzip2}) {
        SCOPED_TRACE(static_cast<int>(c));
        auto h =
            openImage(tapew::labeledTape("VOL001", files, c), "t" + std::to_string(c) + ".het");
        ASSERT_EQ(h->message, nullptr) << h->message;
        EXPECT_EQ(opx::imageKind(h.get()), opx::ImageKind::Tape);
        ASSERT_EQ(h->fileCount, 3u);
        const XmitDataSet& seq = h->dataSets[0];
        EXPECT_STREQ(seq.dsname, "USER.SEQ");
        EXPECT_STREQ(seq.recfmLetters, "FB");
        EXPECT_EQ(seq.lrecl, 80);
        EXPECT_EQ(seq.blksize, 800);
        EXPECT_EQ(seq.kind, XMIT_KIND_SEQUENTIAL);
        EXPECT_EQ(recordsOf(h.get(), 1), seqRecords) << "blocks cut into their records";
        const opx::TapeFileInfo* info = opx::tapeFileInfo(h.get(), 2);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->volumeSerial, "VOL001");
        EXPECT_EQ(info->created, "2021-03-09");
        EXPECT_EQ(info->blockAttribute, 'S');
        // The partitioned data set: described by its COPYR1, read by the unload code.
        const XmitDataSet& part = h->dataSets[1];
        EXPECT_EQ(part.kind, XMIT_KIND_PARTITIONED);
        EXPECT_STREQ(part.recfmLetters, "FB");
        EXPECT_EQ(part.lrecl, 80);
        EXPECT_EQ(membersOf(h.get(), 2, dir_ / ("pds" + std::to_string(c))), expected);
        // The transmit file on the tape is a sequential data set whose records are the file.
        Bytes joined;
        for (const Bytes& r : recordsOf(h.get(), 3)) append(joined, r);
        EXPECT_EQ(joined, transmit);
    }
}

TEST_F(Image, UnlabeledTapes) {
    Pds pds = samplePds(2, 5);
    const std::vector<Bytes> seq = textRecords("U", 6);
    const Bytes image = tapew::unlabeledTape(
        {tapew::fixedBlocks(seq, 3), tapew::spannedBlocks(tapew::unloadOf(pds), 300)});
    // Told from the data: undefined records for the first file, a spanned unload for the second.
    auto h = openImage(image);
    ASSERT_EQ(h->message, nullptr) << h->message;
    ASSERT_EQ(h->fileCount, 2u);
    EXPECT_STREQ(h->dataSets[0].dsname, "FILE0001");
    EXPECT_STREQ(h->dataSets[0].recfmLetters, "U");
    EXPECT_EQ(recordsOf(h.get(), 1).size(), 2u) << "blocks as records";
    EXPECT_EQ(h->dataSets[1].kind, XMIT_KIND_PARTITIONED);
    EXPECT_EQ(membersOf(h.get(), 2, dir_ / "u").size(), 2u);
    // Attributes given: fixed 80-byte records.
    opx::ImageOptions fb;
    fb.recfm = "FB";
    fb.lrecl = 80;
    fb.blksize = 240;
    auto given = openImage(image, "given.aws", fb);
    EXPECT_STREQ(given->dataSets[0].recfmLetters, "FB");
    EXPECT_EQ(recordsOf(given.get(), 1), seq);
}

TEST_F(Image, BareUnloadsWithAndWithoutDescriptors) {
    Pds pds = samplePds(3, 12);
    auto reference = openPds(pds);
    const auto expected = membersOf(reference.get(), 1, dir_ / "reference");
    const std::vector<Bytes> records = tapew::unloadOf(pds);
    Bytes none, rdw, bdw;
    for (const Bytes& r : records) append(none, r);
    for (const Bytes& r : records) {
        Bytes d = {static_cast<uint8_t>((r.size() + 4) >> 8), static_cast<uint8_t>(r.size() + 4), 0,
                   0};
        append(rdw, d);
        append(rdw, r);
    }
    for (const Bytes& b : tapew::spannedBlocks(records, 1000)) append(bdw, b);
    int n = 0;
    for (const Bytes* image : {&none, &rdw, &bdw}) {
        SCOPED_TRACE(n);
        auto h = openImage(*image, "unload" + std::to_string(n) + ".bin");
        ASSERT_EQ(h->message, nullptr) << h->message;
        EXPECT_EQ(opx::imageKind(h.get()), opx::ImageKind::BareUnload);
        ASSERT_EQ(h->fileCount, 1u);
        EXPECT_STREQ(h->dataSets[0].recfmLetters, "FB");
        EXPECT_EQ(membersOf(h.get(), 1, dir_ / ("bare" + std::to_string(n++))), expected);
    }
    // Cut short: refused with the reason.
    Bytes cut(none.begin(), none.end() - 30);
    EXPECT_STREQ(openImage(cut, "cut.bin")->message,
                 "Invalid IEBCOPY unload (a data block is cut short)");
}

// Every fault of a tape's structure names its offset; the files before it stay readable and
// nothing after it is trusted.
TEST_F(Image, FaultsOfTheStructure) {
    const std::vector<Bytes> seq = textRecords("F", 4);
    auto tapeWith = [&](const std::function<void(tapew::TapeWriter&)>& middle) {
        tapew::TapeWriter w;
        w.block(tapew::vol1("VOL001"));
        w.block(tapew::hdr1("HDR1", "FIRST", 1));
        w.block(tapew::hdr2("HDR2", 'F', 320, 80, 'B'));
        w.tapeMark();
        w.block(tapew::fixedBlocks(seq, 4)[0]);
        w.tapeMark();
        w.block(tapew::hdr1("EOF1", "FIRST", 1));
        w.block(tapew::hdr2("EOF2", 'F', 320, 80, 'B'));
        w.tapeMark();
        middle(w);
        return w.image();
    };
    auto second = [](tapew::TapeWriter& w) {
        w.block(tapew::hdr1("HDR1", "SECOND", 2));
        w.block(tapew::hdr2("HDR2", 'F', 80, 80, ' '));
        w.tapeMark();
    };
    const size_t secondAt = tapeWith([](tapew::TapeWriter&) {}).size();
    const struct {
        const char* what;
        std::function<void(tapew::TapeWriter&)> middle;
        std::string message;
    } cases[] = {
        {"previous length wrong",
         [&](tapew::TapeWriter& w) { w.raw(80, 7, 0xA0, tapew::hdr1("HDR1", "SECOND", 2)); },
         "Block header at offset " + std::to_string(secondAt) +
             ": previous length 7 does not match the block before (0)"},
        {"truncated block", [&](tapew::TapeWriter& w) { w.raw(80, 0, 0xA0, Bytes(20, 0x40)); },
         "Truncated block at offset " + std::to_string(secondAt)},
        {"labels out of order",
         [&](tapew::TapeWriter& w) {
             w.block(tapew::hdr2("HDR2", 'F', 80, 80, ' '));
             w.block(tapew::hdr1("HDR1", "SECOND", 2));
             w.tapeMark();
             w.block(Bytes(80, 0xC1));
             w.tapeMark();
             w.block(tapew::hdr1("EOF1", "SECOND", 2));
             w.block(tapew::hdr2("EOF2", 'F', 80, 80, ' '));
             w.tapeMark();
         },
         "Tape label out of order at offset " + std::to_string(secondAt) +
             ": HDR2 where HDR1 was expected"},
        {"no trailer labels",
         [&](tapew::TapeWriter& w) {
             second(w);
             w.block(Bytes(80, 0xC1));
             w.tapeMark();
         },
         "Tape ends inside file 2 (its trailer labels are missing)"},
    };
    for (const auto& c : cases) {
        auto h = openImage(tapeWith(c.middle), "fault.aws");
        ASSERT_NE(h->message, nullptr) << c.what;
        EXPECT_EQ(h->message, c.message) << c.what;
        ASSERT_EQ(h->fileCount, 1u) << c.what << ": the file before the fault stays";
        EXPECT_EQ(recordsOf(h.get(), 1), seq) << c.what;
    }

    // A block that does not decompress is found when it is read.
    tapew::TapeWriter w(tapew::kZlib);
    w.block(Bytes(80, 0xC1));
    const size_t bad = w.image().size();
    w.raw(5, w.previous(), 0xA1, {1, 2, 3, 4, 5});
    w.tapeMark();
    w.tapeMark();
    auto h = openImage(w.image(), "bad.het");
    ASSERT_EQ(h->message, nullptr) << h->message;
    ASSERT_EQ(h->fileCount, 1u);
    ASSERT_EQ(opx::seek(h.get(), h->dataSets[0].dataPosition), IO_OK);
    EXPECT_EQ(opx::readRecord(h.get()), IO_OK);
    EXPECT_EQ(opx::readRecord(h.get()), IO_ERROR);
    EXPECT_EQ(std::string(h->message),
              "Block does not decompress at offset " + std::to_string(bad));
}

// A tape far larger than what is read ahead at a time: blocks of odd lengths, each in several
// chunks, fall across every boundary of the read-ahead; the files are read out of order (seeks
// back and forth); the records are the same at trace level 3, where each header and block is
// read by itself. A stream that fails is reported with the system's reason and the offset.
TEST_F(Image, LargeTapesReadAheadTracedAndFailing) {
    const std::vector<Bytes> one = textRecords("ONE", 12000), two = textRecords("TWO", 9000);
    tapew::TapeWriter w(tapew::kNone, 3001);
    for (const Bytes& b : tapew::fixedBlocks(one, 97)) w.block(b);
    w.tapeMark();
    for (const Bytes& b : tapew::fixedBlocks(two, 61)) w.block(b);
    w.tapeMark();
    w.tapeMark();
    const Bytes image = w.image();
    ASSERT_GT(image.size(), 1600000u);
    opx::ImageOptions fb;
    fb.recfm = "FB";
    fb.lrecl = 80;
    fb.blksize = 7760;
    auto h = openImage(image, "large.aws", fb);
    ASSERT_EQ(h->message, nullptr) << h->message;
    ASSERT_EQ(h->fileCount, 2u);
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(
        &status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", [](const char*) {}, nullptr);
    for (int trace : {0, 3}) {
        h->io.traceLevel = trace;
        EXPECT_EQ(recordsOf(h.get(), 2), two) << trace;
        EXPECT_EQ(recordsOf(h.get(), 1), one) << trace;
        EXPECT_EQ(recordsOf(h.get(), 2), two) << trace;
    }
    h->io.traceLevel = 0;

    // The stream fails in the middle of the first file, at every trace level.
    const size_t failAt = image.size() / 3;
    for (int trace : {0, 3}) {
        auto f = openImage(image, "failing.aws", fb);
        ASSERT_EQ(f->message, nullptr) << f->message;
        FailingSource source{std::string(image.begin(), image.end()), 0, failAt};
        std::fclose(f->io.stream);
        f->io.stream = failingStream(&source);
        f->io.traceLevel = trace;
        ASSERT_EQ(opx::seek(f.get(), f->dataSets[0].dataPosition), IO_OK);
        size_t records = 0;
        int r;
        while ((r = opx::readRecord(f.get())) == IO_OK && !opx::isControl(f.get())) ++records;
        EXPECT_EQ(r, IO_ERROR) << trace;
        ASSERT_NE(f->message, nullptr);
        EXPECT_EQ(std::string(f->message).rfind("READ error: Input/output error at offset ", 0), 0u)
            << f->message;
        EXPECT_GT(records, 0u) << trace;
        EXPECT_LT(records * 80, failAt) << trace;
        f->io.traceLevel = 0;
    }
}

TEST_F(Image, CorpusTapesAndUnloads) {
    REQUIRE_SHARED(aws, "corpus/tape/xmi_test_tape.aws");
    REQUIRE_SHARED(het, "corpus/tape/xmi_test_tape.het");
    REQUIRE_SHARED(xmi, "corpus/xmit/pds/xmi_test_pds.xmi");
    auto reference = HandlePtr(pXmitFileOpen(xmi.c_str()));
    const auto expected = membersOf(reference.get(), 1, dir_ / "xmi");
    int n = 0;
    for (const std::string& path : {aws, het}) {
        ImagePtr h(opx::openImage(path.c_str()));
        ASSERT_EQ(h->message, nullptr) << path;
        ASSERT_EQ(h->fileCount, 4u);
        EXPECT_STREQ(h->dataSets[1].dsname, "PYTHON.XMI.PDS");
        EXPECT_EQ(h->dataSets[1].kind, XMIT_KIND_PARTITIONED);
        EXPECT_EQ(membersOf(h.get(), 2, dir_ / ("tape" + std::to_string(n++))), expected) << path;
    }
    for (const auto& [file, members] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"corpus/iebcopy/cc370_e2e_1member.unload", {"E2E"}},
             {"corpus/iebcopy/cc370_e2e2_2members.unload", {"E2EA", "E2EB"}}}) {
        REQUIRE_SHARED(path, file);
        ImagePtr h(opx::openImage(path.c_str()));
        ASSERT_EQ(h->message, nullptr) << path;
        XmitDataSet* ds = opx::loadDirectory(h.get(), 1, false);
        ASSERT_NE(ds, nullptr) << h->message;
        EXPECT_EQ(ds->loadLibrary, 1);
        std::vector<std::string> names;
        for (unsigned i = 0; i < ds->entryCount; ++i) {
            std::string name = opx::decodeEntry(ds, i).name;
            while (!name.empty() && name.back() == ' ') name.pop_back();
            names.push_back(name);
        }
        EXPECT_EQ(names, members);
    }
}
