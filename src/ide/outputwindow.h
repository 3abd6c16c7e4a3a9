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
// errors), or sixty seconds have passed. A double click on a numbered line, or Enter, takes the
// editor to the source line that it names; F4 and Shift+F4 in the main window step through the
// messages.
//
// Each message is shown in the colour of its severity (the letter at the end of its identifier:
// E, S, C, U and T are errors, W warnings, I and N notes; a line without one counts as an
// error when it comes from the error file and as a note from the message file), and a line
// above the list counts them apart: "2 errors, 1 warning, 0 notes".
#pragma once

#include <QMap>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <optional>

class QLabel;
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

    // Severity classes: 'E' error, 'W' warning, 'I' note.
    static QChar severityClass(QChar letter);
    struct Counts {
        int errors = 0;
        int warnings = 0;
        int notes = 0;
    };
    Counts counts() const;
    static QString countsText(const Counts& counts);

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
    // Selects the next (direction 1) or previous (-1) message that names a line, going round at
    // the ends, and zooms to it; false when no message names a line.
    bool step(int direction);

    // For the editor of path: the severity class of each line that a message names, and the
    // messages that name line.
    QMap<int, QChar> marksFor(const QString& path) const;
    QStringList messagesAt(const QString& path, int line) const;

  signals:
    // Show line of file (the assembled source, or a file it refers to) in an editor.
    void zoomRequested(const QString& file, int line);
    // The list was read again.
    void contentsChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Clears the window and fills it from both files; returns the number of lines found.
    int readFiles();
    void addPlain(const QString& text);
    void showCounts();
    void finishWithSummary(int count);
    void stopPolling(const QString& text);
    QString resolve(const QString& file) const;

    QString source_;
    QString errorFile_;
    QString messageFile_;
    QLabel* counts_;
    QListWidget* list_;
    QTimer timer_;
    int ticks_ = 0;
};

} // namespace pelda
