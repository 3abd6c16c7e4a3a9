// Pictures of the real windows for a person to look at: the main window with a PDS open, each
// page of the extraction wizard, and the status dialog at the end of an extraction. They are
// written to screenshots/ in the build tree; the test checks that none is blank. The PDS is
// built here with the builder, so that the pictures need nothing from outside.
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include "connectdialog.h"
#include "connections.h"
#include "extractrequest.h"
#include "filetree.h"
#include "frontend_test_support.h"
#include "opx.h"
#include "opxframe.h"

using namespace opxwin;
using opxtest::Recorder;

class ScreenshotTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qputenv("CODEPAGE_ASCII", "819");
        qputenv("CODEPAGE_EBCDIC", "1047");
        QVERIFY(OpxConnection::theConnection()->isConnected());
        QVERIFY(BrenConnection::theConnection()->isConnected());
    }

    void windows() {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("src"));
        const QStringList names = {"ALPHA", "BETA", "DELTA", "GAMMA", "OMEGA"};
        QList<QByteArray> bytes;
        for (const QString& n : names) {
            opxtest::writeFile(dir.filePath("src/" + n.toLower() + ".txt"),
                               "* member " + n.toLatin1() + "\n         BR    14\n         END\n");
            bytes << n.toLatin1();
        }
        std::vector<const char*> members;
        for (const QByteArray& b : bytes) members.push_back(b.constData());
        const QByteArray xmit = dir.filePath("demo.xmi").toLocal8Bit();
        const QByteArray input = dir.filePath("src/&m.txt").toLocal8Bit();
        BrenBuild b{};
        b.xmitFile = xmit.constData();
        b.dsname = "USER.DEMO.SOURCE";
        b.inputPath = input.constData();
        b.originNode = "NODE1";
        b.originUser = "USER1";
        b.targetNode = "NODE2";
        b.targetUser = "USER2";
        b.recfm = "FB";
        b.members = members.data();
        b.memberCount = static_cast<int>(members.size());
        b.primaryIsIncrement = 1;
        b.filedata = BREN_FILEDATA_TEXT;
        b.lrecl = 80;
        b.blksize = 3120;
        b.device = "3390";
        b.secondarySpace = 1;
        b.dirBlocks = 1;
        b.minimumDirBlocks = 1;
        bool created = false;
        BrenRequestSink sink{&created, nullptr, [](void* c) { *static_cast<bool*>(c) = true; }};
        const QString message = BrenConnection::theConnection()->createXmitFile(sink, b);
        QVERIFY2(created, qPrintable(message));

        QString why;
        OpxFrame w;
        w.resize(980, 640);
        Opx::sInitialFileName = dir.filePath("demo.xmi");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(w.root() != nullptr);
        w.tree()->setCurrentIndex(w.treeModel()->index(0, 0, w.treeModel()->rootIndex()));
        w.table()->selectRow(1);
        QVERIFY2(opxtest::shoot(&w, "main-window-pds", &why), qPrintable(why));

        ConnectDialog about(&w);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY2(opxtest::shoot(&about, "about-box", &why), qPrintable(why));
        about.accept();

        // Every page of the wizard: the first page, then each option page in turn.
        const int types[] = {ExtractReqType::EXTRACT_TYPE_TEXT, ExtractReqType::EXTRACT_TYPE_DUMP,
                             ExtractReqType::EXTRACT_TYPE_CONVERT};
        for (int type : types) {
            Recorder rec;
            rec.page = [&](WizardPage* p) {
                p->show();
                if (!QTest::qWaitForWindowExposed(p)) qWarning() << "page not exposed";
                QString name = QString::fromLatin1(p->metaObject()->className()).section(':', -1);
                if (auto* first = qobject_cast<ExtractDialog*>(p)) {
                    first->pathEdit()->setText(dir.filePath("out/&m.txt"));
                    first->selectType(type);
                    if (type == ExtractReqType::EXTRACT_TYPE_TEXT &&
                        !opxtest::shoot(p, "wizard-" + name, &why))
                        qWarning() << why;
                    p->pressOk();
                    return p->result();
                }
                if (!opxtest::shoot(p, "wizard-" + name, &why)) qWarning() << why;
                p->pressCancel();
                return p->result();
            };
            w.handleExtract();
        }
        for (const char* page :
             {"ExtractDialog", "ExtractTextDialog", "ExtractDumpDialog", "ExtractConvertDialog"})
            QVERIFY2(
                QFileInfo::exists(QStringLiteral(OPXWIN_SCREENSHOTS "/wizard-") + page + ".png"),
                page);
        ExtractRelinkDialog relink(&w, "Extracting USER.LOAD");
        relink.listingEdit()->setText("&m.lst");
        relink.show();
        QVERIFY(QTest::qWaitForWindowExposed(&relink));
        QVERIFY2(opxtest::shoot(&relink, "wizard-ExtractRelinkDialog", &why), qPrintable(why));

        // The status dialog at the end of an extraction.
        QDir().mkpath(dir.filePath("out"));
        Recorder rec;
        rec.page = [&](WizardPage* p) {
            if (auto* first = qobject_cast<ExtractDialog*>(p))
                first->pathEdit()->setText(dir.filePath("out/&m.txt"));
            p->pressOk();
            return p->result();
        };
        bool shot = false;
        rec.atEnd = [&](StatusDialog* s) {
            s->resize(720, 420);
            if (!QTest::qWaitForWindowExposed(s)) qWarning() << "status dialog not exposed";
            shot = opxtest::shoot(s, "status-dialog-done", &why);
        };
        w.table()->clearSelection();
        w.handleExtract();
        QVERIFY2(shot, qPrintable(why));
        QCOMPARE(rec.statusText.count(" created with "), 5);
    }
};

QTEST_MAIN(ScreenshotTest)
#include "test_screenshots.moc"
