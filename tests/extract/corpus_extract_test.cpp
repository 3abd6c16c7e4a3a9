// Extraction of real files: IBM's published member texts, a binary member, every member of
// every readable corpus file in text, dump and record form, and load modules against IBM's own
// listings (AMBLIST LISTLOAD). Skipped, saying so, when the shared corpus is absent.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "extract.h"
#include "extract_fixture.h"
#include "loadmodule.h"
#include "reader.h"
#include "shared_dir.h"
#include "xmit_format.h"

using namespace xtest;
namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

HandlePtr openCorpus(const std::string& path) {
    return HandlePtr(pXmitFileOpen(path.c_str()));
}

// Splits the records of a load module stored one after the other without descriptors: each
// record's length follows from its kind, a text record's from the control record before it.
std::vector<xmitw::Bytes> splitModule(const std::string& raw) {
    std::vector<xmitw::Bytes> records;
    const auto* b = reinterpret_cast<const uint8_t*>(raw.data());
    size_t at = 0, text = 0;
    bool textNext = false;
    while (at < raw.size()) {
        size_t length = 0;
        if (textNext) {
            length = text;
            textNext = false;
        } else {
            const uint8_t id = b[at];
            if (id == 0x20)
                length = 8 + xmit::be16(b + at + 6);
            else if (id == 0x80)
                length = b[at + 1] + 1u;
            else if (id == 0x40 || id == 0x10)
                length = 4 + xmit::be16(b + at + 2);
            else if (id == 0x01 || id == 0x02 || id == 0x03 || id == 0x0D || id == 0x0E ||
                     id == 0x0F) {
                const size_t control = xmit::be16(b + at + 4), rld = xmit::be16(b + at + 6);
                length = 16 + control + rld;
                if (id & 0x01) {
                    text = 0;
                    for (size_t k = 16 + rld; k + 4 <= length; k += 4)
                        text += xmit::be16(b + at + k + 2);
                    textNext = true;
                }
            } else {
                break;
            }
        }
        if (length == 0 || at + length > raw.size()) break;
        records.emplace_back(b + at, b + at + length);
        at += length;
    }
    return records;
}

// One CESD line of a LISTLOAD listing (column 0 the carriage control): ESDID, symbol, type byte
// "(name)", address, segment, length or owner in decimal, then in hexadecimal. Returns false for
// any other line.
bool parseCesdLine(const std::string& line, unsigned* esdid, unsigned* type, unsigned* address,
                   unsigned* value) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || open < 2 || close == std::string::npos) return false;
    const std::string typeText = line.substr(open - 2, 2);
    if (!std::isxdigit(static_cast<unsigned char>(typeText[0])) ||
        !std::isxdigit(static_cast<unsigned char>(typeText[1])))
        return false;
    static const std::set<std::string> kKinds = {"SD", "LR", "ER", "PC", "CM", "PR", "WX", "NULL"};
    if (!kKinds.count(line.substr(open + 1, close - open - 1))) return false;
    // Column 0 holds the carriage control character.
    if (open < 3) return false;
    std::istringstream head(line.substr(1, open - 3));
    if (!(head >> *esdid) || *esdid == 0) return false;
    std::istringstream tail(line.substr(close + 1));
    std::string addr, segment, decimal, hex;
    if (!(tail >> addr >> segment >> decimal >> hex) || addr.size() != 6) return false;
    std::string rest;
    if (tail >> rest) return false;
    for (const std::string* t : {&addr, &hex})
        for (char c : *t)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    *type = static_cast<unsigned>(std::stoul(typeText, nullptr, 16));
    *address = static_cast<unsigned>(std::stoul(addr, nullptr, 16));
    *value = static_cast<unsigned>(std::stoul(hex, nullptr, 16));
    return true;
}

} // namespace

class CorpusExtract : public XmitTest {
  protected:
    std::string out(const std::string& name) { return (dir_ / name).string(); }
};

TEST_F(CorpusExtract, IbmPublishedTexts) {
    REQUIRE_SHARED(file, "corpus/xmit/pds/ibm_IRRXUTIL.xmit");
    REQUIRE_SHARED(texts, "corpus/expected/ibm_IRRXUTIL");
    auto h = openCorpus(file);
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M.txt")));
    ASSERT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(r.created, 16u);
    int exact = 0;
    for (const auto& e : fs::directory_iterator(texts)) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        const std::string ours = readFile(out(name)), published = readFile(e.path());
        if (name == "XSETRPWD.txt") {
            // Another version of the member: 269 lines against 260; the two agree up to the
            // first change, at line 89.
            const auto a = lines(ours), b = lines(published);
            EXPECT_EQ(a.size(), 260u);
            EXPECT_EQ(b.size(), 269u);
            ASSERT_GE(a.size(), 88u);
            EXPECT_EQ(std::vector<std::string>(a.begin(), a.begin() + 88),
                      std::vector<std::string>(b.begin(), b.begin() + 88));
        } else if (name == "XDUPACL.txt") {
            // One line shows other characters for EBCDIC X'BA' and X'BB' in IBM's copy.
            const auto a = lines(ours), b = lines(published);
            ASSERT_EQ(a.size(), b.size());
            int differing = 0;
            for (size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
            EXPECT_EQ(differing, 1);
        } else {
            EXPECT_EQ(ours, published);
            ++exact;
        }
    }
    EXPECT_EQ(exact, 14);
}

TEST_F(CorpusExtract, BinaryMemberAsIbmRecords) {
    REQUIRE_SHARED(file, "corpus/xmit/pds/xmi_test_pds.xmi");
    REQUIRE_SHARED(jpg, "corpus/expected/mainframed_xmi/TEST.PDS/JES2JPG.jpg");
    auto h = openCorpus(file);
    ExtractBlock req = request(EXTRACT_TYPE_IBM, out("&M.bin"));
    const char* names[] = {"JES2JPG"};
    req.memberNames = names;
    req.memberCount = 1;
    RunResult r = runRequest(h.get(), req);
    ASSERT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(readFile(out("JES2JPG.bin")), readFile(jpg));
}

TEST_F(CorpusExtract, EveryMemberOfEveryFile) {
    REQUIRE_SHARED(root, "corpus/xmit");
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        auto h = openCorpus(entry.path().string());
        if (h->message != nullptr) continue;
        ++files;
        for (unsigned n = 1; n <= h->fileCount; ++n) {
            const XmitDataSet& ds = h->dataSets[n - 1];
            if (ds.kind == XMIT_KIND_PDSE || ds.kind == XMIT_KIND_UNSUPPORTED) continue;
            const bool partitioned = ds.kind == XMIT_KIND_PARTITIONED;
            if (partitioned && pxhXmitFileLoadDir(h.get(), n) == nullptr) continue;
            for (int type : {EXTRACT_TYPE_TEXT, EXTRACT_TYPE_DUMP, EXTRACT_TYPE_IBM}) {
                if (type == EXTRACT_TYPE_IBM && ds.loadLibrary) continue;
                SCOPED_TRACE(testing::Message() << entry.path().filename().string() << " data set "
                                                << n << " type " << type);
                const fs::path folder = dir_ / (entry.path().stem().string() + "_" +
                                                std::to_string(n) + "_" + std::to_string(type));
                fs::create_directories(folder);
                RunResult r = runRequest(h.get(), request(type,
                                                          partitioned ? (folder / "&M").string()
                                                                      : (folder / "data").string(),
                                                          n));
                EXPECT_EQ(r.severity, 0) << r.message << " " << r.fileName;
                if (type == EXTRACT_TYPE_TEXT && !ds.loadLibrary && r.severity == 0) {
                    // One line a record, empty records included; binary data, whose control
                    // characters may translate to line ends, is left out.
                    std::vector<std::pair<std::string, uint32_t>> written;
                    if (!partitioned) written.emplace_back((folder / "data").string(), r.total);
                    for (const Step& step : r.steps)
                        if (partitioned && step.result == EXTRACT_RESULT_WRITTEN)
                            written.emplace_back(step.file, step.records);
                    for (const auto& [file, records] : written) {
                        const std::string text = readFile(file);
                        const bool binary = std::any_of(text.begin(), text.end(), [](char c) {
                            const auto b = static_cast<unsigned char>(c);
                            return (b < 0x20 && b != '\n' && b != '\t') || (b >= 0x7F && b < 0xA0);
                        });
                        if (binary) continue;
                        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), records) << file;
                    }
                }
                if (partitioned && r.severity == 0) {
                    size_t distinct = 0;
                    std::set<uint32_t> ttrs;
                    for (unsigned i = 0; i < ds.entryCount; ++i) {
                        const uint8_t* e = ds.directory + static_cast<size_t>(i) * ds.entryLength;
                        if (!(e[11] & 0x80))
                            ttrs.insert((uint32_t(e[8]) << 16) | (e[9] << 8) | e[10]);
                    }
                    distinct = ttrs.size();
                    EXPECT_EQ(r.created + r.skipped, distinct)
                        << "every member written or refused with a reason";
                }
                fs::remove_all(folder);
            }
        }
    }
    EXPECT_GE(files, 40);
}

// The two PDSE unloads: two JCL members each. Their line counts follow from the blocks of the
// unloads: a full block of 6080 bytes (76 lines) and one short block per member.
TEST_F(CorpusExtract, PdseUnloads) {
    const struct {
        const char* file;
        std::map<std::string, uint32_t> lines;
        const char* firstLine;
    } files[] = {{"corpus/xmit/pdse/ibm_Pwdcopy_jcl_old_PDSE.xmit",
                  {{"ICHPSIN", 77}, {"ICHPSOUT", 78}},
                  "//DPFTCI JOB 3135,'IMPORT_PASSWORDS_ETC',"},
                 {"corpus/xmit/pdse/ibm_pwdcopy_aes_jcl_PDSE.xmit",
                  {{"ICHPSIN", 94}, {"ICHPSOUT", 86}},
                  "//*"}};
    for (const auto& f : files) {
        REQUIRE_SHARED(path, f.file);
        SCOPED_TRACE(path);
        auto h = openCorpus(path);
        ASSERT_EQ(h->message, nullptr);
        EXPECT_EQ(pxhXmitFileLoadDir(h.get(), 1), nullptr) << "the exported call refuses it";
        XmitDataSet* ds = opx::loadDirectory(h.get(), 1, true);
        ASSERT_NE(ds, nullptr) << h->message;
        EXPECT_EQ(ds->entryCount, 2u);
        const fs::path folder = dir_ / fs::path(path).stem();
        fs::create_directories(folder);
        ExtractBlock req = request(EXTRACT_TYPE_TEXT, (folder / "&M").string());
        req.options = EXTRACT_STRIP;
        for (int r = opx::extractStep(EXTRACT_GO, h.get(), &req, opx::ExtractExtras{true});
             r != EXTRACT_RESULT_DONE;
             r = opx::extractStep(EXTRACT_GO, h.get(), &req, opx::ExtractExtras{true})) {
        }
        EXPECT_EQ(req.severity, 0) << (req.message ? req.message : "");
        opx::extractStep(EXTRACT_STOP, h.get(), &req, opx::ExtractExtras{true});
        for (const auto& [member, count] : f.lines) {
            const std::string text = readFile(folder / member);
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), count) << member;
        }
        EXPECT_EQ(lines(readFile(folder / "ICHPSIN")).at(0), f.firstLine);
    }
}

TEST_F(CorpusExtract, LoadModulesAgreeWithIbmListings) {
    REQUIRE_SHARED(folder, "corpus/loadmod/r2_zos");
    int compared = 0;
    for (const char* name : {"COBSUM", "GCCSUM", "PLISUM", "PRUEBA"}) {
        SCOPED_TRACE(name);
        const auto records = splitModule(readFile(folder + "/" + name + ".bin"));
        ASSERT_FALSE(records.empty());
        // The module size is not stored in the records: the end of the furthest section.
        uint32_t size = 0;
        for (const auto& r : records) {
            if (r[0] != 0x20) continue;
            for (size_t at = 8; at + 16 <= r.size(); at += 16) {
                const uint8_t type = r[at + 8] & 0x0F;
                if (type == 0 || type == 4 || type == 5 || type >= 13)
                    size = std::max(size,
                                    xmit::be24(r.data() + at + 9) + xmit::be24(r.data() + at + 13));
            }
        }
        size = (size + 7) & ~7u; // modules are sized in doublewords
        xmitw::Bytes entry(34, 0);
        entry[11] = 11;
        entry[20] = 0x02;
        entry[22] = static_cast<uint8_t>(size >> 16);
        entry[23] = static_cast<uint8_t>(size >> 8);
        entry[24] = static_cast<uint8_t>(size);
        opx::LoadModuleImage image;
        opx::LoadModuleReader reader(entry.data(), 34, image);
        for (const auto& r : records)
            ASSERT_TRUE(reader.record(r.data(), static_cast<uint32_t>(r.size()))) << reader.error();
        ASSERT_TRUE(reader.finish()) << reader.error();

        std::ifstream listing(folder + "/" + name + "_LISTLOAD.prn", std::ios::binary);
        std::set<unsigned> seen;
        for (std::string l; std::getline(listing, l);) {
            unsigned esdid = 0, type = 0, address = 0, value = 0;
            if (!parseCesdLine(l, &esdid, &type, &address, &value)) continue;
            if (!seen.insert(esdid).second) continue;
            const opx::CesdEntry* e = image.find(static_cast<uint16_t>(esdid));
            if ((type & 0x0F) == 7) {
                EXPECT_EQ(e, nullptr) << "null entries hold their ESDID but are not kept";
                continue;
            }
            ASSERT_NE(e, nullptr) << "ESDID " << esdid;
            EXPECT_EQ(e->type(), type & 0x0F) << esdid;
            EXPECT_EQ(e->address, address) << esdid;
            if (e->type() == 3) {
                EXPECT_EQ(e->owner, value) << esdid;
            } else if (e->type() != 2 && e->type() != 10) {
                EXPECT_EQ(e->length, value) << esdid;
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 30);
}

// Records written as IBM records and read back by their format give the records the cursor
// delivers, for every fixed and variable member of the corpus.
TEST_F(CorpusExtract, IbmRecordsRoundTrip) {
    REQUIRE_SHARED(root, "corpus/xmit/pds");
    int members = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        auto h = openCorpus(entry.path().string());
        if (h->message != nullptr) continue;
        for (unsigned n = 1; n <= h->fileCount; ++n) {
            XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), n);
            if (ds == nullptr || (ds->recfmLetters[0] != 'F' && ds->recfmLetters[0] != 'V')) {
                h->message = nullptr;
                continue;
            }
            SCOPED_TRACE(entry.path().filename().string());
            const fs::path folder = dir_ / entry.path().stem();
            fs::create_directories(folder);
            RunResult r =
                runRequest(h.get(), request(EXTRACT_TYPE_IBM, (folder / "&M").string(), n));
            ASSERT_EQ(r.severity, 0) << r.message;
            // The cursor's records, member by member in unload order, under the names written.
            std::vector<std::string> written;
            for (const Step& s : r.steps)
                if (s.result == EXTRACT_RESULT_WRITTEN) written.push_back(s.file);
            MemberCursor c;
            std::vector<uint8_t> assembly(32760);
            ASSERT_TRUE(opx::startMembers(h.get(), ds, &c, assembly.data(), 32760));
            for (const std::string& file : written) {
                std::vector<std::string> expected;
                while (opx::readMemberRecord(h.get(), ds, &c) == MEMBER_RECORD)
                    expected.emplace_back(reinterpret_cast<const char*>(c.record), c.recordLength);
                const std::string bytes = readFile(file);
                std::vector<std::string> back;
                if (ds->recfmLetters[0] == 'F') {
                    for (size_t at = 0; at + ds->lrecl <= bytes.size(); at += ds->lrecl)
                        back.push_back(bytes.substr(at, ds->lrecl));
                } else {
                    for (size_t at = 0; at + 4 <= bytes.size();) {
                        const size_t block = (static_cast<uint8_t>(bytes[at]) << 8) |
                                             static_cast<uint8_t>(bytes[at + 1]);
                        ASSERT_GE(block, 4u);
                        for (size_t p = at + 4; p + 4 <= at + block;) {
                            const size_t len = (static_cast<uint8_t>(bytes[p]) << 8) |
                                               static_cast<uint8_t>(bytes[p + 1]);
                            ASSERT_GE(len, 4u);
                            back.push_back(bytes.substr(p + 4, len - 4));
                            p += len;
                        }
                        at += block;
                    }
                }
                EXPECT_EQ(back, expected) << file;
                ++members;
            }
        }
    }
    EXPECT_GT(members, 200);
}
