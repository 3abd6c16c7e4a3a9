// opxbridge: forwards the window program's operations to the extractor core and describes an
// opened transmit file through the program's call-backs.
//
// The core keeps the strings it is given (the path of an open file, the target pattern of a
// request) for the life of the handle or request, so the bridge owns a copy of each beside
// the core's record. Handles given out are the addresses of those records; every call checks
// that the handle is one the bridge gave out and has not yet taken back.
#include "opxbridge.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "opxcore.h"
#include "platform/system.h"

namespace {

const char kFamily[] = "Quorin Toolbench";
const char kVersion[] = "3.0.07";

struct OpenFile {
    std::string path;
    XmitHandle* handle = nullptr;
    ~OpenFile() { vXmitFileClose(handle); }
};

struct Request {
    ExtractBlock block{};
    std::string target;
    std::string listing;
    std::string parameters;
    std::vector<std::string> names;
    std::vector<const char*> pointers;
};

// The records given out. The program calls from its interface thread and from one worker at a
// time; the lock only guards the sets themselves.
std::mutex lock;
std::set<OpenFile*> files;
std::set<Request*> requests;

// Returns the text of the calling thread's result buffer, holding a copy of text.
const char* keep(const char* text) {
    thread_local std::string result;
    if (text == nullptr) return nullptr;
    result = text;
    return result.c_str();
}

OpenFile* fileOf(int64_t file) {
    auto* f = reinterpret_cast<OpenFile*>(static_cast<intptr_t>(file));
    std::lock_guard<std::mutex> g(lock);
    return files.count(f) ? f : nullptr;
}

Request* requestOf(int64_t request) {
    auto* r = reinterpret_cast<Request*>(static_cast<intptr_t>(request));
    std::lock_guard<std::mutex> g(lock);
    return requests.count(r) ? r : nullptr;
}

int64_t handleOf(const void* p) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(p));
}

// Null for an empty text, so that the program can tell "not given" from a value.
const char* orNull(const char* text) {
    return text != nullptr && text[0] != '\0' ? text : nullptr;
}

} // namespace

extern "C" {

const char* OpxBridgeConnect(int traceLevel, const BridgeConnectSink* sink) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    if (const char* m = pszOpxDllConnect(&status, &record, traceLevel < 0 ? 0 : traceLevel, nullptr,
                                         kFamily, kVersion, nullptr, nullptr))
        return keep(m);
    if (record == nullptr) return keep("The extractor core did not connect");
    if (const char* m = pszOpxSetConversion()) return keep(m);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    const char* module = record->modulePath != nullptr ? record->modulePath : "";
    char started[32] = "";
    const std::time_t t = static_cast<std::time_t>(record->connectTime);
    if (std::tm tmv{}; platform::localTime(t, tmv))
        std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &tmv);
    std::string message = std::string(record->productName) + " Version " + record->version + "\n" +
                          record->productFamily + "\n\nExtractor core: " + module +
                          "\nConnected:      " + started +
                          "\nTrace level:    " + std::to_string(record->traceLevel);
    if (sink != nullptr && sink->init != nullptr)
        sink->init(sink->context, record->connectTime, now, module, record->productName,
                   record->version, message.c_str(), record->productFamily, record->traceLevel);
    return nullptr;
}

const char* OpxBridgeOpen(const OpxFileSink* sink, const char* path) {
    if (path == nullptr || path[0] == '\0') return keep("File name not specified");
    auto file = std::make_unique<OpenFile>();
    file->path = path;
    file->handle = pXmitFileOpen(file->path.c_str());
    XmitHandle* h = file->handle;
    if (h->message != nullptr) return keep(h->message);
    // Read every directory now, so that a damaged one fails the open before anything is
    // described, and the member counts are known.
    for (uint32_t i = 0; i < h->fileCount && h->dataSets != nullptr; ++i) {
        XmitDataSet* ds = &h->dataSets[i];
        if (ds->kind == XMIT_KIND_PARTITIONED && !ds->encrypted &&
            pxhXmitFileLoadDir(h, i + 1) == nullptr)
            return keep(h->message != nullptr ? h->message
                                              : "Directory information is not available");
    }
    OpenFile* f = file.release();
    {
        std::lock_guard<std::mutex> g(lock);
        files.insert(f);
    }
    if (sink == nullptr) return nullptr;
    const int count = h->dataSets != nullptr ? static_cast<int>(h->fileCount) : 0;
    if (sink->init != nullptr)
        sink->init(sink->context, handleOf(f), count, orNull(h->originTime), orNull(h->originNode),
                   orNull(h->originUser));
    for (int i = 0; i < count; ++i) {
        const XmitDataSet* ds = &h->dataSets[i];
        const int encrypted = ds->encrypted ? 1 : 0;
        switch (ds->kind) {
        case XMIT_KIND_MESSAGE:
            if (sink->addMessage != nullptr)
                sink->addMessage(sink->context, i, encrypted,
                                 ds->messageText != nullptr ? ds->messageText : "");
            break;
        case XMIT_KIND_PARTITIONED:
        case XMIT_KIND_PDSE:
            if (sink->addPartitioned != nullptr)
                sink->addPartitioned(sink->context, i, encrypted,
                                     ds->kind == XMIT_KIND_PDSE ? 1 : 0, ds->loadLibrary ? 1 : 0,
                                     ds->kind == XMIT_KIND_PARTITIONED && !ds->encrypted
                                         ? static_cast<int>(ds->entryCount)
                                         : 0,
                                     ds->lrecl, ds->blksize, ds->recfmLetters, ds->dsname);
            break;
        default:
            if (sink->addSequential != nullptr)
                sink->addSequential(sink->context, i, encrypted,
                                    ds->kind == XMIT_KIND_SEQUENTIAL ? 1 : 0, ds->lrecl,
                                    ds->blksize, ds->recfmLetters, ds->dsname);
            break;
        }
    }
    return nullptr;
}

void OpxBridgeClose(int64_t file) {
    OpenFile* f = fileOf(file);
    if (f == nullptr) return;
    {
        std::lock_guard<std::mutex> g(lock);
        files.erase(f);
    }
    delete f;
}

const char* OpxBridgeGetDe(int64_t file, int fileNumber, int memberNumber) {
    OpenFile* f = fileOf(file);
    if (f == nullptr || fileNumber < 0 || memberNumber < 0) return nullptr;
    XmitDataSet* ds = pxhXmitFileLoadDir(f->handle, static_cast<unsigned>(fileNumber) + 1);
    if (ds == nullptr || static_cast<unsigned>(memberNumber) >= ds->entryCount) return nullptr;
    char line[96] = {};
    vXmitFileFormatDe(ds, static_cast<unsigned>(memberNumber), line, sizeof line);
    line[sizeof line - 1] = '\0';
    return keep(line);
}

int64_t OpxBridgeReqBuild(int type, int dataSet, int members, const char* target) {
    auto* r = new Request;
    r->block.type = type;
    r->block.dataSet = dataSet > 0 ? static_cast<uint32_t>(dataSet) : 0;
    r->target = target != nullptr ? target : "";
    r->block.target = r->target.c_str();
    if (members > 0) {
        r->names.resize(static_cast<size_t>(members));
        r->pointers.assign(static_cast<size_t>(members), "");
        r->block.memberNames = r->pointers.data();
        r->block.memberCount = static_cast<uint32_t>(members);
    }
    std::lock_guard<std::mutex> g(lock);
    requests.insert(r);
    return handleOf(r);
}

void OpxBridgeReqAddMember(int64_t request, int position, const char* name) {
    Request* r = requestOf(request);
    if (r == nullptr || position < 0 || static_cast<size_t>(position) >= r->names.size()) return;
    r->names[static_cast<size_t>(position)] = name != nullptr ? name : "";
    r->pointers[static_cast<size_t>(position)] = r->names[static_cast<size_t>(position)].c_str();
}

void OpxBridgeReqText(int64_t request, int lrecl, int lineEnd, int tabs, int strip, int truncate) {
    Request* r = requestOf(request);
    if (r == nullptr) return;
    r->block.lrecl = lrecl > 0 ? static_cast<uint32_t>(lrecl) : 0;
    r->block.lineEnd = lineEnd;
    r->block.tabWidth = static_cast<uint8_t>(tabs > 0 && tabs < 256 ? tabs : 0);
    r->block.options =
        static_cast<uint8_t>((strip ? EXTRACT_STRIP : 0) | (truncate ? EXTRACT_TRUNCATE : 0));
}

void OpxBridgeReqConvert(int64_t request, int format, int lrecl, int blksize, int padChar,
                         int strip, int translate, int blocked, int spanned, int truncate) {
    Request* r = requestOf(request);
    if (r == nullptr) return;
    r->block.format = format;
    r->block.lrecl = lrecl > 0 ? static_cast<uint32_t>(lrecl) : 0;
    r->block.blockSize = blksize > 0 ? static_cast<uint32_t>(blksize) : 0;
    r->block.padCharacter = static_cast<uint8_t>(padChar & 0xFF);
    r->block.options =
        static_cast<uint8_t>((strip ? EXTRACT_STRIP : 0) | (translate ? EXTRACT_TRANSLATE : 0) |
                             (blocked ? EXTRACT_BLOCKED : 0) | (spanned ? EXTRACT_SPANNED : 0) |
                             (truncate ? EXTRACT_TRUNCATE : 0));
}

void OpxBridgeReqRelink(int64_t request, const char* listing, const char* parameters) {
    Request* r = requestOf(request);
    if (r == nullptr) return;
    r->listing = listing != nullptr ? listing : "";
    r->parameters = parameters != nullptr ? parameters : "";
    r->block.listing = r->listing.c_str();
    r->block.binderParameters = r->parameters.c_str();
}

int OpxBridgeReqExtract(int action, int64_t file, int64_t request) {
    Request* r = requestOf(request);
    if (r == nullptr) return 0;
    OpenFile* f = fileOf(file);
    return eXmitFileExtract(action, f != nullptr ? f->handle : nullptr, &r->block);
}

void OpxBridgeReqStop(int64_t request) {
    Request* r = requestOf(request);
    if (r == nullptr) return;
    {
        std::lock_guard<std::mutex> g(lock);
        requests.erase(r);
    }
    if (r->block.state != nullptr) eXmitFileExtract(EXTRACT_STOP, nullptr, &r->block);
    delete r;
}

const char* OpxBridgeReqGetFileName(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? keep(orNull(r->block.fileName)) : nullptr;
}

const char* OpxBridgeReqGetMember(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? keep(orNull(r->block.memberName)) : nullptr;
}

const char* OpxBridgeReqGetErrorMessage(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? keep(orNull(r->block.message)) : nullptr;
}

int64_t OpxBridgeReqGetRecordsWritten(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? r->block.recordsWritten : 0;
}

int64_t OpxBridgeReqGetFilesCreated(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? r->block.filesCreated : 0;
}

int64_t OpxBridgeReqGetFilesReplaced(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? r->block.filesReplaced : 0;
}

int64_t OpxBridgeReqGetFilesSkipped(int64_t request) {
    Request* r = requestOf(request);
    return r != nullptr ? r->block.filesSkipped : 0;
}

} // extern "C"
