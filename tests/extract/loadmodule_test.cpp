// Load modules: every check of the record reader, the order of the symbol table, the listing,
// and the modules that are refused.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "dump.h"
#include "extract_fixture.h"
#include "loadmod_fixture.h"
#include "loadmodule.h"
#include "run_command.h"

using namespace xtest;
using namespace xmitw;
using testsupport::readFile;

TEST(LoadModule, ReadsTextRelocationAndSymbols) {
    Read r = readModule(moduleEntry(16), smallModule());
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.image.text.size(), 16u);
    EXPECT_EQ(r.image.text[0], 0x47);
    ASSERT_EQ(r.image.cesd.size(), 2u);
    EXPECT_EQ(r.image.cesd[0].esdid, 1);
    ASSERT_EQ(r.image.cesd[0].relocation.size(), 1u);
    EXPECT_EQ(r.image.cesd[0].relocation[0].relocationPointer, 2);
    EXPECT_EQ(r.image.cesd[0].relocation[0].flags, 0x1C);
    EXPECT_EQ(r.image.cesd[0].relocation[0].address, 8u);
}

TEST(LoadModule, TableOrder) {
    // Sections by address then length, label references by address, pseudo registers, then
    // the external references; equal keys keep ESDID order.
    Read r = readModule(moduleEntry(64),
                        {cesdRecord(1, {cesdEntry("ER1", 2, 0, 0), cesdEntry("B", 0, 32, 16),
                                        cesdEntry("A2", 0, 0, 32), cesdEntry("A1", 0, 0, 8),
                                        cesdEntry("PR", 6, 4, 4), cesdEntry("LR2", 3, 40, 2),
                                        cesdEntry("LR1", 3, 36, 2), cesdEntry("C", 4, 32, 16)})});
    ASSERT_EQ(r.error, "");
    std::vector<uint16_t> order;
    for (const auto& e : r.image.cesd) order.push_back(e.esdid);
    EXPECT_EQ(order, (std::vector<uint16_t>{4, 3, 2, 8, 7, 6, 5, 1}));
}

TEST(LoadModule, Messages) {
    const Bytes entry = moduleEntry(16);
    auto error = [&](std::vector<Bytes> records) { return readModule(entry, records).error; };
    auto m = smallModule();
    // Control records.
    EXPECT_EQ(error({m[0], Bytes{0x01, 0, 0, 0}}), "Load module control record 2 is invalid");
    EXPECT_EQ(error({m[0], cat({controlRecord(0x01, 0, {}, cat({b16(1), b16(16)})), Bytes{0}})}),
              "Load module control record 2 is invalid");
    EXPECT_EQ(error({m[0], controlRecord(0x01, 8, {}, cat({b16(1), b16(16)})), Bytes(16, 1)}),
              "Load module control record 2 is invalid")
        << "text beyond the module's end";
    EXPECT_EQ(error({m[0], controlRecord(0x02, 0, cat({b16(2), b16(9), {0x1C}, b24(8)}), {})}),
              "Load module RLD position ESID value 0009 is not defined");
    EXPECT_EQ(error({m[0], controlRecord(0x02, 0, cat({b16(2), b16(2), {0x1C}, b24(8)}), {})}),
              "Load module RLD position ESID value 0002 is not defined")
        << "an external reference holds no constants";
    EXPECT_EQ(error({controlRecord(0x02, 0, cat({b16(2), b16(1), {0x1C}, b24(8)}), {})}),
              "Load module RLD data is invalid")
        << "before any CESD record";
    EXPECT_EQ(error({m[0], controlRecord(0x02, 0, cat({b16(2), b16(1), {0x1C}, b24(14)}), {})}),
              "Load module RLD data is invalid")
        << "a constant that runs past its section";
    EXPECT_EQ(error({m[0], controlRecord(0x02, 0, cat({b16(7), b16(1), {0x1C}, b24(8)}), {})}),
              "Load module RLD data is invalid")
        << "a relocation pointer that names no entry";
    EXPECT_EQ(error({m[0], controlRecord(0x02, 0, cat({b16(2), b16(1), {0x1D}, b24(8)}), {})}),
              "Load module RLD data is invalid")
        << "a continued item with nothing after it";
    EXPECT_EQ(error({m[0], controlRecord(0x02, 0, cat({b16(0), b16(1), {0x3C}, b24(8)}), {})}), "")
        << "a CXD item";
    // CESD records.
    EXPECT_EQ(error({cat({{0x20, 0x80, 0, 0}, b16(1), b16(17), Bytes(17, 0)})}),
              "Load module CESD record is invalid");
    EXPECT_EQ(error({cesdRecord(1, {cesdEntry("A", 0, 8, 16)})}),
              "Load module CESD record is invalid")
        << "a section ending past the module";
    EXPECT_EQ(error({cesdRecord(1, {cesdEntry("A", 0, 0, 16)}),
                     cesdRecord(1, {cesdEntry("B", 2, 0, 0)})}),
              "Load module CESD record is invalid")
        << "an ESDID given twice";
    EXPECT_EQ(error({cesdRecord(1, {cesdEntry("A", 0x08, 0, 0)})}),
              "Load module CESD entry type 08 is not supported");
    EXPECT_EQ(error({cesdRecord(1, {cesdEntry("A", 0x14, 0, 0)})}),
              "Load module CESD entry type 14 is not supported");
    EXPECT_EQ(error({cesdRecord(1, {cesdEntry("A", 0x07, 0, 0)})}),
              "Load module contains no CESD records")
        << "a null entry holds its number but is not kept";
    EXPECT_EQ(error({}), "Load module contains no CESD records");
    // Scatter, SYM and IDR records.
    EXPECT_EQ(error({m[0], cat({{0x10, 0}, b16(8), Bytes(8, 0)})}),
              "Load module scatter table record 2 is invalid")
        << "a module without scatter tables";
    EXPECT_EQ(error({m[0], cat({{0x40, 0}, b16(79), Bytes(79, 0)})}),
              "Load module SYM record 2 is invalid");
    EXPECT_EQ(error({m[0], Bytes{0x80, 9, 0x01, 0}}), "Load module IDR record 2 is invalid");
    EXPECT_EQ(error({m[0], idrRecord(0x02, Bytes(14, 0))}),
              "Load module linkedit IDR data is invalid");
    EXPECT_EQ(error({m[0], idrRecord(0x82, Bytes(15, 0))}), "");
    EXPECT_EQ(error({m[0], idrRecord(0x83, Bytes(4, 0))}),
              "Load module ID subtype 03 is not supported");
    EXPECT_EQ(error({m[0], idrRecord(0x02, Bytes(10, 0)), m[1]}),
              "Missing ending load module IDR record at record 3");
    EXPECT_EQ(error({m[0], idrRecord(0x84, cat({b16(0x8009), {0}, Bytes(15, 0xC1)}))}),
              "Load module translator IDR ESID value 0009 is not defined");
    EXPECT_EQ(error({m[0], idrRecord(0x84, cat({b16(0x8001), {2}, Bytes(45, 0xC1)}))}),
              "Load module translator IDR data is invalid");
    EXPECT_EQ(error({m[0], idrRecord(0x88, cat({b16(2), b24(0), {3}, ebcdic("ABC")}))}),
              "Load module IDENTIFY IDR ESID value 0002 is not defined");
    EXPECT_EQ(error({m[0], idrRecord(0x88, cat({b16(1), b24(0), {41}, Bytes(41, 0xC1)}))}),
              "Load module IDENTIFY IDR data is invalid")
        << "more than 40 bytes";
    EXPECT_EQ(error({m[0], Bytes{0x30, 0, 0, 0}}), "Load module record 2 ID 30 is not supported");
    // A control record announcing text at the very end gives no error.
    EXPECT_EQ(error({m[0], m[1]}), "");
}

TEST(LoadModule, TranslatorAndIdentifyData) {
    auto m = smallModule();
    Bytes first = cat({b16(0x8001), {0}, ebcdic("ASMA90 01020304")});
    Bytes second = cat({b16(0x8001), {1}, ebcdic("IEWL   01020304"), ebcdic("HLASM  05060708")});
    Read r =
        readModule(moduleEntry(16), {m[0], idrRecord(0x04, first), idrRecord(0x84, second),
                                     idrRecord(0x88, cat({b16(1), b24(0), {5}, ebcdic("V1'R2")}))});
    ASSERT_EQ(r.error, "");
    const opx::CesdEntry* main = r.image.find(1);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->translatorCount, 2)
        << "a later group for the same ESDID replaces the earlier one";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(main->translator[1]), 15),
              std::string(reinterpret_cast<const char*>(ebcdic("HLASM  05060708").data()), 15));
    EXPECT_EQ(main->identifyLength, 5);
}

TEST_F(LoadLibrary, ListingOfAModuleWithoutOptionalParts) {
    auto h = library({module("MAIN", smallModule(), moduleEntry(16))});
    ASSERT_EQ(pxhXmitFileLoadDir(h.get(), 1)->loadLibrary, 1);
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M.lst")));
    ASSERT_EQ(r.severity, 0) << r.message;
    const std::string listing = readFile(out("MAIN.lst"));
    const std::string want =
        std::string("Dump of TEST.LOAD(MAIN)\n\nDirectory Entry:\n") +
        opx::dumpLine(h->dataSets[0].directory, 34, 32, 0) + "\n" +
        opx::dumpLine(h->dataSets[0].directory + 32, 2, 32, 32) +
        "\nModule size: 000010 (16)\nEntry point: 000000\nAttributes:  RMODE(24)\n\n"
        "CESD 0001  CSECT MAIN\n    Address: 000000\n    Length:  000010 (16)\n    Data:\n" +
        opx::dumpLine(Bytes(16, 0x47).data(), 16, 32, 0) +
        "\n    RLD items:\n    0002 1C 000008  V(EXT)\n\nCESD 0002  EXTRN EXT\n";
    EXPECT_EQ(listing, want);
}

TEST_F(LoadLibrary, ListingOfAttributesAliasesAndIdentification) {
    auto records = smallModule();
    records.push_back(idrRecord(0x82, ebcdic("566528408 0101")));
    records.back().resize(3 + 15, 0);
    records.back()[1] = 17;
    records.push_back(idrRecord(0x88, cat({b16(1), b24(0), {3}, ebcdic("V10")})));
    // RENT, REUS, TEST, executable; AMODE 31; APF code 1 after the SSI.
    Member m = module("MAIN", records, moduleEntry(16, 0, 0xD2, 0, 0x18, 0x02, 6));
    m.userData[30 - 12 + 3] = 0; // SSI at 34..37 within the 6 extra bytes, APF after it
    m.userData[34 - 12] = 0x12;
    m.userData[35 - 12] = 0x34;
    m.userData[36 - 12] = 0x56;
    m.userData[37 - 12] = 0x78;
    m.userData[39 - 12] = 0x01;
    m.aliases = {"OTHER"};
    auto h = library({m});
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M.lst")));
    ASSERT_EQ(r.severity, 0) << r.message;
    const std::string listing = readFile(out("MAIN.lst"));
    EXPECT_NE(
        listing.find("Attributes:  RMODE(24),AMODE(31),REUS(RENT),TEST,AC(1),SSI(12345678)\n"),
        std::string::npos)
        << listing;
    EXPECT_NE(listing.find("Alias     OTHER    entry point: 000000\n"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("Link Edit IDR Data:\n"), std::string::npos);
    EXPECT_NE(listing.find("    IDENTIFY('V10')\n"), std::string::npos);
    // The alias is listed too, as a module of its own.
    EXPECT_TRUE(std::filesystem::exists(out("MAIN.lst")));
}

TEST_F(LoadLibrary, RefusedModulesAndRequests) {
    auto h = library({module("POBJ", smallModule(), moduleEntry(16, 0, 0x02, 0, 0x04)),
                      module("NOEDIT", smallModule(), moduleEntry(16, 0, 0x02, 0x08)),
                      module("OVERLAY", smallModule(), moduleEntry(16, 0, 0x22)),
                      module("GOOD", smallModule(), moduleEntry(16))});
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M.lst")));
    EXPECT_EQ(r.severity, 0) << r.message;
    EXPECT_EQ(r.created, 1u);
    EXPECT_EQ(r.skipped, 3u);
    std::vector<std::string> refusals;
    for (const Step& s : r.steps)
        if (s.result == EXTRACT_RESULT_NOT_WRITTEN) {
            refusals.push_back(s.message);
            EXPECT_EQ(s.file, paths_.back());
        }
    EXPECT_EQ(refusals,
              (std::vector<std::string>{"Extract of Program Object is not supported",
                                        "Extract of NOEDIT load module is not supported",
                                        "Extract of overlay load module is not supported"}));
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_IBM, out("&M"))).message,
              "Invalid extract request type for a load library");
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_PREFIX, out("&M"))).message,
              "Invalid extract request type for a load library");
    // Delink writes the modules that may be edited; relink refuses scatter-load modules too.
    RunResult delink = runRequest(h.get(), request(EXTRACT_TYPE_DELINK, out("&M.obj")));
    EXPECT_EQ(delink.severity, 0) << delink.message;
    EXPECT_EQ(delink.created, 1u);
    EXPECT_EQ(delink.skipped, 3u);
    EXPECT_TRUE(std::filesystem::exists(out("GOOD.obj")));
    // A dump of a load library is allowed.
    EXPECT_EQ(runRequest(h.get(), request(EXTRACT_TYPE_DUMP, out("&M.dump"))).severity, 0);
}

TEST_F(LoadLibrary, AnInvalidModuleEndsTheRequest) {
    auto records = smallModule();
    records[3] = controlRecord(0x02, 0, cat({b16(2), b16(1), {0x1C}, b24(15)}), {});
    auto h = library({module("BAD", records, moduleEntry(16))});
    RunResult r = runRequest(h.get(), request(EXTRACT_TYPE_TEXT, out("&M.lst")));
    EXPECT_EQ(r.message, "Load module RLD data is invalid");
    EXPECT_EQ(r.severity, 12);
    EXPECT_EQ(r.fileName, paths_.back());
    EXPECT_FALSE(std::filesystem::exists(out("BAD.lst")));
}
