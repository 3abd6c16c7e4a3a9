// opx extract: a data set, or the members of a partitioned one, written to files; with
// transmit files inside members extracted in their turn, ISPF times on the files, aliases as
// links or copies.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "opx.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "reader.h"
#include "runtime.h"

namespace opxcli {

namespace {

namespace fs = std::filesystem;

// Transmit files inside transmit files are followed this deep, and no deeper.
constexpr int kMaxDepth = 8;

bool isNumber(const std::string& s) {
    return !s.empty() && s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isDirectory(const std::string& p) {
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

int lookup(const std::string& value, std::initializer_list<std::pair<const char*, int>> table,
           const char* what) {
    for (const auto& [name, v] : table)
        if (value == name) return v;
    std::fprintf(stderr, "opx: unknown %s '%s' (see opx extract --help)\n", what, value.c_str());
    return -1;
}

// Asks on the terminal whether to replace a file: y yes, n no, a all, q quit.
char askReplace(const char* file) {
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) return 'n';
    std::fprintf(tty, "\r\033[K%s exists. Replace it? [y]es, [n]o, [a]ll, [q]uit: ", file);
    std::fflush(tty);
    char answer = 'n';
    char buffer[32];
    if (std::fgets(buffer, sizeof buffer, tty) != nullptr)
        answer = static_cast<char>(std::tolower(static_cast<unsigned char>(buffer[0])));
    std::fclose(tty);
    return answer;
}

// Two decimal digits packed in a byte, or -1.
int packed2(uint8_t b) {
    const int hi = b >> 4, lo = b & 0x0F;
    return hi > 9 || lo > 9 ? -1 : hi * 10 + lo;
}

// A local time from its parts, or -1 when they make none.
time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return -1;
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// The last change of a member as its ISPF statistics record it (local time), or -1.
time_t changeTime(const opx::DecodedEntry& d) {
    if (!d.statistics || d.changed[0] == ' ') return -1;
    int year = 0, month = 0, day = 0;
    if (std::sscanf(d.changed, "%d-%d-%d", &year, &month, &day) != 3) return -1;
    return localTime(year, month, day, packed2(d.hour), packed2(d.minute), packed2(d.entry[15]));
}

// The time a transmit file was made (INMFTIME, yyyymmddhhmmss, local time), or -1.
time_t transmitTime(const XmitHandle* h) {
    const char* t = h->originTime;
    if (std::strlen(t) < 12) return -1;
    for (int i = 0; i < 12; ++i)
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return -1;
    auto n = [t](int at, int len) {
        return std::stoi(std::string(t + at, static_cast<size_t>(len)));
    };
    const int seconds = std::strlen(t) >= 14 && std::isdigit(static_cast<unsigned char>(t[12])) &&
                                std::isdigit(static_cast<unsigned char>(t[13]))
                            ? n(12, 2)
                            : 0;
    return localTime(n(0, 4), n(4, 2), n(6, 2), n(8, 2), n(10, 2), seconds);
}

void setModificationTime(const std::string& file, time_t when) {
    if (when < 0) return;
    platform::setModificationTime(file, when);
}

// Copies a file under a temporary name beside the target, then renames it over the target.
bool copyFile(const std::string& from, const std::string& to, std::string* error) {
    std::string temp;
    const int out = platform::createBeside(to, ".opx-", temp);
    if (out < 0) {
        *error = std::strerror(errno);
        return false;
    }
    std::FILE* in = std::fopen(from.c_str(), "rb");
    bool ok = in != nullptr;
    char buffer[1 << 16];
    while (ok) {
        const size_t n = std::fread(buffer, 1, sizeof buffer, in);
        if (n == 0) {
            ok = std::ferror(in) == 0;
            break;
        }
        ok = platform::writeAll(out, buffer, n);
    }
    if (!ok) *error = std::strerror(errno);
    if (in != nullptr) std::fclose(in);
    if (!platform::closeFile(out) && ok) {
        *error = std::strerror(errno);
        ok = false;
    }
    if (ok && !platform::replaceFile(temp, to)) {
        *error = std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(temp.c_str());
    return ok;
}

struct Totals {
    unsigned long created = 0, replaced = 0, skipped = 0, records = 0, aliases = 0;
    int severity = 0;
    unsigned dataSet = 0; // of the file named on the command line
    json results = json::array();
};

class Extractor {
  public:
    Extractor(const ExtractOptions& o, const Encoding& enc) : o_(o), enc_(enc) {}

    // Extracts data set `number` (0: the first that is not a message) of `path` to `output`.
    void run(const std::string& path, unsigned number, const std::vector<std::string>& members,
             std::string output, int depth);
    Totals totals;

  private:
    void report(const char* what, const std::string& member, const std::string& file, long records,
                const std::string& note, json extra = json::object());
    void reportWritten(bool created, const std::string& member, const std::string& file,
                       uint32_t records, const opx::ExtractOutcome& outcome);
    void linkAliases(XmitDataSet* ds, const std::map<std::string, std::string>& written,
                     const std::vector<std::string>& selected);
    void expandNested(const std::string& file, uint32_t records, int depth);

    const ExtractOptions& o_;
    const Encoding& enc_;
    bool replaceAll_ = false;
    bool quit_ = false;
    bool warnedLinks_ = false;
    bool progress_ = false;
    unsigned long done_ = 0;
};

void Extractor::report(const char* what, const std::string& member, const std::string& file,
                       long records, const std::string& note, json extra) {
    if (progress_) std::fprintf(stderr, "\r\033[K");
    if (o_.json) {
        json j = {{"result", what}, {"member", jsonText(member)}, {"file", file}};
        if (records >= 0) j["records"] = records;
        if (!note.empty()) j["reason"] = note;
        j.update(extra);
        totals.results.push_back(j);
        return;
    }
    if (records >= 0)
        std::printf("%-8s %s (%ld records%s)\n", what, file.c_str(), records, note.c_str());
    else if (!note.empty())
        std::printf("%-8s %s%s%s: %s\n", what, enc_.text(member).c_str(), member.empty() ? "" : " ",
                    file.c_str(), note.c_str());
    else
        std::printf("%-8s %s\n", what, file.c_str());
}

// A file written: its records, and its content and sequence numbers when they are news.
void Extractor::reportWritten(bool created, const std::string& member, const std::string& file,
                              uint32_t records, const opx::ExtractOutcome& outcome) {
    std::string note;
    json extra = {{"content", opx::contentName(outcome.content)}};
    if (outcome.content != opx::Content::Text)
        note = std::string(", ") + opx::contentName(outcome.content);
    if (o_.unnum && !outcome.binary) {
        if (outcome.unnumbered) {
            note += ", sequence numbers removed";
            extra["unnum"] = {{"removed", true}};
        } else {
            const char* why = outcome.unnumKept ? outcome.unnumKept : "";
            note += std::string("; sequence numbers kept: ") + why;
            extra["unnum"] = {{"removed", false}, {"reason", why}};
        }
    }
    report(created ? "created" : "replaced", member, file, static_cast<long>(records), note, extra);
}

void Extractor::run(const std::string& path, unsigned number,
                    const std::vector<std::string>& memberNames, std::string target, int depth) {
    Handle file(path);
    XmitHandle* h = file.h;
    if (!file.usable(path)) {
        totals.severity = std::max(totals.severity, 12);
        return;
    }
    if (number == 0) {
        // The first data set that is not a message, else the first one.
        for (uint32_t i = 0; i < h->fileCount && number == 0; ++i)
            if (h->dataSets[i].kind != XMIT_KIND_MESSAGE) number = i + 1;
        if (number == 0) number = 1;
    }
    if (number > h->fileCount) {
        std::fprintf(stderr, "opx: %s: data set %u was not transmitted (opx info shows them)\n",
                     path.c_str(), number);
        totals.severity = std::max(totals.severity, 12);
        return;
    }
    XmitDataSet& ds = h->dataSets[number - 1];
    const bool partitioned = isPartitioned(ds);
    if (depth == 0) totals.dataSet = number;

    // The target: a pattern with &M or &m for members, a file for a sequential data set. For
    // members, a target without "&M" or "&m" in its last part is a folder, made when it does
    // not exist yet; for a sequential data set a folder means the default name in it.
    if (target.empty()) target = ".";
    const char* lastSlash = platform::lastSeparator(target.c_str());
    const std::string lastPart = lastSlash == nullptr ? target : std::string(lastSlash + 1);
    const bool pattern =
        lastPart.find("&M") != std::string::npos || lastPart.find("&m") != std::string::npos;
    if (partitioned && !pattern && !isDirectory(target) && fs::exists(target)) {
        std::fprintf(stderr,
                     "opx: %s is a file: for the members of a partitioned data set, -o names a "
                     "folder or a pattern with &M or &m (such as out/&m.txt)\n",
                     target.c_str());
        totals.severity = std::max(totals.severity, 12);
        return;
    }
    if (isDirectory(target) || platform::isSeparator(target.back()) || (partitioned && !pattern)) {
        if (!platform::isSeparator(target.back())) target += '/';
        target += partitioned ? "&M" : defaultFileName(path, ds);
    }
    if (const char* last = platform::lastSeparator(target.c_str());
        last != nullptr && last != target.c_str()) {
        const size_t slash = static_cast<size_t>(last - target.c_str());
        std::error_code ec;
        fs::create_directories(target.substr(0, slash), ec);
        if (ec) {
            std::fprintf(stderr, "opx: cannot make the folder %s: %s\n",
                         target.substr(0, slash).c_str(), ec.message().c_str());
            totals.severity = std::max(totals.severity, 12);
            return;
        }
    }

    ExtractBlock req{};
    std::vector<const char*> names;
    for (const auto& m : memberNames) names.push_back(m.c_str());
    if (!names.empty()) {
        req.memberNames = names.data();
        req.memberCount = static_cast<uint32_t>(names.size());
    }
    req.target = target.c_str();
    req.dataSet = number;
    if (!o_.listing.empty()) req.listing = o_.listing.c_str();
    req.binderParameters = o_.binderParameters.c_str();
    opx::ExtractExtras extras;
    extras.readPdse = true;
    extras.encoding = enc_.table();
    extras.unnum = o_.unnum;
    int type = lookup(o_.type,
                      {{"auto", 0},
                       {"text", 0},
                       {"binary", 0},
                       {"dump", 1},
                       {"prefix", 2},
                       {"ibm", 3},
                       {"convert", 4},
                       {"delink", 5},
                       {"relink", 6}},
                      "type");
    if (o_.type == "auto") extras.mode = opx::ExtractExtras::Mode::Auto;
    if (o_.type == "binary") extras.mode = opx::ExtractExtras::Mode::Binary;
    req.type = type;
    req.lineEnd =
        lookup(o_.lineEnd, {{"native", 0}, {"cr", 1}, {"lf", 2}, {"crlf", 3}}, "line end");
    req.format =
        lookup(o_.format,
               {{"fixed", 0}, {"bytes", 1}, {"len2", 2}, {"len2i", 3}, {"rdw", 4}, {"variable", 5}},
               "format");
    if (req.type < 0 || req.lineEnd < 0 || req.format < 0) {
        totals.severity = std::max(totals.severity, 2);
        return;
    }
    req.tabWidth = static_cast<uint8_t>(o_.tabs);
    req.lrecl = o_.lrecl;
    // Records of undefined format are blocks: their length is bounded by the block size, not
    // by the LRECL (which some writers set to a value of their own).
    if (req.lrecl == 0 && ds.recfmLetters[0] == 'U' && ds.blksize > 0 &&
        req.type == EXTRACT_TYPE_CONVERT)
        req.lrecl = static_cast<uint32_t>(ds.blksize);
    req.blockSize = o_.blksize;
    req.padCharacter = 0x40;
    if (!o_.pad.empty()) {
        // The pad character is an EBCDIC byte: two hexadecimal digits, or a name.
        if (o_.pad == "blank")
            req.padCharacter = 0x40;
        else if (o_.pad == "zero")
            req.padCharacter = 0xF0;
        else if (o_.pad == "null")
            req.padCharacter = 0x00;
        else if (o_.pad.size() == 2 && std::isxdigit(static_cast<unsigned char>(o_.pad[0])) &&
                 std::isxdigit(static_cast<unsigned char>(o_.pad[1])))
            req.padCharacter = static_cast<uint8_t>(std::stoul(o_.pad, nullptr, 16));
        else {
            std::fprintf(
                stderr,
                "opx: --pad takes two hexadecimal digits (an EBCDIC byte), blank, zero or null\n");
            totals.severity = std::max(totals.severity, 2);
            return;
        }
    }
    if (o_.strip) req.options |= EXTRACT_STRIP;
    if (o_.translate) req.options |= EXTRACT_TRANSLATE;
    if (o_.blocked) req.options |= EXTRACT_BLOCKED;
    if (o_.spanned) req.options |= EXTRACT_SPANNED;
    if (o_.truncate) req.options |= EXTRACT_TRUNCATE;

    progress_ = !o_.json && platform::isTerminal(stderr);
    std::string replace = o_.replace;
    if (replace == "ask" && !platform::isTerminal(stdin)) replace = "never";
    if (replace == "always") replaceAll_ = true;

    // Members written: by member name, the file (for aliases); and transmit files to follow.
    std::map<std::string, std::string> written;
    std::vector<std::pair<std::string, uint32_t>> nested; // transmit files written, records
    const time_t sequentialTime = transmitTime(h);

    int result = opx::extractStep(EXTRACT_GO, h, &req, extras);
    uint32_t savedBefore = 0; // members created or replaced before the last step
    std::string pending;
    bool pendingNew = false;
    while (result != EXTRACT_RESULT_DONE) {
        int function = EXTRACT_GO;
        switch (result) {
        case EXTRACT_RESULT_NEW:
        case EXTRACT_RESULT_EXISTS: {
            pending = req.fileName ? req.fileName : "";
            pendingNew = result == EXTRACT_RESULT_NEW;
            if (progress_) std::fprintf(stderr, "\r\033[K[%lu] %s", done_ + 1, req.memberName);
            if (result == EXTRACT_RESULT_EXISTS && !replaceAll_) {
                char answer = replace == "ask" ? askReplace(pending.c_str()) : 'n';
                if (answer == 'a') replaceAll_ = true;
                if (answer == 'q') {
                    quit_ = true;
                    function = EXTRACT_STOP;
                    break;
                }
                if (answer != 'y' && answer != 'a') {
                    report("skipped", req.memberName, pending, -1, "exists");
                    function = EXTRACT_SKIP;
                }
            }
            if (function == EXTRACT_GO && !partitioned) {
                // A sequential data set is written by this call and the request ends.
                const uint32_t before = req.filesCreated + req.filesReplaced;
                result = opx::extractStep(EXTRACT_GO, h, &req, extras);
                if (req.filesCreated + req.filesReplaced > before) {
                    if (!o_.noTimes) setModificationTime(pending, sequentialTime);
                    const opx::ExtractOutcome& outcome = *opx::extractOutcome(&req);
                    reportWritten(pendingNew, "", pending, req.recordsWritten, outcome);
                    if (outcome.content == opx::Content::Transmit)
                        nested.emplace_back(pending, req.recordsWritten);
                }
                continue;
            }
            break;
        }
        case EXTRACT_RESULT_WRITTEN: {
            ++done_;
            const opx::ExtractOutcome& outcome = *opx::extractOutcome(&req);
            reportWritten(pendingNew, req.memberName, pending, req.recordsWritten, outcome);
            written[req.memberName] = pending;
            if (!o_.noTimes) {
                for (unsigned i = 0; i < ds.entryCount; ++i) {
                    const opx::DecodedEntry d = opx::decodeEntry(&ds, i);
                    if (trimRight(d.name) == req.memberName) {
                        setModificationTime(pending, changeTime(d));
                        break;
                    }
                }
            }
            if (outcome.content == opx::Content::Transmit)
                nested.emplace_back(pending, req.recordsWritten);
            break;
        }
        case EXTRACT_RESULT_NOT_WRITTEN:
            if (req.type == EXTRACT_TYPE_RELINK && req.fileName != nullptr &&
                pending == req.fileName) {
                // Relinked (created or replaced), or the linkage editor failed (skipped).
                const bool saved = req.filesCreated + req.filesReplaced > savedBefore;
                const std::string message = req.message ? req.message : "";
                const size_t code = message.rfind("= ");
                report(saved ? "relinked" : "failed", req.memberName, pending, -1,
                       code == std::string::npos
                           ? message
                           : "linkage editor return code " + message.substr(code + 2));
                if (!saved) totals.severity = std::max(totals.severity, 8);
                break;
            }
            report("not written", req.memberName, "", -1, req.message ? req.message : "");
            break;
        default:
            break;
        }
        if (function == EXTRACT_STOP) break;
        savedBefore = req.filesCreated + req.filesReplaced;
        result = opx::extractStep(function, h, &req, extras);
    }
    if (progress_) std::fprintf(stderr, "\r\033[K");
    const int severity = req.severity;
    const std::string message = req.message ? req.message : "";
    const std::string fileName = req.fileName ? req.fileName : "";
    opx::extractStep(EXTRACT_STOP, h, &req, extras);
    totals.created += req.filesCreated;
    totals.replaced += req.filesReplaced;
    totals.skipped += req.filesSkipped;
    totals.records += req.recordsWritten;
    totals.severity = std::max(totals.severity, severity);
    if (!message.empty())
        std::fprintf(stderr, "opx: %s%s%s\n", message.c_str(), fileName.empty() ? "" : ": ",
                     fileName.c_str());
    // The linkage editor input names the aliases itself (ALIAS statements).
    if (partitioned && severity < 12 && o_.aliases != "skip" && req.type != EXTRACT_TYPE_DELINK &&
        req.type != EXTRACT_TYPE_RELINK)
        linkAliases(&ds, written, memberNames);
    if (o_.recursive && !quit_)
        for (const auto& [f, records] : nested) expandNested(f, records, depth);
}

// Aliases of the members written: relative symbolic links beside their member's file, or
// copies of it.
void Extractor::linkAliases(XmitDataSet* ds, const std::map<std::string, std::string>& written,
                            const std::vector<std::string>& selected) {
    auto isSelected = [&selected](const std::string& name) {
        if (selected.empty()) return true;
        for (const std::string& s : selected) {
            std::string upper = s;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (upper == name) return true;
        }
        return false;
    };
    for (unsigned i = 0; i < ds->entryCount; ++i) {
        const opx::DecodedEntry d = opx::decodeEntry(ds, i);
        if (!d.alias || !d.aliasResolved) continue;
        const std::string alias = trimRight(d.name), member = trimRight(d.aliasOf);
        auto it = written.find(member);
        if (it == written.end() || written.count(alias) != 0) continue;
        if (!isSelected(alias) && !isSelected(member)) continue;
        // The alias's file: the member's file with the alias's name in place of the member's,
        // in the same folder. Only names that are member names become file names.
        if (!iOpxIsMemberName(alias.c_str())) {
            report("not written", alias, "", -1, "the alias is not valid as a file name");
            continue;
        }
        const fs::path mainFile(it->second);
        const std::string base = mainFile.filename().string();
        std::string lowerMember = member;
        for (char& c : lowerMember)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string aliasBase;
        if (base.rfind(member, 0) == 0)
            aliasBase = alias + base.substr(member.size());
        else if (base.rfind(lowerMember, 0) == 0) {
            std::string lowerAlias = alias;
            for (char& c : lowerAlias)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            aliasBase = lowerAlias + base.substr(member.size());
        } else {
            continue;
        }
        const std::string aliasFile = (mainFile.parent_path() / aliasBase).string();
        const bool exists = fs::exists(fs::symlink_status(aliasFile));
        if (exists && !replaceAll_) {
            report("skipped", alias, aliasFile, -1, "exists");
            ++totals.skipped;
            continue;
        }
        bool copy = o_.aliases == "copy";
        if (!copy) {
            // A link made under a temporary name, then renamed over whatever was there.
            std::string temp;
            const int fd = platform::createBeside(aliasFile, ".opx-", temp);
            if (fd >= 0) {
                platform::closeFile(fd);
                std::remove(temp.c_str());
            }
            if (fd >= 0 && platform::makeSymbolicLink(base, temp)) {
                if (platform::replaceFile(temp, aliasFile)) {
                    if (o_.json)
                        report("linked", alias, aliasFile, -1, "", {{"aliasOf", jsonText(member)}});
                    else
                        std::printf("%-8s %s -> %s\n", "linked", aliasFile.c_str(), base.c_str());
                    ++totals.aliases;
                    continue;
                }
                std::remove(temp.c_str());
            }
            if (!warnedLinks_) {
                std::fprintf(stderr,
                             "opx: cannot make symbolic links in %s (%s); aliases are written as "
                             "copies\n",
                             mainFile.parent_path().string().c_str(), std::strerror(errno));
                warnedLinks_ = true;
            }
            copy = true;
        }
        std::string error;
        if (copyFile(it->second, aliasFile, &error)) {
            if (o_.json)
                report("copied", alias, aliasFile, -1, "", {{"aliasOf", jsonText(member)}});
            else
                std::printf("%-8s %s (alias of %s)\n", "copied", aliasFile.c_str(),
                            enc_.text(member).c_str());
            ++totals.aliases;
        } else {
            report("not written", alias, aliasFile, -1, error);
            totals.severity = std::max(totals.severity, 12);
        }
    }
}

// A transmit file written from a member or data set: extracted into a folder of the same name
// without ".xmi", and removed when that went well.
void Extractor::expandNested(const std::string& file, uint32_t records, int depth) {
    // NAME.xmi goes into NAME; a file of another name into a folder of its own name, which
    // takes the file's place once it is complete.
    std::string folder = file;
    const bool xmi = folder.size() > 4 && folder.compare(folder.size() - 4, 4, ".xmi") == 0;
    if (xmi)
        folder.resize(folder.size() - 4);
    else
        folder += ".opx-d";
    if (depth + 1 > kMaxDepth) {
        std::fprintf(stderr,
                     "opx: %s: transmit files nested more than %d deep are not followed; it "
                     "stays as it is\n",
                     file.c_str(), kMaxDepth);
        totals.severity = std::max(totals.severity, 4);
        return;
    }
    {
        Handle probe(file);
        if (probe.h->message != nullptr) {
            std::fprintf(stderr, "opx: %s: not extracted in its turn: %s\n", file.c_str(),
                         probe.h->message);
            return;
        }
    }
    const int before = totals.severity;
    totals.severity = 0;
    run(file, 0, {}, folder + "/", depth + 1);
    const bool ok = totals.severity < 8;
    totals.severity = std::max(before, totals.severity);
    if (!ok) return;
    // The folder takes the place of the file.
    std::remove(file.c_str());
    if (!xmi && std::rename(folder.c_str(), file.c_str()) == 0) folder = file;
    if (totals.created > 0) --totals.created;
    totals.records -= std::min<unsigned long>(totals.records, records);
    if (o_.json)
        totals.results.push_back({{"result", "expanded"}, {"file", file}, {"folder", folder}});
    else
        std::printf("%-8s %s into %s/\n", "expanded", file.c_str(), folder.c_str());
}

} // namespace

int extract(const ExtractOptions& o, const Encoding& enc) {
    unsigned number = 0;
    size_t firstMember = 0;
    if (!o.positional.empty() && isNumber(o.positional[0])) {
        number = static_cast<unsigned>(std::stoul(o.positional[0]));
        firstMember = 1;
    }
    const std::vector<std::string> members(o.positional.begin() + static_cast<long>(firstMember),
                                           o.positional.end());
    Extractor x(o, enc);
    x.run(o.path, number, members, o.output, 0);
    const Totals& t = x.totals;
    if (o.json) {
        json doc = {{"file", o.path},         {"results", t.results},  {"created", t.created},
                    {"replaced", t.replaced}, {"skipped", t.skipped},  {"aliases", t.aliases},
                    {"records", t.records},   {"severity", t.severity}};
        if (t.dataSet != 0) doc["dataSet"] = t.dataSet;
        std::printf("%s\n", doc.dump(2).c_str());
    } else {
        std::printf("%lu created, %lu replaced, %lu skipped, %lu records", t.created, t.replaced,
                    t.skipped, t.records);
        if (t.aliases > 0) std::printf(", %lu alias%s", t.aliases, t.aliases == 1 ? "" : "es");
        std::printf("\n");
    }
    return t.severity;
}

} // namespace opxcli
