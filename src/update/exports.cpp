// The exported entry points of ufxcore: connect, conversion setup and message retrieval of the
// runtime, and the two ways to run the utility (one argument per DD, or a mainframe-style
// program call with an invocation block and a message queue).
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "platform/system.h"
#include "runtime.h"
#include "ufxcore.h"
#include "update.h"

namespace {

const rt::LibraryIdentity kIdentity{"UFXCORE.DLL", "Quorin Update Utility",
                                    reinterpret_cast<const void*>(&pszDllConnect)};

// The text of a length-prefixed argument of UpdateUtility: a 16-bit length, then the text.
// Null when the argument is absent or its length is 0 or less.
bool argumentText(const void* argument, std::string& text) {
    if (argument == nullptr) return false;
    int16_t length = 0;
    std::memcpy(&length, argument, sizeof length);
    if (length <= 0) return false;
    const char* p = static_cast<const char*>(argument) + sizeof length;
    text.assign(p, strnlen(p, static_cast<size_t>(length)));
    return true;
}

// A DD name of the invocation block: up to 8 characters, ending at the first one at or below
// the blank.
std::string ddName(const char (&field)[8]) {
    size_t n = 0;
    while (n < 8 && static_cast<unsigned char>(field[n]) > 0x20) ++n;
    return std::string(field, n);
}

// UpdateUtility's callback: every message goes to the queue.
struct Queue {
    UtilityMessageQueue* queue = nullptr;
    uint32_t count = 0;
    uint32_t longest = 0;

    void add(int level, std::string_view text) {
        const size_t length = std::min<size_t>(text.size(), UTILITY_MESSAGE_MAX_TEXT);
        rt::queueMessage(&queue, level, text.substr(0, length));
        ++count;
        if (length > longest) longest = static_cast<uint32_t>(length);
    }
    static void callback(void* argument, int level, const char* text) {
        static_cast<Queue*>(argument)->add(level, text);
    }

    void handOver(UpdateUtilityBlock& block) {
        block.messageCount = count;
        block.longestMessage = longest;
        if (count == 0) rt::freeMessageQueue(&queue);
        block.messages = queue;
        queue = nullptr;
    }
};

} // namespace

OPX_EXTERN_C OPX_API const char* pszDllConnect(int* status, ConnectionRecord** record,
                                               int traceLevel, const char* modulePath,
                                               const char* family, const char* version,
                                               PrintCallback print, FatalCallback fatal) {
    return rt::connect(kIdentity, status, record, traceLevel, modulePath, family, version, print,
                       fatal);
}

OPX_EXTERN_C OPX_API const char* pszUfxSetConversion(void) {
    return rt::setConversion();
}

OPX_EXTERN_C OPX_API int UtilityMessageGet(int function, void** args) {
    return rt::utilityMessageGet(function, args);
}

OPX_EXTERN_C OPX_API int iUpdateUtility(const char* parameter, const char* sysinPath,
                                        const char* sysinDd, const char* sysprintPath,
                                        const char* sysprintDd, const char* sysut1Path,
                                        const char* sysut1Dd, const char* sysut2Path,
                                        const char* sysut2Dd, UpdateMessageCallback callback,
                                        void* callbackArgument, unsigned* pageNumber,
                                        unsigned* reserved, unsigned sysprintFlags,
                                        unsigned sysut1Flags, unsigned sysut2Flags) {
    rt::requireConnected();
    auto run = std::make_unique<ufx::UpdateRun>();
    run->callback = callback;
    run->callbackArgument = callbackArgument;
    run->connection = &rt::connection();
    run->page = pageNumber != nullptr ? *pageNumber % 10000 : 1;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    platform::localTime(now, local);
    const int fields[6] = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                           local.tm_hour,        local.tm_min,     local.tm_sec};
    std::memcpy(run->startFields, fields, sizeof fields);
    const int trace = rt::traceLevel();
    ufx::setUpDd(run->dd[ufx::kSysin], sysinPath, sysinDd, "SYSIN", UPDATE_DD_BINARY, trace);
    ufx::setUpDd(run->dd[ufx::kSysprint], sysprintPath, sysprintDd, "SYSPRINT", sysprintFlags,
                 trace);
    ufx::setUpDd(run->dd[ufx::kSysut1], sysut1Path, sysut1Dd, "SYSUT1", sysut1Flags, trace);
    ufx::setUpDd(run->dd[ufx::kSysut2], sysut2Path, sysut2Dd, "SYSUT2", sysut2Flags, trace);
    const int cc = ufx::runUtility(*run, parameter);
    if (pageNumber != nullptr) *pageNumber = run->page;
    if (reserved != nullptr) *reserved = run->reserved;
    return cc;
}

OPX_EXTERN_C OPX_API int UpdateUtility(int argc, void** argv) {
    if ((argc != 6 && argc != 7) || argv == nullptr || argv[0] == nullptr) return 1;
    auto& block = *static_cast<UpdateUtilityBlock*>(argv[0]);
    block.reserved = 0;
    block.conditionCode = 0;
    block.messageCount = 0;
    block.longestMessage = 0;
    block.messages = nullptr;
    char version[sizeof block.version + 1] = {};
    std::memcpy(version, block.version, sizeof block.version);
    Queue queue;

    // A version that the connect check would refuse is answered here, with the refusal queued
    // line by line, instead of ending the caller's process.
    if (std::strcmp(version, rt::kVersion) != 0) {
        const std::string refusal =
            ufx::format("%s UFXCORE.DLL version %s is\nincompatible with %s version %s\n",
                        rt::kFamily, rt::kVersion, rt::kFamily, version);
        size_t start = 0;
        for (size_t i = 0; i <= refusal.size(); ++i) {
            if (i == refusal.size() || static_cast<unsigned char>(refusal[i]) < 0x20) {
                if (i > start)
                    queue.add(UPDATE_MESSAGE_DD_MISSING,
                              std::string_view(refusal).substr(start, i - start));
                start = i + 1;
            }
        }
        queue.handOver(block);
        return 2;
    }
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, block.traceLevel, nullptr, rt::kFamily, version, nullptr,
                  nullptr);
    if (const char* problem = pszUfxSetConversion(); problem != nullptr) {
        queue.add(UPDATE_MESSAGE_DD_MISSING, problem);
        block.conditionCode = 12;
        queue.handOver(block);
        return 0;
    }

    std::string parameter, paths[4];
    bool present[4];
    argumentText(argv[1], parameter);
    for (int i = 0; i < 4; ++i) present[i] = argumentText(argv[2 + i], paths[i]);
    const std::string names[4] = {ddName(block.ddNames[0]), ddName(block.ddNames[1]),
                                  ddName(block.ddNames[2]), ddName(block.ddNames[3])};
    auto path = [&](int i) { return present[i] ? paths[i].c_str() : nullptr; };
    unsigned page = block.pageNumber;
    unsigned reserved = 0;
    block.conditionCode = iUpdateUtility(
        parameter.c_str(), path(0), names[0].c_str(), path(1), names[1].c_str(), path(2),
        names[2].c_str(), path(3), names[3].c_str(), Queue::callback, &queue, &page, &reserved,
        block.sysprintFlags, block.sysut1Flags, block.sysut2Flags);
    block.pageNumber = page;
    block.reserved = reserved;
    queue.handOver(block);
    return 0;
}
