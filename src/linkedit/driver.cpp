// The job step: the calling order of one linkage-editor run (options, files, input, the last
// module, the closing line) and the input loop that hands each record to the object module
// reader or to the statement processor.
//
//    VRL000I PARAMETERS - LIST=ALL
//    ...                                        (file table, statements, modules)
//
//    VRL009I Processing completed, return code is 4
#include <cstdlib>
#include <ctime>

#include "goff_input.h"
#include "linkedit.h"
#include "platform/system.h"
#include "resolution.h"
#include "runtime.h"

namespace vrl {

Job::Job() = default;
Job::~Job() {
    rt::freeMessageQueue(&queue);
}

void takeTime(int fields[6]) {
    // Tests fix the clock so that listings and saved modules can be compared byte for byte.
    if (const char* fixed = std::getenv("VRLCORE_TEST_TIME"); fixed != nullptr) {
        int v[6];
        if (std::sscanf(fixed, "%4d%2d%2d%2d%2d%2d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) ==
            6) {
            for (int i = 0; i < 6; ++i) fields[i] = v[i];
            return;
        }
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    platform::localTime(now, local);
    const int v[6] = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour,        local.tm_min,     local.tm_sec};
    for (int i = 0; i < 6; ++i) fields[i] = v[i];
}

void processInput(Job& job, size_t depth) {
    bool pending = false; // an object record met in a continuation waits in job.records
    Record r;
    for (;;) {
        if (job.stopped()) return;
        if (job.stack.size() <= depth) {
            if (depth == 0 && openNextSyslin(job)) continue;
            return;
        }
        if (!pending) {
            const int st = readRecord(job, r);
            if (st < 0) return;
            if (st > 0) {
                popInput(job);
                continue;
            }
            job.records.assign(1, r);
            job.firstRecord = job.current()->records;
        }
        pending = false;
        const uint8_t first = job.records[0].bytes[0];
        if (first == obj::kCardId) {
            readObjectModule(job);
            reportUnprocessedRequests(job);
        } else if (first == 0x03) {
            readGoffModule(job);
            reportUnprocessedRequests(job);
        } else {
            pending = processStatement(job) == 1;
        }
    }
}

// The end of a module: automatic call, attributes, the names still missing, layout and
// relocation, the map, the save and its summary.
void finishModule(Job& job) {
    if (!job.module || job.module->objectCount == 0) {
        resetModule(job);
        return;
    }
    autocallAtFinish(job);
    if (!job.stopped()) {
        settleAttributes(job);
        reportUnresolved(job);
        const bool saveable = layoutModule(job) && !job.stopped();
        printMap(job);
        const SaveResult saved = saveModule(job, saveable && job.rc <= kSevere);
        if (saved.saved) printSaveSummary(job, saved);
    }
    resetModule(job);
}

void resetModule(Job& job) {
    job.module = std::make_unique<Module>();
    job.aliases.clear();
    job.order.clear();
    job.library.clear();
    job.objectModules = 0;
    job.moduleSeverity = 0;
}

void runJobStep(Job& job, int mode) {
    takeTime(job.runTime);
    setDefaults(job, mode);
    if (!job.callerMember.empty()) {
        job.invocation.member = job.callerMember;
        job.invocation.set(kReplace, true);
    }
    parseOptions(job, job.parm != nullptr ? job.parm : "", job.invocation, OptionSource::kParm);
    deriveOptions(job);
    job.options = job.invocation;
    bindFiles(job);
    if (!job.stopped()) {
        job.options = job.invocation;
        resetModule(job);
        processInput(job, 0);
        if (!job.stopped()) {
            reportUnprocessedRequests(job);
            finishModule(job);
        }
    }
    closeInputs(job);
    printLine(job, "", 0);
    issue(job, kInfo, format("VRL009I Processing completed, return code is %d", job.rc));
    closeListing(job);
}

} // namespace vrl
