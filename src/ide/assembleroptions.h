// The assembler's options: which options each preferences page holds, how they are kept in
// QCONFIG.INI, and the options file written from them before every run.
//
// For every option OPT a page keeps two keys in its section: "b" + OPT is "1" while the option
// is left at the assembler's default and "0" when the page's value is to be passed, and
// "sz" + OPT holds the value as the page shows it ("CONT" or "NOCONT" for a yes/no option).
// A missing or empty "b" key counts as default, so a fresh installation passes nothing.
//
// An options file for a page set to FLAG(4), NOCONT and PROCESS(CICS) with XOPTS(EDF):
//
//   FLAG(4,NOCONT)
//   PROCESS(CICS)
//   XOPTS(EDF)
#pragma once

#include <QString>
#include <QStringList>
#include <span>

namespace pelda {

class PrivateProfile;

// The QCONFIG.INI sections, one per page.
inline constexpr const char* kGeneralTab = "GeneralTab";
inline constexpr const char* kFlagTab = "FlagTab";
inline constexpr const char* kListTab = "ListTab";
inline constexpr const char* kOutputTab = "OutputTab";
inline constexpr const char* kProcessTab = "ProcessTab";

enum class OptionKind {
    Text,          // free text
    Choice,        // one of a fixed list
    EditChoice,    // a list to choose from, or any text
    YesNo,         // the option name or its NO form
    Severity,      // the FLAG severity, 0..255
    RegisterClass, // one register class of RXREF: passed when ticked
};

struct OptionDef {
    const char* name; // OPT of the keys "b" + OPT and "sz" + OPT
    OptionKind kind;
    const char* choices; // "A|B|C" for Choice and EditChoice
    const char* initial; // what the page shows before anything was saved
    const char* hint;    // tool tip, and the placeholder of a text field
};

struct OptionGroup {
    const char* caption;  // the frame around the members on the page ("ACONTROL"), or "" for
                          // options that stand alone on the page
    const char* groupKey; // set when the group has one "Default" of its own (RXREF)
    std::span<const OptionDef> options;
};

struct OptionPageDef {
    const char* title;
    const char* section;
    std::span<const OptionGroup> groups;
};

// The five option pages in the order of the preferences dialog.
std::span<const OptionPageDef> optionPages();

inline QString defaultKey(const QString& opt) {
    return QStringLiteral("b") + opt;
}
inline QString valueKey(const QString& opt) {
    return QStringLiteral("sz") + opt;
}

// The NO form of a yes/no option ("NOCONT" for "CONT").
inline QString noForm(const QString& opt) {
    return QStringLiteral("NO") + opt;
}

// The FLAG severity that the page's spin box shows for a stored text: clamped to 0..255, and 0
// for text that is no number.
int clampSeverity(const QString& text);

// The lines of the options file for the options kept in ini, in the order the assembler gets
// them, without line ends.
QStringList optionLines(const PrivateProfile& ini);

// Writes the options file anew (each line ended by "\n"), whole or not at all.
bool writeOptionsFile(const QString& path, const PrivateProfile& ini, QString* error);

} // namespace pelda
