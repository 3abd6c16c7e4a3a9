// The exported entry points of brencore: the runtime (connect, code pages, member names, the
// message queue), the devices, iBrenCreate, and the functions with which a front end fills
// and checks a BuildRequest step by step.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brencore.h"
#include "device.h"
#include "members.h"
#include "platform/system.h"
#include "runtime.h"
#include "writer.h"

namespace {

const rt::LibraryIdentity kIdentity{"BRENCORE.DLL", "Quorin Brenmar",
                                    reinterpret_cast<const void*>(&pszBrenDllConnect)};

// The member list that pszGetMemberList made last; it belongs to the library.
MemberName* lastList = nullptr;

// The workstation's computer name (at most 15 characters), read once per process.
const std::string& computerName() {
    static const std::string name = platform::computerName().substr(0, 15);
    return name;
}

// The logged-on user's name (at most 31 characters), read once per process: the account of
// the effective user, else $USER or $LOGNAME.
const std::string& userName() {
    static const std::string name = platform::userName().substr(0, 31);
    return name;
}

bool isUpper(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

} // namespace

OPX_EXTERN_C OPX_API const char* pszBrenDllConnect(int* status, ConnectionRecord** record,
                                                   int traceLevel, const char* modulePath,
                                                   const char* family, const char* version,
                                                   PrintCallback print, FatalCallback fatal) {
    return rt::connect(kIdentity, status, record, traceLevel, modulePath, family, version, print,
                       fatal);
}

OPX_EXTERN_C OPX_API const char* pszBrenSetConversion(void) {
    return rt::setConversion();
}

OPX_EXTERN_C OPX_API int iBrenIsMemberName(const char* name) {
    return name != nullptr && rt::isMemberName(name, std::strlen(name), rt::kAnyCase) ? 1 : 0;
}

OPX_EXTERN_C OPX_API int UtilityMessageGet(int function, void** args) {
    rt::requireConnected();
    return rt::utilityMessageGet(function, args);
}

// ---- devices --------------------------------------------------------------------------------

OPX_EXTERN_C OPX_API const char* const* papszGetDeviceNames(void) {
    rt::requireConnected();
    return bren::deviceNames();
}

OPX_EXTERN_C OPX_API int iGetDeviceInfo(const char* name, unsigned* largestBlock,
                                        unsigned* goodBlock, unsigned* largestTracks,
                                        unsigned* tracksPerCylinder) {
    rt::requireConnected();
    const bren::DeviceEntry* d = bren::findDevice(name);
    if (d == nullptr) return -1;
    if (largestBlock != nullptr) *largestBlock = d->largestBlock;
    if (goodBlock != nullptr) *goodBlock = d->goodBlock;
    if (largestTracks != nullptr) *largestTracks = d->largestTracks;
    if (tracksPerCylinder != nullptr) *tracksPerCylinder = d->tracksPerCylinder;
    return static_cast<int>(d - bren::deviceTable());
}

OPX_EXTERN_C OPX_API unsigned uComputeDirBlocks(BuildRequest* request, unsigned* smallestBlock) {
    rt::requireConnected();
    if (request == nullptr) return 0;
    return bren::computeDirectoryBlocks(*request, smallestBlock);
}

// ---- building -------------------------------------------------------------------------------

OPX_EXTERN_C OPX_API int iBrenCreate(BuildRequest* request) {
    rt::requireConnected();
    if (request == nullptr) return 16;
    // The pattern's text is what counts: its parts are derived from it again.
    bren::checkPattern(request->input);
    return bren::createTransmitFile(*request);
}

// ---- preparing a request --------------------------------------------------------------------

OPX_EXTERN_C OPX_API void vCheckPattern(MemberPattern* pattern) {
    rt::requireConnected();
    if (pattern != nullptr) bren::checkPattern(*pattern);
}

OPX_EXTERN_C OPX_API const char* pszCanReadFile(const char* path) {
    rt::requireConnected();
    const int level = rt::traceLevel();
    if (path != nullptr && rt::ioAccess(path, 4, level) == 0) return nullptr;
    if (path != nullptr && rt::ioAccess(path, 0, level) == 0) return "File cannot be read";
    return "File not found";
}

OPX_EXTERN_C OPX_API unsigned uIsDsnValid(const char* dsname) {
    rt::requireConnected();
    if (dsname == nullptr) return 0;
    const size_t length = std::strlen(dsname);
    if (length < 1 || length > 44) return 0;
    // The national characters: what EBCDIC X'5B', X'7B' and X'7C' translate to; X'C0' only
    // after a qualifier's first character.
    const uint8_t* e2a = rt::ebcdicToAscii();
    auto national = [e2a](unsigned char c) {
        return c == e2a[0x5B] || c == e2a[0x7B] || c == e2a[0x7C];
    };
    size_t qualifier = 0;
    for (size_t i = 0; i <= length; ++i) {
        const unsigned char c = static_cast<unsigned char>(dsname[i]);
        if (c == '.' || c == '\0') {
            if (qualifier == 0) return 0; // leading or trailing period, or two in a row
            qualifier = 0;
            continue;
        }
        if (++qualifier > 8) return 0;
        const bool first = qualifier == 1;
        if (isUpper(c) || national(c)) continue;
        if (!first && (isDigit(c) || c == '-' || c == e2a[0xC0])) continue;
        return 0;
    }
    return 1;
}

OPX_EXTERN_C OPX_API void vGetDefaultOriginNode(char node[9]) {
    rt::requireConnected();
    if (node != nullptr) bren::normalizeOriginName(computerName().c_str(), 15, node);
}

OPX_EXTERN_C OPX_API void vGetDefaultOriginUser(char user[9]) {
    rt::requireConnected();
    if (user != nullptr) bren::normalizeOriginName(userName().c_str(), 31, user);
}

OPX_EXTERN_C OPX_API const char* pszGetMemberList(MemberPattern* pattern, MemberName** list,
                                                  uint32_t* count) {
    rt::requireConnected();
    if (list != nullptr) *list = nullptr;
    if (count != nullptr) *count = 0;
    if (pattern == nullptr) return rt::message("No matching files found for \"%s\"", "");
    std::vector<std::string> names;
    const std::string message = bren::listMembers(*pattern, names, nullptr);
    if (!message.empty()) return rt::message("%s", message.c_str());
    // The list grows by 28 entries at a time; the previous one is released.
    rt::release(lastList);
    const size_t capacity = (names.size() + 27) / 28 * 28;
    lastList = static_cast<MemberName*>(rt::allocArray(capacity, sizeof(MemberName)));
    for (size_t i = 0; i < names.size(); ++i)
        std::memcpy(lastList[i], names[i].c_str(), names[i].size() + 1);
    if (list != nullptr) *list = lastList;
    if (count != nullptr) *count = static_cast<uint32_t>(names.size());
    return nullptr;
}

OPX_EXTERN_C OPX_API const char* pszCheckIfMembersExist(BuildRequest* request) {
    rt::requireConnected();
    if (request == nullptr || (request->memberCount > 0 && request->members == nullptr))
        return "Invalid member list!";
    bren::checkPattern(request->input);
    bren::MemberFiles files(request->input);
    for (uint32_t i = 0; i < request->memberCount; ++i) {
        const char* member = request->members[i];
        std::string path, other;
        switch (files.find(member, &path, &other)) {
        case bren::MemberFiles::kMissing:
            return rt::message("Member %s does not exist as file \"%s\"", member, path.c_str());
        case bren::MemberFiles::kAmbiguous:
            return rt::message("Duplicate member %s: files \"%s\" and \"%s\"", member, path.c_str(),
                               other.c_str());
        default:
            break;
        }
        if (rt::ioAccess(path.c_str(), 4, rt::traceLevel()) != 0)
            return rt::message("Cannot read member %s as file \"%s\"", member, path.c_str());
    }
    return nullptr;
}

OPX_EXTERN_C OPX_API void vSortMembers(MemberName* list, uint32_t count) {
    rt::requireConnected();
    bren::sortMemberNames(list, count);
}
