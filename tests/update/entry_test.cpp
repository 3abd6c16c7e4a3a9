// The entry points: the mainframe-style call with its invocation block and message queue, the
// refused version, and the library's refusal to run unconnected.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update_support.h"

using namespace updatetest;

namespace {

// A length-prefixed string argument: 16-bit length, then the text with its terminator.
std::vector<char> argument(const std::string& text, int length = -2) {
    std::vector<char> a(2 + text.size() + 1, '\0');
    const int16_t n = static_cast<int16_t>(length == -2 ? static_cast<int>(text.size()) : length);
    std::memcpy(a.data(), &n, 2);
    std::memcpy(a.data() + 2, text.data(), text.size());
    return a;
}

void setName(char (&field)[8], const char* name) {
    std::memset(field, ' ', 8);
    std::memcpy(field, name, std::strlen(name));
}

// Every message of a queue, taken with UtilityMessageGet.
std::vector<std::pair<int, std::string>> drain(UtilityMessageQueue** queue) {
    std::vector<std::pair<int, std::string>> out;
    std::vector<uint8_t> buffer(UTILITY_MESSAGE_BUFFER_SIZE);
    void* args[2] = {queue, buffer.data()};
    while (UtilityMessageGet(UTILITY_MESSAGE_TAKE, args) == UTILITY_MESSAGE_TAKEN) {
        uint16_t length = 0;
        std::memcpy(&length, buffer.data() + 2, 2);
        out.emplace_back(buffer[0],
                         std::string(reinterpret_cast<char*>(buffer.data()) + 4, length));
    }
    return out;
}

} // namespace

TEST(UpdateEntry, ProgramCallQueuesEveryMessage) {
    TempDir dir;
    standardData(dir);
    writeFile(dir / "in.txt", "./ ADD NAME=C\nX\n./ ADD NAME=D,LIST=NONE\n");
    UpdateUtilityBlock block{};
    std::memcpy(block.version, "3.0.07", 7);
    setName(block.ddNames[0], "MYIN");
    block.pageNumber = 7;
    auto parm = argument("");
    auto in = argument((dir / "in.txt").string());
    auto print = argument("<stdout>");
    auto ut = argument((dir / "pds/&M").string());
    void* argv[6] = {&block, parm.data(), in.data(), print.data(), ut.data(), ut.data()};
    ASSERT_EQ(UpdateUtility(6, argv), 0);
    EXPECT_EQ(block.conditionCode, 12);
    EXPECT_EQ(block.reserved, 0u);
    EXPECT_EQ(block.pageNumber, 7u) << "no listing file, no page";
    const std::vector<std::pair<int, std::string>> expected = {
        {2,
         "KDU817I Member name C added to SYSUT2 with 1 record, PATH=" + (dir / "pds/C").string()},
        {2, "./ ADD NAME=D,LIST=NONE"},
        {2, "KDU805E Control statement error: invalid LIST parameter value"},
        {2, "KDU808I Function terminated, will attempt next function"},
        {2, "KDU818I Highest condition code was 12"},
    };
    EXPECT_EQ(block.messageCount, expected.size());
    size_t longest = 0;
    for (const auto& m : expected) longest = std::max(longest, m.second.size());
    EXPECT_EQ(block.longestMessage, longest);
    EXPECT_EQ(drain(&block.messages), expected);
    EXPECT_EQ(block.messages, nullptr) << "the queue frees itself when emptied";

    // A missing DD (length 0) is named by the block's DD name.
    auto none = argument("", 0);
    void* missing[7] = {&block,    parm.data(), none.data(), print.data(),
                        ut.data(), ut.data(),   nullptr};
    ASSERT_EQ(UpdateUtility(7, missing), 0);
    EXPECT_EQ(block.conditionCode, 12);
    const auto messages = drain(&block.messages);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], (std::pair<int, std::string>{1, "KEC130I MYIN DD statement missing"}));

    EXPECT_EQ(UpdateUtility(5, argv), 1);
    EXPECT_EQ(UpdateUtility(8, argv), 1);
}

TEST(UpdateEntry, RefusedVersionIsQueuedLineByLine) {
    UpdateUtilityBlock block{};
    std::memcpy(block.version, "3.0.08", 7);
    auto empty = argument("");
    void* argv[6] = {&block, empty.data(), empty.data(), empty.data(), empty.data(), empty.data()};
    ASSERT_EQ(UpdateUtility(6, argv), 2);
    const std::vector<std::pair<int, std::string>> expected = {
        {1, "Quorin Toolbench UFXCORE.DLL version 3.0.07 is"},
        {1, "incompatible with Quorin Toolbench version 3.0.08"},
    };
    EXPECT_EQ(block.messageCount, 2u);
    EXPECT_EQ(drain(&block.messages), expected);
}

TEST(UpdateEntry, PageNumberAndListingFileOfTheDirectCall) {
    TempDir dir;
    standardData(dir);
    Job job = pdsJob();
    job.page = 41;
    const Result r = runDeck(dir, "./ ENDUP\n", job);
    EXPECT_EQ(r.cc, 0);
    EXPECT_EQ(r.page, 42u);
    EXPECT_EQ(r.listingLines().front().substr(112), "PAGE   41");
}

TEST(UpdateEntry, ConnectRefusalAndUnconnectedUseEndTheProcess) {
    EXPECT_EXIT(
        {
            int status = 0;
            ConnectionRecord* record = nullptr;
            pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench ", "3.0.07", nullptr,
                          nullptr);
        },
        ::testing::ExitedWithCode(20),
        "UFXCORE.DLL version 3.0.07 is\nincompatible with Quorin Toolbench  version 3.0.07");
    const auto r = testsupport::runCommand(testsupport::quote(UNCONNECTED_PATH));
    EXPECT_EQ(r.exitCode, 20);
    EXPECT_NE(r.err.find("DLL is not connected"), std::string::npos) << r.err;
}
