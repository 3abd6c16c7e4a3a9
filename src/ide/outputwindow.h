// The output window of one assembly: every line of the error file and then of the message file,
// numbered from 1 across both, and a summary.
//
//   1) ZORA057E (12) Undefined operation code - LRX
//   2) ZORA163W (20) Label longer than 8 characters - TOOLONGNAME
//   ----------------------------------------------------------------
//   2 errors were encountered during the assembly.
//
// While neither file holds a line the window shows "Assembling..." and reads both again every
// second, until lines appear, the message file appears without lines (then there were no
// errors), or sixty seconds have passed. A double click on a numbered line takes the editor to
// the source line that it names.
#pragma once

#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <optional>

class QListWidget;
class QListWidgetItem;

namespace pelda {

class OutputWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxTicks = 60;

    OutputWindow(const QString& source, const QString& errorFile, const QString& messageFile,
                 QWidget* parent = nullptr);

    static QString titleFor(const QString& source);
    static QString assemblingText();
    static QString noErrorsText();
    static QString summaryText(int count);
    static QString delimiterText();

    QString source() const { return source_; }

    // The first reading after a run; starts polling when neither file holds a line.
    void load();
    // A run that never started: the window shows why, and nothing is polled.
    void showFailure(const QStringList& reason);
    // A run that ended abnormally: its lines if it left any, else the message, no polling.
    void showAbnormalEnd(const QString& reason);
    // One poll (the timer calls it every second).
    void tick();

    bool isPolling() const { return timer_.isActive(); }
    int ticks() const { return ticks_; }
    QListWidget* list() const { return list_; }
    QStringList texts() const;
    // The source line named by the first numbered line that names one.
    std::optional<int> firstErrorLine() const;
    // Handles a double click on row (what the list's itemDoubleClicked does).
    void zoom(int row);

  signals:
    // Show line of file (the assembled source, or a file it refers to) in an editor.
    void zoomRequested(const QString& file, int line);

  private:
    // Clears the window and fills it from both files; returns the number of lines found.
    int readFiles();
    void addPlain(const QString& text);
    void finishWithSummary(int count);
    void stopPolling(const QString& text);
    QString resolve(const QString& file) const;

    QString source_;
    QString errorFile_;
    QString messageFile_;
    QListWidget* list_;
    QTimer timer_;
    int ticks_ = 0;
};

} // namespace pelda
