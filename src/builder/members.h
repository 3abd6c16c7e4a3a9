// Member files of a partitioned data set named by a pattern: the pattern's parts, listing the
// files it matches, finding each member's file, and the mainframe order of member names.
//
//   src/&M.asm    member HELLO is the file src/HELLO.asm (upper-case file names)
//   src/&m.asm    member HELLO is the file src/hello.asm (lower-case file names)
//   src/*.asm     any case; member names are the upper-cased file names
//
// File systems that tell cases apart find a member file case-insensitively when the name the
// pattern builds is not there; two files that would both be the member are refused.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "brencore.h"

namespace bren {

// Fills the prefix, suffix and case mode of a pattern from its text.
void checkPattern(MemberPattern& pattern);

// The member files that a pattern matches, as upper-case member names (in the order the
// directory gives them). Returns "" or the message.
std::string listMembers(MemberPattern& pattern, std::vector<std::string>& names,
                        std::vector<std::string>* files);

// The file name the pattern builds for a member: prefix + name + suffix, the name lower-cased
// for "&m".
std::string memberFileName(const MemberPattern& pattern, const char* member);

// Finds the files of members, reading the pattern's directory at most once.
class MemberFiles {
  public:
    explicit MemberFiles(const MemberPattern& pattern) : pattern_(pattern) {}
    enum Result { kFound, kMissing, kAmbiguous };
    // The file of a member: the name the pattern builds when that is a file, else the one file
    // whose name matches it without regard to case. kAmbiguous names two such files in
    // *path and *other.
    Result find(const char* member, std::string* path, std::string* other = nullptr);

  private:
    const MemberPattern& pattern_;
    bool listed_ = false;
    std::multimap<std::string, std::string> byFolded_; // folded name -> file name
};

// Compares two member names in EBCDIC collating order (translated through the process's
// ASCII-to-EBCDIC table, as unsigned bytes; a prefix sorts first).
int compareMemberNames(const char* a, const char* b);

// The default origin node or user from a raw computer or user name: at most its first 8
// characters, ending at the first period or blank, upper-cased; "QUORIN" when nothing is left.
void normalizeOriginName(const char* raw, size_t maxLength, char out[9]);

// Whether a file exists as a regular file (symbolic links followed).
bool isRegularFile(const std::string& path);

} // namespace bren
