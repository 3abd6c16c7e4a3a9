// Options: the PARM string, OPTIONS files and SETOPT PARM parsed into option blocks, with the
// defaults of a job step and the values derived from the others.
//
//   PARM  LIST=ALL,XREF,LET=8,AMODE(31),RMODE=ANY,SIZE=(512K,32K),OPTIONS=/proj/link.opt
//
// An option is a keyword of letters and digits, alone or followed by "=" value or "(" value
// ")". Errors at invocation are queued until the listing is open; those of SETOPT PARM are
// statement errors.
#include <cctype>
#include <cerrno>
#include <cstring>

#include "linkedit.h"
#include "runtime.h"

namespace vrl {

namespace {

constexpr size_t kMaxKeyword = 11; // a keyword of 12 characters or more never matches
constexpr size_t kMaxOptionsPath = 260;
// The first word of an OPTIONS line is kept up to this length; longer words are invalid anyway.
constexpr size_t kMaxWord = 65536;

struct Parse {
    Job& job;
    OptionBlock& block;
    OptionSource source;
    const std::string& suffix;
    int errors = 0;
};

void report(Parse& p, const std::string& text) {
    ++p.errors;
    if (p.source == OptionSource::kSetopt)
        statementError(p.job, text);
    else
        queueMessage(p.job, text + p.suffix);
}

// "Unexpected" and "Missing ')'" quote a rest of the string, cut at 32 characters.
std::string quoteRest(std::string_view rest) {
    if (rest.size() > 32) return format("\"%.32s\"...", std::string(rest).c_str());
    std::string quoted;
    quoted.reserve(rest.size() + 2);
    quoted += '"';
    quoted.append(rest);
    quoted += '"';
    return quoted;
}

void invalid(Parse& p, std::string_view option) {
    if (option.size() >= 41)
        report(p, format("VRL110E Parameter error: \"%.40s\" is invalid or not supported",
                         std::string(option).c_str()));
    else
        report(p, format("VRL110E Parameter error: \"%.*s\" is invalid or not supported",
                         static_cast<int>(option.size()), option.data()));
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A number of 1 to `maxDigits` decimal digits.
bool number(std::string_view s, size_t maxDigits, uint32_t& out) {
    if (!allDigits(s) || s.size() > maxDigits) return false;
    uint32_t v = 0;
    for (char c : s) v = v * 10 + static_cast<uint32_t>(c - '0');
    out = v;
    return true;
}

// SIZE value 1: up to 8 digits with an optional "K" (then at most 16000), 16384 to 16384000
// bytes.
bool sizeValue1(std::string_view s, uint32_t& out) {
    const bool k = !s.empty() && (s.back() == 'K' || s.back() == 'k');
    if (k) s.remove_suffix(1);
    uint32_t v = 0;
    if (!number(s, 8, v)) return false;
    if (k) {
        if (v > 16000) return false;
        v *= 1024;
    }
    if (v < 16384 || v > 16384000) return false;
    out = v;
    return true;
}

// SIZE value 2: up to 5 characters, digits with an optional final "K" (then at most 63), 512
// to 65520 bytes.
bool sizeValue2(std::string_view s, uint32_t& out) {
    if (s.size() > 5) return false;
    const bool k = !s.empty() && (s.back() == 'K' || s.back() == 'k');
    if (k) s.remove_suffix(1);
    uint32_t v = 0;
    if (!number(s, 5, v)) return false;
    if (k) {
        if (v > 63) return false;
        v *= 1024;
    }
    if (v < 512 || v > 65520) return false;
    out = v;
    return true;
}

// Splits "v1[,v2]" (v1 may be empty).
void twoValues(std::string_view value, std::string_view& v1, std::string_view& v2, bool& has2) {
    const size_t comma = value.find(',');
    has2 = comma != std::string_view::npos;
    v1 = value.substr(0, comma);
    v2 = has2 ? value.substr(comma + 1) : std::string_view();
}

// The effect of a keyword alone (or of its YES / NO value). False when it is not one.
bool keywordAlone(OptionBlock& b, const std::string& k, bool yes, bool viaValue) {
    auto is = [&](const char* name) { return k == name; };
    // Options whose YES and NO forms follow from the keyword alone and its negative form.
    struct Flag {
        const char* keyword;
        const char* negative;
        uint32_t flag;
        bool inverted; // the keyword alone clears the flag (CALL, EDIT, PRINT)
    };
    static const Flag kFlags[] = {
        {"CALL", "NOCALL", kNcal, true},
        {"DC", "NODC", kDc, false},
        {"DCBS", "NODCBS", kDcbs, false},
        {"EDIT", "NOEDIT", kNotEditable, true},
        {"MAP", "NOMAP", kMap, false},
        {"OL", "NOOL", kOl, false},
        {"TERM", "NOTERM", kTerm, false},
        {"TEST", "NOTEST", kTest, false},
        {"XREF", "NOXREF", kXref, false},
        {"PRINT", "NOPRINT", kNoPrint, true},
        {"TRACE", "NOTRACE", kTrace, false},
        {"ALIGN2", "NOALIGN2", kAlign2, false},
        {"HOBSET", "NOHOBSET", kHobset, false},
        {"UPCASE", "NOUPCASE", kUpcase, false},
        {"LISTPRIV", "NOLISTPRIV", kListPriv, false},
    };
    for (const Flag& f : kFlags) {
        if (is(f.keyword)) {
            b.set(f.flag, yes != f.inverted);
            return true;
        }
        if (!viaValue && is(f.negative)) {
            b.set(f.flag, f.inverted);
            return true;
        }
    }
    if (!viaValue) {
        if (is("NCAL")) return b.set(kNcal, true), true;
        if (is("NE")) return b.set(kNotEditable, true), true;
        if (is("LET")) return b.let = 8, true;
        if (is("NOLET")) return b.let = 0, true;
        if (is("LIST")) return b.list = kListSummary, true;
        if (is("NOLIST")) return b.list = kListOff, true;
        if (is("REUS")) return b.reus = kReusSerial, true;
        if (is("NOREUS") || is("NORENT") || is("NOREFR")) return b.reus = kReusNone, true;
        if (is("RENT")) return b.reus = kReusRent, true;
        if (is("REFR")) return b.reus = kReusRefr, true;
        if (is("NOSCTR")) return b.sctr = kSctrNo, true;
        if (is("NODEBUG")) return b.debug = kDebugNo, true;
        if (is("NOSTORENX")) return b.storenx = kStorenxNoReplace, true;
    }
    if (is("SCTR")) return b.sctr = yes ? kSctrYes : kSctrNo, true;
    if (is("DEBUG")) return b.debug = yes ? kDebugYes : kDebugNo, true;
    if (is("STORENX")) return b.storenx = yes ? kStorenxYes : kStorenxNoReplace, true;
    return false;
}

bool isYesNoKeyword(const std::string& k) {
    static const char* const kNames[] = {
        "DC",   "OL",    "MAP",   "CALL",  "DCBS",   "EDIT",   "SCTR",   "TERM",    "TEST",
        "XREF", "DEBUG", "PRINT", "TRACE", "ALIGN2", "HOBSET", "UPCASE", "STORENX", "LISTPRIV"};
    for (const char* n : kNames)
        if (k == n) return true;
    return false;
}

void readOptionsFile(Job& job, const std::string& path);

// One option with a value. False when the keyword or value is not accepted.
bool optionWithValue(Parse& p, const std::string& k, std::string_view value) {
    OptionBlock& b = p.block;
    const std::string v = upperCase(value);
    if ((value == "YES" || value == "NO") && isYesNoKeyword(k))
        return keywordAlone(b, k, value == "YES", true);
    uint32_t n = 0;
    if (k == "AC") {
        if (!number(value, 3, n) || n >= 256) return false;
        b.ac = static_cast<uint8_t>(n);
        return true;
    }
    if (k == "EP") {
        std::string name;
        if (!parseSymbol(value, false, b.on(kCaseMixed), name)) return false;
        if (name != b.entry) b.entry = name;
        return true;
    }
    if (k == "LET" || k == "MSGLEVEL") {
        if (!number(value, 2, n) || (n != 0 && n != 4 && n != 8 && n != 12)) return false;
        (k == "LET" ? b.let : b.msglevel) = static_cast<uint8_t>(n);
        return true;
    }
    if (k == "SSI") {
        if (value.size() != 8) return false;
        uint8_t bytes[4];
        for (size_t i = 0; i < 8; ++i) {
            const char c = v[i];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            if (i % 2 == 0)
                bytes[i / 2] = static_cast<uint8_t>(d << 4);
            else
                bytes[i / 2] = static_cast<uint8_t>(bytes[i / 2] | d);
        }
        std::memcpy(b.ssi, bytes, 4);
        b.set(kSsiGiven, true);
        return true;
    }
    if (k == "AMODE" || k == "AMOD") {
        if (v == "24") return b.amode = kAmode24, true;
        if (v == "31") return b.amode = kAmode31, true;
        if (v == "ANY") return b.amode = kAmodeAny, true;
        if (v == "MIN") return b.amode = kAmodeMin, true;
        if (v == "64") return b.amode = kAmode64, true;
        return false;
    }
    if (k == "RMODE" || k == "RMOD") {
        if (v == "24") return b.rmode = kRmode24, true;
        if (v == "ANY" || v == "31") return b.rmode = kRmodeAny, true;
        if (v == "SPLIT") return b.rmode = kRmodeSplit, true;
        return false;
    }
    if (k == "CASE") {
        if (v == "UPPER") return b.set(kCaseMixed, false), true;
        if (v == "MIXED") return b.set(kCaseMixed, true), true;
        return false;
    }
    if (k == "LIST") {
        if (v == "ALL") return b.list = kListAll, true;
        if (v == "OFF") return b.list = kListOff, true;
        if (v == "STMT") return b.list = kListStmt, true;
        if (v == "SUMMARY") return b.list = kListSummary, true;
        if (v == "NOIMP" || v == "NOIMPORT") return b.list = kListNoImp, true;
        return false;
    }
    if (k == "REUS") {
        if (v == "NONE") return b.reus = kReusNone, true;
        if (v == "SERIAL") return b.reus = kReusSerial, true;
        if (v == "RENT") return b.reus = kReusRent, true;
        if (v == "REFR") return b.reus = kReusRefr, true;
        return false;
    }
    if (k == "SCTR") return value == "RSECT" ? (b.sctr = kSctrRsect, true) : false;
    if (k == "DEBUG") return v == "OFF" ? (b.debug = kDebugOff, true) : false;
    if (k == "STORENX") {
        if (value == "NOREPLACE") return b.storenx = kStorenxNoReplace, true;
        if (value == "NEVER") return b.storenx = kStorenxNever, true;
        return false;
    }
    if (k == "COMPAT") {
        if (v.size() < 3 || v.size() > 8) return false;
        static const struct {
            const char* name;
            int level;
        } kLevels[] = {{"LMF", kCompatLmf},  {"LKED", kCompatLked},         {"PM1", kCompatPm1},
                       {"PM2", kCompatPm2},  {"TEXTONLY", kCompatTextOnly}, {"MIN", kCompatMin},
                       {"CURR", kCompatPm2}, {"CURRENT", kCompatPm2}};
        for (const auto& l : kLevels)
            if (v == l.name) return b.compat = l.level, true;
        return false;
    }
    if (k == "LINECT") {
        if (!number(value, 3, n) || (n != 0 && (n < 24 || n > 200))) return false;
        p.job.linect = n;
        return true;
    }
    if (k == "MAXBLK") {
        if (!number(value, 5, n) || n < 256 || n > 32760) return false;
        b.maxblk = n;
        p.job.maxblkGiven = true;
        return true;
    }
    if (k == "SIZE") {
        std::string_view v1, v2;
        bool has2 = false;
        twoValues(v, v1, v2, has2);
        uint32_t s1 = p.job.size1, s2 = p.job.size2;
        if (!v1.empty() && !sizeValue1(v1, s1)) return false;
        if (v1.empty() && !has2) return false;
        if (has2 && !sizeValue2(v2, s2)) return false;
        p.job.size1 = s1;
        if (has2) {
            p.job.size2 = s2;
            p.job.size2Given = true;
        }
        return true;
    }
    if (k == "WKSPACE") {
        std::string_view v1, v2;
        bool has2 = false;
        twoValues(v, v1, v2, has2);
        uint32_t w1 = 0, w2 = 0;
        if (!v1.empty() && (!number(v1, 5, w1) || w1 < 96 || w1 > 16000)) return false;
        if (v1.empty() && !has2) return false;
        if (has2 && (!number(v2, 7, w2) || w2 < 1024 || w2 > 2000000)) return false;
        if (!v1.empty()) {
            p.job.wkspace1 = w1;
            p.job.wkspace1Given = true;
        }
        if (has2) p.job.wkspace2 = w2;
        return true;
    }
    if (k == "FETCHOPT") {
        if (v.size() < 10) return false;
        const size_t comma = v.find(',');
        if (comma == std::string::npos) return false;
        const std::string w1 = v.substr(0, comma), w2 = v.substr(comma + 1);
        int pack = -1, prime = -1; // -1 not given, 0 NO form, 1 the word itself
        for (const std::string& w : {w1, w2}) {
            if (w.size() < 4 || w.size() > 7) return false;
            int* slot = nullptr;
            int setting = 0;
            if (w == "PACK" || w == "NOPACK") {
                slot = &pack;
                setting = w == "PACK";
            } else if (w == "PRIME" || w == "NOPRIME") {
                slot = &prime;
                setting = w == "PRIME";
            } else {
                return false;
            }
            if (*slot != -1) return false; // two words of the same pair
            *slot = setting;
        }
        if (pack == 1 && prime == 0) return false; // PACK,NOPRIME
        b.set(kFetchPack, pack == 1);
        b.set(kFetchPrime, prime == 1);
        return true;
    }
    if (k == "OPTIONS") {
        if (value.empty() || value.size() > kMaxOptionsPath) return false;
        readOptionsFile(p.job, std::string(value));
        return true;
    }
    return false;
}

bool refusedHere(Parse& p, const std::string& k) {
    if (p.source == OptionSource::kSetopt) {
        for (const char* n : {"SIZE", "LINECT", "OPTIONS", "WKSPACE"})
            if (k == n) {
                report(p, format("VRL110E Parameter error: %s is invalid in SETOPT PARM", n));
                return true;
            }
    } else if (p.source == OptionSource::kOptionsFile) {
        for (const char* n : {"CASE", "SIZE", "TERM", "PRINT", "COMPAT", "LINECT", "NOTERM",
                              "NOPRINT", "OPTIONS", "MSGLEVEL"})
            if (k == n) {
                report(p, format("VRL110E Parameter error: %s is invalid in an OPTIONS file", n));
                return true;
            }
    }
    return false;
}

// The words of an OPTIONS file, one line at a time: leading blanks skipped, the first word
// parsed, the rest of the line ignored.
void readOptionsFile(Job& job, const std::string& path) {
    IoFileCore io{};
    io.path = path.c_str();
    io.mode = IO_READ;
    io.traceLevel = rt::traceLevel();
    if (rt::ioOpen(io) != IO_OK) {
        queueMessage(job, format("VRL014E Error opening OPTIONS file \"%s\": %s", path.c_str(),
                                 systemError(io.errnum)));
        return;
    }
    generatedDdName(job);
    unsigned long line = 1;
    std::string word;
    int state = 0; // 0 leading blanks, 1 in the word, 2 the rest of the line
    auto lineDone = [&] {
        if (!word.empty())
            parseOptions(job, word, job.invocation, OptionSource::kOptionsFile,
                         format(" - line %lu of file \"%s\"", line, path.c_str()));
        word.clear();
        state = 0;
        ++line;
    };
    char buffer[4096];
    for (;;) {
        const size_t n = rt::ioRead(io, buffer, 1, sizeof buffer);
        for (size_t i = 0; i < n; ++i) {
            const auto c = static_cast<unsigned char>(buffer[i]);
            if (c == '\n') {
                lineDone();
            } else if (state == 0) {
                if (c > ' ') {
                    state = 1;
                    word += static_cast<char>(c);
                }
            } else if (state == 1) {
                if (c <= ' ')
                    state = 2;
                else if (word.size() < kMaxWord)
                    word += static_cast<char>(c);
            }
        }
        if (io.status == IO_ERROR) {
            queueMessage(job, format("VRL016T Error reading OPTIONS file \"%s\": %s", path.c_str(),
                                     systemError(io.errnum)));
            rt::ioClose(io, false);
            return;
        }
        if (n < sizeof buffer) break;
    }
    if (!word.empty()) lineDone();
    rt::ioClose(io, false);
}

} // namespace

void queueMessage(Job& job, std::string_view text) {
    rt::queueMessage(&job.queue, 0, text);
}

void setDefaults(Job& job, int mode) {
    job.invocation = OptionBlock{};
    job.invocation.list = kListSummary;
    job.invocation.let = 4;
    if (mode != LINKEDIT_MODE_NOTERM) job.invocation.flags |= kTerm;
    job.linect = 60;
}

int parseOptions(Job& job, std::string_view s, OptionBlock& block, OptionSource source,
                 const std::string& suffix) {
    Parse p{job, block, source, suffix, 0};
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        if (s[i] == ',') {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < n && std::isalnum(static_cast<unsigned char>(s[i])) &&
               static_cast<unsigned char>(s[i]) < 0x80)
            ++i;
        if (i == start) {
            report(p, format("VRL110E Parameter error: Unexpected '%c' character in %s", s[i],
                             quoteRest(s.substr(i)).c_str()));
            return p.errors;
        }
        const std::string keyword = upperCase(s.substr(start, i - start));
        std::string_view value;
        bool hasValue = false;
        if (i < n && s[i] != ',') {
            if (s[i] == '=' && i + 1 < n && s[i + 1] == '(') {
                const size_t close = s.find(')', i + 2);
                if (close == std::string_view::npos) {
                    report(p, format("VRL110E Parameter error: Missing ')' character in %s",
                                     quoteRest(s.substr(start)).c_str()));
                    return p.errors;
                }
                value = s.substr(i + 2, close - i - 2);
                i = close + 1;
            } else if (s[i] == '=') {
                const size_t comma = s.find(',', i + 1);
                const size_t stop = comma == std::string_view::npos ? n : comma;
                value = s.substr(i + 1, stop - i - 1);
                i = stop;
            } else if (s[i] == '(') {
                const size_t close = s.find(')', i + 1);
                if (close == std::string_view::npos) {
                    report(p, format("VRL110E Parameter error: Missing ')' character in %s",
                                     quoteRest(s.substr(start)).c_str()));
                    return p.errors;
                }
                value = s.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                report(p, format("VRL110E Parameter error: Unexpected '%c' character in %s", s[i],
                                 quoteRest(s.substr(i)).c_str()));
                return p.errors;
            }
            hasValue = true;
        }
        const std::string_view option = s.substr(start, i - start);
        if (keyword.size() > kMaxKeyword) {
            invalid(p, option);
            continue;
        }
        if (refusedHere(p, keyword)) continue;
        const bool ok = hasValue ? optionWithValue(p, keyword, value)
                                 : keywordAlone(block, keyword, true, false);
        if (!ok) invalid(p, option);
    }
    return p.errors;
}

void deriveOptions(Job& job) {
    OptionBlock& b = job.invocation;
    if (job.dd[kSysprint].given && job.dd[kSysprint].path.empty()) b.set(kNoPrint, true);
    if (job.dd[kSysterm].given && job.dd[kSysterm].path.empty()) b.set(kTerm, false);
    if (!job.wkspace1Given)
        job.wkspace1 = ((job.size1 + 65535u) >> 16) << 10;
    else
        job.size1 = job.wkspace1 << 10;
    if (!job.maxblkGiven) b.maxblk = job.size2Given ? job.size2 / 2 : 32760;
}

} // namespace vrl
