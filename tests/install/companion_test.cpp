// The program that a library or program starts beside itself (the relink's vrl), in the build
// tree's layout and in an installation's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/install_layout.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder under the temporary directory, removed at the end of the test.
class Scratch {
  public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "opx-companion.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        if (!root_.empty()) fs::remove_all(root_, ec);
    }
    std::string path(const std::string& relative) const { return (root_ / relative).string(); }
    // A file at relative (its folders made), with the given permissions.
    std::string file(const std::string& relative, fs::perms perms) const {
        const fs::path p = root_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "#!/bin/sh\n";
        fs::permissions(p, perms);
        return p.string();
    }
    bool ok() const { return !root_.empty(); }

  private:
    fs::path root_;
};

constexpr fs::perms kProgram = fs::perms::owner_all;
constexpr fs::perms kPlainFile = fs::perms::owner_read | fs::perms::owner_write;

} // namespace

TEST(CompanionProgram, FoundInEitherLayout) {
    const std::string libToBin = OPX_LAYOUT_LIB_TO_BIN;
    struct Case {
        const char* what;
        std::string module;                  // relative to the scratch folder
        std::vector<std::string> programs;   // files that may be run
        std::vector<std::string> plainFiles; // files named vrl that may not
        std::string expected;                // relative to the scratch folder
    };
    const std::vector<Case> cases = {
        {"build tree: library and program in one folder",
         "build/bin/libopxcore.so",
         {"build/bin/vrl"},
         {},
         "build/bin/vrl"},
        {"installed library: the programs' folder",
         "p/lib/libopxcore.so",
         {"p/bin/vrl"},
         {},
         "p/lib/" + libToBin + "/vrl"},
        {"a program with the library's code: its own folder",
         "p/bin/opx",
         {"p/bin/vrl"},
         {},
         "p/bin/vrl"},
        {"own folder first", "p/lib/libopxcore.so", {"p/lib/vrl", "p/bin/vrl"}, {}, "p/lib/vrl"},
        {"a file that cannot be run is passed over",
         "p/lib/libopxcore.so",
         {"p/bin/vrl"},
         {"p/lib/vrl"},
         "p/lib/" + libToBin + "/vrl"},
        {"nowhere: the path beside the module, for the message",
         "p/lib/libopxcore.so",
         {},
         {},
         "p/lib/vrl"},
    };
    for (const Case& c : cases) {
        Scratch s;
        ASSERT_TRUE(s.ok());
        for (const auto& p : c.programs) s.file(p, kProgram);
        for (const auto& p : c.plainFiles) s.file(p, kPlainFile);
        s.file(c.module, kPlainFile);
        const std::string found = platform::companionProgramPath(s.path(c.module).c_str(), "vrl");
        EXPECT_EQ(found, s.path(c.expected)) << c.what;
        if (!c.programs.empty()) {
            EXPECT_EQ(::access(found.c_str(), X_OK), 0) << c.what;
        }
    }
}

TEST(CompanionProgram, ModuleWithoutFolderGivesTheBareName) {
    EXPECT_EQ(platform::companionProgramPath("libopxcore.so", "vrl"), "vrl");
}
