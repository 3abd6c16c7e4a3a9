// Delink and relink over the corpus: every load module in the corpus's transmit files, and the
// bare load modules under loadmod/ (made into member files and transmitted with bren), is
// delinked by the extractor, linked again by the linkage editor from that deck alone, and the
// new module is compared with the original field by field: text, relocation, external symbols,
// entry point, aliases and attributes.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "linkedit_support.h"
#include "loadmod_format.h"
#include "loadmodule.h"
#include "opxcore.h"
#include "reader.h"
#include "runtime.h"
#include "saved_module.h"
#include "shared_dir.h"
#include "unload_format.h"

using namespace lt;
namespace fs = std::filesystem;

namespace {

void put(Bytes& b, size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}

// The records of a member written with 2-byte length prefixes (extract format len2).
std::vector<Bytes> prefixedRecords(const fs::path& path) {
    const std::string f = readFile(path);
    std::vector<Bytes> out;
    for (size_t at = 0; at + 2 <= f.size();) {
        const uint32_t n = be(reinterpret_cast<const uint8_t*>(f.data()) + at, 2);
        out.emplace_back(f.begin() + static_cast<long>(at) + 2,
                         f.begin() + static_cast<long>(at + 2 + n));
        at += 2 + n;
    }
    return out;
}

// Runs an extraction request to its end, replacing files; false with the message on failure.
bool extractAll(XmitHandle* h, unsigned dataSet, int type, int format, const std::string& target,
                std::string& message) {
    ExtractBlock r{};
    r.type = type;
    r.format = format;
    r.target = target.c_str();
    r.dataSet = dataSet;
    r.lrecl = 32767; // the records of a load module are as long as its blocks
    int result = eXmitFileExtract(EXTRACT_GO, h, &r);
    while (result != EXTRACT_RESULT_DONE) result = eXmitFileExtract(EXTRACT_GO, h, &r);
    message = r.message ? r.message : "";
    const bool ok = r.severity == 0;
    eXmitFileExtract(EXTRACT_STOP, h, &r);
    return ok;
}

// ---- comparing two modules ------------------------------------------------------------------

std::string name(const opx::CesdEntry& e) {
    std::string n;
    for (int i = 0; i < 8 && e.bytes[i] > 0x40; ++i) n += static_cast<char>(e.bytes[i]);
    return n;
}
bool sectionType(uint8_t t) {
    return loadmod::isSection(t);
}
// What a relocation pointer names: an address for what lies in the module, a name otherwise.
std::string targetOf(const opx::LoadModuleImage& m, const opx::RelocationItem& r) {
    if (loadmod::isCxd(r.flags, r.relocationPointer)) return "CXD";
    const opx::CesdEntry* e = m.find(r.relocationPointer);
    if (e == nullptr) return "?";
    const uint8_t t = e->type();
    if (sectionType(t) || t == loadmod::kLR) return "@" + std::to_string(e->address);
    return std::string(t == loadmod::kPR ? "PR " : "ER ") + name(*e);
}

// The external symbols, relocation and identification of a module in a form that does not
// depend on ESDID numbers.
std::vector<std::string> symbols(const opx::LoadModuleImage& m) {
    std::vector<std::string> out;
    for (const opx::CesdEntry& e : m.cesd) {
        const uint8_t t = e.type();
        std::string line;
        if (sectionType(t)) {
            const char* kind = t == loadmod::kCM || t == loadmod::kCM2   ? "CM"
                               : t == loadmod::kPC || t == loadmod::kPC2 ? "PC"
                                                                         : "SD";
            line = std::string(kind) + " " + name(e) + " @" + std::to_string(e.address) + " L" +
                   std::to_string(e.length);
            if (e.identifyLength > 0)
                line += " identify " +
                        std::string(reinterpret_cast<const char*>(e.identify), e.identifyLength);
            for (unsigned i = 0; i < e.translatorCount; ++i)
                line += " translator " +
                        std::string(reinterpret_cast<const char*>(e.translator[i]), 15);
            std::vector<std::string> rld;
            for (const opx::RelocationItem& r : e.relocation)
                rld.push_back(std::to_string(r.address) + "/" + std::to_string(r.flags) + "/" +
                              targetOf(m, r));
            std::sort(rld.begin(), rld.end());
            for (const std::string& r : rld) out.push_back(line + " rld " + r);
        } else if (t == loadmod::kLR) {
            line = "LR " + name(e) + " @" + std::to_string(e.address);
        } else if (t == loadmod::kPR) {
            line = "PR " + name(e) + " L" + std::to_string(e.length);
        } else {
            line = std::string(t == loadmod::kWX ? "WX " : "ER ") + name(e);
        }
        out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// Module attributes that a relink must keep.
std::string attributes(const DirectoryEntryInfo& i) {
    const uint32_t kept = DE_RENT | DE_REUS | DE_REFR | DE_TEST | DE_ONLY | DE_SCTR | DE_OVLY |
                          DE_NOT_EXECUTABLE | DE_NOT_EDITABLE | DE_PAGE_ALIGNED | DE_SSI |
                          DE_AMODE_MASK | DE_RMODE_ANY;
    char b[64];
    std::snprintf(b, sizeof b, "%08X AC %u SSI %02X%02X%02X%02X", i.flags & kept,
                  (i.flags & DE_APF) ? i.flags & 0xFF : 0, i.ssi[0], i.ssi[1], i.ssi[2], i.ssi[3]);
    return b;
}

// "" when the modules agree, else what differs first.
std::string compare(const opx::LoadModuleImage& a, const opx::LoadModuleImage& b) {
    if (a.info.moduleSize != b.info.moduleSize)
        return "module size " + std::to_string(a.info.moduleSize) + " against " +
               std::to_string(b.info.moduleSize);
    // The text of the sections (bytes that no section holds, such as alignment padding, are in
    // no object module).
    std::vector<bool> inSection(a.text.size(), false);
    for (const opx::CesdEntry& e : a.cesd)
        if (sectionType(e.type()))
            for (uint32_t k = e.address; k < e.address + e.length && k < inSection.size(); ++k)
                inSection[k] = true;
    size_t differs = a.text.size();
    for (size_t k = 0; k < a.text.size() && differs == a.text.size(); ++k)
        if (inSection[k] && a.text[k] != b.text[k]) differs = k;
    if (differs != a.text.size()) {
        // The bytes around it, and the constant that lies there, if any.
        const size_t at = differs;
        std::string what = "text differs at " + std::to_string(at) + ":";
        char hex[4];
        for (size_t k = at & ~size_t{7}; k < std::min(a.text.size(), (at & ~size_t{7}) + 8); ++k) {
            std::snprintf(hex, sizeof hex, " %02X", a.text[k]);
            what += hex;
            std::snprintf(hex, sizeof hex, "/%02X", b.text[k]);
            what += hex;
        }
        for (const opx::CesdEntry& e : a.cesd)
            for (const opx::RelocationItem& r : e.relocation)
                if (r.address <= at && at < r.address + loadmod::constantLength(r.flags))
                    what += " constant at " + std::to_string(r.address) + " flags " +
                            std::to_string(r.flags) + " to " + targetOf(a, r);
        return what;
    }
    if (a.info.entryPoint != b.info.entryPoint) return "entry point";
    if (attributes(a.info) != attributes(b.info))
        return "attributes " + attributes(a.info) + " against " + attributes(b.info);
    const std::vector<std::string> sa = symbols(a), sb = symbols(b);
    for (size_t i = 0; i < std::max(sa.size(), sb.size()); ++i) {
        const std::string x = i < sa.size() ? sa[i] : "", y = i < sb.size() ? sb[i] : "";
        if (x != y) return "symbols: " + x + " | " + y;
    }
    return "";
}

// ---- bare load modules ----------------------------------------------------------------------

// The records of a load module stored one after the other without lengths: each record's
// length follows from its own fields.
bool splitRecords(const std::string& raw, std::vector<Bytes>& records, size_t& firstText) {
    const auto* d = reinterpret_cast<const uint8_t*>(raw.data());
    size_t at = 0;
    uint32_t text = 0;
    bool textNext = false;
    while (at < raw.size()) {
        size_t n = 0;
        if (textNext) {
            n = text;
            textNext = false;
            if (firstText == 0) firstText = records.size() + 1;
        } else if (loadmod::isControl(d[at])) {
            n = 16 + be(d + at + 4, 2) + be(d + at + 6, 2);
            textNext = (d[at] & loadmod::kTextFollows) != 0;
            text = be(d + at + 14, 2);
        } else if (d[at] == loadmod::kCesd) {
            n = 8 + be(d + at + 6, 2);
        } else if (d[at] == loadmod::kScatter || d[at] == loadmod::kSym) {
            n = 4 + be(d + at + 2, 2);
        } else if (d[at] == loadmod::kIdr) {
            n = d[at + 1] + 1u;
        } else {
            return false;
        }
        if (at + n > raw.size()) return false;
        records.emplace_back(d + at, d + at + n);
        at += n;
    }
    return true;
}

// A member file as the linkage editor saves it with COMPAT=LKED, for a bare module: an
// executable module of the size its sections reach, entered at 0.
Bytes lkedFile(const std::vector<Bytes>& records, size_t firstText) {
    uint32_t size = 0;
    for (const Bytes& r : records) {
        if (r[0] != loadmod::kCesd) continue;
        for (size_t at = loadmod::kCesdEntries; at + 16 <= r.size(); at += 16) {
            const uint8_t t = r[at + 8] & 0x0F;
            if (sectionType(t)) size = std::max(size, be(&r[at + 9], 3) + be(&r[at + 13], 3));
        }
    }
    size = (size + 7) / 8 * 8;
    Bytes user(22, 0);
    put(user, unload::kLmTextTtr - 12, static_cast<uint32_t>(firstText), 3);
    user[unload::kLmAttr1 - 12] = unload::kAttr1Exec;
    put(user, unload::kLmSize - 12, size, 3);
    Bytes h(loadmod::kHeaderLength, 0);
    std::copy(std::begin(loadmod::kHeaderId), std::end(loadmod::kHeaderId), h.begin());
    put(h, loadmod::kHeaderVersion, 2, 4);
    put(h, loadmod::kHeaderSize, 0x100, 2);
    h[loadmod::kHeaderEntryLength] = static_cast<uint8_t>(4 + user.size());
    h[loadmod::kHeaderIndicator] = static_cast<uint8_t>(user.size() / 2);
    std::copy(user.begin(), user.end(), h.begin() + loadmod::kHeaderUserData);
    put(h, loadmod::kHeaderModuleSize, size, 4);
    Bytes body(loadmod::kDescriptorLength, 0);
    body[0] = loadmod::kDescriptorId[0];
    body[1] = loadmod::kDescriptorId[1];
    uint32_t largest = 0;
    for (const Bytes& r : records) {
        largest = std::max<uint32_t>(largest, static_cast<uint32_t>(r.size()));
        body.push_back(static_cast<uint8_t>(r.size() >> 8));
        body.push_back(static_cast<uint8_t>(r.size()));
        body.insert(body.end(), r.begin(), r.end());
    }
    put(body, loadmod::kDescriptorBlockLength, largest, 2);
    put(body, loadmod::kDescriptorRecords, static_cast<uint32_t>(records.size()), 4);
    put(h, loadmod::kHeaderLkedLength, static_cast<uint32_t>(body.size()), 4);
    put(h, loadmod::kHeaderDescriptor, loadmod::kHeaderLength, 4);
    h.insert(h.end(), body.begin(), body.end());
    return h;
}

// ---- the round trip -------------------------------------------------------------------------

struct Tally {
    unsigned modules = 0, aliases = 0;
    std::map<std::string, unsigned> refused;
};

// Every load module of every load library of a transmit file.
void roundTrip(const std::string& xmit, const TempDir& work, Tally& tally) {
    SCOPED_TRACE(xmit);
    XmitHandle* h = pXmitFileOpen(xmit.c_str());
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->message, nullptr) << h->message;
    for (unsigned n = 1; n <= h->fileCount; ++n) {
        if (h->dataSets[n - 1].kind != XMIT_KIND_PARTITIONED) continue;
        XmitDataSet* ds = pxhXmitFileLoadDir(h, n);
        if (ds == nullptr || !ds->loadLibrary) continue;
        const fs::path dir = work / (fs::path(xmit).filename().string() + "." + std::to_string(n));
        for (const char* sub : {"orig", "deck", "new", "list"}) fs::create_directories(dir / sub);
        std::string message;
        ASSERT_TRUE(extractAll(h, n, EXTRACT_TYPE_CONVERT, EXTRACT_FORMAT_LENGTH2,
                               (dir / "orig/&M").string(), message))
            << message;
        ASSERT_TRUE(extractAll(h, n, EXTRACT_TYPE_DELINK, EXTRACT_FORMAT_FIXED,
                               (dir / "deck/&M.obj").string(), message))
            << message;
        for (unsigned i = 0; i < ds->entryCount; ++i) {
            const uint8_t* e = opx::directoryEntry(ds, i);
            if (e[unload::kEntryIndicator] & unload::kAlias) continue;
            std::string member;
            for (int k = 0; k < 8 && e[k] > 0x40; ++k)
                member += static_cast<char>(rt::ebcdicToAscii()[e[k]]);
            SCOPED_TRACE(member);
            DirectoryEntryInfo info;
            opx::decodeLoadModuleEntry(e, opx::entryLength(e), &info);
            if (info.flags & (DE_PROGRAM_OBJECT | DE_NOT_EDITABLE | DE_OVLY)) {
                ++tally.refused[member];
                EXPECT_FALSE(fs::exists(dir / "deck" / (member + ".obj")));
                continue;
            }
            const Bytes entry(e, e + opx::entryLength(e));
            opx::LoadModuleImage original;
            ASSERT_EQ(readImage(entry, prefixedRecords(dir / "orig" / member), original), "");
            // The deck alone makes the module again.
            JobSpec setup;
            setup.parm = "COMPAT=LKED,NCAL"; // as they were: some references stay unresolved
            setup.syslin = {(dir / "deck" / (member + ".obj")).string()};
            setup.syslmod = (dir / "new/&M").string();
            setup.sysprint = (dir / "list" / (member + ".lst")).string();
            setup.systerm = std::string();
            const JobResult job = runJob(work, setup);
            if (job.rc > 4) {
                std::string messages;
                for (const std::string& l : lines(readFile(*setup.sysprint)))
                    if (l.rfind(" VRL", 0) == 0 && l.size() > 8 && l[7] != 'I')
                        messages += l + "\n";
                ADD_FAILURE() << "return code " << job.rc << "\n" << messages;
            }
            const Saved saved = readSaved(dir / "new" / member);
            ASSERT_TRUE(saved.ok);
            opx::LoadModuleImage relinked;
            ASSERT_EQ(readImage(saved.entry, saved.records, relinked), "");
            EXPECT_EQ(compare(original, relinked), "");
            ++tally.modules;
            // Its aliases, each a member file of its own with the same entry point.
            for (unsigned k = 0; k < ds->entryCount; ++k) {
                const uint8_t* a = opx::directoryEntry(ds, k);
                if (!(a[unload::kEntryIndicator] & unload::kAlias) ||
                    opx::entryTtr(a) != opx::entryTtr(e))
                    continue;
                std::string alias;
                for (int c = 0; c < 8 && a[c] > 0x40; ++c)
                    alias += static_cast<char>(rt::ebcdicToAscii()[a[c]]);
                DirectoryEntryInfo aliasInfo;
                opx::decodeLoadModuleEntry(a, opx::entryLength(a), &aliasInfo);
                const Saved s = readSaved(dir / "new" / alias);
                ASSERT_TRUE(s.ok) << alias;
                EXPECT_TRUE(s.entry[11] & unload::kAlias) << alias;
                DirectoryEntryInfo newInfo;
                opx::decodeLoadModuleEntry(s.entry.data(), static_cast<unsigned>(s.entry.size()),
                                           &newInfo);
                EXPECT_EQ(newInfo.entryPoint, aliasInfo.entryPoint) << alias;
                ++tally.aliases;
            }
        }
    }
    vXmitFileClose(h);
}

} // namespace

TEST(RelinkCorpus, EveryLoadModuleComesBackTheSame) {
    REQUIRE_SHARED(corpus, "corpus");
    TempDir work;
    Tally tally;
    std::vector<std::string> files;
    for (const auto& f : fs::directory_iterator(corpus + "/xmit/load"))
        files.push_back(f.path().string());
    files.push_back(corpus + "/xmit/large/sw_KICKS_SSKIKLOD_load.xmi");
    std::sort(files.begin(), files.end());

    // The bare modules: member files, transmitted with bren.
    const fs::path bare = work / "bare";
    fs::create_directories(bare);
    unsigned bareModules = 0;
    for (const auto& f : fs::recursive_directory_iterator(corpus + "/loadmod")) {
        if (f.path().extension() != ".bin") continue;
        std::string member = f.path().stem().string();
        member = member.substr(0, member.find_first_of(".-"));
        for (char& c : member) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::vector<Bytes> records;
        size_t firstText = 0;
        ASSERT_TRUE(splitRecords(readFile(f.path()), records, firstText)) << f.path();
        const Bytes file = lkedFile(records, firstText);
        writeFile(bare / member, std::string(file.begin(), file.end()));
        ++bareModules;
    }
    const std::string bareXmit = (work / "loadmod.xmi").string();
    const testsupport::CommandResult bren =
        testsupport::runCommand(testsupport::quote(BREN_PATH) + " create " +
                                testsupport::quote(bareXmit) + " --dsn CORPUS.LOADMOD " +
                                "--input-kind load " + testsupport::quote((bare / "&M").string()));
    ASSERT_EQ(bren.exitCode, 0) << bren.out << bren.err;
    files.push_back(bareXmit);

    for (const std::string& f : files) roundTrip(f, work, tally);
    // What the corpus holds (opx list of each file): 160 load modules with 9 aliases in the
    // transmit files, 17 bare modules, none that delink refuses.
    EXPECT_EQ(bareModules, 17u);
    EXPECT_EQ(tally.modules, 177u);
    EXPECT_EQ(tally.aliases, 9u);
    EXPECT_TRUE(tally.refused.empty());
}
