// Files of the job step: SYSPRINT, SYSTERM, SYSLIN, SYSLIB and SYSLMOD bound to workstation
// paths, the heading of the listing with its file table, and the input stack from which
// records are read (SYSLIN files, files included by path, library members).
//
//    VRL000I PARAMETERS - LIST=ALL,MAP
//
//    DDNAME     SEQ   PATH
//    --------   ---   ----------------
//    SYSLIN       1   /work/main.obj
//                 2   /work/link.txt
//    SYSLIB       1   /work/lib/&m.obj
//    SYSLMOD          /work/load/&M
//    SYSPRINT         /work/link.lst
//
// Input files may be workstation text (lines translated to EBCDIC), EBCDIC text with X'15'
// line ends, or fixed 80-byte records; the first bytes of a file decide which.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "linkedit.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "runtime.h"

namespace vrl {

namespace {

constexpr size_t kTextRead = 1024;
constexpr size_t kFixedRead = 960; // 12 records
constexpr size_t kDetectWindow = 81;

// The open mode of a listing: append (DISP=MOD) or a new file.
int listingMode(unsigned flags) {
    return (flags & LINKEDIT_DD_APPEND) ? IO_APPEND : IO_WRITE;
}

void missingDd(Job& job, const DdSlot& dd, int severity) {
    tellOperator(job, format("KEC130I %s DD STATEMENT MISSING", dd.ddName.c_str()));
    const char letter = severity == kSevere ? 'S' : 'T';
    issue(job, severity,
          format("VRL010%c DDNAME %s cannot be opened, DD statement is missing.", letter,
                 dd.ddName.c_str()));
}

void openFailed(Job& job, const DdSlot& dd, int errnum) {
    const std::string shown = dd.path.empty() ? "/dev/null" : dd.path;
    tellOperator(job, format("KEC141I 013-18,%-8s,%s, PATH=\"%s\"", dd.ddName.c_str(),
                             systemError(errnum), shown.c_str()));
    issueWithPath(
        job, kTerminal,
        format("VRL011T DDNAME %s cannot be opened, %s,", dd.ddName.c_str(), systemError(errnum)),
        dd.path);
}

void invalidPattern(Job& job, const std::string& ddName, const std::string& path) {
    tellOperator(
        job, format("KEC141I 013-14,%-8s,DCB=DSORG=PO REQUIRES DATASET DSORG=PO", ddName.c_str()));
    tellOperator(job, "        PATH=" + path);
    issue(job, kTerminal,
          format("VRL013T DDNAME %s cannot be opened, invalid path pattern \"%s\"", ddName.c_str(),
                 path.c_str()));
}

// Remembers which file an open listing is.
void noteIdentity(DdSlot& dd) {
    platform::FileIdentity id;
    if (dd.io.stream != nullptr && platform::identityOf(dd.io.stream, id, true)) {
        dd.haveIdentity = true;
        dd.device = id.volume;
        dd.inode = id.index;
    }
}

// Opens a listing file (SYSPRINT or SYSTERM). False after its message.
bool openListingFile(Job& job, DdSlot& dd, bool terminal) {
    if (!dd.given) {
        missingDd(job, dd, kTerminal);
        return false;
    }
    if (dd.flags & LINKEDIT_DD_BINARY) {
        issue(job, kTerminal,
              format("VRL012T DDNAME %s cannot be opened, FILEDATA=TEXT is required",
                     dd.ddName.c_str()));
        return false;
    }
    if (terminal && (dd.path == "<stdout>" || dd.path == "<stderr>")) {
        dd.io.stream = dd.path == "<stdout>" ? stdout : stderr;
        dd.io.path = dd.path.c_str();
        dd.io.traceLevel = rt::traceLevel();
        dd.standardStream = true;
        return true;
    }
    dd.io.path = dd.path.c_str();
    dd.io.mode = listingMode(dd.flags);
    dd.io.traceLevel = rt::traceLevel();
    if (rt::ioOpen(dd.io) != IO_OK) {
        openFailed(job, dd, dd.io.errnum);
        return false;
    }
    noteIdentity(dd);
    return true;
}

void dropQueue(Job& job) {
    rt::freeMessageQueue(&job.queue);
}

void issueQueued(Job& job) {
    std::vector<uint8_t> buffer(UTILITY_MESSAGE_BUFFER_SIZE);
    void* args[2] = {&job.queue, buffer.data()};
    while (job.queue != nullptr &&
           rt::utilityMessageGet(UTILITY_MESSAGE_TAKE, args) == UTILITY_MESSAGE_TAKEN) {
        uint16_t length = 0;
        std::memcpy(&length, buffer.data() + 2, 2);
        const std::string text(reinterpret_cast<const char*>(buffer.data()) + 4, length);
        issue(job, severityOfLetter(text.size() > 6 ? text[6] : 'T'), text);
    }
}

void printParameters(Job& job) {
    const std::string parm = job.parm != nullptr ? job.parm : "";
    printLine(job, format("VRL000I PARAMETERS - %.99s", parm.c_str()));
    for (size_t at = 99; at < parm.size(); at += 99)
        printLine(job, format("                     %.99s", parm.c_str() + at));
}

void printFileTable(Job& job) {
    printLine(job, "DDNAME     SEQ   PATH", 1);
    printLine(job, "--------   ---   ----------------");
    auto concatenation = [&](const DdSlot& dd, const std::vector<std::string>& paths) {
        for (size_t i = 0; i < paths.size(); ++i)
            printLine(job, format("%-8s%6u   %s", i == 0 ? dd.ddName.c_str() : "",
                                  static_cast<unsigned>(i + 1), paths[i].c_str()));
    };
    concatenation(job.dd[kSyslin], job.syslin);
    concatenation(job.dd[kSyslib], job.syslib);
    const DdSlot& lmod = job.dd[kSyslmod];
    if (lmod.given && !lmod.path.empty())
        printLine(job, format("%-8s         %s", lmod.ddName.c_str(), lmod.path.c_str()));
    for (int i : {kSysprint, kSysterm}) {
        const DdSlot& dd = job.dd[i];
        if (dd.open())
            printLine(job, format("%-8s         %s", dd.ddName.c_str(), dd.path.c_str()));
    }
}

// Refills the buffer of an input file. False at the end of the file or after a read error.
bool refill(Job& job, InputFile& f, size_t size) {
    f.pos = 0;
    f.fill = 0;
    if (f.atEnd) return false;
    const size_t n = rt::ioRead(f.io, f.buffer, 1, size);
    if (f.io.status == IO_ERROR) {
        f.atEnd = true;
        const std::string text = f.member.empty()
                                     ? format("VRL016T Error reading %s: %s,", f.ddName.c_str(),
                                              systemError(f.io.errnum))
                                     : format("VRL016T Error reading %s(%s): %s,", f.ddName.c_str(),
                                              f.member.c_str(), systemError(f.io.errnum));
        issueWithPath(job, kTerminal, text, f.path);
        return false;
    }
    f.fill = n;
    if (n == 0) f.atEnd = true;
    return n > 0;
}

// The format of a file from its first buffer.
uint32_t detectFormat(const InputFile& f) {
    const uint8_t first = f.buffer[0];
    if (first == 0x1A) return f.fill == 1 ? kInputText : kInputFixed;
    if (first == '\n' || first == '\r' || first == ' ' || first == '*') return kInputText;
    if (first == 0x15) return kInputEbcdicText;
    if (first == 0x40 || first == 0x5C) {
        const size_t window = std::min(f.fill, kDetectWindow);
        return std::memchr(f.buffer, 0x15, window) != nullptr ? kInputEbcdicText : kInputFixed;
    }
    return kInputFixed;
}

} // namespace

const char* systemError(int errnum) {
    return std::strerror(errnum);
}

std::string generatedDdName(Job& job) {
    return format("SYS%05u", static_cast<unsigned>(job.ddCounter++ % 100000));
}

std::string PathPattern::memberPath(std::string_view member) const {
    std::string name(member);
    if (lower)
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return prefix + name + suffix;
}

PathPattern parsePattern(const std::string& path) {
    PathPattern p;
    const char* sep = platform::lastSeparator(path.c_str());
    const size_t at = sep == nullptr ? 0 : static_cast<size_t>(sep - path.c_str()) + 1;
    if (path.size() < at + 2 || path[at] != '&' || (path[at + 1] != 'M' && path[at + 1] != 'm'))
        return p;
    if (path.size() > at + 2 && path[at + 2] != '.') return p;
    p.valid = true;
    p.lower = path[at + 1] == 'm';
    p.prefix = path.substr(0, at);
    p.suffix = path.substr(at + 2);
    return p;
}

void bindFiles(Job& job) {
    // SYSPRINT: a terminal error here ends the job step before anything else is done.
    if (!job.invocation.on(kNoPrint)) {
        if (!openListingFile(job, job.dd[kSysprint], false)) {
            dropQueue(job);
            return;
        }
        job.output &= ~kOutputToCallback;
        buildTitle(job);
        printParameters(job);
    }
    if (job.invocation.on(kTerm)) {
        DdSlot& term = job.dd[kSysterm];
        if (openListingFile(job, term, true) || listingOpen(job)) job.output &= ~kOutputToCallback;
        if (term.flags & LINKEDIT_DD_SPLIT) job.output |= kOutputSplit;
    } else if (!listingOpen(job)) {
        job.output &= ~kOutputToCallback; // neither listing nor terminal: nothing is shown
    }
    issueQueued(job);
    if (job.stopped()) return;

    job.syslinCount = static_cast<uint32_t>(job.syslin.size());
    job.syslibCount = static_cast<uint32_t>(job.syslib.size());
    printFileTable(job);

    if (job.syslin.empty()) {
        missingDd(job, job.dd[kSyslin], kTerminal);
    } else {
        openNextSyslin(job);
    }
    DdSlot& lmod = job.dd[kSyslmod];
    if (!lmod.given || lmod.path.empty()) {
        missingDd(job, lmod, kTerminal);
    } else {
        lmod.pattern = parsePattern(lmod.path);
        if (!lmod.pattern.valid) invalidPattern(job, lmod.ddName, lmod.path);
    }
}

bool openInput(InputFile& f) {
    f.io.path = f.path.c_str();
    f.io.mode = IO_READ;
    f.io.binary = 1;
    f.io.traceLevel = rt::traceLevel();
    if (f.path == "<stdin>") {
        // Records are read as bytes: no line-end translation of standard input on Windows.
        platform::setBinaryMode(stdin);
        f.io.stream = stdin;
        f.flags |= kInputStandard;
    } else if (rt::ioOpen(f.io) != IO_OK) {
        return false;
    }
    if (platform::FileIdentity id; platform::identityOf(f.io.stream, id, false)) {
        f.haveIdentity = true;
        f.device = id.volume;
        f.inode = id.index;
    }
    return true;
}

bool openNextSyslin(Job& job) {
    if (job.syslinIndex >= job.syslin.size()) return false;
    const uint32_t index = job.syslinIndex++;
    auto f = std::make_unique<InputFile>();
    f->path = job.syslin[index];
    f->ddName = job.dd[kSyslin].ddName;
    f->sequence = static_cast<uint16_t>(index);
    f->flags = kInputSyslin;
    if (!openInput(*f)) {
        DdSlot shown;
        shown.ddName = f->ddName;
        shown.path = f->path;
        openFailed(job, shown, f->io.errnum);
        return false;
    }
    if (const std::string output = inUseAsOutput(job, *f); !output.empty()) {
        if (!(f->flags & kInputStandard)) rt::ioClose(f->io, false);
        issueWithPath(job, kTerminal,
                      format("VRL011T DDNAME %s cannot be opened, file is in use as %s,",
                             f->ddName.c_str(), output.c_str()),
                      f->path);
        return false;
    }
    job.stack.push_back(std::move(f));
    return true;
}

std::string inUseAsOutput(const Job& job, const InputFile& file) {
    for (int i : {kSysprint, kSysterm}) {
        const DdSlot& dd = job.dd[i];
        if (dd.open() && dd.haveIdentity && file.haveIdentity && dd.device == file.device &&
            dd.inode == file.inode)
            return dd.ddName;
    }
    return "";
}

void popInput(Job& job) {
    if (job.stack.empty()) return;
    InputFile& f = *job.stack.back();
    if (f.io.stream != nullptr && !(f.flags & kInputStandard)) rt::ioClose(f.io, false);
    job.stack.pop_back();
}

void closeInputs(Job& job) {
    while (!job.stack.empty()) popInput(job);
}

void closeListing(Job& job) {
    for (int i : {kSysprint, kSysterm}) {
        DdSlot& dd = job.dd[i];
        if (!dd.open()) continue;
        if (dd.standardStream) {
            std::fflush(dd.io.stream);
            dd.io.stream = nullptr;
            continue;
        }
        // The last lines of a listing are written when it is closed: a listing that cannot
        // be completed is not a job step that ended well.
        if (rt::ioClose(dd.io, false) != IO_OK && i == kSysprint) {
            dd.io.stream = nullptr;
            job.output |= kOutputToCallback;
            issueWithPath(job, kTerminal,
                          format("VRL017T Error writing to %s: %s,", dd.ddName.c_str(),
                                 systemError(dd.io.errnum)),
                          dd.path);
        }
        dd.io.stream = nullptr;
    }
}

bool onInputStack(const Job& job, const InputFile& file, bool byPath) {
    for (const auto& entry : job.stack) {
        const InputFile& f = *entry;
        if (!f.started) continue;
        if (f.haveIdentity && file.haveIdentity && f.device == file.device && f.inode == file.inode)
            return true;
        if (byPath ? f.path == file.path
                   : !file.member.empty() && f.ddName == file.ddName && f.member == file.member)
            return true;
    }
    return false;
}

int readRecord(Job& job, Record& out) {
    InputFile* f = job.current();
    if (f == nullptr) return 1;
    f->started = true;
    const bool first = (f->flags & (kInputText | kInputEbcdicText | kInputFixed)) == 0;
    if (first) {
        if (!refill(job, *f, kTextRead)) return f->io.status == IO_ERROR ? -1 : 1;
        f->flags |= detectFormat(*f);
    }
    auto more = [&](size_t size) {
        if (f->pos < f->fill) return true;
        return refill(job, *f, size);
    };
    size_t n = 0;
    if (f->flags & kInputFixed) {
        while (n < kRecordLength) {
            if (!more(kFixedRead)) break;
            const size_t take = std::min(kRecordLength - n, f->fill - f->pos);
            std::memcpy(out.bytes + n, f->buffer + f->pos, take);
            f->pos += take;
            n += take;
        }
    } else if (f->flags & kInputEbcdicText) {
        bool any = false;
        while (more(kTextRead)) {
            const uint8_t b = f->buffer[f->pos++];
            any = true;
            if (b == 0x15) break;
            if (n < kRecordLength) out.bytes[n] = b;
            ++n;
        }
        if (!any) return f->io.status == IO_ERROR ? -1 : 1;
        n = std::min(n, kRecordLength);
        if (n == 0) n = 1, out.bytes[0] = obj::kEbcdicBlank; // an empty line is a blank record
    } else {
        const uint8_t* a2e = rt::asciiToEbcdic();
        bool ended = false, any = false;
        uint8_t raw[kRecordLength];
        size_t rawLength = 0;
        while (!ended) {
            if (!more(kTextRead)) break;
            const uint8_t b = f->buffer[f->pos++];
            if (f->crSeen) {
                f->crSeen = false;
                if (b == '\n') continue;
            }
            any = true;
            if (b == '\n' || b == '\r') {
                f->crSeen = b == '\r';
                ended = true;
                break;
            }
            if (rawLength < kRecordLength) raw[rawLength] = b;
            ++rawLength;
        }
        if (!any) return f->io.status == IO_ERROR ? -1 : 1;
        // A last line holding only X'1A' marks the end of the file.
        if (!ended && rawLength == 1 && raw[0] == 0x1A) return 1;
        n = std::min(rawLength, kRecordLength);
        for (size_t i = 0; i < n; ++i) out.bytes[i] = a2e[raw[i]];
        if (n == 0) n = 1, out.bytes[0] = obj::kEbcdicBlank;
    }
    if (f->io.status == IO_ERROR) return -1;
    if (n == 0) return 1;
    std::memset(out.bytes + n, obj::kEbcdicBlank, kRecordLength - n);
    ++f->records;
    return 0;
}

bool syslibPatterns(Job& job) {
    if (job.syslib.empty()) {
        missingDd(job, job.dd[kSyslib], kSevere);
        return false;
    }
    if (!job.syslibParsed) {
        job.syslibParsed = true;
        job.syslibValid = true;
        for (const std::string& path : job.syslib) {
            PathPattern p = parsePattern(path);
            if (!p.valid) {
                job.syslibValid = false;
                invalidPattern(job, job.dd[kSyslib].ddName, path);
            }
            job.syslibPatterns.push_back(std::move(p));
        }
    }
    return job.syslibValid;
}

std::string findMember(Job& job, int dd, const std::string& member, uint16_t* sequence) {
    const std::vector<PathPattern>* patterns = &job.syslibPatterns;
    std::vector<PathPattern> single;
    if (dd == kSyslmod) {
        single.push_back(job.dd[kSyslmod].pattern);
        patterns = &single;
    }
    for (size_t i = 0; i < patterns->size(); ++i) {
        const std::string candidate = (*patterns)[i].memberPath(member);
        std::error_code ec;
        if (rt::ioAccess(candidate.c_str(), 0, rt::traceLevel()) == 0 &&
            std::filesystem::exists(candidate, ec) &&
            !std::filesystem::is_directory(candidate, ec)) {
            if (sequence != nullptr) *sequence = static_cast<uint16_t>(i);
            return candidate;
        }
    }
    return "";
}

} // namespace vrl
