// Two cores in one process keep their own runtime state: each is loaded with
// dlopen(RTLD_LOCAL), connected with its own trace level and given its own code pages.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "connection.h"

namespace {

using Connect = const char* (*)(int*, ConnectionRecord**, int, const char*, const char*,
                                const char*, PrintCallback, FatalCallback);
using SetConversion = const char* (*)();
using IsMemberName = int (*)(const char*);

template <class F> F symbol(void* lib, const char* name) {
    void* p = dlsym(lib, name);
    EXPECT_NE(p, nullptr) << name << ": " << dlerror();
    return reinterpret_cast<F>(p);
}

} // namespace

TEST(TwoCores, KeepTheirOwnState) {
    void* opx = dlopen(OPXCORE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(opx, nullptr) << dlerror();
    void* test = dlopen(TESTCORE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(test, nullptr) << dlerror();

    int status = -1;
    ConnectionRecord* opxRecord = nullptr;
    ConnectionRecord* testRecord = nullptr;
    symbol<Connect>(opx, "pszOpxDllConnect")(&status, &opxRecord, 1, nullptr, "Quorin Toolbench",
                                             "3.0.07", nullptr, nullptr);
    symbol<Connect>(test, "pszTestDllConnect")(&status, &testRecord, 3, nullptr, "Quorin Toolbench",
                                               "3.0.07", nullptr, nullptr);
    ASSERT_NE(opxRecord, nullptr);
    ASSERT_NE(testRecord, nullptr);
    EXPECT_NE(opxRecord, testRecord) << "each core has its own connection record";
    EXPECT_EQ(opxRecord->traceLevel, 1);
    EXPECT_EQ(testRecord->traceLevel, 3);
    EXPECT_STREQ(opxRecord->productName, "Quorin Opalex");
    EXPECT_STREQ(testRecord->productName, "Quorin Test Core");
    EXPECT_EQ(symbol<int (*)()>(test, "iTestTraceLevel")(), 3);
    // Each module path is the core's own file.
    EXPECT_NE(std::string(opxRecord->modulePath).find("libopxcore"), std::string::npos)
        << opxRecord->modulePath;
    EXPECT_NE(std::string(testRecord->modulePath).find("libtestcore"), std::string::npos)
        << testRecord->modulePath;

    // Code page 1047 for one, 273 (Germany) for the other: the national character at X'7C' is
    // "@" in the first and "§" in the second.
    unsetenv("CODEPAGE_ASCII");
    setenv("CODEPAGE_EBCDIC", "1047", 1);
    EXPECT_EQ(symbol<SetConversion>(opx, "pszOpxSetConversion")(), nullptr);
    setenv("CODEPAGE_EBCDIC", "273", 1);
    EXPECT_EQ(symbol<SetConversion>(test, "pszTestSetConversion")(), nullptr);
    unsetenv("CODEPAGE_EBCDIC");
    auto opxName = symbol<IsMemberName>(opx, "iOpxIsMemberName");
    auto testName = symbol<IsMemberName>(test, "iTestIsMemberName");
    EXPECT_EQ(opxName("A@"), 1);
    EXPECT_EQ(opxName("A\xA7"), 0);
    EXPECT_EQ(testName("A@"), 0);
    EXPECT_EQ(testName("A\xA7"), 1);

    // A later connect of one does not touch the other.
    symbol<Connect>(opx, "pszOpxDllConnect")(&status, &opxRecord, 2, nullptr, "Quorin Toolbench",
                                             "3.0.07", nullptr, nullptr);
    EXPECT_EQ(opxRecord->traceLevel, 2);
    EXPECT_EQ(symbol<int (*)()>(test, "iTestTraceLevel")(), 3);
    dlclose(test);
    dlclose(opx);
}

// An export called before the library is connected stops the process with exit code 20. The
// child runs this test alone, so the core it loads is fresh.
TEST(UnconnectedCoreDeathTest, AnExportBeforeConnectStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            void* opx = dlopen(OPXCORE_PATH, RTLD_NOW | RTLD_LOCAL);
            if (opx == nullptr) std::exit(1);
            using Open = void* (*)(const char*);
            reinterpret_cast<Open>(dlsym(opx, "pXmitFileOpen"))("/dev/null");
            std::exit(0);
        },
        testing::ExitedWithCode(20), "DLL is not connected");
}
