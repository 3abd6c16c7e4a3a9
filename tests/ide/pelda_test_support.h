// Helpers for the editor's tests: an installation directory with the stand-in assembler, a
// recorder for the editor's messages, and files written in one call.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "prompts.h"

namespace peldatest {

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of the record that the stand-in assembler writes.
inline QStringList recordLines(const QString& path) {
    return QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A source with two unknown operation codes (lines 4 and 9), a COPY of a member with one
// unknown operation code (its line 3), and a label of more than eight characters (line 7).
inline const char* kSource = "SAMPLE   CSECT\n"
                             "         USING SAMPLE,15\n"
                             "         SAVE  (14,12)\n"
                             "         LRX   1,2\n"
                             "* a comment line\n"
                             "         COPY  SAVEAREA\n"
                             "TOOLONGNAME LA 1,0\n"
                             "         BR    14\n"
                             "         FOO   1\n"
                             "         END   SAMPLE\n";
inline const char* kMember = "* save area\n"
                             "SAVEAREA DS    18F\n"
                             "         STMX  14,12,12(13)\n";

// A fresh installation directory holding "zora" (the stand-in), a source and its member.
struct Install {
    QTemporaryDir dir;
    QString source;
    QString member;

    explicit Install(bool withAssembler = true) {
        if (withAssembler) QFile::link(QStringLiteral(PELDA_STANDIN), path(QStringLiteral("zora")));
        source = path(QStringLiteral("sample.390"));
        member = path(QStringLiteral("SAVEAREA.mac"));
        writeFile(source, kSource);
        writeFile(member, kMember);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
};

// Points the application profile at an installation directory.
inline void setInstallPath(const QString& path) {
    QSettings s;
    s.clear();
    s.setValue(QStringLiteral("Path"), path);
    s.setValue(QStringLiteral("Tip/StartUp"), 0);
    s.sync();
}

// Records every message the editor shows instead of opening a message box.
struct Messages {
    QStringList texts;
    int zoomCalls = 0;
    QStringList zoomChoices;
    int zoomAnswer = -1;
    QString saveAsAnswer;
    QMessageBox::StandardButton saveAnswer = QMessageBox::Cancel;

    Messages() {
        pelda::Prompts& p = pelda::prompts();
        p.message = [this](QWidget*, QMessageBox::Icon, const QString& t) { texts << t; };
        p.chooseZoom = [this](QWidget*, const QStringList& c) {
            ++zoomCalls;
            zoomChoices = c;
            return zoomAnswer;
        };
        p.saveAsPath = [this](QWidget*, const QString&) { return saveAsAnswer; };
        p.saveChanges = [this](QWidget*, const QString& t) {
            texts << t;
            return saveAnswer;
        };
    }
    ~Messages() { pelda::resetPrompts(); }
};

inline void initApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("opxkit"));
    QCoreApplication::setApplicationName(QStringLiteral("Pelda"));
}

} // namespace peldatest
