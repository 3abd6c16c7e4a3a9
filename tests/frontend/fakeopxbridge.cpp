// The fake extractor bridge (see fakeopxbridge.h). Its log lines read, for example:
//   open /tmp/x.xmit
//   reqBuild 0 1 2 &D&M.txt
//   reqAddMember 0 ALPHA
//   reqExtract 0
#include "fakeopxbridge.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct DataSet {
    int kind, encrypted, loadLibrary, members, lrecl, blksize;
    std::string recfm, dsname, message;
};

struct Event {
    int code;
    std::string fileName, member, error;
    int records, delayMs;
};

struct State {
    std::optional<std::string> openFailure;
    std::string time, node, user;
    std::vector<DataSet> dataSets;
    std::map<std::pair<int, int>, std::optional<std::string>> lines;
    std::deque<Event> events;
    Event current{0, "", "", "", 0, 0};
    std::string finalError, finalFile;
    int created = 0, replaced = 0, skipped = 0, records = 0;
    bool finished = false;
    std::string log;
};

std::recursive_mutex lock;
State state;

const char* keep(const std::string& s) {
    thread_local std::string result;
    result = s;
    return result.c_str();
}

const char* text(const std::string& s) {
    return s.empty() ? nullptr : keep(s);
}

void log(const std::string& line) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state.log += line + "\n";
}

std::string str(const char* s) {
    return s != nullptr ? s : "";
}

constexpr int64_t kFile = 4711;
constexpr int64_t kRequest = 815;

} // namespace

extern "C" {

void FakeOpxReset(void) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state = State();
}

void FakeOpxSetOpenFailure(const char* message) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state.openFailure = message != nullptr ? std::optional<std::string>(message) : std::nullopt;
}

void FakeOpxSetOrigin(const char* time, const char* node, const char* user) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state.time = str(time);
    state.node = str(node);
    state.user = str(user);
}

void FakeOpxAddDataSet(int kind, int encrypted, int loadLibrary, int members, int lrecl,
                       int blksize, const char* recfm, const char* dsname, const char* message) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state.dataSets.push_back({kind, encrypted, loadLibrary, members, lrecl, blksize, str(recfm),
                              str(dsname), str(message)});
}

void FakeOpxSetDe(int fileNumber, int memberNumber, const char* line) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state.lines[{fileNumber, memberNumber}] =
        line != nullptr ? std::optional<std::string>(line) : std::nullopt;
}

void FakeOpxAddEvent(int code, const char* fileName, const char* member, const char* error,
                     int records, int repeat, int delayMs) {
    std::lock_guard<std::recursive_mutex> g(lock);
    for (int i = 0; i < (repeat > 1 ? repeat : 1); ++i)
        state.events.push_back({code, str(fileName), str(member), str(error), records, delayMs});
}

void FakeOpxSetFinal(const char* error, const char* fileName, int created, int replaced,
                     int skipped, int records) {
    std::lock_guard<std::recursive_mutex> g(lock);
    state.finalError = str(error);
    state.finalFile = str(fileName);
    state.created = created;
    state.replaced = replaced;
    state.skipped = skipped;
    state.records = records;
}

const char* FakeOpxLog(void) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return keep(state.log);
}

// ---- the bridge's operations ---------------------------------------------------------------

const char* OpxBridgeConnect(int traceLevel, const BridgeConnectSink* sink) {
    log("connect " + std::to_string(traceLevel));
    sink->init(sink->context, 1000000000, 1000000001, "/opt/fake/libfakecore.so", "Fake Opalex",
               "9.9.99", "Fake Opalex Version 9.9.99\nconnected for a test", "Fake Family",
               traceLevel);
    return nullptr;
}

const char* OpxBridgeOpen(const OpxFileSink* sink, const char* path) {
    std::lock_guard<std::recursive_mutex> g(lock);
    log("open " + str(path));
    if (state.openFailure) return keep(*state.openFailure);
    auto given = [](const std::string& v) { return v.empty() ? nullptr : v.c_str(); };
    sink->init(sink->context, kFile, static_cast<int>(state.dataSets.size()), given(state.time),
               given(state.node), given(state.user));
    for (size_t i = 0; i < state.dataSets.size(); ++i) {
        const DataSet& d = state.dataSets[i];
        const int n = static_cast<int>(i);
        if (d.kind == 1)
            sink->addMessage(sink->context, n, d.encrypted, d.message.c_str());
        else if (d.kind == 3 || d.kind == 4)
            sink->addPartitioned(sink->context, n, d.encrypted, d.kind == 4, d.loadLibrary,
                                 d.members, d.lrecl, d.blksize, d.recfm.c_str(), d.dsname.c_str());
        else
            sink->addSequential(sink->context, n, d.encrypted, d.kind == 2, d.lrecl, d.blksize,
                                d.recfm.c_str(), d.dsname.c_str());
    }
    // A second call for the same number is ignored by the program.
    if (!state.dataSets.empty())
        sink->addMessage(sink->context, 0, 0, "a second description of data set 0");
    return nullptr;
}

void OpxBridgeClose(int64_t file) {
    log("close " + std::to_string(file));
}

const char* OpxBridgeGetDe(int64_t, int fileNumber, int memberNumber) {
    std::lock_guard<std::recursive_mutex> g(lock);
    auto it = state.lines.find({fileNumber, memberNumber});
    if (it == state.lines.end() || !it->second) return nullptr;
    return keep(*it->second);
}

int64_t OpxBridgeReqBuild(int type, int dataSet, int members, const char* target) {
    log("reqBuild " + std::to_string(type) + " " + std::to_string(dataSet) + " " +
        std::to_string(members) + " " + str(target));
    std::lock_guard<std::recursive_mutex> g(lock);
    state.finished = false;
    return kRequest;
}

void OpxBridgeReqAddMember(int64_t, int position, const char* name) {
    log("reqAddMember " + std::to_string(position) + " " + str(name));
}

void OpxBridgeReqText(int64_t, int lrecl, int lineEnd, int tabs, int strip, int truncate) {
    log("reqText " + std::to_string(lrecl) + " " + std::to_string(lineEnd) + " " +
        std::to_string(tabs) + " " + std::to_string(strip) + " " + std::to_string(truncate));
}

void OpxBridgeReqConvert(int64_t, int format, int lrecl, int blksize, int padChar, int strip,
                         int translate, int blocked, int spanned, int truncate) {
    log("reqConvert " + std::to_string(format) + " " + std::to_string(lrecl) + " " +
        std::to_string(blksize) + " " + std::to_string(padChar) + " " + std::to_string(strip) +
        " " + std::to_string(translate) + " " + std::to_string(blocked) + " " +
        std::to_string(spanned) + " " + std::to_string(truncate));
}

void OpxBridgeReqRelink(int64_t, const char* listing, const char* parameters) {
    log("reqRelink " + str(listing) + " " + str(parameters));
}

int OpxBridgeReqExtract(int action, int64_t file, int64_t) {
    log("reqExtract " + std::to_string(action) + (file == kFile ? "" : " (wrong file)"));
    Event next{0, "", "", "", 0, 0};
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        if (action == 2 || state.events.empty()) {
            state.finished = true;
            state.events.clear();
            return 0;
        }
        next = state.events.front();
        state.events.pop_front();
    }
    if (next.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(next.delayMs));
    std::lock_guard<std::recursive_mutex> g(lock);
    state.current = next;
    return next.code;
}

void OpxBridgeReqStop(int64_t) {
    log("reqStop");
}

const char* OpxBridgeReqGetFileName(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return text(state.finished ? state.finalFile : state.current.fileName);
}

const char* OpxBridgeReqGetMember(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return text(state.finished ? std::string() : state.current.member);
}

const char* OpxBridgeReqGetErrorMessage(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return text(state.finished ? state.finalError : state.current.error);
}

int64_t OpxBridgeReqGetRecordsWritten(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return state.finished ? state.records : state.current.records;
}

int64_t OpxBridgeReqGetFilesCreated(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return state.created;
}

int64_t OpxBridgeReqGetFilesReplaced(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return state.replaced;
}

int64_t OpxBridgeReqGetFilesSkipped(int64_t) {
    std::lock_guard<std::recursive_mutex> g(lock);
    return state.skipped;
}

} // extern "C"
