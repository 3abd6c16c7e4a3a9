// Relink: a delinked deck handed to the binder program, the linkage editor's command-line
// front end beside this library, through a response file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace opx {

// What a relink request keeps from member to member.
struct RelinkState {
    // The listing: none (-1), one file per member (0 lower-case names, 1 upper case: prefix +
    // member name + suffix), or one file for all members (2: the prefix is its path).
    int listingMode = -1;
    std::string listingPrefix, listingSuffix;
    // The two work files: the deck (#1) and the response file (#2); "" when there are none.
    std::string deckFile, responseFile;

    RelinkState() = default;
    RelinkState(const RelinkState&) = delete;
    RelinkState& operator=(const RelinkState&) = delete;
    // Work files still there (a request stopped before the binder ran) are removed.
    ~RelinkState();
    // The listing of a member, or "" when there is none.
    std::string listingOf(const std::string& member) const;
    // Creates the work files that are missing. Returns null or the message.
    const char* createWorkFiles();
    // Removes both work files (traced at the connection's trace level).
    void removeWorkFiles();
};

// The binder program: "vrl" (with the platform's executable suffix) in the folder of the
// library's module path, or the bare name when that path has no folder.
std::string binderPath();

// A value for the response file: written in double quotes (a quote inside doubled) when it is
// empty or holds a blank or a quote, so that the binder reads it as one word.
std::string responseValue(const std::string& value);

// The lines of the response file.
std::string responseText(const RelinkState& state, const std::string& listing,
                         const std::string& parameters, const std::string& syslmod);

// Writes a work file whole: null, or the message ("Open of binder work file ..." or "Write to
// binder work file ...").
const char* writeWorkFile(const std::string& path, const void* data, size_t size);

} // namespace opx
