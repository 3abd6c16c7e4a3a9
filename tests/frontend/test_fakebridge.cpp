// The window program driven through a fake extractor bridge: the tree, the descriptions and
// the member table of every kind of data set, directory lines of every length, the open
// failures, the wizard's values handed to the bridge, and every event of an extraction with
// every answer, including failures and a cancel in the middle of a long run.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include "connections.h"
#include "extractrequest.h"
#include "fakeopxbridge.h"
#include "filetree.h"
#include "frontend_test_support.h"
#include "opx.h"
#include "opxframe.h"

using namespace opxwin;
using opxtest::Recorder;

namespace {

// An ISPF statistics line and a load-module line as the extractor core formats them.
const char kIspfLine[] = "PROG1     PROG        1.003  2019-04-02  2021-11-30 14:07  IBMUSER";
const char kLoadLine[] =
    "IEFBR14             00A010  000008   31     ANY    1  RF    RU               ";

struct Frame {
    QTemporaryDir dir;
    QString path;
    OpxFrame frame;
    Frame() {
        path = dir.filePath("sample.xmit");
        opxtest::writeFile(path, QByteArray(160, ' '));
    }
    bool open() { return frame.openXmitFile(QString(), path); }
    OpxFileTreeNode* child(int row) { return frame.root()->child(row); }
    void select(int row) {
        XmitTreeModel* m = frame.treeModel();
        frame.tree()->setCurrentIndex(row < 0 ? m->rootIndex() : m->index(row, 0, m->rootIndex()));
    }
};

// A partitioned data set of three members ALPHA, BETA, GAMMA.
void threeMembers() {
    FakeOpxAddDataSet(3, 0, 0, 3, 80, 27920, "FB", "USER.SRC", nullptr);
    FakeOpxSetDe(0, 0, "ALPHA");
    FakeOpxSetDe(0, 1, "BETA");
    FakeOpxSetDe(0, 2, "GAMMA");
}

// Answers the first page with a path, a type and an overwrite button, and OK on every page.
std::function<int(WizardPage*)> pages(const QString& path, int type, const QString& replace) {
    return [=](WizardPage* p) {
        if (auto* first = qobject_cast<ExtractDialog*>(p)) {
            first->pathEdit()->setText(path);
            first->selectType(type);
            const QString& r = replace;
            (r == "Always"  ? first->alwaysButton()
             : r == "Never" ? first->neverButton()
                            : first->promptButton())
                ->setChecked(true);
        }
        p->pressOk();
        return p->result();
    };
}

QStringList logLines() {
    return QString::fromLatin1(FakeOpxLog()).split('\n', Qt::SkipEmptyParts);
}

QStringList extractActions() {
    QStringList actions;
    for (const QString& l : logLines())
        if (l.startsWith("reqExtract")) actions << l.mid(11);
    return actions;
}

} // namespace

class FakeBridgeTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        OpxConnection::sLibraryName = QStringLiteral("fakeopxbridge");
        Opx::iTraceLevel = 3;
        QVERIFY(OpxConnection::theConnection()->isConnected());
        QCOMPARE(OpxConnection::theConnection()->sProductDir, QString("/opt/fake/"));
        QCOMPARE(OpxConnection::theConnection()->sProductName, QString("Fake Opalex"));
        QVERIFY(QString(FakeOpxLog()).contains("connect 3"));
    }
    void init() {
        FakeOpxReset();
        Opx::theProperties().clear();
    }

    void treeOfEveryKind() {
        FakeOpxSetOrigin("20240131235958", "NODE1", "USERA");
        FakeOpxAddDataSet(1, 0, 0, -1, 251, 3120, "VB", "", "Hello\nthere\n");
        FakeOpxAddDataSet(2, 0, 0, -1, 80, 27920, "FB", "USER.SEQ", nullptr);
        FakeOpxAddDataSet(3, 0, 0, 2, 80, 27920, "FB", "USER.PDS", nullptr);
        FakeOpxAddDataSet(4, 0, 0, 0, 80, 27920, "FB", "USER.PDSE", nullptr);
        FakeOpxAddDataSet(2, 1, 0, -1, 80, 27920, "FB", "USER.SECRET", nullptr);
        FakeOpxAddDataSet(3, 0, 0, 0, 80, 3120, "FB", "USER.EMPTY", nullptr);
        FakeOpxAddDataSet(0, 0, 0, -1, -1, -1, "", "USER.ODD", nullptr);
        FakeOpxAddDataSet(3, 0, 1, 1, -1, 6144, "U", "USER.LOAD", nullptr);
        FakeOpxSetDe(2, 0, kIspfLine);
        FakeOpxSetDe(7, 0, kLoadLine);
        Frame f;
        QVERIFY(f.open());
        QCOMPARE(f.frame.windowTitle(), QString("Quorin Opalex - sample.xmit"));
        QCOMPARE(f.frame.treeModel()->rowCount(), 1);
        QCOMPARE(f.frame.root()->label(), QString("sample.xmit"));
        QCOMPARE(f.frame.root()->getFileDescription(),
                 "Path Name: " + QFileInfo(f.path).canonicalFilePath() +
                     "\nExported:  2024-01-31 23:59:58\nFrom Node: NODE1\nFrom User: USERA");
        QCOMPARE(f.frame.root()->childCount(), 8);

        struct Row {
            const char* label;
            const char* description;
            bool extractable;
            const char* reason;
        };
        const Row rows[] = {
            {"Message", "Hello\nthere\n", false, "Please select a data set."},
            {"USER.SEQ",
             "Data Set Name: USER.SEQ\nData Set Org.: Sequential\nRECFM:         FB\nBLKSIZE:      "
             " "
             "27920\nLRECL:         80",
             true, ""},
            {"USER.PDS",
             "Data Set Name: USER.PDS\nData Set Org.: PDS\nRECFM:         FB\nBLKSIZE:       "
             "27920\nLRECL:         80\nMembers:       2",
             true, ""},
            {"USER.PDSE",
             "Data Set Name: USER.PDSE\nData Set Org.: PDSE\nRECFM:         FB\nBLKSIZE:       "
             "27920\nLRECL:         80",
             false, "Extract of PDSE is not supported."},
            {"USER.SECRET",
             "Data Set Name: USER.SECRET\nData Set Org.: Sequential\nRECFM:         FB\nBLKSIZE:  "
             "     27920\nLRECL:         80",
             false, "Data set is encrypted."},
            {"USER.EMPTY",
             "Data Set Name: USER.EMPTY\nData Set Org.: PDS\nRECFM:         FB\nBLKSIZE:       "
             "3120\nLRECL:         80\nMembers:       0",
             false, "The PDS is empty."},
            {"USER.ODD", "Data Set Name: USER.ODD\nData Set Org.: Unknown", false,
             "Unknown data set organization."},
            {"USER.LOAD",
             "Data Set Name: USER.LOAD\nData Set Org.: PDS (Load Library)\nRECFM:         "
             "U\nBLKSIZE:       6144\nMembers:       1",
             true, ""},
        };
        for (int i = 0; i < 8; ++i) {
            OpxFileTreeNode* n = f.child(i);
            QCOMPARE(n->label(), QString(rows[i].label));
            QCOMPARE(n->getFileDescription(), QString(rows[i].description));
            QCOMPARE(n->isExtractable(), rows[i].extractable);
            if (!rows[i].extractable)
                QCOMPARE(n->getUnextractableReason(), QString(rows[i].reason));
        }

        // The member table of the PDS and of the load library.
        f.frame.show();
        f.select(2);
        QVERIFY(!f.frame.table()->isHidden());
        QVERIFY(!f.frame.description()->isHidden());
        QCOMPARE(f.frame.description()->toPlainText(), QString(rows[2].description));
        auto* model = f.frame.treeModel()->nodeAt(f.frame.tree()->currentIndex())->getTableModel();
        QCOMPARE(model->headings(),
                 QStringList({"Member", "Alias Of", "Ver.Mod", "Created", "Last Changed", "User"}));
        QStringList cells;
        for (int c = 0; c < 6; ++c) cells << model->cell(0, c);
        QCOMPARE(cells, QStringList({"PROG1", "PROG", "1.003", "2019-04-02", "2021-11-30 14:07",
                                     "IBMUSER"}));
        QCOMPARE(model->cell(1, 0), QString("#1")); // no line for member 1
        QCOMPARE(model->cell(1, 2), QString());
        // Widths: the wider of heading and sample, plus a margin.
        const QFontMetrics fm(f.frame.table()->font());
        QCOMPARE(f.frame.table()->columnWidth(4),
                 std::max(fm.horizontalAdvance("Last Changed"),
                          fm.horizontalAdvance("2000/00/00-00:00")) +
                     16);
        f.select(7);
        model = f.frame.treeModel()->nodeAt(f.frame.tree()->currentIndex())->getTableModel();
        cells.clear();
        for (int c = 0; c < 8; ++c) cells << model->cell(0, c);
        QCOMPARE(cells,
                 QStringList({"IEFBR14", "", "00A010", "000008", "31", "ANY", "  1", "RF    RU"}));
        // The root hides the table and shows the path, export time, node and user.
        f.select(-1);
        QVERIFY(f.frame.table()->isHidden());
        QVERIFY(f.frame.description()->toPlainText().contains("From User: USERA"));

        // Extract on what cannot be extracted says why.
        Recorder rec;
        f.select(0);
        f.frame.handleExtract();
        f.select(3);
        f.frame.handleExtract();
        QCOMPARE(rec.messages,
                 QStringList({"Extract Failed: Cannot extract Message\nPlease select a data set.",
                              "Extract Failed: Cannot extract USER.PDSE\nExtract of PDSE is not "
                              "supported."}));
        QCOMPARE(rec.pageTitles, QStringList());
    }

    void directoryLinesOfEveryLength() {
        struct Case {
            const char* line;
            bool loadLibrary;
            QStringList cells;
        };
        const Case cases[] = {
            {kIspfLine,
             false,
             {"PROG1", "PROG", "1.003", "2019-04-02", "2021-11-30 14:07", "IBMUSER"}},
            // Statistics without a user: the line ends after the minute.
            {"NOUSER                1.000  2020-01-01  2020-01-02 03:04  ",
             false,
             {"NOUSER", "", "1.000", "2020-01-01", "2020-01-02 03:04", ""}},
            // An entry without statistics ends after column 17.
            {"PLAIN             ", false, {"PLAIN", "", "", "", "", ""}},
            {"AB", false, {"AB", "", "", "", "", ""}},
            {"", false, {"", "", "", "", "", ""}},
            {"ALIAS1    TARGET  ", false, {"ALIAS1", "TARGET", "", "", "", ""}},
            {kLoadLine, true, {"IEFBR14", "", "00A010", "000008", "31", "ANY", "  1", "RF    RU"}},
            // A program object ends after column 17: every number keeps its initial value.
            {"POBJ              ", true, {"POBJ", "", "000000", "000000", "", "", "   ", ""}},
            {"BADHEX              00ZZ10  000008",
             true,
             {"BADHEX", "", "000000", "000008", "", "", "   ", ""}},
            {"AC12                000100  000000   24     24    12",
             true,
             {"AC12", "", "000100", "000000", "24", "24", " 12", ""}},
        };
        for (const Case& c : cases) {
            std::vector<SourceMember> members;
            members.emplace_back(nullptr, 0, QString::fromLatin1(c.line));
            MemberTableModel model(&members, c.loadLibrary);
            QStringList cells;
            for (int i = 0; i < model.columnCount(); ++i) cells << model.cell(0, i);
            QCOMPARE(cells, c.cells);
        }
        std::vector<SourceMember> members;
        members.emplace_back(nullptr, 0, QString::fromLatin1("X                   000010  000000"));
        QCOMPARE(members[0].moduleSize(), 16);
        QCOMPARE(members[0].moduleAC(), -1);
        QCOMPARE(members[0].ispfVersion(), -1);
    }

    void openFailures() {
        Recorder rec;
        Frame f;
        // A missing file names its absolute path even though it has no canonical one.
        const QString missing = f.dir.filePath("sub/../nothing.xmit");
        QVERIFY(!f.frame.openXmitFile(QString(), missing));
        QCOMPARE(rec.messages.value(0),
                 "Open Failed: File \"" + QDir::cleanPath(missing) + "\" does not exist.");

        // The bridge's message after the path and a colon: the first blank comes after
        // position 20, so the message goes to the next line.
        FakeOpxSetOpenFailure("Invalid TSO TRANSMIT file (bad file size)");
        QVERIFY(!f.open());
        QCOMPARE(rec.messages.value(1), "Open Failed: " + QFileInfo(f.path).canonicalFilePath() +
                                            ":\nInvalid TSO TRANSMIT file (bad file size)");
        QVERIFY(f.frame.root() == nullptr);

        // A good file, then a failing one: the tree of the good one stays.
        FakeOpxSetOpenFailure(nullptr);
        threeMembers();
        QVERIFY(f.open());
        FakeOpxSetOpenFailure("bad");
        QVERIFY(!f.open());
        QVERIFY(f.frame.root() != nullptr);
        QCOMPARE(f.frame.root()->childCount(), 1);

        QCOMPARE(OpxFrame::openFailedText("  short blank at 5 stays  "),
                 QString("short blank at 5 stays"));
        QCOMPARE(OpxFrame::openFailedText("/a/path/of/twenty/one: x"),
                 QString("/a/path/of/twenty/one:\nx"));
        QCOMPARE(OpxFrame::openFailedText("/a/path/of/twenty: x"), QString("/a/path/of/twenty: x"));
    }

    void wizardHandsTheValuesToTheBridge_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("text, rows 2 and 0")
            << 0 << QList<int>{2, 0}
            << QStringList{"reqBuild 0 1 2 &D&m.txt", "reqAddMember 0 ALPHA",
                           "reqAddMember 1 GAMMA", "reqText 133 2 8 0 0"};
        QTest::newRow("dump, all")
            << 1 << QList<int>{} << QStringList{"reqBuild 1 1 0 &D&m.txt", "reqText 67 0 0 0 0"};
        QTest::newRow("prefixed has no option page")
            << 2 << QList<int>{1} << QStringList{"reqBuild 2 1 1 &D&m.txt", "reqAddMember 0 BETA"};
        QTest::newRow("convert") << 4 << QList<int>{}
                                 << QStringList{"reqBuild 4 1 0 &D&m.txt",
                                                "reqConvert 5 84 27920 64 1 1 1 0 0"};
    }
    void wizardHandsTheValuesToTheBridge() {
        QFETCH(int, type);
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, calls);
        threeMembers();
        Frame f;
        QVERIFY(f.open());
        Recorder rec;
        rec.page = [type](WizardPage* p) {
            if (auto* first = qobject_cast<ExtractDialog*>(p)) {
                first->pathEdit()->setText("&m.txt");
                first->selectType(type);
            } else if (auto* text = qobject_cast<ExtractTextDialog*>(p)) {
                text->lreclEdit()->setText("133");
                text->tabsBox()->setCurrentIndex(2);
                text->stripBox()->setChecked(false);
                text->lineEndBox()->setCurrentIndex(1);
            } else if (auto* dump = qobject_cast<ExtractDumpDialog*>(p)) {
                dump->narrowButton()->setChecked(true);
            } else if (auto* conv = qobject_cast<ExtractConvertDialog*>(p)) {
                conv->setFormat(ConvertFormat::CONVERT_FORMAT_VB);
                conv->padEdit()->setText("40");
                conv->stripBox()->setChecked(true);
                conv->translateBox()->setChecked(true);
            }
            p->pressOk();
            return p->result();
        };
        SourceFile* sf = f.frame.root()->child(0)->getSourceFile();
        ExtractRequest r(&f.frame, sf, f.frame.root()->child(0)->getSourceMembers(), rows);
        QVERIFY(r.showExtractDialog());
        QStringList got;
        for (const QString& l : logLines())
            if (l.startsWith("req")) got << l;
        QCOMPARE(got, calls);
    }

    void backAndCancelOnTheOptionPage() {
        threeMembers();
        Frame f;
        QVERIFY(f.open());
        Recorder rec;
        int shown = 0;
        QString pathAfterBack;
        rec.page = [&shown, &pathAfterBack](WizardPage* p) {
            ++shown;
            if (auto* first = qobject_cast<ExtractDialog*>(p)) {
                if (shown == 1) first->pathEdit()->setText("/o/&M.txt");
                // Back keeps the first page's values.
                if (shown == 3) {
                    pathAfterBack = first->pathEdit()->text();
                    first->selectType(ExtractReqType::EXTRACT_TYPE_DUMP);
                }
                p->pressOk();
            } else if (shown == 2) {
                p->pressBack();
            } else {
                p->pressCancel();
            }
            return p->result();
        };
        SourceFile* sf = f.frame.root()->child(0)->getSourceFile();
        ExtractRequest r(&f.frame, sf, f.frame.root()->child(0)->getSourceMembers(), {});
        QVERIFY(!r.showExtractDialog());
        QCOMPARE(pathAfterBack, QString("/o/&M.txt"));
        QCOMPARE(rec.pageTitles, QStringList({"ExtractDialog", "ExtractTextDialog", "ExtractDialog",
                                              "ExtractDumpDialog"}));
        QVERIFY(!QString(FakeOpxLog()).contains("reqBuild"));
        // The accepted first page was remembered.
        QCOMPARE(Opx::property("ExtractPathPds"), QString("/o/&M.txt"));
    }

    void everyEventAndAnswer_data() {
        QTest::addColumn<QString>("replace");
        QTest::addColumn<QList<int>>("answers"); // overwrite answers in turn
        QTest::addColumn<QList<bool>>("failedAnswers");
        QTest::addColumn<QString>("script"); // code:file:member:error:records;...
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("questions");

        QTest::newRow("new file") << "Prompt" << QList<int>{} << QList<bool>{}
                                  << "2:/o/A.txt;1:/o/A.txt:::5"
                                  << QStringList{"\n/o/A.txt created with 5 records."}
                                  << QStringList{"0", "0", "0"} << 0;
        QTest::newRow("replace") << "Prompt" << QList<int>{0} << QList<bool>{}
                                 << "3:/o/A.txt;1:/o/A.txt:::1"
                                 << QStringList{"\nFile exists: /o/A.txt ... Replace",
                                                "\n/o/A.txt replaced with 1 record."}
                                 << QStringList{"0", "0", "0"} << 1;
        QTest::newRow("skip") << "Prompt" << QList<int>{1} << QList<bool>{}
                              << "3:/o/A.txt;2:/o/B.txt;1:/o/B.txt:::2"
                              << QStringList{"\nFile exists: /o/A.txt ... Skip",
                                             "\n/o/B.txt created with 2 records."}
                              << QStringList{"0", "1", "0", "0"} << 1;
        QTest::newRow("replace all") << "Prompt" << QList<int>{2} << QList<bool>{}
                                     << "3:/o/A.txt;1:/o/A.txt:::1;3:/o/B.txt;1:/o/B.txt:::3"
                                     << QStringList{"\nFile exists: /o/A.txt ... Replace All",
                                                    "\n/o/A.txt replaced with 1 record.",
                                                    "\n/o/B.txt replaced with 3 records."}
                                     << QStringList{"0", "0", "0", "0", "0"} << 1;
        QTest::newRow("skip all") << "Prompt" << QList<int>{3} << QList<bool>{}
                                  << "3:/o/A.txt;3:/o/B.txt"
                                  << QStringList{"\nFile exists: /o/A.txt ... Skip All",
                                                 "\n/o/B.txt exists, skipped"}
                                  << QStringList{"0", "1", "1"} << 1;
        QTest::newRow("cancel at the question")
            << "Prompt" << QList<int>{4} << QList<bool>{} << "3:/o/A.txt;1:/o/A.txt:::1"
            << QStringList{"\nFile exists: /o/A.txt ... Cancel"} << QStringList{"0", "2"} << 1;
        QTest::newRow("never") << "Never" << QList<int>{} << QList<bool>{} << "3:/o/A.txt"
                               << QStringList{"\n/o/A.txt exists, skipped"} << QStringList{"0", "1"}
                               << 0;
        QTest::newRow("always") << "Always" << QList<int>{} << QList<bool>{}
                                << "3:/o/A.txt;1:/o/A.txt:::4"
                                << QStringList{"\n/o/A.txt replaced with 4 records."}
                                << QStringList{"0", "0", "0"} << 0;
        QTest::newRow("member failed, go on")
            << "Prompt" << QList<int>{} << QList<bool>{true}
            << "4:/o/X.xmit:LOADMOD:Extract of NOEDIT load module is not supported;2:/o/B.txt;1:/o/"
               "B.txt:::1"
            << QStringList{"\n/o/X.xmit member LOADMOD: Extract of NOEDIT load module is not "
                           "supported",
                           "\n/o/B.txt created with 1 record."}
            << QStringList{"0", "0", "0", "0"} << 0;
        QTest::newRow("member failed, cancel")
            << "Prompt" << QList<int>{} << QList<bool>{false} << "4:::bad member;2:/o/B.txt"
            << QStringList{"\nbad member"} << QStringList{"0", "2"} << 0;
    }
    void everyEventAndAnswer() {
        QFETCH(QString, replace);
        QFETCH(QList<int>, answers);
        QFETCH(QList<bool>, failedAnswers);
        QFETCH(QString, script);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, actions);
        QFETCH(int, questions);
        threeMembers();
        for (const QString& e : script.split(';')) {
            const QStringList p = e.split(':');
            FakeOpxAddEvent(p.value(0).toInt(), p.value(1).toLatin1().constData(),
                            p.value(2).toLatin1().constData(), p.value(3).toLatin1().constData(),
                            p.value(4).toInt(), 1, 0);
        }
        FakeOpxSetFinal(nullptr, nullptr, 2, 1, 3, 9);
        Frame f;
        QVERIFY(f.open());
        f.frame.show();
        f.select(0);
        Recorder rec;
        rec.overwriteAnswers = answers;
        rec.failedAnswers = failedAnswers;
        rec.page = pages("/o/&M.txt", 0, replace);
        f.frame.handleExtract();
        QCOMPARE(rec.overwriteTexts.size(), questions);
        if (questions > 0) QCOMPARE(rec.overwriteTexts.first(), QString("File exists: /o/A.txt"));
        QCOMPARE(rec.failedTexts.size(), failedAnswers.size());
        // The status lines in their order, then the counters.
        qsizetype at = 0;
        for (const QString& l : lines) {
            const qsizetype found = rec.statusText.indexOf(l, at);
            QVERIFY2(found >= 0, qPrintable("missing: " + l + "\nin:\n" + rec.statusText));
            at = found + l.size();
        }
        QVERIFY(rec.statusText.endsWith("\nFiles created:  2\nFiles replaced: 1\nFiles skipped:  "
                                        "3\nTotal records written:  9"));
        QVERIFY(!rec.statusText.contains("Extract Terminated!"));
        QCOMPARE(rec.statusButton, QString("OK"));
        QCOMPARE(extractActions(), actions);
        QCOMPARE(logLines().last(), QString("reqStop"));
        QVERIFY(rec.messages.isEmpty());
    }

    void summaryAndFinalError() {
        // A sequential data set: the file announced is reported at the end.
        FakeOpxAddDataSet(2, 0, 0, -1, 80, 27920, "FB", "USER.SEQ", nullptr);
        FakeOpxAddEvent(2, "/o/seq.txt", "", "", 0, 1, 0);
        FakeOpxSetFinal(nullptr, nullptr, 1, 0, 0, 7);
        Frame f;
        QVERIFY(f.open());
        f.frame.show();
        f.select(0);
        {
            Recorder rec;
            rec.page = pages("seq.txt", 0, "Prompt");
            f.frame.handleExtract();
            QCOMPARE(
                rec.statusText,
                "Extracting USER.SEQ\n    From " + QFileInfo(f.path).canonicalFilePath() +
                    "\n    Target path: &Dseq.txt\n    Overwrite?:          Prompt\n    Extract "
                    "format:      Text\n    Maxmimum Lrecl:      80\n    Tabs:                "
                    "0\n    Line End Style:      Unix\n    Strip?:              Yes\n/o/seq.txt "
                    "created with 7 records.\nFiles created:  1\nFiles replaced: 0\nFiles "
                    "skipped:  0\nTotal records written:  7");
            // One step for a sequential data set, done at the end.
            QCOMPARE(rec.statusMaximum, 1);
            QCOMPARE(rec.statusValue, 1);
        }
        // A final error: its line and the "Extract Failed" box, and no record total.
        FakeOpxAddEvent(2, "/o/seq.txt", "", "", 0, 1, 0);
        FakeOpxSetFinal("Record would be truncated", "/o/seq.txt", 0, 0, 0, 0);
        Recorder rec;
        rec.page = pages("/o/seq.txt", 0, "Always");
        f.frame.handleExtract();
        QCOMPARE(rec.messages,
                 QStringList({"Extract Failed: /o/seq.txt: Record would be truncated"}));
        QVERIFY(rec.statusText.endsWith("\n/o/seq.txt: Record would be truncated\nFiles created:  "
                                        "0\nFiles replaced: 0\nFiles skipped:  0"));
    }

    void cancelInTheMiddleOfALongRun() {
        threeMembers();
        FakeOpxAddEvent(2, "/o/M.txt", "", "", 0, 1, 0);
        for (int i = 0; i < 300; ++i) {
            FakeOpxAddEvent(1, "/o/M.txt", "", "", 1, 1, 10);
            FakeOpxAddEvent(2, "/o/M.txt", "", "", 0, 1, 0);
        }
        Frame f;
        QVERIFY(f.open());
        f.frame.show();
        f.select(0);
        Recorder rec;
        rec.page = pages("/o/&M.txt", 0, "Prompt");
        bool closable = true;
        rec.whileRunning = [&closable](StatusDialog* s) {
            QVERIFY(QTest::qWaitFor([s] { return s->text().contains("created with"); }, 20000));
            // Esc and the close button mean Cancel while the request runs: the dialog stays.
            QTest::keyClick(s, Qt::Key_Escape);
            const bool afterEsc = s->isVisible();
            s->close();
            closable = !afterEsc || !s->isVisible();
        };
        f.frame.handleExtract();
        QVERIFY(!closable);
        QVERIFY(rec.statusText.contains("\nExtract Terminated!"));
        const QStringList actions = extractActions();
        QCOMPARE(actions.last(), QString("2"));
        QVERIFY(actions.size() < 500);
        QCOMPARE(logLines().last(), QString("reqStop"));
    }

    void statusDialogButton() {
        StatusDialog d(nullptr, "Extracting X");
        QCOMPARE(d.windowTitle(), QString("Extracting X"));
        QCOMPARE(d.button()->text(), QString("Cancel"));
        d.show();
        d.button()->click();
        QVERIFY(d.wasCancelPressed());
        QVERIFY(d.isVisible());
        d.setDone();
        QCOMPARE(d.button()->text(), QString("OK"));
        d.button()->click();
        QVERIFY(!d.isVisible());
    }
};

QTEST_MAIN(FakeBridgeTest)
#include "test_fakebridge.moc"
