// bren: the command-line front end of the transmit-file builder.
//
//   bren create OUT.xmi --dsn NAME [options] INPUT-OR-PATTERN
//                          one file becomes a sequential data set; a pattern whose last part
//                          starts with "&M", "&m" or "*" a partitioned one of its files
//   bren devices           the devices, their capacities and best block sizes
//
// Both take --json for scripts. Errors are one line on standard error with exit status 1
// (2 for a command line that cannot be used).
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "brencore.h"
#include "codepage_warning.h"
#include "platform/console.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

void printLine(const char* line) {
    std::fputs(line, stderr);
}
void fatalLine(const char*) {} // the library writes the text to standard error itself

int fail(const std::string& message) {
    std::fprintf(stderr, "bren: %s\n", message.c_str());
    return 1;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Connects with the family and version the library expects and sets the code pages from
// CODEPAGE_ASCII / CODEPAGE_EBCDIC.
bool connectLibrary(int trace) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszBrenDllConnect(&status, &record, trace, nullptr, "Quorin Toolbench", "3.0.07", printLine,
                      fatalLine);
    cli::warnIgnoredCodePages("bren");
    if (const char* m = pszBrenSetConversion()) {
        std::fprintf(stderr,
                     "bren: %s (set CODEPAGE_ASCII and CODEPAGE_EBCDIC to a pair that matches: "
                     "cpconv --list)\n",
                     m);
        return false;
    }
    return true;
}

struct Device {
    std::string name;
    unsigned largest = 0, good = 0, tracks = 0, tracksPerCylinder = 0;
};

bool deviceInfo(const std::string& name, Device& d) {
    d.name = name;
    return iGetDeviceInfo(name.c_str(), &d.largest, &d.good, &d.tracks, &d.tracksPerCylinder) >= 0;
}

// The best block size of a record format on a device: the largest that two blocks to a track
// allow (the half-track size), a multiple of LRECL for fixed formats.
unsigned bestBlock(const Device& d, const std::string& recfm, unsigned lrecl) {
    const unsigned good = d.good != 0 ? d.good : 27998;
    if (recfm.empty()) return good;
    const bool blocked = recfm.find('B') != std::string::npos;
    switch (recfm[0]) {
    case 'F':
        if (lrecl == 0) return 0;
        if (!blocked) return lrecl;
        return good >= lrecl ? good / lrecl * lrecl : lrecl;
    case 'V':
        if (!blocked && recfm.find('S') == std::string::npos) return lrecl + 4;
        return good;
    default:
        return good;
    }
}

int devices(bool asJson, unsigned lrecl) {
    json list = json::array();
    if (!asJson)
        std::printf(
            "Device  Tracks/cyl  Largest block  Half-track  Blocks/track  FB %-5u  Max tracks  "
            "Capacity MB\n",
            lrecl);
    for (const char* const* n = papszGetDeviceNames(); **n != '\0'; ++n) {
        Device d;
        if (!deviceInfo(*n, d)) continue;
        // The good block is a half track where it is smaller than the largest block, else the
        // whole track; the capacity is what the data set holds in blocks of that size.
        const unsigned perTrack = d.good < d.largest ? 2 : 1;
        const unsigned fb = bestBlock(d, "FB", lrecl);
        const uint64_t capacity = uint64_t(d.tracks) * perTrack * d.good;
        list.push_back({{"name", d.name},
                        {"tracksPerCylinder", d.tracksPerCylinder},
                        {"largestBlock", d.largest},
                        {"halfTrackBlock", d.good},
                        {"blocksPerTrack", perTrack},
                        {"bestFixedBlock", fb},
                        {"lrecl", lrecl},
                        {"largestTracks", d.tracks},
                        {"capacityBytes", capacity}});
        if (!asJson)
            std::printf("%-6s  %10u  %13u  %10u  %12u  %8u  %10u  %11.0f\n", d.name.c_str(),
                        d.tracksPerCylinder, d.largest, d.good, perTrack, fb, d.tracks,
                        double(capacity) / 1e6);
    }
    if (asJson) std::printf("%s\n", list.dump(2).c_str());
    return 0;
}

// "NODE" or "NODE.USER" into the request's fields (upper case, at most 8 characters each).
void address(const std::string& text, char node[9], char user[9]) {
    const size_t dot = text.find('.');
    const std::string n = upper(text.substr(0, dot)).substr(0, 8);
    std::snprintf(node, 9, "%s", n.c_str());
    if (dot != std::string::npos)
        std::snprintf(user, 9, "%s", upper(text.substr(dot + 1)).substr(0, 8).c_str());
}

// "[+]PRIMARY[,SECONDARY][,TRK|CYL]". Returns false for text that is not that.
bool parseSpace(const std::string& text, BuildRequest& r) {
    std::string s = upper(text);
    r.spaceFlags = 0;
    if (!s.empty() && s[0] == '+') {
        r.spaceFlags = SPACE_ADD_PRIMARY;
        s.erase(0, 1);
    }
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t comma = s.find(',', at);
        parts.push_back(s.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    if (parts.size() > 3) return false;
    r.spaceUnit = SPACE_TRACKS;
    if (parts.size() >= 2 && (parts.back() == "TRK" || parts.back() == "TRACKS" ||
                              parts.back() == "CYL" || parts.back() == "CYLINDERS")) {
        r.spaceUnit = parts.back()[0] == 'C' ? SPACE_CYLINDERS : SPACE_TRACKS;
        parts.pop_back();
    }
    if (parts.empty() || parts.size() > 2) return false;
    auto number = [](const std::string& p, uint32_t& out) {
        if (p.empty() || p.size() > 9 || p.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = static_cast<uint32_t>(std::stoul(p));
        return true;
    };
    if (!number(parts[0], r.primary)) return false;
    r.secondary = 0;
    if (parts.size() == 2 && !number(parts[1], r.secondary)) return false;
    return true;
}

// Bytes this process has read so far (for the progress display), or -1.
long long bytesRead() {
    std::ifstream in("/proc/self/io");
    std::string key;
    long long value;
    while (in >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

struct CreateOptions {
    std::string output, input, dsname, recfm = "FB", device = "3390", space, message, kind = "text";
    std::string from, to;
    unsigned lrecl = 0, blksize = 0, dirBlocks = 0, tabs = 8;
    bool asJson = false, verbose = false;
};

int create(const CreateOptions& o) {
    BuildRequest r{};
    r.transmitFile = o.output.c_str();
    r.input.text = o.input.c_str();
    vCheckPattern(&r.input);
    const bool partitioned = r.input.caseMode != PATTERN_FILE;

    const std::string dsname = upper(o.dsname);
    if (!uIsDsnValid(dsname.c_str()))
        return fail("invalid data set name \"" + o.dsname +
                    "\": 1 to 44 characters, qualifiers of 1 to 8 letters, digits, $ # @ - "
                    "separated by periods, "
                    "each starting with a letter or $ # @");
    std::snprintf(r.dsname, sizeof r.dsname, "%s", dsname.c_str());

    const std::string recfm = upper(o.recfm);
    if (recfm.size() > 4)
        return fail("invalid record format \"" + o.recfm +
                    "\" (F, FB, V, VB, VBS, U, with A or M)");
    std::snprintf(r.recfm, sizeof r.recfm, "%s", recfm.c_str());

    if (o.kind == "text")
        r.inputKind = INPUT_TEXT;
    else if (o.kind == "records")
        r.inputKind = INPUT_RECORDS;
    else if (o.kind == "load")
        r.inputKind = INPUT_LOAD_MODULES;
    else
        return fail("--input-kind must be text, records or load");
    r.tabOption = static_cast<uint8_t>(o.tabs);

    const std::string deviceName = o.device == "none" ? std::string() : o.device;
    Device device;
    if (!deviceName.empty() && !deviceInfo(deviceName, device))
        return fail("unknown device \"" + o.device + "\" (bren devices lists them)");
    std::snprintf(r.device, sizeof r.device, "%.7s", deviceName.c_str());

    // Defaults: 80 for fixed records, 255 for variable ones (32756 when spanned); for blocked
    // formats the device's half-track block, in whole records for fixed ones.
    const char format = recfm.empty() ? 'F' : recfm[0];
    const bool blocked = recfm.find('B') != std::string::npos;
    r.lrecl = o.lrecl;
    if (r.lrecl == 0 && format == 'F') r.lrecl = 80;
    if (r.lrecl == 0 && format == 'V') r.lrecl = recfm.find('S') != std::string::npos ? 32756 : 255;
    r.blksize = o.blksize;
    if (r.blksize == 0 && (blocked || format == 'U' || recfm.find('S') != std::string::npos))
        r.blksize = bestBlock(device, recfm, r.lrecl);

    std::vector<std::string> members;
    if (partitioned) {
        MemberName* list = nullptr;
        uint32_t count = 0;
        if (const char* m = pszGetMemberList(&r.input, &list, &count)) return fail(m);
        r.members = list;
        r.memberCount = count;
        unsigned smallest = 0;
        const unsigned needed = uComputeDirBlocks(&r, &smallest);
        if (needed == 0) return fail(r.message ? r.message : "cannot count the directory blocks");
        if (r.inputKind == INPUT_LOAD_MODULES && o.blksize == 0 && r.blksize < smallest)
            r.blksize = smallest;
        r.minimumDirectoryBlocks = needed;
        // Room to add members on the mainframe: twice what the members need by default.
        r.directoryBlocks = o.dirBlocks != 0 ? o.dirBlocks : std::min(2 * needed, 32767u);
        if (o.dirBlocks != 0 && o.dirBlocks < needed)
            return fail("--dir-blocks " + std::to_string(o.dirBlocks) +
                        " is too few: the members need " + std::to_string(needed));
        // In the order of the directory.
        vSortMembers(list, count);
        for (uint32_t i = 0; i < count; ++i) members.push_back(list[i]);
    }
    if (!o.space.empty() && !parseSpace(o.space, r))
        return fail("--space takes [+]PRIMARY[,SECONDARY][,TRK|CYL], for example +5,15,TRK");
    if (!o.message.empty()) r.messageFile = o.message.c_str();

    vGetDefaultOriginNode(r.originNode);
    vGetDefaultOriginUser(r.originUser);
    if (!o.from.empty()) address(o.from, r.originNode, r.originUser);
    std::memcpy(r.targetNode, r.originNode, sizeof r.targetNode);
    std::memcpy(r.targetUser, r.originUser, sizeof r.targetUser);
    if (!o.to.empty()) address(o.to, r.targetNode, r.targetUser);

    // The bytes to read, for the progress display on a terminal.
    long long total = 0;
    std::error_code ec;
    if (partitioned) {
        for (const auto& e : fs::directory_iterator(
                 fs::path(std::string(r.input.text, r.input.prefixLength)).empty()
                     ? fs::path(".")
                     : fs::path(std::string(r.input.text, r.input.prefixLength)),
                 ec))
            if (e.is_regular_file(ec)) total += static_cast<long long>(e.file_size(ec));
    } else {
        total = static_cast<long long>(fs::file_size(o.input, ec));
        if (ec) total = 0;
    }
    const bool progress = platform::isTerminal(stderr) && total > (1 << 20);
    const long long before = bytesRead();
    // The build runs on a thread of its own; this one shows how far it got.
    std::future<int> result = std::async(std::launch::async, [&r] { return iBrenCreate(&r); });
    const auto start = std::chrono::steady_clock::now();
    bool shown = false;
    while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (!progress || std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500))
            continue;
        const long long now = bytesRead();
        if (now < 0 || before < 0) continue;
        const double share = std::min(1.0, double(now - before) / double(total));
        std::fprintf(stderr, "\r\033[Kbren: %s %3.0f%% (%.0f of %.0f MB)", o.output.c_str(),
                     share * 100, double(now - before) / 1e6, double(total) / 1e6);
        shown = true;
    }
    const int rc = result.get();
    if (shown) std::fprintf(stderr, "\r\033[K");
    const std::string message = r.message != nullptr ? r.message : "";
    if (rc != 0) return fail(message);

    if (o.asJson) {
        json doc = {{"file", o.output},
                    {"dsname", r.dsname},
                    {"organization", partitioned ? "partitioned" : "sequential"},
                    {"recfm", r.recfm},
                    {"lrecl", r.lrecl},
                    {"blksize", r.blksize},
                    {"device", r.device},
                    {"records", r.records},
                    {"size", static_cast<uint64_t>(fs::file_size(o.output, ec))},
                    {"message", message}};
        if (partitioned) {
            doc["members"] = members;
            doc["directoryBlocks"] = r.directoryBlocks;
        }
        if (r.messageFile != nullptr) doc["messageFile"] = o.message;
        std::printf("%s\n", doc.dump(2).c_str());
    } else if (o.verbose) {
        std::printf("%s\n", message.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Builds TSO TRANSMIT files from workstation files: one file becomes a sequential data "
        "set,\n"
        "the files of a pattern (&M, &m or * in its last part) a partitioned one.\n"
        "Code pages come from CODEPAGE_ASCII (default 819) and CODEPAGE_EBCDIC (default 1047).",
        "bren"};
    // Options are --name or -x only: a path that begins with a slash (which on Windows names
    // the current drive's root) is an argument, never a Windows-style /option.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    int trace = 0;
    app.add_option("--trace", trace,
                   "trace level of the library: 1 errors, 2 opens, 3 calls, 4 data dumps")
        ->check(CLI::Range(0, 4));

    CreateOptions o;
    CLI::App* createCmd = app.add_subcommand("create", "build a transmit file");
    createCmd->footer(
        "Examples:\n"
        "  bren create jcl.xmi --dsn USER.JCL 'src/&M.jcl'       members from src/NAME.jcl\n"
        "  bren create lib.xmi --dsn USER.ASM 'src/*.asm'        members from any-case names\n"
        "  bren create data.xmi --dsn USER.DATA --recfm VB --lrecl 255 data.txt\n"
        "  bren create recs.xmi --dsn USER.RECS --input-kind records --recfm FB --lrecl 80 "
        "recs.bin");
    createCmd->add_option("OUT", o.output, "the transmit file to write (replaced when it exists)")
        ->required();
    createCmd
        ->add_option("INPUT", o.input,
                     "a file, or a pattern of member files ('dir/&M.txt', 'dir/*.txt')")
        ->required();
    createCmd->add_option("--dsn", o.dsname, "the data set name on the mainframe")->required();
    CLI::Option* recfmOption = createCmd
                                   ->add_option("--recfm", o.recfm,
                                                "record format: F, FB, V, VB, VS, VBS, U (with A "
                                                "or M); default FB, U for load modules")
                                   ->capture_default_str();
    createCmd->add_option("--lrecl", o.lrecl, "record length (default 80 for F, 255 for V)");
    createCmd->add_option("--blksize", o.blksize,
                          "block size (default: the device's half-track size)");
    createCmd
        ->add_option("--device", o.device,
                     "3330 3340 3350 3375 3380 3390 9345, or none (sequential only)")
        ->capture_default_str();
    createCmd->add_option("--dir-blocks", o.dirBlocks,
                          "directory blocks to allocate (default: twice what is needed)");
    createCmd->add_option("--space", o.space,
                          "[+]PRIMARY[,SECONDARY][,TRK|CYL]; + adds PRIMARY to what the data needs "
                          "(default: what the data needs)");
    createCmd->add_option("--message", o.message, "a text file sent in front of the data set");
    createCmd
        ->add_option("--input-kind", o.kind,
                     "text (lines, translated), records (stored layout) or load")
        ->capture_default_str();
    createCmd->add_option("--tabs", o.tabs, "tab stops of text input: 0 keeps tabs, 4 or 8")
        ->check(CLI::IsMember({0u, 4u, 8u}))
        ->capture_default_str();
    createCmd->add_option("--from", o.from, "origin NODE[.USER] (default: this computer and user)");
    createCmd->add_option("--to", o.to, "target NODE[.USER] (default: the origin)");
    createCmd->add_flag("--json", o.asJson, "print the result as JSON");
    createCmd->add_flag("-v,--verbose", o.verbose, "print what was made");

    bool devicesJson = false;
    unsigned lrecl = 80;
    CLI::App* devicesCmd =
        app.add_subcommand("devices", "the devices, their capacities and best block sizes");
    devicesCmd->add_option("--lrecl", lrecl, "LRECL of the fixed block size shown")
        ->capture_default_str();
    devicesCmd->add_flag("--json", devicesJson, "print JSON instead of text");
    CLI11_PARSE(app, argc, argv);

    // Load modules are records of undefined format.
    if (o.kind == "load" && recfmOption->count() == 0) o.recfm = "U";
    if (!connectLibrary(trace)) return 2;
    if (*devicesCmd) return devices(devicesJson, lrecl);
    return create(o);
}
