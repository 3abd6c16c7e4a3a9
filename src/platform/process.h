// Programs and work files: starting a program and waiting for it, and private work files in
// the temporary folder.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The outcome of running a program to its end.
struct ProgramRun {
    bool started = false; // false: it could not be started (errnum says why)
    int errnum = 0;       // ENOENT when the program does not exist
    bool exited = false;  // it ended with an exit code (else a signal ended it)
    int code = 0;         // the exit code
    int status = 0;       // the raw wait status
};

// Starts `program` with `args` (args[0] is the program's own name) and waits for its end. The
// program inherits the standard streams and the environment.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args);

// The platform's file name of a program: the name plus the executable suffix (none here).
std::string executableName(const std::string& name);

// Creates a new, empty work file in the temporary folder ($TMPDIR, else /tmp), readable and
// writable by its owner only, with a name of its own that no other process can have taken
// (mkstemp). `tag` begins the name. Returns false with errno set.
bool createWorkFile(const char* tag, std::string& path);

} // namespace platform
