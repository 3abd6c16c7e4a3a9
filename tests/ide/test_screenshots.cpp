// Pictures of the real windows for a person to look at: a highlighted source with the ruler,
// guides and line numbers, the main window with a document, every page of the preferences
// dialog, the main window and its docked error list after a run, and the tip of the day. They
// are written to screenshots/ in the build tree; the test checks that none is blank.
#include "screenshot.h"
#include <QApplication>
#include <QDockWidget>
#include <QHash>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTabWidget>
#include <QTest>

#include "assembler.h"
#include "mainwindow.h"
#include "outputwindow.h"
#include "pelda_test_support.h"
#include "preferencesdialog.h"
#include "privateprofile.h"
#include "sourceeditor.h"
#include "tipdialog.h"

using namespace pelda;

namespace {

// Saves the picture of w and checks that it shows something: several colours, and no single
// colour covering nearly all of it.
bool shoot(QWidget* w, const QString& name, QString* why) {
    return testsupport::shootWidget(w, PELDA_SCREENSHOTS, name, why);
}

const char* const kRichSource =
    "*PROCESS RENT\n"
    "*---------------------------------------------------------------------*\n"
    "* PAYROLL: adds up the week's hours of every employee.                *\n"
    "*---------------------------------------------------------------------*\n"
    "         MACRO\n"
    "&LABEL   ENTER &REGS=(14,12)\n"
    ".* Save the caller's registers and chain the save areas.\n"
    "         AIF   (T'&LABEL EQ 'O').NOLAB\n"
    "&LABEL   DS    0H\n"
    ".NOLAB   STM   &REGS,12(13)\n"
    "         MEND\n"
    "PAYROLL  CSECT                                                          PAY00010\n"
    "PAYROLL  AMODE 31                                                       PAY00020\n"
    "         ENTER\n"
    "         USING PAYROLL,R12          base register\n"
    "         LA    R2,TABLE             first employee\n"
    "LOOP     L     R4,HOURS(,R2)        hours of this week\n"
    "         AH    R4,=H'40'            plus the standard\n"
    "         CLI   FLAG,X'FF'           last entry?\n"
    "         JNE   LOOP\n"
    "         WTO   'PAYROLL: all employees are paid, the week is closed andX\n"
    "                the report is on its way'\n"
    "TABLE    DC    4F'0',CL8'SMITH'\n"
    "FLAG     DC    X'00'\n"
    "         END   PAYROLL\n";

} // namespace

class ScreenshotTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        peldatest::initApplication();
        qunsetenv("ZORA_STANDIN_RECORD");
        qunsetenv("ZORA_STANDIN_MODE");
    }

    void windows() {
        peldatest::Install in;
        peldatest::setInstallPath(in.dir.path());
        peldatest::writeFile(
            in.path("PeldaTips.txt"),
            "Double-click a line of the output window to go to the source line.\n");
        // A few options passed, so that the pages show enabled controls beside default ones.
        PrivateProfile ini(in.path("QCONFIG.INI"));
        ini.loadFromData("[GeneralTab]\nbSYSPARM=0\nszSYSPARM=TEST RUN\nbSIZE=0\nszSIZE=MAX\n"
                         "[ListTab]\nbRXREF=0\nbGR=0\nszGR=GR\n[FlagTab]\nbFLAG=0\nszFLAG=4\nbCONT="
                         "0\nszCONT=NOCONT\n"
                         "[OutputTab]\nbLIST=0\nszLIST=LIST(133)\n[ProcessTab]\nbCICS=0\nszCICS="
                         "CICS\nbEDF=0\nszEDF=EDF\n");
        QVERIFY(ini.save());
        QString why;

        MainWindow w;
        w.resize(1100, 760);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // A source with every kind of statement, continued lines and sequence numbers.
        peldatest::writeFile(in.path("PAYROLL.390"), kRichSource);
        SourceEditor* rich = w.openFile(in.path("PAYROLL.390"));
        QVERIFY(rich);
        w.mdiArea()->activeSubWindow()->showMaximized();
        rich->goToLine(12, false);
        QVERIFY2(shoot(&w, "editor-highlighted", &why), qPrintable(why));
        w.mdiArea()->activeSubWindow()->showNormal();
        w.mdiArea()->activeSubWindow()->close();

        SourceEditor* e = w.openFile(in.source);
        QVERIFY(e);
        e->goToLine(4);
        QVERIFY2(shoot(&w, "main-window", &why), qPrintable(why));

        PreferencesDialog prefs(w.qconfigPath(), w.profile(), nullptr, &w);
        prefs.resize(prefs.sizeHint().expandedTo(QSize(860, 560)));
        prefs.show();
        QVERIFY(QTest::qWaitForWindowExposed(&prefs));
        for (int i = 0; i < prefs.tabs()->count(); ++i) {
            prefs.tabs()->setCurrentIndex(i);
            QString name = QString("preferences-%1-%2")
                               .arg(i + 1)
                               .arg(prefs.tabs()->tabText(i).section(' ', 0, 0).toLower());
            QVERIFY2(shoot(&prefs, name, &why), qPrintable(why));
        }
        prefs.close();

        w.assembleCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(w.outputFor(in.source) != nullptr, 20000);
        OutputWindow* out = w.outputFor(in.source);
        QCOMPARE(out->texts().size(), 6);
        QTRY_VERIFY(out->counts().errors > 0);
        QVERIFY(w.outputDock()->isVisible());
        QVERIFY2(shoot(&w, "main-window-after-run", &why), qPrintable(why));
        QVERIFY2(shoot(w.outputDock(), "error-list", &why), qPrintable(why));

        TipDialog tip(in.path("PeldaTips.txt"), w.profile(), &w);
        tip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tip));
        QVERIFY2(shoot(&tip, "tip-of-the-day", &why), qPrintable(why));
    }
};

QTEST_MAIN(ScreenshotTest)
#include "test_screenshots.moc"
