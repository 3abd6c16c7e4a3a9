// The build wizard with the real builder: every page's defaults, checks and messages, builds
// of a PDS, a sequential data set with a message, and a failing build, each opened again in
// the window; a PDS built from text members extracts back to the same texts. Pictures of each
// page go to screenshots/.
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>

#include "connections.h"
#include "extractrequest.h"
#include "filetree.h"
#include "frontend_test_support.h"
#include "opx.h"
#include "opxframe.h"
#include "savedialogs.h"
#include "saverequest.h"

using namespace opxwin;
using opxtest::Recorder;

namespace {

// Member files a.txt ... in a folder: n of them, each of two lines.
QStringList makeMembers(const QString& dir, int n) {
    QDir().mkpath(dir);
    QStringList names;
    for (int i = 0; i < n; ++i) {
        const QString name = QStringLiteral("m%1").arg(i, 3, 10, QLatin1Char('0'));
        opxtest::writeFile(dir + "/" + name + ".txt",
                           "* member " + name.toUpper().toLatin1() + "\n         END\n");
        names << name.toUpper();
    }
    return names;
}

QStringList row(MemberTableModel* m, int r) {
    QStringList cells;
    for (int c = 0; c < m->columnCount(); ++c) cells << m->cell(r, c);
    return cells;
}

} // namespace

class SaveWizardTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qputenv("CODEPAGE_ASCII", "819");
        qputenv("CODEPAGE_EBCDIC", "1047");
        QVERIFY(OpxConnection::theConnection()->isConnected());
        QVERIFY(BrenConnection::theConnection()->isConnected());
    }
    void init() { Opx::theProperties().clear(); }

    void nodeAndUserNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::newRow("four letters and digits") << "AB12" << true;
        QTest::newRow("eight") << "ABCDEFGH" << true;
        QTest::newRow("starts with a digit") << "1ABC" << false;
        QTest::newRow("lower case") << "abcd" << false;
        QTest::newRow("nine") << "ABCDEFGHI" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("national") << "A$B" << false;
    }
    void nodeAndUserNames() {
        QFETCH(QString, name);
        QFETCH(bool, ok);
        QCOMPARE(SaveDialog::isNameOk(name), ok);
    }

    void firstPage() {
        QTemporaryDir dir;
        SaveRequest r(nullptr, dir.path(), "new.xmi");
        QCOMPARE(r.sCaption, QString("Creating new.xmi"));
        QCOMPARE(r.xmitPath(), dir.filePath("new.xmi"));
        SaveDialog p(&r);
        QCOMPARE(p.windowTitle(), QString("Creating new.xmi"));
        QVERIFY(p.backButton() == nullptr);
        QVERIFY(p.pdsBox()->isChecked());
        QCOMPARE(p.originNodeEdit()->text(),
                 BrenConnection::theConnection()->getDefaultOriginNode());
        QCOMPARE(p.originUserEdit()->text(),
                 BrenConnection::theConnection()->getDefaultOriginUser());
        struct Step {
            QLineEdit* edit;
            QString value;
            QString message;
        };
        const QString missing = dir.filePath("none.txt");
        const Step steps[] = {
            {p.dsnEdit(), "", "Please enter a Data Set Name."},
            {p.dsnEdit(), "sys1.maclib", "Invalid Data Set Name entered."},
            {p.dsnEdit(), "USER.SRC", ""},
            {p.messageEdit(), missing, "Message file \"" + missing + "\" not found."},
            {p.messageEdit(), "", ""},
            {p.originNodeEdit(), "1NODE", "Invalid Origin Node entered."},
            {p.originNodeEdit(), "NODE1", ""},
            {p.originUserEdit(), "user", "Invalid Origin User entered."},
            {p.originUserEdit(), "USER1", ""},
            {p.targetNodeEdit(), "NODE123456", "Invalid Target Node entered."},
            {p.targetNodeEdit(), "NODE2", ""},
            {p.targetUserEdit(), "", "Invalid Target User entered."},
            {p.targetUserEdit(), "USER2", ""},
        };
        for (const Step& s : steps) {
            s.edit->setText(s.value);
            if (!s.message.isEmpty()) QCOMPARE(p.check(), s.message);
        }
        QCOMPARE(p.check(), QString());
        p.pdsBox()->setChecked(false);
        p.store();
        // Remembered for the next build.
        SaveRequest again(nullptr, dir.path(), "other.xmi");
        SaveDialog q(&again);
        QVERIFY(!q.pdsBox()->isChecked());
        QCOMPARE(q.dsnEdit()->text(), QString("USER.SRC"));
        QCOMPARE(q.targetUserEdit()->text(), QString("USER2"));
    }

    void inputPage() {
        QTemporaryDir dir;
        makeMembers(dir.filePath("src"), 3);
        SaveRequest r(nullptr, dir.path(), "new.xmi");
        {
            SaveDialog2 p(&r);
            QCOMPARE(p.filedataBox()->count(), 3);
            QCOMPARE(p.check(), QString("Please enter a path pattern. (e.g. /directory/&m.txt)"));
            p.pathEdit()->setText(dir.filePath("src/m000.txt"));
            QCOMPARE(p.check(),
                     "Path pattern \"" + dir.filePath("src/m000.txt") + "\" is not valid.");
            p.pathEdit()->setText(dir.filePath("src/&m.asm"));
            QCOMPARE(p.check(),
                     "No members found for pattern \"" + dir.filePath("src/&m.asm") + "\".");
            p.pathEdit()->setText(dir.filePath("src/&m.txt"));
            QCOMPARE(p.check(), QString());
            QCOMPARE(p.members(), QStringList({"M000", "M001", "M002"}));
        }
        r.bIsPds = false;
        SaveDialog2 p(&r);
        // Binder input is offered for a partitioned data set only.
        QCOMPARE(p.filedataBox()->count(), 2);
        QCOMPARE(p.check(), QString("Please enter a file name."));
        p.pathEdit()->setText(dir.filePath("src/gone.txt"));
        QCOMPARE(p.check(), "File \"" + dir.filePath("src/gone.txt") + "\" not found.");
    }

    void directoryBlocksForTheMembers_data() {
        QTest::addColumn<int>("members");
        QTest::addColumn<int>("blocks");
        QTest::newRow("20") << 20 << 1;
        QTest::newRow("21") << 21 << 2;
        QTest::newRow("42") << 42 << 3;
    }
    void directoryBlocksForTheMembers() {
        QFETCH(int, members);
        QFETCH(int, blocks);
        SaveRequest r(nullptr, "/tmp", "x.xmi");
        for (int i = 0; i < members; ++i) r.asMembers << QStringLiteral("M%1").arg(i);
        SaveDialog3 p(&r);
        QCOMPARE(p.check(), QString());
        QCOMPARE(r.iMinDirBlocks, blocks);
        // With two selected, only they count.
        p.memberList()->item(1)->setSelected(true);
        p.memberList()->item(0)->setSelected(true);
        QCOMPARE(p.chosen(), QStringList({"M0", "M1"}));
    }

    void binderNeedsLoadModules() {
        QTemporaryDir dir;
        makeMembers(dir.filePath("src"), 2);
        SaveRequest r(nullptr, dir.path(), "x.xmi");
        r.iFiledata = SaveRequest::FILEDATA_BINDER;
        r.sInputPath = dir.filePath("src/&m.txt");
        r.asMembers = QStringList{"M000", "M001"};
        SaveDialog3 p(&r);
        QCOMPARE(p.check(), QString("Member M000 is not a valid load module."));
        SaveDialog5 five(&r);
        QCOMPARE(five.recfmBox()->count(), 1);
        QCOMPARE(five.recfmBox()->currentText(), QString("U"));
        QCOMPARE(five.lreclEdit()->text(), QString("0"));
    }

    void devicePage() {
        SaveRequest r(nullptr, "/tmp", "x.xmi");
        r.iMinDirBlocks = 2;
        {
            r.iMinBlksize = 40000;
            SaveDialog4 p(&r);
            QCOMPARE(p.deviceBox()->count(), 0);
            QCOMPARE(p.check(),
                     QString("No device can hold the smallest block size of 40000 bytes."));
        }
        r.iMinBlksize = 0;
        SaveDialog4 p(&r);
        QCOMPARE(p.deviceBox()->count(), 7);
        p.deviceBox()->setCurrentText("3390");
        QCOMPARE(p.dirBlocksEdit()->text(), QString("2"));
        QCOMPARE(p.primaryEdit()->text(), QString("+0"));
        QCOMPARE(p.secondaryEdit()->text(), QString("1"));
        QVERIFY(p.tracksButton()->isChecked());
        struct Case {
            const char* blocks;
            const char* primary;
            const char* secondary;
            bool cylinders;
            const char* message;
        };
        const Case cases[] = {
            {"1", "+0", "1", false, "Directory blocks value must be from 2 to 32767."},
            {"32768", "+0", "1", false, "Directory blocks value must be from 2 to 32767."},
            {"x", "+0", "1", false, "Directory blocks value must be from 2 to 32767."},
            {"5", "0", "1", false,
             "Primary space value must be from 1 to 16680 or +0 to +16680 tracks."},
            {"5", "16681", "1", false,
             "Primary space value must be from 1 to 16680 or +0 to +16680 tracks."},
            {"5", "+1113", "1", true,
             "Primary space value must be from 1 to 1112 or +0 to +1112 cylinders."},
            {"5", "+1112", "1113", true, "Secondary space value must be from 0 to 1112 cylinders."},
            {"5", "+1112", "-1", true, "Secondary space value must be from 0 to 1112 cylinders."},
            {"5", "+1112", "0", true, ""},
            {"5", "16680", "16680", false, ""},
        };
        for (const Case& c : cases) {
            p.dirBlocksEdit()->setText(c.blocks);
            p.primaryEdit()->setText(c.primary);
            p.secondaryEdit()->setText(c.secondary);
            (c.cylinders ? p.cylindersButton() : p.tracksButton())->setChecked(true);
            QCOMPARE(p.check(), QString(c.message));
        }
        p.store();
        QCOMPARE(r.iPriSpace, 16680);
        QVERIFY(!r.bIsPriSpaceInc);
        QCOMPARE(Opx::property("SaveSpaceUnits"), QString("Trks"));
    }

    void recordFormatPage_data() {
        QTest::addColumn<QString>("recfm");
        QTest::addColumn<QString>("lrecl");
        QTest::addColumn<QString>("blksize");
        QTest::addColumn<QString>("message");
        QTest::newRow("FB 80 27920") << "FB"
                                     << "80"
                                     << "27920"
                                     << "";
        QTest::newRow("FB 80 27921") << "FB"
                                     << "80"
                                     << "27921"
                                     << "Block size must be an even multiple of the logical record "
                                        "length for RECFM=FB";
        QTest::newRow("F 80 81")
            << "F"
            << "80"
            << "81"
            << "Block size and logical record length must be equal for RECFM=F";
        QTest::newRow("FB 0") << "FB"
                              << "0"
                              << "27920"
                              << "Logical record length must be at least 1 for RECFM=FB";
        QTest::newRow("FB empty") << "FB"
                                  << ""
                                  << "27920"
                                  << "Logical record length must be at least 1 for RECFM=FB";
        QTest::newRow("FB block 0") << "FB"
                                    << "80"
                                    << "0"
                                    << "Block size must be between 1 and 32760.";
        QTest::newRow("block text") << "FB"
                                    << "80"
                                    << "big"
                                    << "Block size must be between 1 and 32760.";
        QTest::newRow("block too big") << "FB"
                                       << "80"
                                       << "32761"
                                       << "Block size must be between 1 and 32760.";
        QTest::newRow("VBS 100000") << "VBS"
                                    << "100000"
                                    << "27998"
                                    << "";
        QTest::newRow("VB 27994") << "VB"
                                  << "27994"
                                  << "27998"
                                  << "";
        QTest::newRow("VB 27995")
            << "VB"
            << "27995"
            << "27998"
            << "Logical record length must be between 5 and 27994 for RECFM=VB";
        QTest::newRow("V block 8") << "V"
                                   << "4"
                                   << "8"
                                   << "Block size must be between 9 and 32760.";
        QTest::newRow("U") << "U"
                           << ""
                           << "6144"
                           << "";
    }
    void recordFormatPage() {
        QFETCH(QString, recfm);
        QFETCH(QString, lrecl);
        QFETCH(QString, blksize);
        QFETCH(QString, message);
        SaveRequest r(nullptr, "/tmp", "x.xmi");
        r.iFiledata = SaveRequest::FILEDATA_RECORD;
        r.sDevice = "3390";
        SaveDialog5 p(&r);
        QCOMPARE(p.recfmBox()->count(), 27);
        QCOMPARE(p.recfmBox()->currentText(), QString("FB"));
        QCOMPARE(p.lreclEdit()->text(), QString("80"));
        QCOMPARE(p.blksizeEdit()->text(), QString("27998"));
        QVERIFY(!p.tabsBox()->isEnabled());
        p.recfmBox()->setCurrentText(recfm);
        p.lreclEdit()->setText(lrecl);
        p.blksizeEdit()->setText(blksize);
        QCOMPARE(p.check(), message);
        // Text input offers no machine control formats; a sequential data set starts at FBS.
        r.iFiledata = SaveRequest::FILEDATA_TEXT;
        r.bIsPds = false;
        r.sDevice.clear();
        SaveDialog5 text(&r);
        QCOMPARE(text.recfmBox()->count(), 18);
        QCOMPARE(text.recfmBox()->findText("FBM"), -1);
        QCOMPARE(text.recfmBox()->currentText(), QString("FBS"));
        QCOMPARE(text.maxBlksize(), 32760);
        QVERIFY(text.tabsBox()->isEnabled());
    }

    void buildAPdsOpenItAndExtractIt() {
        QTemporaryDir dir;
        const QStringList names = makeMembers(dir.filePath("src"), 4);
        OpxFrame frame;
        Recorder rec;
        rec.fileAnswer = dir.filePath("made.xmi");
        QString why;
        rec.page = [&](WizardPage* p) {
            const QString name = QString::fromLatin1(p->metaObject()->className()).section(':', -1);
            if (auto* one = qobject_cast<SaveDialog*>(p)) {
                one->dsnEdit()->setText("USER.MADE.SRC");
                one->originNodeEdit()->setText("NODE1");
                one->originUserEdit()->setText("USER1");
                one->targetNodeEdit()->setText("NODE2");
                one->targetUserEdit()->setText("USER2");
            } else if (auto* two = qobject_cast<SaveDialog2*>(p)) {
                two->pathEdit()->setText(dir.filePath("src/&m.txt"));
            } else if (auto* four = qobject_cast<SaveDialog4*>(p)) {
                four->deviceBox()->setCurrentText("3390");
                four->dirBlocksEdit()->setText("3");
            } else if (auto* five = qobject_cast<SaveDialog5*>(p)) {
                five->blksizeEdit()->setText("3120");
            } else if (qobject_cast<ExtractDialog*>(p)) {
                static_cast<ExtractDialog*>(p)->pathEdit()->setText(dir.filePath("out/&m.txt"));
                static_cast<ExtractDialog*>(p)->alwaysButton()->setChecked(true);
            } else if (auto* text = qobject_cast<ExtractTextDialog*>(p)) {
                text->lineEndBox()->setCurrentIndex(1);
            }
            if (qobject_cast<SaveDialog*>(p) || qobject_cast<SaveDialog2*>(p) ||
                qobject_cast<SaveDialog3*>(p) || qobject_cast<SaveDialog4*>(p) ||
                qobject_cast<SaveDialog5*>(p)) {
                p->show();
                if (!QTest::qWaitForWindowExposed(p) || !opxtest::shoot(p, "build-" + name, &why))
                    qWarning() << name << why;
            }
            p->pressOk();
            return p->result();
        };
        bool shot = false;
        rec.atEnd = [&](StatusDialog* s) {
            s->resize(760, 460);
            if (QTest::qWaitForWindowExposed(s)) shot = opxtest::shoot(s, "build-status", &why);
        };
        frame.handleFileNew();
        QCOMPARE(rec.fileCaptions, QStringList({"Create TSO XMIT File"}));
        QCOMPARE(rec.pageTitles, QStringList({"SaveDialog", "SaveDialog2", "SaveDialog3",
                                              "SaveDialog4", "SaveDialog5"}));
        QVERIFY2(shot, qPrintable(why));
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.messages.join('\n')));
        const QString summary = "Creating " + dir.filePath("made.xmi") +
                                "\n    For 4 members of PDS USER.MADE.SRC\n    From " +
                                dir.filePath("src/&m.txt") +
                                "\n    Origin:           NODE1.USER1\n    Target:           "
                                "NODE2.USER2\n    Filedata:       "
                                "  Text\n    Device:           3390\n    Directory Blocks: 3 (1 "
                                "used)\n    Space:         "
                                "   Trk,+0,1\n    Recfm:            FB\n    Blksize:          "
                                "3120\n    Lrecl:            "
                                "80\n    Exapand Tabs:     0\n\nTSO TRANSMIT file \"" +
                                dir.filePath("made.xmi") +
                                "\" successfully created from 4 members of data set USER.MADE.SRC";
        QVERIFY2(rec.statusText.startsWith(summary), qPrintable(rec.statusText));
        QCOMPARE(rec.statusButton, QString("OK"));
        for (const char* page :
             {"SaveDialog", "SaveDialog2", "SaveDialog3", "SaveDialog4", "SaveDialog5"})
            QVERIFY2(
                QFileInfo::exists(QStringLiteral(OPXWIN_SCREENSHOTS "/build-") + page + ".png"),
                page);

        // The window opened the new file.
        QVERIFY(frame.root() != nullptr);
        QCOMPARE(frame.windowTitle(), QString("Quorin Opalex - made.xmi"));
        SourceFileTreeNode* node = frame.root()->child(0);
        QCOMPARE(node->label(), QString("USER.MADE.SRC"));
        QStringList listed;
        for (int i = 0; i < node->getTableModel()->rowCount(); ++i)
            listed << node->getTableModel()->cell(i, 0);
        QCOMPARE(listed, names);

        // Extracted back to the same texts.
        QDir().mkpath(dir.filePath("out"));
        frame.tree()->setCurrentIndex(
            frame.treeModel()->index(0, 0, frame.treeModel()->rootIndex()));
        frame.handleExtract();
        for (const QString& n : names)
            QCOMPARE(opxtest::readFile(dir.filePath("out/" + n.toLower() + ".txt")),
                     opxtest::readFile(dir.filePath("src/" + n.toLower() + ".txt")));
    }

    // A load library through the wizard: the modules of a corpus load library relinked by opx
    // in the form the builder binds (COMPAT=LKED), bound with FILEDATA Binder, and the new file
    // opened as a load library with the same members and the same directory data.
    void buildALoadLibraryFromLoadModules() {
        const QString library =
            QStringLiteral(OPX_SHARED_DIR "/corpus/xmit/load/sw_KICKS_SKIKRPL.xmi");
        if (!QFileInfo::exists(library)) QSKIP("../shared/corpus is absent; skipped");
        QTemporaryDir dir;
        QProcess opx;
        opx.start(QCoreApplication::applicationDirPath() + "/opx",
                  {"extract", library, "-t", "relink", "--parm", "COMPAT=LKED,NCAL", "-o",
                   dir.filePath("lk/&M")});
        QVERIFY(opx.waitForFinished(120000));
        QVERIFY2(opx.exitCode() == 0, opx.readAllStandardError().constData());

        Recorder rec;
        QString blksizeShown;
        rec.page = [&](WizardPage* p) {
            if (auto* one = qobject_cast<SaveDialog*>(p)) {
                one->dsnEdit()->setText("USER.MADE.LOAD");
                for (QLineEdit* e : {one->originNodeEdit(), one->originUserEdit(),
                                     one->targetNodeEdit(), one->targetUserEdit()})
                    e->setText("ABC");
            } else if (auto* two = qobject_cast<SaveDialog2*>(p)) {
                two->pathEdit()->setText(dir.filePath("lk/&M"));
                two->filedataBox()->setCurrentText("Binder");
            } else if (auto* four = qobject_cast<SaveDialog4*>(p)) {
                four->deviceBox()->setCurrentText("3390");
            } else if (auto* five = qobject_cast<SaveDialog5*>(p)) {
                blksizeShown = five->blksizeEdit()->text();
                // The largest module needs the largest block the device takes.
                five->blksizeEdit()->setText("32760");
            }
            p->pressOk();
            return p->result();
        };
        SaveRequest r(nullptr, dir.path(), "load.xmi");
        QVERIFY2(r.save(), qPrintable(rec.messages.join('\n')));
        // Binder offers the device's recommended block size (half a 3390 track) at first.
        QCOMPARE(blksizeShown, QString("27998"));
        QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.messages.join('\n')));
        QCOMPARE(rec.pageTitles, QStringList({"SaveDialog", "SaveDialog2", "SaveDialog3",
                                              "SaveDialog4", "SaveDialog5"}));
        QVERIFY2(rec.statusText.contains("\n    Filedata:         Binder\n"),
                 qPrintable(rec.statusText));
        QVERIFY2(rec.statusText.contains("\n    Recfm:            U\n"),
                 qPrintable(rec.statusText));

        OpxFrame original, made;
        QVERIFY(original.openXmitFile(QFileInfo(library).path(), QFileInfo(library).fileName()));
        QVERIFY(made.openXmitFile(dir.path(), "load.xmi"));
        SourceFileTreeNode* want = original.root()->child(0);
        SourceFileTreeNode* got = made.root()->child(0);
        QCOMPARE(got->label(), QString("USER.MADE.LOAD"));
        QVERIFY2(got->getFileDescription().contains("RECFM:         U"),
                 qPrintable(got->getFileDescription()));
        QCOMPARE(got->getTableModel()->rowCount(), want->getTableModel()->rowCount());
        for (int i = 0; i < want->getTableModel()->rowCount(); ++i)
            QCOMPARE(row(got->getTableModel(), i), row(want->getTableModel(), i));
    }

    void buildASequentialDataSetWithAMessage() {
        QTemporaryDir dir;
        opxtest::writeFile(dir.filePath("data.txt"), "line one\nline two\n");
        opxtest::writeFile(dir.filePath("note.txt"), "Please receive this.\n");
        Recorder rec;
        rec.page = [&](WizardPage* p) {
            if (auto* one = qobject_cast<SaveDialog*>(p)) {
                one->dsnEdit()->setText("USER.DATA");
                one->pdsBox()->setChecked(false);
                one->messageEdit()->setText(dir.filePath("note.txt"));
                for (QLineEdit* e : {one->originNodeEdit(), one->originUserEdit(),
                                     one->targetNodeEdit(), one->targetUserEdit()})
                    e->setText("ABC");
            } else if (auto* two = qobject_cast<SaveDialog2*>(p)) {
                two->pathEdit()->setText(dir.filePath("data.txt"));
            } else if (auto* five = qobject_cast<SaveDialog5*>(p)) {
                five->blksizeEdit()->setText("3200");
            }
            p->pressOk();
            return p->result();
        };
        SaveRequest r(nullptr, dir.path(), "seq.xmi");
        QVERIFY(r.save());
        QCOMPARE(rec.pageTitles, QStringList({"SaveDialog", "SaveDialog2", "SaveDialog5"}));
        QVERIFY(rec.statusText.contains("\n    For sequential data set USER.DATA\n"));
        QVERIFY(rec.statusText.contains("\n    With message file " + dir.filePath("note.txt")));
        QVERIFY(rec.statusText.contains("successfully created with 2 records"));
        OpxFrame frame;
        QVERIFY(frame.openXmitFile(dir.path(), "seq.xmi"));
        QCOMPARE(frame.root()->childCount(), 2);
        QVERIFY(frame.root()->child(0)->getFileDescription().startsWith("Please receive this."));
        QCOMPARE(frame.root()->child(1)->label(), QString("USER.DATA"));
        QVERIFY(frame.root()->child(1)->getFileDescription().contains("RECFM:         FBS"));
    }

    void aFailedBuildSaysWhy() {
        QTemporaryDir dir;
        opxtest::writeFile(dir.filePath("data.txt"), "line\n");
        Recorder rec;
        rec.page = [&](WizardPage* p) {
            if (auto* one = qobject_cast<SaveDialog*>(p)) {
                one->dsnEdit()->setText("USER.DATA");
                one->pdsBox()->setChecked(false);
                for (QLineEdit* e : {one->originNodeEdit(), one->originUserEdit(),
                                     one->targetNodeEdit(), one->targetUserEdit()})
                    e->setText("ABC");
            } else if (auto* two = qobject_cast<SaveDialog2*>(p)) {
                two->pathEdit()->setText(dir.filePath("data.txt"));
            } else if (auto* five = qobject_cast<SaveDialog5*>(p)) {
                five->blksizeEdit()->setText("3200");
            }
            p->pressOk();
            return p->result();
        };
        // The folder of the transmit file does not exist.
        SaveRequest r(nullptr, dir.filePath("no/such/folder"), "bad.xmi");
        QVERIFY(!r.save());
        QCOMPARE(rec.messages.size(), 1);
        QVERIFY2(rec.messages.first().startsWith("Create Failed: Error creating file \""),
                 qPrintable(rec.messages.first()));
        QVERIFY(rec.statusText.endsWith("\n\n" + rec.messages.first().mid(15)));
        QCOMPARE(rec.statusButton, QString("OK"));
    }

    void backKeepsTheValues() {
        QTemporaryDir dir;
        Recorder rec;
        int step = 0;
        QString dsnAfterBack;
        rec.page = [&](WizardPage* p) {
            ++step;
            if (auto* one = qobject_cast<SaveDialog*>(p)) {
                if (step == 1) {
                    one->dsnEdit()->setText("USER.BACK");
                    one->pdsBox()->setChecked(false);
                    for (QLineEdit* e : {one->originNodeEdit(), one->originUserEdit(),
                                         one->targetNodeEdit(), one->targetUserEdit()})
                        e->setText("ABC");
                } else {
                    dsnAfterBack = one->dsnEdit()->text();
                    p->pressCancel();
                    return p->result();
                }
                p->pressOk();
            } else {
                p->pressBack();
            }
            return p->result();
        };
        SaveRequest r(nullptr, dir.path(), "x.xmi");
        QVERIFY(!r.save());
        QCOMPARE(rec.pageTitles, QStringList({"SaveDialog", "SaveDialog2", "SaveDialog"}));
        QCOMPARE(dsnAfterBack, QString("USER.BACK"));
        QVERIFY(rec.statusText.isEmpty());
    }
};

QTEST_MAIN(SaveWizardTest)
#include "test_savewizard.moc"
