// Running extraction requests in tests: a request driven to its end with fixed answers, and
// the steps it took.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "xmit_fixture.h"

namespace xtest {

struct Step {
    int result;
    std::string member;
    std::string file;
    std::string message;
    uint32_t records;
};

struct RunResult {
    std::vector<Step> steps;
    ExtractBlock block{};
    int severity = 0;
    std::string message;
    std::string fileName;
    uint32_t created = 0, replaced = 0, skipped = 0, total = 0;
};

// Drives a request: replaces existing files when `replace` is true, else skips them.
inline RunResult runRequest(XmitHandle* h, ExtractBlock req, bool replace = true) {
    RunResult run;
    int result = eXmitFileExtract(EXTRACT_GO, h, &req);
    for (int guard = 0; guard < 100000; ++guard) {
        run.steps.push_back({result, req.memberName, req.fileName ? req.fileName : "",
                             req.message ? req.message : "", req.recordsWritten});
        if (result == EXTRACT_RESULT_DONE) break;
        const int function =
            result == EXTRACT_RESULT_EXISTS && !replace ? EXTRACT_SKIP : EXTRACT_GO;
        result = eXmitFileExtract(function, h, &req);
    }
    run.severity = req.severity;
    run.message = req.message ? req.message : "";
    run.fileName = req.fileName ? req.fileName : "";
    eXmitFileExtract(EXTRACT_STOP, h, &req);
    run.created = req.filesCreated;
    run.replaced = req.filesReplaced;
    run.skipped = req.filesSkipped;
    run.total = req.recordsWritten;
    run.block = req;
    EXPECT_EQ(req.state, nullptr) << "the state is released by the stop";
    return run;
}

inline ExtractBlock request(int type, const std::string& target, uint32_t dataSet = 1) {
    ExtractBlock r{};
    r.type = type;
    static std::list<std::string> targets; // stable storage for the pattern strings
    targets.push_back(target);
    r.target = targets.back().c_str();
    r.dataSet = dataSet;
    return r;
}

// A line as a record of an FB 80 data set: padded with blanks.
inline std::string line80(const std::string& s) {
    std::string l = s;
    l.resize(80, ' ');
    return l;
}

} // namespace xtest
