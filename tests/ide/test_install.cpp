// The editor in an installation: the installation directory it takes when the profile names
// none, where it finds the assembler, and where it keeps the assembler's options when the
// installation directory is not the user's to write.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "appprofile.h"
#include "assembler.h"
#include "pelda_test_support.h"

using namespace pelda;

namespace {

// Makes an empty file that may be run.
void makeProgram(const QString& path) {
    peldatest::writeFile(path, "#!/bin/sh\n");
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

  private slots:
    void defaultInstallationDirectory() {
        // P/bin/Pelda with P/share/opxkit: the data folder; the build tree (bin/ alone): ".".
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath("bin"));
        const QString bin = prefix.filePath("bin");
        QCOMPARE(AppProfile::defaultInstallPath(bin), QString("."));
        QVERIFY(QDir(prefix.path()).mkpath("share/opxkit"));
        QCOMPARE(AppProfile::defaultInstallPath(bin), prefix.filePath("share/opxkit"));
        QCOMPARE(AppProfile::defaultInstallPath(QString()), QString("."));
    }

    void aSetPathStillHolds() {
        QTemporaryDir chosen;
        peldatest::setInstallPath(chosen.path());
        AppProfile profile;
        QCOMPARE(profile.installPath(), chosen.path());
    }

    void assemblerInTheInstallationDirectoryOrBesideTheEditor() {
        QTemporaryDir install, editor;
        const QString inInstall = install.filePath("zora");
        const QString besideEditor = editor.filePath("zora");
        // Neither: the installation directory's path, for the message.
        QCOMPARE(Assembler::programPath(install.path(), editor.path()), inInstall);
        // Only beside the editor (an installed editor and an assembler in the same prefix).
        makeProgram(besideEditor);
        QCOMPARE(Assembler::programPath(install.path(), editor.path()), besideEditor);
        // The installation directory's own assembler comes first.
        makeProgram(inInstall);
        QCOMPARE(Assembler::programPath(install.path(), editor.path()), inInstall);
        // A file there that cannot be run does not hide the one beside the editor.
        QFile::setPermissions(inInstall, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(Assembler::programPath(install.path(), editor.path()), besideEditor);
    }

    void optionsFileOfAWritableInstallationDirectory() {
        QTemporaryDir install, user;
        QCOMPARE(AppProfile::optionsFilePath(install.path(), user.filePath("opxkit")),
                 install.filePath("QCONFIG.INI"));
        QVERIFY(!QFileInfo::exists(user.filePath("opxkit")));
    }

    void optionsFileOfAnInstallationDirectoryThatCannotBeWritten() {
        // A folder that is not there cannot take the file, for root as for anyone (a folder
        // without write permission, which root could write all the same, takes the same path).
        QTemporaryDir user;
        const QString path =
            AppProfile::optionsFilePath(user.filePath("no/such/folder"), user.filePath("opxkit"));
        QCOMPARE(path, user.filePath("opxkit/QCONFIG.INI"));
        QVERIFY(QFileInfo(user.filePath("opxkit")).isDir());
    }
};

QTEST_MAIN(InstallTest)
#include "test_install.moc"
