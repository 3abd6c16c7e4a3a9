// opx extract --type relink from the outside: the linkage editor vrl beside opx run on each
// member, with listings per member and for all members, and its return codes 0, 4 and 8; a
// copy of opx beside a stand-in binder shows an abnormal end.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "run_command.h"
#include "xmit_writer.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A load library of two modules: ONE, a section MAIN of 16 bytes with a V-type constant to
// EXT at offset 8 (a reference that stays unresolved), and SELF, the same section alone.
std::string loadLibrary(const TempDir& dir) {
    using xmitw::Bytes;
    xmitw::Pds pds;
    pds.dsname = "DEMO.LOAD";
    pds.recfm = 0xC0;
    pds.lrecl = 0;
    pds.blksize = 6144;
    Bytes cesd = {0x20, 0x80, 0, 0, 0, 1, 0, 32};
    xmitw::append(cesd, xmitw::name8("MAIN"));
    xmitw::append(cesd, {0x00, 0, 0, 0, 0, 0, 0, 16});
    xmitw::append(cesd, xmitw::name8("EXT"));
    xmitw::append(cesd, {0x02, 0, 0, 0, 0, 0, 0, 0});
    const Bytes text = {0x05, 0xEF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0xFE, 0, 0};
    const Bytes control = {0x01, 0, 0, 0, 0, 4, 0, 0, 0x06, 0, 0, 0, 0x40, 0, 0, 16, 0, 1, 0, 16};
    const Bytes rld = {0x02, 0, 0, 0, 0, 0, 0, 8, 0x06, 0, 0, 0,
                       0x40, 0, 0, 0, 0, 2, 0, 1, 0x1C, 0, 0, 8};
    // SELF: the same section without the reference.
    Bytes self = {0x20, 0x80, 0, 0, 0, 1, 0, 16};
    xmitw::append(self, xmitw::name8("MAIN"));
    xmitw::append(self, {0x00, 0, 0, 0, 0, 0, 0, 16});
    for (const char* name : {"ONE", "SELF"}) {
        xmitw::Member m;
        m.name = name;
        m.records = std::string(name) == "ONE" ? std::vector<Bytes>{cesd, control, text, rld}
                                               : std::vector<Bytes>{self, control, text};
        m.userData = Bytes(22, 0);
        m.userData[8] = 0x02;  // executable
        m.userData[12] = 0x10; // size 16
        pds.members.push_back(m);
    }
    auto image =
        xmitw::fileImage(xmitw::collect([&](const xmitw::Emit& e) { xmitw::pdsTransmit(pds, e); }));
    const std::string path = (dir / "load.xmit").string();
    writeFile(path, std::string(image.begin(), image.end()));
    return path;
}

CommandResult opx(const std::string& program, const std::string& args) {
    return runCommand(quote(program) + " " + args);
}

} // namespace

TEST(OpxRelink, LinkageEditorBesideOpx) {
    TempDir dir;
    const std::string lib = loadLibrary(dir);
    const std::string out = (dir / "out").string();
    // Return code 0 for SELF; 8 for ONE, whose reference stays unresolved: it is skipped, and
    // opx says so in its exit status. A listing a member.
    CommandResult r =
        opx(OPX_PATH, "extract -t relink --parm LIST=ALL --listing " + quote(out + "/&m.lst") +
                          " -o " + quote(out + "/&M") + " " + quote(lib));
    EXPECT_EQ(r.exitCode, 8) << r.out << r.err;
    EXPECT_NE(r.out.find("relinked SELF " + out + "/SELF: linkage editor return code 0\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("failed   ONE " + out + "/ONE: linkage editor return code 8\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("1 created, 0 replaced, 1 skipped"), std::string::npos);
    EXPECT_TRUE(fs::exists(out + "/SELF"));
    for (const char* listing : {"one.lst", "self.lst"}) {
        const std::string text = readFile(dir / ("out/" + std::string(listing)));
        EXPECT_NE(text.find("VRL000I PARAMETERS - LIST=ALL"), std::string::npos) << listing;
    }
    EXPECT_NE(readFile(dir / "out/one.lst").find("VRL253E Symbol EXT"), std::string::npos);

    // With NCAL the reference may stay unresolved: return code 4, and both saved. One listing
    // for both members, the second run appended to the first.
    const std::string all = (dir / "all.lst").string();
    const std::string out4 = (dir / "out4").string();
    r = opx(OPX_PATH, "extract -t relink --parm NCAL,LIST=ALL --listing " + quote(all) + " -o " +
                          quote(out4 + "/&M") + " " + quote(lib));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("relinked ONE " + out4 + "/ONE: linkage editor return code 4\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("2 created, 0 replaced, 0 skipped"), std::string::npos);
    EXPECT_TRUE(fs::exists(out4 + "/ONE") && fs::exists(out4 + "/SELF"));
    const std::string text = readFile(all);
    size_t runs = 0;
    for (size_t at = text.find("VRL000I PARAMETERS - NCAL,LIST=ALL"); at != std::string::npos;
         at = text.find("VRL000I PARAMETERS", at + 1))
        ++runs;
    EXPECT_EQ(runs, 2u) << text;
}

TEST(OpxRelink, StandInBinder) {
    // opx finds the binder in its own folder: a copy of opx (and the library it loads) beside
    // a script.
    TempDir dir;
    const std::string lib = loadLibrary(dir);
    const fs::path bin = dir / "bin";
    fs::create_directories(bin);
    const fs::path opxFile(OPX_PATH);
    fs::copy_file(opxFile, bin / "opx");
    fs::copy_file(opxFile.parent_path() / "libcodexa.so", bin / "libcodexa.so");
    const std::string opxCopy = (bin / "opx").string();
    auto binder = [&](const std::string& body) {
        writeFile(bin / "vrl", "#!/bin/sh\n" + body + "\n");
        fs::permissions(bin / "vrl", fs::perms::owner_all);
    };
    CommandResult r;
    binder("kill -9 $$");
    r = opx(opxCopy,
            "extract -t relink -o " + quote((dir / "k").string() + "/&M") + " " + quote(lib));
    EXPECT_EQ(r.exitCode, 12) << r.out << r.err;
    EXPECT_NE(r.err.find("opx: " + (bin / "vrl").string() + ": exit status 00000009"),
              std::string::npos)
        << r.err;
}
