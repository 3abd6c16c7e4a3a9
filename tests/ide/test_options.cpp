// The options file written from QCONFIG.INI, and the option pages that fill QCONFIG.INI.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "assembleroptions.h"
#include "optionpage.h"
#include "pelda_test_support.h"
#include "privateprofile.h"

using namespace pelda;

namespace {

int malformed = 0;

QStringList linesOf(const QByteArray& ini) {
    PrivateProfile p;
    p.loadFromData(ini);
    QStringList lines = optionLines(p);
    for (const QString& l : lines) {
        // Whatever the input, no option is left open or empty.
        if (l.endsWith(QLatin1Char('(')) || l.contains(QLatin1String("()")) ||
            l.trimmed().isEmpty())
            qWarning("malformed option line: '%s'", qPrintable(l)), ++malformed;
    }
    return lines;
}

// The option page of a section, with every option loaded from ini.
std::unique_ptr<OptionPage> page(const char* section, const PrivateProfile& ini) {
    for (const OptionPageDef& d : optionPages()) {
        if (QLatin1String(d.section) == QLatin1String(section)) {
            auto p = std::make_unique<OptionPage>(d);
            p->load(ini);
            return p;
        }
    }
    return nullptr;
}

template <class W> W* child(QWidget* page, const QString& name) {
    W* w = page->findChild<W*>(name);
    if (!w) qFatal("no widget %s", qPrintable(name));
    return w;
}

// Unticks the "Default" of opt on a page.
void pass(QWidget* page, const QString& opt) {
    child<QCheckBox>(page, "default_" + opt)->setChecked(false);
}

} // namespace

class OptionsTest : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { QCOMPARE(malformed, 0); }

    void defaultsWriteNothing() {
        // A fresh installation, keys holding values but no "b" key, and "b" keys of "1" or of
        // anything but "0" all leave every option to the assembler.
        QCOMPARE(linesOf(""), QStringList());
        QCOMPARE(linesOf("[GeneralTab]\nszIDR=X\nszSIZE=MAX\n[FlagTab]\nszCONT=NOCONT\n"),
                 QStringList());
        QCOMPARE(linesOf("[GeneralTab]\nbIDR=1\nszIDR=X\nbSIZE=\nbOPTABLE=yes\n[ListTab]\nbRXREF="
                         "1\nbAR=0\nszAR=AR\n"),
                 QStringList());

        // Pages that were never touched save every group at Default: the file stays empty.
        PrivateProfile ini;
        for (const OptionPageDef& d : optionPages()) {
            OptionPage p(d);
            p.load(ini);
            p.save(ini);
        }
        QVERIFY(ini.contains(kFlagTab, "bCONT"));
        QCOMPARE(ini.value(kFlagTab, "szCONT"), QString("CONT"));
        QCOMPARE(optionLines(ini), QStringList());
        QTemporaryDir dir;
        QString error;
        QVERIFY(writeOptionsFile(dir.filePath("Pelda0001.env"), ini, &error));
        QCOMPARE(peldatest::readFile(dir.filePath("Pelda0001.env")), QByteArray());
    }

    void generalOptions() {
        QCOMPARE(linesOf("[GeneralTab]\n"
                         "bIDR=0\nszIDR=O'Brien's\n"
                         "bLIBEXIT=0\nszLIBEXIT=\n"
                         "bOPTABLE=0\nszOPTABLE=ZOP\n"
                         "bPROFILE=0\nszPROFILE=noprofile\n"
                         "bSECTALGN=0\nszSECTALGN=256\n"
                         "bSIZE=0\nszSIZE=\n"
                         "bSYSLIB=0\nszSYSLIB=/usr/macros:/home/me/mac\n"
                         "bSYSPARM=0\nszSYSPARM=\n"
                         "bSYSTEMID=0\nszSYSTEMID=NOSYSTEMID\n"
                         "bTRANSLATE=0\nszTRANSLATE=TRANSLATE(AS)\n"
                         "bUSINGLIMIT=0\nszUSINGLIMIT=4096\n"),
                 QStringList({"IDR('O''Brien''s')", "NOLIBEXIT", "TRANSLATE(AS)", "OPTABLE(ZOP)",
                              "NOPROFILE", "SECTALGN(256)", "SYSLIB('/usr/macros:/home/me/mac')",
                              "NOSYSPARM", "NOSYSTEMID", "USINGLIMIT(4096)"}));
        QCOMPARE(linesOf("[GeneralTab]\nbIDR=0\nszIDR=NOIDR\nbPROFILE=0\nszPROFILE=MYPROF\n"
                         "bSYSTEMID=0\nszSYSTEMID=ZOS 3.1\nbUSINGLIMIT=0\nszUSINGLIMIT=\n"),
                 QStringList({"NOIDR", "PROFILE(MYPROF)", "SYSTEMID('ZOS 3.1')", "NOUSINGLIMIT"}));
        QCOMPARE(linesOf("[GeneralTab]\nbPROFILE=0\nszPROFILE=NOPROFILE\n"),
                 QStringList({"NOPROFILE"}));
    }

    void listingOptions() {
        QCOMPARE(linesOf("[ListTab]\n"
                         "bXREF=0\nszXREF=XREF(FULL)\n" // stored order does not matter
                         "bDXREF=0\nszDXREF=NODXREF\nbESD=0\nszESD=ESD\nbFOLD=0\nszFOLD=FOLD\n"
                         "bLANGUAGE=0\nszLANGUAGE=DE\nbLINECOUNT=0\nszLINECOUNT=\n"
                         "bLINEWIDTH=0\nszLINEWIDTH=121\nbMXREF=0\nszMXREF=MXREF(SOURCE)\n"
                         "bPCONTROL=0\nszPCONTROL=ON,GEN\nbPRINTCTL=0\nszPRINTCTL=NOPRINTCTL\n"
                         "bRLD=0\nszRLD=RLD\nbUSINGMAP=0\nszUSINGMAP=NOUSINGMAP\n"
                         "bRXREF=0\nbAR=0\nszAR=AR\nbCR=1\nszCR=CR\nbGR=0\nszGR=GR\n"),
                 QStringList({"NODXREF", "ESD", "FOLD", "LANGUAGE(DE)", "NOLINECOUNT",
                              "LINEWIDTH(121)", "MXREF(SOURCE)", "PCONTROL(ON,GEN)", "NOPRINTCTL",
                              "RLD", "NOUSINGMAP", "XREF(FULL)", "RXREF(AR,GR)"}));
        // RXREF with no register class ticked stands alone.
        QCOMPARE(linesOf("[ListTab]\nbRXREF=0\nszRXREF=RXREF\n"), QStringList({"RXREF"}));
        QCOMPARE(
            linesOf(
                "[ListTab]\nbLINECOUNT=0\nszLINECOUNT=55\nbPCONTROL=0\nszPCONTROL=NOPCONTROL\n"),
            QStringList({"LINECOUNT(55)", "NOPCONTROL"}));
    }

    void flagOptions() {
        QCOMPARE(linesOf("[FlagTab]\nbEXLITW=0\nszEXLITW=EXLITW\nbFLAG=0\nszFLAG=4\n"
                         "bALIGN=0\nszALIGN=NOALIGN\nbRA=1\nszRA=RA\nbCONT=0\nszCONT=NOCONT\n"),
                 QStringList({"FLAG(4,NOALIGN,NOCONT,EXLITW)"}));
        QCOMPARE(linesOf("[FlagTab]\nbUSING0=0\nszUSING0=NOUSING0\n"),
                 QStringList({"FLAG(NOUSING0)"}));
    }

    void outputOptions() {
        QCOMPARE(
            linesOf(
                "[OutputTab]\n"
                "bLIST=0\nszLIST=LIST(133)\nbADATA=0\nszADATA=YES\nbADATALEVEL=0\nszADATALEVEL=3\n"
                "bSYSADATA=0\nszSYSADATA=\nbOBJECT=0\nszOBJECT=GOFF\nbSYSLIN=0\nszSYSLIN=\n"
                "bSYSPRINT=0\nszSYSPRINT=\nbSYSPUNCH=0\nszSYSPUNCH=NOSYSPUNCH\n"
                "bTEST=0\nszTEST=TEST\nbMAKEFILE=0\nszMAKEFILE=\n"
                "bMAKEDEPEND=0\nszMAKEDEPEND=MAKEDEPEND\n"),
            QStringList({"LIST(133)", "ADATA(YES,3)", "ADATALEVEL(3)", "SYSADATA(&D&F.dat)", "GOFF",
                         "NOSYSLIN", "SYSPRINT(&D&F.lst)", "NOSYSPUNCH", "TEST",
                         "MAKEFILE(&D&F.mk)", "MAKEDEPEND"}));
        QCOMPARE(
            linesOf("[OutputTab]\nbADATA=0\nszADATA=noadata\nbSYSLIN=0\nszSYSLIN=/tmp/x.o\n"
                    "bSYSPRINT=0\nszSYSPRINT=out.lst\nbMAKEFILE=0\nszMAKEFILE=x.mk\n"),
            QStringList({"NOADATA", "SYSLIN(/tmp/x.o)", "SYSPRINT(out.lst)", "MAKEFILE(x.mk)"}));
        // ADATA without a level is written without the second value.
        QCOMPARE(linesOf("[OutputTab]\nbADATA=0\nszADATA=YES\n"), QStringList({"ADATA(YES)"}));
    }

    void processingOptions() {
        const QByteArray base =
            "[ProcessTab]\n"
            "bAFPR=0\nszAFPR=AFPR\nbLIBMAC=0\nszLIBMAC=NOLIBMAC\nbALIGN=1\nszALIGN=ALIGN\n"
            "bCASE=0\nszCASE=CASE\n"
            "bSQL=0\nszSQL=NOSQL\n"
            "bREGISTER=0\nszREGISTER=NOREGISTER\n"
            "bEDF=0\nszEDF=EDF\nbSYSEIB=0\nszSYSEIB=NOSYSEIB\n";
        QCOMPARE(linesOf(base + "bCICS=0\nszCICS=CICS\n"),
                 QStringList({"ACONTROL(AFPR,NOLIBMAC)", "COMPAT(CASE)", "PROCESS(CICS,NOSQL)",
                              "TYPECHECK(NOREGISTER)", "XOPTS(EDF,NOSYSEIB)"}));
        // XOPTS needs PROCESS(CICS) passed, and a member of its own that is passed.
        QCOMPARE(linesOf(base + "bCICS=0\nszCICS=NOCICS\n").last(),
                 QString("TYPECHECK(NOREGISTER)"));
        QCOMPARE(linesOf(base + "bCICS=1\nszCICS=CICS\n").last(), QString("TYPECHECK(NOREGISTER)"));
        QCOMPARE(linesOf("[ProcessTab]\nbCICS=0\nszCICS=CICS\nbEDF=1\nszEDF=EDF\n"),
                 QStringList({"PROCESS(CICS)"}));
    }

    void blankValuesNeverBreakTheFile() {
        // A passed option whose value is blank (a file edited by hand) has nothing to say.
        QCOMPARE(linesOf("[GeneralTab]\nbOPTABLE=0\nbSECTALGN=0\nszSECTALGN=\nbTRANSLATE=0\n"
                         "[ListTab]\nbESD=0\nbLANGUAGE=0\n[FlagTab]\nbFLAG=0\nszFLAG=\nbCONT=0\n"
                         "[OutputTab]\nbADATA=0\nbADATALEVEL=0\n[ProcessTab]\nbAFPR=0\n"),
                 QStringList());
    }

    void pagesStoreWhatTheyShow() {
        PrivateProfile ini;
        auto flag = page(kFlagTab, ini);
        auto* severity = child<QSpinBox>(flag.get(), "value_FLAG");
        QVERIFY(!severity->isEnabled()); // Default is ticked: the control is off
        pass(flag.get(), "FLAG");
        QVERIFY(severity->isEnabled());
        // The severity spin box keeps to 0..255 however it is set.
        severity->setValue(300);
        QCOMPARE(severity->value(), 255);
        severity->setValue(-5);
        QCOMPARE(severity->value(), 0);
        severity->clear();
        QTest::keyClicks(severity, "999");
        QVERIFY(severity->value() <= 255);
        severity->setValue(8);
        pass(flag.get(), "CONT");
        child<QRadioButton>(flag.get(), "no_CONT")->setChecked(true);
        flag->save(ini);
        QCOMPARE(ini.value(kFlagTab, "bFLAG"), QString("0"));
        QCOMPARE(ini.value(kFlagTab, "szFLAG"), QString("8"));
        QCOMPARE(ini.value(kFlagTab, "bALIGN"), QString("1"));
        QCOMPARE(optionLines(ini), QStringList({"FLAG(8,NOCONT)"}));

        auto general = page(kGeneralTab, ini);
        pass(general.get(), "SYSPARM");
        child<QLineEdit>(general.get(), "value_SYSPARM")->setText("it's");
        pass(general.get(), "SECTALGN");
        child<QComboBox>(general.get(), "value_SECTALGN")->setCurrentText("4096");
        general->save(ini);

        auto listing = page(kListTab, ini);
        pass(listing.get(), "RXREF");
        child<QCheckBox>(listing.get(), "value_GR")->setChecked(true);
        child<QCheckBox>(listing.get(), "value_VR")->setChecked(true);
        listing->save(ini);

        auto output = page(kOutputTab, ini);
        pass(output.get(), "SYSPRINT");
        output->save(ini);

        auto process = page(kProcessTab, ini);
        QGroupBox* xoptsBox = nullptr;
        for (QGroupBox* b : process->findChildren<QGroupBox*>())
            if (b->title() == "XOPTS") xoptsBox = b;
        QVERIFY(xoptsBox && !xoptsBox->isEnabled());
        pass(process.get(), "CICS");
        child<QRadioButton>(process.get(), "yes_CICS")->setChecked(true);
        QVERIFY(xoptsBox->isEnabled()); // XOPTS follows PROCESS(CICS)
        pass(process.get(), "EDF");
        process->save(ini);

        QCOMPARE(
            optionLines(ini),
            QStringList({"SECTALGN(4096)", "SYSPARM('it''s')", "RXREF(GR,VR)", "FLAG(8,NOCONT)",
                         "SYSPRINT(&D&F.lst)", "PROCESS(CICS)", "XOPTS(EDF)"}));

        // Loading shows the stored state again, with out-of-range severities clamped.
        ini.setValue(kFlagTab, "szFLAG", "999");
        auto again = page(kFlagTab, ini);
        QCOMPARE(child<QSpinBox>(again.get(), "value_FLAG")->value(), 255);
        QVERIFY(!child<QCheckBox>(again.get(), "default_FLAG")->isChecked());
        QVERIFY(child<QRadioButton>(again.get(), "no_CONT")->isChecked());
        QVERIFY(child<QCheckBox>(again.get(), "default_ALIGN")->isChecked());
        QCOMPARE(clampSeverity("-3"), 0);
        QCOMPARE(clampSeverity("abc"), 0);
        QCOMPARE(clampSeverity(" 12 "), 12);

        // A hand-written value that a fixed list lacks is kept, not replaced.
        ini.setValue(kGeneralTab, "szSECTALGN", "8192");
        auto kept = page(kGeneralTab, ini);
        QCOMPARE(child<QComboBox>(kept.get(), "value_SECTALGN")->currentText(), QString("8192"));
    }

    void optionsFileIsWrittenWhole() {
        PrivateProfile ini;
        ini.loadFromData("[GeneralTab]\nbSIZE=0\nszSIZE=MAX\n[FlagTab]\nbFLAG=0\nszFLAG=4\n");
        QTemporaryDir dir;
        QString error;
        QVERIFY(writeOptionsFile(dir.filePath("o.env"), ini, &error));
        QCOMPARE(peldatest::readFile(dir.filePath("o.env")), QByteArray("SIZE(MAX)\nFLAG(4)\n"));
        QVERIFY(!writeOptionsFile(dir.filePath("missing/o.env"), ini, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
