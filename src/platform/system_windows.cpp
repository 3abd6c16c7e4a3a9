// The workstation on Windows: names from the system, the calendar from the C run-time.
#include "platform/system.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

std::string computerName() {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD size = sizeof buffer;
    if (!::GetComputerNameA(buffer, &size)) return std::string();
    return std::string(buffer, size);
}

std::string userName() {
    char buffer[257] = {0}; // UNLEN + 1
    DWORD size = sizeof buffer;
    if (::GetUserNameA(buffer, &size) && size > 1) return std::string(buffer, size - 1);
    if (const char* u = std::getenv("USERNAME")) return u;
    return std::string();
}

bool localTime(std::time_t when, std::tm& out) {
    return ::localtime_s(&out, &when) == 0;
}

bool utcTime(std::time_t when, std::tm& out) {
    return ::gmtime_s(&out, &when) == 0;
}

std::time_t fromUtc(std::tm tm) {
    return ::_mkgmtime(&tm);
}

} // namespace platform
