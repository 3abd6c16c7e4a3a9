// The program with the real bridges and cores on real transmit files: the tree, descriptions
// and member tables of a sequential data set, a PDS with ISPF statistics, a load library, a
// message and a PDSE; and a whole extraction of a PDS to text, done twice so that the second
// run replaces every file.
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTreeView>

#include "connections.h"
#include "extractrequest.h"
#include "filetree.h"
#include "frontend_test_support.h"
#include "opx.h"
#include "opxframe.h"

using namespace opxwin;
using opxtest::Recorder;

namespace {

// The corpus file's path, or empty (and the test skips) when the shared folder is absent.
QString corpus(const QString& relative) {
    const QString path = QDir(QStringLiteral(OPX_SHARED_DIR "/corpus")).filePath(relative);
    return QFileInfo::exists(path) ? path : QString();
}

#define REQUIRE_CORPUS(var, relative)                                                              \
    const QString var = corpus(relative);                                                          \
    if (var.isEmpty()) QSKIP("../shared/corpus/" relative " is absent; skipped")

QStringList row(MemberTableModel* m, int r) {
    QStringList cells;
    for (int c = 0; c < m->columnCount(); ++c) cells << m->cell(r, c);
    return cells;
}

} // namespace

class CorpusTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qputenv("CODEPAGE_ASCII", "819");
        qputenv("CODEPAGE_EBCDIC", "1047");
        QVERIFY2(OpxConnection::theConnection()->isConnected(),
                 qPrintable(OpxConnection::theConnection()->sConnectMessage));
        QCOMPARE(OpxConnection::theConnection()->sProductName, QString("Quorin Opalex"));
        QCOMPARE(OpxConnection::theConnection()->sProductVersion, QString("3.0.07"));
        QVERIFY(OpxConnection::theConnection()->sProductDir.endsWith('/'));
    }
    void init() { Opx::theProperties().clear(); }

    void sequential() {
        REQUIRE_CORPUS(path, "xmit/seq/xmi_test_seq.xmi");
        OpxFrame f;
        QVERIFY(f.openXmitFile(QString(), path));
        QCOMPARE(f.root()->getFileDescription(),
                 "Path Name: " + path +
                     "\nExported:  2021-03-09 04:53:18\nFrom Node: ORIGNODE\nFrom User: ORIGUID");
        QCOMPARE(f.root()->childCount(), 1);
        QCOMPARE(f.root()->child(0)->label(), QString("NoDsName"));
        QCOMPARE(
            f.root()->child(0)->getFileDescription(),
            QString("Data Set Org.: Sequential\nRECFM:         FB\nBLKSIZE:       3200\nLRECL:  "
                    "       80"));
        QVERIFY(f.root()->child(0)->isExtractable());
        QVERIFY(f.root()->child(0)->getTableModel() == nullptr);
    }

    void pdsWithIspfStatistics() {
        REQUIRE_CORPUS(path, "xmit/pds/ibm_IRRXUTIL.xmit");
        OpxFrame f;
        QVERIFY(f.openXmitFile(QFileInfo(path).absolutePath(), QFileInfo(path).fileName()));
        QCOMPARE(f.windowTitle(), QString("Quorin Opalex - ibm_IRRXUTIL.xmit"));
        SourceFileTreeNode* n = f.root()->child(0);
        QVERIFY(n->getFileDescription().endsWith("\nMembers:       16"));
        MemberTableModel* m = n->getTableModel();
        QVERIFY(!m->isLoadLibrary());
        QCOMPARE(m->rowCount(), 16);
        QCOMPARE(row(m, 0),
                 QStringList({"XCDT", "", "1.059", "2017-01-17", "2022-10-24 16:02", "BRWELLS"}));
    }

    void loadLibrary() {
        REQUIRE_CORPUS(path, "xmit/load/ibm_rackill_load.xmit");
        OpxFrame f;
        QVERIFY(f.openXmitFile(QString(), path));
        SourceFileTreeNode* n = f.root()->child(0);
        QVERIFY(n->getFileDescription().contains("Data Set Org.: PDS (Load Library)"));
        MemberTableModel* m = n->getTableModel();
        QVERIFY(m->isLoadLibrary());
        QCOMPARE(row(m, 0),
                 QStringList({"RACKILL", "", "001570", "000000", "24", "24", "  1", ""}));
    }

    void messageAndPds() {
        REQUIRE_CORPUS(path, "xmit/pds/xmi_test_pds_msg.xmi");
        OpxFrame f;
        QVERIFY(f.openXmitFile(QString(), path));
        QCOMPARE(f.root()->childCount(), 2);
        SourceFileTreeNode* message = f.root()->child(0);
        QCOMPARE(message->label(), QString("Message"));
        QVERIFY(message->getFileDescription().startsWith(
            "This is a test message for use with the python xmi library."));
        QVERIFY(!message->isExtractable());
        QCOMPARE(message->getUnextractableReason(), QString("Please select a data set."));
        QCOMPARE(f.root()->child(1)->label(), QString("PYTHON.XMI.PDS"));
        QCOMPARE(f.root()->child(1)->getTableModel()->rowCount(), 2);
    }

    void pdse() {
        REQUIRE_CORPUS(path, "xmit/pdse/ibm_pwdcopy_aes_jcl_PDSE.xmit");
        OpxFrame f;
        QVERIFY(f.openXmitFile(QString(), path));
        SourceFileTreeNode* n = f.root()->child(0);
        QCOMPARE(n->getFileDescription(),
                 QString("Data Set Name: RATS.RATS.JCL1\nData Set Org.: PDSE\nRECFM:         "
                         "FB\nBLKSIZE:       6080\nLRECL:         80"));
        QCOMPARE(n->getUnextractableReason(), QString("Extract of PDSE is not supported."));
    }

    void notATransmitFile() {
        REQUIRE_CORPUS(path, "xmit/odd/ibm_racfdbr6_empty.xmit");
        Recorder rec;
        OpxFrame f;
        QVERIFY(!f.openXmitFile(QString(), path));
        QCOMPARE(rec.messages, QStringList({"Open Failed: " + path +
                                            ":\nInvalid TSO TRANSMIT file (bad file size)"}));
    }

    void extractAPdsTwice() {
        REQUIRE_CORPUS(path, "xmit/pds/ibm_IRRXUTIL.xmit");
        REQUIRE_CORPUS(expected, "expected/ibm_IRRXUTIL");
        QTemporaryDir out;
        OpxFrame f;
        QVERIFY(f.openXmitFile(QString(), path));
        f.show();
        f.tree()->setCurrentIndex(f.treeModel()->index(0, 0, f.treeModel()->rootIndex()));
        const QString pattern = out.filePath("&M.txt");
        QString offered;
        auto pages = [&pattern, &offered](WizardPage* p) {
            if (auto* first = qobject_cast<ExtractDialog*>(p)) {
                first->pathEdit()->setText(pattern);
                first->promptButton()->setChecked(true);
            }
            if (auto* text = qobject_cast<ExtractTextDialog*>(p)) {
                offered = text->lreclEdit()->text();
                text->stripBox()->setChecked(false);
                text->lineEndBox()->setCurrentIndex(1);
            }
            p->pressOk();
            return p->result();
        };
        {
            Recorder rec;
            rec.page = pages;
            f.handleExtract();
            QCOMPARE(offered, QString("80"));
            QCOMPARE(rec.statusText.count(" created with "), 16);
            QVERIFY(rec.statusText.contains("\n    All members selected."));
            QVERIFY(rec.statusText.contains("\n" + out.filePath("XCDT.txt") + " created with "));
            QVERIFY(
                rec.statusText.endsWith("\nFiles created:  16\nFiles replaced: 0\nFiles skipped: "
                                        " 0\nTotal records written:  " +
                                        rec.statusText.section(' ', -1)));
            QCOMPARE(rec.statusMaximum, 16);
            QCOMPARE(rec.statusValue, 16);
            QVERIFY(rec.messages.isEmpty());
        }
        // IBM's published copies: XSETRPWD is a later version of the member, and one line of
        // XDUPACL shows other characters for two bytes; the other fourteen are the same bytes.
        int same = 0;
        for (const QString& name : QDir(expected).entryList(QDir::Files)) {
            const QByteArray ours = opxtest::readFile(out.filePath(name));
            const QByteArray published = opxtest::readFile(QDir(expected).filePath(name));
            if (name == "XSETRPWD.txt")
                QCOMPARE(ours.count('\n'), 260);
            else if (name == "XDUPACL.txt")
                QCOMPARE(ours.count('\n'), published.count('\n'));
            else
                same += ours == published ? 1 : 0;
        }
        QCOMPARE(same, 14);

        // Again: every file exists. "Replace All" at the first replaces them all.
        Recorder rec;
        rec.page = pages;
        rec.overwriteAnswers = {2};
        f.handleExtract();
        QCOMPARE(rec.overwriteTexts.size(), 1);
        QCOMPARE(rec.statusText.count(" replaced with "), 16);
        QCOMPARE(rec.statusText.count(" created with "), 0);
        QVERIFY(rec.statusText.contains("\nFiles created:  0\nFiles replaced: 16\n"));

        // Two selected members, Never: both skipped, nothing asked.
        QVERIFY(f.table()->model() != nullptr);
        f.table()->selectRow(3);
        f.table()->setSelectionMode(QAbstractItemView::MultiSelection);
        f.table()->selectRow(1);
        QCOMPARE(f.selectedRows(), QList<int>({1, 3}));
        Recorder never;
        never.page = [&pattern](WizardPage* p) {
            if (auto* first = qobject_cast<ExtractDialog*>(p)) {
                first->pathEdit()->setText(pattern);
                first->neverButton()->setChecked(true);
            }
            p->pressOk();
            return p->result();
        };
        f.handleExtract();
        QVERIFY(
            never.statusText.contains("\n    2 members selected:\n      XCDTSRCH\n      XDUPACL"));
        QCOMPARE(never.statusText.count(" exists, skipped"), 2);
        QVERIFY(never.statusText.contains("\nFiles skipped:  2"));
        QCOMPARE(never.statusMaximum, 2);
    }
};

QTEST_MAIN(CorpusTest)
#include "test_corpus.moc"
