#include "appprofile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <algorithm>

#include "platform/install_layout.h"
#include "tabstops.h"
#include <cmath>

namespace pelda {

namespace {

constexpr int kRecentMax = 4;

} // namespace

int fontHeightForPointSize(double pointSize, bool* tooBig) {
    double height = 0.15 * (pointSize * 10.0);
    bool big = height > kMaxFontHeight;
    if (tooBig) *tooBig = big;
    if (big) return kMaxFontHeight;
    return std::max(1, static_cast<int>(height));
}

double pointSizeForHeight(int height) {
    return height / 1.5;
}

QString fontTooBigMessage() {
    return QObject::tr(
        "Font Size is too big.\n\nThe size is being set to 12\npoints which is the maximum.");
}

namespace {

// wanted's size, weight and slant on the face of base.
QFont withMetricsOf(QFont base, const QFont& wanted) {
    base.setStyleHint(QFont::Monospace);
    base.setFixedPitch(true);
    if (wanted.pointSizeF() > 0)
        base.setPointSizeF(wanted.pointSizeF());
    else if (wanted.pixelSize() > 0)
        base.setPixelSize(wanted.pixelSize());
    base.setWeight(wanted.weight());
    base.setItalic(wanted.italic());
    return base;
}

} // namespace

QFont monospacedFont(const QFont& wanted) {
    if (QFontInfo(wanted).fixedPitch()) return wanted;
    QFont f = withMetricsOf(QFontDatabase::systemFont(QFontDatabase::FixedFont), wanted);
    if (QFontInfo(f).fixedPitch()) return f;
    // The system's fixed font is not fixed either (no alias for "monospace", or one that points
    // at a proportional face): take the first face that the machine knows to be fixed-pitch.
    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::isFixedPitch(family)) continue;
        QFont candidate = withMetricsOf(QFont(family), wanted);
        if (QFontInfo(candidate).fixedPitch()) return candidate;
    }
    return f; // a machine without a single fixed-pitch face
}

QFont EditorFont::toFont() const {
    QFont f(face);
    // A face the machine lacks: let the font matcher look for a monospaced one first.
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPointSizeF(pointSizeForHeight(std::clamp(height, 1, kMaxFontHeight)));
    f.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
    f.setItalic(italic);
    return f;
}

QFont EditorFont::shownFont() const {
    return monospacedFont(toFont());
}

EditorFont EditorFont::fromFont(const QFont& font, bool* tooBig) {
    EditorFont e;
    e.face = font.family();
    double pt = font.pointSizeF();
    if (pt <= 0) pt = QFontInfo(font).pointSizeF();
    e.height = fontHeightForPointSize(pt, tooBig);
    e.weight = font.weight();
    e.italic = font.italic();
    return e;
}

QString AppProfile::installPath() const {
    QString p = settings_.value(QStringLiteral("Path")).toString();
    return p.isEmpty() ? defaultInstallPath(QCoreApplication::applicationDirPath()) : p;
}

QString AppProfile::defaultInstallPath(const QString& programDir) {
    if (!programDir.isEmpty()) {
        const QString data =
            QDir::cleanPath(QDir(programDir).filePath(QStringLiteral(OPX_LAYOUT_BIN_TO_DATA)));
        if (QFileInfo(data).isDir()) return data;
    }
    return QStringLiteral(".");
}

QString AppProfile::optionsFilePath(const QString& installDir, const QString& userDir) {
    const QString name = QStringLiteral("QCONFIG.INI");
    if (QFileInfo(installDir).isWritable() || userDir.isEmpty())
        return QDir(installDir).filePath(name);
    QDir().mkpath(userDir);
    return QDir(userDir).filePath(name);
}

QString AppProfile::profileFolder() const {
    return QFileInfo(settings_.fileName()).absolutePath();
}
void AppProfile::setInstallPath(const QString& path) {
    settings_.setValue(QStringLiteral("Path"), path);
}

int AppProfile::editWidth() const {
    bool ok = false;
    int w = settings_.value(QStringLiteral("nWidth"), 85).toInt(&ok);
    return ok && w > 0 ? w : 85;
}
void AppProfile::setEditWidth(int columns) {
    settings_.setValue(QStringLiteral("nWidth"), columns);
}

EditorFont AppProfile::editorFont() const {
    EditorFont e;
    e.face = settings_.value(QStringLiteral("FontFaceName"), e.face).toString();
    if (e.face.isEmpty()) e.face = EditorFont().face;
    bool ok = false;
    int h = settings_.value(QStringLiteral("FontHeight"), e.height).toInt(&ok);
    if (ok && h > 0) e.height = std::min(h, kMaxFontHeight);
    int w = settings_.value(QStringLiteral("FontWeight"), e.weight).toInt(&ok);
    if (ok && w > 0) e.weight = w;
    e.italic = settings_.value(QStringLiteral("FontItalic"), 0).toInt() != 0;
    return e;
}
void AppProfile::setEditorFont(const EditorFont& font) {
    settings_.setValue(QStringLiteral("FontFaceName"), font.face);
    settings_.setValue(QStringLiteral("FontHeight"), font.height);
    settings_.setValue(QStringLiteral("FontWeight"), font.weight);
    settings_.setValue(QStringLiteral("FontItalic"), font.italic ? 1 : 0);
}

bool AppProfile::tipAtStartUp() const {
    return settings_.value(QStringLiteral("Tip/StartUp"), 1).toInt() != 0;
}
void AppProfile::setTipAtStartUp(bool on) {
    settings_.setValue(QStringLiteral("Tip/StartUp"), on ? 1 : 0);
}
qint64 AppProfile::tipFilePos() const {
    return settings_.value(QStringLiteral("Tip/FilePos"), 0).toLongLong();
}
void AppProfile::setTipFilePos(qint64 pos) {
    settings_.setValue(QStringLiteral("Tip/FilePos"), pos);
}
QString AppProfile::tipTimeStamp() const {
    return settings_.value(QStringLiteral("Tip/TimeStamp")).toString();
}
void AppProfile::setTipTimeStamp(const QString& stamp) {
    settings_.setValue(QStringLiteral("Tip/TimeStamp"), stamp);
}

QList<int> AppProfile::tabStops() const {
    // Written by hand without quotes, "10, 16" reads as a list of strings.
    const QVariant v = settings_.value(QStringLiteral("TabStops"));
    const auto stops =
        parseTabStops(v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                           : v.toString());
    return stops ? *stops : defaultTabStops();
}
void AppProfile::setTabStops(const QList<int>& stops) {
    settings_.setValue(QStringLiteral("TabStops"), formatTabStops(stops));
}

bool AppProfile::viewOption(const QString& key, bool byDefault) const {
    return settings_.value(key, byDefault ? 1 : 0).toInt() != 0;
}
void AppProfile::setViewOption(const QString& key, bool on) {
    settings_.setValue(key, on ? 1 : 0);
}

QStringList AppProfile::recentFiles() const {
    QStringList files;
    for (int i = 1; i <= kRecentMax; ++i) {
        QString f = settings_.value(QStringLiteral("RecentFiles/File%1").arg(i)).toString();
        if (!f.isEmpty()) files << f;
    }
    return files;
}
void AppProfile::setRecentFiles(const QStringList& files) {
    for (int i = 1; i <= kRecentMax; ++i) {
        const QString key = QStringLiteral("RecentFiles/File%1").arg(i);
        if (i <= files.size())
            settings_.setValue(key, files[i - 1]);
        else
            settings_.remove(key);
    }
}

} // namespace pelda
