// Messages and the listing: every message with its severity, the return code, MSGLEVEL, the
// copies to SYSTERM, and the paged listing on SYSPRINT with ASA carriage control ("1" new
// page, blank single space), 120-character lines and 60 lines a page.
//
//   1Quorin Linkage Editor 3.0.07                            2025/01/05 13:45:30        PAGE    1
//
//    VRL000I PARAMETERS - LIST,XREF
//    ...
//    VRL101E Invalid control statement; SYSLIN record 3 PATH=/work/deck.txt
//            INCLUDE SYSLIB(A
//            CDCCDCC4EEEDCC4C
//            9533445028239214
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "linkedit.h"
#include "runtime.h"

namespace vrl {

namespace {

constexpr size_t kLineWidth = 120;
constexpr uint32_t kPageLines = 60;
// A message whose path would make the listing line longer than this puts the path on a line
// of its own.
constexpr size_t kMessageWidth = 114;
constexpr size_t kTermWidth = 80;
constexpr const char* kHexDigits = "0123456789ABCDEF";

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// The listing ends at a write failure: the file is closed, the job step cannot end well and
// later messages go to the caller.
void listingFailed(Job& job) {
    DdSlot& dd = job.dd[kSysprint];
    const int errnum = dd.io.errnum;
    rt::ioClose(dd.io, false);
    dd.io.stream = nullptr;
    job.output |= kOutputToCallback;
    issueWithPath(
        job, kTerminal,
        format("VRL017T Error writing to %s: %s,", dd.ddName.c_str(), systemError(errnum)),
        dd.path);
}

void writeListing(Job& job, char control, std::string_view text) {
    DdSlot& dd = job.dd[kSysprint];
    if (!dd.open()) return;
    std::string line;
    line.reserve(text.size() + 2);
    line += control;
    line += text;
    line += '\n';
    if (rt::ioWrite(dd.io, line.data(), 1, line.size()) != IO_OK) listingFailed(job);
}

void newPage(Job& job) {
    char number[8];
    std::snprintf(number, sizeof number, "%4u", static_cast<unsigned>(job.page % 10000));
    std::memcpy(job.title + 116, number, 4);
    writeListing(job, '1', std::string_view(job.title, kLineWidth));
    job.page = job.page >= 9999 ? 0 : job.page + 1;
    writeListing(job, ' ', "");
    job.lines = 2;
}

// One listing line of at most 120 characters, after `blanks` blank lines.
void listOne(Job& job, std::string_view text, int blanks) {
    if (!listingOpen(job)) return;
    if (job.lines + static_cast<uint32_t>(blanks) + 1 > kPageLines) newPage(job);
    for (int i = 0; i < blanks && listingOpen(job); ++i) {
        writeListing(job, ' ', "");
        ++job.lines;
    }
    writeListing(job, ' ', text);
    ++job.lines;
}

// A listing line cut into 120-character pieces.
void list(Job& job, std::string_view text, int blanks) {
    text = trimRight(text);
    do {
        listOne(job, trimRight(text.substr(0, kLineWidth)), blanks);
        blanks = 0;
        text.remove_prefix(std::min(text.size(), kLineWidth));
    } while (!text.empty());
}

void writeTerm(Job& job, std::string_view text, bool continuation) {
    DdSlot& dd = job.dd[kSysterm];
    text = trimRight(text);
    if (continuation) text.remove_prefix(std::min<size_t>(text.size(), 8));
    const bool split = (job.output & kOutputSplit) != 0;
    do {
        const std::string_view piece = split ? text.substr(0, kTermWidth) : text;
        std::string line(piece);
        line += '\n';
        if (rt::ioWrite(dd.io, line.data(), 1, line.size()) != IO_OK) {
            // Terminal copies are only copies: a SYSTERM that fails is given up quietly.
            if (!dd.standardStream) rt::ioClose(dd.io, false);
            dd.io.stream = nullptr;
            return;
        }
        text.remove_prefix(piece.size());
    } while (!text.empty());
    if (dd.standardStream) std::fflush(dd.io.stream);
}

} // namespace

int severityOfLetter(char letter) {
    switch (letter) {
    case 'I':
        return kInfo;
    case 'W':
        return kWarning;
    case 'E':
        return kError;
    case 'S':
        return kSevere;
    default:
        return kTerminal;
    }
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string s(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
    va_end(ap);
    return s;
}

bool listingOpen(const Job& job) {
    return job.dd[kSysprint].open();
}

void issue(Job& job, int severity, std::string_view text) {
    const bool continuation = (severity & kContinuation) != 0;
    if (!continuation) {
        const int level = severity & 0xFF;
        if (level > job.moduleSeverity) job.moduleSeverity = level;
        if (level > job.rc) job.rc = level;
        job.lastPrinted = level >= job.options.msglevel;
    }
    if (!job.lastPrinted) return;
    if (job.dd[kSysterm].open()) writeTerm(job, text, continuation);
    if (listingOpen(job)) {
        list(job, text, 0);
    } else if ((job.output & kOutputToCallback) && job.callback != nullptr) {
        const std::string line(trimRight(text));
        job.callback(job.user, LINKEDIT_MESSAGE_LISTING, line.c_str());
    }
}

void issueWithPath(Job& job, int severity, std::string_view text, std::string_view path) {
    const std::string shown(path.empty() ? std::string_view("/dev/null") : path);
    std::string whole(text);
    whole += " PATH=";
    whole += shown;
    if (listingOpen(job) && whole.size() > kMessageWidth) {
        issue(job, severity, text);
        issue(job, severity | kContinuation, "        PATH=" + shown);
        return;
    }
    issue(job, severity, whole);
}

void tellOperator(Job& job, std::string_view text) {
    if (job.callback == nullptr) return;
    const std::string line(text);
    job.callback(job.user, LINKEDIT_MESSAGE_OPERATOR, line.c_str());
}

void printLine(Job& job, std::string_view text, int blanks) {
    list(job, text, blanks);
}

void buildTitle(Job& job) {
    std::memset(job.title, ' ', kLineWidth);
    job.title[kLineWidth] = '\0';
    const char* product = "Quorin Linkage Editor 3.0.07";
    std::memcpy(job.title, product, std::strlen(product));
    const int* t = job.runTime;
    char date[64];
    const int n = std::snprintf(date, sizeof date, "%d/%02d/%02d %02d:%02d:%02d", t[0], t[1], t[2],
                                t[3], t[4], t[5]);
    std::memcpy(job.title + 56, date, static_cast<size_t>(std::min(n, 54)));
    std::memcpy(job.title + 111, "PAGE", 4);
}

std::string displayName(std::string_view ebcdic, size_t pad) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string out;
    out.reserve(std::max(ebcdic.size(), pad));
    for (size_t i = 0; i < ebcdic.size(); ++i) {
        const auto b = static_cast<uint8_t>(ebcdic[i]);
        out += static_cast<char>(i == 0 && b == obj::kEbcdicBlank ? e2a[0x5B] : e2a[b]);
    }
    if (out.size() < pad) out.resize(pad, ' ');
    return out;
}

void statementError(Job& job, std::string_view message) {
    const int severity = message.size() > 6 && message[6] == 'E' ? kError : kSevere;
    const InputFile* f = job.current();
    std::string text(message);
    std::string path;
    if (f != nullptr) {
        text += "; " + f->ddName;
        if (!f->member.empty())
            text += "(" + f->member + ")";
        else if (f->sequence != 0)
            text += format("+%hu", static_cast<unsigned short>(f->sequence));
        text += format(" record %lu", static_cast<unsigned long>(job.firstRecord));
        path = f->path;
        issueWithPath(job, severity, text, path);
    } else {
        issue(job, severity, text);
    }
    const uint8_t* e2a = rt::ebcdicToAscii();
    const std::string indent(8, ' ');
    for (size_t i = 0; i < job.records.size(); ++i) {
        const uint8_t* r = job.records[i].bytes;
        if (i > 0) issue(job, kContinuation, indent + std::string(kRecordLength, '-'));
        std::string chars, high, low;
        for (size_t k = 0; k < kRecordLength; ++k) {
            const uint8_t c = e2a[r[k]];
            const bool printable = (c >= 0x20 && c < 0x7F) || c >= 0xA0;
            chars += printable ? static_cast<char>(c) : ' ';
            high += kHexDigits[r[k] >> 4];
            low += kHexDigits[r[k] & 0x0F];
        }
        issue(job, kContinuation, indent + std::string(trimRight(chars)));
        issue(job, kContinuation, indent + high);
        issue(job, kContinuation, indent + low);
    }
}

void echoStatement(Job& job) {
    if (!listingOpen(job) || job.options.list == kListOff) return;
    const uint8_t* e2a = rt::ebcdicToAscii();
    for (size_t i = 0; i < job.records.size(); ++i) {
        std::string text(i == 0 ? "VRL100I " : "        ");
        for (uint8_t b : job.records[i].bytes) text += static_cast<char>(e2a[b]);
        printLine(job, text);
    }
}

} // namespace vrl
