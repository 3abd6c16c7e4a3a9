// The statement reader: recognises "./" control statements among the SYSIN records, splits
// them into name, operation and parameter fields, joins continued parameter fields, checks
// every keyword and value, and returns function, detail and data statements to the engine.
//
//   columns 1-2   "./"
//   columns 3-71  [name] operation [parameters] [comment]
//   column 72     non-blank: the parameters continue on the next record, which holds "./",
//                 blanks in columns 3-15 and the continued text from column 16
//   columns 73-80 not scanned (sequence numbers)
//
//   ./ CHANGE NAME=PAYROLL,LIST=ALL
//   ./ NUMBER SEQ1=ALL,NEW1=100,INCR=100
#include <bit>
#include <cstdio>
#include <string>

#include "runtime.h"
#include "update.h"

namespace ufx {

namespace {

constexpr std::string_view kError = "KDU805E Control statement error";

// "KDU805E Control statement error: " followed by the detail.
std::string statementError(std::string_view detail) {
    std::string s(kError);
    s += ": ";
    s += detail;
    return s;
}

struct Operation {
    std::string_view name;
    int cls;
    int code;
};
constexpr Operation kOperations[] = {
    {"ADD", kFunction, kAdd},     {"CHANGE", kFunction, kChange}, {"REPL", kFunction, kRepl},
    {"REPRO", kFunction, kRepro}, {"NUMBER", kDetail, kNumber},   {"DELETE", kDetail, kDelete},
    {"ENDUP", kEnd, kEndup},
};

// The fields of a control statement record.
struct Fields {
    int cls = kInvalid;
    int code = kUnknownOperation;
    int paramStart = 0; // 0-based; the parameter field is [paramStart, paramEnd)
    int paramEnd = 0;
    bool hasParam() const { return paramEnd > paramStart; }
};

bool isControl(const Record& r) {
    return r.text[0] == '.' && r.text[1] == '/';
}

// Splits a "./" record into its fields and looks the operation up.
Fields scanFields(const Record& r) {
    const char* t = r.text;
    constexpr int kLimit = kContinuationColumn; // scanning never reaches column 72
    Fields f;
    int i = 2;
    if (!isBlank(t[i])) // a name field in column 3 runs to the next blank and is ignored
        while (i < kLimit && !isBlank(t[i])) ++i;
    while (i < kLimit && isBlank(t[i])) ++i;
    const int opStart = i;
    while (i < kLimit && !isBlank(t[i])) ++i;
    // At most 9 characters of the operation are kept: a longer one can match nothing.
    const std::string_view op(t + opStart, static_cast<size_t>(std::min(i - opStart, 9)));
    for (const Operation& o : kOperations)
        if (o.name == op) {
            f.cls = o.cls;
            f.code = o.code;
        }
    while (i < kLimit && isBlank(t[i])) ++i;
    f.paramStart = i;
    while (i < kLimit && !isBlank(t[i])) ++i;
    f.paramEnd = i;
    return f;
}

// The comma rules of a record's parameter text [start, end): a text that continues must end
// with a comma unless it reaches column 71, and a text that does not continue must not.
bool commaRulesHold(const Record& r, int start, int end) {
    const bool continues = !isBlank(r.text[kContinuationColumn]);
    if (end <= start) return !continues;
    const char last = r.text[end - 1];
    if (!continues) return last != ',';
    return end == kContinuationColumn || last == ',';
}

// A continuation record: "./", X'20' in columns 3-15 and a non-blank column 16.
bool isContinuationRecord(const Record& r) {
    if (!isControl(r)) return false;
    for (int i = 2; i < 15; ++i)
        if (r.text[i] != ' ') return false;
    return !isBlank(r.text[15]);
}

// The next record: one given back earlier, or a new one from SYSIN. It joins the pending
// records. 0, 1 (end) or -1 (input error).
int nextRecord(UpdateRun& run, Record& r) {
    if (!run.replay.empty()) {
        r = run.replay.front();
        run.replay.pop_front();
    } else {
        const int rc = readSysinRecord(run, r);
        if (rc != 0) return rc;
    }
    run.pending.push_back(r);
    return 0;
}

// Reads the continuation records of a statement whose first record continues, appending their
// parameter text. `valid` turns false on a broken continuation record, whose followers are
// still consumed. Returns 0, or 1 when the input ends first.
int readContinuations(UpdateRun& run, std::string* text, bool* valid) {
    Record r;
    do {
        const int rc = nextRecord(run, r);
        if (rc != 0) {
            if (rc == 1) { // a true end of file, not an input error already reported
                echoError(run);
                issue(run, statementError("invalid continuation"));
                setCondition(run, 12);
            }
            return 1;
        }
        if (!isContinuationRecord(r)) {
            *valid = false;
            continue;
        }
        int end = 15;
        while (end < kContinuationColumn && !isBlank(r.text[end])) ++end;
        if (!commaRulesHold(r, 15, end)) *valid = false;
        if (text != nullptr) text->append(r.text + 15, static_cast<size_t>(end - 15));
    } while (!isBlank(r.text[kContinuationColumn]));
    return 0;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F');
}
bool allOf(std::string_view v, bool (*pred)(char)) {
    for (char c : v)
        if (!pred(c)) return false;
    return true;
}
uint32_t decimal(std::string_view v) {
    uint32_t n = 0;
    for (char c : v) n = n * 10 + static_cast<uint32_t>(c - '0');
    return n;
}
uint8_t hexValue(char c) {
    return static_cast<uint8_t>(isDigit(c) ? c - '0' : c - 'A' + 10);
}

// What a parameter handler knows about the statement it belongs to.
struct Context {
    UpdateRun& run;
    Statement& st;
    const Statement* function; // the current function (detail statements)
    uint32_t seen = 0;         // keywords given so far, one bit each
};

using Handler = std::string (*)(Context&, std::string_view);

struct Keyword {
    std::string_view name;
    Handler handler;
};

// ---- function statement parameters ----

enum FunctionKeyword : uint32_t {
    kColumnSeen = 1u << 0,
    kLevelSeen = 1u << 1,
    kListSeen = 1u << 2,
    kMemberSeen = 1u << 3,
    kNameSeen = 1u << 4,
    kNewSeen = 1u << 5,
    kSeqfldSeen = 1u << 6,
    kSourceSeen = 1u << 7,
    kSsiSeen = 1u << 8,
    kUpdateSeen = 1u << 9,
};

// Marks a keyword as given; false when it was given before.
bool firstTime(Context& c, uint32_t bit) {
    if (c.seen & bit) return false;
    c.seen |= bit;
    return true;
}

std::string onColumn(Context& c, std::string_view v) {
    if (v.empty() || v.size() > 2 || !allOf(v, isDigit) || decimal(v) < 1 || decimal(v) > 80)
        return statementError("invalid COLUMN parameter value");
    if (!firstTime(c, kColumnSeen)) return statementError("COLUMN parameter already specified");
    if (c.st.code != kChange)
        return statementError("COLUMN parameter is only valid for CHANGE function");
    c.st.function.column = static_cast<uint8_t>(decimal(v)); // stored minus 1 once parsed
    return {};
}

std::string onLevel(Context& c, std::string_view v) {
    if (v.size() != 2 || !allOf(v, isHexDigit))
        return statementError("invalid LEVEL parameter value");
    if (!firstTime(c, kLevelSeen)) return statementError("LEVEL parameter already specified");
    c.st.function.level = static_cast<uint8_t>(hexValue(v[0]) << 4 | hexValue(v[1]));
    c.st.function.flags |= kLevelGiven;
    return {};
}

std::string onList(Context& c, std::string_view v) {
    if (v != "ALL") return statementError("invalid LIST parameter value");
    if (!firstTime(c, kListSeen)) return statementError("LIST parameter already specified");
    c.st.function.flags |= kListAll;
    return {};
}

void storeName(char (&field)[9], std::string_view v) {
    std::memcpy(field, v.data(), v.size());
    field[v.size()] = '\0';
}

std::string onMember(Context& c, std::string_view v) {
    if (!isSafeMemberName(v)) return statementError("invalid MEMBER parameter value");
    if (!firstTime(c, kMemberSeen)) return statementError("MEMBER parameter already specified");
    storeName(c.st.function.member, v);
    return {};
}

std::string onName(Context& c, std::string_view v) {
    if (!isSafeMemberName(v)) return statementError("INVALID NAME parameter value");
    if (!firstTime(c, kNameSeen)) return statementError("NAME parameter already specified");
    storeName(c.st.function.name, v);
    return {};
}

std::string onNew(Context& c, std::string_view v) {
    if (v != "PO" && v != "PS") return statementError("invalid NEW parameter value");
    if (!firstTime(c, kNewSeen)) return statementError("NEW parameter already specified");
    if (!(c.run.flags & kRunFirstPending))
        return statementError("NEW parameter is only valid on the first function statement");
    if (c.run.flags & kRunNewOutput)
        return statementError("NEW parameter is not valid with new output data set");
    c.st.function.flags |= v == "PO" ? kNewPO : kNewPS;
    return {};
}

// SEQFLD=ddl or SEQFLD=(ddl,ddl): start column (2 digits) and length (1 digit) of the field,
// then of its numeric portion.
std::string onSeqfld(Context& c, std::string_view v) {
    const std::string invalid = statementError("invalid SEQFLD parameter value");
    int start = 0, length = 0, numStart = 0, numLength = 0;
    auto digits3 = [](std::string_view d, int& s, int& l) {
        if (!allOf(d, isDigit)) return false;
        s = (d[0] - '0') * 10 + (d[1] - '0');
        l = d[2] - '0';
        return true;
    };
    if (v.size() == 3) {
        if (!digits3(v, start, length)) return invalid;
        numStart = start;
        numLength = length;
    } else if (v.size() == 9) {
        if (v[0] != '(' || v[4] != ',' || v[8] != ')' || !digits3(v.substr(1, 3), start, length) ||
            !digits3(v.substr(5, 3), numStart, numLength))
            return invalid;
    } else {
        return invalid;
    }
    const int end = start + length - 1;
    if (start < 1 || length < 1 || length > 8 || end > 80 || numStart < start || numLength < 1 ||
        numStart + numLength - 1 > end)
        return invalid;
    if (!firstTime(c, kSeqfldSeen)) return statementError("SEQFLD parameter already specified");
    c.st.function.sequence =
        SequenceField{static_cast<uint8_t>(start), static_cast<uint8_t>(length),
                      static_cast<uint8_t>(numStart), static_cast<uint8_t>(numLength)};
    return {};
}

std::string onSource(Context& c, std::string_view v) {
    if (v != "0" && v != "1") return statementError("invalid SOURCE parameter value");
    if (!firstTime(c, kSourceSeen)) return statementError("SOURCE parameter already specified");
    c.st.function.flags |= v == "0" ? kSource0 : kSource1;
    return {};
}

std::string onSsi(Context& c, std::string_view v) {
    if (v.size() != 8 || !allOf(v, isHexDigit))
        return statementError("invalid SSI parameter value");
    if (!firstTime(c, kSsiSeen)) return statementError("SSI parameter already specified");
    for (size_t i = 0; i < 4; ++i)
        c.st.function.ssi[i] =
            static_cast<uint8_t>(hexValue(v[2 * i]) << 4 | hexValue(v[2 * i + 1]));
    c.st.function.flags |= kSsiGiven;
    return {};
}

std::string onUpdate(Context& c, std::string_view v) {
    if (v != "INPLACE") return statementError("invalid UPDATE parameter value");
    if (!firstTime(c, kUpdateSeen)) return statementError("UPDATE parameter already specified");
    if (c.st.code != kChange)
        return statementError("UPDATE parameter is only valid for CHANGE function");
    if (!(c.run.flags & kRunFirstPending))
        return statementError("UPDATE parameter is only valid on the first CHANGE statement");
    if (c.run.flags & kRunNewOutput)
        return "KDU807E Operation error: UPDATE=INPLACE is not valid with new output data set";
    c.st.function.flags |= kUpdateInplace;
    return {};
}

constexpr Keyword kFunctionKeywords[] = {
    {"COLUMN=", onColumn}, {"LEVEL=", onLevel},   {"LIST=", onList},     {"MEMBER=", onMember},
    {"NAME=", onName},     {"NEW=", onNew},       {"SEQFLD=", onSeqfld}, {"SOURCE=", onSource},
    {"SSI=", onSsi},       {"UPDATE=", onUpdate},
};

// ---- detail statement parameters ----

enum DetailKeyword : uint32_t {
    kSeq1Seen = 1u << 0,
    kSeq2Seen = 1u << 1,
    kNew1Seen = 1u << 2,
    kIncrSeen = 1u << 3,
    kInsertSeen = 1u << 4,
};

bool underChange(const Context& c) {
    return c.function != nullptr && c.function->code == kChange;
}

// A SEQ1, SEQ2 or NEW1 value: right-aligned in the function's sequence field and filled on the
// left with zeros; the digits under the numeric portion give its number.
std::string sequenceValue(Context& c, std::string_view v, const char* keyword, SequenceValue& out,
                          uint32_t& number) {
    const SequenceField& f = c.function->function.sequence;
    if (v.empty() || v.size() > f.length)
        return statementError(format("invalid %s parameter length", keyword));
    char field[8];
    std::memset(field, '0', sizeof field);
    std::memcpy(field + (f.length - v.size()), v.data(), v.size());
    const std::string_view numeric(field + (f.numericStart - f.start), f.numericLength);
    if (!allOf(numeric, isDigit))
        return statementError(format("invalid numeric portion of %s parameter", keyword));
    number = decimal(numeric);
    const uint8_t* a2e = rt::asciiToEbcdic();
    out.fill(kEbcdicBlank);
    for (size_t i = 0; i < f.length; ++i) out[i] = a2e[static_cast<uint8_t>(field[i])];
    return {};
}

std::string onSeq1(Context& c, std::string_view v) {
    DetailFields& d = c.st.detail;
    if (!underChange(c))
        return statementError("SEQ1 parameter is only valid with CHANGE function statement");
    if (!firstTime(c, kSeq1Seen)) return statementError("SEQ1 parameter already specified");
    if (v == "ALL") {
        if (c.st.code != kNumber)
            return statementError("SEQ1=ALL is only valid on NUMBER statement");
        d.flags |= kSeq1All;
        const uint8_t* a2e = rt::asciiToEbcdic();
        d.seq1 = {a2e[static_cast<uint8_t>('A')], a2e[static_cast<uint8_t>('L')],
                  a2e[static_cast<uint8_t>('L')]};
        return {};
    }
    return sequenceValue(c, v, "SEQ1", d.seq1, d.seq1Number);
}

std::string onSeq2(Context& c, std::string_view v) {
    DetailFields& d = c.st.detail;
    if (!underChange(c))
        return statementError("SEQ2 parameter is only valid with CHANGE function statement");
    SequenceValue value{};
    uint32_t number = 0;
    // The value is checked before the repetition, unlike SEQ1.
    if (std::string m = sequenceValue(c, v, "SEQ2", value, number); !m.empty()) return m;
    if (!firstTime(c, kSeq2Seen)) return statementError("SEQ2 parameter already specified");
    d.seq2 = value;
    d.seq2Number = number;
    return {};
}

std::string onNew1(Context& c, std::string_view v) {
    DetailFields& d = c.st.detail;
    if (c.st.code != kNumber)
        return statementError("NEW1 parameter is not valid on DELETE statement");
    SequenceValue value{};
    uint32_t number = 0;
    if (std::string m = sequenceValue(c, v, "NEW1", value, number); !m.empty()) return m;
    if (!firstTime(c, kNew1Seen)) return statementError("NEW1 parameter already specified");
    d.new1 = value;
    d.new1Number = number;
    return {};
}

std::string onIncr(Context& c, std::string_view v) {
    if (c.st.code != kNumber)
        return statementError("INCR parameter is not valid on DELETE statement");
    if (v.empty()) return statementError("invalid INCR parameter value");
    if (v.size() > 8 || !allOf(v, isDigit)) return statementError("INVALID INCR parameter value");
    if (decimal(v) == 0) return statementError("invalid INCR parameter value");
    if (!firstTime(c, kIncrSeen)) return statementError("INCR parameter already specified");
    c.st.detail.increment = decimal(v);
    return {};
}

std::string onInsert(Context& c, std::string_view v) {
    if (c.st.code != kNumber)
        return statementError("INSERT parameter is not valid on DELETE statement");
    if (!underChange(c))
        return statementError("INSERT parameter is only valid with CHANGE function statement");
    if (c.run.flags & kRunInplace)
        return "KDU807E Operation error: INSERT parameter is not valid with CHANGE UPDATE=INPLACE "
               "function";
    if (v != "YES") return statementError("invalid INSERT parameter value");
    if (!firstTime(c, kInsertSeen)) return statementError("INSERT parameter already specified");
    c.st.detail.flags |= kInsertYes;
    return {};
}

constexpr Keyword kDetailKeywords[] = {
    {"SEQ1=", onSeq1}, {"SEQ2=", onSeq2},     {"NEW1=", onNew1},
    {"INCR=", onIncr}, {"INSERT=", onInsert},
};

// Scans "keyword=value,keyword=value" against a keyword table. Returns "" or the message of
// the first failure.
template <size_t N>
std::string scanParameters(Context& c, std::string_view text, const Keyword (&table)[N]) {
    if (text.empty()) return {};
    size_t pos = 0;
    while (pos <= text.size()) {
        // Up to 9 characters, stopping after the first "=", never beyond the item.
        size_t k = pos;
        bool equals = false;
        while (k < text.size() && k - pos < 9 && text[k] != ',') {
            if (text[k++] == '=') {
                equals = true;
                break;
            }
        }
        const Keyword* keyword = nullptr;
        if (equals)
            for (const Keyword& entry : table)
                if (entry.name == text.substr(pos, k - pos)) keyword = &entry;
        if (keyword == nullptr) return statementError("invalid parameter name");
        // The value runs to the next comma outside parentheses.
        size_t end = k;
        int depth = 0;
        for (; end < text.size(); ++end) {
            const char ch = text[end];
            if (ch == '(') {
                ++depth;
            } else if (ch == ')') {
                if (--depth < 0) return statementError("unbalanced ')' in parameter value");
            } else if (ch == ',' && depth == 0) {
                break;
            }
        }
        if (depth > 0) return statementError("unbalanced '(' in parameter value");
        if (std::string m = keyword->handler(c, text.substr(k, end - k)); !m.empty()) return m;
        if (end >= text.size()) break;
        pos = end + 1;
    }
    return {};
}

// The checks that follow the parameters of a function statement.
std::string finishFunction(UpdateRun& run, Statement& st, uint32_t seen) {
    FunctionFields& f = st.function;
    if (seen & kSeqfldSeen) {
        f.sequence.start = static_cast<uint8_t>(f.sequence.start - 1);
        f.sequence.numericStart = static_cast<uint8_t>(f.sequence.numericStart - 1);
    } else {
        f.sequence = SequenceField{};
    }
    if (f.column > 0) f.column = static_cast<uint8_t>(f.column - 1);
    if ((f.flags & kUpdateInplace) && (f.flags & (kNewPO | kNewPS)))
        return statementError("UPDATE parameter is not allowed with NEW parameter");
    if ((run.flags & kRunNewOutput) && st.code != kAdd)
        return "KDU807E Operation error: only ADD function statements are allowed with new output "
               "data set";
    if ((run.flags & kRunInplace) && st.code != kChange)
        return "KDU807E Operation error: only CHANGE function statements are allowed with "
               "UPDATE=INPLACE";
    return {};
}

// The checks on a detail statement before its parameters.
std::string checkDetailPlace(const UpdateRun& run, const Statement& st, const Statement* function) {
    if (function == nullptr)
        return statementError("no function statement for this detail statement");
    if (st.code == kDelete && function->code != kChange)
        return statementError("DELETE statement is only valid with CHANGE function statement");
    if (st.code == kDelete && (run.flags & kRunInplace))
        return "KDU807E Operation error: DELETE statement is not valid with CHANGE UPDATE=INPLACE "
               "function";
    if (function->code == kRepro)
        return statementError("detail statements are not valid with REPRO function statement");
    return {};
}

// The checks on a detail statement after its parameters; sets its key.
std::string finishDetail(Statement& st, const Statement* function) {
    DetailFields& d = st.detail;
    const bool all = (d.flags & kSeq1All) != 0;
    if (given(d.seq1) && given(d.seq2) && !all && compare(d.seq2, d.seq1) < 0)
        return statementError("SEQ2 parameter value must not be less than SEQ1 parameter value");
    if (st.code == kDelete) {
        if (!given(d.seq1)) return statementError("SEQ1 parameter is required on DELETE statement");
        if (!given(d.seq2)) return statementError("SEQ2 parameter is required on DELETE statement");
        d.key = d.seq1;
        return {};
    }
    if (function->code != kChange) return {};
    if (!given(d.seq1))
        return statementError("SEQ1 parameter is required on NUMBER statement for CHANGE function");
    if (given(d.new1) && !all && compare(d.new1, d.seq1) <= 0)
        return statementError("NEW1 parameter value must be greater than SEQ1 parameter value");
    if ((d.flags & kInsertYes) && all)
        return statementError("SEQ1=ALL is not allowed with INSERT=YES");
    if (!(d.flags & kInsertYes) && !all && !given(d.seq2))
        return statementError("SEQ2 parameter is required");
    if (!all) d.key = d.seq1;
    return {};
}

// Parses the control statement whose first record is the last pending record: continuation,
// parameters and checks. Returns 0, 1 or -1.
int parseControl(UpdateRun& run, const Statement* function, Statement& st) {
    const Record first = run.pending.back();
    const Fields f = scanFields(first);
    st = Statement{};
    st.cls = f.cls;
    st.code = f.code;
    bool valid = commaRulesHold(first, f.paramStart, f.paramEnd);
    // The parameter text grows as continuation records are read; it is never cut.
    std::string text(first.text + f.paramStart, static_cast<size_t>(f.paramEnd - f.paramStart));
    text.reserve(256);
    if (!isBlank(first.text[kContinuationColumn]) && readContinuations(run, &text, &valid) != 0)
        return 1;
    if (!valid) return reject(run, statementError("invalid continuation"));

    switch (st.cls) {
    case kFunction: {
        Context c{run, st, function};
        if (std::string m = scanParameters(c, text, kFunctionKeywords); !m.empty())
            return reject(run, m);
        if (std::string m = finishFunction(run, st, c.seen); !m.empty()) return reject(run, m);
        return 0;
    }
    case kDetail: {
        if (std::string m = checkDetailPlace(run, st, function); !m.empty()) return reject(run, m);
        Context c{run, st, function};
        if (std::string m = scanParameters(c, text, kDetailKeywords); !m.empty())
            return reject(run, m);
        if (std::string m = finishDetail(st, function); !m.empty()) return reject(run, m);
        return 0;
    }
    case kEnd:
        if (!text.empty()) return reject(run, statementError("invalid parameter field"));
        return 0;
    default:
        return reject(run, statementError("invalid operation field"));
    }
}

// Consumes the continuation records of a statement that is being skipped.
int skipContinuations(UpdateRun& run, const Record& first) {
    if (isBlank(first.text[kContinuationColumn])) return 0;
    Record r;
    do {
        if (nextRecord(run, r) != 0) return 1;
    } while (!isBlank(r.text[kContinuationColumn]));
    return 0;
}

} // namespace

bool isSafeMemberName(std::string_view name) {
    if (!rt::isMemberName(name.data(), name.size(), rt::kUpperCase)) return false;
    // The national characters come from the EBCDIC code page in force; none of them may turn a
    // member name into a path of its own.
    if (name == "." || name == "..") return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == ':') return false;
    return true;
}

SequenceValue recordKey(const Record& r, const SequenceField& f) {
    SequenceValue key;
    if (f.start + key.size() <= kRecordLength) {
        // One 8-byte load, the bytes past the field's length turned into EBCDIC blanks.
        uint64_t bytes;
        std::memcpy(&bytes, r.ebcdic + f.start, sizeof bytes);
        if (f.length < key.size()) {
            const unsigned kept = 8u * f.length;
            const uint64_t mask = std::endian::native == std::endian::little
                                      ? (uint64_t{1} << kept) - 1
                                      : ~(~uint64_t{0} >> kept);
            bytes = (bytes & mask) | (0x4040404040404040ull & ~mask);
        }
        std::memcpy(key.data(), &bytes, sizeof bytes);
        return key;
    }
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = i < f.length ? r.ebcdic[f.start + i] : kEbcdicBlank;
    return key;
}

int readDataRecord(UpdateRun& run, const Statement& function, Statement& out) {
    run.pending.clear();
    Record r;
    if (nextRecord(run, r) != 0) return 1;
    out = Statement{};
    if (!isControl(r)) {
        if (function.code == kChange) out.detail.key = recordKey(r, function.function.sequence);
        return 0;
    }
    const Fields f = scanFields(r);
    out.cls = f.cls;
    out.code = f.code;
    unreadPending(run);
    return 0;
}

void unreadPending(UpdateRun& run) {
    for (auto it = run.pending.rbegin(); it != run.pending.rend(); ++it) run.replay.push_front(*it);
    run.pending.clear();
}

int readStatement(UpdateRun& run, const Statement* function, Statement* out) {
    run.pending.clear();
    Record r;
    if (nextRecord(run, r) != 0) return 1;

    if (function == nullptr) { // a function statement is wanted
        if (!isControl(r)) {
            *out = Statement{};
            out->cls = kInvalid;
            out->code = kDataWhereFunctionExpected;
            return reject(run, kError);
        }
        return parseControl(run, nullptr, *out);
    }

    if (out == nullptr) { // skipping after an error
        if (!isControl(r)) return -1;
        const Fields f = scanFields(r);
        if (f.cls == kDetail) return skipContinuations(run, r) != 0 ? 1 : -1;
        unreadPending(run);
        return 0;
    }

    // The body of a function.
    if (!isControl(r)) {
        *out = Statement{};
        out->cls = kData;
        if (function->code == kChange) out->detail.key = recordKey(r, function->function.sequence);
        return 0;
    }
    const Fields f = scanFields(r);
    if (f.cls == kDetail) return parseControl(run, function, *out);
    *out = Statement{};
    out->cls = f.cls;
    out->code = f.code;
    unreadPending(run);
    return 0;
}

} // namespace ufx
