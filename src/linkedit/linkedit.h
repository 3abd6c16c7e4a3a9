// Inside the linkage editor: the job step context and the operations that the stages share.
//
// The stages, one file each, in the order the data flows:
//   driver.cpp        the job step: calling order, input loop, end of each module
//   options.cpp       PARM strings, OPTIONS files and SETOPT PARM into option blocks
//   files.cpp         the DD names bound to paths, the listing heading, the input stack
//   messages.cpp      messages with their severities, the paged listing, SYSTERM
//   statements.cpp    control statements with continuation, and their operations
//   object_input.cpp  object decks (ESD, XSD, TXT, RLD, SYM, END) into object-module images
//   resolution.cpp    merging images into the module, automatic call, unresolved symbols
//   layout.cpp        attributes, classes and segments, offsets, relocation
//   writer.cpp        the saved member file
//   map.cpp           module map, cross reference and save summaries
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "object_module.h"
#include "vrlcore.h"

namespace vrl {

// ---- severities ------------------------------------------------------------------------------

// Severities of the message letters I, W, E, S and T.
enum : int { kInfo = 0, kWarning = 4, kError = 8, kSevere = 12, kTerminal = 16 };
// Added to a severity: a line that continues the message before it.
inline constexpr int kContinuation = 0x100;
// The severity a message letter stands for: I 0, W 4, E 8, S 12, anything else 16.
int severityOfLetter(char letter);

// ---- option blocks -----------------------------------------------------------------------------

enum Amode : int {
    kAmodeUnset = 0,
    kAmodeMin = 1,
    kAmode24 = 2,
    kAmode31 = 3,
    kAmodeAny = 4,
    kAmode64 = 5
};
enum Compat : int {
    kCompatUnset = 0,
    kCompatLmf = 1,
    kCompatLked = 2,
    kCompatPm1 = 3,
    kCompatTextOnly = 5,
    kCompatPm2 = 6,
    kCompatMin = 12,
};
enum List : int { kListOff = 0, kListStmt = 1, kListNoImp = 2, kListSummary = 3, kListAll = 4 };
enum Reus : int { kReusUnset = 0, kReusNone = 1, kReusSerial = 2, kReusRent = 3, kReusRefr = 4 };
enum Rmode : int { kRmodeUnset = 0, kRmode24 = 2, kRmodeAny = 3, kRmodeSplit = 4 };
enum Sctr : int { kSctrNo = 0, kSctrRsect = 1, kSctrYes = 2 };
enum Storenx : int { kStorenxNoReplace = 0, kStorenxNever = 1, kStorenxYes = 2 };
enum Debug : int { kDebugUnset = 0, kDebugYes = 1, kDebugNo = 2, kDebugOff = 3 };

enum OptionFlag : uint32_t {
    kAlign2 = 0x1,
    kNcal = 0x2,
    kCaseMixed = 0x4,
    kDc = 0x8,
    kDcbs = 0x10,
    kNotEditable = 0x20,
    kFetchPack = 0x40,
    kFetchPrime = 0x80,
    kHobset = 0x100,
    kListPriv = 0x200,
    kMap = 0x400,
    kOl = 0x800,
    kNoPrint = 0x1000,
    kSsiGiven = 0x2000,
    kTerm = 0x4000,
    kTest = 0x8000,
    kTrace = 0x10000,
    kUpcase = 0x20000,
    kXref = 0x40000,
    kReplace = 0x80000,
};

struct OptionBlock {
    std::string entry; // EBCDIC; empty: none
    uint32_t maxblk = 0;
    int amode = kAmodeUnset;
    int compat = kCompatUnset;
    int list = kListSummary;
    int reus = kReusUnset;
    int rmode = kRmodeUnset;
    int sctr = kSctrNo;
    int storenx = kStorenxNoReplace;
    int debug = kDebugUnset;
    uint32_t flags = 0;
    uint8_t ac = 0;
    uint8_t let = 4;
    uint8_t msglevel = 0;
    uint8_t ssi[4] = {};
    std::string member; // the module's NAME, upper case, empty when none

    bool on(uint32_t f) const { return (flags & f) != 0; }
    void set(uint32_t f, bool value) { flags = value ? (flags | f) : (flags & ~f); }
};

// ---- DD slots ----------------------------------------------------------------------------------

enum DdIndex { kSyslin = 0, kSyslib = 1, kSyslmod = 2, kSysprint = 3, kSysterm = 4 };

// A path pattern of a partitioned data set: prefix + member name + suffix.
struct PathPattern {
    bool valid = false;
    bool lower = false; // "&m": the member name in lower case
    std::string prefix, suffix;
    std::string memberPath(std::string_view member) const;
};
// Parses a path whose last component begins with "&M" or "&m", followed by the end or a
// period. An invalid pattern comes back with valid false.
PathPattern parsePattern(const std::string& path);

struct DdSlot {
    IoFileCore io{};
    bool given = false; // false: the DD statement is missing (null path)
    std::string path;   // as given
    unsigned flags = 0; // LINKEDIT_DD_* of the caller
    std::string ddName;
    bool standardStream = false; // never closed
    bool haveIdentity = false;   // device and inode of an open listing file
    uint64_t device = 0;         // the file identity of platform/files.h
    uint64_t inode = 0;
    PathPattern pattern; // SYSLMOD
    bool open() const { return io.stream != nullptr; }
};

// ---- input files ---------------------------------------------------------------------------

inline constexpr size_t kRecordLength = 80;
struct Record {
    uint8_t bytes[kRecordLength];
};

enum InputFlag : uint32_t {
    kInputByPath = 0x02,   // INCLUDE 'path'
    kInputStandard = 0x08, // standard input: never closed
    kInputEbcdicText = 0x20,
    kInputFixed = 0x40,
    kInputText = 0x80,    // workstation text lines
    kInputSyslin = 0x100, // one of the SYSLIN files
};

struct InputFile {
    IoFileCore io{};
    std::string path;
    uint8_t buffer[1024];
    size_t fill = 0, pos = 0;
    bool atEnd = false;    // nothing more to read
    bool crSeen = false;   // text: the last line ended with CR (an LF may follow)
    uint32_t records = 0;  // records read so far
    uint16_t sequence = 0; // the concatenation number (0-based)
    std::string member;    // of a library member; empty for a plain file
    std::string ddName;
    uint32_t flags = 0;
    bool started = false; // reading has begun (it is one of the files that include others)
    bool haveIdentity = false;
    uint64_t device = 0; // the file identity of platform/files.h
    uint64_t inode = 0;
};

// ---- requests ----------------------------------------------------------------------------------

// A CHANGE ('C'), REPLACE ('R') or RENAME ('N') request. Names in EBCDIC.
struct Request {
    char kind = 'C';
    bool processed = false;
    bool hasNew = true;
    std::string oldName, newName;
};

// What the statements ask of the module being built.
struct AliasRequest {
    std::string name;   // member name, workstation characters
    std::string symbol; // EBCDIC entry symbol, or empty
};
struct OrderRequest {
    std::string section; // EBCDIC
    bool page = false;
    bool ordered = false; // from ORDER (else from PAGE)
};
struct LibraryRequest {
    std::string symbol; // EBCDIC
    std::string ddName; // empty: no-call or never-call
    bool neverCall = false;
};

struct Module; // resolution.h

// ---- the job step ----------------------------------------------------------------------------

enum OutputFlag : uint32_t {
    kOutputToCallback = 0x01, // messages still go to the callback (no listing yet)
    kOutputSplit = 0x02,      // SYSTERM lines at 80 columns
    kOutputAutocall = 0x04,   // automatic call in progress
};

struct Job {
    Job();
    ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    LinkEditCallback callback = nullptr;
    void* user = nullptr;
    const ConnectionRecord* connection = nullptr;
    std::unique_ptr<Module> module;
    const char* parm = nullptr;
    std::vector<std::string> syslin, syslib;
    std::vector<std::unique_ptr<InputFile>> stack; // the top is the current input file
    std::vector<Record> records;                   // the statement's records (EBCDIC)
    uint32_t firstRecord = 0;                      // number of the statement's first record
    std::string operand;                           // workstation characters
    std::vector<Request> changes;                  // CHANGE and REPLACE, newest first
    std::vector<Request> renames;
    int moduleSeverity = 0;
    int rc = 0;
    uint32_t status = 0;
    uint32_t ddCounter = 0; // generated DD names SYS00000 and on
    uint32_t syslinCount = 0, syslibCount = 0, syslinIndex = 0;
    uint32_t page = 1;
    uint32_t lines = 999;
    OptionBlock invocation;
    OptionBlock options; // of the module being built
    uint32_t size1 = 0, size2 = 0, wkspace1 = 0, wkspace2 = 0, linect = 60;
    bool maxblkGiven = false, size2Given = false, wkspace1Given = false;
    uint32_t syslmodBlksize = 0;
    uint32_t output = kOutputToCallback;
    DdSlot dd[5];
    char title[121] = {};
    int runTime[6] = {};                  // year, month, day, hour, minute, second of the run
    std::string callerMember;             // argument 7, when valid
    UtilityMessageQueue* queue = nullptr; // messages of the invocation options
    bool lastPrinted = true; // the print decision of the last message, for its continuations

    // SYSLIB patterns, parsed on first use.
    bool syslibParsed = false;
    bool syslibValid = false;
    std::vector<PathPattern> syslibPatterns;

    // Requests of the module being built.
    std::vector<AliasRequest> aliases;
    std::vector<OrderRequest> order;
    std::vector<LibraryRequest> library;
    std::string autocallDd; // AUTOCALL asked for after the current statement
    bool nameSeen = false;  // a NAME statement ended the module
    int objectModules = 0;  // object modules read for this module

    InputFile* current() const { return stack.empty() ? nullptr : stack.back().get(); }
    bool stopped() const { return rc > kSevere; }
};

// ---- messages.cpp ------------------------------------------------------------------------------

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A message: raises the module severity and the return code; when its severity reaches
// MSGLEVEL it goes to SYSTERM and to the listing (to the callback before the listing is set
// up). A severity with kContinuation follows the message before it.
void issue(Job& job, int severity, std::string_view text);
// A message followed by " PATH=" and the path ("/dev/null" when empty); in the listing a line
// that would pass 114 characters puts the path on a line of its own.
void issueWithPath(Job& job, int severity, std::string_view text, std::string_view path);
// A line to the callback (kind 1, operator lines).
void tellOperator(Job& job, std::string_view text);
// A listing line (listing only), after `blanks` blank lines.
void printLine(Job& job, std::string_view text, int blanks = 0);
// Prepares the title line from the run's date and time.
void buildTitle(Job& job);
// The statement error report: the message with the input file and record number, then the
// statement's records as text and hexadecimal. Severity 8 for an "E" message, else 12.
void statementError(Job& job, std::string_view message);
// The statement echo: the first record behind "VRL100I ", the others behind eight blanks.
void echoStatement(Job& job);
bool listingOpen(const Job& job);
// Writes a name for a message: EBCDIC to workstation characters, a leading blank as the
// character of EBCDIC X'5B', padded with blanks to `pad`.
std::string displayName(std::string_view ebcdic, size_t pad = 0);

// ---- options.cpp -------------------------------------------------------------------------------

enum class OptionSource { kParm, kOptionsFile, kSetopt };
// Applies the defaults of a new job step.
void setDefaults(Job& job, int mode);
// Parses an option list into `block`. Errors go to the invocation queue (kParm, kOptionsFile)
// or are reported as statement errors (kSetopt). `suffix` is appended to queued messages.
// Returns the number of errors.
int parseOptions(Job& job, std::string_view text, OptionBlock& block, OptionSource source,
                 const std::string& suffix = "");
// Settles WKSPACE, SIZE, MAXBLK, NOPRINT and TERM after the PARM string.
void deriveOptions(Job& job);
// Queues an invocation message (issued once the listing is open).
void queueMessage(Job& job, std::string_view text);

// ---- files.cpp ---------------------------------------------------------------------------------

// Binds SYSPRINT and SYSTERM, prints the parameters, issues the queued messages, prints the
// file table and opens SYSLIN and checks SYSLMOD. Errors are issued.
void bindFiles(Job& job);
// Closes every file of the job step (the listing last, after VRL009I).
void closeInputs(Job& job);
void closeListing(Job& job);
// Opens the next SYSLIN file onto the stack. False when there is none (or it failed).
bool openNextSyslin(Job& job);
// Reads one 80-byte EBCDIC record from the current file: 0 a record, 1 end of the file,
// -1 a read error (VRL016T issued).
int readRecord(Job& job, Record& out);
// Ends the current file: closes it and takes it off the stack.
void popInput(Job& job);
// Opens a file for input; false with errno in io.errnum.
bool openInput(InputFile& file);
// Whether a file is already being read: the same file (device and inode), or the same path
// (`byPath`) or DD name and member.
bool onInputStack(const Job& job, const InputFile& file, bool byPath);
// The DD name of the listing (SYSPRINT or SYSTERM) that an input file is, or "": reading the
// file that the job step writes would never reach its end.
std::string inUseAsOutput(const Job& job, const InputFile& file);
// The SYSLIB patterns: false (messages issued) when SYSLIB is missing or invalid.
bool syslibPatterns(Job& job);
// The first existing file of `member` in a DD's patterns (SYSLIB or SYSLMOD); "" when none.
// `sequence` receives the concatenation number.
std::string findMember(Job& job, int dd, const std::string& member, uint16_t* sequence);
// A new generated DD name "SYS%05u".
std::string generatedDdName(Job& job);
// The system's text for an error number.
const char* systemError(int errnum);

// ---- statements.cpp ----------------------------------------------------------------------------

// Processes the statement whose first record is in job.records[0]. Returns 0 (done, or error
// reported), -1 (end of file in a continuation) or 1 (an object record met in a continuation
// now stands alone in job.records).
int processStatement(Job& job);
// Reports CHANGE and REPLACE requests that no symbol matched (VRL109W) and empties the list.
void reportUnprocessedRequests(Job& job);
// Upper-cases ASCII letters.
std::string upperCase(std::string_view text);
// Names: the workstation text to EBCDIC and back.
std::string toEbcdic(std::string_view text);
std::string fromEbcdic(std::string_view ebcdic);
// The symbol-name rule over an operand item: true with the EBCDIC name. `blanks` allows blanks
// in a quoted name; `mixed` (CASE=MIXED) keeps unquoted names as written.
bool parseSymbol(std::string_view item, bool blanks, bool mixed, std::string& ebcdic);
// The member-name rule: true with the name, upper-cased unless `mixed`.
bool parseMember(std::string_view item, bool mixed, std::string& member);

// ---- object_input.cpp --------------------------------------------------------------------------

// Reads the object module whose first record is job.records[0] up to its END record, then
// merges it (or discards it).
void readObjectModule(Job& job);
// The reader's checks of one image, usable on records from anywhere (tests, fuzzing):
// feeds one card; the message of a failure, or "" when accepted.
class ObjectReader {
  public:
    explicit ObjectReader(ObjectModule& image) : image_(image) {}
    // One record of the module; returns "" or the VRL15x message. `end` becomes true after
    // the END record.
    std::string record(const uint8_t* card, bool& end);
    // True while an XSD name is incomplete.
    bool inLongName() const { return pendingXsd_ != nullptr; }
    // After END: names unnamed items, attaches references to sections. Returns "" or
    // the VRL158W message (symbol data dropped).
    std::string normalize(uint32_t& privateCounter);

  private:
    std::string esd(const uint8_t* r);
    std::string xsd(const uint8_t* r);
    std::string txt(const uint8_t* r);
    std::string rld(const uint8_t* r);
    std::string sym(const uint8_t* r);
    std::string end(const uint8_t* r);
    bool addItem(std::unique_ptr<EsdItem> item);
    bool growSection(EsdItem& section, uint64_t end);
    bool checkSymbolData();

    ObjectModule& image_;
    std::unique_ptr<EsdItem> pendingXsd_; // an XSD item whose name is still incomplete
    uint8_t xsdLength_[3] = {};           // its length (or owner) field
    unsigned xsdEsdid_ = 0;
    uint32_t xsdTotal_ = 0, xsdFill_ = 0;
    std::unordered_map<std::string, std::vector<EsdItem*>> byName_;
};

// ---- driver.cpp --------------------------------------------------------------------------------

// One job step from the arguments already in `job`.
void runJobStep(Job& job, int mode);
// The date and time of now (year, month, day, hour, minute, second); tests may fix it through
// the environment variable VRLCORE_TEST_TIME ("YYYYMMDDhhmmss").
void takeTime(int fields[6]);

// Runs the input loop until the stack is back at `depth` (0: all of SYSLIN).
void processInput(Job& job, size_t depth);
// Ends the module being built: resolution, layout, save, listing.
void finishModule(Job& job);
// Resets the module state after a module is finished.
void resetModule(Job& job);

} // namespace vrl
