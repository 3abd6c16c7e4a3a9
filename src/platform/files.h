// Files that are written whole: a new file beside the target, renamed over it when complete.
#pragma once

#include <string>

namespace platform {

// Creates a new, empty file in the folder of `target`, named `target` + `tag` + a unique
// suffix, and opens it for writing. Its mode is the one a new file gets from open() and the
// umask (0666 minus the umask), or the mode of `target` when that file exists, so that a file
// renamed over the target neither loses the target's permissions nor gets private ones.
// Returns the descriptor and sets `temp` to the name; -1 with errno set on failure.
int createBeside(const std::string& target, const char* tag, std::string& temp);

} // namespace platform
