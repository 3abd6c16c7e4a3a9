// Inside the update utility: the two-form record, parsed statements, DD allocations and the
// state of one run, shared by the statement reader (statements.cpp), the data set layer
// (datasets.cpp), the listing (listing.cpp) and the engine (engine.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "ufxcore.h"

namespace ufx {

// ---- records -------------------------------------------------------------------------------

inline constexpr size_t kRecordLength = 80;
// 0-based index of column 72, the continuation column; scanning stops before it.
inline constexpr int kContinuationColumn = 71;

// Every record the engine handles has an EBCDIC form and the same text in the workstation code
// page. Sequence keys come from the EBCDIC form; every statement test works on the text.
struct Record {
    uint8_t ebcdic[kRecordLength];
    char text[kRecordLength];
};

// Fills the EBCDIC form from the text form, or the text form from the EBCDIC form.
void textToEbcdic(Record& r);
void ebcdicToText(Record& r);
// Blank test of the statement reader: any character code at or below X'20'.
inline bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}
inline constexpr uint8_t kEbcdicBlank = 0x40;

// ---- statements ----------------------------------------------------------------------------

enum StatementClass { kData = 0, kFunction = 1, kDetail = 2, kEnd = 3, kInvalid = 4 };
enum OperationCode {
    kNoOperation = 0,
    kAdd = 1,
    kChange = 2,
    kRepl = 3,
    kRepro = 4,
    kNumber = 5,
    kDelete = 6,
    kEndup = 7,
    kDataWhereFunctionExpected = 8,
    kUnknownOperation = 9,
};

// The sequence field of a function statement, 0-based once the statement is parsed.
struct SequenceField {
    uint8_t start = 72;
    uint8_t length = 8;
    uint8_t numericStart = 72;
    uint8_t numericLength = 8;
};

// A sequence value or key: the field's bytes in EBCDIC, padded with EBCDIC blanks to 8.
// All zero: not given.
using SequenceValue = std::array<uint8_t, 8>;
inline bool given(const SequenceValue& v) {
    for (uint8_t b : v)
        if (b != 0) return true;
    return false;
}
inline int compare(const SequenceValue& a, const SequenceValue& b) {
    return std::memcmp(a.data(), b.data(), a.size());
}

// Function statement flags.
enum : uint32_t {
    kListAll = 0x01,
    kNewPO = 0x02,
    kNewPS = 0x04,
    kUpdateInplace = 0x08,
    kSource0 = 0x10,
    kSource1 = 0x20,
    kLevelGiven = 0x40,
    kSsiGiven = 0x80,
    kOutputExists = 0x100,
};

// Fields of a function (class 1) or ENDUP (class 3) statement.
struct FunctionFields {
    uint32_t recordCount = 0;
    std::string outputName; // the member the output is written under (set by the engine)
    uint32_t flags = 0;
    SequenceField sequence;
    uint8_t column = 0; // COLUMN value minus 1; 0 when not given
    uint8_t level = 0;
    std::array<uint8_t, 4> ssi{};
    char name[9] = {};
    char member[9] = {};
};

// Detail statement flags.
enum : uint32_t { kSeq1All = 0x01, kInsertYes = 0x02 };

// Fields of a detail (class 2) or data (class 0) statement.
struct DetailFields {
    uint32_t flags = 0;
    uint32_t increment = 0;
    uint32_t seq1Number = 0;
    uint32_t seq2Number = 0;
    uint32_t new1Number = 0;
    SequenceValue seq1{};
    SequenceValue seq2{};
    SequenceValue new1{};
    SequenceValue key{}; // where the statement stands in the old data
};

struct Statement {
    int cls = kData;
    int code = kNoOperation;
    FunctionFields function;
    DetailFields detail;
};

// ---- DD allocations ------------------------------------------------------------------------

enum DdIndex { kSysin = 0, kSysprint = 1, kSysut1 = 2, kSysut2 = 3 };
enum : uint32_t { kDdAppend = 0x01, kDdPartitioned = 0x02, kDdLowerCase = 0x04 };

struct DdAllocation {
    const char* given = nullptr; // the caller's path; null: the DD statement is missing
    std::string path;            // the path opened: the given path or a resolved member path
    IoFileCore io{};
    bool binary = false;
    std::string ddName;
    std::string prefix, suffix; // around the member placeholder of a partitioned data set
    uint32_t flags = 0;

    bool missing() const { return given == nullptr; }
    bool partitioned() const { return (flags & kDdPartitioned) != 0; }
    bool open() const { return io.stream != nullptr; }
};

// ---- the run -------------------------------------------------------------------------------

// Run flags.
enum : uint32_t {
    kRunNewOutput = 0x01,
    kRunFirstPending = 0x02,
    kRunInplace = 0x04,
    kRunNewPO = 0x08,
    kRunNewPS = 0x10,
    kRunEbcdicSysin = 0x20,
    kRunBinarySysprint = 0x80,
    kRunMessagesToCaller = 0x100,
};

inline constexpr size_t kSysinBufferSize = 2000;
inline constexpr int kPageLines = 60;

// The output member being written by the current function: when the member already exists
// the output goes to a temporary member that replaces it only when the function completes.
struct OutputMember {
    bool temporary = false;
    std::string finalPath; // the member's own path
    std::string finalName; // the output name to restore
};

// A renumbering in force: the counter is the run's; these are the statement's base value and
// increment.
struct Numbering {
    bool active = false;
    bool all = false;     // SEQ1=ALL: never ends
    SequenceValue seq2{}; // ends after the old record with this key
    SequenceValue new1{}; // base of the new sequence field
    uint32_t increment = 0;
};

struct UpdateRun {
    UpdateMessageCallback callback = nullptr;
    void* callbackArgument = nullptr;
    const ConnectionRecord* connection = nullptr;
    uint32_t counter = 0;
    int highestCc = 0;
    uint32_t reserved = 0;
    unsigned page = 1;
    int lineCount = 0;
    size_t sysinFill = 0;
    size_t sysinPos = 0;
    std::vector<Record> pending; // the records of the statement most recently read
    uint32_t flags = 0;
    DdAllocation dd[4];
    char heading[121] = {};
    uint8_t sysinBuffer[kSysinBufferSize] = {};

    // Reader state.
    std::deque<Record> replay; // records given back to be read again, in order
    bool sysinEnd = false;     // true end of file reached
    bool sysinFailed = false;  // an input error was reported
    bool sysinCrSeen = false;  // text SYSIN: the last line ended with a carriage return
    bool sysinUsesStdin = false;
    bool listingQuiet = false; // SYSPRINT "nul" or empty: no listing messages at all

    // Old data: a text SYSUT1 is read through this buffer.
    std::vector<uint8_t> oldBuffer;
    size_t oldFill = 0, oldPos = 0;
    bool oldAtEof = false;
    bool sequentialOldRead = false; // a sequential SYSUT1 may be read by one function only
    SequenceField oldField;         // the sequence field of the function reading the old data
    bool oldEbcdicNeeded = true;    // whether old text records need their whole EBCDIC form

    // Sequential SYSUT2: written to a temporary file beside the target, which replaces the
    // target when the run closes, unless a write to it failed.
    std::string sysut2Temp;
    std::string sysut2Target;
    bool sysut2Failed = false;
    // Records for SYSUT2 are collected here and written a block at a time.
    std::vector<char> outBuffer;
    size_t outFill = 0;

    OutputMember output;
    int startFields[6] = {}; // year, month, day, hour, minute, second of the run's start
};

// ---- statements.cpp ------------------------------------------------------------------------

// Reads the next statement. Without a function: a function or ENDUP statement is wanted. With
// a function and `out`: the body of the function (data records and detail statements; any
// other statement is returned with only its class and code and is read again by the next
// call). With a function and no `out`: skipping after an error. Returns 0 (a statement), 1
// (input ended, or an input error was reported) or -1 (rejected, message issued).
int readStatement(UpdateRun& run, const Statement* function, Statement* out);
// The body of an ADD or REPL: the next data record, or (class and code only) the control
// statement that ends the data, which stays to be read again. 0 or 1 (input ended).
int readDataRecord(UpdateRun& run, const Statement& function, Statement& out);
// Gives the pending records back so that the next call reads them again.
void unreadPending(UpdateRun& run);
// A member name of a statement or a temporary member: the upper-case member-name rule, and
// never a name that could leave the folder.
bool isSafeMemberName(std::string_view name);
// The key of a record under a sequence field: its bytes, padded with EBCDIC blanks.
SequenceValue recordKey(const Record& r, const SequenceField& f);

// ---- listing.cpp ---------------------------------------------------------------------------

enum RecordForm {
    kEchoForm,
    kCopiedForm,
    kRenumberedForm,
    kInsertedForm,
    kReplacedForm,
    kDeletedForm
};

void setCondition(UpdateRun& run, int cc);
void buildHeading(UpdateRun& run);
// One listing line, single-spaced, starting a page when the page is full.
void listLine(UpdateRun& run, std::string_view text);
void listBlank(UpdateRun& run);
// A message: to the listing, or to the callback when there is no listing file.
void issue(UpdateRun& run, std::string_view text);
// A message followed by " PATH=" and the path ("/dev/null" when empty or null).
void issueWithPath(UpdateRun& run, std::string_view text, const char* path);
// A message at level 1, always to the callback.
void issueToCaller(UpdateRun& run, std::string_view text);
// The pending records as the statement echo (8 blanks before each).
void echoStatement(UpdateRun& run);
// The pending records as the error echo; to the callback without a listing file.
void echoError(UpdateRun& run);
// Rejects the statement: error echo, then the message. Returns -1.
int reject(UpdateRun& run, std::string_view message);
// A record in one of its listing forms.
void listRecord(UpdateRun& run, const Record& r, RecordForm form);
bool haveListing(const UpdateRun& run);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// ---- datasets.cpp --------------------------------------------------------------------------

void setUpDd(DdAllocation& dd, const char* path, const char* ddName, const char* defaultName,
             unsigned flags, int traceLevel);
// Whether a path stands for a partitioned data set, and where its placeholder lies.
bool isPartitionedPath(const char* path, size_t* at);
// The member path of `name` in a partitioned allocation, into dd.path.
void resolveMember(DdAllocation& dd, std::string_view name);
bool fileExists(const std::string& path, int traceLevel);
// Same data set: the same path, or the same file under two spellings.
bool sameDataSet(const std::string& a, const std::string& b);
bool isNullDevice(const char* path);

int openSysin(UpdateRun& run);
// 0 a record, 1 end of input, -1 an input error (message issued, condition code 12).
int readSysinRecord(UpdateRun& run, Record& r);

// Opening the old data for a function: 0 opened (or no old data), -1 the function ends, 1 the
// run ends.
int openOld(UpdateRun& run, const Statement& fn, bool* haveOld);
// 0 a record, 1 end, -1 read error (message issued, condition code 12).
int readOld(UpdateRun& run, Record& r);
// Closes the old data; 1 when records written in place could not be flushed.
int closeOld(UpdateRun& run);
// Writes a record over the one just read (UPDATE=INPLACE). 0 or 1 (run ends).
int rewriteOld(UpdateRun& run, const Record& r);

// Opening SYSUT2 for a function: 0 (opened, or nothing to open), 1 the run ends.
int openOutput(UpdateRun& run, Statement& fn);
// 0 written, 1 write error (message issued, condition code 12).
int writeOutput(UpdateRun& run, const Record& r);
// Chooses a temporary member when the output member exists. 0 or -1 (message issued).
int prepareOutputMember(UpdateRun& run, Statement& fn);
// Completes the output member: closes it and renames a temporary member over the member.
// 0 or -1 (KDU813E issued). A member that failed is removed (`keep` false).
int finishOutputMember(UpdateRun& run, Statement& fn, bool keep);
// KDU817I for the function.
void report(UpdateRun& run, Statement& fn);
// Closing of the run's data sets.
void closeDataSets(UpdateRun& run);
// Gives a record the next number of a renumbering: the counter's last digits over the numeric
// portion of the sequence field; the counter then grows by the increment.
void numberRecord(UpdateRun& run, Record& r, const Numbering& n, const SequenceField& f);

// ---- engine.cpp ----------------------------------------------------------------------------

int runUtility(UpdateRun& run, const char* parameter);

} // namespace ufx
