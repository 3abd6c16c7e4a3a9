// Connection, fatal stop, print line, storage, translation tables, member names and the
// message queue of the core library runtime.
#include "runtime.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "codexa.h"
#include "platform/paths.h"

namespace rt {

namespace {

// The translation tables in force until a conversion is set: IBM code page 1047 to
// ISO 8859-1 and back, with EBCDIC NL (X'15') paired with LF (X'0A') and EBCDIC LF (X'25') with
// X'85'.
const uint8_t kBuiltinEbcdicToAscii[256] = {
    0x00, 0x01, 0x02, 0x03, 0x9C, 0x09, 0x86, 0x7F, 0x97, 0x8D, 0x8E, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x9D, 0x0A, 0x08, 0x87, 0x18, 0x19, 0x92, 0x8F, 0x1C, 0x1D, 0x1E, 0x1F,
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x17, 0x1B, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x05, 0x06, 0x07,
    0x90, 0x91, 0x16, 0x93, 0x94, 0x95, 0x96, 0x04, 0x98, 0x99, 0x9A, 0x9B, 0x14, 0x15, 0x9E, 0x1A,
    0x20, 0xA0, 0xE2, 0xE4, 0xE0, 0xE1, 0xE3, 0xE5, 0xE7, 0xF1, 0xA2, 0x2E, 0x3C, 0x28, 0x2B, 0x7C,
    0x26, 0xE9, 0xEA, 0xEB, 0xE8, 0xED, 0xEE, 0xEF, 0xEC, 0xDF, 0x21, 0x24, 0x2A, 0x29, 0x3B, 0x5E,
    0x2D, 0x2F, 0xC2, 0xC4, 0xC0, 0xC1, 0xC3, 0xC5, 0xC7, 0xD1, 0xA6, 0x2C, 0x25, 0x5F, 0x3E, 0x3F,
    0xF8, 0xC9, 0xCA, 0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0x60, 0x3A, 0x23, 0x40, 0x27, 0x3D, 0x22,
    0xD8, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0xAB, 0xBB, 0xF0, 0xFD, 0xFE, 0xB1,
    0xB0, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0xAA, 0xBA, 0xE6, 0xB8, 0xC6, 0xA4,
    0xB5, 0x7E, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xA1, 0xBF, 0xD0, 0x5B, 0xDE, 0xAE,
    0xAC, 0xA3, 0xA5, 0xB7, 0xA9, 0xA7, 0xB6, 0xBC, 0xBD, 0xBE, 0xDD, 0xA8, 0xAF, 0x5D, 0xB4, 0xD7,
    0x7B, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0xAD, 0xF4, 0xF6, 0xF2, 0xF3, 0xF5,
    0x7D, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0xB9, 0xFB, 0xFC, 0xF9, 0xFA, 0xFF,
    0x5C, 0xF7, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xB2, 0xD4, 0xD6, 0xD2, 0xD3, 0xD5,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0xB3, 0xDB, 0xDC, 0xD9, 0xDA, 0x9F,
};
const uint8_t kBuiltinAsciiToEbcdic[256] = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2D, 0x2E, 0x2F, 0x16, 0x05, 0x15, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x3C, 0x3D, 0x32, 0x26, 0x18, 0x19, 0x3F, 0x27, 0x1C, 0x1D, 0x1E, 0x1F,
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xAD, 0xE0, 0xBD, 0x5F, 0x6D,
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1, 0x07,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x06, 0x17, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x09, 0x0A, 0x1B,
    0x30, 0x31, 0x1A, 0x33, 0x34, 0x35, 0x36, 0x08, 0x38, 0x39, 0x3A, 0x3B, 0x04, 0x14, 0x3E, 0xFF,
    0x41, 0xAA, 0x4A, 0xB1, 0x9F, 0xB2, 0x6A, 0xB5, 0xBB, 0xB4, 0x9A, 0x8A, 0xB0, 0xCA, 0xAF, 0xBC,
    0x90, 0x8F, 0xEA, 0xFA, 0xBE, 0xA0, 0xB6, 0xB3, 0x9D, 0xDA, 0x9B, 0x8B, 0xB7, 0xB8, 0xB9, 0xAB,
    0x64, 0x65, 0x62, 0x66, 0x63, 0x67, 0x9E, 0x68, 0x74, 0x71, 0x72, 0x73, 0x78, 0x75, 0x76, 0x77,
    0xAC, 0x69, 0xED, 0xEE, 0xEB, 0xEF, 0xEC, 0xBF, 0x80, 0xFD, 0xFE, 0xFB, 0xFC, 0xBA, 0xAE, 0x59,
    0x44, 0x45, 0x42, 0x46, 0x43, 0x47, 0x9C, 0x48, 0x54, 0x51, 0x52, 0x53, 0x58, 0x55, 0x56, 0x57,
    0x8C, 0x49, 0xCD, 0xCE, 0xCB, 0xCF, 0xCC, 0xE1, 0x70, 0xDD, 0xDE, 0xDB, 0xDC, 0x8D, 0x8E, 0xDF,
};
const uint8_t kDisplayTable[256] = {
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x2E, 0x3C, 0x28, 0x2B, 0x7C,
    0x26, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x21, 0x24, 0x2A, 0x29, 0x3B, 0x20,
    0x2D, 0x2F, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x2C, 0x25, 0x5F, 0x3E, 0x3F,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x60, 0x3A, 0x23, 0x40, 0x27, 0x3D, 0x22,
    0x20, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x7E, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x5E, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x5B, 0x5D, 0x20, 0x20, 0x20, 0x20,
    0x7B, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x7D, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x5C, 0x20, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
};

struct State {
    ConnectionRecord record{};
    const ConnectionRecord* connected = nullptr;
    PrintCallback print = nullptr;
    FatalCallback fatal = nullptr;
    bool conversionSet = false;
    uint8_t e2a[256];
    uint8_t a2e[256];
    char message[kMessageBufferSize];
    char line[kMessageBufferSize];
    State() {
        std::memcpy(e2a, kBuiltinEbcdicToAscii, 256);
        std::memcpy(a2e, kBuiltinAsciiToEbcdic, 256);
    }
    // The library's own copy of its path goes with the library (at exit or when unloaded).
    ~State() { std::free(record.modulePath); }
};

State& state() {
    static State s;
    return s;
}

// Whether the bytes of two NUL-terminated texts are equal, the terminator included; a null
// text matches nothing.
bool sameText(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

// The module path of the connection record, from the caller's path, the library's own file or
// the running program.
char* chooseModulePath(const LibraryIdentity& id, const char* given) {
    if (given == nullptr) {
        std::string own = platform::modulePathOf(id.anchor);
        return own.empty() ? nullptr : duplicate(own.c_str());
    }
    // An absolute path is taken as it stands.
    if (platform::isAbsolutePath(given)) return duplicate(given);
    // Otherwise the calling program's own path is used: always for a bare file name, and for a
    // relative path when the program's path is known and absolute.
    const std::string program = platform::programPath();
    const bool programUsable = !program.empty() && platform::isAbsolutePath(program.c_str());
    if (platform::lastSeparator(given) == nullptr || programUsable)
        return duplicate(program.c_str());
    return duplicate(given);
}

} // namespace

// ---- connection ------------------------------------------------------------------------------

const char* connect(const LibraryIdentity& id, int* status, ConnectionRecord** record,
                    int traceLevel, const char* modulePathArg, const char* family,
                    const char* version, PrintCallback print, FatalCallback fatalCallback) {
    State& s = state();
    if (record != nullptr) *record = nullptr;
    if (status != nullptr) *status = 0;
    s.print = print;
    s.fatal = fatalCallback;
    s.connected = nullptr;
    std::free(s.record.modulePath);
    s.record = ConnectionRecord{};
    s.record.connectTime = static_cast<int64_t>(std::time(nullptr));
    s.record.traceLevel = traceLevel;
    s.record.productName = id.productName;
    s.record.productFamily = kFamily;
    s.record.version = kVersion;
    s.record.modulePath = chooseModulePath(id, modulePathArg);

    if (!sameText(family, kFamily) || !sameText(version, kVersion)) {
        fatalf("%s %s version %s is\nincompatible with %s version %s\n", kFamily, id.fileName,
               kVersion, family != nullptr ? family : "", version != nullptr ? version : "");
    }
    s.connected = &s.record;
    if (record != nullptr) *record = &s.record;
    return nullptr;
}

void requireConnected() {
    if (state().connected == nullptr) fatal("DLL is not connected");
}

bool isConnected() {
    return state().connected != nullptr;
}
const ConnectionRecord& connection() {
    return state().record;
}
int traceLevel() {
    return state().record.traceLevel;
}
const char* modulePath() {
    return state().record.modulePath;
}

// ---- fatal stop, print line, messages ----------------------------------------------------------

void fatal(const char* text) {
    State& s = state();
    s.connected = nullptr;
    if (s.fatal != nullptr) s.fatal(text);
    std::fputs(text, stderr);
    if (*text != '\0' && text[std::strlen(text) - 1] != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
    std::exit(20);
}

void fatalf(const char* format, ...) {
    char text[kMessageBufferSize];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    fatal(text);
}

void printLine(const char* text) {
    State& s = state();
    if (s.print != nullptr) {
        s.print(text);
    } else {
        std::fputs(text, stderr);
    }
}

void printf(const char* format, ...) {
    State& s = state();
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(s.line, sizeof s.line, format, ap);
    va_end(ap);
    printLine(s.line);
}

const char* message(const char* format, ...) {
    State& s = state();
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(s.message, sizeof s.message, format, ap);
    va_end(ap);
    return s.message;
}

// ---- storage -----------------------------------------------------------------------------------

namespace {
[[noreturn]] void outOfStorage(size_t size) {
    fatalf("Heap storage allocation failed for %lu bytes!\n", static_cast<unsigned long>(size));
}
} // namespace

void* allocZeroed(size_t size) {
    void* p = std::calloc(1, size == 0 ? 1 : size);
    if (p == nullptr) outOfStorage(size);
    return p;
}

void* allocArray(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) outOfStorage(SIZE_MAX);
    return allocZeroed(count * size);
}

void* grow(void* block, size_t oldSize, size_t newSize) {
    if (newSize <= oldSize && block != nullptr) return block;
    if (block == nullptr) return allocZeroed(newSize);
    void* p = std::realloc(block, newSize);
    if (p == nullptr) outOfStorage(newSize);
    std::memset(static_cast<char*>(p) + oldSize, 0, newSize - oldSize);
    return p;
}

char* duplicate(const char* text) {
    const size_t n = std::strlen(text);
    char* copy = static_cast<char*>(allocZeroed(n + 1));
    std::memcpy(copy, text, n);
    return copy;
}

void release(void* block) {
    std::free(block);
}

// ---- translation -------------------------------------------------------------------------------

const uint8_t* ebcdicToAscii() {
    return state().e2a;
}
const uint8_t* asciiToEbcdic() {
    return state().a2e;
}
const uint8_t* displayTable() {
    return kDisplayTable;
}

const char* setConversion() {
    State& s = state();
    if (s.conversionSet) return nullptr;
    CodePageEnv env{};
    uGetCodePageEnv(&env);
    const char* result = nullptr;
    Charset* ascii = pCharsetLoad(env.ascii, 0);
    Charset* ebcdic = nullptr;
    if (ascii == nullptr || ascii->kind != CODEXA_KIND_ASCII) {
        result = message("KDU803E %u is not a valid %s code page number.",
                         static_cast<unsigned>(env.ascii), "ASCII");
    } else {
        ebcdic = pCharsetLoad(env.ebcdic, 0);
        if (ebcdic == nullptr || ebcdic->kind != CODEXA_KIND_EBCDIC) {
            result = message("KDU803E %u is not a valid %s code page number.",
                             static_cast<unsigned>(env.ebcdic), "EBCDIC");
        } else {
            Conversion* conv = pConversionBuild(ascii, ebcdic);
            // The national characters of member names (EBCDIC X'5B', X'7B', X'7C') need
            // workstation equivalents, and the letters must be where text expects them.
            const bool usable = conv != nullptr && conv->reverse[0x5B] != 0x1A &&
                                conv->reverse[0x7B] != 0x1A && conv->reverse[0x7C] != 0x1A &&
                                conv->reverse[0x81] == 'a';
            if (usable) {
                std::memcpy(s.a2e, conv->forward, 256);
                std::memcpy(s.e2a, conv->reverse, 256);
                s.conversionSet = true;
            } else {
                result =
                    message("KDU804E ASCII code page %u and EBCDIC code page %u are incompatible.",
                            static_cast<unsigned>(env.ascii), static_cast<unsigned>(env.ebcdic));
            }
            // Only the two tables are kept: the conversion refers to the character sets,
            // which are released below.
            vConversionFree(conv);
        }
    }
    vCharsetFree(ebcdic);
    vCharsetFree(ascii);
    return result;
}

void translateText(const uint8_t* ebcdic, size_t length, char* out, size_t capacity) {
    if (capacity == 0) return;
    const uint8_t* table = state().e2a;
    size_t n = 0;
    for (; n < length && n + 1 < capacity && ebcdic[n] != 0; ++n)
        out[n] = static_cast<char>(table[ebcdic[n]]);
    std::memset(out + n, 0, capacity - n);
}

// ---- member names ------------------------------------------------------------------------------

bool isMemberName(const char* name, size_t length, CaseRule rule) {
    if (name == nullptr || length == 0) return false;
    const uint8_t* table = state().e2a;
    const uint8_t national[4] = {table[0x5B], table[0x7B], table[0x7C], table[0xC0]};
    const size_t examined = length < 8 ? length : 8;
    auto byte = [name](size_t i) { return static_cast<uint8_t>(name[i]); };
    if ((byte(0) >= '0' && byte(0) <= '9') || byte(0) == national[3]) return false;
    size_t accepted = 0;
    for (; accepted < examined; ++accepted) {
        const uint8_t c = byte(accepted);
        if (c <= 0x20) break;
        const bool upper = c >= 'A' && c <= 'Z';
        const bool lower = c >= 'a' && c <= 'z';
        const bool digit = c >= '0' && c <= '9';
        const bool isNational =
            c == national[0] || c == national[1] || c == national[2] || c == national[3];
        if (digit || isNational) continue;
        if (upper && rule != kLowerCase) continue;
        if (lower && rule != kUpperCase) continue;
        break;
    }
    return accepted == length;
}

// ---- utility message queue ---------------------------------------------------------------------

} // namespace rt

// A queued message; its text follows the node in the same allocation.
struct UtilityMessage {
    UtilityMessage* next;
    uint8_t severity;
    uint16_t length;
    char* text;
};

struct UtilityMessageQueue {
    UtilityMessage* first;
    UtilityMessage* last;
    uint32_t count;
};

namespace rt {

void queueMessage(UtilityMessageQueue** queue, int severity, std::string_view text) {
    if (queue == nullptr) return;
    if (*queue == nullptr)
        *queue = static_cast<UtilityMessageQueue*>(allocZeroed(sizeof(UtilityMessageQueue)));
    const size_t length =
        text.size() < UTILITY_MESSAGE_MAX_TEXT ? text.size() : UTILITY_MESSAGE_MAX_TEXT;
    auto* node = static_cast<UtilityMessage*>(allocZeroed(sizeof(UtilityMessage) + length));
    node->text = reinterpret_cast<char*>(node + 1);
    node->severity = static_cast<uint8_t>(severity);
    node->length = static_cast<uint16_t>(length);
    std::memcpy(node->text, text.data(), length);
    UtilityMessageQueue* q = *queue;
    if (q->last != nullptr)
        q->last->next = node;
    else
        q->first = node;
    q->last = node;
    ++q->count;
}

int utilityMessageGet(int function, void** args) {
    if (function != UTILITY_MESSAGE_TAKE) return UTILITY_MESSAGE_NO_QUEUE;
    if (args == nullptr || args[0] == nullptr) return UTILITY_MESSAGE_NO_QUEUE;
    auto** handle = static_cast<UtilityMessageQueue**>(args[0]);
    UtilityMessageQueue* q = *handle;
    if (q == nullptr) return UTILITY_MESSAGE_NO_QUEUE;
    if (q->first == nullptr) return UTILITY_MESSAGE_EMPTY;
    UtilityMessage* node = q->first;
    auto* out = static_cast<uint8_t*>(args[1]);
    if (out != nullptr) {
        out[0] = node->severity;
        out[1] = 0;
        std::memcpy(out + 2, &node->length, 2);
        std::memcpy(out + 4, node->text, node->length);
    }
    q->first = node->next;
    if (q->first == nullptr) q->last = nullptr;
    --q->count;
    std::free(node);
    if (q->first == nullptr) {
        std::free(q);
        *handle = nullptr;
    }
    return UTILITY_MESSAGE_TAKEN;
}

void freeMessageQueue(UtilityMessageQueue** queue) {
    if (queue == nullptr || *queue == nullptr) return;
    for (UtilityMessage* m = (*queue)->first; m != nullptr;) {
        UtilityMessage* next = m->next;
        std::free(m);
        m = next;
    }
    std::free(*queue);
    *queue = nullptr;
}

} // namespace rt
