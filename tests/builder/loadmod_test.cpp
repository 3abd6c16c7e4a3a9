// Load libraries: member files saved by the linkage editor (COMPAT=LKED) are checked before
// anything is transmitted, their directory entries packed, and their records placed as the
// member's blocks with the track addresses put into the entries. Real modules come from the
// load libraries of the shared corpus (skipped, saying so, when absent).
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gmock/gmock.h>

#include "build_support.h"
#include "loadmod_input.h"
#include "shared_dir.h"

using namespace btest;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

struct Module {
    std::string name;
    Bytes userData; // directory entry from offset 12, its TTRs as record numbers of the file
    std::vector<Bytes> records;
};

void put(std::string& s, size_t at, uint32_t v, unsigned width) {
    for (unsigned i = 0; i < width; ++i) s[at + i] = static_cast<char>(v >> (8 * (width - 1 - i)));
}

// A member file in the layout the linkage editor saves: the header, the "LM" descriptor and
// the records behind 2-byte lengths. `edit` may spoil any byte of it afterwards.
std::string moduleFile(const Module& m, const std::function<void(std::string&)>& edit = nullptr) {
    std::string f(256, '\0');
    put(f, 0, 0xF3F9F040, 4);
    put(f, 4, 2, 4);
    put(f, 8, 0x0100, 2);
    f[28] = static_cast<char>(4 + m.userData.size());
    f.replace(34, m.userData.size(), bytesOf(m.userData));
    size_t records = 0, longest = 0;
    for (const Bytes& r : m.records) records += 2 + r.size(), longest = std::max(longest, r.size());
    put(f, 196, static_cast<uint32_t>(16 + records), 4);
    put(f, 204, 256, 4);
    std::string d(16, '\0');
    d[0] = '\xD3';
    d[1] = '\xD4';
    put(d, 6, static_cast<uint32_t>(longest), 2);
    put(d, 8, static_cast<uint32_t>(m.records.size()), 4);
    f += d;
    for (const Bytes& r : m.records) {
        f += std::string{static_cast<char>(r.size() >> 8), static_cast<char>(r.size())};
        f += bytesOf(r);
    }
    if (edit) edit(f);
    return f;
}

// A small module: a CESD record of one section of 16 bytes, a control record and its text.
Module smallModule(const std::string& name) {
    Module m{name, Bytes(22, 0), {}};
    m.records.push_back(Bytes{0x20, 0, 0, 0, 0, 1, 0, 16});
    xmitw::append(m.records.back(), xmitw::name8(name));
    xmitw::append(m.records.back(), Bytes{0, 0, 0, 0, 0, 0, 0, 16});
    m.records.push_back(
        Bytes{0x01, 0, 0, 0, 0, 4, 0, 0, 0x06, 0, 0, 0, 0x40, 0, 0, 16, 0, 1, 0, 16});
    m.records.push_back(Bytes(16, 0x07));
    m.userData[2] = 3;    // the first text record is the file's third
    m.userData[8] = 0x02; // executable
    m.userData[12] = 16;  // module size
    m.userData[14] = 16;  // length of the first text record
    return m;
}

// The modules of a load library in a transmit file, their TTRs made record numbers.
std::vector<Module> libraryModules(const std::string& path, std::string* error) {
    std::vector<Module> out;
    auto h = open(path);
    XmitDataSet* ds = h->message == nullptr ? pxhXmitFileLoadDir(h.get(), h->fileCount) : nullptr;
    if (ds == nullptr) {
        *error = h->message ? h->message : "no directory";
        return out;
    }
    std::map<uint32_t, const uint8_t*> entries; // TTR -> real (not alias) entry
    for (unsigned i = 0; i < ds->entryCount; ++i) {
        const uint8_t* e = opx::directoryEntry(ds, i);
        if (!(e[11] & 0x80)) entries.emplace((uint32_t(e[8]) << 16) | (e[9] << 8) | e[10], e);
    }
    MemberCursor c;
    if (!opx::startMembers(h.get(), ds, &c, nullptr, 0)) return out;
    for (size_t k = 0; k < entries.size(); ++k) {
        uint32_t ttr = 0;
        if (opx::peekBlockTtr(h.get(), ds, &c, &ttr) != MEMBER_RECORD || !entries.count(ttr)) break;
        const uint8_t* e = entries[ttr];
        Module m;
        char name[9];
        rt::translateText(e, 8, name, sizeof name);
        m.name = name;
        m.name.erase(m.name.find_last_not_of(' ') + 1);
        m.userData.assign(e + 12, e + opx::entryLength(e));
        std::map<uint32_t, uint32_t> numberOf; // TTR -> record number
        while (opx::readMemberRecord(h.get(), ds, &c) == MEMBER_RECORD) {
            m.records.emplace_back(c.record, c.record + c.recordLength);
            numberOf.emplace(c.blockTtr, static_cast<uint32_t>(m.records.size()));
        }
        auto renumber = [&](size_t at) {
            const uint32_t t =
                (uint32_t(m.userData[at]) << 16) | (m.userData[at + 1] << 8) | m.userData[at + 2];
            const uint32_t n = numberOf.count(t) ? numberOf[t] : 0;
            m.userData[at] = static_cast<uint8_t>(n >> 16);
            m.userData[at + 1] = static_cast<uint8_t>(n >> 8);
            m.userData[at + 2] = static_cast<uint8_t>(n);
        };
        renumber(0);
        if (m.userData[7] != 0) renumber(4);
        out.push_back(std::move(m));
    }
    return out;
}

class LoadModules : public testing::Test {
  protected:
    void SetUp() override {
        connect();
        fs::create_directories(dir_ / "lib");
    }
    void add(const Module& m, const std::function<void(std::string&)>& edit = nullptr) {
        testsupport::writeFile(dir_ / "lib" / (m.name + ".bin"), moduleFile(m, edit));
    }
    Request request(const std::vector<std::string>& names) {
        Request q((dir_ / "load.xmi").string(), (dir_ / "lib" / "&M.bin").string(), "U", 0, 6144);
        q.r.inputKind = INPUT_LOAD_MODULES;
        q.setMembers(names);
        return q;
    }
    testsupport::TempDir dir_;
};

} // namespace

TEST_F(LoadModules, RealModulesTravelWithTheirDirectoryEntries) {
    REQUIRE_SHARED(libraries, "corpus/xmit/load");
    int checked = 0;
    for (const char* library :
         {"cc370_e2e_iewl.xmit", "ibm_rackill_load.xmit", "sw_CBT547_LOAD.xmi"}) {
        SCOPED_TRACE(library);
        std::string error;
        const auto modules = libraryModules(libraries + "/" + library, &error);
        ASSERT_FALSE(modules.empty()) << error;
        fs::remove_all(dir_ / "lib");
        fs::create_directories(dir_ / "lib");
        std::vector<std::string> names;
        for (const Module& m : modules) {
            add(m);
            names.push_back(m.name);
        }
        Request q = request(names);
        unsigned smallest = 0;
        q.r.minimumDirectoryBlocks = uComputeDirBlocks(&q.r, &smallest);
        ASSERT_GT(q.r.minimumDirectoryBlocks, 0u) << (q.r.message ? q.r.message : "");
        q.r.directoryBlocks = q.r.minimumDirectoryBlocks;
        q.r.blksize = std::max(smallest, 6144u);
        ASSERT_EQ(q.create(), 0) << q.message;

        auto h = open(q.out);
        ASSERT_EQ(h->message, nullptr) << h->message;
        XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
        ASSERT_NE(ds, nullptr) << h->message;
        EXPECT_EQ(ds->loadLibrary, 1);
        ASSERT_EQ(ds->entryCount, modules.size());
        // Each entry: the module's user data, its first-text TTR that of the record after the
        // first control record, and the same display line as the mainframe's entry.
        std::map<std::string, const Module*> byName;
        for (const Module& m : modules) byName[m.name] = &m;
        MemberCursor c;
        ASSERT_TRUE(opx::startMembers(h.get(), ds, &c, nullptr, 0));
        for (unsigned i = 0; i < ds->entryCount; ++i) {
            const uint8_t* e = opx::directoryEntry(ds, i);
            char name[9];
            rt::translateText(e, 8, name, sizeof name);
            std::string n(name);
            n.erase(n.find_last_not_of(' ') + 1);
            SCOPED_TRACE(n);
            ASSERT_EQ(byName.count(n), 1u);
            const Module& m = *byName[n];
            const Bytes ud(e + 12, e + opx::entryLength(e));
            ASSERT_EQ(ud.size(), m.userData.size());
            EXPECT_EQ(Bytes(ud.begin() + 7, ud.end()),
                      Bytes(m.userData.begin() + 7, m.userData.end()));
            std::vector<Bytes> records;
            std::vector<uint32_t> ttrs;
            int st;
            while ((st = opx::readMemberRecord(h.get(), ds, &c)) == MEMBER_RECORD) {
                records.emplace_back(c.record, c.record + c.recordLength);
                ttrs.push_back(c.blockTtr);
            }
            ASSERT_EQ(st, MEMBER_END) << h->message;
            EXPECT_TRUE(records == m.records);
            const uint32_t first = (m.userData[0] << 16) | (m.userData[1] << 8) | m.userData[2];
            ASSERT_GE(first, 1u);
            ASSERT_LE(first, ttrs.size());
            EXPECT_EQ((uint32_t(ud[0]) << 16) | (ud[1] << 8) | ud[2], ttrs[first - 1]);
            ++checked;
        }
    }
    EXPECT_GT(checked, 3);
}

TEST_F(LoadModules, EveryRefusalOfAMemberFile) {
    const Module good = smallModule("GOOD");
    add(good);
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
        std::string message;
    } cases[] = {
        {"header", [](std::string& f) { f[0] = 0; }, "Member BAD is not a valid load module."},
        {"short", [](std::string& f) { f.resize(100); }, "Member BAD is not a valid load module."},
        {"version", [](std::string& f) { put(f, 4, 3, 4); },
         "Member BAD is a version 3 load module and cannot be transmitted."},
        {"not executable", [](std::string& f) { f[251] = 0x08; },
         "Member BAD is marked as not executable and cannot be transmitted."},
        {"alias", [](std::string& f) { f[33] = '\x80'; },
         "Member BAD is an alias and cannot be transmitted."},
        {"no LKED part", [](std::string& f) { put(f, 196, 0, 4); },
         "Member BAD was not saved using COMPAT=LKED and cannot be transmitted."},
        {"LKED part too short", [](std::string& f) { put(f, 196, 16, 4); },
         "Member BAD is not a valid load module."},
        {"descriptor past the end", [](std::string& f) { put(f, 204, 100000, 4); },
         "Member BAD is not a valid load module."},
        {"descriptor id", [](std::string& f) { f[257] = 'M'; },
         "Member BAD is not a valid load module."},
        {"no records", [](std::string& f) { put(f, 256 + 8, 0, 4); },
         "Member BAD is not a valid load module."},
        {"no block length", [](std::string& f) { put(f, 256 + 6, 0, 2); },
         "Member BAD is not a valid load module."},
        {"odd entry", [](std::string& f) { f[28] = 27; }, "Member BAD is not a valid load module."},
        {"entry too long", [](std::string& f) { f[28] = 68; },
         "Member BAD is not a valid load module."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Module bad = smallModule("BAD");
        add(bad, c.edit);
        Request q = request({"BAD", "GOOD"});
        EXPECT_EQ(q.r.minimumDirectoryBlocks, 0u);
        EXPECT_EQ(std::string(q.r.message ? q.r.message : ""), c.message);
        EXPECT_EQ(q.r.returnCode, 16);
    }
    // A member file that is missing, one that cannot be opened, one that cannot be read.
    fs::remove(dir_ / "lib" / "BAD.bin");
    Request missing = request({"BAD", "GOOD"});
    EXPECT_EQ(std::string(missing.r.message),
              "Member BAD does not exist as file \"" + (dir_ / "lib" / "BAD.bin").string() + "\"");
    bren::LoadModuleFile file;
    Bytes userData;
    EXPECT_EQ(bren::examineLoadModule("DIR", dir_.path().string(), file, userData),
              "Error reading \"" + dir_.path().string() + "\": Is a directory");
    add(smallModule("LOCKED"));
    fs::permissions(dir_.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_ / "lib",
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_ / "lib" / "LOCKED.bin", fs::perms::none);
    const std::string locked = (dir_ / "lib" / "LOCKED.bin").string();
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        const std::string m = bren::examineLoadModule("LOCKED", locked, file, userData);
        _exit(m == "Cannot read member LOCKED as file \"" + locked + "\": Permission denied" ? 0
                                                                                             : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(LoadModules, RecordsThatCannotBeTransmitted) {
    struct Case {
        const char* what;
        std::function<void(Module&)> change;
        std::function<void(std::string&)> edit;
        std::string message;
    } cases[] = {
        {"a record length past the records", nullptr, [](std::string& f) { f[256 + 16] = 0x7F; },
         "Invalid LMF RDW at +272"},
        {"text beyond the module", [](Module& m) { m.records[1][11] = 8; }, nullptr,
         "Invalid LMF control record at +298, text address=00000008 length=0010"},
        {"a record the extractor does not know", [](Module& m) { m.records[0][0] = 0x05; }, nullptr,
         "Load module record 1 ID 05 is not supported"},
        {"a text reference to no record", [](Module& m) { m.userData[2] = 9; }, nullptr,
         "Internal error: TTR for record 9 of member BAD not found."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Module bad = smallModule("BAD");
        if (c.change) c.change(bad);
        add(bad, c.edit);
        Request q = request({"BAD"});
        ASSERT_EQ(q.r.minimumDirectoryBlocks, 1u) << (q.r.message ? q.r.message : "");
        EXPECT_EQ(q.create(), 16);
        EXPECT_THAT(q.message, HasSubstr(c.message));
        EXPECT_FALSE(fs::exists(q.out));
    }
    // The block size must hold the module's longest record.
    add(smallModule("SMALL"));
    Request q = request({"SMALL"});
    q.r.blksize = 20;
    EXPECT_EQ(q.create(), 16);
    EXPECT_EQ(q.message, "Member SMALL needs a BLKSIZE of at least 24");
}

TEST_F(LoadModules, DirectoryBlocksPackTheEntries) {
    // Entries of 74 bytes: three fill a block of 254 bytes; the end entry (12) fits after three.
    std::vector<std::string> names;
    for (int i = 0; i < 7; ++i) {
        Module m = smallModule("M" + std::to_string(i));
        m.userData.resize(62);
        if (i == 4) m.records.push_back(Bytes{0x40, 0, 0, 0x50}), m.records.back().resize(84, 0x40);
        add(m);
        names.push_back(m.name);
    }
    unsigned smallest = 0;
    Request six = request({names.begin(), names.begin() + 6});
    EXPECT_EQ(uComputeDirBlocks(&six.r, &smallest), 2u);
    Request seven = request(names);
    EXPECT_EQ(uComputeDirBlocks(&seven.r, &smallest), 3u);
    EXPECT_EQ(smallest, 84u); // the longest record of any member
    ASSERT_EQ(seven.create(), 0) << seven.message;
    auto h = open(seven.out);
    XmitDataSet* ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << h->message;
    EXPECT_EQ(ds->entryCount, 7u);
    EXPECT_EQ(ds->entryLength, 74u);
}
