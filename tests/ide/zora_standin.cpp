// A stand-in for the assembler "zora", for the editor's tests and demo.
//
//   zora SOURCE -Q -T -SM'MESSAGEFILE'
//
// It reads the source and writes what the real assembler leaves for the editor: an error file
// (named by ZORAERR) and a message file (named by -SM), one message a line, each carrying the
// source line in parentheses:
//
//   ZORA057E (12) Undefined operation code - LRX
//   ZORA057E (14,SAVEAREA.mac(3)) Undefined operation code - STMX
//   ZORA163W (20) Label longer than 8 characters - TOOLONGNAME
//
// Statements whose operation code it does not know are errors; COPY members found beside the
// source (NAME.mac, NAME.cpy or NAME) are read too, and their errors name the member and its
// line inside the parentheses. Labels longer than eight characters are warnings.
//
// For tests, environment variables change what it does:
//   ZORA_STANDIN_RECORD    file to write the arguments, ZORAERR, ZORAINI, the working directory
//                          and the options file (the last name in ZORAINI) into
//   ZORA_STANDIN_DELAY_MS  milliseconds to wait before writing the result files
//   ZORA_STANDIN_MODE      "nofiles" (write no result file), "crash" (end by SIGABRT) or
//                          "exit=N" (exit code N); otherwise the exit code is 0, 4 or 8
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::set<std::string> kKnown = {
    "A",     "AH",    "AHI",   "AMODE",  "AP",    "AR",      "B",        "BAL",   "BALR", "BAS",
    "BASR",  "BC",    "BCR",   "BCT",    "BCTR",  "BE",      "BH",       "BL",    "BM",   "BNE",
    "BNZ",   "BO",    "BP",    "BR",     "BRAS",  "BRC",     "BZ",       "C",     "CH",   "CHI",
    "CLC",   "CLCL",  "CLI",   "CLOSE",  "CP",    "CR",      "CSECT",    "CVB",   "CVD",  "D",
    "DC",    "DCB",   "DP",    "DR",     "DROP",  "DS",      "DSECT",    "ED",    "EDMK", "EJECT",
    "END",   "ENTRY", "EQU",   "EX",     "EXTRN", "GET",     "IC",       "J",     "JE",   "JNE",
    "JNZ",   "JZ",    "L",     "LA",     "LARL",  "LH",      "LHI",      "LM",    "LR",   "LTORG",
    "LTR",   "M",     "MACRO", "MEND",   "MEXIT", "MP",      "MR",       "MVC",   "MVCL", "MVI",
    "N",     "NOP",   "NOPR",  "NR",     "O",     "OPEN",    "OR",       "ORG",   "PACK", "POP",
    "PRINT", "PUSH",  "PUT",   "RETURN", "RMODE", "RSECT",   "S",        "SAVE",  "SH",   "SLA",
    "SLL",   "SP",    "SPACE", "SR",     "SRA",   "SRL",     "ST",       "START", "STC",  "STH",
    "STM",   "SVC",   "TITLE", "TM",     "TR",    "TRT",     "UNPK",     "USING", "WTO",  "WXTRN",
    "X",     "XR",    "YREGS", "ZAP",    "ABEND", "GETMAIN", "FREEMAIN", "COPY",
};

struct Results {
    std::vector<std::string> errors;
    std::vector<std::string> messages;
};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> readLines(const std::filesystem::path& p, bool* ok) {
    std::ifstream in(p, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The label and operation code of a statement; false for comments and blank lines.
bool fields(const std::string& line, std::string* label, std::string* op, std::string* operand) {
    if (line.empty() || line[0] == '*' || line.rfind(".*", 0) == 0) return false;
    std::istringstream in(line);
    label->clear();
    if (line[0] != ' ' && line[0] != '\t') in >> *label;
    if (!(in >> *op)) return false;
    in >> *operand;
    return true;
}

std::filesystem::path findMember(const std::filesystem::path& dir, const std::string& name) {
    for (const char* ext : {".mac", ".cpy", ""}) {
        auto p = dir / (name + ext);
        if (std::filesystem::is_regular_file(p)) return p;
    }
    return {};
}

void scanMember(const std::filesystem::path& file, int copyLine, Results* r) {
    bool ok = false;
    std::vector<std::string> lines = readLines(file, &ok);
    const std::string name = file.filename().string();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string label, op, operand;
        if (!fields(lines[i], &label, &op, &operand)) continue;
        if (!kKnown.count(upper(op)))
            r->errors.push_back("ZORA057E (" + std::to_string(copyLine) + "," + name + "(" +
                                std::to_string(i + 1) + ")) Undefined operation code - " + op);
    }
}

void scan(const std::filesystem::path& source, Results* r) {
    bool ok = false;
    std::vector<std::string> lines = readLines(source, &ok);
    if (!ok) {
        r->errors.push_back("ZORA001S Cannot open the source file " + source.string());
        return;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        std::string label, op, operand;
        if (!fields(lines[i], &label, &op, &operand)) continue;
        if (label.size() > 8)
            r->messages.push_back("ZORA163W (" + std::to_string(n) +
                                  ") Label longer than 8 characters - " + label);
        if (upper(op) == "COPY") {
            auto member = findMember(source.parent_path(), operand);
            if (member.empty())
                r->errors.push_back("ZORA034E (" + std::to_string(n) +
                                    ") Copy member not found - " + operand);
            else
                scanMember(member, n, r);
        } else if (!kKnown.count(upper(op))) {
            r->errors.push_back("ZORA057E (" + std::to_string(n) + ") Undefined operation code - " +
                                op);
        }
    }
}

bool writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& l : lines) out << l << '\n';
    return static_cast<bool>(out);
}

std::string env(const char* name, bool* set = nullptr) {
    const char* v = std::getenv(name);
    if (set) *set = v != nullptr;
    return v ? v : "";
}

void record(int argc, char** argv) {
    const std::string path = env("ZORA_STANDIN_RECORD");
    if (path.empty()) return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "argc=" << argc - 1 << '\n';
    for (int i = 1; i < argc; ++i) out << "arg" << i << '=' << argv[i] << '\n';
    for (const char* name : {"ZORAERR", "ZORAINI"}) {
        bool set = false;
        std::string v = env(name, &set);
        if (set)
            out << name << '=' << v << '\n';
        else
            out << name << " unset\n";
    }
    out << "cwd=" << std::filesystem::current_path().string() << '\n';
    std::string ini = env("ZORAINI");
    std::string options = ini.substr(ini.rfind(';') == std::string::npos ? 0 : ini.rfind(';') + 1);
    bool ok = false;
    std::vector<std::string> lines = readLines(options, &ok);
    out << (ok ? "options:\n" : "options missing\n");
    for (const std::string& l : lines) out << "  " << l << '\n';
}

} // namespace

int main(int argc, char** argv) {
    record(argc, argv);
    std::string messageFile;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("-SM", 0) == 0) {
            messageFile = a.substr(3);
            if (messageFile.size() >= 2 && messageFile.front() == '\'' &&
                messageFile.back() == '\'')
                messageFile = messageFile.substr(1, messageFile.size() - 2);
        }
    }
    if (argc < 2 || messageFile.empty()) {
        std::cerr << "usage: zora SOURCE -Q -T -SM'MESSAGEFILE'\n";
        return 16;
    }
    const std::string mode = env("ZORA_STANDIN_MODE");
    if (int ms = std::atoi(env("ZORA_STANDIN_DELAY_MS").c_str()); ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    if (mode == "crash") std::raise(SIGABRT);

    Results r;
    scan(argv[1], &r);
    if (mode != "nofiles") {
        const std::string errorFile = env("ZORAERR");
        if (!errorFile.empty()) writeLines(errorFile, r.errors);
        writeLines(messageFile, r.messages);
    }
    if (mode.rfind("exit=", 0) == 0) return std::atoi(mode.c_str() + 5);
    return !r.errors.empty() ? 8 : !r.messages.empty() ? 4 : 0;
}
