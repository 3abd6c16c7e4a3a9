// The main window driven as a user would: documents, status bar, find and replace, a run of the
// (stand-in) assembler with its output and zoom, the font rule, tips, help and printing.
#include <QApplication>
#include <QDockWidget>
#include <QFontDialog>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPrinter>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "appprofile.h"
#include "assembler.h"
#include "finddialog.h"
#include "helplauncher.h"
#include "mainwindow.h"
#include "outputwindow.h"
#include "pelda_test_support.h"
#include "preferencesdialog.h"
#include "prompts.h"
#include "sourceeditor.h"
#include "tipdialog.h"

using namespace pelda;
using peldatest::Install;

namespace {

int selectedLine(SourceEditor* e) {
    QTextCursor c = e->textCursor();
    if (!c.hasSelection()) return 0;
    return e->document()->findBlock(c.selectionStart()).blockNumber() + 1;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        peldatest::initApplication();
        qunsetenv("ZORAINI");
        qunsetenv("ZORA_STANDIN_MODE");
        qunsetenv("ZORA_STANDIN_RECORD");
    }

    void statusBarFollowsTheCaret() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        w.show();
        SourceEditor* e = w.openFile(in.source);
        QVERIFY(e);
        QCOMPARE(w.installDir(), in.dir.path());
        QCOMPARE(w.positionText(), QString("Line 1,Col 1"));
        QTest::keyClick(e, Qt::Key_Down);
        QTest::keyClicks(e, "abc");
        QCOMPARE(w.positionText(), QString("Line 2,Col 4"));
        QCOMPARE(w.overwriteText(), QString());
        // Insert switches to overwriting: the next key replaces the character under the caret.
        QTest::keyClick(e, Qt::Key_Insert);
        QCOMPARE(w.overwriteText(), QString("OVR"));
        QTest::keyClick(e, 'Z');
        QCOMPARE(e->document()->findBlockByNumber(1).text(),
                 QString("abcZ        USING SAMPLE,15"));
        QTest::keyClick(e, Qt::Key_Insert);
        QCOMPARE(w.overwriteText(), QString());
        QVERIFY(e->document()->isModified());

        // Closing a changed document asks; Cancel keeps it open.
        peldatest::Messages m;
        m.saveAnswer = QMessageBox::Cancel;
        w.mdiArea()->activeSubWindow()->close();
        QCOMPARE(w.mdiArea()->subWindowList().size(), 1);
        QCOMPARE(m.texts, QStringList({"Save changes to sample.390?"}));
        m.saveAnswer = QMessageBox::Discard;
        w.mdiArea()->activeSubWindow()->close();
        QTRY_COMPARE(w.mdiArea()->subWindowList().size(), 0);
        QCOMPARE(peldatest::readFile(in.source), QByteArray(peldatest::kSource));
        QCOMPARE(w.recentFiles(), QStringList({in.source}));
    }

    void findAndReplace() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        SourceEditor* e = w.newDocument();
        e->setPlainText("  LR 1,2\n  lr 3,4\n  LRX 5\n  LR 6,7\n");
        FindDialog* f = w.findDialog();
        peldatest::Messages m;
        f->setSearch("LR", "LGR", true, true);
        QVERIFY(f->findNext());
        QCOMPARE(e->textCursor().selectionStart(), 2);
        QVERIFY(f->findNext());
        QCOMPARE(e->document()->findBlock(e->textCursor().selectionStart()).blockNumber(), 3);
        QVERIFY(f->findNext()); // wraps to the first again
        QCOMPARE(e->textCursor().selectionStart(), 2);
        f->setSearch("lr", "LGR", false, true);
        QCOMPARE(f->replaceAll(), 3); // LRX is no whole word
        QCOMPARE(e->toPlainText(), QString("  LGR 1,2\n  LGR 3,4\n  LRX 5\n  LGR 6,7\n"));
        e->undo(); // one step undoes all
        QCOMPARE(e->toPlainText(), QString("  LR 1,2\n  lr 3,4\n  LRX 5\n  LR 6,7\n"));
        f->setSearch("NOTHERE", "", false, false);
        QVERIFY(!f->findNext());
        QCOMPARE(m.texts, QStringList({"Cannot find the string 'NOTHERE'."}));
        // Replace replaces the current match and moves on.
        f->setSearch("LR", "X", true, true);
        e->moveCursor(QTextCursor::Start);
        QVERIFY(f->findNext());
        QVERIFY(f->replaceOne());
        QCOMPARE(e->document()->firstBlock().text(), QString("  X 1,2"));
        e->document()->setModified(false);
    }

    void filesKeepTheirBytes() {
        QTemporaryDir d;
        const QString path = d.filePath("old.asm");
        peldatest::writeFile(path, "A\xE9\r\nB\r\n"); // Latin-1 with CRLF
        SourceEditor e;
        QString error;
        QVERIFY(e.load(path, &error));
        QCOMPARE(e.toPlainText(), QString::fromUtf8("A\xC3\xA9\nB\n"));
        e.moveCursor(QTextCursor::End);
        e.insertPlainText("C\n");
        QVERIFY(e.save(path, &error));
        QCOMPARE(peldatest::readFile(path), QByteArray("A\xE9\r\nB\r\nC\r\n"));
        // A character Latin-1 cannot hold is refused, and the file stays as it was.
        e.insertPlainText(QString::fromUtf8("\xE2\x82\xAC"));
        QVERIFY(!e.save(path, &error));
        QVERIFY(error.contains("Latin-1"));
        QCOMPARE(peldatest::readFile(path), QByteArray("A\xE9\r\nB\r\nC\r\n"));
    }

    void assembleShowsErrorsAndZooms() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        const QString record = in.path("record.txt");
        qputenv("ZORA_STANDIN_RECORD", record.toLocal8Bit());
        MainWindow w;
        w.show();
        SourceEditor* e = w.openFile(in.source);
        QVERIFY(e);
        // What the user sees is what the assembler reads: changes are saved first.
        e->moveCursor(QTextCursor::End);
        e->insertPlainText("         BADOP 1\n");
        w.assembleCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(w.outputFor(in.source) != nullptr, 20000);
        OutputWindow* out = w.outputFor(in.source);
        QCOMPARE(out->texts().size(), 7);
        QCOMPARE(out->texts().value(3),
                 QString("4) ZORA057E (11) Undefined operation code - BADOP"));
        QVERIFY(!e->document()->isModified());
        QVERIFY(peldatest::readFile(in.source).endsWith("BADOP 1\n"));
        QCOMPARE(selectedLine(e), 4); // the first error's line is selected
        QVERIFY(peldatest::recordLines(record).contains("arg1=" + in.source));

        // Zoom to a line, to the member (opened in an editor of its own), and out of range.
        w.zoomTo(in.source, 9);
        QCOMPARE(selectedLine(e), 9);
        w.zoomTo(in.source, 500);
        QCOMPARE(selectedLine(e), 9);
        w.zoomTo(in.member, 3);
        SourceEditor* member = w.editorFor(in.member);
        QVERIFY(member && member != e);
        QCOMPARE(w.activeEditor(), member);
        QCOMPARE(selectedLine(member), 3);
        QCOMPARE(member->textCursor().selectedText(), QString("         STMX  14,12,12(13)"));

        // A second run reuses the document's output window.
        w.mdiArea()->setActiveSubWindow(w.mdiArea()->subWindowList().first());
        w.assembleCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(!w.assembler()->isRunning(), 20000);
        QCOMPARE(w.outputDock()->findChildren<OutputWindow*>().size(), 1);
        qunsetenv("ZORA_STANDIN_RECORD");
    }

    void untitledDocumentsAreSavedBeforeAssembling() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        SourceEditor* e = w.newDocument();
        e->setPlainText("         LR 1,2\n         END\n");
        peldatest::Messages m;
        m.saveAsAnswer = QString(); // cancelled: nothing runs
        w.assembleCurrent();
        QVERIFY(!w.assembler()->isRunning());
        m.saveAsAnswer = in.path("new.390");
        w.assembleCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(w.outputFor(in.path("new.390")) != nullptr, 20000);
        QTRY_COMPARE(w.outputFor(in.path("new.390"))->texts(),
                     QStringList({"No errors were encountered in the assembly."}));
    }

    void aFailedStartSaysSo() {
        Install none(false);
        peldatest::setInstallPath(none.dir.path());
        MainWindow w;
        peldatest::Messages m;
        w.openFile(none.source);
        w.assembleCurrent();
        QCOMPARE(m.texts.size(), 1);
        QVERIFY(m.texts[0].startsWith("CreateProcess() Failed"));
        OutputWindow* out = w.outputFor(none.source);
        QVERIFY(out);
        QCOMPARE(out->texts().value(0), QString("CreateProcess() Failed"));
        QVERIFY(!out->isPolling());
        QVERIFY(!out->texts().contains(OutputWindow::noErrorsText()));
        QVERIFY(!w.assembler()->isRunning());
    }

    void aCrashedAssemblerSaysSo() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        qputenv("ZORA_STANDIN_MODE", "crash");
        MainWindow w;
        w.openFile(in.source);
        w.assembleCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(w.outputFor(in.source) != nullptr, 20000);
        qunsetenv("ZORA_STANDIN_MODE");
        OutputWindow* out = w.outputFor(in.source);
        QCOMPARE(out->texts(), QStringList({"The assembler ended abnormally."}));
        QVERIFY(!out->isPolling());
    }

    void fontSizeRule() {
        bool big = true;
        QCOMPARE(fontHeightForPointSize(10, &big), 15);
        QVERIFY(!big);
        QCOMPARE(fontHeightForPointSize(12, &big), 18);
        QVERIFY(!big);
        QCOMPARE(fontHeightForPointSize(12.5, &big), 18);
        QVERIFY(big);
        QCOMPARE(fontHeightForPointSize(11), 16);

        AppProfile profile;
        SettingsPage page;
        page.load(profile);
        peldatest::Messages m;
        QFont f(QStringLiteral("Courier New"));
        f.setPointSize(20);
        f.setWeight(QFont::Bold);
        page.applyChosenFont(f);
        QCOMPARE(m.texts, QStringList({"Font Size is too big.\n\nThe size is being set to "
                                       "12\npoints which is the maximum."}));
        QCOMPARE(page.editorFont().height, 18);
        QCOMPARE(page.editorFont().weight, 700);
        page.save(profile);
        QCOMPARE(profile.editorFont().height, 18);
        QCOMPARE(profile.editorFont().toFont().pointSizeF(), 12.0);
        QCOMPARE(profile.editorFont().face, QString("Courier New"));
        f.setPointSize(9);
        page.applyChosenFont(f);
        QCOMPARE(m.texts.size(), 1);
        QCOMPARE(page.editorFont().height, 13);
    }

    void tipsResumeAndRestart() {
        QTemporaryDir d;
        const QString tips = d.filePath("PeldaTips.txt");
        peldatest::writeFile(tips, "; tips\nFirst tip.\n\nSecond tip.\nThird tip.\n");
        QSettings().clear();
        AppProfile profile;
        {
            TipDialog t(tips, profile);
            QCOMPARE(t.tip(), QString("First tip."));
            t.nextTip();
            QCOMPARE(t.tip(), QString("Second tip."));
        }
        {
            TipDialog t(tips, profile); // resumes after the last tip shown
            QCOMPARE(t.tip(), QString("Third tip."));
            t.nextTip();
            QCOMPARE(t.tip(), QString("First tip.")); // wraps at the end
        }
        // A changed file starts again at its first tip.
        QTest::qWait(20);
        peldatest::writeFile(tips, "; tips\nNew first.\nNew second.\n");
        QFile(tips).setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime);
        {
            TipDialog t(tips, profile);
            QCOMPARE(t.tip(), QString("New first."));
        }
        profile.setTipFilePos(1 << 20);
        {
            TipDialog t(tips, profile);
            QCOMPARE(t.tip(), TipDialog::troubleText());
            t.nextTip();
            QCOMPARE(t.tip(), QString("New first."));
        }
        TipDialog missing(d.filePath("none.txt"), profile);
        QCOMPARE(missing.tip(), QString("Tips file does not exist in the prescribed directory"));
    }

    void helpOpensOnceInFiveSeconds() {
        QTemporaryDir d;
        QDir(d.path()).mkdir("doc");
        peldatest::writeFile(d.filePath("doc/zrh.htm"), "<html></html>");
        HelpLauncher h;
        qint64 now = 1000;
        QList<QUrl> opened;
        h.clock = [&] { return now; };
        h.opener = [&](const QUrl& u) {
            opened << u;
            return true;
        };
        QCOMPARE(h.open(d.path(), "zrh.htm"), HelpLauncher::Opened);
        now += 4999;
        QCOMPARE(h.open(d.path(), "zrh.htm"), HelpLauncher::Ignored);
        now += 1;
        QCOMPARE(h.open(d.path(), "zrh.htm"), HelpLauncher::Opened);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[0], QUrl::fromLocalFile(d.filePath("doc/zrh.htm")));
        now += 10000;
        QCOMPARE(h.open(d.path(), "zrh4.htm"), HelpLauncher::Missing);
    }

    void printsTheDocument() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        SourceEditor* e = w.openFile(in.source);
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(in.path("out.pdf"));
        w.printDocument(e, &printer);
        QVERIFY(peldatest::readFile(in.path("out.pdf")).startsWith("%PDF"));
    }

    void errorListStaysInView() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        SourceEditor* e = w.openFile(in.source);
        QCOMPARE(w.positionText(), QString("Line 1,Col 1"));
        w.assembleCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(w.outputFor(in.source) != nullptr, 20000);
        QTRY_VERIFY(w.outputFor(in.source)->counts().errors > 0);
        OutputWindow* out = w.outputFor(in.source);
        // Docked under the documents, with the output window's own title and texts.
        QVERIFY(w.outputDock()->isVisible());
        QCOMPARE(w.dockWidgetArea(w.outputDock()), Qt::BottomDockWidgetArea);
        QCOMPARE(w.outputDock()->windowTitle(), "Assembler output of: '" + in.source + "'");
        QCOMPARE(out->texts().value(5), QString("4 errors were encountered during the assembly."));
        QCOMPARE(OutputWindow::countsText(out->counts()), QString("3 errors, 1 warning, 0 notes"));
        QCOMPARE(e->messageMarks(), (QMap<int, QChar>{{4, 'E'}, {6, 'E'}, {7, 'W'}, {9, 'E'}}));

        // F4 and Shift+F4 from the editor: the messages in turn, round at the ends.
        peldatest::Messages m;
        m.zoomAnswer = 0; // the copy statement, not the member
        w.mdiArea()->setActiveSubWindow(w.mdiArea()->subWindowList().first());
        e->setFocus();
        QList<int> visited;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(w.activeEditor(), Qt::Key_F4);
            visited << selectedLine(e);
        }
        QCOMPARE(visited, (QList<int>{4, 6, 9, 7, 4}));
        QTest::keyClick(w.activeEditor(), Qt::Key_F4, Qt::ShiftModifier);
        QCOMPARE(selectedLine(e), 7);
        QCOMPARE(m.zoomCalls, 1);

        // The message of the caret's line in the status bar, and gone on a line without one.
        e->goToLine(9);
        QCOMPARE(w.statusBar()->currentMessage(),
                 QString("ZORA057E (9) Undefined operation code - FOO"));
        e->goToLine(2);
        QCOMPARE(w.statusBar()->currentMessage(), QString());
        // The member opened from the list gets its own marks.
        w.zoomTo(in.member, 3);
        QCOMPARE(w.editorFor(in.member)->messageMarks(), (QMap<int, QChar>{{3, 'E'}}));
    }

    void windowPlacement_data() {
        QTest::addColumn<QRect>("wanted");
        QTest::addColumn<QRect>("placed");
        const QRect area(0, 0, 800, 600);
        QTest::newRow("inside stays") << QRect(10, 10, 300, 200) << QRect(10, 10, 300, 200);
        QTest::newRow("past the right edge")
            << QRect(700, 20, 300, 200) << QRect(500, 20, 300, 200);
        QTest::newRow("past the bottom") << QRect(20, 500, 300, 200) << QRect(20, 400, 300, 200);
        QTest::newRow("wider than the area") << QRect(60, 30, 1200, 200) << QRect(0, 30, 800, 200);
        QTest::newRow("above and left") << QRect(-40, -10, 300, 200) << QRect(0, 0, 300, 200);
    }
    void windowPlacement() {
        QFETCH(QRect, wanted);
        QFETCH(QRect, placed);
        QCOMPARE(MainWindow::fitInside(wanted, QRect(0, 0, 800, 600)), placed);
    }

    void newWindowsAndCascadeStayInsideTheArea() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        w.resize(900, 640);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect area(QPoint(0, 0), w.mdiArea()->viewport()->size());
        const QSize wanted = w.documentWindowSize();
        QVERIFY(wanted.width() < area.width()); // 85 columns fit here
        for (int i = 0; i < 7; ++i) {
            w.newDocument();
            for (QMdiSubWindow* s : w.mdiArea()->subWindowList())
                QVERIFY2(area.contains(s->geometry()), qPrintable(QString::number(i)));
        }
        // A nested file reference opens its window inside the area too.
        w.zoomTo(in.member, 2);
        QVERIFY(area.contains(w.mdiArea()->activeSubWindow()->geometry()));
        w.cascade();
        QSet<int> offsets;
        for (QMdiSubWindow* s : w.mdiArea()->subWindowList()) {
            QVERIFY(area.contains(s->geometry()));
            QCOMPARE(s->size(), wanted.boundedTo(area.size()));
            offsets << s->x();
        }
        QVERIFY(offsets.size() > 1);
        // Wider than the area: cut to it, and still inside.
        w.profile().setEditWidth(400);
        w.newDocument();
        QCOMPARE(w.mdiArea()->activeSubWindow()->width(), area.width());
        QVERIFY(area.contains(w.mdiArea()->activeSubWindow()->geometry()));
        for (QMdiSubWindow* s : w.mdiArea()->subWindowList())
            if (auto* d = qobject_cast<SourceEditor*>(s->widget()))
                d->document()->setModified(false);
    }

    void fontDialogRoundTrip() {
        peldatest::Install in;
        peldatest::setInstallPath(in.dir.path());
        AppProfile profile;
        EditorFont chosen;
        chosen.face = QStringLiteral("DejaVu Sans Mono");
        profile.setEditorFont(chosen);
        SettingsPage page;
        page.load(profile);
        auto acceptDialog = [](std::function<void(QFontDialog*)> change) {
            QTimer::singleShot(0, [change] {
                auto* dlg = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
                QVERIFY(dlg);
                if (change) change(dlg);
                dlg->accept();
            });
        };
        // Accepted as it opened: nothing changes, and the face is not made oblique.
        acceptDialog(nullptr);
        page.chooseFont();
        QCOMPARE(page.editorFont().face, chosen.face);
        QCOMPARE(page.editorFont().italic, false);
        QCOMPARE(page.editorFont().weight, 400);
        QCOMPARE(page.editorFont().height, 15);
        // A real change comes back.
        acceptDialog([](QFontDialog* dlg) {
            QFont f = dlg->currentFont();
            f.setWeight(QFont::Bold);
            f.setStyleName(QString());
            f.setPointSize(11);
            dlg->setCurrentFont(f);
        });
        page.chooseFont();
        QCOMPARE(page.editorFont().weight, 700);
        QCOMPARE(page.editorFont().height, 16);
        QCOMPARE(page.editorFont().italic, false);
        // The profile's face missing here: accepting unchanged keeps "Courier New" all the same.
        chosen.face = QStringLiteral("Courier New Q7");
        profile.setEditorFont(chosen);
        page.load(profile);
        acceptDialog(nullptr);
        page.chooseFont();
        QCOMPARE(page.editorFont().face, QString("Courier New Q7"));
    }

    void dialogsStartInTheDocumentsFolder() {
        Install in;
        peldatest::setInstallPath(QDir::tempPath());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        peldatest::Messages m;
        QStringList folders;
        prompts().openPaths = [&](QWidget*, const QString& folder) {
            folders << folder;
            return QStringList();
        };
        QString suggested;
        prompts().saveAsPath = [&](QWidget*, const QString& s) {
            suggested = s;
            return QString();
        };
        w.openFile(in.source);
        QTest::keyClick(w.activeEditor(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(folders, QStringList({in.dir.path()}));
        // An untitled document is offered the folder of the last file.
        SourceEditor* e = w.newDocument();
        w.saveAs(e);
        QCOMPARE(suggested, in.path("Untitled1.390"));
    }

    void reloadWhenAnotherProgramChangesTheFile() {
        Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        SourceEditor* e = w.openFile(in.source);
        peldatest::Messages m;
        QStringList asked;
        bool answer = true;
        prompts().reloadChanged = [&](QWidget*, const QString& text) {
            asked << text;
            return answer;
        };
        // The editor's own save asks nothing.
        e->moveCursor(QTextCursor::End);
        e->insertPlainText("* mine\n");
        QVERIFY(w.save(e));
        QTest::qWait(400);
        QVERIFY(asked.isEmpty());
        // Another program's change is offered, and reloading is one step that Undo takes back.
        QTest::qWait(20);
        peldatest::writeFile(in.source, "* theirs\n");
        QTRY_COMPARE(asked.size(), 1);
        QVERIFY(asked[0].contains("changed by another program"));
        QCOMPARE(e->toPlainText(), QString("* theirs\n"));
        QVERIFY(!e->document()->isModified());
        e->undo();
        QVERIFY(e->toPlainText().endsWith("* mine\n"));
        e->redo();
        // Refused: the document keeps its text and counts as changed.
        answer = false;
        QTest::qWait(20);
        peldatest::writeFile(in.source, "* theirs again\n");
        QTRY_COMPARE(asked.size(), 2);
        QCOMPARE(e->toPlainText(), QString("* theirs\n"));
        QVERIFY(e->document()->isModified());
        e->document()->setModified(false);
    }

    void zoomChooserShowsTheReferencesWhole() {
        const QString source = "/home/user/projects/payroll/assembler/sources/PAYROLL.390, line 14";
        const QString member = "/home/user/projects/payroll/assembler/macros/SAVEAREA.mac, line 3";
        ZoomChooser dlg(nullptr, {source, member});
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QListWidget* list = dlg.list();
        for (int row = 0; row < 2; ++row)
            QVERIFY(list->viewport()->width() >=
                    list->fontMetrics().horizontalAdvance(list->item(row)->text()));
        QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
        QCOMPARE(list->item(1)->toolTip(), member);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
