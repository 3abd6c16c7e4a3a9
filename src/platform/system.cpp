#include "platform/system.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

std::string computerName() {
    char buffer[256] = {0};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
}

std::string userName() {
    std::string n;
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr)
        n = found->pw_name;
    if (n.empty())
        if (const char* u = std::getenv("USER")) n = u;
    if (n.empty())
        if (const char* u = std::getenv("LOGNAME")) n = u;
    return n;
}

bool localTime(std::time_t when, std::tm& out) {
    return ::localtime_r(&when, &out) != nullptr;
}

bool utcTime(std::time_t when, std::tm& out) {
    return ::gmtime_r(&when, &out) != nullptr;
}

std::time_t fromUtc(std::tm tm) {
    return ::timegm(&tm);
}

} // namespace platform
