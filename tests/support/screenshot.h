// Screenshots of the window programs' tests: a widget grabbed to a PNG file in the build tree
// and checked to show something (enough pixels, several colours, no single colour covering
// nearly all of it).
#pragma once

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QWidget>

namespace testsupport {

struct ScreenshotCheck {
    qint64 minPixels = 100 * 100;
    int minColours = 8;
};

inline bool shootWidget(QWidget* w, const QString& folder, const QString& name, QString* why,
                        ScreenshotCheck check = {}) {
    QApplication::processEvents();
    const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(name + ".png");
    if (!img.save(path)) {
        *why = "cannot save " + path;
        return false;
    }
    QHash<QRgb, int> counts;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) ++counts[row[x]];
    }
    int most = 0;
    for (int c : counts) most = std::max(most, c);
    const qint64 total = qint64(img.width()) * img.height();
    if (total < check.minPixels || counts.size() < check.minColours || most > total * 97 / 100) {
        *why = QString("%1 looks blank: %2x%3, %4 colours")
                   .arg(name)
                   .arg(img.width())
                   .arg(img.height())
                   .arg(counts.size());
        return false;
    }
    return true;
}

} // namespace testsupport
