#include "appprofile.h"

#include <QFontInfo>
#include <algorithm>
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

QFont EditorFont::toFont() const {
    QFont f(face);
    // "Courier New" is rare outside Windows: let the font matcher substitute a monospaced face.
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPointSizeF(pointSizeForHeight(std::clamp(height, 1, kMaxFontHeight)));
    f.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
    f.setItalic(italic);
    return f;
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
    return p.isEmpty() ? QStringLiteral(".") : p;
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
