// QCONFIG.INI as the Windows private-profile calls read and write it.
#include <QTemporaryDir>
#include <QTest>

#include "pelda_test_support.h"
#include "privateprofile.h"

using pelda::PrivateProfile;

namespace {

// A file as Windows tools leave it: CRLF, mixed case, comments, quotes, separators in values.
const QByteArray kWindowsFile = "; Pelda assembler options\r\n"
                                "[GeneralTab]\r\n"
                                "bIDR=0\r\n"
                                "szIDR = \"MY PROG 'V1'\" \r\n"
                                "SzSysLib='C:\\Macros;D:\\More Macros'\r\n"
                                "szSYSPARM=a,b,c\r\n"
                                "szSIZE=\"MAX'\r\n"
                                "bIDR=1\r\n"
                                "\r\n"
                                "[flagtab]\r\n"
                                ";bCONT=1\r\n"
                                "bCONT=0\r\n"
                                "szCONT=NOCONT\r\n"
                                "\r\n"
                                "[ Other ]\r\n"
                                "Key=Value ; not a comment\r\n"
                                "Empty=\r\n"
                                "NoEquals\r\n";

} // namespace

class PrivateProfileTest : public QObject {
    Q_OBJECT
  private slots:
    void readsWindowsStyleFiles() {
        PrivateProfile p;
        p.loadFromData(kWindowsFile);
        // Names compare without case; values lose blanks and one pair of matching quotes only.
        QCOMPARE(p.value("generaltab", "SZIDR"), QString("MY PROG 'V1'"));
        QCOMPARE(p.value("GeneralTab", "szSYSLIB"), QString("C:\\Macros;D:\\More Macros"));
        QCOMPARE(p.value("GeneralTab", "szSYSPARM"), QString("a,b,c"));
        QCOMPARE(p.value("GeneralTab", "szSIZE"), QString("\"MAX'"));
        // The first of two equal keys counts; a commented-out key is no key.
        QCOMPARE(p.value("GeneralTab", "bIDR"), QString("0"));
        QCOMPARE(p.value("FLAGTAB", "bcont"), QString("0"));
        QCOMPARE(p.value("FlagTab", "szCONT"), QString("NOCONT"));
        QCOMPARE(p.value("other", "key"), QString("Value ; not a comment"));
        QCOMPARE(p.value("Other", "Empty"), QString(""));
        QVERIFY(p.contains("Other", "Empty"));
        // Missing sections, keys, and lines without '=' all read as "".
        QVERIFY(!p.contains("Other", "NoEquals"));
        QCOMPARE(p.value("Other", "NoEquals"), QString());
        QCOMPARE(p.value("Missing", "bIDR"), QString());
        QCOMPARE(p.value("GeneralTab", "szMissing"), QString());
        QVERIFY(!p.contains("FlagTab", "bIDR"));
    }

    void writesKeepEverythingElse() {
        PrivateProfile p;
        p.loadFromData(kWindowsFile);
        p.setValue("GENERALTAB", "szsyslib", "/usr/macros"); // replaced in place
        p.setValue("GeneralTab", "bSYSLIB", "0");            // appended to the section
        p.setValue("ProcessTab", "bCICS", "0");              // a new section at the end
        QByteArray expected = kWindowsFile;
        expected.replace("SzSysLib='C:\\Macros;D:\\More Macros'\r\n", "szsyslib=/usr/macros\r\n");
        expected.replace("bIDR=1\r\n\r\n", "bIDR=1\r\nbSYSLIB=0\r\n\r\n");
        expected += "[ProcessTab]\r\nbCICS=0\r\n";
        QCOMPARE(p.data(), expected);
        QCOMPARE(p.value("GeneralTab", "szSYSLIB"), QString("/usr/macros"));
    }

    void writesNewFilesAndFilesWithoutFinalNewline() {
        PrivateProfile p;
        p.setValue("ListTab", "bESD", "0");
        p.setValue("ListTab", "szESD", "NOESD");
        QCOMPARE(p.data(), QByteArray("[ListTab]\nbESD=0\nszESD=NOESD\n"));

        PrivateProfile q;
        q.loadFromData("[A]\nx=1");
        q.setValue("A", "y", "2");
        q.setValue("B", "z", "3");
        QCOMPARE(q.data(), QByteArray("[A]\nx=1\ny=2\n[B]\nz=3\n"));
    }

    void valuesAreCutToTheBuffer() {
        PrivateProfile p;
        p.loadFromData("[S]\nk=" + QByteArray(3000, 'x') + "\nu=" + QByteArray(1997, 'y') +
                       "\xC3\xA9\n");
        QCOMPARE(p.value("S", "k").size(), PrivateProfile::kValueBufferSize - 1);
        // A character that would straddle the end of the buffer is dropped whole.
        QCOMPARE(p.value("S", "u"), QString(1997, QLatin1Char('y')));
    }

    void savesWholeFilesAndReportsFailures() {
        QTemporaryDir dir;
        const QString file = dir.filePath("QCONFIG.INI");
        peldatest::writeFile(file, kWindowsFile);
        QVERIFY(PrivateProfile::writeString(file, "flagtab", "szCONT", "CONT"));
        QCOMPARE(PrivateProfile::readString(file, "FlagTab", "szcont"), QString("CONT"));
        QByteArray expected = kWindowsFile;
        expected.replace("szCONT=NOCONT", "szCONT=CONT");
        QCOMPARE(peldatest::readFile(file), expected);

        // Non-ASCII text goes through unchanged.
        QVERIFY(PrivateProfile::writeString(file, "GeneralTab", "szSYSPARM", "Größe €"));
        QCOMPARE(PrivateProfile::readString(file, "GeneralTab", "szSYSPARM"), QString("Größe €"));

        QString error;
        QVERIFY(!PrivateProfile::writeString(dir.filePath("no/such/dir/QCONFIG.INI"), "S", "k", "v",
                                             &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("no")));
        QCOMPARE(PrivateProfile::readString(dir.filePath("absent.ini"), "S", "k"), QString());
    }
};

QTEST_GUILESS_MAIN(PrivateProfileTest)
#include "test_privateprofile.moc"
