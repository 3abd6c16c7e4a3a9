// Programs and work files on Windows: CreateProcessA with a command line quoted for the C
// run-time's argument parser, and GetTempFileNameA.
#include "platform/process.h"

#include <windows.h>

#include <cerrno>

#include "platform/windows_errors.h"
#include "platform/windows_rules.h"

namespace platform {

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args) {
    ProgramRun run;
    std::string commandLine;
    for (const std::string& a : args) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += windows::quotedArgument(a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // The program is named in full: no search of the path, and standard handles inherited.
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, &process)) {
        run.errnum = errnoOf(::GetLastError());
        return run;
    }
    run.started = true;
    ::CloseHandle(process.hThread);
    DWORD code = 0;
    if (::WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.hProcess, &code)) {
        run.errnum = errnoOf(::GetLastError());
        run.status = -1;
        ::CloseHandle(process.hProcess);
        return run;
    }
    ::CloseHandle(process.hProcess);
    run.status = static_cast<int>(code);
    // An exception that ended the program (an access violation, an abort) leaves its status
    // code, with the two top bits set, as the exit code: the counterpart of a signal.
    run.exited = (code & 0xC0000000u) != 0xC0000000u;
    run.code = run.exited ? static_cast<int>(code) : 0;
    return run;
}

std::string executableName(const std::string& name) {
    return name + ".exe";
}

bool createWorkFile(const char* tag, std::string& path) {
    char folder[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof folder, folder);
    if (n == 0 || n > MAX_PATH) {
        path.clear();
        return failWithLastError();
    }
    // GetTempFileNameA creates the file under a name no other file has (it takes the first
    // three characters of the tag), so no other process can have taken it.
    char name[MAX_PATH + 1];
    if (::GetTempFileNameA(folder, tag, 0, name) == 0) {
        path.clear();
        return failWithLastError();
    }
    path = name;
    return true;
}

} // namespace platform
