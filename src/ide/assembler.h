// Starting the assembler for one source file and telling when it has ended.
//
// The assembler is the program "zora" in the installation directory (for an installed editor,
// whose installation directory is the toolkit's data folder, the one beside the editor's own
// program when the installation directory has none). It gets the source path,
// "-Q", "-T" and "-SM'<message file>'" as separate arguments (never through a shell, so any
// character in a path is safe), and two environment variables: ZORAERR names the error file,
// ZORAINI the options file. ZORAINI is formed once, at the first run: an existing non-empty
// ZORAINI of the editor's own environment stays in front, joined by ";". Later runs reuse
// that value. The editor's own environment is never changed.
//
// The run is asynchronous: the interface keeps working while the assembler runs, and
// finished() or failed() tells the outcome.
#pragma once

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <optional>

namespace pelda {

class PrivateProfile;
class WorkFiles;

class Assembler : public QObject {
    Q_OBJECT
  public:
    Assembler(const WorkFiles& files, QObject* parent = nullptr);
    ~Assembler() override;

    // The assembler program of an installation directory: installDir/zora, else zora in
    // editorDir (the folder of the editor's program) when only that one can be run, else
    // installDir/zora all the same (for the message that it was not found).
    static QString programPath(const QString& installDir, const QString& editorDir);
    static QString programPath(const QString& installDir);
    // The arguments for one source file.
    QStringList arguments(const QString& source) const;
    // The child's environment; the first call fixes the ZORAINI value for every later run.
    QProcessEnvironment environment();

    // Deletes the result files, writes the options file from ini and starts the assembler.
    // Returns false when it could not start; failed() has then been emitted.
    bool start(const QString& installDir, const QString& source, const PrivateProfile& ini);
    bool isRunning() const { return process_ != nullptr; }
    QString source() const { return source_; }
    // Ends a running assembler (when the editor closes).
    void kill();

  signals:
    void finished(const QString& source, bool crashed, int exitCode);
    // The run did not start. processStart is true when the program itself could not be started
    // (rather than the options file written).
    void failed(const QString& source, const QString& reason, bool processStart);

  private:
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onError(QProcess::ProcessError error);
    void fail(const QString& reason, bool processStart);

    const WorkFiles& files_;
    std::optional<QString> zoraIni_;
    QProcess* process_ = nullptr;
    QString source_;
    QString program_;
};

} // namespace pelda
