// A tiny core library made of the same runtime as the real cores, for the test that loads two
// cores into one process.
#include "connection.h"
#include "runtime.h"

OPX_EXTERN_C OPX_API const char* pszTestDllConnect(int* status, ConnectionRecord** record,
                                                   int traceLevel, const char* modulePath,
                                                   const char* family, const char* version,
                                                   PrintCallback print, FatalCallback fatal);

namespace {
const rt::LibraryIdentity kIdentity{"TESTCORE.DLL", "Quorin Test Core",
                                    reinterpret_cast<const void*>(&pszTestDllConnect)};
}

OPX_EXTERN_C OPX_API const char* pszTestDllConnect(int* status, ConnectionRecord** record,
                                                   int traceLevel, const char* modulePath,
                                                   const char* family, const char* version,
                                                   PrintCallback print, FatalCallback fatal) {
    return rt::connect(kIdentity, status, record, traceLevel, modulePath, family, version, print,
                       fatal);
}

OPX_EXTERN_C OPX_API const char* pszTestSetConversion(void) {
    return rt::setConversion();
}

OPX_EXTERN_C OPX_API int iTestIsMemberName(const char* name) {
    return rt::isMemberName(name, std::char_traits<char>::length(name), rt::kAnyCase) ? 1 : 0;
}

OPX_EXTERN_C OPX_API int iTestTraceLevel(void) {
    return rt::traceLevel();
}
