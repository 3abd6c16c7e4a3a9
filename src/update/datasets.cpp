// The data sets of a run: DD allocations bound to paths, member paths of partitioned data sets,
// SYSIN records (text lines or EBCDIC card images), old records from SYSUT1, new records to
// SYSUT2, and the temporary files that keep an existing member or sequential data set intact
// until its replacement is complete.
//
// A partitioned data set is a folder of member files named by a pattern:
//   /src/&m.asm   member PAYROLL  ->  /src/payroll.asm
//   /src/&M       member PAYROLL  ->  /src/PAYROLL
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "runtime.h"
#include "update.h"

namespace ufx {

namespace {

constexpr size_t kStreamBuffer = 1 << 16;
constexpr size_t kOldChunk = 1 << 16;

const char* errorText(int errnum) {
    return std::strerror(errnum);
}

// A larger stream buffer than the default for the record files.
void bufferStream(IoFileCore& io) {
    if (io.stream != nullptr) std::setvbuf(io.stream, nullptr, _IOFBF, kStreamBuffer);
}

// A read or write error of a data set: "KDU802E <dd> I/O ERROR, <reason>," with its path.
void ioError(UpdateRun& run, const DdAllocation& dd, const char* reason, const std::string& path) {
    issueWithPath(run, format("KDU802E %s I/O ERROR, %s,", dd.ddName.c_str(), reason),
                  path.c_str());
    setCondition(run, 12);
}

bool isEmptyPath(const char* path) {
    return path == nullptr || *path == '\0';
}

// Whether SYSUT2 is being appended to in place (DISP=MOD) and is the file `path`: reading it
// while appending to it would never reach its end.
bool appendingTo(const UpdateRun& run, const std::string& path) {
    const DdAllocation& out = run.dd[kSysut2];
    return out.open() && !out.partitioned() && out.io.mode == IO_APPEND &&
           sameDataSet(out.path, path);
}

// Creates an empty temporary file beside `target`, with the target's permissions when it
// exists. Returns its path, or "" with errno set.
std::string createTemporaryBeside(const std::string& target) {
    std::string name;
    const int fd = platform::createBeside(target, ".ufx", name);
    if (fd >= 0) platform::closeFile(fd);
    return name;
}

// Where a replacement of a sequential data set goes: "" to write the file directly (a device,
// a pipe, the null device), else the regular file that the path names (through a symbolic
// link, the file it points at).
std::string replacementTarget(const std::string& path) {
    if (isNullDevice(path.c_str())) return {};
    bool missing = false;
    return platform::regularFileBehind(path, missing);
}

// Refills the SYSIN buffer. 0 data, 1 end of file, -1 input error (reported).
int fillSysin(UpdateRun& run) {
    DdAllocation& dd = run.dd[kSysin];
    run.sysinPos = 0;
    run.sysinFill = 0;
    if (run.sysinEnd) return 1;
    const size_t n = rt::ioRead(dd.io, run.sysinBuffer, 1, kSysinBufferSize);
    if (dd.io.status == IO_ERROR) {
        ioError(run, dd, errorText(dd.io.errnum), dd.path);
        run.sysinFailed = true;
        return -1;
    }
    run.sysinFill = n;
    if (n == 0) {
        run.sysinEnd = true;
        return 1;
    }
    return 0;
}

} // namespace

// ---- records -------------------------------------------------------------------------------

void textToEbcdic(Record& r) {
    const uint8_t* a2e = rt::asciiToEbcdic();
    for (size_t i = 0; i < kRecordLength; ++i) r.ebcdic[i] = a2e[static_cast<uint8_t>(r.text[i])];
}

// The EBCDIC form of a text record read from SYSUT1: whole when it may be written (binary
// SYSUT2, an update in place), else only the sequence field, which gives the record its key.
static void oldToEbcdic(const UpdateRun& run, Record& r) {
    if (run.oldEbcdicNeeded) {
        textToEbcdic(r);
        return;
    }
    const uint8_t* a2e = rt::asciiToEbcdic();
    const SequenceField& f = run.oldField;
    for (size_t i = f.start; i < size_t{f.start} + f.length; ++i)
        r.ebcdic[i] = a2e[static_cast<uint8_t>(r.text[i])];
}

void ebcdicToText(Record& r) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    for (size_t i = 0; i < kRecordLength; ++i) r.text[i] = static_cast<char>(e2a[r.ebcdic[i]]);
}

void numberRecord(UpdateRun& run, Record& r, const Numbering& n, const SequenceField& f) {
    uint8_t* field = r.ebcdic + f.start;
    // The field starts from the numbering statement's NEW1 value; without one it keeps what
    // the record holds, so that no byte outside the numeric portion turns into X'00'.
    if (given(n.new1))
        for (size_t i = 0; i < f.length; ++i) field[i] = n.new1[i];
    // The last digits of the counter as 8 decimal digits ("%08u"), over the numeric portion.
    uint32_t value = run.counter;
    uint8_t* digit = r.ebcdic + f.numericStart + f.numericLength;
    for (int i = 0; i < f.numericLength; ++i) {
        *--digit = static_cast<uint8_t>(0xF0 + value % 10);
        value /= 10;
    }
    const uint8_t* e2a = rt::ebcdicToAscii();
    for (size_t i = 0; i < f.length; ++i) r.text[f.start + i] = static_cast<char>(e2a[field[i]]);
    run.counter = (run.counter + n.increment) % 100000000u;
}

// ---- DD allocations ------------------------------------------------------------------------

bool isNullDevice(const char* path) {
    return path != nullptr && strcasecmp(path, "nul") == 0;
}

bool isPartitionedPath(const char* path, size_t* at) {
    if (path == nullptr) return false;
    const char* sep = platform::lastSeparator(path);
    const char* last = sep != nullptr ? sep + 1 : path;
    for (const char* p = last; *p != '\0'; ++p)
        if (p[0] == '&' && (p[1] == 'M' || p[1] == 'm')) {
            if (at != nullptr) *at = static_cast<size_t>(p - path);
            return true;
        }
    return false;
}

void setUpDd(DdAllocation& dd, const char* path, const char* ddName, const char* defaultName,
             unsigned flags, int traceLevel) {
    dd.given = path;
    dd.path = path != nullptr ? path : "";
    dd.ddName = ddName != nullptr && *ddName != '\0' ? ddName : defaultName;
    dd.binary = (flags & UPDATE_DD_BINARY) != 0;
    dd.flags = (flags & UPDATE_DD_APPEND) ? uint32_t{kDdAppend} : 0u;
    dd.io = IoFileCore{};
    dd.io.traceLevel = traceLevel;
    dd.io.binary = dd.binary ? 1 : 0;
    size_t at = 0;
    if (isPartitionedPath(path, &at)) {
        dd.flags |= kDdPartitioned;
        if (path[at + 1] == 'm') dd.flags |= kDdLowerCase;
        dd.prefix.assign(path, at);
        dd.suffix.assign(path + at + 2);
    }
}

void resolveMember(DdAllocation& dd, std::string_view name) {
    dd.path = dd.prefix;
    for (char c : name) {
        if ((dd.flags & kDdLowerCase) && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        dd.path += c;
    }
    dd.path += dd.suffix;
}

bool fileExists(const std::string& path, int traceLevel) {
    return rt::ioAccess(path.c_str(), 0, traceLevel) == 0;
}

bool sameDataSet(const std::string& a, const std::string& b) {
    return a == b || platform::sameFile(a.c_str(), b.c_str());
}

// ---- SYSIN ---------------------------------------------------------------------------------

int openSysin(UpdateRun& run) {
    DdAllocation& dd = run.dd[kSysin];
    if (dd.missing()) {
        issueToCaller(run, format("KEC130I %s DD statement missing", dd.ddName.c_str()));
        issue(run, format("KDU814E DDNAME %s cannot be opened", dd.ddName.c_str()));
        setCondition(run, 12);
        return 1;
    }
    if (isEmptyPath(dd.given) || isNullDevice(dd.given)) {
        issue(run, format("KDU823E %s has no records", dd.ddName.c_str()));
        setCondition(run, 12);
        return 1;
    }
    dd.io.path = dd.path.c_str();
    dd.io.binary = 1;
    dd.io.mode = IO_READ;
    if (dd.path == "<stdin>") {
        // Records are read as bytes: no line-end translation of standard input on Windows.
        platform::setBinaryMode(stdin);
        dd.io.stream = stdin;
        run.sysinUsesStdin = true;
    } else if (rt::ioOpen(dd.io) != IO_OK) {
        issueWithPath(run,
                      format("KDU814E DDNAME %s cannot be opened, %s,", dd.ddName.c_str(),
                             errorText(dd.io.errnum)),
                      dd.path.c_str());
        setCondition(run, 12);
        return 1;
    }
    const int rc = fillSysin(run);
    if (rc < 0) return 1;
    if (rc > 0) {
        issue(run, format("KDU823E %s has no records", dd.ddName.c_str()));
        setCondition(run, 12);
        return 1;
    }
    if (run.sysinFill >= kRecordLength && run.sysinBuffer[0] == 0x4B && run.sysinBuffer[1] == 0x61)
        run.flags |= kRunEbcdicSysin;
    return 0;
}

int readSysinRecord(UpdateRun& run, Record& r) {
    if (run.sysinFailed) return -1;
    if (run.flags & kRunEbcdicSysin) {
        size_t got = 0;
        while (got < kRecordLength) {
            if (run.sysinPos == run.sysinFill) {
                const int rc = fillSysin(run);
                if (rc < 0) return -1;
                if (rc > 0) break;
            }
            const size_t take = std::min(kRecordLength - got, run.sysinFill - run.sysinPos);
            std::memcpy(r.ebcdic + got, run.sysinBuffer + run.sysinPos, take);
            run.sysinPos += take;
            got += take;
        }
        if (got == 0) return 1;
        if (got < kRecordLength) {
            ioError(run, run.dd[kSysin], "Last record is less than 80 bytes", run.dd[kSysin].path);
            run.sysinFailed = true;
            return -1;
        }
        ebcdicToText(r);
        return 0;
    }

    // Text: a line ends at CR, LF or CR LF; 80 characters are kept and the rest is skipped.
    size_t kept = 0, total = 0;
    bool ended = false;
    unsigned char last = 0;
    while (!ended) {
        if (run.sysinPos == run.sysinFill) {
            const int rc = fillSysin(run);
            if (rc < 0) return -1;
            if (rc > 0) break;
        }
        const unsigned char c = run.sysinBuffer[run.sysinPos++];
        if (run.sysinCrSeen) {
            run.sysinCrSeen = false;
            if (c == '\n') continue;
        }
        if (c == '\r' || c == '\n') {
            run.sysinCrSeen = c == '\r';
            ended = true;
            break;
        }
        if (kept < kRecordLength) r.text[kept++] = static_cast<char>(c);
        ++total;
        last = c;
    }
    if (!ended) {
        // The last line has no line end: a trailing Ctrl-Z goes, and nothing left is no line.
        if (total > 0 && last == 0x1A) {
            if (total <= kRecordLength) --kept;
            --total;
        }
        if (total == 0) return 1;
    }
    std::memset(r.text + kept, ' ', kRecordLength - kept);
    textToEbcdic(r);
    return 0;
}

// ---- SYSUT1 --------------------------------------------------------------------------------

int openOld(UpdateRun& run, const Statement& fn, bool* haveOld) {
    DdAllocation& dd = run.dd[kSysut1];
    *haveOld = false;
    if (!dd.partitioned() && run.sequentialOldRead) {
        issue(run,
              "KDU815E Cannot read old sequential data set more than once per utility execution.");
        return -1;
    }
    if (isEmptyPath(dd.given)) return 0;
    const bool inplace = (run.flags & kRunInplace) != 0;
    if (inplace && !dd.binary) {
        issueWithPath(
            run,
            format(
                "KDU814E DDNAME %s cannot be opened: UPDATE=INPLACE cannot be used with text file,",
                dd.ddName.c_str()),
            dd.path.c_str());
        setCondition(run, 12);
        return 1;
    }
    if (appendingTo(run, dd.path)) {
        issue(run, "KDU807E Operation error: old and new sequential data sets must be different");
        return -1;
    }
    dd.io.path = dd.path.c_str();
    dd.io.mode = inplace ? IO_UPDATE : IO_READ;
    if (rt::ioOpen(dd.io) != IO_OK) {
        if (dd.partitioned()) {
            issueWithPath(run,
                          format("KDU812E Cannot access member %s in %s: %s,", fn.function.name,
                                 dd.ddName.c_str(), errorText(dd.io.errnum)),
                          dd.path.c_str());
            return -1;
        }
        issueWithPath(run,
                      format("KDU814E DDNAME %s cannot be opened: %s,", dd.ddName.c_str(),
                             errorText(dd.io.errnum)),
                      dd.path.c_str());
        setCondition(run, 12);
        return 1;
    }
    bufferStream(dd.io);
    if (!dd.partitioned()) run.sequentialOldRead = true;
    run.oldField = fn.function.sequence;
    run.oldEbcdicNeeded = inplace || run.dd[kSysut2].binary;
    run.oldFill = run.oldPos = 0;
    run.oldAtEof = false;
    if (!dd.binary && run.oldBuffer.empty()) run.oldBuffer.resize(kOldChunk);
    *haveOld = true;
    return 0;
}

int readOld(UpdateRun& run, Record& r) {
    DdAllocation& dd = run.dd[kSysut1];
    if (dd.binary) {
        const size_t n = rt::ioRead(dd.io, r.ebcdic, 1, kRecordLength);
        if (n == kRecordLength) {
            ebcdicToText(r);
            return 0;
        }
        if (dd.io.status == IO_ERROR) {
            ioError(run, dd, errorText(dd.io.errnum), dd.path);
            return -1;
        }
        if (n == 0) return 1;
        ioError(run, dd, "Last record is less than 80 bytes", dd.path);
        return -1;
    }

    // Text: one line without its line end (and a CR before it); 80 characters are kept.
    size_t kept = 0, total = 0;
    char last = 0;
    for (;;) {
        if (run.oldPos == run.oldFill) {
            if (run.oldAtEof) break;
            const size_t n = rt::ioRead(dd.io, run.oldBuffer.data(), 1, run.oldBuffer.size());
            if (dd.io.status == IO_ERROR) {
                ioError(run, dd, errorText(dd.io.errnum), dd.path);
                return -1;
            }
            run.oldPos = 0;
            run.oldFill = n;
            if (n == 0) {
                run.oldAtEof = true;
                break;
            }
        }
        const char* begin = reinterpret_cast<const char*>(run.oldBuffer.data()) + run.oldPos;
        const size_t avail = run.oldFill - run.oldPos;
        const void* nl = std::memchr(begin, '\n', avail);
        const size_t len =
            nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - begin) : avail;
        if (nl != nullptr && total == 0 && avail >= kRecordLength) {
            // The whole line is in the buffer, with 80 bytes to read from (nearly always): the
            // record is the line's text, blank-padded, in one pass without a short copy.
            const size_t text = len > 0 && begin[len - 1] == '\r' ? len - 1 : len;
            std::memcpy(r.text, begin, kRecordLength);
            if (text < kRecordLength) std::memset(r.text + text, ' ', kRecordLength - text);
            run.oldPos += len + 1;
            oldToEbcdic(run, r);
            return 0;
        }
        if (kept < kRecordLength) {
            const size_t take = std::min(len, kRecordLength - kept);
            std::memcpy(r.text + kept, begin, take);
            kept += take;
        }
        if (len > 0) last = begin[len - 1];
        total += len;
        if (nl != nullptr) {
            run.oldPos += len + 1;
            if (total > 0 && last == '\r' && total <= kRecordLength) --kept;
            std::memset(r.text + kept, ' ', kRecordLength - kept);
            oldToEbcdic(run, r);
            return 0;
        }
        run.oldPos += len;
    }
    if (total == 0) return 1;
    std::memset(r.text + kept, ' ', kRecordLength - kept);
    oldToEbcdic(run, r);
    return 0;
}

int rewriteOld(UpdateRun& run, const Record& r) {
    DdAllocation& dd = run.dd[kSysut1];
    auto seekFailed = [&](int64_t offset) {
        ioError(
            run, dd,
            format("fseek(%" PRId64 ",%d): %s", offset, SEEK_CUR, errorText(dd.io.errnum)).c_str(),
            dd.path);
        return 1;
    };
    if (rt::ioSeek(dd.io, -static_cast<int64_t>(kRecordLength), SEEK_CUR) != IO_OK)
        return seekFailed(-static_cast<int64_t>(kRecordLength));
    if (rt::ioWrite(dd.io, r.ebcdic, 1, kRecordLength) != IO_OK) {
        ioError(run, dd, errorText(dd.io.errnum), dd.path);
        return 1;
    }
    if (rt::ioSeek(dd.io, 0, SEEK_CUR) != IO_OK) return seekFailed(0);
    return 0;
}

int closeOld(UpdateRun& run) {
    DdAllocation& dd = run.dd[kSysut1];
    if (!dd.open()) return 0;
    int rc = 0;
    // Records written in place reach the file only when it is flushed.
    if (rt::ioClose(dd.io, false) != IO_OK && (run.flags & kRunInplace)) {
        ioError(run, dd, errorText(dd.io.errnum), dd.path);
        rc = 1;
    }
    dd.io.stream = nullptr;
    return rc;
}

// ---- SYSUT2 --------------------------------------------------------------------------------

int openOutput(UpdateRun& run, Statement& fn) {
    DdAllocation& dd = run.dd[kSysut2];
    if (dd.open() || isEmptyPath(dd.given)) return 0;
    if (dd.partitioned()) {
        dd.io.path = dd.path.c_str();
        dd.io.mode = IO_WRITE;
        if (rt::ioOpen(dd.io) != IO_OK) {
            // A replacement is written under a temporary name; the message names the member
            // that was to be replaced.
            const bool replacing = run.output.temporary || (fn.function.flags & kOutputExists);
            const std::string& name =
                run.output.temporary ? run.output.finalName : fn.function.outputName;
            issueWithPath(run,
                          format("KDU812E Cannot %s member %s in %s: %s,",
                                 replacing ? "replace" : "create", name.c_str(), dd.ddName.c_str(),
                                 errorText(dd.io.errnum)),
                          dd.path.c_str());
            setCondition(run, 12);
            return 1;
        }
        bufferStream(dd.io);
        return 0;
    }

    auto cannotOpen = [&](int errnum) {
        issueWithPath(
            run,
            format("KDU814E DDNAME %s cannot be opened: %s,", dd.ddName.c_str(), errorText(errnum)),
            dd.path.c_str());
        setCondition(run, 12);
        return 1;
    };
    const DdAllocation& old = run.dd[kSysut1];
    const DdAllocation& sysin = run.dd[kSysin];
    if (!sysin.missing() && platform::sameFile(sysin.path.c_str(), dd.path.c_str())) {
        issueWithPath(run,
                      format("KDU814E DDNAME %s cannot be opened: same file as DDNAME %s,",
                             dd.ddName.c_str(), sysin.ddName.c_str()),
                      dd.path.c_str());
        setCondition(run, 12);
        return 1;
    }
    if (dd.flags & kDdAppend) {
        // Appending to the file that is being read would feed the copy its own output.
        if (old.open() && sameDataSet(old.path, dd.path)) {
            issue(run,
                  "KDU807E Operation error: old and new sequential data sets must be different");
            setCondition(run, 12);
            return 1;
        }
        dd.io.path = dd.path.c_str();
        dd.io.mode = IO_APPEND;
    } else {
        // A regular file is written beside itself and replaced when the run closes, so that a
        // failed run leaves it as it was and the old data it may hold stays readable.
        run.sysut2Target = replacementTarget(dd.path);
        if (!run.sysut2Target.empty()) {
            run.sysut2Temp = createTemporaryBeside(run.sysut2Target);
            if (run.sysut2Temp.empty()) {
                run.sysut2Target.clear();
                return cannotOpen(errno);
            }
            dd.io.path = run.sysut2Temp.c_str();
        } else {
            dd.io.path = dd.path.c_str();
        }
        dd.io.mode = IO_WRITE;
    }
    if (rt::ioOpen(dd.io) != IO_OK) {
        const int errnum = dd.io.errnum;
        if (!run.sysut2Temp.empty()) {
            rt::ioRemove(run.sysut2Temp.c_str(), dd.io.traceLevel);
            run.sysut2Temp.clear();
            run.sysut2Target.clear();
        }
        return cannotOpen(errnum);
    }
    bufferStream(dd.io);
    return 0;
}

// Writes what the SYSUT2 buffer holds. 0, or 1 after a write error (reported).
int flushOutput(UpdateRun& run) {
    DdAllocation& dd = run.dd[kSysut2];
    const size_t fill = run.outFill;
    run.outFill = 0;
    if (fill == 0 || !dd.open()) return 0;
    if (rt::ioWrite(dd.io, run.outBuffer.data(), 1, fill) != IO_OK) {
        ioError(run, dd, errorText(dd.io.errnum), dd.path);
        if (!dd.partitioned()) run.sysut2Failed = true;
        return 1;
    }
    return 0;
}

int writeOutput(UpdateRun& run, const Record& r) {
    DdAllocation& dd = run.dd[kSysut2];
    if (!dd.open()) return 0;
    // Records are collected into blocks; a block goes out when it is full and when the data
    // set is completed.
    if (run.outBuffer.empty()) run.outBuffer.resize(kStreamBuffer);
    if (run.outBuffer.size() - run.outFill < kRecordLength + 1 && flushOutput(run) != 0) return 1;
    char* out = run.outBuffer.data() + run.outFill;
    if (dd.binary) {
        std::memcpy(out, r.ebcdic, kRecordLength);
        run.outFill += kRecordLength;
    } else {
        size_t n = kRecordLength;
        while (n > 0 && isBlank(r.text[n - 1])) --n;
        // The buffer has room for 81 bytes: a whole-record copy is cheaper than a short one.
        std::memcpy(out, r.text, kRecordLength);
        out[n] = '\n';
        run.outFill += n + 1;
    }
    return 0;
}

int prepareOutputMember(UpdateRun& run, Statement& fn) {
    DdAllocation& dd = run.dd[kSysut2];
    run.output = OutputMember{};
    if (!dd.partitioned() || (run.flags & kRunInplace) || fn.function.outputName.empty()) return 0;
    run.output.finalPath = dd.path;
    if (!(fn.function.flags & kOutputExists)) return 0;
    // The member exists: the new one is written under the first free temporary name and
    // replaces it only once it is complete.
    std::string name;
    bool found = false;
    for (unsigned i = 0; i <= 9999 && !found; ++i) {
        name = format("%04uTEMP", i);
        resolveMember(dd, name);
        found = !fileExists(dd.path, dd.io.traceLevel);
    }
    if (!found) {
        issueWithPath(run,
                      format("KDU812E Cannot create member %s in %s: %s,", name.c_str(),
                             dd.ddName.c_str(), errorText(EEXIST)),
                      dd.path.c_str());
        dd.path = run.output.finalPath;
        return -1;
    }
    run.output.temporary = true;
    run.output.finalName = fn.function.outputName;
    fn.function.outputName = name;
    fn.function.flags &= ~kOutputExists;
    return 0;
}

int finishOutputMember(UpdateRun& run, Statement& fn, bool keep) {
    DdAllocation& dd = run.dd[kSysut2];
    if (!dd.partitioned() || (run.flags & kRunInplace) || run.output.finalPath.empty()) return 0;
    int rc = 0;
    const bool written = dd.open();
    if (!keep) run.outFill = 0;
    if (written && keep && flushOutput(run) != 0) {
        keep = false;
        rc = 1;
    }
    if (written && rt::ioClose(dd.io, false) != IO_OK && keep) {
        // Data that could not be flushed: the member is incomplete.
        ioError(run, dd, errorText(dd.io.errnum), dd.path);
        keep = false;
        rc = 1;
    }
    dd.io.stream = nullptr;
    if (written && !keep) {
        rt::ioRemove(dd.path.c_str(), dd.io.traceLevel);
    } else if (written && run.output.temporary) {
        // rename() replaces the member in one step: either the new member is in place or the
        // old one is still there.
        if (!platform::replaceFile(dd.path, run.output.finalPath)) {
            const int errnum = errno;
            issueWithPath(run,
                          format("KDU813E Rename of temporary %s member failed, %s,",
                                 dd.ddName.c_str(), errorText(errnum)),
                          run.output.finalPath.c_str());
            rt::ioRemove(dd.path.c_str(), dd.io.traceLevel);
            rc = -1;
        }
    }
    if (run.output.temporary) {
        fn.function.outputName = run.output.finalName;
        fn.function.flags |= kOutputExists;
    }
    dd.path = run.output.finalPath;
    run.output = OutputMember{};
    return rc;
}

void report(UpdateRun& run, Statement& fn) {
    const bool inplace = (run.flags & kRunInplace) != 0;
    const DdAllocation& dd = run.dd[inplace ? kSysut1 : kSysut2];
    const unsigned long count = fn.function.recordCount;
    const char* plural = count == 1 ? "" : "s";
    if (dd.partitioned()) {
        const bool replaced = inplace || (fn.function.flags & kOutputExists);
        issueWithPath(run,
                      format("KDU817I Member name %s %s %s with %lu record%s,",
                             fn.function.outputName.c_str(), replaced ? "replaced in" : "added to",
                             dd.ddName.c_str(), count, plural),
                      dd.path.c_str());
    } else {
        issueWithPath(
            run, format("KDU817I %lu record%s written to %s,", count, plural, dd.ddName.c_str()),
            dd.path.c_str());
    }
}

void closeDataSets(UpdateRun& run) {
    closeOld(run);
    DdAllocation& out = run.dd[kSysut2];
    if (out.open()) {
        if (out.partitioned()) {
            // A member left open by a function that did not complete is incomplete.
            run.outFill = 0;
            rt::ioClose(out.io, true);
        } else if (flushOutput(run) != 0) {
            rt::ioClose(out.io, false);
        } else if (rt::ioClose(out.io, false) != IO_OK) {
            ioError(run, out, errorText(out.io.errnum), out.path);
            run.sysut2Failed = true;
        }
        out.io.stream = nullptr;
    }
    if (!run.sysut2Temp.empty()) {
        if (run.sysut2Failed) {
            rt::ioRemove(run.sysut2Temp.c_str(), out.io.traceLevel);
        } else if (!platform::replaceFile(run.sysut2Temp, run.sysut2Target)) {
            ioError(run, out, errorText(errno), out.path);
            rt::ioRemove(run.sysut2Temp.c_str(), out.io.traceLevel);
        }
        run.sysut2Temp.clear();
    }
    DdAllocation& in = run.dd[kSysin];
    if (in.open() && !run.sysinUsesStdin) rt::ioClose(in.io, false);
    in.io.stream = nullptr;
    run.pending.clear();
    run.replay.clear();
}

} // namespace ufx
