// The listing: 120-character heading lines, 60-line pages and ASA carriage control in column 1
// ("1" new page, blank single space), statement echoes, records in their listing forms and
// messages. Without a listing file, messages go to the caller's callback instead.
//
//   1Quorin Update Utility 3.0.07                            2024/05/17 09:30:00 ...  PAGE    1
//
//            ./ CHANGE NAME=PAYROLL
//                    PAYROLL  CSECT                                                 00000100
//                    REPLACED
//    KDU817I Member name PAYROLL replaced in SYSUT2 with 12 records, PATH=/src/payroll.asm
#include <cstdarg>
#include <cstdio>
#include <string>

#include "runtime.h"
#include "update.h"

namespace ufx {

namespace {

// In a listing, a message whose path would make the line longer than this puts the path on a
// line of its own.
constexpr size_t kMessageWidth = 114;

std::string_view trimmed(const char* text, size_t length) {
    while (length > 0 && text[length - 1] == ' ') --length;
    return {text, length};
}

void toCaller(UpdateRun& run, int level, const std::string& text) {
    if (run.callback != nullptr) run.callback(run.callbackArgument, level, text.c_str());
}

// A listing write failed: the listing ends there, the run cannot end with condition code 0,
// and the caller hears of it.
void listingFailed(UpdateRun& run) {
    DdAllocation& dd = run.dd[kSysprint];
    const std::string text = format("KDU802E %s I/O ERROR, %s, PATH=%s", dd.ddName.c_str(),
                                    std::strerror(dd.io.errnum), dd.path.c_str());
    rt::ioClose(dd.io, false);
    dd.io.stream = nullptr;
    run.highestCc = 12;
    run.flags |= kRunMessagesToCaller;
    toCaller(run, UPDATE_MESSAGE_LISTING, text);
}

void writeListing(UpdateRun& run, char control, std::string_view text) {
    DdAllocation& dd = run.dd[kSysprint];
    std::string line;
    line.reserve(text.size() + 2);
    line += control;
    line += text;
    line += '\n';
    if (rt::ioWrite(dd.io, line.data(), 1, line.size()) != IO_OK) listingFailed(run);
}

void startPage(UpdateRun& run) {
    char number[8];
    std::snprintf(number, sizeof number, "%4u", run.page % 10000);
    std::memcpy(run.heading + 116, number, 4);
    writeListing(run, '1', std::string_view(run.heading, 120));
    if (!haveListing(run)) return;
    writeListing(run, ' ', "");
    run.page = run.page >= 9999 ? 0 : run.page + 1;
    run.lineCount = 2;
}

} // namespace

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

bool haveListing(const UpdateRun& run) {
    return run.dd[kSysprint].io.stream != nullptr;
}

void setCondition(UpdateRun& run, int cc) {
    if (cc > run.highestCc) run.highestCc = cc;
}

void buildHeading(UpdateRun& run) {
    std::memset(run.heading, ' ', 120);
    run.heading[120] = '\0';
    const char* product = "Quorin Update Utility 3.0.07";
    std::memcpy(run.heading, product, std::strlen(product));
    char date[40];
    const int* t = run.startFields;
    const int n = std::snprintf(date, sizeof date, "%d/%02d/%02d %02d:%02d:%02d", t[0], t[1], t[2],
                                t[3], t[4], t[5]);
    std::memcpy(run.heading + 56, date, static_cast<size_t>(std::min(n, 55)));
    std::memcpy(run.heading + 111, "PAGE", 4);
}

void listLine(UpdateRun& run, std::string_view text) {
    if (!haveListing(run)) return;
    if (run.lineCount > kPageLines) startPage(run);
    if (!haveListing(run)) return;
    writeListing(run, ' ', text);
    ++run.lineCount;
}

void listBlank(UpdateRun& run) {
    listLine(run, "");
}

void issue(UpdateRun& run, std::string_view text) {
    if (haveListing(run)) {
        listLine(run, text);
    } else if (run.flags & kRunMessagesToCaller) {
        toCaller(run, UPDATE_MESSAGE_LISTING, std::string(text));
    }
}

void issueWithPath(UpdateRun& run, std::string_view text, const char* path) {
    const char* shown = path != nullptr && *path != '\0' ? path : "/dev/null";
    std::string whole(text);
    whole += " PATH=";
    whole += shown;
    if (haveListing(run) && whole.size() > kMessageWidth) {
        listLine(run, text);
        listLine(run, std::string("       ") + " PATH=" + shown);
        return;
    }
    issue(run, whole);
}

void issueToCaller(UpdateRun& run, std::string_view text) {
    toCaller(run, UPDATE_MESSAGE_DD_MISSING, std::string(text));
}

void echoStatement(UpdateRun& run) {
    if (!haveListing(run)) return;
    for (const Record& r : run.pending)
        listLine(run, std::string(8, ' ') + std::string(trimmed(r.text, kRecordLength)));
}

void echoError(UpdateRun& run) {
    for (const Record& r : run.pending) {
        const std::string_view text = trimmed(r.text, kRecordLength);
        if (haveListing(run)) {
            listLine(run, std::string(8, ' ') + std::string(text));
        } else if (run.flags & kRunMessagesToCaller) {
            toCaller(run, UPDATE_MESSAGE_LISTING, std::string(text));
        }
    }
}

int reject(UpdateRun& run, std::string_view message) {
    echoError(run);
    issue(run, message);
    return -1;
}

void listRecord(UpdateRun& run, const Record& r, RecordForm form) {
    if (!haveListing(run)) return;
    std::string line(form == kEchoForm ? 8 : 16, ' ');
    switch (form) {
    case kEchoForm:
    case kCopiedForm:
    case kRenumberedForm:
        line += trimmed(r.text, kRecordLength);
        break;
    case kInsertedForm:
    case kReplacedForm:
    case kDeletedForm:
        line.append(r.text, kRecordLength);
        line += form == kInsertedForm   ? "        INSERTED"
                : form == kReplacedForm ? "        REPLACED"
                                        : "        DELETED";
        break;
    }
    listLine(run, line);
}

} // namespace ufx
