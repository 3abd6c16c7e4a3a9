// opx: the command-line front end of the transmit-file extractor.
//
//   opx info FILE          what the file carries: origin, and every data set with its size
//   opx list FILE [N]      the members of partitioned data set N with statistics, sizes, content
//   opx extract FILE ...   a data set, or members, written to files
//
// Each takes --json for scripts and --trace N for the library's trace level.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "codepage_warning.h"
#include "opx.h"

namespace {

void printLine(const char* line) {
    std::fputs(line, stderr);
}
void fatalLine(const char*) {} // the library writes the text to standard error itself

// Connects with the family and version the library expects and sets the code pages from
// CODEPAGE_ASCII / CODEPAGE_EBCDIC. Returns false after printing the error.
bool connectLibrary(int trace) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszOpxDllConnect(&status, &record, trace, nullptr, "Quorin Toolbench", "3.0.07", printLine,
                     fatalLine);
    cli::warnIgnoredCodePages("opx");
    if (const char* m = pszOpxSetConversion()) {
        std::fprintf(stderr, "opx: %s\n", m);
        std::fprintf(
            stderr,
            "opx: set CODEPAGE_ASCII and CODEPAGE_EBCDIC to a compatible pair (cpconv --list)\n");
        return false;
    }
    return true;
}

const char* const kTypeHelp =
    "auto (the default), text, binary, dump, prefix, ibm, convert, delink or relink. auto "
    "decides member by "
    "member from its first 16 KiB of record data: text when at most 1 byte in 50 is not a "
    "printable character of the EBCDIC code page (blank, letters, digits, punctuation, national "
    "characters) or the member is ISPF-packed, a transmit file when it begins with an INMR01 "
    "record (written as NAME.xmi), binary otherwise; load modules are binary. Binary data is "
    "written as its bytes, record after record (ibm keeps the record descriptors). delink "
    "writes each load module as linkage editor input (object decks and control statements, "
    "80-byte EBCDIC cards); relink runs the linkage editor vrl beside the library on that "
    "input at once and saves the new module where -o says (see --listing and --parm)";

} // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Reads TSO TRANSMIT files, AWS and HET tape images and bare IEBCOPY unloads: what they "
        "carry, and the members of their partitioned data sets.\n"
        "Code pages come from CODEPAGE_ASCII (default 819) and CODEPAGE_EBCDIC (default 1047).\n"
        "Text is written in UTF-8 when the locale's character set is UTF-8 (--encoding chooses "
        "another).",
        "opx"};
    // Options are --name or -x only: a path that begins with a slash (which on Windows names
    // the current drive's root) is an argument, never a Windows-style /option.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    int trace = 0;
    bool asJson = false;
    std::string encodingName;
    app.add_option("--trace", trace,
                   "trace level of the library: 1 errors, 2 opens, 3 calls, 4 data dumps")
        ->check(CLI::Range(0, 4));
    app.add_flag("--json", asJson, "print JSON instead of text");
    const char* encodingHelp =
        "the encoding of text: utf-8, latin1, or an ASCII code page number such as 819 or 1252 "
        "(cpconv --list); default: UTF-8 on a UTF-8 locale, else CODEPAGE_ASCII";
    app.add_option("--encoding", encodingName, encodingHelp);

    opx::ImageOptions& tape = opxcli::imageOptions();
    app.add_option("--tape-recfm", tape.recfm,
                   "the record format of an unlabeled tape's files (F, FB, V, VB, VBS, U); "
                   "default: told from the data");
    app.add_option("--tape-lrecl", tape.lrecl, "the record length of an unlabeled tape's files");
    app.add_option("--tape-blksize", tape.blksize, "the block size of an unlabeled tape's files");

    std::string path;
    unsigned number = 0;
    bool human = false;
    CLI::App* infoCmd =
        app.add_subcommand("info", "describe the file and every data set in it, with its size");
    infoCmd->add_option("FILE", path, "the transmit file, tape image or unload")->required();
    infoCmd->add_flag("--json", asJson, "print JSON instead of text");
    infoCmd->add_option("--encoding", encodingName, encodingHelp);
    CLI::App* listCmd = app.add_subcommand(
        "list", "list the members of a partitioned data set: statistics, records, bytes, content");
    listCmd->add_option("FILE", path, "the transmit file, tape image or unload")->required();
    listCmd->add_option(
        "N", number,
        "the data set's number (opx info shows them); default: the first partitioned one");
    listCmd->add_flag("--json", asJson, "print JSON instead of text");
    listCmd->add_flag("-H,--human", human, "sizes in K, M and G (units of 1024)");
    listCmd->add_option("--encoding", encodingName, encodingHelp);

    opxcli::ExtractOptions x;
    CLI::App* extractCmd = app.add_subcommand(
        "extract", "write a data set, or the members of a partitioned one, to files");
    extractCmd->add_option("FILE", x.path, "the transmit file, tape image or unload")->required();
    extractCmd->add_option(
        "N_AND_MEMBERS", x.positional,
        "[N] [MEMBER...]: the data set's number (default: the first that is not a message) and the "
        "members to extract (default: all)");
    extractCmd->add_option(
        "-o,--output", x.output,
        "a file for a sequential data set; for members a folder (made when missing) or a pattern "
        "with &M (upper-case names) or &m (lower-case) in its last part, e.g. src/&m.txt "
        "(default: the current folder)");
    extractCmd->add_option("-t,--type", x.type, kTypeHelp)->capture_default_str();
    extractCmd->add_flag("-r,--recursive", x.recursive,
                         "extract a transmit file found in a member into a folder named after "
                         "the member, down to 8 levels");
    extractCmd
        ->add_option("--aliases", x.aliases,
                     "aliases of the members written: link (a relative symbolic link to the "
                     "member's file), copy or skip")
        ->check(CLI::IsMember({"link", "copy", "skip"}))
        ->capture_default_str();
    extractCmd->add_flag("--no-times", x.noTimes,
                         "keep the time of extraction on the files (default: the last change "
                         "from the ISPF statistics, or the transmit file's time)");
    extractCmd->add_flag("--unnum", x.unnum,
                         "text: remove the sequence field (columns 73-80 of fixed 80-byte "
                         "records, 1-8 of variable ones) when every record holds digits or "
                         "blanks there");
    extractCmd
        ->add_option("--line-end", x.lineEnd, "text and dump line ends: native, lf, cr or crlf")
        ->capture_default_str();
    extractCmd->add_option("--tabs", x.tabs, "text: compress blanks to tabs every 4 or 8 columns")
        ->check(CLI::IsMember({0, 4, 8}));
    extractCmd->add_flag("--strip", x.strip,
                         "strip trailing blanks (text) or pad characters (records)");
    extractCmd->add_option(
        "--lrecl", x.lrecl,
        "output record or line length (default: the data set's; its block size for RECFM U)");
    extractCmd->add_option("--blksize", x.blksize, "convert: output block size");
    extractCmd
        ->add_option("--format", x.format, "convert: fixed, bytes, len2, len2i, rdw or variable")
        ->capture_default_str();
    extractCmd->add_option("--pad", x.pad,
                           "EBCDIC pad character: two hexadecimal digits, blank (40, the default), "
                           "zero (F0) or null (00)");
    extractCmd->add_flag("--translate", x.translate,
                         "convert: translate records to the workstation code page");
    extractCmd->add_flag("--blocked", x.blocked, "convert: several variable records to a block");
    extractCmd->add_flag("--spanned", x.spanned, "convert: long variable records in segments");
    extractCmd->add_flag("--truncate", x.truncate,
                         "cut records longer than the output record length silently");
    extractCmd->add_option("--replace", x.replace, "existing files: always, never or ask")
        ->check(CLI::IsMember({"always", "never", "ask"}))
        ->capture_default_str();
    extractCmd->add_option("--listing", x.listing,
                           "relink: the linkage editor's listing, one file for all members, or "
                           "a pattern with &M or &m in its last part for one a member");
    extractCmd->add_option("--parm", x.binderParameters,
                           "relink: the linkage editor's options, e.g. LIST=ALL,MAP,XREF");
    extractCmd->add_flag("--json", x.json, "print the results as JSON");
    extractCmd->add_option("--encoding", encodingName, encodingHelp);
    CLI11_PARSE(app, argc, argv);

    if (!connectLibrary(trace)) return 2;
    opxcli::Encoding encoding;
    if (!encoding.choose(encodingName)) return 2;
    if (*infoCmd) return opxcli::info(path, asJson, encoding);
    if (*extractCmd) {
        x.json = x.json || asJson;
        return opxcli::extract(x, encoding);
    }
    return opxcli::list(path, number, asJson, human, encoding);
}
