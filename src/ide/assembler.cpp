#include "assembler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "assembleroptions.h"
#include "privateprofile.h"
#include "workfiles.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace pelda {

Assembler::Assembler(const WorkFiles& files, QObject* parent) : QObject(parent), files_(files) {}

Assembler::~Assembler() {
    kill();
}

QString Assembler::programPath(const QString& installDir, const QString& editorDir) {
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("zora.exe");
#else
    const QString name = QStringLiteral("zora");
#endif
    const QString inInstallDir = QDir::cleanPath(QDir(installDir).absoluteFilePath(name));
    if (QFileInfo(inInstallDir).isExecutable() || editorDir.isEmpty()) return inInstallDir;
    // An assembler installed into the same prefix as the editor lies beside it (P/bin).
    const QString besideEditor = QDir::cleanPath(QDir(editorDir).absoluteFilePath(name));
    return QFileInfo(besideEditor).isExecutable() ? besideEditor : inInstallDir;
}

QString Assembler::programPath(const QString& installDir) {
    return programPath(installDir, QCoreApplication::applicationDirPath());
}

QStringList Assembler::arguments(const QString& source) const {
    return {QDir::toNativeSeparators(source), QStringLiteral("-Q"), QStringLiteral("-T"),
            QStringLiteral("-SM'") + QDir::toNativeSeparators(files_.messageFile()) +
                QLatin1Char('\'')};
}

QProcessEnvironment Assembler::environment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!zoraIni_) {
        const QString own = qEnvironmentVariable("ZORAINI");
        const QString options = QDir::toNativeSeparators(files_.optionsFile());
        zoraIni_ = own.isEmpty() ? options : own + QLatin1Char(';') + options;
    }
    env.insert(QStringLiteral("ZORAERR"), QDir::toNativeSeparators(files_.errorFile()));
    env.insert(QStringLiteral("ZORAINI"), *zoraIni_);
    return env;
}

bool Assembler::start(const QString& installDir, const QString& source, const PrivateProfile& ini) {
    if (process_) return false; // one run at a time: the result files are shared
    source_ = source;
    if (!files_.isValid()) {
        fail(tr("No working folder: %1").arg(files_.errorString()), false);
        return false;
    }
    files_.removeResults();
    QString error;
    if (!writeOptionsFile(files_.optionsFile(), ini, &error)) {
        fail(tr("Cannot write the options file %1: %2").arg(files_.optionsFile(), error), false);
        return false;
    }
    program_ = programPath(installDir);
    if (!QFileInfo(program_).isExecutable()) {
        // QProcess would search PATH for a name it cannot find; the assembler is only ever
        // the one in the installation directory.
        fail(tr("The assembler %1 was not found or cannot be run.").arg(program_), true);
        return false;
    }

    process_ = new QProcess(this);
    process_->setProgram(program_);
    process_->setArguments(arguments(source));
    process_->setProcessEnvironment(environment());
    process_->setWorkingDirectory(installDir);
    // The assembler inherits the editor's output handles and has no window of its own.
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    process_->setInputChannelMode(QProcess::ManagedInputChannel);
#ifdef Q_OS_WIN
    process_->setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* a) { a->flags |= CREATE_NO_WINDOW; });
#endif
    connect(process_, &QProcess::finished, this, &Assembler::onFinished);
    connect(process_, &QProcess::errorOccurred, this, &Assembler::onError);
    process_->start();
    if (process_ && process_->state() != QProcess::NotRunning) process_->closeWriteChannel();
    return process_ != nullptr;
}

void Assembler::onFinished(int exitCode, QProcess::ExitStatus status) {
    if (!process_) return;
    process_->deleteLater();
    process_ = nullptr;
    emit finished(source_, status == QProcess::CrashExit, exitCode);
}

void Assembler::onError(QProcess::ProcessError error) {
    if (!process_ || error != QProcess::FailedToStart) return; // crashes also come as finished()
    QString reason = process_->errorString();
    process_->deleteLater();
    process_ = nullptr;
    fail(tr("%1: %2").arg(program_, reason), true);
}

void Assembler::fail(const QString& reason, bool processStart) {
    emit failed(source_, reason, processStart);
}

void Assembler::kill() {
    if (!process_) return;
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(3000);
    delete process_;
    process_ = nullptr;
}

} // namespace pelda
