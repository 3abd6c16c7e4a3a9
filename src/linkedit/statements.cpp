// Control statements: records gathered into statements (with continuation), checked, echoed
// and carried out. An operation starts in column 2 or later; its operand follows after blanks
// and ends at the first blank outside apostrophes; a comma at the end of the operand, or a
// character in column 72, continues it on the next record.
//
//    VRL100I  INCLUDE SYSLIB(IO,                                                       X
//                     CALC)
//    VRL100I  ENTRY MAIN
//    VRL100I  NAME PROG(R)
#include <algorithm>
#include <cstring>

#include "linkedit.h"
#include "resolution.h"
#include "runtime.h"

namespace vrl {

namespace {

constexpr size_t kContinuationIndex = 71;   // column 72
constexpr size_t kLastOperationColumn = 65; // column 66
constexpr size_t kOperationEndLimit = 70;   // the blank after the operation: column 71 or earlier
constexpr size_t kMaxOperation = 8;
constexpr size_t kMaxClassName = 16;
constexpr size_t kMaxIdentify = 80;
constexpr uint64_t kMaxIncrement = uint64_t{1} << 30; // 1 GB

std::string textOf(const Record& r) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string t(kRecordLength, ' ');
    for (size_t i = 0; i < kRecordLength; ++i) t[i] = static_cast<char>(e2a[r.bytes[i]]);
    return t;
}

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "VRL112E Invalid <what> "<item>"", the item cut at 32 characters.
std::string invalidName(const char* what, std::string_view item) {
    if (item.size() > 32)
        return format("VRL112E Invalid %s \"%.32s\"...", what, std::string(item).c_str());
    return format("VRL112E Invalid %s \"%.*s\"", what, static_cast<int>(item.size()), item.data());
}

std::string invalidOperand(const std::string& operation) {
    return format("VRL113E Invalid %s operand", operation.c_str());
}

// Splits an operand at commas outside apostrophes (and, with `parens`, outside parentheses).
std::vector<std::string_view> splitItems(std::string_view s, bool parens) {
    std::vector<std::string_view> items;
    bool quoted = false;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\'') quoted = !quoted;
        if (quoted) continue;
        if (parens && c == '(') ++depth;
        if (parens && c == ')' && depth > 0) --depth;
        if (c == ',' && depth == 0) {
            items.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    items.push_back(s.substr(start));
    return items;
}

// The position of the first "(" outside apostrophes, or npos.
size_t openParen(std::string_view s) {
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\'') quoted = !quoted;
        if (!quoted && s[i] == '(') return i;
    }
    return std::string_view::npos;
}

// Splits "name(inner)": false unless the item ends with ")" after its first "(".
bool nameAndInner(std::string_view item, std::string_view& name, std::string_view& inner) {
    const size_t p = openParen(item);
    if (p == std::string_view::npos || item.back() != ')' || p + 1 > item.size() - 1) return false;
    name = item.substr(0, p);
    inner = item.substr(p + 1, item.size() - p - 2);
    return true;
}

// A DD name of an operand: 1 to 8 letters or digits, a letter first.
bool parseDdName(std::string_view item, bool mixed, std::string& out) {
    if (item.empty() || item.size() > 8 || !isLetter(item[0])) return false;
    for (char c : item) {
        if (!isLetter(c) && !isDigit(c)) return false;
        if (mixed && c >= 'a' && c <= 'z') return false;
    }
    out = upperCase(item);
    return true;
}

// The DD that a DD name of an operand stands for: kSyslib, kSyslmod, or -1 after VRL124E.
int operandDd(Job& job, const std::string& dd) {
    if (dd == job.dd[kSyslib].ddName) return kSyslib;
    if (dd == job.dd[kSyslmod].ddName) return kSyslmod;
    statementError(job, format("VRL124E DDNAME \"%s\" is not supported, only %s and %s are allowed",
                               dd.c_str(), job.dd[kSyslib].ddName.c_str(),
                               job.dd[kSyslmod].ddName.c_str()));
    return -1;
}

bool mixed(const Job& job) {
    return job.options.on(kCaseMixed);
}

// ---- operations ----------------------------------------------------------------------------

using Handler = int (*)(Job&, const std::string& operation, std::string_view operand);

int fail(Job& job, const std::string& message) {
    statementError(job, message);
    return 1;
}

int doAlias(Job& job, const std::string& op, std::string_view operand) {
    std::vector<AliasRequest> added;
    for (std::string_view item : splitItems(operand, false)) {
        if (item.empty()) return fail(job, invalidOperand(op));
        std::string_view name = item, inner;
        const size_t p = openParen(item);
        AliasRequest a;
        if (p != std::string_view::npos) {
            const std::string_view rest = item.substr(p);
            if (rest.size() < 3 || rest.back() != ')') return fail(job, invalidOperand(op));
            name = item.substr(0, p);
            inner = rest.substr(1, rest.size() - 2);
            if (!parseSymbol(inner, false, mixed(job), a.symbol))
                return fail(job, invalidName("symbol name", inner));
        }
        if (!parseMember(name, mixed(job), a.name))
            return fail(job, invalidName("member name", name));
        auto same = [&](const AliasRequest& other) { return other.name == a.name; };
        if (std::any_of(job.aliases.begin(), job.aliases.end(), same) ||
            std::any_of(added.begin(), added.end(), same))
            return fail(job, format("VRL120E Duplicate alias name: \"%s\"", a.name.c_str()));
        added.push_back(std::move(a));
    }
    job.aliases.insert(job.aliases.end(), added.begin(), added.end());
    return 0;
}

int doAutocall(Job& job, const std::string&, std::string_view operand) {
    std::string dd;
    if (!parseDdName(operand, mixed(job), dd)) return fail(job, invalidName("DDNAME", operand));
    if (operandDd(job, dd) < 0) return 1;
    if (!job.options.on(kNcal) && !(job.output & kOutputAutocall)) job.autocallDd = dd;
    return 0;
}

// Whether a new request conflicts with one of `list`.
bool conflicts(const Request& r, const std::vector<Request>& list) {
    for (const Request& other : list) {
        auto matches = [&](const std::string& name) {
            return name == other.oldName || (other.hasNew && name == other.newName);
        };
        if (matches(r.oldName) || (r.hasNew && matches(r.newName))) return true;
    }
    return false;
}

int addRequests(Job& job, std::vector<Request>& list, std::vector<Request>& added,
                const char* conflict) {
    for (Request& r : added) {
        if (conflicts(r, list)) return fail(job, conflict);
        list.insert(list.begin(), r);
    }
    return 0;
}

int doChangeOrReplace(Job& job, const std::string& op, std::string_view operand) {
    const bool replace = op == "REPLACE";
    std::vector<Request> added;
    for (std::string_view item : splitItems(operand, false)) {
        Request r;
        r.kind = replace ? 'R' : 'C';
        std::string_view oldText = item, newText;
        if (item.empty() || item[0] == '(') return fail(job, invalidOperand(op));
        if (openParen(item) != std::string_view::npos) {
            if (!nameAndInner(item, oldText, newText)) return fail(job, invalidOperand(op));
        } else if (!replace) {
            return fail(job, invalidOperand(op));
        } else {
            r.hasNew = false;
        }
        if (!parseSymbol(oldText, false, mixed(job), r.oldName))
            return fail(job, invalidName("symbol name", oldText));
        if (r.hasNew) {
            if (!parseSymbol(newText, false, mixed(job), r.newName))
                return fail(job, invalidName("symbol name", newText));
            if (r.newName == r.oldName) return fail(job, invalidOperand(op));
        }
        if (conflicts(r, added)) return fail(job, "VRL122E Conflicting CHANGE/REPLACE");
        added.push_back(std::move(r));
    }
    std::vector<Request> list = job.changes;
    if (addRequests(job, list, added, "VRL122E Conflicting CHANGE/REPLACE") != 0) return 1;
    job.changes = std::move(list);
    return 0;
}

int doRename(Job& job, const std::string& op, std::string_view operand) {
    const auto items = splitItems(operand, false);
    if (items.size() != 2 || items[0].empty() || items[1].empty())
        return fail(job, invalidOperand(op));
    Request r;
    r.kind = 'N';
    if (!parseSymbol(items[0], false, mixed(job), r.oldName))
        return fail(job, invalidName("symbol name", items[0]));
    if (!parseSymbol(items[1], false, mixed(job), r.newName))
        return fail(job, invalidName("symbol name", items[1]));
    if (r.oldName == r.newName) return fail(job, invalidOperand(op));
    std::vector<Request> added{r};
    return addRequests(job, job.renames, added, "VRL121E Conflicting RENAME");
}

int doEntry(Job& job, const std::string&, std::string_view operand) {
    std::string name;
    if (!parseSymbol(operand, false, mixed(job), name))
        return fail(job, "VRL115E Invalid entry point name");
    job.options.entry = name;
    return 0;
}

int doExpand(Job& job, const std::string& op, std::string_view operand) {
    struct Expansion {
        std::string section, className;
        uint64_t bytes;
    };
    std::vector<Expansion> added;
    for (std::string_view item : splitItems(operand, true)) {
        std::string_view name, inner;
        if (!nameAndInner(item, name, inner)) return fail(job, invalidOperand(op));
        Expansion e;
        if (!parseSymbol(name, false, mixed(job), e.section))
            return fail(job, invalidName("section name", name));
        const size_t comma = inner.find(',');
        const std::string_view bytes = inner.substr(0, comma);
        // Decimal, not 0, and within 1 GB (a larger element is refused when it is laid out).
        uint64_t v = 0;
        bool ok = !bytes.empty() && bytes.size() <= 19;
        for (char c : bytes) {
            if (!isDigit(c)) ok = false;
            if (ok) v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (!ok || v == 0 || v > kMaxIncrement)
            return fail(job, invalidName("size increment", bytes));
        e.bytes = v;
        e.className = toEbcdic("B_TEXT");
        if (comma != std::string_view::npos) {
            const std::string_view cls = inner.substr(comma + 1);
            if (!parseSymbol(cls, false, mixed(job), e.className) ||
                e.className.size() > kMaxClassName)
                return fail(job, invalidName("class name", cls));
        }
        added.push_back(std::move(e));
    }
    for (const Expansion& e : added) {
        const int st = expandSection(job, e.section, e.className, e.bytes);
        if (st == 1) return fail(job, invalidOperand(op));
        if (st == 2) return fail(job, invalidName("size increment", std::to_string(e.bytes)));
    }
    return 0;
}

int doIdentify(Job& job, const std::string& op, std::string_view operand) {
    std::vector<std::pair<std::string, std::string>> added;
    for (std::string_view item : splitItems(operand, false)) {
        std::string_view name, inner;
        if (!nameAndInner(item, name, inner)) return fail(job, invalidOperand(op));
        std::string section, data;
        if (!parseSymbol(name, false, mixed(job), section))
            return fail(job, invalidName("section name", name));
        if (inner.size() < 3 || inner.front() != '\'' || !parseSymbol(inner, true, true, data) ||
            data.size() > kMaxIdentify)
            return fail(job, invalidName("data string", inner));
        added.emplace_back(std::move(section), std::move(data));
    }
    for (const auto& [section, data] : added)
        if (!identifySection(job, section, data)) return fail(job, invalidOperand(op));
    return 0;
}

int doInclude(Job& job, const std::string& op, std::string_view operand) {
    std::vector<std::unique_ptr<InputFile>> opened;
    auto reject = [&](const std::string& message) {
        for (auto& f : opened)
            if (f->io.stream != nullptr && !(f->flags & kInputStandard)) rt::ioClose(f->io, false);
        if (!message.empty()) statementError(job, message);
        return 1;
    };
    for (std::string_view item : splitItems(operand, true)) {
        if (item.empty()) return reject(invalidOperand(op));
        if (item[0] == '\'') {
            std::string ebcdic;
            if (!parseSymbol(item, false, true, ebcdic) || ebcdic.empty())
                return reject(invalidName("path name", item));
            auto f = std::make_unique<InputFile>();
            f->path = fromEbcdic(ebcdic);
            f->ddName = generatedDdName(job);
            f->flags = kInputByPath;
            if (!openInput(*f))
                return reject(format("VRL014E Error opening INCLUDE file \"%s\": %s",
                                     f->path.c_str(), systemError(f->io.errnum)));
            opened.push_back(std::move(f));
            if (const std::string output = inUseAsOutput(job, *opened.back()); !output.empty())
                return reject(
                    format("VRL014E Error opening INCLUDE file \"%s\": file is in use as %s",
                           opened.back()->path.c_str(), output.c_str()));
            if (onInputStack(job, *opened.back(), true))
                return reject(
                    format("VRL123E Recursive INCLUDE for \"%s\"", opened.back()->path.c_str()));
            continue;
        }
        const size_t p = openParen(item);
        const std::string_view ddText = item.substr(0, p);
        std::string ddName;
        if (!parseDdName(ddText, mixed(job), ddName)) return reject(invalidName("DDNAME", ddText));
        const int dd = operandDd(job, ddName);
        if (dd < 0) return reject("");
        std::vector<std::string> members;
        if (p == std::string_view::npos) {
            if (dd != kSyslmod || job.callerMember.empty())
                return reject(
                    format("VRL125E Member name list missing for DDNAME: \"%s\"", ddName.c_str()));
            members.push_back(job.callerMember);
        } else {
            std::string_view name, inner;
            if (!nameAndInner(item, name, inner)) return reject(invalidOperand(op));
            for (std::string_view m : splitItems(inner, false)) {
                std::string member;
                if (!parseMember(m, mixed(job), member))
                    return reject(invalidName("member name", m));
                members.push_back(member);
            }
        }
        if (dd == kSyslib && !syslibPatterns(job)) return reject("");
        for (const std::string& member : members) {
            uint16_t sequence = 0;
            const std::string path = findMember(job, dd, member, &sequence);
            if (path.empty())
                return reject(
                    format("VRL126E Member %s not found in %s", member.c_str(), ddName.c_str()));
            auto f = std::make_unique<InputFile>();
            f->path = path;
            f->ddName = ddName;
            f->member = member;
            f->sequence = sequence;
            if (!openInput(*f))
                return reject(format("VRL015E Error opening %s(%s) as file \"%s\": %s",
                                     ddName.c_str(), member.c_str(), path.c_str(),
                                     systemError(f->io.errnum)));
            opened.push_back(std::move(f));
            if (const std::string output = inUseAsOutput(job, *opened.back()); !output.empty())
                return reject(
                    format("VRL015E Error opening %s(%s) as file \"%s\": file is in use as %s",
                           ddName.c_str(), member.c_str(), path.c_str(), output.c_str()));
            if (onInputStack(job, *opened.back(), false))
                return reject(
                    format("VRL123E Recursive INCLUDE for %s(%s)", ddName.c_str(), member.c_str()));
        }
    }
    // Read in the order written: the first file ends on top of the stack.
    for (auto it = opened.rbegin(); it != opened.rend(); ++it) job.stack.push_back(std::move(*it));
    return 0;
}

int doLibrary(Job& job, const std::string& op, std::string_view operand) {
    if (job.output & kOutputAutocall)
        return fail(job, "VRL131E LIBRARY statement is invalid when read from autocall member");
    std::vector<LibraryRequest> added;
    for (std::string_view item : splitItems(operand, false)) {
        std::string_view prefix, inner;
        if (!nameAndInner(item, prefix, inner) || inner.find(',') != std::string_view::npos)
            return fail(job, invalidOperand(op));
        LibraryRequest r;
        if (prefix == "*") {
            r.neverCall = true;
        } else if (!prefix.empty()) {
            if (!parseDdName(prefix, mixed(job), r.ddName))
                return fail(job, invalidName("DDNAME", prefix));
            if (operandDd(job, r.ddName) < 0) return 1;
        }
        if (!parseSymbol(inner, false, mixed(job), r.symbol))
            return fail(job, invalidName("symbol name", inner));
        added.push_back(std::move(r));
    }
    for (const LibraryRequest& r : added) registerLibrary(job, r);
    return 0;
}

int doMode(Job& job, const std::string&, std::string_view operand) {
    const auto items = splitItems(operand, false);
    int amode = -1, rmode = -1;
    if (items.size() > 2) return fail(job, "VRL118E Invalid AMODE/RMODE operand");
    for (std::string_view item : items) {
        std::string_view key, value;
        if (!nameAndInner(item, key, value))
            return fail(job, "VRL118E Invalid AMODE/RMODE operand");
        const std::string k = upperCase(key), v = upperCase(value);
        if (k == "AMODE" && amode < 0) {
            if (v == "24")
                amode = kAmode24;
            else if (v == "31")
                amode = kAmode31;
            else if (v == "ANY")
                amode = kAmodeAny;
            else if (v == "MIN")
                amode = kAmodeMin;
            else if (v == "64")
                amode = kAmode64;
            else
                return fail(job, "VRL116E Invalid AMODE value");
        } else if (k == "RMODE" && rmode < 0) {
            if (v == "24")
                rmode = kRmode24;
            else if (v == "ANY" || v == "31")
                rmode = kRmodeAny;
            else if (v == "SPLIT")
                rmode = kRmodeSplit;
            else
                return fail(job, "VRL117E Invalid RMODE value");
        } else {
            return fail(job, "VRL118E Invalid AMODE/RMODE operand");
        }
    }
    if (amode >= 0) job.options.amode = amode;
    if (rmode >= 0) job.options.rmode = rmode;
    return 0;
}

int doName(Job& job, const std::string& op, std::string_view operand) {
    const InputFile* f = job.current();
    if (f == nullptr || !(f->flags & kInputSyslin))
        return fail(job, format("VRL133E NAME statement is only valid when read from %s",
                                job.dd[kSyslin].ddName.c_str()));
    if (job.objectModules == 0)
        return fail(job, "VRL134E NAME statement must follow at least one object module");
    std::string_view name = operand;
    bool replace = false;
    const size_t p = openParen(operand);
    if (p != std::string_view::npos) {
        const std::string_view suffix = operand.substr(p);
        if (suffix != "(R)" && !(suffix == "(r)" && !mixed(job)))
            return fail(job, invalidOperand(op));
        name = operand.substr(0, p);
        replace = true;
    }
    std::string member;
    if (!parseMember(name, mixed(job), member)) return fail(job, invalidName("member name", name));
    job.options.member = member;
    job.options.set(kReplace, replace);
    job.nameSeen = true;
    return 0;
}

int doOrderOrPage(Job& job, const std::string& op, std::string_view operand) {
    const bool order = op == "ORDER";
    std::vector<OrderRequest> added;
    for (std::string_view item : splitItems(operand, false)) {
        if (item.empty()) return fail(job, invalidOperand(op));
        OrderRequest r;
        r.ordered = order;
        std::string_view name = item;
        const size_t p = openParen(item);
        if (p != std::string_view::npos) {
            if (!order) return fail(job, invalidOperand(op));
            const std::string_view suffix = item.substr(p);
            if (suffix != "(P)" && suffix != "(p)") return fail(job, invalidOperand(op));
            name = item.substr(0, p);
            r.page = true;
        } else {
            r.page = !order;
        }
        if (!parseSymbol(name, false, mixed(job), r.section))
            return fail(job, invalidName("section name", name));
        if (order) {
            auto same = [&](const OrderRequest& o) { return o.ordered && o.section == r.section; };
            if (std::any_of(job.order.begin(), job.order.end(), same) ||
                std::any_of(added.begin(), added.end(), same))
                return fail(job, "VRL132E ORDER already processed for section " +
                                     displayName(r.section));
        }
        added.push_back(std::move(r));
    }
    job.order.insert(job.order.end(), added.begin(), added.end());
    return 0;
}

int doSetcode(Job& job, const std::string&, std::string_view operand) {
    std::string_view key, value;
    if (!nameAndInner(operand, key, value) || upperCase(key) != "AC" || value.empty() ||
        value.size() > 3 || !std::all_of(value.begin(), value.end(), isDigit))
        return fail(job, "VRL114E Invalid AC(value)");
    unsigned n = 0;
    for (char c : value) n = n * 10 + static_cast<unsigned>(c - '0');
    if (n >= 256) return fail(job, "VRL114E Invalid AC(value)");
    job.options.ac = static_cast<uint8_t>(n);
    return 0;
}

int doSetopt(Job& job, const std::string&, std::string_view operand) {
    if (operand.size() < 6 || upperCase(operand.substr(0, 5)) != "PARM(" || operand.back() != ')')
        return fail(job, "VRL111E Invalid PARM(value)");
    const std::string_view options = operand.substr(5, operand.size() - 6);
    return parseOptions(job, options, job.options, OptionSource::kSetopt) > 0 ? 1 : 0;
}

int doSetssi(Job& job, const std::string&, std::string_view operand) {
    if (operand.size() != 8) return fail(job, "VRL119E Invalid SSI information");
    uint8_t ssi[4] = {};
    for (size_t i = 0; i < 8; ++i) {
        const char c = operand[i];
        const int d = isDigit(c)             ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
        if (d < 0) return fail(job, "VRL119E Invalid SSI information");
        ssi[i / 2] = static_cast<uint8_t>(ssi[i / 2] | (i % 2 == 0 ? d << 4 : d));
    }
    std::memcpy(job.options.ssi, ssi, 4);
    job.options.set(kSsiGiven, true);
    return 0;
}

struct Operation {
    const char* name;
    Handler handler;
};
const Operation kOperations[] = {
    {"ALIAS", doAlias},
    {"AUTOCALL", doAutocall},
    {"CHANGE", doChangeOrReplace},
    {"REPLACE", doChangeOrReplace},
    {"RENAME", doRename},
    {"ENTRY", doEntry},
    {"EXPAND", doExpand},
    {"IDENTIFY", doIdentify},
    {"INCLUDE", doInclude},
    {"LIBRARY", doLibrary},
    {"MODE", doMode},
    {"NAME", doName},
    {"ORDER", doOrderOrPage},
    {"PAGE", doOrderOrPage},
    {"SETCODE", doSetcode},
    {"SETOPT", doSetopt},
    {"SETSSI", doSetssi},
};

// Appends operand text from `from` of a record's text up to the first blank outside
// apostrophes or column 72. Returns true when it stopped at a blank.
bool collect(const std::string& t, size_t from, bool& quoted, std::string& operand) {
    for (size_t i = from; i < kContinuationIndex; ++i) {
        const char c = t[i];
        if (c == '\'') quoted = !quoted;
        if (!quoted && c == ' ') return true;
        operand += c;
    }
    return false;
}

// What follows a successful statement: automatic call asked for by AUTOCALL, and the end of
// the module at NAME.
void afterStatement(Job& job) {
    if (!job.autocallDd.empty()) {
        const std::string dd = std::move(job.autocallDd);
        job.autocallDd.clear();
        if (!(job.output & kOutputAutocall)) {
            reportUnprocessedRequests(job);
            autocall(job, dd);
        }
    }
    if (job.nameSeen) {
        job.nameSeen = false;
        reportUnprocessedRequests(job);
        finishModule(job);
        job.changes.clear();
        job.renames.clear();
        job.options = job.invocation;
        printLine(job, "");
    }
}

} // namespace

std::string upperCase(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string toEbcdic(std::string_view text) {
    const uint8_t* a2e = rt::asciiToEbcdic();
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(a2e[static_cast<uint8_t>(text[i])]);
    return out;
}

std::string fromEbcdic(std::string_view ebcdic) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string out(ebcdic.size(), '\0');
    for (size_t i = 0; i < ebcdic.size(); ++i)
        out[i] = static_cast<char>(e2a[static_cast<uint8_t>(ebcdic[i])]);
    return out;
}

bool parseSymbol(std::string_view item, bool blanks, bool keepCase, std::string& ebcdic) {
    if (item.empty()) return false;
    std::string name;
    bool quoted = false;
    if (item.size() >= 3 && item.front() == '\'' && item.back() == '\'') {
        const std::string_view inner = item.substr(1, item.size() - 2);
        for (size_t i = 0; i < inner.size(); ++i) {
            if (inner[i] == '\'') {
                if (i + 1 >= inner.size() || inner[i + 1] != '\'') return false;
                ++i;
            }
            name += inner[i];
        }
        quoted = true;
    } else {
        for (char c : item)
            if (c == '\'' || c == '(' || c == ')' || c == ',') return false;
        name = keepCase ? std::string(item) : upperCase(item);
    }
    if (name.empty() || name.size() > obj::kMaxNameLength) return false;
    ebcdic = toEbcdic(name);
    for (char c : ebcdic) {
        const auto b = static_cast<uint8_t>(c);
        if (b == 0xFF) return false;
        if (b < 0x41 && !(b == obj::kEbcdicBlank && quoted && blanks)) return false;
    }
    return true;
}

bool parseMember(std::string_view item, bool keepCase, std::string& member) {
    std::string name = keepCase ? std::string(item) : upperCase(item);
    if (!rt::isMemberName(name.c_str(), name.size(), keepCase ? rt::kUpperCase : rt::kAnyCase))
        return false;
    member = std::move(name);
    return true;
}

void reportUnprocessedRequests(Job& job) {
    if (!job.stopped()) {
        for (const Request& r : job.changes) {
            if (r.processed) continue;
            issue(job, kWarning,
                  format("VRL109W %s request for %s was not processed.",
                         r.kind == 'C' ? "CHANGE" : "REPLACE", fromEbcdic(r.oldName).c_str()));
        }
    }
    job.changes.clear();
}

int processStatement(Job& job) {
    std::string t = textOf(job.records[0]);
    if (job.records[0].bytes[0] == 0x5C) return 0; // a comment
    if (t.substr(0, kContinuationIndex + 1).find_first_not_of(' ') == std::string::npos)
        return 0; // blank in columns 1 to 72

    // The operation: letters in column 2 to 66, at most 8, then a blank by column 71.
    const size_t start = t.find_first_not_of(' ');
    size_t end = start;
    while (end < t.size() && isLetter(t[end])) ++end;
    if (t[0] != ' ' || start > kLastOperationColumn || end == start ||
        end - start > kMaxOperation || end > kOperationEndLimit || t[end] != ' ') {
        statementError(job, "VRL101E Invalid control statement");
        return 0;
    }
    const std::string operation = upperCase(t.substr(start, end - start));

    // The operand, with its continuations.
    const size_t operandStart = t.find_first_not_of(' ', end);
    if (operandStart == std::string::npos || operandStart >= kContinuationIndex) {
        statementError(job, "VRL102E Missing operand field");
        return 0;
    }
    std::string operand;
    bool quoted = false;
    bool stoppedAtBlank = collect(t, operandStart, quoted, operand);
    for (;;) {
        const bool endsWithComma = !operand.empty() && operand.back() == ',';
        if (!quoted && t[kContinuationIndex] == ' ' && !endsWithComma) break;
        Record r;
        if (!quoted && stoppedAtBlank && !endsWithComma) {
            // The rest of the record is a comment, continued until a record with a blank
            // column 72.
            for (;;) {
                const int st = readRecord(job, r);
                if (st != 0) {
                    if (st > 0)
                        statementError(job, "VRL103E End-of-file encountered in continuation");
                    return -1;
                }
                job.records.push_back(r);
                if (textOf(r)[kContinuationIndex] == ' ') break;
            }
            break;
        }
        const int st = readRecord(job, r);
        if (st != 0) {
            if (st > 0) statementError(job, "VRL103E End-of-file encountered in continuation");
            return -1;
        }
        if (r.bytes[0] == obj::kCardId || r.bytes[0] == 0x03) {
            statementError(job, "VRL104E Object module record encountered in continuation");
            job.records.assign(1, r);
            job.firstRecord = job.current()->records;
            return 1;
        }
        job.records.push_back(r);
        if (r.bytes[0] != obj::kEbcdicBlank) {
            statementError(job, "VRL105E Invalid continuation record");
            return 0;
        }
        t = textOf(r);
        size_t from = 2; // inside quotes the text resumes at column 3
        if (!quoted) {
            from = t.find_first_not_of(' ');
            if (from == std::string::npos || from >= kContinuationIndex) break; // all blank
        }
        stoppedAtBlank = collect(t, from, quoted, operand);
    }
    job.operand = operand;

    const Operation* found = nullptr;
    for (const Operation& o : kOperations)
        if (operation == o.name) found = &o;
    if (found == nullptr) {
        statementError(
            job, format("VRL106E Operation %s is invalid or not supported", operation.c_str()));
        return 0;
    }
    if (found->handler(job, operation, job.operand) != 0) return 0;
    echoStatement(job);
    afterStatement(job);
    return 0;
}

} // namespace vrl
