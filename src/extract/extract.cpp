// Extraction requests: the caller's ExtractBlock is checked, then driven one step per call.
// Each call announces the next target (new or existing), writes it, or reports why a member
// was not written, so that the caller can ask the user, show progress, skip or stop.
//
//   start ──► announce (2 new / 3 exists / 4 refused) ──► write (1) ──► ... ──► done (0)
#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "delink.h"
#include "dump.h"
#include "extract.h"
#include "ispf_packed.h"
#include "loadmodule.h"
#include "opxcore.h"
#include "output.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "reader.h"
#include "relink.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

using namespace unload;

struct ExtractState {
    XmitHandle* file = nullptr;
    XmitDataSet* ds = nullptr;
    bool sequential = false;
    // Requested members: their 8-byte EBCDIC names, the names as given, and whether written.
    std::vector<std::array<uint8_t, 8>> selected;
    std::vector<std::string> selectedNames;
    std::vector<bool> selectedWritten;
    std::string target;                  // the current target path
    std::string prefix, suffix;          // of the target pattern (partitioned)
    bool keepCase = true;                // "&M" keeps the member name in upper case
    std::unique_ptr<uint8_t[]> assembly; // for spanned records
    uint32_t assemblySize = 0;
    const uint8_t* entry = nullptr; // the current member's directory entry
    uint64_t total = 0;
    MemberCursor cursor{};
    opx::OutputSettings settings;
    // The directory's entries by TTR, in directory order within one TTR: members and aliases.
    std::vector<std::pair<uint32_t, unsigned>> members, aliases;
    opx::ExtractExtras extras;
    opx::OutputSettings binarySettings; // record data as it is (auto and binary modes)
    opx::ExtractOutcome outcome;        // of the announced member or data set
    // Records read ahead to decide the content (auto mode), replayed before any other: their
    // data one after the other, and their lengths.
    std::vector<uint8_t> sample;
    std::vector<uint32_t> sampleLengths;
    size_t sampleNext = 0, sampleAt = 0;
    bool sampled = false;   // the current member or data set was sampled
    bool dataEnded = false; // its end was read while sampling
    // Relink: the SYSLMOD pattern (the target after "&D"), the listing and the work files.
    std::string syslmod;
    opx::RelinkState relink;
};

namespace opx {
namespace {

// The longest spanned record that is assembled (the longest LRECL of an output).
constexpr int64_t kMaxAssembly = 16777211;

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

int finish(ExtractBlock* r, int severity, const char* message, const char* fileName) {
    r->severity = severity;
    r->message = message;
    r->fileName = fileName;
    r->progress |= EXTRACT_PROGRESS_FINISHED;
    return EXTRACT_RESULT_DONE;
}

// "&D" at the start of a target stands for the transmit file's folder.
std::string expandDirectory(const char* target, const XmitHandle* file) {
    std::string t(target);
    if (t.size() >= 2 && t[0] == '&' && (t[1] == 'D' || t[1] == 'd')) {
        size_t rest = 2;
        if (rest < t.size() && platform::isSeparator(t[rest])) ++rest;
        std::string dir(file->io.path, file->directoryLength);
        return dir + t.substr(rest);
    }
    return t;
}

// The offset of the last path component.
size_t lastComponent(const std::string& path) {
    const char* sep = platform::lastSeparator(path.c_str());
    return sep == nullptr ? 0 : static_cast<size_t>(sep - path.c_str()) + 1;
}

// The member name of a directory entry, translated, up to the first byte below X'41'.
std::string memberName(const uint8_t* entry) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string name;
    for (int i = 0; i < 8 && entry[i] >= 0x41; ++i)
        name.push_back(static_cast<char>(e2a[entry[i]]));
    return name;
}

bool sameAsTransmitFile(const std::string& target, const XmitHandle* file) {
    return platform::sameFile(target.c_str(), file->io.path);
}

// ---- start ----------------------------------------------------------------------------------

// The request's attributes after the rules of its type; returns a message for a refusal.
const char* settleAttributes(ExtractBlock* r, const XmitDataSet* ds) {
    const char letter = ds->recfmLetters[0];
    const bool isV = letter == 'V', isU = letter == 'U', isF = letter == 'F';
    const bool spannedSet = std::strchr(ds->recfmLetters, 'S') != nullptr;
    const bool blockedSet = std::strchr(ds->recfmLetters, 'B') != nullptr;
    switch (r->type) {
    case EXTRACT_TYPE_TEXT:
        r->padCharacter = 0x40;
        r->blockSize = 0;
        if (!ds->loadLibrary) {
            r->options = static_cast<uint8_t>((r->options & (EXTRACT_STRIP | EXTRACT_TRUNCATE)) |
                                              EXTRACT_TRANSLATE);
            if (r->lrecl == 0) {
                if (isU)
                    r->lrecl = static_cast<uint32_t>(ds->blksize);
                else if (isV)
                    r->lrecl = ds->lrecl >= 4 ? static_cast<uint32_t>(ds->lrecl - 4) : 0;
                else
                    r->lrecl = static_cast<uint32_t>(ds->lrecl);
            }
            if (r->tabWidth != 0 && r->tabWidth != 4 && r->tabWidth != 8)
                return "Output tab parameter is invalid";
            if (r->tabWidth != 0) r->options |= EXTRACT_STRIP;
        } else {
            r->options = 0;
            r->lrecl = 120;
            r->tabWidth = 0;
        }
        if (r->lineEnd < 0 || r->lineEnd > 3) return "Output text line end parameter is invalid";
        break;
    case EXTRACT_TYPE_DUMP:
        if (r->lrecl == 0) r->lrecl = 120;
        if (r->lrecl < 67) return "Output LRECL parameter is invalid";
        r->blockSize = 0;
        r->options = 0;
        r->padCharacter = 0x40;
        if (r->lineEnd < 0 || r->lineEnd > 3) return "Output text line end parameter is invalid";
        break;
    case EXTRACT_TYPE_PREFIX:
    case EXTRACT_TYPE_IBM:
        if (ds->loadLibrary) return "Invalid extract request type for a load library";
        r->blockSize = static_cast<uint32_t>(ds->blksize);
        r->lrecl = static_cast<uint32_t>(ds->lrecl);
        r->options &= EXTRACT_TRANSLATE;
        if (isF) {
            r->format = EXTRACT_FORMAT_FIXED;
        } else if (isU) {
            r->format =
                r->type == EXTRACT_TYPE_PREFIX ? EXTRACT_FORMAT_LENGTH2 : EXTRACT_FORMAT_BYTES;
            r->lrecl = static_cast<uint32_t>(ds->blksize);
        } else if (isV) {
            r->format = EXTRACT_FORMAT_VARIABLE;
            if (spannedSet) r->options |= EXTRACT_SPANNED;
            if (blockedSet)
                r->options |= EXTRACT_BLOCKED;
            else if (r->type == EXTRACT_TYPE_PREFIX)
                r->format = EXTRACT_FORMAT_RDW;
        } else {
            return "Data set RECFM is unknown";
        }
        break;
    case EXTRACT_TYPE_CONVERT: {
        if (r->format < 0 || r->format > 5) return "Output format parameter is invalid";
        if (r->format <= EXTRACT_FORMAT_LENGTH2I) {
            r->blockSize = 0;
            r->options &= EXTRACT_STRIP | EXTRACT_TRANSLATE | EXTRACT_TRUNCATE;
        } else if (r->format == EXTRACT_FORMAT_RDW) {
            r->options &= EXTRACT_SPANNED;
            if (!(r->options & EXTRACT_SPANNED))
                r->blockSize = 0;
            else if (r->blockSize == 0)
                r->blockSize = static_cast<uint32_t>(ds->blksize);
        } else if (r->blockSize == 0) {
            r->blockSize = static_cast<uint32_t>(ds->blksize);
        }
        if (r->lrecl == 0) {
            r->lrecl = static_cast<uint32_t>(isU && ds->lrecl == 0 ? ds->blksize : ds->lrecl);
            if (r->format <= EXTRACT_FORMAT_LENGTH2I && isV)
                r->lrecl = r->lrecl >= 4 ? r->lrecl - 4 : 0;
            if (r->format >= EXTRACT_FORMAT_RDW && !isV) r->lrecl += 4;
        }
        const bool spanned = (r->options & EXTRACT_SPANNED) != 0;
        if (r->blockSize != 0 &&
            (r->blockSize < 9 || r->blockSize > 32767 || (!spanned && r->blockSize < r->lrecl + 4)))
            return "Output block size is invalid";
        break;
    }
    case EXTRACT_TYPE_DELINK:
    case EXTRACT_TYPE_RELINK:
        if (!ds->loadLibrary)
            return r->type == EXTRACT_TYPE_DELINK
                       ? "DELINK extract request is only valid for load libraries"
                       : "RELINK extract request is only valid for load libraries";
        r->options = 0;
        r->blockSize = 80;
        r->lrecl = 80;
        r->format = EXTRACT_FORMAT_FIXED;
        break;
    default:
        return "Invalid extract request type";
    }
    if (r->lrecl > 16777211) return "Output LRECL parameter is invalid";
    if (r->type != EXTRACT_TYPE_TEXT) {
        const bool spanned = (r->options & EXTRACT_SPANNED) != 0;
        if ((r->format == EXTRACT_FORMAT_LENGTH2 && r->lrecl > 32767) ||
            (r->format == EXTRACT_FORMAT_LENGTH2I && r->lrecl > 32765) ||
            (r->format >= EXTRACT_FORMAT_RDW && !spanned && r->lrecl > 32763))
            return "Output LRECL parameter is invalid";
    }
    return nullptr;
}

OutputSettings settingsOf(const ExtractBlock* r) {
    OutputSettings s;
    s.type = r->type;
    s.format = r->format;
    s.lrecl = r->lrecl;
    s.blockSize = r->blockSize;
    s.options = r->options;
    s.pad = r->padCharacter;
    s.tabWidth = r->tabWidth;
    s.lineEnd = r->lineEnd;
    s.traceLevel = rt::traceLevel();
    return s;
}

// ---- members --------------------------------------------------------------------------------

// Indexes the directory by TTR once, so that finding a block's member is a search, not a walk
// over the whole directory.
void indexDirectory(ExtractState* st) {
    for (unsigned i = 0; i < st->ds->entryCount; ++i) {
        const uint8_t* e = directoryEntry(st->ds, i);
        ((e[kEntryIndicator] & kAlias) ? st->aliases : st->members).push_back({entryTtr(e), i});
    }
    std::stable_sort(st->members.begin(), st->members.end());
    std::stable_sort(st->aliases.begin(), st->aliases.end());
}

bool isSelected(const ExtractState* st, const uint8_t* e) {
    if (st->selected.empty()) return true;
    for (const auto& name : st->selected)
        if (std::memcmp(name.data(), e, 8) == 0) return true;
    return false;
}

// The entry a block of this TTR is extracted under: the member's own entry when it is wanted,
// else the first wanted alias of it, else none.
const uint8_t* entryForTtr(const ExtractState* st, uint32_t ttr, bool alias) {
    const auto& index = alias ? st->aliases : st->members;
    auto it = std::lower_bound(index.begin(), index.end(), std::pair<uint32_t, unsigned>{ttr, 0});
    for (; it != index.end() && it->first == ttr; ++it) {
        const uint8_t* e = directoryEntry(st->ds, it->second);
        if (isSelected(st, e)) return e;
        if (!alias) return nullptr; // the member's own entry is the first of its TTR
    }
    return nullptr;
}

void markWritten(ExtractState* st, const uint8_t* entry) {
    for (size_t i = 0; i < st->selected.size(); ++i)
        if (std::memcmp(st->selected[i].data(), entry, 8) == 0) st->selectedWritten[i] = true;
}

int memberError(ExtractBlock* r, ExtractState* st) {
    return finish(r, 16,
                  st->file->message ? st->file->message : "Invalid member data control field",
                  st->file->io.path);
}

// ---- records read ahead ---------------------------------------------------------------------

void clearSample(ExtractState* st) {
    st->sample.clear();
    st->sampleLengths.clear();
    st->sampleNext = st->sampleAt = 0;
    st->sampled = st->dataEnded = false;
}

// The next sampled record, if any is left.
bool sampledRecord(ExtractState* st, const uint8_t** data, uint32_t* n) {
    if (st->sampleNext >= st->sampleLengths.size()) return false;
    *n = st->sampleLengths[st->sampleNext++];
    *data = st->sample.data() + st->sampleAt;
    st->sampleAt += *n;
    return true;
}

void keepSample(ExtractState* st, const uint8_t* data, uint32_t n) {
    st->sample.insert(st->sample.end(), data, data + n);
    st->sampleLengths.push_back(n);
}

// The next record of the current member from the file. MEMBER_RECORD, MEMBER_END or
// MEMBER_ERROR.
int readMemberData(ExtractState* st, const uint8_t** data, uint32_t* n) {
    const int status = readMemberRecord(st->file, st->ds, &st->cursor);
    *data = st->cursor.record;
    *n = st->cursor.recordLength;
    return status;
}

// The next record of the current member: the sampled ones first.
int nextMemberRecord(ExtractState* st, const uint8_t** data, uint32_t* n) {
    if (sampledRecord(st, data, n)) return MEMBER_RECORD;
    if (st->dataEnded) return MEMBER_END;
    return readMemberData(st, data, n);
}

// Passes over the rest of the current member.
int skipMember(ExtractState* st) {
    const bool ended = st->dataEnded;
    clearSample(st);
    if (ended) return MEMBER_END;
    return skipToMemberEnd(st->file, st->ds, &st->cursor);
}

// Settles how the current member or data set is written: in auto mode from its first records
// (read ahead and kept for the writer). False with the handle's message on a read error.
template <class Read> bool decideContent(ExtractState* st, ExtractBlock* r, Read read) {
    ExtractOutcome& o = st->outcome;
    o = ExtractOutcome{};
    switch (st->extras.mode) {
    case ExtractExtras::Mode::AsRequested:
        o.binary = r->type != EXTRACT_TYPE_TEXT && r->type != EXTRACT_TYPE_DUMP;
        o.content = o.binary ? Content::Binary : Content::Text;
        return true;
    case ExtractExtras::Mode::Binary:
        o.binary = true;
        o.content = Content::Binary;
        return true;
    case ExtractExtras::Mode::Auto:
        break;
    }
    if (st->ds->loadLibrary) {
        o.binary = true;
        o.content = Content::Binary;
        return true;
    }
    ContentSniffer sniffer(packedRecordLength(st->ds));
    st->sampled = true;
    while (!sniffer.full()) {
        const uint8_t* data = nullptr;
        uint32_t n = 0;
        const int status = read(&data, &n);
        if (status == MEMBER_ERROR) return false;
        if (status == MEMBER_END) {
            st->dataEnded = true;
            break;
        }
        keepSample(st, data, n);
        sniffer.add(data, n);
    }
    o.content = sniffer.verdict();
    o.binary = o.content != Content::Text;
    return true;
}

// Finds the next member to extract and announces it.
int nextMember(ExtractBlock* r, ExtractState* st) {
    XmitHandle* h = st->file;
    XmitDataSet* ds = st->ds;
    r->progress &=
        static_cast<uint8_t>(~(EXTRACT_PROGRESS_MEMBER_DONE | EXTRACT_PROGRESS_NEW_TARGET));
    r->message = nullptr;
    clearSample(st);
    for (;;) {
        uint32_t ttr = 0;
        const int at = peekMemberStart(h, ds, &st->cursor, &ttr);
        if (at == MEMBER_ERROR) return memberError(r, st);
        if (at == MEMBER_END) {
            // Every member has been seen. A requested member whose data never came is missing.
            for (size_t i = 0; i < st->selected.size(); ++i) {
                if (st->selectedWritten[i]) continue;
                r->recordsWritten = static_cast<uint32_t>(st->total);
                return finish(r, 12,
                              rt::message("Member \"%s\" not found in %s",
                                          st->selectedNames[i].c_str(), h->io.path),
                              nullptr);
            }
            r->recordsWritten = static_cast<uint32_t>(st->total);
            return finish(r, 0, nullptr, nullptr);
        }
        const uint8_t* entry = entryForTtr(st, ttr, false);
        if (entry == nullptr && ds->hasAliases) entry = entryForTtr(st, ttr, true);
        if (entry == nullptr) {
            if (skipMember(st) == MEMBER_ERROR) return memberError(r, st);
            continue;
        }
        st->entry = entry;
        const std::string name = memberName(entry);
        std::snprintf(r->memberName, sizeof r->memberName, "%s", name.c_str());
        markWritten(st, entry);

        // The name becomes a file name only when it is a valid member name: a crafted name
        // such as "../x" must never lead outside the target folder.
        if (!rt::isMemberName(name.c_str(), name.size(), rt::kAnyCase)) {
            if (skipMember(st) == MEMBER_ERROR) return memberError(r, st);
            ++r->filesSkipped;
            r->progress |= EXTRACT_PROGRESS_MEMBER_DONE;
            r->fileName = h->io.path;
            r->message =
                rt::message("Member name \"%s\" is not valid as a file name", name.c_str());
            return EXTRACT_RESULT_NOT_WRITTEN;
        }
        std::string fileName = name;
        if (!st->keepCase)
            for (char& c : fileName)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        st->target = st->prefix + fileName + st->suffix;
        r->fileName = st->target.c_str();

        if (ds->kind == XMIT_KIND_PDSE && ds->loadLibrary) {
            // The members of a PDSE program library are program objects, not load modules.
            if (skipMember(st) == MEMBER_ERROR) return memberError(r, st);
            ++r->filesSkipped;
            r->fileName = h->io.path;
            r->progress |= EXTRACT_PROGRESS_MEMBER_DONE;
            r->message = "Extract of Program Object is not supported";
            return EXTRACT_RESULT_NOT_WRITTEN;
        }
        // Load modules written as their bytes are not refused: nothing of them is decoded.
        const bool asBytes = st->extras.mode != ExtractExtras::Mode::AsRequested;
        if (ds->loadLibrary && !asBytes &&
            (r->type == EXTRACT_TYPE_TEXT || r->type == EXTRACT_TYPE_DELINK ||
             r->type == EXTRACT_TYPE_RELINK)) {
            DirectoryEntryInfo info;
            decodeLoadModuleEntry(entry, entryLength(entry), &info);
            const char* refusal = nullptr;
            if (info.flags & DE_PROGRAM_OBJECT)
                refusal = "Extract of Program Object is not supported";
            else if (info.flags & DE_NOT_EDITABLE)
                refusal = "Extract of NOEDIT load module is not supported";
            else if (r->type == EXTRACT_TYPE_RELINK && (info.flags & DE_SCTR) &&
                     !(info.flags & DE_OVLY))
                refusal = "Relink of scatter-load module is not supported";
            else if (info.flags & DE_OVLY)
                refusal = "Extract of overlay load module is not supported";
            if (refusal != nullptr) {
                if (skipMember(st) == MEMBER_ERROR) return memberError(r, st);
                ++r->filesSkipped;
                r->fileName = h->io.path;
                r->progress |= EXTRACT_PROGRESS_MEMBER_DONE;
                r->message = refusal;
                return EXTRACT_RESULT_NOT_WRITTEN;
            }
        }
        if (!decideContent(
                st, r, [st](const uint8_t** d, uint32_t* n) { return readMemberData(st, d, n); }))
            return memberError(r, st);
        if (st->outcome.content == Content::Transmit) {
            st->target = st->prefix + fileName + ".xmi";
            r->fileName = st->target.c_str();
        }
        if (sameAsTransmitFile(st->target, h)) {
            return finish(r, 12, "Invalid target file name", st->target.c_str());
        }
        if (exists(st->target)) return EXTRACT_RESULT_EXISTS;
        r->progress |= EXTRACT_PROGRESS_NEW_TARGET;
        return EXTRACT_RESULT_NEW;
    }
}

// Where the records of a member or sequential data set go: to the output as they come, or,
// when the sequence field is to be removed, gathered first, so that every record can be
// checked before the first line is written.
class RecordSink {
  public:
    // The sequence field of fixed 80-byte records (columns 73-80) or of variable records
    // (columns 1-8); none for other record formats.
    RecordSink(OutputFile& out, const XmitDataSet* ds, bool unnum) : out_(out) {
        if (!unnum) return;
        if (ds->recfmLetters[0] == 'F' && ds->lrecl == 80) {
            field_ = 72;
            active_ = true;
        } else if (ds->recfmLetters[0] == 'V') {
            field_ = 0;
            active_ = true;
        } else {
            kept_ = "the record format has no sequence field";
        }
    }
    // 0, or 8 (a record too long) or 12 (a write error).
    int put(const uint8_t* data, uint32_t n) {
        if (!active_) return status(out_.record(data, n));
        ++count_;
        if (kept_ == nullptr) check(data, n);
        if (gathered_.size() + n > kMaxGathered) {
            // Too much to hold: written whole, as it comes.
            kept_ = "the member is too large to check its sequence numbers";
            const int flushed = flush(false);
            active_ = false;
            return flushed != 0 ? flushed : status(out_.record(data, n));
        }
        gathered_.insert(gathered_.end(), data, data + n);
        lengths_.push_back(n);
        return 0;
    }
    // Writes what was gathered: without the field when every record allowed it.
    int finish() {
        if (!active_) return 0;
        active_ = false;
        return flush(kept_ == nullptr);
    }
    bool removed() const { return removed_; }
    const char* kept() const { return kept_; }

  private:
    static constexpr size_t kMaxGathered = size_t(256) << 20;
    static int status(OutputFile::Status s) {
        return s == OutputFile::kOk ? 0 : s == OutputFile::kTruncated ? 8 : 12;
    }
    // Digits or blanks (EBCDIC) in the field of this record.
    void check(const uint8_t* data, uint32_t n) {
        if (n < field_ + 8) {
            kept_ = rt::message("record %lu is shorter than its sequence field", count_);
            return;
        }
        for (unsigned i = field_; i < field_ + 8; ++i)
            if (data[i] != 0x40 && (data[i] < 0xF0 || data[i] > 0xF9)) {
                kept_ = rt::message("record %lu holds other characters than digits in its "
                                    "sequence field (columns %u-%u)",
                                    count_, field_ + 1, field_ + 8);
                return;
            }
    }
    int flush(bool cut) {
        size_t at = 0;
        for (uint32_t n : lengths_) {
            const uint8_t* d = gathered_.data() + at;
            at += n;
            const int s = cut ? status(out_.record(field_ == 0 ? d + 8 : d, n - 8))
                              : status(out_.record(d, n));
            if (s != 0) return s;
        }
        removed_ = cut;
        gathered_.clear();
        lengths_.clear();
        return 0;
    }

    OutputFile& out_;
    bool active_ = false, removed_ = false;
    unsigned field_ = 0;
    unsigned long count_ = 0;
    const char* kept_ = nullptr;
    std::vector<uint8_t> gathered_;
    std::vector<uint32_t> lengths_;
};

int delinkMember(ExtractBlock* r, ExtractState* st);

// Writes the current member to the announced target. Returns the request's result.
int writeMember(ExtractBlock* r, ExtractState* st) {
    XmitHandle* h = st->file;
    XmitDataSet* ds = st->ds;
    if (ds->loadLibrary && (r->type == EXTRACT_TYPE_DELINK || r->type == EXTRACT_TYPE_RELINK))
        return delinkMember(r, st);
    const bool asBytes = st->outcome.binary && st->extras.mode != ExtractExtras::Mode::AsRequested;
    OutputFile out;
    if (!out.open(st->target, asBytes ? st->binarySettings : st->settings)) {
        skipMember(st);
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    }
    const unsigned width = r->lrecl < 120 ? 16 : 32;
    unsigned long records = 0;
    auto writeFailure = [&]() {
        out.abandon();
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    };
    const bool isText = r->type == EXTRACT_TYPE_TEXT && !asBytes;
    const bool isLoadListing = ds->loadLibrary && isText;
    if (isLoadListing) {
        LoadModuleImage image;
        const std::string error = readLoadModule(h, ds, &st->cursor, st->entry, image);
        if (!error.empty()) {
            out.abandon();
            return finish(r, 12, rt::message("%s", error.c_str()), h->io.path);
        }
        if (!listLoadModule(out, ds, r->memberName, st->entry, image)) return writeFailure();
    } else {
        if (r->type == EXTRACT_TYPE_DUMP) {
            if (!dumpHeader(out, ds, r->memberName) || !dumpDirectoryEntry(out, st->entry, width))
                return writeFailure();
        }
        std::vector<uint8_t> line;
        IspfUnpacker unpacker(r->lrecl, line);
        int packedFollowing = -1; // -1: not decided yet, -2: not packed
        RecordSink sink(out, ds, st->extras.unnum && isText);
        auto writeOne = [&](const uint8_t* data, uint32_t n) -> int {
            ++records;
            if (r->type == EXTRACT_TYPE_DUMP)
                return dumpRecord(out, records, data, n, width) ? 0 : 12;
            return sink.put(data, n);
        };
        const bool checkPacked = isText && packedRecordLength(ds) != 0;
        int status = 0;
        bool ended = false; // the member's end has been read
        for (;;) {
            const uint8_t* data = nullptr;
            uint32_t n = 0;
            const int st2 = nextMemberRecord(st, &data, &n);
            if (st2 == MEMBER_ERROR) {
                out.abandon();
                return memberError(r, st);
            }
            if (st2 == MEMBER_END) {
                ended = true;
                break;
            }
            if (checkPacked && packedFollowing == -1) {
                int following = 0;
                const int offset =
                    IspfUnpacker::detect(data, n, static_cast<uint32_t>(ds->lrecl), &following);
                packedFollowing = offset < 0 ? -2 : following;
                if (offset >= 0) {
                    data += offset;
                    n -= static_cast<uint32_t>(offset);
                }
            } else if (packedFollowing >= 0) {
                // Every following record of the second form starts at offset 2; a shorter
                // record has no data.
                const uint32_t skip = static_cast<uint32_t>(packedFollowing);
                data += std::min(skip, n);
                n -= std::min(skip, n);
            }
            if (packedFollowing >= 0) {
                if (unpacker.ended()) continue; // the rest after X'FF' is not used
                bool ok = unpacker.feed(data, n, [&](const std::vector<uint8_t>& l) {
                    status = writeOne(l.data(), static_cast<uint32_t>(l.size()));
                    return status == 0;
                });
                if (!ok) break;
                if (unpacker.ended()) {
                    // The rest of the member after the end code is not read.
                    if (skipMember(st) == MEMBER_ERROR) {
                        out.abandon();
                        return memberError(r, st);
                    }
                    ended = true;
                    break;
                }
                continue;
            }
            status = writeOne(data, n);
            if (status != 0) break;
        }
        if (status == 0 && packedFollowing >= 0) {
            unpacker.close([&](const std::vector<uint8_t>& l) {
                status = writeOne(l.data(), static_cast<uint32_t>(l.size()));
                return status == 0;
            });
        }
        if (status == 0) status = sink.finish();
        st->outcome.unnumbered = sink.removed();
        st->outcome.unnumKept = st->extras.unnum && isText ? sink.kept() : nullptr;
        if (status != 0) {
            if (!ended) skipMember(st);
            if (status == 8) {
                out.abandon();
                return finish(r, 8, "Record would be truncated", nullptr);
            }
            return writeFailure();
        }
    }
    clearSample(st);
    if (!out.commit()) {
        r->recordsWritten = static_cast<uint32_t>(records);
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    }
    if (r->progress & EXTRACT_PROGRESS_NEW_TARGET)
        ++r->filesCreated;
    else
        ++r->filesReplaced;
    st->total += records;
    r->recordsWritten = static_cast<uint32_t>(records);
    r->progress |= EXTRACT_PROGRESS_MEMBER_DONE;
    return EXTRACT_RESULT_WRITTEN;
}

// ---- delink and relink ----------------------------------------------------------------------

// The start of a relink request: its listing and its work files. False after a failure (the
// request is finished).
bool startRelink(ExtractBlock* r, ExtractState* st) {
    RelinkState& rl = st->relink;
    if (r->listing != nullptr && r->listing[0] != '\0') {
        // The same rules as for the target: "&D", and "&M" or "&m" for one listing a member.
        const std::string listing = expandDirectory(r->listing, st->file);
        const size_t last = lastComponent(listing);
        const std::string component = listing.substr(last);
        if (component.size() >= 2 && component[0] == '&' &&
            (component[1] == 'M' || component[1] == 'm') &&
            (component.size() == 2 || component[2] == '.')) {
            rl.listingMode = component[1] == 'M' ? 1 : 0;
            rl.listingPrefix = listing.substr(0, last);
            rl.listingSuffix = component.substr(2);
        } else {
            // One listing for all members: the run starts without an old one, and each
            // member's listing is appended.
            rl.listingMode = 2;
            rl.listingPrefix = listing;
            IoFileCore f{};
            f.path = rl.listingPrefix.c_str();
            f.mode = IO_WRITE;
            f.traceLevel = rt::traceLevel();
            if (rt::ioOpen(f) != IO_OK) {
                finish(r, 12, rt::message("%s", std::strerror(f.errnum)), rl.listingPrefix.c_str());
                return false;
            }
            rt::ioClose(f, true);
        }
    }
    if (const char* problem = rl.createWorkFiles()) {
        finish(r, 12, problem, nullptr);
        return false;
    }
    return true;
}

// Relinks a delinked deck by the binder program: deck and response file to the work files,
// the binder run and waited for, the work files removed. The member counts as created or
// replaced when the binder succeeds (return code 0 to 4), as skipped when it fails (5 to 20);
// a binder that cannot be started or ends abnormally ends the request.
int relinkDeck(ExtractBlock* r, ExtractState* st, const std::vector<uint8_t>& deck) {
    RelinkState& rl = st->relink;
    if (const char* problem = rl.createWorkFiles()) return finish(r, 12, problem, nullptr);
    const std::string listing = rl.listingOf(r->memberName);
    const std::string response = responseText(
        rl, listing, r->binderParameters != nullptr ? r->binderParameters : "", st->syslmod);
    const char* problem = writeWorkFile(rl.deckFile, deck.data(), deck.size());
    if (problem == nullptr)
        problem = writeWorkFile(rl.responseFile, response.data(), response.size());
    if (problem != nullptr) {
        rl.removeWorkFiles();
        return finish(r, 12, problem, nullptr);
    }
    static std::string binder;
    binder = binderPath();
    const std::string argument = "-@" + rl.responseFile;
    if (rt::traceLevel() >= TRACE_OPENS) {
        std::printf("exec: %s %s\n", binder.c_str(), argument.c_str());
        std::fflush(stdout);
    }
    const platform::ProgramRun run = platform::runProgram(binder, {binder, argument});
    rl.removeWorkFiles();
    if (!run.started) {
        if (run.errnum == ENOENT)
            return finish(r, 12, rt::message("Binder program %s not found.", binder.c_str()),
                          nullptr);
        return finish(
            r, 12, rt::message("spawnv(%s) failed: %s", binder.c_str(), std::strerror(run.errnum)),
            nullptr);
    }
    if (!run.exited || run.code > 20)
        return finish(
            r, 12,
            rt::message("%s: exit status %.8X", binder.c_str(), static_cast<unsigned>(run.status)),
            nullptr);
    r->fileName = st->target.c_str();
    r->progress |= EXTRACT_PROGRESS_MEMBER_DONE;
    if (run.code <= 4) {
        // Created or replaced as the announced target was before the run.
        if (r->progress & EXTRACT_PROGRESS_NEW_TARGET)
            ++r->filesCreated;
        else
            ++r->filesReplaced;
        r->message =
            rt::message("%s relinked, binder return code = %d", st->target.c_str(), run.code);
    } else {
        ++r->filesSkipped;
        r->message = rt::message("relink failed, binder return code = %d", run.code);
    }
    return EXTRACT_RESULT_NOT_WRITTEN;
}

// A member of a load library as linkage editor input: its delinked deck written to the
// announced target, or relinked at once.
int delinkMember(ExtractBlock* r, ExtractState* st) {
    XmitHandle* h = st->file;
    LoadModuleImage image;
    const std::string error = readLoadModule(h, st->ds, &st->cursor, st->entry, image);
    if (!error.empty()) return finish(r, 12, rt::message("%s", error.c_str()), h->io.path);
    const std::vector<uint8_t> deck = delinkModule(image, r->memberName);
    const uint32_t cards = static_cast<uint32_t>(deck.size() / 80);
    r->recordsWritten = cards;
    if (r->type == EXTRACT_TYPE_RELINK) return relinkDeck(r, st, deck);
    OutputFile out;
    if (!out.open(st->target, st->settings))
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    for (size_t at = 0; at < deck.size(); at += 80) {
        if (out.record(deck.data() + at, 80) != OutputFile::kOk) {
            out.abandon();
            return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
        }
    }
    if (!out.commit())
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    if (r->progress & EXTRACT_PROGRESS_NEW_TARGET)
        ++r->filesCreated;
    else
        ++r->filesReplaced;
    st->total += cards;
    r->progress |= EXTRACT_PROGRESS_MEMBER_DONE;
    return EXTRACT_RESULT_WRITTEN;
}

// ---- sequential data sets and messages -------------------------------------------------------

// The next record of a sequential data set from the file: MEMBER_RECORD, MEMBER_END at the
// control record that ends the data, or MEMBER_ERROR.
int readSequentialData(ExtractState* st, const uint8_t** data, uint32_t* n) {
    XmitHandle* h = st->file;
    if (readRecord(h) != IO_OK) return MEMBER_ERROR;
    if (isControl(h)) {
        st->dataEnded = true;
        return MEMBER_END;
    }
    *data = h->record;
    *n = h->recordLength;
    return MEMBER_RECORD;
}

// The next record of a sequential data set: the sampled ones first.
int nextSequentialRecord(ExtractState* st, const uint8_t** data, uint32_t* n) {
    if (sampledRecord(st, data, n)) return MEMBER_RECORD;
    if (st->dataEnded) return MEMBER_END;
    return readSequentialData(st, data, n);
}

int writeSequential(ExtractBlock* r, ExtractState* st) {
    XmitHandle* h = st->file;
    XmitDataSet* ds = st->ds;
    const unsigned width = r->lrecl < 120 ? 16 : 32;
    const bool asBytes = st->outcome.binary && st->extras.mode != ExtractExtras::Mode::AsRequested;
    const bool isText = r->type == EXTRACT_TYPE_TEXT && !asBytes;
    OutputFile out;
    // Sampled data has been read from its start already.
    if (!st->sampled && seek(h, ds->dataPosition) != IO_OK)
        return finish(r, 16, h->message, h->io.path);
    if (!out.open(st->target, asBytes ? st->binarySettings : st->settings))
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    if (r->type == EXTRACT_TYPE_DUMP && !dumpHeader(out, ds, nullptr)) {
        out.abandon();
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    }
    RecordSink sink(out, ds, st->extras.unnum && isText);
    unsigned long records = 0;
    int status = 0;
    for (;;) {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        const int got = nextSequentialRecord(st, &data, &length);
        if (got == MEMBER_ERROR) {
            out.abandon();
            return finish(r, 16, h->message, h->io.path);
        }
        if (got == MEMBER_END) break;
        ++records;
        if (r->type == EXTRACT_TYPE_DUMP) {
            // Dumps show the records as they were sent.
            if (!dumpRecord(out, records, data, length, width)) {
                out.abandon();
                return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
            }
            continue;
        }
        // A fixed-format record longer than LRECL by a whole multiple is a block of records
        // (some writers send blocks); it is taken apart, record by record.
        uint32_t step = length;
        if (ds->recfmLetters[0] == 'F' && ds->lrecl > 0 &&
            length > static_cast<uint32_t>(ds->lrecl) &&
            length % static_cast<uint32_t>(ds->lrecl) == 0)
            step = static_cast<uint32_t>(ds->lrecl);
        // A record of length 0 is a record too (an empty line in text): the loop runs at
        // least once.
        uint32_t at = 0;
        do {
            if (at > 0) ++records;
            status = sink.put(data + at, step);
            at += step;
        } while (at < length && status == 0);
        if (status != 0) break;
    }
    if (status == 0) status = sink.finish();
    st->outcome.unnumbered = sink.removed();
    st->outcome.unnumKept = st->extras.unnum && isText ? sink.kept() : nullptr;
    clearSample(st);
    if (status == 8) {
        out.abandon();
        return finish(r, 8, "Record would be truncated", nullptr);
    }
    if (status != 0) {
        out.abandon();
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    }
    if (!out.commit())
        return finish(r, 12, rt::message("%s", out.error().c_str()), st->target.c_str());
    if (r->progress & EXTRACT_PROGRESS_NEW_TARGET)
        ++r->filesCreated;
    else
        ++r->filesReplaced;
    st->total = records;
    r->recordsWritten = static_cast<uint32_t>(records);
    return finish(r, 0, nullptr, nullptr);
}

void release(ExtractBlock* r) {
    delete r->state;
    r->state = nullptr;
}

int start(XmitHandle* h, ExtractBlock* r, const ExtractExtras& extras) {
    rt::requireConnected();
    r->message = nullptr;
    r->fileName = nullptr;
    r->filesCreated = r->filesReplaced = r->filesSkipped = 0;
    r->recordsWritten = 0;
    r->severity = 0;
    r->progress = EXTRACT_PROGRESS_FINISHED;
    r->memberName[0] = '\0';

    if (r->target == nullptr || r->target[0] == '\0')
        return finish(r, 16, "Output path not specified", nullptr);
    if (h->io.stream == nullptr) return finish(r, 20, "File is not open", h->io.path);
    if (r->dataSet == 0 || r->dataSet > h->fileCount || h->dataSets == nullptr)
        return finish(
            r, 12,
            rt::message("Data set %u was not transmitted", static_cast<unsigned>(r->dataSet)),
            nullptr);
    XmitDataSet* ds = &h->dataSets[r->dataSet - 1];
    if (ds->encrypted) return finish(r, 12, "Data set is encrypted", nullptr);
    const bool pdseUnload = ds->kind == XMIT_KIND_PDSE && extras.readPdse;
    if (ds->kind != XMIT_KIND_MESSAGE && ds->kind != XMIT_KIND_SEQUENTIAL &&
        ds->kind != XMIT_KIND_PARTITIONED && !pdseUnload)
        return finish(r, 12, "Data set type is not supported", nullptr);
    const bool sequential = ds->kind != XMIT_KIND_PARTITIONED && !pdseUnload;
    if (!sequential && ds->dataPosition == 0 && !readDirectory(h, ds))
        return finish(r, 12, h->message, h->io.path);
    if (ds->recfm == 0) return finish(r, 12, "Data set RECFM is unknown", nullptr);
    if (ds->lrecl == -1) return finish(r, 12, "Data set LRECL is unknown", nullptr);
    if (ds->blksize == -1) return finish(r, 12, "Data set BLKSIZE is unknown", nullptr);
    // Fixed records of length 0 would never advance.
    if (ds->recfmLetters[0] == 'F' && ds->lrecl <= 0)
        return finish(r, 12, "Data set LRECL is unknown", nullptr);
    if (const char* refusal = settleAttributes(r, ds)) return finish(r, 12, refusal, nullptr);
    auto* st = new ExtractState;
    r->state = st;
    st->file = h;
    st->ds = ds;
    st->sequential = sequential;
    st->extras = extras;
    if (r->type != EXTRACT_TYPE_TEXT) st->extras.mode = ExtractExtras::Mode::AsRequested;
    st->settings = settingsOf(r);
    st->settings.encoding = extras.encoding;
    st->binarySettings = st->settings;
    st->binarySettings.type = EXTRACT_TYPE_CONVERT;
    st->binarySettings.format = EXTRACT_FORMAT_BYTES;
    st->binarySettings.options = 0;
    st->binarySettings.raw = true;
    st->binarySettings.encoding = nullptr;
    const std::string target = expandDirectory(r->target, h);
    const size_t last = lastComponent(target);
    if (sequential) {
        r->progress |= EXTRACT_PROGRESS_SEQUENTIAL;
        if (r->memberNames != nullptr && r->memberCount > 0)
            return finish(r, 12, "Cannot extract members from a sequential file", nullptr);
        if (last >= target.size() || target[last] == '&')
            return finish(r, 12, "Invalid target file name", nullptr);
        st->target = target;
        if (st->extras.mode == ExtractExtras::Mode::Auto && seek(h, ds->dataPosition) != IO_OK)
            return finish(r, 16, h->message, h->io.path);
        if (!decideContent(st, r, [st](const uint8_t** d, uint32_t* n) {
                return readSequentialData(st, d, n);
            }))
            return finish(r, 16, h->message, h->io.path);
        // A transmit file inside: named so, unless the name has an extension of its own.
        if (st->outcome.content == Content::Transmit &&
            st->target.find('.', last) == std::string::npos)
            st->target += ".xmi";
        r->fileName = st->target.c_str();
        if (sameAsTransmitFile(st->target, h))
            return finish(r, 12, "Invalid target file name", st->target.c_str());
        r->progress &= static_cast<uint8_t>(~EXTRACT_PROGRESS_FINISHED);
        if (exists(st->target)) return EXTRACT_RESULT_EXISTS;
        r->progress |= EXTRACT_PROGRESS_NEW_TARGET;
        return EXTRACT_RESULT_NEW;
    }

    // The last component of the pattern begins with "&M" or "&m", then "." or nothing.
    const std::string component = target.substr(last);
    if (component.size() < 2 || component[0] != '&' ||
        (component[1] != 'M' && component[1] != 'm') ||
        (component.size() > 2 && component[2] != '.')) {
        st->target = target;
        return finish(r, 12, "Invalid target file name pattern", r->target);
    }
    st->prefix = target.substr(0, last);
    st->suffix = component.substr(2);
    st->keepCase = component[1] == 'M';
    if (r->type == EXTRACT_TYPE_RELINK) {
        st->syslmod = target;
        if (!startRelink(r, st)) return EXTRACT_RESULT_DONE;
    }

    if (r->memberNames != nullptr) {
        const uint8_t* a2e = rt::asciiToEbcdic();
        for (uint32_t i = 0; i < r->memberCount; ++i) {
            const char* given = r->memberNames[i] != nullptr ? r->memberNames[i] : "";
            std::string upper(given);
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            std::array<uint8_t, 8> name;
            name.fill(0x40);
            bool found =
                upper.size() <= 8 && rt::isMemberName(upper.c_str(), upper.size(), rt::kAnyCase);
            if (found) {
                for (size_t k = 0; k < upper.size(); ++k)
                    name[k] = a2e[static_cast<uint8_t>(upper[k])];
                found = false;
                for (unsigned e = 0; e < ds->entryCount && !found; ++e)
                    found = std::memcmp(directoryEntry(ds, e), name.data(), 8) == 0;
            }
            if (!found)
                return finish(r, 12,
                              rt::message("Member \"%s\" not found in %s", given, h->io.path),
                              nullptr);
            st->selected.push_back(name);
            st->selectedNames.push_back(given);
            st->selectedWritten.push_back(false);
        }
    }
    indexDirectory(st);
    if (ds->recfmLetters[0] == 'V' && std::strchr(ds->recfmLetters, 'S') && ds->lrecl > 4) {
        // The LRECL comes from the file: the buffer is bounded by the longest record an output
        // can take, and its pages are only touched as records fill them.
        st->assemblySize = static_cast<uint32_t>(std::min<int64_t>(ds->lrecl - 4, kMaxAssembly));
        st->assembly = std::make_unique_for_overwrite<uint8_t[]>(st->assemblySize);
    }
    if (!startMembers(h, ds, &st->cursor, st->assembly.get(), st->assemblySize))
        return finish(r, 16, h->message, h->io.path);
    r->progress &= static_cast<uint8_t>(~EXTRACT_PROGRESS_FINISHED);
    return nextMember(r, st);
}

} // namespace
} // namespace opx

using namespace opx;

int opx::extractStep(int function, XmitHandle* file, ExtractBlock* r, const ExtractExtras& extras) {
    if (r == nullptr) return EXTRACT_RESULT_DONE;
    ExtractState* st = r->state;
    if (st == nullptr) {
        if (function != EXTRACT_GO || file == nullptr) return EXTRACT_RESULT_DONE;
        return start(file, r, extras);
    }
    rt::requireConnected();
    if (function == EXTRACT_STOP) {
        r->progress |= EXTRACT_PROGRESS_FINISHED;
        r->recordsWritten = static_cast<uint32_t>(st->total);
        r->fileName = nullptr;
        release(r);
        return EXTRACT_RESULT_DONE;
    }
    if (r->progress & EXTRACT_PROGRESS_FINISHED)
        return finish(r, 16, "Internal error: restart not allowed", nullptr);
    if (st->sequential) {
        if (function == EXTRACT_SKIP) {
            ++r->filesSkipped;
            finish(r, 0, nullptr, nullptr);
            release(r);
            return EXTRACT_RESULT_DONE;
        }
        return writeSequential(r, st);
    }
    if (r->progress & EXTRACT_PROGRESS_MEMBER_DONE) return nextMember(r, st);
    if (function == EXTRACT_SKIP) {
        ++r->filesSkipped;
        if (skipMember(st) == MEMBER_ERROR) return memberError(r, st);
        return nextMember(r, st);
    }
    return writeMember(r, st);
}

OPX_EXTERN_C OPX_API int eXmitFileExtract(int function, XmitHandle* file, ExtractBlock* r) {
    return extractStep(function, file, r, ExtractExtras{});
}

const opx::ExtractOutcome* opx::extractOutcome(const ExtractBlock* r) {
    return r != nullptr && r->state != nullptr ? &r->state->outcome : nullptr;
}
