// Access to the shared folder beside the project (published tables, Unicode data, the corpus
// of real files). Tests that need it skip, saying so, when it is absent.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace testsupport {

// The path of a file or folder under the shared folder, or "" when it does not exist.
inline std::string sharedPath(const std::string& relative) {
    std::filesystem::path p = std::filesystem::path(OPX_SHARED_DIR) / relative;
    std::error_code ec;
    return std::filesystem::exists(p, ec) ? p.string() : std::string();
}

} // namespace testsupport

// Skips the current test when the shared file or folder is absent; otherwise declares `var`
// holding its path.
#define REQUIRE_SHARED(var, relative)                                                              \
    const std::string var = testsupport::sharedPath(relative);                                     \
    if (var.empty()) GTEST_SKIP() << "../shared/" << (relative) << " is absent; skipped"
