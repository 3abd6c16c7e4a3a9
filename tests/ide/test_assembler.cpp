// Running the assembler (the stand-in) and reading what it leaves: command line, environment,
// working files, the output window's lines, its polling, and the references to source lines.
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

#include "assembler.h"
#include "errorref.h"
#include "outputwindow.h"
#include "pelda_test_support.h"
#include "privateprofile.h"
#include "sourceeditor.h"
#include "workfiles.h"

using namespace pelda;
using peldatest::Install;

namespace {

// Runs the stand-in on source and waits for the end; the record's lines come back.
QStringList runOnce(Assembler& a, const Install& in, const QString& source,
                    const PrivateProfile& ini, const QString& record) {
    QSignalSpy done(&a, &Assembler::finished);
    if (!a.start(in.dir.path(), source, ini)) return {"start failed"};
    if (!done.wait(20000)) return {"no end"};
    return peldatest::recordLines(record);
}

} // namespace

class AssemblerTest : public QObject {
    Q_OBJECT
    QTemporaryDir scratch_;
    QString record_;

  private slots:
    void init() {
        record_ = scratch_.filePath("record.txt");
        QFile::remove(record_);
        qputenv("ZORA_STANDIN_RECORD", record_.toLocal8Bit());
        qunsetenv("ZORA_STANDIN_MODE");
        qunsetenv("ZORA_STANDIN_DELAY_MS");
        qunsetenv("ZORAINI");
    }

    void workingFilesArePrivate() {
        WorkFiles w;
        QVERIFY(w.isValid());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(w.folder()).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(st.st_uid, ::geteuid());
        QCOMPARE(QFileInfo(w.errorFile()).fileName(), QString("PeldaZORA.err"));
        QCOMPARE(QFileInfo(w.messageFile()).fileName(), QString("PeldaZORA.msg"));
        QCOMPARE(optionsFileName(0x1F3C), QString("Pelda1F3C.env"));
        QCOMPARE(optionsFileName(0xAB), QString("Pelda00AB.env"));
        QCOMPARE(optionsFileName(0x12ABCD), QString("Pelda12ABCD.env"));
        WorkFiles other;
        QVERIFY(other.folder() != w.folder()); // two editors never share result files
    }

    void commandLineAndEnvironment() {
        Install in;
        WorkFiles w;
        Assembler a(w);
        // Characters that a shell or a quoted command line would mangle reach the program as
        // they are.
        const QString odd = in.path("my \"odd\" 'src' $HOME.390");
        QVERIFY(QFile::copy(in.source, odd));
        PrivateProfile ini;
        ini.loadFromData("[FlagTab]\nbFLAG=0\nszFLAG=4\n[GeneralTab]\nbSIZE=0\nszSIZE=MAX\n");
        const QStringList rec = runOnce(a, in, odd, ini, record_);
        QCOMPARE(rec.mid(0, 5), QStringList({"argc=4", "arg1=" + odd, "arg2=-Q", "arg3=-T",
                                             "arg4=-SM'" + w.messageFile() + "'"}));
        QCOMPARE(rec.value(5), "ZORAERR=" + w.errorFile());
        QCOMPARE(rec.value(6), "ZORAINI=" + w.optionsFile());
        QCOMPARE(rec.value(7), "cwd=" + in.dir.path());
        QCOMPARE(rec.mid(8), QStringList({"options:", "  SIZE(MAX)", "  FLAG(4)"}));
        QVERIFY(qgetenv("ZORAERR").isEmpty()); // the editor's own environment is untouched
    }

    void existingZoraIniStaysInFrontAndIsFormedOnce() {
        Install in;
        WorkFiles w;
        Assembler a(w);
        qputenv("ZORAINI", "/etc/zora/site.ini");
        PrivateProfile ini;
        QVERIFY(runOnce(a, in, in.source, ini, record_)
                    .contains("ZORAINI=/etc/zora/site.ini;" + w.optionsFile()));
        // Later runs reuse the value of the first, whatever the environment says by then.
        qputenv("ZORAINI", "/elsewhere.ini");
        QVERIFY(runOnce(a, in, in.source, ini, record_)
                    .contains("ZORAINI=/etc/zora/site.ini;" + w.optionsFile()));
        qunsetenv("ZORAINI");
        QVERIFY(runOnce(a, in, in.source, ini, record_)
                    .contains("ZORAINI=/etc/zora/site.ini;" + w.optionsFile()));

        // An empty ZORAINI counts as none.
        Assembler b(w);
        qputenv("ZORAINI", "");
        QVERIFY(runOnce(b, in, in.source, ini, record_).contains("ZORAINI=" + w.optionsFile()));
    }

    void resultFilesAreDeletedBeforeEachRun() {
        Install in;
        WorkFiles w;
        peldatest::writeFile(w.errorFile(), "OLD (1) stale error\n");
        peldatest::writeFile(w.messageFile(), "OLD (2) stale message\n");
        Assembler a(w);
        qputenv("ZORA_STANDIN_MODE", "nofiles");
        PrivateProfile ini;
        runOnce(a, in, in.source, ini, record_);
        QVERIFY(!QFile::exists(w.errorFile()));
        QVERIFY(!QFile::exists(w.messageFile()));
    }

    void failedStartsAreReported() {
        Install none(false);
        WorkFiles w;
        Assembler a(w);
        QSignalSpy failed(&a, &Assembler::failed);
        QSignalSpy finished(&a, &Assembler::finished);
        PrivateProfile ini;
        QVERIFY(!a.start(none.dir.path(), none.source, ini));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0][2].toBool(), true);
        QVERIFY(failed[0][1].toString().contains(none.path("zora")));

        // A "zora" that cannot be run is no assembler either, and no other one on PATH is used.
        peldatest::writeFile(none.path("zora"), "#!/bin/sh\nexit 0\n");
        QVERIFY(!a.start(none.dir.path(), none.source, ini));
        QCOMPARE(failed.size(), 2);
        QVERIFY(!a.isRunning());
        QTest::qWait(50);
        QCOMPARE(finished.size(), 0);
    }

    void theInterfaceRunsWhileTheAssemblerDoes() {
        Install in;
        WorkFiles w;
        Assembler a(w);
        qputenv("ZORA_STANDIN_DELAY_MS", "2000");
        int ticks = 0;
        QTimer t;
        connect(&t, &QTimer::timeout, [&] { ++ticks; });
        t.start(50);
        QElapsedTimer clock;
        clock.start();
        QSignalSpy done(&a, &Assembler::finished);
        PrivateProfile ini;
        QVERIFY(a.start(in.dir.path(), in.source, ini));
        QVERIFY(clock.elapsed() < 1000); // start() returns at once
        QVERIFY(a.isRunning());
        QVERIFY(!a.start(in.dir.path(), in.source, ini)); // one run at a time
        QVERIFY(done.wait(20000));
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QCOMPARE(done[0][1].toBool(), false);
        QCOMPARE(done[0][2].toInt(), 8);
    }

    void outputNumbersBothFilesAndSummarises() {
        Install in;
        WorkFiles w;
        Assembler a(w);
        PrivateProfile ini;
        runOnce(a, in, in.source, ini, record_);
        OutputWindow out(in.source, w.errorFile(), w.messageFile());
        out.load();
        QCOMPARE(out.windowTitle(), "Assembler output of: '" + in.source + "'");
        QCOMPARE(out.texts(),
                 QStringList({"1) ZORA057E (4) Undefined operation code - LRX",
                              "2) ZORA057E (6,SAVEAREA.mac(3)) Undefined operation code - STMX",
                              "3) ZORA057E (9) Undefined operation code - FOO",
                              "4) ZORA163W (7) Label longer than 8 characters - TOOLONGNAME",
                              OutputWindow::delimiterText(),
                              "4 errors were encountered during the assembly."}));
        QCOMPARE(out.list()->currentRow(), 5); // the summary line is selected
        QVERIFY(!out.isPolling());
        QCOMPARE(out.firstErrorLine(), std::optional<int>(4));

        // CRLF files read the same.
        peldatest::writeFile(w.errorFile(), "E (1) one\r\nE (2) two\r\n");
        peldatest::writeFile(w.messageFile(), "M (3) three\r\n");
        out.load();
        QCOMPARE(out.texts().mid(0, 3),
                 QStringList({"1) E (1) one", "2) E (2) two", "3) M (3) three"}));
    }

    void outputPollsUntilTheFilesArrive() {
        QTemporaryDir d;
        const QString err = d.filePath("e.err"), msg = d.filePath("m.msg");
        OutputWindow out("/src/a.390", err, msg);
        out.load();
        QCOMPARE(out.texts(), QStringList({"Assembling..."}));
        QVERIFY(out.isPolling());
        out.tick();
        QCOMPARE(out.texts(), QStringList({"Assembling..."}));
        // The message file without lines: the assembly found nothing.
        peldatest::writeFile(msg, "");
        out.tick();
        QCOMPARE(out.texts(), QStringList({"No errors were encountered in the assembly."}));
        QVERIFY(!out.isPolling());
        QCOMPARE(out.firstErrorLine(), std::nullopt);

        // Lines that arrive later end the polling with the summary, on the real timer.
        QFile::remove(msg);
        out.load();
        QVERIFY(out.isPolling());
        peldatest::writeFile(err, "E (5) late\n");
        QTRY_VERIFY_WITH_TIMEOUT(!out.isPolling(), 5000);
        QCOMPARE(out.texts(), QStringList({"1) E (5) late", OutputWindow::delimiterText(),
                                           "1 errors were encountered during the assembly."}));
    }

    void pollingStopsAtTheSixtiethTick() {
        QTemporaryDir d;
        OutputWindow out("/src/a.390", d.filePath("e"), d.filePath("m"));
        out.load();
        for (int i = 1; i < OutputWindow::kMaxTicks; ++i) out.tick();
        QVERIFY(out.isPolling());
        QCOMPARE(out.texts(), QStringList({"Assembling..."}));
        out.tick();
        QCOMPARE(out.ticks(), 60);
        QVERIFY(!out.isPolling());
        QCOMPARE(out.texts(), QStringList({"No errors were encountered in the assembly."}));

        // Lines that are there by the last tick are shown, not hidden behind "No errors".
        out.load();
        for (int i = 1; i < OutputWindow::kMaxTicks; ++i) out.tick();
        peldatest::writeFile(d.filePath("m"), "W (3) at the last moment\n");
        out.tick();
        QCOMPARE(out.texts().value(0), QString("1) W (3) at the last moment"));
    }

    void failuresAreNeverReportedAsSuccess() {
        QTemporaryDir d;
        OutputWindow out("/src/a.390", d.filePath("e"), d.filePath("m"));
        out.showFailure({"CreateProcess() Failed", "/opt/zora: No such file or directory"});
        QVERIFY(!out.isPolling());
        QCOMPARE(out.texts(),
                 QStringList({"CreateProcess() Failed", "/opt/zora: No such file or directory"}));
        out.showAbnormalEnd("The assembler ended abnormally.");
        QVERIFY(!out.isPolling());
        QCOMPARE(out.texts(), QStringList({"The assembler ended abnormally."}));
    }

    void referencesToSourceLines() {
        struct Case {
            const char* text;
            int line;
            const char* file;
            int fileLine;
        };
        const Case cases[] = {
            {"ZORA057E (12) Undefined operation code", 12, "", 0},
            {"x ( 7 ) then (9)", 7, "", 0},
            {"ZORA057E (14,SAVEAREA.mac(3)) Undefined", 14, "SAVEAREA.mac", 3},
            {"W (20:/abs/path/m.cpy(44)) text", 20, "/abs/path/m.cpy", 44},
            {"I (MEMBER.mac(5)) only the member", 0, "MEMBER.mac", 5},
            {"E (14,MEMBER.mac(x)) no member line", 14, "", 0},
            {"ZORA000I no reference", 0, "", 0},
            {"ZORA000I (ABC) a word", 0, "", 0},
            {"ZORA000I (-3) signed", 0, "", 0},
            {"ZORA000I () empty", 0, "", 0},
            {"ZORA000I (12 never closed", 0, "", 0},
            {"ZORA000I (99999999999) too large", 0, "", 0},
            {"ZORA000I ) (0)", 0, "", 0},
        };
        for (const Case& c : cases) {
            ErrorRef r = parseErrorRef(c.text);
            QVERIFY2(r.line == c.line && r.file == c.file && r.fileLine == c.fileLine, c.text);
        }
    }

    void doubleClickZoomsToTheSource() {
        Install in;
        QTemporaryDir d;
        const QString err = d.filePath("e"), msg = d.filePath("m");
        peldatest::writeFile(err, "E (4) plain\nE (6,SAVEAREA.mac(3)) nested\nE (ABC) no number\n");
        peldatest::writeFile(msg, "I (SAVEAREA.mac(2)) member only\n");
        OutputWindow out(in.source, err, msg);
        out.resize(600, 300);
        out.show();
        QVERIFY(QTest::qWaitForWindowExposed(&out));
        out.load();
        QSignalSpy zoom(&out, &OutputWindow::zoomRequested);
        peldatest::Messages prompts;
        auto dclick = [&](int row) {
            QListWidget* l = out.list();
            QRect r = l->visualItemRect(l->item(row));
            // A double click follows a press, as it does with a real mouse.
            QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, r.center());
        };
        dclick(0);
        QCOMPARE(zoom.size(), 1);
        QCOMPARE(zoom[0], QVariantList({in.source, 4}));

        // A nested reference offers both places; the member is found beside the source.
        prompts.zoomAnswer = 1;
        dclick(1);
        QCOMPARE(prompts.zoomCalls, 1);
        QCOMPARE(prompts.zoomChoices,
                 QStringList({in.source + ", line 6", in.member + ", line 3"}));
        QCOMPARE(zoom.last(), QVariantList({in.member, 3}));
        prompts.zoomAnswer = 0;
        dclick(1);
        QCOMPARE(zoom.last(), QVariantList({in.source, 6}));
        prompts.zoomAnswer = -1; // cancelled
        dclick(1);
        QCOMPARE(zoom.size(), 3);

        dclick(3); // the member alone needs no question
        QCOMPARE(prompts.zoomCalls, 3);
        QCOMPARE(zoom.last(), QVariantList({in.member, 2}));

        // Lines that name no source line: no number, the delimiter, the summary.
        const int before = int(zoom.size());
        for (int row : {2, 4, 5}) dclick(row);
        QCOMPARE(int(zoom.size()), before);
        QCOMPARE(out.texts().value(5), QString("4 errors were encountered during the assembly."));
    }

    void severityLetters() {
        const std::pair<const char*, char> cases[] = {
            {"ZORA057E (4) Undefined", 'E'},
            {"ASMA303W (2) Multiple", 'W'},
            {"  ZORA001s lower case", 'S'},
            {"ZORA0000I note", 'I'},
            {"E (4) no identifier", 0},
            {"ZORA057 (4) no letter", 0},
            {"ZORAE (4) no digit", 0},
            {"ZORA-57E (4) not alphanumeric", 0},
            {"", 0},
        };
        for (const auto& [text, letter] : cases)
            QVERIFY2(severityLetter(text) == QChar(letter), text);
    }

    void messagesByColourCountAndLine() {
        Install in;
        QTemporaryDir d;
        const QString err = d.filePath("e"), msg = d.filePath("m");
        peldatest::writeFile(err, "ZORA057E (4) bad\nZORA099S (6,SAVEAREA.mac(3)) worse\n"
                                  "(9) no identifier\n");
        peldatest::writeFile(msg, "ZORA163W (4) odd\nZORA001I (ABC) no line\n"
                                  "ZORA002N (2) noted\n");
        OutputWindow out(in.source, err, msg);
        out.load();
        const OutputWindow::Counts c = out.counts();
        QCOMPARE(c.errors, 3); // the unmarked line of the error file counts as an error
        QCOMPARE(c.warnings, 1);
        QCOMPARE(c.notes, 2);
        QCOMPARE(out.findChild<QLabel*>("counts")->text(), QString("3 errors, 1 warning, 2 notes"));
        // Each message in the colour of its severity.
        QCOMPARE(out.list()->item(3)->foreground().color(),
                 SourceEditor::severityColour('W').darker(125));
        QCOMPARE(out.list()->item(0)->foreground().color(),
                 SourceEditor::severityColour('E').darker(125));
        // The lines of the source and of the member, the most severe message deciding.
        QCOMPARE(out.marksFor(in.source),
                 (QMap<int, QChar>{{2, 'I'}, {4, 'E'}, {6, 'E'}, {9, 'E'}}));
        QCOMPARE(out.marksFor(in.member), (QMap<int, QChar>{{3, 'E'}}));
        QCOMPARE(out.messagesAt(in.source, 4),
                 QStringList({"ZORA057E (4) bad", "ZORA163W (4) odd"}));
        QCOMPARE(out.messagesAt(in.member, 3), QStringList({"ZORA099S (6,SAVEAREA.mac(3)) worse"}));
        QVERIFY(out.messagesAt(in.source, 5).isEmpty());
    }

    void enterJumpsAndSteppingSkipsLinesWithoutReference() {
        Install in;
        QTemporaryDir d;
        const QString err = d.filePath("e"), msg = d.filePath("m");
        peldatest::writeFile(err, "E (4) one\nE (ABC) none\nE (9) two\n");
        peldatest::writeFile(msg, "");
        OutputWindow out(in.source, err, msg);
        out.show();
        QVERIFY(QTest::qWaitForWindowExposed(&out));
        out.load();
        QSignalSpy zoom(&out, &OutputWindow::zoomRequested);
        QVERIFY(out.step(1)); // from the summary round to the first
        QVERIFY(out.step(1)); // over the line that names no source line
        QCOMPARE(zoom.last(), QVariantList({in.source, 9}));
        out.list()->setCurrentRow(0);
        out.list()->setFocus();
        QTest::keyClick(out.list(), Qt::Key_Return);
        QCOMPARE(zoom.last(), QVariantList({in.source, 4}));
        QCOMPARE(zoom.size(), 3);
    }
};

QTEST_MAIN(AssemblerTest)
#include "test_assembler.moc"
