// The runtime entry points of the extractor core.
#include "opxcore.h"
#include "runtime.h"

namespace {
const rt::LibraryIdentity kIdentity{"OPXCORE.DLL", "Quorin Opalex",
                                    reinterpret_cast<const void*>(&pszOpxDllConnect)};
}

OPX_EXTERN_C OPX_API const char* pszOpxDllConnect(int* status, ConnectionRecord** record,
                                                  int traceLevel, const char* modulePath,
                                                  const char* family, const char* version,
                                                  PrintCallback print, FatalCallback fatal) {
    return rt::connect(kIdentity, status, record, traceLevel, modulePath, family, version, print,
                       fatal);
}

OPX_EXTERN_C OPX_API const char* pszOpxSetConversion(void) {
    return rt::setConversion();
}

OPX_EXTERN_C OPX_API int iOpxIsMemberName(const char* name) {
    return name != nullptr &&
                   rt::isMemberName(name, std::char_traits<char>::length(name), rt::kAnyCase)
               ? 1
               : 0;
}
