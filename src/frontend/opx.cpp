#include "opx.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/install_layout.h"

namespace opxwin {

OpxFrame* Opx::theFrame = nullptr;
QString Opx::sInitialFileName;
int Opx::iTraceLevel = Opx::IO_TRACE_NONE;

QChar Opx::cFileSeparator() {
#ifdef Q_OS_WIN
    return QLatin1Char('\\');
#else
    return QLatin1Char('/');
#endif
}

int Opx::lastSep(const QString& path) {
#ifdef Q_OS_WIN
    return std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
#else
    return static_cast<int>(path.lastIndexOf(QLatin1Char('/')));
#endif
}

QHash<QString, QString>& Opx::theProperties() {
    static QHash<QString, QString> properties;
    return properties;
}

QString Opx::property(const QString& key, const QString& fallback) {
    return theProperties().value(key, fallback);
}

void Opx::setProperty(const QString& key, const QString& value) {
    theProperties().insert(key, value);
}

void Opx::parseArguments(const QStringList& arguments) {
    sInitialFileName = arguments.isEmpty() ? QString() : arguments.at(0);
    iTraceLevel = IO_TRACE_NONE;
    if (arguments.size() >= 3 && arguments.at(1) == QLatin1String("-iotrace")) {
        bool ok = false;
        const int level = arguments.at(2).trimmed().toInt(&ok, 10);
        iTraceLevel = ok && level > 0 ? level : IO_TRACE_NONE;
    }
}

QString Opx::resourcePath(const QString& relative) {
    // Beside the program (the build tree), then in the data folder of an installation
    // (P/share/opxkit for P/bin/opxwin), then in the current folder.
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString besideProgram = programDir.filePath(relative);
    if (QFileInfo::exists(besideProgram)) return besideProgram;
    const QString installed =
        QDir::cleanPath(programDir.filePath(QStringLiteral(OPX_LAYOUT_BIN_TO_DATA "/") + relative));
    if (QFileInfo::exists(installed)) return installed;
    const QString current = QDir::current().filePath(relative);
    if (QFileInfo::exists(current)) return current;
    return QString();
}

QPixmap Opx::image(const QString& relative) {
    const QString path = resourcePath(relative);
    return path.isEmpty() ? QPixmap() : QPixmap(path);
}

QIcon Opx::iconImage() {
    static QIcon icon = QIcon(image(QStringLiteral("doc/opxmin.gif")));
    return icon;
}

QString fromCore(const char* text) {
    return text != nullptr ? QString::fromLatin1(text) : QString();
}

QByteArray toCore(const QString& text) {
    return text.toLatin1();
}

QString pathFromCore(const char* path) {
    return path != nullptr ? QFile::decodeName(path) : QString();
}

QByteArray pathToCore(const QString& path) {
    return QFile::encodeName(QDir::toNativeSeparators(path));
}

} // namespace opxwin
