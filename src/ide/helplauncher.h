// Opening the help pages ("zrh.htm", the preferences page "zrh4.htm") from the "doc" folder of
// the installation directory with the program the desktop associates with them. A second
// request within five seconds of the last page opened is ignored, so that an impatient double
// click does not start the browser twice.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace pelda {

class HelpLauncher {
  public:
    enum Result { Opened, Ignored, Missing, Failed };
    static constexpr qint64 kQuietMs = 5000;

    HelpLauncher();

    // Opens doc/page of installDir.
    Result open(const QString& installDir, const QString& page);
    // The path of a help page.
    static QString pagePath(const QString& installDir, const QString& page);

    // For tests: what opens a URL, and the clock in milliseconds.
    std::function<bool(const QUrl&)> opener;
    std::function<qint64()> clock;

  private:
    qint64 last_ = 0;
    bool opened_ = false;
};

} // namespace pelda
