#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace platform {

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args) {
    ProgramRun run;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        run.errnum = rc;
        return run;
    }
    run.started = true;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            run.errnum = errno;
            run.status = -1;
            return run;
        }
    }
    run.status = status;
    run.exited = WIFEXITED(status);
    run.code = run.exited ? WEXITSTATUS(status) : 0;
    return run;
}

std::string executableName(const std::string& name) {
    return name;
}

bool createWorkFile(const char* tag, std::string& path) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + tag;
    pattern += ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        path.clear();
        return false;
    }
    ::close(fd);
    path = pattern;
    return true;
}

} // namespace platform
