// Relink: the work files, the response file and the binder's path. The extraction request
// drives the steps (extract.cpp): deck to work file #1, response file to work file #2, the
// binder started and waited for, both work files removed.
//
//   -asa -sysprint+ /work/relink.lst
//   -parm "LET,LIST=ALL" -syslmod /work/load/&M
//   /tmp/opx-deck.Xa81Kq
#include "relink.h"

#include <cerrno>
#include <cstring>

#include "connection.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "runtime.h"

namespace opx {

RelinkState::~RelinkState() {
    removeWorkFiles();
}

std::string RelinkState::listingOf(const std::string& member) const {
    switch (listingMode) {
    case 0: {
        std::string lower = member;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return listingPrefix + lower + listingSuffix;
    }
    case 1:
        return listingPrefix + member + listingSuffix;
    case 2:
        return listingPrefix;
    default:
        return "";
    }
}

const char* RelinkState::createWorkFiles() {
    // Names of our own from mkstemp: no other process can have made or linked them.
    if (deckFile.empty() && !platform::createWorkFile("opx-deck", deckFile))
        return "Creation of binder work file #1 failed.";
    if (responseFile.empty() && !platform::createWorkFile("opx-response", responseFile))
        return "Creation of binder work file #2 failed.";
    return nullptr;
}

void RelinkState::removeWorkFiles() {
    const int level = rt::isConnected() ? rt::traceLevel() : 0;
    for (std::string* f : {&deckFile, &responseFile}) {
        if (f->empty()) continue;
        rt::ioRemove(f->c_str(), level);
        f->clear();
    }
}

std::string binderPath() {
    // vrl beside the library in the build tree, or in the programs' folder of an installation.
    const char* module = rt::modulePath();
    if (module == nullptr) return platform::executableName("vrl");
    return platform::companionProgramPath(module, "vrl");
}

std::string responseValue(const std::string& value) {
    const bool plain = !value.empty() && value.find_first_of(" \t\"") == std::string::npos;
    if (plain) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string responseText(const RelinkState& state, const std::string& listing,
                         const std::string& parameters, const std::string& syslmod) {
    std::string text;
    if (!listing.empty())
        text += "-asa -sysprint" + std::string(state.listingMode == 2 ? "+" : "") + " " +
                responseValue(listing) + "\n";
    text += "-parm " + responseValue(parameters) + " -syslmod " + responseValue(syslmod) + "\n";
    text += responseValue(state.deckFile) + "\n";
    return text;
}

const char* writeWorkFile(const std::string& path, const void* data, size_t size) {
    IoFileCore f{};
    f.path = path.c_str();
    f.mode = IO_WRITE;
    f.binary = 1;
    f.traceLevel = rt::traceLevel();
    if (rt::ioOpen(f) != IO_OK)
        return rt::message("Open of binder work file \"%s\" failed: %s", path.c_str(),
                           std::strerror(f.errnum));
    const bool written = size == 0 || rt::ioWrite(f, data, 1, size) == IO_OK;
    const int errnum = f.errnum;
    const bool closed = rt::ioClose(f, false) == IO_OK;
    if (!written || !closed)
        return rt::message("Write to binder work file \"%s\" failed: %s", path.c_str(),
                           std::strerror(written ? f.errnum : errnum));
    return nullptr;
}

} // namespace opx
