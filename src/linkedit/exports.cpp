// The exported entry points of vrlcore: connect, conversion setup, the member-name check and
// message retrieval of the runtime, and iLinkEdit, one job step per call.
#include <cstring>
#include <memory>
#include <string>

#include "linkedit.h"
#include "resolution.h"
#include "runtime.h"
#include "vrlcore.h"

namespace {

const rt::LibraryIdentity kIdentity{"VRLCORE.DLL", "Quorin Linkage Editor",
                                    reinterpret_cast<const void*>(&pszDllConnect)};

// A DD name argument, or the standard name when it is null or empty.
std::string ddName(const char* given, const char* standard) {
    return given != nullptr && *given != '\0' ? std::string(given) : std::string(standard);
}

// A path argument: null is a missing DD statement.
void bind(vrl::DdSlot& dd, const char* path, const char* name, const char* standard,
          unsigned flags) {
    dd.ddName = ddName(name, standard);
    dd.given = path != nullptr;
    dd.path = path != nullptr ? path : "";
    dd.flags = flags;
}

std::vector<std::string> pathList(const char* const* list) {
    std::vector<std::string> paths;
    if (list != nullptr)
        for (; *list != nullptr; ++list) paths.emplace_back(*list);
    return paths;
}

} // namespace

OPX_EXTERN_C OPX_API const char* pszDllConnect(int* status, ConnectionRecord** record,
                                               int traceLevel, const char* modulePath,
                                               const char* family, const char* version,
                                               PrintCallback print, FatalCallback fatal) {
    return rt::connect(kIdentity, status, record, traceLevel, modulePath, family, version, print,
                       fatal);
}

OPX_EXTERN_C OPX_API const char* pszVrlSetConversion(void) {
    return rt::setConversion();
}

OPX_EXTERN_C OPX_API int iVrlIsMemberName(const char* name) {
    return name != nullptr && rt::isMemberName(name, std::strlen(name), rt::kAnyCase) ? 1 : 0;
}

OPX_EXTERN_C OPX_API int UtilityMessageGet(int function, void** args) {
    return rt::utilityMessageGet(function, args);
}

OPX_EXTERN_C OPX_API int
iLinkEdit(int mode, const char* parm, const char* const* syslin, const char* syslinDd,
          const char* const* syslib, const char* syslibDd, const char* member, const char* syslmod,
          const char* syslmodDd, const char* sysprint, const char* sysprintDd, const char* systerm,
          const char* systermDd, const void*, const void*, LinkEditCallback callback, void* user,
          int* status, unsigned syslmodBlksize, unsigned sysprintFlags, unsigned systermFlags) {
    rt::requireConnected();
    auto job = std::make_unique<vrl::Job>();
    job->callback = callback;
    job->user = user;
    job->connection = &rt::connection();
    job->parm = parm;
    job->syslin = pathList(syslin);
    job->syslib = pathList(syslib);
    bind(job->dd[vrl::kSyslin], nullptr, syslinDd, "SYSLIN", 0);
    bind(job->dd[vrl::kSyslib], nullptr, syslibDd, "SYSLIB", 0);
    bind(job->dd[vrl::kSyslmod], syslmod, syslmodDd, "SYSLMOD", 0);
    bind(job->dd[vrl::kSysprint], sysprint, sysprintDd, "SYSPRINT", sysprintFlags);
    bind(job->dd[vrl::kSysterm], systerm, systermDd, "SYSTERM", systermFlags);
    job->syslmodBlksize = syslmodBlksize;
    // The caller's member name names the module unless a NAME statement does; it becomes part
    // of a file name, so it must be a member name.
    if (member != nullptr && *member != '\0') {
        const std::string upper = vrl::upperCase(member);
        if (rt::isMemberName(upper.c_str(), upper.size(), rt::kAnyCase)) {
            job->callerMember = upper;
        } else {
            const std::string_view given(member);
            vrl::queueMessage(*job,
                              given.size() > 32
                                  ? vrl::format("VRL112E Invalid member name \"%.32s\"...", member)
                                  : vrl::format("VRL112E Invalid member name \"%s\"", member));
        }
    }
    vrl::runJobStep(*job, mode);
    if (status != nullptr) *status = static_cast<int>(job->status);
    return job->rc;
}
