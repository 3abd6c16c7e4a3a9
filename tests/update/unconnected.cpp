// A caller that runs the utility without connecting first: the library stops the process.
#include "ufxcore.h"

int main() {
    return iUpdateUtility("", "in", "SYSIN", "out", "SYSPRINT", nullptr, "SYSUT1", nullptr,
                          "SYSUT2", nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
}
