// The program without its bridges, and its command line.
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "connectdialog.h"
#include "connections.h"
#include "frontend_test_support.h"
#include "opx.h"
#include "opxframe.h"

using namespace opxwin;
using opxtest::Recorder;

class NoBridgeTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        OpxConnection::sLibraryName = QStringLiteral("nosuchbridge");
        BrenConnection::sLibraryName = QStringLiteral("nosuchbren");
    }

    void connectionsReportTheMissingLibrary() {
        OpxConnection* opx = OpxConnection::theConnection();
        QVERIFY(!opx->isConnected());
        QCOMPARE(opx->sConnectMessage, QString("nosuchbridge.so could not be loaded"));
        BrenConnection* bren = BrenConnection::theConnection();
        QVERIFY(!bren->isConnected());
        QCOMPARE(bren->sConnectMessage, QString("nosuchbren.so could not be loaded"));
        // Nothing that needs the bridge crashes.
        QVERIFY(!opx->getDe(1, 0, 0).has_value());
        QCOMPARE(opx->reqExtract(0, 1, 1), 0);
        QCOMPARE(bren->getMembers(BrenMemberSink{}, "/x/&m.txt"), -1);
    }

    void newAndOpenSayWhy() {
        QTemporaryDir dir;
        const QString file = dir.filePath("a.xmit");
        opxtest::writeFile(file, QByteArray(160, ' '));
        Recorder rec;
        OpxFrame frame;
        frame.handleFileNew();
        QVERIFY(!frame.openXmitFile(QString(), file));
        QCOMPARE(rec.messages,
                 QStringList({"Quorin Brenmar is Unavailable: nosuchbren.so could not be loaded",
                              "Open Failed: " + QFileInfo(file).canonicalFilePath() +
                                  ":\nnosuchbridge.so could not be loaded"}));
        QVERIFY(rec.fileCaptions.isEmpty());
    }

    void theBoxWithoutAFrameEndsTheProgramWithCode16() {
        auto* box = new ConnectDialog(nullptr);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
        QCOMPARE(box->messageText(), QString("nosuchbridge.so could not be loaded"));
        QVERIFY(!box->closesItself());
        QTimer::singleShot(0, box->okButton(), &QPushButton::click);
        QCOMPARE(QCoreApplication::exec(), 16);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("level");
        QTest::newRow("none") << QStringList{} << "" << 0;
        QTest::newRow("file") << QStringList{"a.xmi"} << "a.xmi" << 0;
        QTest::newRow("option without level") << QStringList{"a.xmi", "-iotrace"} << "a.xmi" << 0;
        QTest::newRow("level 3") << QStringList{"a.xmi", "-iotrace", "3"} << "a.xmi" << 3;
        QTest::newRow("negative") << QStringList{"a.xmi", "-iotrace", "-2"} << "a.xmi" << 0;
        QTest::newRow("not a number") << QStringList{"a.xmi", "-iotrace", "x2"} << "a.xmi" << 0;
        QTest::newRow("other option") << QStringList{"a.xmi", "-trace", "3"} << "a.xmi" << 0;
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(int, level);
        Opx::parseArguments(arguments);
        QCOMPARE(Opx::sInitialFileName, file);
        QCOMPARE(Opx::iTraceLevel, level);
    }
};

QTEST_MAIN(NoBridgeTest)
#include "test_nobridge.moc"
