// A caller that runs a job step without connecting first: the library stops the process.
#include "vrlcore.h"

int main() {
    const char* syslin[] = {"in.obj", nullptr};
    return iLinkEdit(0, "", syslin, "SYSLIN", nullptr, "SYSLIB", nullptr, "&M", "SYSLMOD", "",
                     "SYSPRINT", "", "SYSTERM", nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0,
                     0);
}
