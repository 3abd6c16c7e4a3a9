#include "assembleroptions.h"

#include <QSaveFile>
#include <algorithm>

#include "privateprofile.h"

namespace pelda {

namespace {

using K = OptionKind;

// General Options ------------------------------------------------------------------------------
constexpr OptionDef kGeneral[] = {
    {"IDR", K::Text, "", "", "Identification record text; blank writes NOIDR"},
    {"LIBEXIT", K::Text, "", "", "Library exit name; blank writes NOLIBEXIT"},
    {"OPTABLE", K::EditChoice, "UNI|DOS|ESA|XA|370|YOP|ZOP|ZS3|ZS4|ZS5|ZS6|ZS7", "UNI",
     "Operation code table"},
    {"PROFILE", K::Text, "", "", "Profile member; blank writes NOPROFILE"},
    {"SECTALGN", K::Choice, "8|16|32|64|128|256|512|1024|2048|4096", "8",
     "Section alignment in bytes"},
    {"SIZE", K::EditChoice, "MAX|MAX-500K|MAX-1M|32M|64M", "MAX", "Working storage"},
    {"SYSLIB", K::Text, "", "", "Macro and copy library paths; blank writes NOSYSLIB"},
    {"SYSPARM", K::Text, "", "", "Value of &SYSPARM; blank writes NOSYSPARM"},
    {"SYSTEMID", K::Text, "", "", "System identifier; blank writes NOSYSTEMID"},
    {"TRANSLATE", K::EditChoice, "NOTRANSLATE|TRANSLATE(AS)", "NOTRANSLATE",
     "Character translation, written as it stands"},
    {"USINGLIMIT", K::Text, "", "", "USING range limit; blank writes NOUSINGLIMIT"},
};
constexpr OptionGroup kGeneralGroups[] = {{"", nullptr, kGeneral}};

// Listing Options ------------------------------------------------------------------------------
constexpr OptionDef kListing[] = {
    {"DXREF", K::YesNo, "", "DXREF", "DSECT cross reference"},
    {"ESD", K::YesNo, "", "ESD", "External symbol dictionary"},
    {"FOLD", K::YesNo, "", "NOFOLD", "Print the listing in upper case"},
    {"LANGUAGE", K::Choice, "EN|DE|ES|JP|UE", "EN", "Language of the messages"},
    {"LINECOUNT", K::Text, "", "60", "Lines per listing page; blank writes NOLINECOUNT"},
    {"LINEWIDTH", K::EditChoice, "80|121|133|255", "133", "Listing line width"},
    {"MXREF", K::Choice, "MXREF|MXREF(SOURCE)", "MXREF(SOURCE)", "Macro cross reference"},
    {"PCONTROL", K::Text, "", "", "Listing controls (ON,GEN,DATA...); blank writes NOPCONTROL"},
    {"PRINTCTL", K::YesNo, "", "NOPRINTCTL", "Carriage control in the listing"},
    {"RLD", K::YesNo, "", "RLD", "Relocation dictionary"},
    {"USINGMAP", K::YesNo, "", "USINGMAP", "USING map"},
    {"XREF", K::Choice, "XREF(SHORT)|XREF(FULL)|XREF(UNREFS)|XREF(SHORT,UNREFS)|NOXREF",
     "XREF(SHORT,UNREFS)", "Symbol cross reference"},
};
constexpr OptionDef kRxref[] = {
    {"AR", K::RegisterClass, "", "AR", "Access registers"},
    {"CR", K::RegisterClass, "", "CR", "Control registers"},
    {"FR", K::RegisterClass, "", "FR", "Floating-point registers"},
    {"GR", K::RegisterClass, "", "GR", "General registers"},
    {"VR", K::RegisterClass, "", "VR", "Vector registers"},
};
constexpr OptionGroup kListingGroups[] = {{"", nullptr, kListing}, {"RXREF", "RXREF", kRxref}};

// Flag Option Settings -------------------------------------------------------------------------
constexpr OptionDef kFlagMain[] = {
    {"FLAG", K::Severity, "", "0", "Lowest severity of the messages to list (0-255)"},
    {"ALIGN", K::YesNo, "", "ALIGN", "Alignment warnings"},
    {"RA", K::YesNo, "", "RA", "Warnings for register operands"},
    {"PAGE0", K::YesNo, "", "NOPAGE0", "Warnings for references to page zero"},
};
constexpr OptionDef kFlagChecks[] = {
    {"CONT", K::YesNo, "", "CONT", "Continuation checks"},
    {"SUBSTR", K::YesNo, "", "SUBSTR", "Substring checks"},
    {"RECORD", K::YesNo, "", "NORECORD", "Message record information"},
    {"RENT", K::YesNo, "", "NORENT", "Reentrancy checks"},
    {"USINGDUP", K::YesNo, "", "USINGDUP", "Duplicate USING warnings"},
    {"USINGZERO", K::YesNo, "", "USINGZERO", "USING on register zero"},
    {"USINGMULT", K::YesNo, "", "USINGMULT", "Multiple USING resolution"},
    {"IMPLEN", K::YesNo, "", "NOIMPLEN", "Implicit length warnings"},
    {"USING0", K::YesNo, "", "USING0", "USING at address zero"},
    {"TRUNC", K::YesNo, "", "NOTRUNC", "Truncation warnings"},
    {"BRPAGE0", K::YesNo, "", "NOBRPAGE0", "Branches into page zero"},
    {"INDEX", K::YesNo, "", "NOINDEX", "Index register warnings"},
    {"PUSH", K::YesNo, "", "PUSH", "Unbalanced PUSH and POP"},
    {"HLASM", K::YesNo, "", "HLASM", "Compatibility warnings"},
    {"EXLITW", K::YesNo, "", "EXLITW", "Literal operands of EXecute"},
};
constexpr OptionGroup kFlagGroups[] = {{"FLAG: severity and warnings", nullptr, kFlagMain},
                                       {"FLAG: check flags", nullptr, kFlagChecks}};

// Output Options -------------------------------------------------------------------------------
constexpr OptionDef kOutput[] = {
    {"LIST", K::Choice, "LIST|LIST(121)|LIST(133)|LIST(MAX)|NOLIST", "LIST(133)", "Listing"},
    {"SYSPRINT", K::Text, "", "", "Listing file; blank writes SYSPRINT(&D&F.lst)"},
    {"OBJECT", K::Choice, "OBJECT|NOOBJECT|GOFF", "OBJECT", "Object module format"},
    {"TEST", K::YesNo, "", "NOTEST", "Symbol records for the debugger"},
    {"SYSLIN", K::Text, "", "", "Object file; blank writes NOSYSLIN"},
    {"SYSPUNCH", K::Text, "", "", "Punch file; blank writes NOSYSPUNCH"},
    {"ADATA", K::Text, "", "NOADATA", "NOADATA, or the value written as ADATA(value,level)"},
    {"ADATALEVEL", K::Text, "", "", "Associated data level"},
    {"SYSADATA", K::Text, "", "", "Associated data file; blank writes SYSADATA(&D&F.dat)"},
    {"MAKEDEPEND", K::YesNo, "", "NOMAKEDEPEND", "Write make dependencies"},
    {"MAKEFILE", K::Text, "", "", "Dependency file; blank writes MAKEFILE(&D&F.mk)"},
};
constexpr OptionGroup kOutputGroups[] = {{"", nullptr, kOutput}};

// Processing Options ---------------------------------------------------------------------------
constexpr OptionDef kAcontrol[] = {
    {"AFPR", K::YesNo, "", "AFPR", "Additional floating-point registers"},
    {"ALIGN", K::YesNo, "", "ALIGN", "Alignment checks"},
    {"LIBMAC", K::YesNo, "", "NOLIBMAC", "Library macros in the listing"},
    {"LITTYPE", K::YesNo, "", "NOLITTYPE", "Type attribute of literals"},
};
constexpr OptionDef kCompat[] = {
    {"MACROCASE", K::YesNo, "", "NOMACROCASE", "Macro operands in upper case"},
    {"CASE", K::YesNo, "", "NOCASE", "Symbols in upper case"},
    {"SYSLIST", K::YesNo, "", "NOSYSLIST", "Old &SYSLIST rules"},
    {"TRANSDT", K::YesNo, "", "NOTRANSDT", "Translate data type attributes"},
};
constexpr OptionDef kProcess[] = {
    {"BATCH", K::YesNo, "", "BATCH", "Several programs in one source"},
    {"CICS", K::YesNo, "", "NOCICS", "CICS translation (enables XOPTS)"},
    {"DBCS", K::YesNo, "", "NODBCS", "Double-byte characters"},
    {"DLI", K::YesNo, "", "NODLI", "DL/I calls"},
    {"JCL", K::YesNo, "", "NOJCL", "JCL in the source"},
    {"PESTOP", K::YesNo, "", "NOPESTOP", "Stop at the first processing error"},
    {"SQL", K::YesNo, "", "NOSQL", "SQL statements"},
    {"THREAD", K::YesNo, "", "THREAD", "Continue location counter across sections"},
    {"WARN0", K::YesNo, "", "NOWARN0", "Return code 0 for warnings"},
};
constexpr OptionDef kTypecheck[] = {
    {"MAGNITUDE", K::YesNo, "", "MAGNITUDE", "Check the magnitude of register operands"},
    {"REGISTER", K::YesNo, "", "REGISTER", "Check the type of register operands"},
};
constexpr OptionDef kXopts[] = {
    {"EDF", K::YesNo, "", "EDF", "Execution diagnostic facility"},
    {"EPILOG", K::YesNo, "", "EPILOG", "Epilog code"},
    {"EXCI", K::YesNo, "", "NOEXCI", "External CICS interface"},
    {"PROLOG", K::YesNo, "", "PROLOG", "Prolog code"},
    {"SYSEIB", K::YesNo, "", "NOSYSEIB", "System EIB"},
};
constexpr OptionGroup kProcessGroups[] = {
    {"ACONTROL", nullptr, kAcontrol}, {"COMPAT", nullptr, kCompat},
    {"PROCESS", nullptr, kProcess},   {"TYPECHECK", nullptr, kTypecheck},
    {"XOPTS", nullptr, kXopts},
};

constexpr OptionPageDef kPages[] = {
    {"General Options", kGeneralTab, kGeneralGroups},
    {"Listing Options", kListTab, kListingGroups},
    {"Flag Option Settings", kFlagTab, kFlagGroups},
    {"Output Options", kOutputTab, kOutputGroups},
    {"Processing Options", kProcessTab, kProcessGroups},
};

// Reads the options of one section.
class Section {
  public:
    Section(const PrivateProfile& ini, const char* name)
        : ini_(ini), name_(QString::fromLatin1(name)) {}

    // True when the page's value of opt is to be passed: "b" + opt is "0". A missing, empty or
    // any other "b" value leaves the option at the assembler's default.
    bool passed(const char* opt) const {
        return ini_.value(name_, defaultKey(QString::fromLatin1(opt))).trimmed() ==
               QLatin1String("0");
    }
    QString value(const char* opt) const {
        return ini_.value(name_, valueKey(QString::fromLatin1(opt))).trimmed();
    }
    // True for a blank value or the option's NO form.
    bool blankOrNo(const char* opt) const {
        QString v = value(opt);
        return v.isEmpty() || v.compare(noForm(QString::fromLatin1(opt)), Qt::CaseInsensitive) == 0;
    }

  private:
    const PrivateProfile& ini_;
    QString name_;
};

// The value inside apostrophes, each apostrophe in it doubled, so that it stays one quoted value.
QString quoted(const QString& v) {
    QString s = v;
    s.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

class Writer {
  public:
    explicit Writer(QStringList* out) : out_(out) {}

    // "OPT('value')" or the NO form, when the value is blank or the NO form itself.
    void quotedOrNo(const Section& s, const char* opt) {
        if (!s.passed(opt)) return;
        QString name = QString::fromLatin1(opt);
        add(s.blankOrNo(opt) ? noForm(name)
                             : name + QLatin1Char('(') + quoted(s.value(opt)) + QLatin1Char(')'));
    }
    // "OPT(value)" or the NO form, when the value is blank or the NO form itself.
    void valueOrNo(const Section& s, const char* opt) {
        if (!s.passed(opt)) return;
        QString name = QString::fromLatin1(opt);
        add(s.blankOrNo(opt) ? noForm(name)
                             : name + QLatin1Char('(') + s.value(opt) + QLatin1Char(')'));
    }
    // "OPT(value)", or fallback (already complete) when the value is blank.
    void valueOr(const Section& s, const char* opt, const char* fallback) {
        if (!s.passed(opt)) return;
        QString v = s.value(opt);
        if (v.isEmpty()) {
            add(QString::fromLatin1(fallback));
            return;
        }
        add(QString::fromLatin1(opt) + QLatin1Char('(') + v + QLatin1Char(')'));
    }
    // "OPT(value)"; a blank value has nothing to pass, and "OPT()" would only break the run.
    void parenthesised(const Section& s, const char* opt) { valueOr(s, opt, ""); }
    // The stored value as it stands ("ESD", "NOESD", "XREF(FULL)").
    void asStored(const Section& s, const char* opt) {
        if (s.passed(opt)) add(s.value(opt));
    }
    // "NAME(a,b,...)" from the passed members, written only when at least one is passed.
    void memberList(const Section& s, const char* name, std::span<const OptionDef> members) {
        QStringList parts = passedMembers(s, members);
        if (!parts.isEmpty())
            add(QString::fromLatin1(name) + QLatin1Char('(') + parts.join(QLatin1Char(',')) +
                QLatin1Char(')'));
    }

    static QStringList passedMembers(const Section& s, std::span<const OptionDef> members) {
        QStringList parts;
        for (const OptionDef& m : members) {
            if (!s.passed(m.name)) continue;
            QString v = s.value(m.name);
            if (!v.isEmpty()) parts << v;
        }
        return parts;
    }

    void add(const QString& line) {
        if (!line.isEmpty()) out_->append(line);
    }

  private:
    QStringList* out_;
};

} // namespace

std::span<const OptionPageDef> optionPages() {
    return kPages;
}

int clampSeverity(const QString& text) {
    bool ok = false;
    qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok) return 0;
    return static_cast<int>(std::clamp<qlonglong>(v, 0, 255));
}

QStringList optionLines(const PrivateProfile& ini) {
    QStringList lines;
    Writer w(&lines);

    const Section gen(ini, kGeneralTab);
    w.quotedOrNo(gen, "IDR");
    w.quotedOrNo(gen, "LIBEXIT");
    w.asStored(gen, "TRANSLATE");
    w.parenthesised(gen, "OPTABLE");
    w.valueOrNo(gen, "PROFILE");
    w.parenthesised(gen, "SECTALGN");
    w.parenthesised(gen, "SIZE");
    w.quotedOrNo(gen, "SYSLIB");
    w.quotedOrNo(gen, "SYSPARM");
    w.quotedOrNo(gen, "SYSTEMID");
    w.valueOrNo(gen, "USINGLIMIT");

    const Section list(ini, kListTab);
    w.asStored(list, "DXREF");
    w.asStored(list, "ESD");
    w.asStored(list, "FOLD");
    w.parenthesised(list, "LANGUAGE");
    w.valueOrNo(list, "LINECOUNT");
    w.parenthesised(list, "LINEWIDTH");
    w.asStored(list, "MXREF");
    w.valueOrNo(list, "PCONTROL");
    w.asStored(list, "PRINTCTL");
    w.asStored(list, "RLD");
    w.asStored(list, "USINGMAP");
    w.asStored(list, "XREF");
    if (list.passed("RXREF")) {
        // With no register class ticked the option stands alone, never as "RXREF(".
        QStringList classes = Writer::passedMembers(list, kRxref);
        w.add(classes.isEmpty()
                  ? QStringLiteral("RXREF")
                  : QStringLiteral("RXREF(") + classes.join(QLatin1Char(',')) + QLatin1Char(')'));
    }

    const Section flag(ini, kFlagTab);
    QStringList flags = Writer::passedMembers(flag, kFlagMain);
    flags += Writer::passedMembers(flag, kFlagChecks);
    if (!flags.isEmpty())
        w.add(QStringLiteral("FLAG(") + flags.join(QLatin1Char(',')) + QLatin1Char(')'));

    const Section out(ini, kOutputTab);
    w.asStored(out, "LIST");
    if (out.passed("ADATA")) {
        QString v = out.value("ADATA");
        if (v.compare(QLatin1String("NOADATA"), Qt::CaseInsensitive) == 0) {
            w.add(QStringLiteral("NOADATA"));
        } else if (!v.isEmpty()) {
            // The level comes from the ADATALEVEL field; without one, ADATA(value) alone.
            QString level = out.value("ADATALEVEL");
            w.add(QStringLiteral("ADATA(") + v +
                  (level.isEmpty() ? QString() : QLatin1Char(',') + level) + QLatin1Char(')'));
        }
    }
    w.parenthesised(out, "ADATALEVEL");
    w.valueOr(out, "SYSADATA", "SYSADATA(&D&F.dat)");
    w.asStored(out, "OBJECT");
    w.valueOrNo(out, "SYSLIN");
    w.valueOr(out, "SYSPRINT", "SYSPRINT(&D&F.lst)");
    w.valueOrNo(out, "SYSPUNCH");
    w.asStored(out, "TEST");
    w.valueOr(out, "MAKEFILE", "MAKEFILE(&D&F.mk)");
    w.asStored(out, "MAKEDEPEND");

    const Section proc(ini, kProcessTab);
    w.memberList(proc, "ACONTROL", kAcontrol);
    w.memberList(proc, "COMPAT", kCompat);
    w.memberList(proc, "PROCESS", kProcess);
    w.memberList(proc, "TYPECHECK", kTypecheck);
    if (proc.passed("CICS") &&
        proc.value("CICS").compare(QLatin1String("CICS"), Qt::CaseInsensitive) == 0)
        w.memberList(proc, "XOPTS", kXopts);
    return lines;
}

bool writeOptionsFile(const QString& path, const PrivateProfile& ini, QString* error) {
    QByteArray bytes;
    for (const QString& line : optionLines(ini)) bytes += line.toLocal8Bit() + '\n';
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace pelda
