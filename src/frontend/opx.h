// The program's shared state: the main frame, the file named on the command line, the trace
// level, the application icon, the remembered dialog settings, and the helpers that carry
// texts and paths across the bridges.
#pragma once

#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace opxwin {

class OpxFrame;

struct Opx {
    // Trace levels handed to the cores, in increasing order of detail.
    enum { IO_TRACE_NONE = 0, IO_TRACE_ERROR, IO_TRACE_OPEN, IO_TRACE_IO, IO_TRACE_DATA };

    static OpxFrame* theFrame;
    static QString sInitialFileName;
    static int iTraceLevel;

    // The platform's file separator.
    static QChar cFileSeparator();
    // Index of the last file separator of a path, or -1 (on Windows '/' counts too).
    static int lastSep(const QString& path);

    // The settings that the dialogs remember until the program ends (never saved to disk).
    static QHash<QString, QString>& theProperties();
    static QString property(const QString& key, const QString& fallback = QString());
    static void setProperty(const QString& key, const QString& value);

    // The first argument is the file to open; "-iotrace N" as the second and third sets the
    // trace level (a negative or unreadable value counts as 0).
    static void parseArguments(const QStringList& arguments);

    // A file of the program's own folders: "doc/open.gif" is looked for beside the program
    // first, then in the current folder. Empty when found in neither.
    static QString resourcePath(const QString& relative);
    // An image of those folders; a null pixmap when it is missing or cannot be read.
    static QPixmap image(const QString& relative);
    // The application icon ("doc/opxmin.gif").
    static QIcon iconImage();
};

// Texts from the cores are in the workstation code page of the cores (ISO 8859-1 by default);
// paths are in the local 8-bit encoding.
QString fromCore(const char* text);
QByteArray toCore(const QString& text);
QString pathFromCore(const char* path);
QByteArray pathToCore(const QString& path);

} // namespace opxwin
