// GOFF input: the real GOFF objects of the corpus, the checks of each record type and of the
// record sequence, the continuation limit held as records arrive, how the symbols become the
// object-module image, and the messages of a GOFF module in a job step.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "goff_input.h"
#include "goff_support.h"
#include "linkedit.h"
#include "loadmod_format.h"
#include "saved_module.h"
#include "shared_dir.h"

using namespace lt;
using namespace gt;

namespace {

struct Read {
    vrl::ObjectModule image;
    std::vector<std::string> problems; // the messages, in order
    size_t recordOfFirstProblem = 0;   // its physical record, from 1
    bool ended = false;
};

// Feeds 80-byte records to a reader up to END; a clean module is then finished.
Read readGoff(const std::string& bytes) {
    Read r;
    vrl::GoffReader reader(r.image);
    size_t at = 0;
    while (at + 80 <= bytes.size()) {
        const vrl::GoffReader::Step step =
            reader.record(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
        if (!step.message.empty()) {
            if (r.problems.empty()) r.recordOfFirstProblem = at / 80 + 1;
            r.problems.push_back(step.message);
        }
        if (step.restart) continue;
        at += 80;
        if (step.end) {
            r.ended = true;
            break;
        }
    }
    uint32_t counter = 0;
    if (r.ended && r.problems.empty()) reader.finish(counter);
    return r;
}

std::string firstProblem(const std::vector<Logical>& records) {
    const Read r = readGoff(module(records));
    return r.problems.empty() ? "" : r.problems.front();
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const vrl::EsdItem* item(const vrl::ObjectModule& m, const std::string& name, uint8_t type) {
    for (const auto& i : m.items)
        if (i->name == ebcdic(name) && i->type == type) return i.get();
    return nullptr;
}

size_t count(const vrl::ObjectModule& m, uint8_t type) {
    size_t n = 0;
    for (const auto& i : m.items) n += i->type == type;
    return n;
}

JobSpec syslin(const std::string& path) {
    JobSpec setup;
    setup.syslin = {path};
    return setup;
}

const std::string kEsdMsg = "VRL161S Invalid GOFF ESD record";
const std::string kTxtMsg = "VRL161S Invalid GOFF TXT record";
const std::string kRldMsg = "VRL161S Invalid GOFF RLD record";
const std::string kLenMsg = "VRL161S Invalid GOFF LEN record";
const std::string kEndMsg = "VRL161S Invalid GOFF END record";
const std::string kContMsg = "VRL162S Invalid GOFF continuation record";

} // namespace

// The facts below were counted from the records of each file by a script of our own, not by
// this reader.
TEST(GoffInput, CorpusObjectsReadWithoutError) {
    REQUIRE_SHARED(dir, "corpus/goff");
    struct Case {
        const char* file;
        size_t sections, references, labels, constants;
        const char* identification;
    } cases[] = {
        {"ibm_iplstatx.goff", 2, 1, 0, 2, "569623400 010614148"},
        {"ibm_iplstatz.goff", 2, 1, 0, 1, "569623400 010614148"},
        {"ibm_msglg610.goff", 79, 83, 9, 631, "569623400 010614064"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Read r = readGoff(fileBytes(dir + "/" + c.file));
        EXPECT_TRUE(r.problems.empty()) << r.problems.front();
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(count(r.image, obj::kSD), c.sections);
        EXPECT_EQ(count(r.image, obj::kER), c.references);
        EXPECT_EQ(count(r.image, obj::kLD), c.labels);
        size_t constants = 0;
        for (const auto& i : r.image.items) constants += i->rld.size();
        EXPECT_EQ(constants, c.constants);
        ASSERT_EQ(r.image.identificationCount, 1u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.image.identification), 19),
                  ebcdic(c.identification));
    }
    // The sections of iplstatx with their assembled origins, text and constants.
    const Read r = readGoff(fileBytes(dir + "/ibm_iplstatx.goff"));
    const vrl::EsdItem* main = item(r.image, "IPLSTATS", obj::kSD);
    const vrl::EsdItem* second = item(r.image, "IPSTCFPO", obj::kSD);
    ASSERT_TRUE(main && second);
    EXPECT_EQ(main->address, 0u);
    EXPECT_EQ(main->length, 0x1E99u);
    EXPECT_EQ(second->address, 0x1EA0u);
    EXPECT_EQ(second->length, 0x2C8u);
    // The first bytes of each section's text, and the V-type constant's field, which the
    // binder sets and the image therefore holds as 0.
    std::vector<uint8_t> t1(main->length), t2(second->length);
    main->text.copyTo(t1.data(), t1.size());
    second->text.copyTo(t2.data(), t2.size());
    EXPECT_EQ(std::vector<uint8_t>(t1.begin(), t1.begin() + 4),
              (std::vector<uint8_t>{0xA7, 0xF4, 0x00, 0x12}));
    EXPECT_EQ(std::vector<uint8_t>(t2.begin(), t2.begin() + 4),
              (std::vector<uint8_t>{0xA7, 0xF4, 0x00, 0x07}));
    EXPECT_EQ(std::vector<uint8_t>(t1.begin() + 0xD44, t1.begin() + 0xD48),
              (std::vector<uint8_t>{0x00, 0x00, 0x0D, 0xA4}));
    EXPECT_EQ(main->flags & 0x07, 0x06); // AMODE 31, RMODE ANY
    ASSERT_EQ(main->rld.size(), 2u);
    EXPECT_EQ(main->rld[0].kind, vrl::ConstantKind::kA);
    EXPECT_EQ(main->rld[0].address, 0xD44u);
    EXPECT_EQ(main->rld[0].target, main);
    EXPECT_EQ(main->rld[1].kind, vrl::ConstantKind::kV);
    EXPECT_EQ(main->rld[1].address, 0x1088u);
    EXPECT_EQ(main->rld[1].target, item(r.image, "IPSTCFPO", obj::kER));

    // In a job step: no message at all, and a module saved.
    TempDir tmp;
    for (const char* f : {"ibm_iplstatx.goff", "ibm_msglg610.goff"}) {
        JobSpec setup = syslin(dir + "/" + f);
        setup.member = "GOFFMOD";
        const JobResult job = runJob(tmp, setup);
        EXPECT_EQ(job.rc, 0) << f;
        for (const std::string& line : job.body()) EXPECT_EQ(line.find("VRL16"), std::string::npos);
    }
}

TEST(GoffInput, RecordFramesAndSequence) {
    Logical unknownType = goffEnd();
    unknownType.type = 0x5;
    std::string version1 = module({goffHdr()});
    version1[2] = 1;
    std::string lateContinuation = module({goffHdr()});
    lateContinuation[1] = static_cast<char>(0xF2);
    std::string notGoff = module({goffHdr()}) + std::string(80, '\x40');
    Logical longHdr = goffHdr();
    longHdr.bytes.resize(200, '\0');
    struct Case {
        const char* name;
        std::string bytes;
        std::string problem;
    } cases[] = {
        {"version not 0", version1, "VRL160S Invalid GOFF record"},
        {"first record a continuation", lateContinuation, "VRL160S Invalid GOFF record"},
        {"not a GOFF record", notGoff, "VRL160S Invalid GOFF record"},
        {"unknown record type", module({goffHdr(), unknownType}), "VRL160S Invalid GOFF record"},
        {"HDR continued", module({longHdr}), "VRL161S Invalid GOFF HDR record"},
        {"second HDR", module({goffHdr(), goffHdr()}),
         "VRL163S GOFF HDR record is out of sequence"},
        {"ESD first", module({goffSd(1, "A")}), "VRL163S GOFF ESD record is out of sequence"},
        {"TXT first", module({goffTxt(1, 0, "x")}), "VRL163S GOFF TXT record is out of sequence"},
        {"RLD first", module({goffRld({})}), "VRL163S GOFF RLD record is out of sequence"},
        {"LEN first", module({goffLen({})}), "VRL163S GOFF LEN record is out of sequence"},
        {"END first", module({goffEnd()}), "VRL163S GOFF END record is out of sequence"},
    };
    for (const Case& c : cases) {
        const Read r = readGoff(c.bytes);
        ASSERT_FALSE(r.problems.empty()) << c.name;
        EXPECT_EQ(r.problems.front(), c.problem) << c.name;
    }
    // An END before the HDR still ends the module.
    EXPECT_TRUE(readGoff(module({goffEnd(), goffHdr()})).ended);
}

TEST(GoffInput, ContinuationRecords) {
    // A continuation of another record type: the logical record is dropped and the record that
    // interrupted it is read as a record of its own (here the END, which ends the module).
    std::string bytes = module({goffHdr(), goffSd(1, "A"), goffEd(2, 1, "B_TEXT", 0, 200)}) +
                        physical(goffTxt(2, 0, std::string(150, 'x'))).substr(0, 80) +
                        physical(goffEnd());
    Read r = readGoff(bytes);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0], kContMsg);
    EXPECT_EQ(r.recordOfFirstProblem, 5u);
    EXPECT_TRUE(r.ended);

    // The limit: 426 physical records make the longest logical record (32805 bytes); the
    // 427th is refused as it arrives, the rest of that logical record is passed over, and the
    // records after it are read.
    const unsigned room = 426 * 77 - 21; // data bytes that fill 426 records exactly
    Logical full = goffTxt(2, 0, std::string(room, 'y'));
    ASSERT_EQ(physical(full).size(), 426u * 80);
    const std::string head =
        module({goffHdr(), goffSd(1, "A"), goffEd(2, 1, "B_TEXT", 0, 0x10000)});
    r = readGoff(head + physical(full) + physical(goffEnd()));
    EXPECT_TRUE(r.problems.empty());
    EXPECT_EQ(r.image.items.front()->text.bytes(), room);

    Logical over = goffTxt(2, 0, std::string(room + 77 * 3, 'z')); // 429 physical records
    r = readGoff(head + physical(over) + physical(goffEnd()));
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0], kContMsg);
    EXPECT_EQ(r.recordOfFirstProblem, 3u + 427u);
    EXPECT_TRUE(r.ended);
}

TEST(GoffInput, EsdChecks) {
    const std::vector<Logical> base = {goffHdr(), goffSd(1, "MAIN"), goffEd(2, 1, "B_TEXT", 0, 16)};
    auto with = [&](Logical l) {
        std::vector<Logical> v = base;
        v.push_back(std::move(l));
        return v;
    };
    Logical nameBeyond = goffSd(9, "LONGNAME");
    nameBeyond.be16(70, 200); // the name length reaches past the record received
    struct Case {
        const char* name;
        std::vector<Logical> records;
    } cases[] = {
        {"symbol type 5", with(goffEsd(Esd(5, 9, 0, "X")))},
        {"ESDID 0", with(goffSd(0, "X"))},
        {"ESDID twice", with(goffSd(2, "X"))},
        {"section with an owner", with(goffEsd(Esd(0, 9, 1, "X")))},
        {"element without owner", with(goffEd(9, 0, "B_TEXT", 0, 8))},
        {"element of an element", with(goffEd(9, 2, "B_TEXT", 0, 8))},
        {"owner defined later", with(goffLd(9, 10, "X", 0))},
        {"label of a section", with(goffLd(9, 1, "X", 0))},
        {"reference without owner", with(goffEr(9, 0, "X"))},
        {"name length 0", with(goffEsd(Esd(0, 9, 0, "")))},
        {"name beyond the record", with(nameBeyond)},
        {"leading blank", with(goffEr(9, 1, " X"))},
        {"alignment 13", with(goffEsd(Esd(0, 9, 0, "X").align(13)))},
        {"AMODE 5", with(goffEsd(Esd(0, 9, 0, "X").modes(5, 0)))},
        {"RMODE 4", with(goffEsd(Esd(0, 9, 0, "X").modes(0, 4)))},
        {"offset and length pass 2 GB", with(goffEd(9, 1, "C_DATA", 0x40000000, 0x40000000))},
        {"negative length", with(goffEd(9, 1, "C_DATA", 0, 0x80000000))},
        {"label past its element", with(goffLd(9, 2, "X", 17))},
        {"two sections of one name", with(goffSd(9, "MAIN"))},
    };
    for (const Case& c : cases) EXPECT_EQ(firstProblem(c.records), kEsdMsg) << c.name;
    // Just below the limit is fine, and so is a deferred length.
    EXPECT_EQ(firstProblem(with(goffEd(9, 1, "C_DATA", 0x40000000, 0x3FFFFFFF))), "");
    EXPECT_EQ(firstProblem(with(goffEd(9, 1, "C_DATA", 0, 0xFFFFFFFF))), "");
}

TEST(GoffInput, TextLengthAndEndChecks) {
    std::vector<Logical> base = {goffHdr(),
                                 goffSd(1, "MAIN"),
                                 goffEd(2, 1, "B_TEXT", 0x100, 16),
                                 goffEd(3, 1, "B_PRV", 0, 0),
                                 goffEd(4, 1, "B_IDRL", 0, 0),
                                 goffEd(5, 1, "C_DATA", 0, 0xFFFFFFFF)};
    auto with = [&](std::vector<Logical> more) {
        std::vector<Logical> v = base;
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };
    Logical dataBeyond = goffTxt(2, 0x100, "abcd");
    dataBeyond.be16(22, 60); // more data than the record holds
    Logical reserved = goffTxt(2, 0x100, "abcd");
    reserved.u8(9, 1);
    Logical lenBeyond = goffLen({{5, 8}});
    lenBeyond.be16(6, 96); // 8 + 96 bytes: past the 80 received
    std::string idr = idr3("569623400 ", "0106", "2014148", "132317530");
    std::string idrFormat2 = idr;
    idrFormat2[1] = 2;
    std::string idrBadDate = idr;
    idrBadDate[4 + 15] = 'X';
    Logical endOdd = goffEnd(1, 2, 0x101);
    struct Case {
        const char* name;
        std::vector<Logical> records;
        std::string problem;
    } cases[] = {
        {"text for an element defined later", with({goffTxt(9, 0, "x"), goffEd(9, 1, "C_X", 0, 8)}),
         kTxtMsg},
        {"text of another style", with({goffTxt(2, 0x100, "x", 1)}), kTxtMsg},
        {"text for a merged class", with({goffTxt(3, 0, "x")}), kTxtMsg},
        {"text before the element", with({goffTxt(2, 0xFF, "x")}), kTxtMsg},
        {"text past the element", with({goffTxt(2, 0x10F, "xy")}), kTxtMsg},
        {"data length 0", with({goffTxt(2, 0x100, "")}), kTxtMsg},
        {"data beyond the record", with({dataBeyond}), kTxtMsg},
        {"reserved bytes", with({reserved}), kTxtMsg},
        {"identification format 2", with({goffTxt(4, 0, idrFormat2, 1)}), kTxtMsg},
        {"identification date", with({goffTxt(4, 0, idrBadDate, 1)}), kTxtMsg},
        {"identification too short", with({goffTxt(4, 0, idr.substr(0, 22), 1)}), kTxtMsg},
        {"length of an element not deferred", with({goffLen({{2, 16}})}), kLenMsg},
        {"entries beyond the record", with({lenBeyond}), kLenMsg},
        {"length below the text", with({goffTxt(5, 0, "abcdef"), goffLen({{5, 4}})}), kLenMsg},
        {"entry at an odd offset", with({endOdd}), kEndMsg},
        {"entry outside the element", with({goffEnd(1, 2, 0x110)}), kEndMsg},
        {"entry in a class not loaded", with({goffEnd(1, 3, 0)}), kEndMsg},
        {"entry name beyond the record", with({[] {
             Logical l = goffEnd(2, 0, 0, "MAIN");
             l.be16(24, 90);
             return l;
         }()}),
         kEndMsg},
        {"wrong record count", with({goffEnd(0, 0, 0, "", 5)}), kEndMsg},
        {"entry request 3", with({goffEnd(3)}), kEndMsg},
    };
    for (const Case& c : cases) EXPECT_EQ(firstProblem(c.records), c.problem) << c.name;
    // The right record count: every logical record of the module, END included.
    EXPECT_EQ(firstProblem(with({goffEnd(0, 0, 0, "", 7)})), "");
    EXPECT_EQ(firstProblem(with({goffTxt(4, 0, idr, 1), goffEnd(2, 0, 0, "MAIN")})), "");
}

TEST(GoffInput, RelocationChecks) {
    std::vector<Logical> base = {goffHdr(),
                                 goffSd(1, "MAIN"),
                                 goffEd(2, 1, "B_TEXT", 0, 32),
                                 goffEd(3, 1, "B_PRV", 0, 0),
                                 goffEr(4, 1, "SUB"),
                                 goffPr(5, 3, "PRV1", 4)};
    auto with = [&](RldItem i) {
        std::vector<Logical> v = base;
        v.push_back(goffRld({i}));
        return v;
    };
    struct Case {
        const char* name;
        RldItem item;
    } cases[] = {
        {"position not an element", RldItem(2, 4, 0)},
        {"position in a merged class", RldItem(2, 3, 0)},
        {"constant past the element", RldItem(2, 2, 30)},
        {"no pointers before", RldItem(0, 0, 0, 0xC0)},
        {"A-type of 2 bytes", RldItem(2, 2, 0).bytes(2)},
        {"V-type subtracted", RldItem(4, 2, 0).act(0x11)},
        {"unknown action", RldItem(2, 2, 0).act(0x20)},
        {"Q-type to a reference", RldItem(4, 2, 0).type(0x10)},
        {"cumulative length of a section", RldItem(2, 2, 0).type(0x20)},
        {"relative of 3 bytes", RldItem(4, 2, 0).type(0x60).bytes(3)},
        {"unknown reference type", RldItem(2, 2, 0).type(0x30)},
        {"bit field", RldItem(2, 2, 0)}, // byte 5 set below
    };
    for (const Case& c : cases) {
        std::vector<Logical> records = with(c.item);
        if (std::string(c.name) == "bit field") records.back().u8(6 + 5, 3);
        EXPECT_EQ(firstProblem(records), kRldMsg) << c.name;
    }
    // The items of a record may take their pointers from the record before.
    std::vector<Logical> two = base;
    two.push_back(goffRld({RldItem(2, 2, 0)}));
    two.push_back(goffRld({RldItem(0, 0, 8, 0xC0)}));
    EXPECT_EQ(firstProblem(two), "");
}

// How GOFF symbols become the items of an object module.
TEST(GoffInput, ImageOfTheModule) {
    std::string text(32, '\0');
    text[2] = 0x02; // A(MAIN+16) at 0: the field holds the assembled address 0x210
    text[3] = 0x10;
    std::vector<Logical> records = {
        goffHdr(),
        goffSd(1, " "), // the unnamed section translators write: dropped
        goffEd(2, 1, "B_TEXT", 0, 0),
        goffSd(3, "MAIN"),
        goffEd(4, 3, "B_TEXT", 0x200, 0xFFFFFFFF), // deferred
        goffEd(5, 3, "B_PRV", 0, 0),
        goffLd(6, 4, "MAIN", 0x200),  // says no more than the section
        goffLd(7, 4, "INNER", 0x208), // kept
        goffEr(8, 3, "WEAKREF", true),
        goffPr(9, 5, "PRV1", 8),
        goffEsd(Esd(1, 10, 3, "C_CODE").at(0, 8).modes(2, 0)),
        goffTxt(4, 0x200, text),
        goffTxt(10, 0, "ABCDEFGH"),
        goffRld({RldItem(4, 4, 0x200),                  // A to the element
                 RldItem(7, 0, 0x204, 0x40).act(0x01),  // set to INNER
                 RldItem(8, 0, 0x208, 0x40).act(0x01),  // V to WEAKREF
                 RldItem(9, 0, 0x20C, 0x40).type(0x10), // Q
                 RldItem(5, 0, 0x210, 0x40).type(0x20), // cumulative length
                 RldItem(7, 0, 0x21A, 0x40).type(0x60).bytes(2)}),
        goffLen({{4, 0x20}}),
        goffEnd(2, 0, 0, "INNER"),
    };
    const Read r = readGoff(module(records));
    ASSERT_TRUE(r.problems.empty()) << r.problems.front();
    const vrl::ObjectModule& m = r.image;
    EXPECT_EQ(count(m, obj::kPC), 0u);
    const vrl::EsdItem* main = nullptr;
    const vrl::EsdItem* code = nullptr;
    for (const auto& i : m.items)
        if (i->type == obj::kSD) (i->className.empty() ? main : code) = i.get();
    ASSERT_TRUE(main && code);
    EXPECT_EQ(main->address, 0x200u);
    EXPECT_EQ(main->length, 0x20u);
    EXPECT_FALSE(main->lengthOpen);
    EXPECT_EQ(code->className, ebcdic("C_CODE"));
    EXPECT_EQ(code->text.bytes(), 8u);
    EXPECT_EQ(count(m, obj::kLD), 1u);
    const vrl::EsdItem* inner = item(m, "INNER", obj::kLD);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->owner, main);
    EXPECT_EQ(m.entryItem, inner);
    const vrl::EsdItem* weak = item(m, "WEAKREF", obj::kWX);
    const vrl::EsdItem* prv = item(m, "PRV1", obj::kXD);
    ASSERT_TRUE(weak && prv);
    ASSERT_EQ(main->rld.size(), 6u);
    const vrl::ConstantKind kinds[] = {vrl::ConstantKind::kA,   vrl::ConstantKind::kA,
                                       vrl::ConstantKind::kV,   vrl::ConstantKind::kQ,
                                       vrl::ConstantKind::kCxd, vrl::ConstantKind::kRelative};
    const vrl::EsdItem* targets[] = {main, main, weak, prv, nullptr, main};
    const uint8_t flags[] = {0x0C, 0x0C, 0x1C, 0x2C, 0x3C, 0x70};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(main->rld[i].kind, kinds[i]) << i;
        EXPECT_EQ(main->rld[i].target, targets[i]) << i;
        EXPECT_EQ(main->rld[i].flags, flags[i]) << i;
    }
    // The constant the binder sets to INNER now holds INNER's assembled address, as an A-type
    // constant of an object deck would; the one it sets to WEAKREF holds 0.
    uint8_t image[32] = {};
    main->text.copyTo(image, sizeof image);
    EXPECT_EQ(image[2], 0x02);
    EXPECT_EQ(image[3], 0x10);
    EXPECT_EQ(image[6], 0x02);
    EXPECT_EQ(image[7], 0x08);
    EXPECT_EQ(image[11], 0x00);
}

TEST(GoffInput, MessagesInAJobStep) {
    TempDir dir;
    // End of file after the HDR: VRL164S, and the module is discarded.
    writeFile(dir / "hdr.goff", module({goffHdr(), goffSd(1, "A")}));
    JobResult r = runJob(dir, syslin((dir / "hdr.goff").string()));
    EXPECT_EQ(r.rc, 12);
    EXPECT_TRUE(r.listedPrefix("VRL164S Unexpected end of file while reading SYSLIN: GOFF module "
                               "END record not read"));
    EXPECT_TRUE(r.listed("VRL159W Object module discarded due to errors."));

    // A record error names the first physical record of its logical record and shows them all.
    writeFile(dir / "bad.goff", module({goffHdr(), goffSd(1, "A"), goffEd(2, 1, "B_TEXT", 0, 8),
                                        goffTxt(2, 0, std::string(90, 'x')), goffEnd()}));
    r = runJob(dir, syslin((dir / "bad.goff").string()));
    EXPECT_EQ(r.rc, 12);
    EXPECT_TRUE(r.listedPrefix("VRL161S Invalid GOFF TXT record; SYSLIN record 4"));
    size_t separators = 0;
    for (const std::string& l : r.body()) separators += l == "        " + std::string(80, '-');
    EXPECT_EQ(separators, 1u); // two physical records
    EXPECT_TRUE(r.listed("VRL159W Object module discarded due to errors."));
}

// A GOFF module and an object deck in one module: each refers to the other; the GOFF section's
// assembled origin (0x100) does not matter once it is laid out.
TEST(GoffInput, LinksWithObjectDecks) {
    TempDir dir;
    std::string mainText(16, '\x07');
    writeFile(dir / "main.obj",
              deck({esd(1, {sd("MAIN", 0, 16), er("SUBENT")}), txt(1, 0, mainText),
                    rld(rldEntry(2, 1, 0x1C, 8)), end(1, 0)}));
    const std::string subText("\xFF\xFF\xFF\xFF\x47\xF0\x00\x00", 8);
    writeFile(
        dir / "sub.goff",
        module({goffHdr(), goffSd(1, "SUBG"), goffEd(2, 1, "B_TEXT", 0x100, 8),
                goffLd(3, 2, "SUBENT", 0x104), goffEr(4, 1, "MAIN"), goffTxt(2, 0x100, subText),
                goffRld({RldItem(4, 2, 0x100).act(0x01)}), goffEnd()}));
    JobSpec setup;
    setup.parm = "COMPAT=LKED";
    setup.syslin = {(dir / "main.obj").string(), (dir / "sub.goff").string()};
    setup.member = "MIXED";
    const JobResult r = runJob(dir, setup);
    ASSERT_EQ(r.rc, 0);
    const Saved saved = readSaved(dir / "load" / "MIXED");
    ASSERT_TRUE(saved.ok);
    opx::LoadModuleImage m;
    ASSERT_EQ(readImage(saved.entry, saved.records, m), "");
    // MAIN at 0, SUBG after it at 16 (its label at 20); V(SUBENT) in MAIN and V(MAIN) in SUBG.
    std::map<std::string, const opx::CesdEntry*> byName;
    for (const opx::CesdEntry& e : m.cesd)
        byName[std::string(reinterpret_cast<const char*>(e.bytes), 8)] = &e;
    const opx::CesdEntry* main = byName[ebcdic("MAIN    ")];
    const opx::CesdEntry* sub = byName[ebcdic("SUBG    ")];
    const opx::CesdEntry* label = byName[ebcdic("SUBENT  ")];
    ASSERT_TRUE(main && sub && label);
    EXPECT_EQ(main->address, 0u);
    EXPECT_EQ(sub->address, 16u);
    EXPECT_EQ(sub->length, 8u);
    EXPECT_EQ(label->type(), loadmod::kLR);
    EXPECT_EQ(label->address, 20u);
    EXPECT_EQ(std::vector<uint8_t>(m.text.begin() + 8, m.text.begin() + 12),
              (std::vector<uint8_t>{0, 0, 0, 0x14}));
    EXPECT_EQ(std::vector<uint8_t>(m.text.begin() + 16, m.text.end()),
              (std::vector<uint8_t>{0, 0, 0, 0, 0x47, 0xF0, 0, 0}));
    ASSERT_EQ(main->relocation.size(), 1u);
    EXPECT_EQ(m.find(main->relocation[0].relocationPointer), label);
    ASSERT_EQ(sub->relocation.size(), 1u);
    EXPECT_EQ(sub->relocation[0].address, 16u);
    EXPECT_EQ(m.find(sub->relocation[0].relocationPointer), main);
}

// A loadable class other than B_TEXT becomes another element of its section.
TEST(GoffInput, ClassesOfASection) {
    TempDir dir;
    writeFile(dir / "cls.goff",
              module({goffHdr(), goffSd(1, "CLS"), goffEd(2, 1, "B_TEXT", 0, 8),
                      goffEd(3, 1, "C_DATA", 0, 24), goffLd(4, 3, "DATA1", 16),
                      goffTxt(2, 0, std::string(8, '\x07')), goffTxt(3, 0, std::string(24, '\x01')),
                      goffRld({RldItem(4, 2, 0)}), goffEnd(1, 2, 0)}));
    JobSpec setup;
    setup.parm = "LIST=ALL,MAP";
    setup.syslin = {(dir / "cls.goff").string()};
    setup.member = "CLS";
    const JobResult r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 0);
    const std::vector<std::string> body = r.body();
    auto at = [&](const std::string& prefix) {
        for (size_t i = 0; i < body.size(); ++i)
            if (body[i].rfind(prefix, 0) == 0) return i;
        return body.size();
    };
    const size_t data = at("CLASS  C_DATA");
    ASSERT_LT(data, body.size()) << r.listing.size();
    EXPECT_LT(at("CLASS  B_TEXT"), data);
    bool section = false, label = false;
    for (size_t i = data; i < body.size() && i < data + 8; ++i) {
        section |= body[i].find(" CLS ") != std::string::npos;
        label |= body[i].find(" DATA1 ") != std::string::npos;
    }
    EXPECT_TRUE(section && label);
}
