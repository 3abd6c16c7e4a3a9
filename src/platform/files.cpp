#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace platform {

int createBeside(const std::string& target, const char* tag, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Names that no other writer picks: the process, a counter, and the clock.
        const unsigned long long mix = (now ^ (static_cast<unsigned long long>(::getpid()) << 20)) +
                                       counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%08llx", (mix ^ (mix >> 29)) & 0xFFFFFFFFull);
        temp = target + tag + suffix;
        // O_EXCL: a name of our own, never a file (or a link) that is already there.
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            temp.clear();
            return -1;
        }
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::fchmod(fd, st.st_mode & 07777);
        return fd;
    }
    temp.clear();
    errno = EEXIST;
    return -1;
}

} // namespace platform
