// brenbridge: forwards the build wizard's questions and its build to the builder core.
//
// The wizard names member files by a pattern (a last path component "*", "&M" or "&m" with an
// optional suffix); the bridge lists them in mainframe order, checks load modules for a load
// library, offers the devices that can hold a block size, and fills one build request.
#include "brenbridge.h"

#include <array>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "brencore.h"

namespace {

const char kFamily[] = "Quorin Toolbench";
const char kVersion[] = "3.0.07";

// Returns the text of the calling thread's result buffer, holding a copy of text.
const char* keep(const char* text) {
    thread_local std::string result;
    if (text == nullptr) return nullptr;
    result = text;
    return result.c_str();
}

// Copies text into a fixed field of size bytes, cut to fit and zero-terminated.
void copyField(char* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    if (text != nullptr) std::strncpy(field, text, size - 1);
}
template <size_t N> void copyField(char (&field)[N], const char* text) {
    copyField(field, N, text);
}

// The member list of a request: entries of 9 bytes, a name and its zero byte.
using MemberEntry = std::array<char, sizeof(MemberName)>;
static_assert(sizeof(MemberEntry) == sizeof(MemberName));

std::vector<MemberEntry> memberList(const char* const* members, int count) {
    std::vector<MemberEntry> list(members != nullptr && count > 0 ? static_cast<size_t>(count) : 0);
    for (size_t i = 0; i < list.size(); ++i) copyField(list[i].data(), list[i].size(), members[i]);
    return list;
}

MemberName* entries(std::vector<MemberEntry>& list) {
    return list.empty() ? nullptr : reinterpret_cast<MemberName*>(list.data());
}

// The device row of a name: largest block, good block, largest track count, tracks per
// cylinder; -1 for each when the name is unknown.
struct Device {
    unsigned largest = 0, good = 0, tracks = 0, perCylinder = 0;
    bool known = false;
};

Device deviceOf(const char* name) {
    Device d;
    if (name != nullptr)
        d.known = iGetDeviceInfo(name, &d.largest, &d.good, &d.tracks, &d.perCylinder) >= 0;
    return d;
}

} // namespace

extern "C" {

const char* BrenBridgeConnect(int traceLevel, const BridgeConnectSink* sink) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    if (const char* m = pszBrenDllConnect(&status, &record, traceLevel < 0 ? 0 : traceLevel,
                                          nullptr, kFamily, kVersion, nullptr, nullptr))
        return keep(m);
    if (record == nullptr) return keep("The builder core did not connect");
    if (const char* m = pszBrenSetConversion()) return keep(m);
    const char* module = record->modulePath != nullptr ? record->modulePath : "";
    std::string message = std::string(record->productName) + " Version " + record->version + "\n" +
                          record->productFamily + "\n\nBuilder core: " + module;
    if (sink != nullptr && sink->init != nullptr)
        sink->init(sink->context, record->connectTime, static_cast<int64_t>(std::time(nullptr)),
                   module, record->productName, record->version, message.c_str(),
                   record->productFamily, record->traceLevel);
    return nullptr;
}

const char* BrenBridgeGetDefaultOriginNode(void) {
    char node[9] = {};
    vGetDefaultOriginNode(node);
    return keep(node);
}

const char* BrenBridgeGetDefaultOriginUser(void) {
    char user[9] = {};
    vGetDefaultOriginUser(user);
    return keep(user);
}

int BrenBridgeIsDsnValid(const char* dsname) {
    return dsname != nullptr && uIsDsnValid(dsname) ? 1 : 0;
}

int BrenBridgeDoesFileExist(const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    const char* m = pszCanReadFile(path);
    return m == nullptr || std::strcmp(m, "File not found") != 0 ? 1 : 0;
}

int BrenBridgeGetMembers(const BrenMemberSink* sink, const char* pattern) {
    if (pattern == nullptr) return -1;
    const std::string text = pattern;
    MemberPattern p{};
    p.text = text.c_str();
    vCheckPattern(&p);
    if (p.caseMode == PATTERN_FILE) return -1;
    MemberName* list = nullptr;
    uint32_t count = 0;
    if (pszGetMemberList(&p, &list, &count) != nullptr || list == nullptr) count = 0;
    // The directory of a partitioned data set is in EBCDIC order; the list belongs to the
    // library until its next call, so it is sorted where it stands.
    vSortMembers(list, count);
    if (sink != nullptr && sink->setMembers != nullptr)
        sink->setMembers(sink->context, static_cast<int>(count));
    if (sink != nullptr && sink->addMember != nullptr)
        for (uint32_t i = 0; i < count; ++i) sink->addMember(sink->context, list[i]);
    return static_cast<int>(count);
}

const char* BrenBridgeGetBinderData(const BrenRequestSink* sink, const char* pattern,
                                    const char* const* members, int count) {
    if (pattern == nullptr || members == nullptr || count <= 0) return keep("No members selected");
    const std::string text = pattern;
    std::vector<MemberEntry> list = memberList(members, count);
    BuildRequest request{};
    request.input.text = text.c_str();
    vCheckPattern(&request.input);
    request.members = entries(list);
    request.memberCount = static_cast<uint32_t>(list.size());
    request.inputKind = INPUT_LOAD_MODULES;
    unsigned smallest = 0;
    const unsigned blocks = uComputeDirBlocks(&request, &smallest);
    if (blocks == 0)
        return keep(request.message != nullptr ? request.message
                                               : "The load modules cannot be transmitted");
    if (sink != nullptr && sink->setPdsData != nullptr)
        sink->setPdsData(sink->context, static_cast<int>(smallest), static_cast<int>(blocks));
    return nullptr;
}

void BrenBridgeGetDevices(const BrenDeviceSink* sink, int minimumBlksize) {
    if (sink == nullptr || sink->addDevice == nullptr) return;
    for (const char* const* name = papszGetDeviceNames(); *name != nullptr && **name != '\0';
         ++name) {
        const Device d = deviceOf(*name);
        if (d.known && static_cast<int64_t>(d.largest) >= minimumBlksize)
            sink->addDevice(sink->context, *name);
    }
}

int BrenBridgeGetMaxBlksize(const char* device) {
    const Device d = deviceOf(device);
    return d.known ? static_cast<int>(d.largest) : -1;
}

int BrenBridgeGetGoodBlksize(const char* device) {
    const Device d = deviceOf(device);
    return d.known ? static_cast<int>(d.good) : -1;
}

int BrenBridgeGetMaxTrks(const char* device) {
    const Device d = deviceOf(device);
    return d.known ? static_cast<int>(d.tracks) : -1;
}

int BrenBridgeGetTrksPerCyl(const char* device) {
    const Device d = deviceOf(device);
    return d.known ? static_cast<int>(d.perCylinder) : -1;
}

const char* BrenBridgeCreateXmitFile(const BrenRequestSink* sink, const BrenBuild* build) {
    if (build == nullptr || build->xmitFile == nullptr || build->inputPath == nullptr)
        return keep("Nothing to build");
    const std::string xmitFile = build->xmitFile;
    const std::string inputPath = build->inputPath;
    const std::string messageFile = build->messageFile != nullptr ? build->messageFile : "";
    std::vector<MemberEntry> list = memberList(build->members, build->memberCount);

    BuildRequest request{};
    request.transmitFile = xmitFile.c_str();
    request.messageFile = messageFile.empty() ? nullptr : messageFile.c_str();
    request.input.text = inputPath.c_str();
    vCheckPattern(&request.input);
    request.members = entries(list);
    request.memberCount = static_cast<uint32_t>(list.size());
    request.blksize = build->blksize > 0 ? static_cast<uint32_t>(build->blksize) : 0;
    request.lrecl = build->lrecl > 0 ? static_cast<uint32_t>(build->lrecl) : 0;
    request.directoryBlocks = build->dirBlocks > 0 ? static_cast<uint32_t>(build->dirBlocks) : 0;
    request.minimumDirectoryBlocks =
        build->minimumDirBlocks > 0 ? static_cast<uint32_t>(build->minimumDirBlocks) : 0;
    request.primary = build->primarySpace > 0 ? static_cast<uint32_t>(build->primarySpace) : 0;
    request.secondary =
        build->secondarySpace > 0 ? static_cast<uint32_t>(build->secondarySpace) : 0;
    request.spaceFlags = build->primaryIsIncrement ? SPACE_ADD_PRIMARY : 0;
    request.spaceUnit = build->spaceInCylinders ? SPACE_CYLINDERS : SPACE_TRACKS;
    request.inputKind = build->filedata == BREN_FILEDATA_TEXT     ? INPUT_TEXT
                        : build->filedata == BREN_FILEDATA_BINDER ? INPUT_LOAD_MODULES
                                                                  : INPUT_RECORDS;
    copyField(request.device, build->device);
    request.tabOption =
        static_cast<uint8_t>(build->tabs > 0 && build->tabs < 256 ? build->tabs : 0);
    copyField(request.recfm, build->recfm);
    copyField(request.originNode, build->originNode);
    copyField(request.originUser, build->originUser);
    copyField(request.targetNode, build->targetNode);
    copyField(request.targetUser, build->targetUser);
    copyField(request.dsname, build->dsname);

    const int rc = iBrenCreate(&request);
    if (rc == 0 && sink != nullptr && sink->setCreationOk != nullptr)
        sink->setCreationOk(sink->context);
    return keep(request.message);
}

} // extern "C"
