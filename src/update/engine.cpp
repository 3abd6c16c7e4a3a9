// The engine: one run from the opening of SYSPRINT and SYSIN through the function loop to the
// closing line. Each function statement is checked against the organization of SYSUT1 and
// SYSUT2, its member names are resolved, and it runs:
//
//   ADD, REPL  new data from SYSIN, optionally numbered by a NUMBER statement
//   REPRO      a copy of the old data
//   CHANGE     the old data merged with data, NUMBER and DELETE statements by sequence key
//
// A statement error ends only its function ("KDU808I Function terminated, will attempt next
// function") and the statements up to the next function statement are skipped; errors of the
// data sets end the run. The condition code is 0 or 12.
#include <cstdio>
#include <string>

#include "platform/paths.h"
#include "runtime.h"
#include "update.h"

namespace ufx {

namespace {

constexpr const char* kIdentification = "UFXCORE.DLL - Quorin Toolbench update utility";

std::string statementError(std::string_view detail) {
    return "KDU805E Control statement error: " + std::string(detail);
}

bool isEmpty(const char* path) {
    return path == nullptr || *path == '\0';
}

// ---- start of a run ----

int openListing(UpdateRun& run) {
    DdAllocation& dd = run.dd[kSysprint];
    if (dd.missing()) {
        issueToCaller(run, format("KEC130I %s DD statement missing", dd.ddName.c_str()));
        setCondition(run, 12);
        return 1;
    }
    if (isEmpty(dd.given) || isNullDevice(dd.given)) {
        run.listingQuiet = true;
        return 0;
    }
    // Without a listing file, the caller hears the messages.
    run.flags |= kRunMessagesToCaller;
    if (dd.path == "<stdout>") return 0;
    if (dd.binary) {
        run.flags |= kRunBinarySysprint;
        issueWithPath(run,
                      format("KDU814E DDNAME %s cannot be opened, FILEDATA=TEXT is required",
                             dd.ddName.c_str()),
                      dd.path.c_str());
        setCondition(run, 12);
        return 1;
    }
    // The listing is opened before anything is read: naming an input for it would destroy
    // that input.
    for (DdIndex input : {kSysin, kSysut1}) {
        const DdAllocation& in = run.dd[input];
        if (!isEmpty(in.given) && !in.partitioned() &&
            platform::sameFile(dd.path.c_str(), in.path.c_str())) {
            issueWithPath(run,
                          format("KDU814E DDNAME %s cannot be opened, same file as DDNAME %s,",
                                 dd.ddName.c_str(), in.ddName.c_str()),
                          dd.path.c_str());
            setCondition(run, 12);
            return 1;
        }
    }
    dd.io.path = dd.path.c_str();
    dd.io.mode = (dd.flags & kDdAppend) ? IO_APPEND : IO_WRITE;
    if (rt::ioOpen(dd.io) != IO_OK) {
        issueWithPath(run,
                      format("KDU814E DDNAME %s cannot be opened, %s,", dd.ddName.c_str(),
                             std::strerror(dd.io.errnum)),
                      dd.path.c_str());
        setCondition(run, 12);
        return 1;
    }
    run.flags &= ~kRunMessagesToCaller;
    buildHeading(run);
    run.lineCount = 999;
    listLine(run, kIdentification);
    listBlank(run);
    return 0;
}

int checkParameter(UpdateRun& run, const char* parameter) {
    const std::string_view p = parameter != nullptr ? parameter : "";
    if (p.empty() || p == "MOD") return 0;
    if (p == "NEW") {
        run.flags |= kRunNewOutput;
        return 0;
    }
    if (p.size() > 80)
        issue(run, format("KDU827E Invalid parameter: '%.80s'...", parameter));
    else
        issue(run, format("KDU827E Invalid parameter: '%s'", parameter));
    setCondition(run, 12);
    return 1;
}

// ---- the checks of a function statement ----

// The organization check of the first function statement. 0, or 1 when the run ends.
int checkOrganization(UpdateRun& run) {
    DdAllocation& in = run.dd[kSysut1];
    DdAllocation& out = run.dd[kSysut2];
    bool echoed = false;
    auto fail = [&](std::string_view message) {
        if (!echoed) echoError(run);
        echoed = true;
        issue(run, message);
        return 1;
    };
    auto missing = [&](DdAllocation& dd) {
        if (!dd.missing()) return false;
        if (!echoed) echoError(run);
        echoed = true;
        issueToCaller(run, format("KEC130I %s DD statement missing", dd.ddName.c_str()));
        issue(run, format("KDU814E DDNAME %s cannot be opened", dd.ddName.c_str()));
        return true;
    };
    if (!(run.flags & kRunNewOutput) && missing(in)) return 1;
    if (!(run.flags & kRunInplace) && missing(out)) return 1;
    if (run.flags & (kRunNewOutput | kRunInplace)) return 0;
    const bool newGiven = (run.flags & (kRunNewPO | kRunNewPS)) != 0;
    if (in.partitioned() != out.partitioned()) {
        if (!newGiven)
            return fail("KDU807E Operation error: NEW parameter is required because old and new "
                        "data set organizations do not match");
        const bool matches =
            in.partitioned() ? (run.flags & kRunNewPS) != 0 : (run.flags & kRunNewPO) != 0;
        if (!matches)
            return fail("KDU807E Operation error: NEW parameter value does not match old and new "
                        "data set organizations");
        return 0;
    }
    if (newGiven)
        return fail("KDU807E Operation error: NEW parameter value does not match old and new data "
                    "set organizations");
    // Two dummy data sets (or the null device) share no data to protect.
    const bool dummy = isEmpty(in.given) || isEmpty(out.given) || isNullDevice(in.given) ||
                       isNullDevice(out.given);
    if (!in.partitioned() && !dummy && sameDataSet(in.path, out.path))
        return fail("KDU807E Operation error: old and new sequential data sets must be different");
    return 0;
}

// Steps before a function runs: organization (first statement), output name, member
// existence. 0, -1 (the function ends) or 1 (the run ends).
int prepareFunction(UpdateRun& run, Statement& st) {
    FunctionFields& f = st.function;
    DdAllocation& in = run.dd[kSysut1];
    DdAllocation& out = run.dd[kSysut2];
    if (run.flags & kRunFirstPending) {
        if (f.flags & kUpdateInplace) run.flags |= kRunInplace;
        if (f.flags & kNewPO) run.flags |= kRunNewPO;
        if (f.flags & kNewPS) run.flags |= kRunNewPS;
        if (checkOrganization(run) != 0) {
            setCondition(run, 12);
            return 1;
        }
        run.flags &= ~kRunFirstPending;
    }
    if (st.code == kRepl && !out.partitioned())
        return reject(run, "KDU807E Operation error: REPL function is not allowed with output "
                           "sequential data set");

    if (run.flags & kRunNewPO) {
        if (f.member[0] == '\0')
            return reject(run, statementError("MEMBER parameter is required with NEW=PO"));
        if (f.name[0] != '\0')
            return reject(run, statementError("NAME parameter is not allowed with NEW=PO"));
        f.outputName = f.member;
    } else {
        if (f.member[0] != '\0')
            return reject(run, statementError("MEMBER parameter requires NEW=PO"));
        if (!out.partitioned() && ((run.flags & kRunNewOutput) || !in.partitioned())) {
            if (f.name[0] != '\0')
                return reject(
                    run,
                    statementError("NAME parameter is not allowed for new sequential data set"));
            f.outputName.clear();
        } else {
            if (f.name[0] == '\0') return reject(run, statementError("NAME parameter is required"));
            f.outputName = f.name;
        }
    }

    if (!(run.flags & kRunNewOutput) && in.partitioned() && f.name[0] != '\0') {
        resolveMember(in, f.name);
        const bool exists = fileExists(in.path, in.io.traceLevel);
        if (st.code == kAdd && exists) {
            echoError(run);
            issueWithPath(run,
                          format("KDU816E Member name %s found in %s,", f.name, in.ddName.c_str()),
                          in.path.c_str());
            return -1;
        }
        if (st.code != kAdd && !exists) {
            echoError(run);
            issueWithPath(
                run, format("KDU816E Member name %s not found in %s,", f.name, in.ddName.c_str()),
                in.path.c_str());
            return -1;
        }
    }
    if (!f.outputName.empty() && out.partitioned()) {
        resolveMember(out, f.outputName);
        if (fileExists(out.path, out.io.traceLevel)) f.flags |= kOutputExists;
    }
    return 0;
}

// Ends a function that did not complete: the old data is closed and the member being written
// is removed, so an existing member stays as it was.
int abandon(UpdateRun& run, Statement& fn, int rc) {
    closeOld(run);
    finishOutputMember(run, fn, false);
    return rc;
}

// Completes a function: old data closed, output member in place, report.
int complete(UpdateRun& run, Statement& fn) {
    if (closeOld(run) != 0) return abandon(run, fn, 1);
    const int rc = finishOutputMember(run, fn, true);
    if (rc != 0) return rc;
    report(run, fn);
    return 0;
}

// ---- ADD and REPL ----

int addOrReplace(UpdateRun& run, Statement& fn) {
    Statement st;
    Numbering numbering;
    int rc = readStatement(run, &fn, &st);
    if (rc < 0) return -1;
    bool data = false;
    if (rc == 1) {
        if (run.sysinFailed) return 1;
    } else if (st.cls == kDetail) { // NUMBER; DELETE was refused by the reader
        echoStatement(run);
        numbering.active = true;
        if (given(st.detail.new1)) run.counter = st.detail.new1Number;
        numbering.new1 = st.detail.new1;
        numbering.increment = st.detail.increment;
        rc = readDataRecord(run, fn, st);
        if (rc == 1 && run.sysinFailed) return 1;
        data = rc == 0 && st.cls == kData;
    } else {
        data = st.cls == kData;
    }

    if (prepareOutputMember(run, fn) != 0) return -1;
    if (openOutput(run, fn) != 0) return abandon(run, fn, 1);
    const bool listAll = (fn.function.flags & kListAll) != 0;
    while (data) {
        Record r = run.pending.front();
        if (!listAll) listRecord(run, r, kEchoForm);
        if (numbering.active) numberRecord(run, r, numbering, fn.function.sequence);
        if (writeOutput(run, r) != 0) return abandon(run, fn, 1);
        ++fn.function.recordCount;
        if (listAll) listRecord(run, r, kCopiedForm);
        rc = readDataRecord(run, fn, st);
        if (rc == 1 && run.sysinFailed) return abandon(run, fn, 1);
        data = rc == 0 && st.cls == kData;
    }
    return complete(run, fn);
}

// ---- REPRO ----

int repro(UpdateRun& run, Statement& fn) {
    // A detail statement is refused here; a data statement is left for the function loop.
    Statement st;
    int rc = readStatement(run, &fn, &st);
    if (rc < 0) return -1;
    if (rc == 1 && run.sysinFailed) return 1;
    if (rc == 0 && st.cls == kData) unreadPending(run);

    bool haveOld = false;
    rc = openOld(run, fn, &haveOld);
    if (rc != 0) return rc;
    DdAllocation& in = run.dd[kSysut1];
    DdAllocation& out = run.dd[kSysut2];
    // A member copied onto itself is left alone.
    const bool same = out.partitioned() && !isEmpty(in.given) && !isEmpty(out.given) &&
                      sameDataSet(in.path, out.path);
    if (!same) {
        if (prepareOutputMember(run, fn) != 0) {
            closeOld(run);
            return -1;
        }
        if (openOutput(run, fn) != 0) return abandon(run, fn, 1);
    }
    const bool listAll = (fn.function.flags & kListAll) != 0;
    Record r;
    while (haveOld) {
        rc = readOld(run, r);
        if (rc == 1) break;
        if (rc < 0) return abandon(run, fn, 1);
        if (!same && writeOutput(run, r) != 0) return abandon(run, fn, 1);
        ++fn.function.recordCount;
        if (listAll) listRecord(run, r, kCopiedForm);
    }
    return complete(run, fn);
}

// ---- CHANGE ----

// The merge of the old data with the statements of one CHANGE function.
class Merge {
  public:
    Merge(UpdateRun& run, Statement& fn)
        : run_(run), fn_(fn), field_(fn.function.sequence),
          inplace_((run.flags & kRunInplace) != 0), listAll_((fn.function.flags & kListAll) != 0) {
        lastKey_.fill(kEbcdicBlank);
    }

    int run();

  private:
    enum Kind { kNone, kNumberPlain, kNumberAll, kNumberInsert, kDeleteKind, kDataKind };

    static Kind kindOf(const Statement& st) {
        if (st.cls == kData) return kDataKind;
        if (st.code == kDelete) return kDeleteKind;
        if (st.detail.flags & kSeq1All) return kNumberAll;
        if (st.detail.flags & kInsertYes) return kNumberInsert;
        return kNumberPlain;
    }

    int fail(std::string_view message) { return reject(run_, message); }
    int nextOld();
    int nextStatement();
    int write(Record& r, RecordForm form);
    int apply();
    // NEW1 and INCR of a NUMBER statement that starts a renumbering.
    int requireNumbering(const Statement& st) {
        if (!given(st.detail.new1)) return fail(statementError("NEW1 parameter is required"));
        if (st.detail.increment == 0) return fail(statementError("INCR parameter is required"));
        return 0;
    }

    UpdateRun& run_;
    Statement& fn_;
    const SequenceField field_;
    const bool inplace_;
    const bool listAll_;

    Statement cur_;
    Record curRecord_{};
    bool haveStatement_ = false;
    bool consumed_ = false;
    Kind previous_ = kNone;
    SequenceValue lastKey_{};

    bool haveOld_ = false;
    bool oldEnd_ = true;
    bool needOld_ = false;
    Record old_{};
    SequenceValue oldKey_{};

    Numbering active_;
    Numbering insertion_;
    bool insertionPending_ = false;
};

// Reads the next old record. 0, or 1 after a read error.
int Merge::nextOld() {
    needOld_ = false;
    const int rc = readOld(run_, old_);
    if (rc < 0) return 1;
    if (rc == 1) {
        oldEnd_ = true;
        if (active_.active && !active_.all) active_.active = false;
        return 0;
    }
    oldKey_ = recordKey(old_, field_);
    if (active_.active && !active_.all && compare(oldKey_, active_.seq2) > 0)
        active_.active = false;
    return 0;
}

// Writes a record in its listing form: numbered under a renumbering, to SYSUT2 or over the old
// record in place, counted and listed. 0, or 1 after a write error.
int Merge::write(Record& r, RecordForm form) {
    const Numbering* numbering = nullptr;
    if (form == kInsertedForm && insertionPending_)
        numbering = &insertion_;
    else if (active_.active)
        numbering = &active_;
    if (numbering != nullptr) {
        numberRecord(run_, r, *numbering, field_);
        if (form == kCopiedForm) form = kRenumberedForm;
    }
    if (!inplace_) {
        if (writeOutput(run_, r) != 0) return 1;
    } else if (form == kRenumberedForm || form == kInsertedForm || form == kReplacedForm) {
        if (rewriteOld(run_, r) != 0) return 1;
    }
    ++fn_.function.recordCount;
    if (listAll_ || form == kInsertedForm || form == kReplacedForm || form == kDeletedForm)
        listRecord(run_, r, form);
    return 0;
}

// Reads the statement after the current one: inserts the blank-keyed data of a pending
// insertion at once and checks the order of the others. 0, -1 or 1.
int Merge::nextStatement() {
    consumed_ = false;
    for (;;) {
        Statement st;
        const int rc = readStatement(run_, &fn_, &st);
        if (rc < 0) return -1;
        if (rc == 1 || (st.cls != kData && st.cls != kDetail)) {
            haveStatement_ = false;
            return rc == 1 && run_.sysinFailed ? 1 : 0;
        }
        if (insertionPending_) {
            if (st.cls == kData) {
                bool blank = true;
                for (size_t i = 0; i < field_.length; ++i)
                    blank = blank && isBlank(run_.pending.front().text[field_.start + i]);
                if (blank) {
                    Record r = run_.pending.front();
                    if (write(r, kInsertedForm) != 0) return 1;
                    continue;
                }
            }
            insertionPending_ = false;
        }
        const Kind kind = kindOf(st);
        if (kind == kNumberAll)
            return fail(statementError("SEQ1=ALL is only allowed on the first statement following "
                                       "the CHANGE function statement"));
        const int order = compare(st.detail.key, lastKey_);
        bool bad = order < 0;
        if (kind == kNumberPlain && active_.active && !active_.all &&
            compare(st.detail.seq1, active_.seq2) <= 0)
            bad = true;
        if (order == 0 &&
            !(previous_ == kNumberPlain || (previous_ == kDeleteKind && kind == kNumberInsert)))
            bad = true;
        if (bad) return fail("KDU806E Statement sequence error");
        cur_ = st;
        curRecord_ = run_.pending.front();
        lastKey_ = st.detail.key;
        haveStatement_ = true;
        return 0;
    }
}

// Applies the current statement at the current old record. 0, -1 or 1.
int Merge::apply() {
    const DetailFields& d = cur_.detail;
    const Kind kind = kindOf(cur_);
    switch (kind) {
    case kDeleteKind:
        echoStatement(run_);
        while (!oldEnd_ && compare(oldKey_, d.seq2) <= 0) {
            listRecord(run_, old_, kDeletedForm);
            if (nextOld() != 0) return 1;
        }
        lastKey_ = d.seq2;
        break;
    case kNumberPlain:
        if (int rc = requireNumbering(cur_); rc != 0) return rc;
        if (active_.active)
            return fail("KDU807E Operation error: renumbering operation is already active");
        echoStatement(run_);
        if (!oldEnd_) active_ = Numbering{true, false, d.seq2, d.new1, d.increment};
        run_.counter = d.new1Number;
        break;
    case kNumberInsert:
        if (!active_.active) {
            if (int rc = requireNumbering(cur_); rc != 0) return rc;
            run_.counter = d.new1Number;
            insertion_ = Numbering{true, false, d.seq2, d.new1, d.increment};
        } else {
            insertion_ = active_;
        }
        if (!oldEnd_ && compare(oldKey_, d.seq1) == 0) {
            if (write(old_, kCopiedForm) != 0) return 1;
            needOld_ = true;
        }
        echoStatement(run_);
        insertionPending_ = true;
        break;
    case kDataKind: {
        Record r = curRecord_;
        if (!oldEnd_ && compare(oldKey_, d.key) == 0) {
            const size_t keep = fn_.function.column;
            std::memcpy(r.text, old_.text, keep);
            std::memcpy(r.ebcdic, old_.ebcdic, keep);
            if (write(r, kReplacedForm) != 0) return 1;
            needOld_ = true;
        } else {
            if (inplace_) return fail("KDU806E Statement sequence error");
            if (write(r, kInsertedForm) != 0) return 1;
        }
        break;
    }
    default:
        break;
    }
    previous_ = kind;
    consumed_ = true;
    return 0;
}

int Merge::run() {
    int rc = readStatement(run_, &fn_, &cur_);
    if (rc < 0) return -1;
    if (rc == 1 || (cur_.cls != kData && cur_.cls != kDetail)) {
        if (rc == 1 && run_.sysinFailed) return 1;
        issue(run_, "KDU807E Operation error: no data or detail statements follow CHANGE function "
                    "statement");
        if (rc == 1) {
            setCondition(run_, 12);
            return 1;
        }
        return -1;
    }
    curRecord_ = run_.pending.front();
    haveStatement_ = true;
    if (kindOf(cur_) == kNumberAll) {
        if (requireNumbering(cur_) != 0) return -1;
        echoStatement(run_);
        active_ = Numbering{true, true, {}, cur_.detail.new1, cur_.detail.increment};
        run_.counter = cur_.detail.new1Number;
        previous_ = kNumberAll;
        consumed_ = true;
    } else {
        lastKey_ = cur_.detail.key;
        previous_ = kNone;
    }

    rc = openOld(run_, fn_, &haveOld_);
    if (rc != 0) return rc;
    if (!inplace_) {
        if (prepareOutputMember(run_, fn_) != 0) {
            closeOld(run_);
            return -1;
        }
        if (openOutput(run_, fn_) != 0) return abandon(run_, fn_, 1);
    }
    oldEnd_ = !haveOld_;
    needOld_ = haveOld_;

    for (;;) {
        if (consumed_) {
            rc = nextStatement();
            if (rc != 0) return abandon(run_, fn_, rc);
        }
        if (needOld_ && !oldEnd_ && nextOld() != 0) return abandon(run_, fn_, 1);
        if (!haveStatement_ && oldEnd_) break;
        if (!oldEnd_ && (!haveStatement_ || compare(oldKey_, cur_.detail.key) < 0)) {
            if (write(old_, kCopiedForm) != 0) return abandon(run_, fn_, 1);
            needOld_ = true;
            continue;
        }
        rc = apply();
        if (rc != 0) return abandon(run_, fn_, rc);
    }
    return complete(run_, fn_);
}

// ---- the function loop ----

int runFunction(UpdateRun& run, Statement& st) {
    const int rc = prepareFunction(run, st);
    if (rc != 0) return rc;
    echoStatement(run);
    switch (st.code) {
    case kAdd:
    case kRepl:
        return addOrReplace(run, st);
    case kRepro:
        return repro(run, st);
    case kChange:
        return Merge(run, st).run();
    default:
        return 0;
    }
}

void functionLoop(UpdateRun& run) {
    Statement st;
    for (;;) {
        if (!(run.flags & kRunFirstPending)) listBlank(run);
        int rc = readStatement(run, nullptr, &st);
        if (rc == 1) return;
        if (rc == 0) {
            if (st.cls == kEnd) {
                echoStatement(run);
                return;
            }
            rc = runFunction(run, st);
            if (rc == 1) return;
            if (rc == 0) continue;
        }
        setCondition(run, 12);
        issue(run, "KDU808I Function terminated, will attempt next function");
        while ((rc = readStatement(run, &st, nullptr)) < 0) {
        }
        if (rc == 1) return;
    }
}

void closeRun(UpdateRun& run) {
    closeDataSets(run);
    DdAllocation& dd = run.dd[kSysprint];
    if (haveListing(run)) {
        listBlank(run);
        listLine(run, format("KDU818I Highest condition code was %d", run.highestCc));
        // Buffered listing lines reach the file when it is closed; a listing that cannot be
        // completed is no success, and the caller hears the condition code instead.
        if (haveListing(run) && rt::ioClose(dd.io, false) != IO_OK) {
            run.highestCc = 12;
            run.flags |= kRunMessagesToCaller;
            issueWithPath(
                run,
                format("KDU802E %s I/O ERROR, %s,", dd.ddName.c_str(), std::strerror(dd.io.errnum)),
                dd.path.c_str());
        }
        dd.io.stream = nullptr;
        if (!(run.flags & kRunMessagesToCaller)) return;
    }
    if (!run.listingQuiet && run.callback != nullptr) {
        const std::string last = format("KDU818I Highest condition code was %d", run.highestCc);
        run.callback(run.callbackArgument, UPDATE_MESSAGE_LISTING, last.c_str());
    }
}

} // namespace

int runUtility(UpdateRun& run, const char* parameter) {
    run.flags |= kRunFirstPending;
    if (openListing(run) == 0 && openSysin(run) == 0 && checkParameter(run, parameter) == 0)
        functionLoop(run);
    closeRun(run);
    return run.highestCc;
}

} // namespace ufx
