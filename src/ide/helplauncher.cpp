#include "helplauncher.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

namespace pelda {

namespace {

bool openWithDesktop(const QUrl& url) {
    if (QDesktopServices::openUrl(url)) return true;
#if defined(Q_OS_WIN)
    return QProcess::startDetached(
        QStringLiteral("C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"),
        {QStringLiteral("-nohome"), url.toLocalFile()});
#elif defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toLocalFile()});
#else
    return false;
#endif
}

qint64 monotonicMs() {
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t.elapsed();
}

} // namespace

HelpLauncher::HelpLauncher() : opener(openWithDesktop), clock(monotonicMs) {}

QString HelpLauncher::pagePath(const QString& installDir, const QString& page) {
    return QDir(installDir).absoluteFilePath(QStringLiteral("doc/") + page);
}

HelpLauncher::Result HelpLauncher::open(const QString& installDir, const QString& page) {
    const qint64 now = clock();
    if (opened_ && now - last_ < kQuietMs) return Ignored;
    const QString path = pagePath(installDir, page);
    if (!QFileInfo::exists(path)) return Missing;
    if (!opener(QUrl::fromLocalFile(path))) return Failed;
    opened_ = true;
    last_ = now;
    return Opened;
}

} // namespace pelda
