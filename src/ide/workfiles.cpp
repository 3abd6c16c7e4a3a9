#include "workfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace pelda {

QString optionsFileName(qint64 pid) {
    return QStringLiteral("Pelda") +
           QString::number(pid, 16).toUpper().rightJustified(4, QLatin1Char('0')) +
           QStringLiteral(".env");
}

WorkFiles::WorkFiles()
    : dir_(std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/Pelda-XXXXXX"))) {
    if (!dir_->isValid()) {
        error_ = dir_->errorString();
        return;
    }
    // mkdtemp already creates the folder for the owner only; say so explicitly all the same.
    QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString WorkFiles::folder() const {
    return isValid() ? dir_->path() : QString();
}

QString WorkFiles::optionsFile() const {
    return isValid() ? dir_->filePath(optionsFileName(QCoreApplication::applicationPid()))
                     : QString();
}

QString WorkFiles::errorFile() const {
    return isValid() ? dir_->filePath(QStringLiteral("PeldaZORA.err")) : QString();
}

QString WorkFiles::messageFile() const {
    return isValid() ? dir_->filePath(QStringLiteral("PeldaZORA.msg")) : QString();
}

void WorkFiles::removeResults() const {
    if (!isValid()) return;
    QFile::remove(errorFile());
    QFile::remove(messageFile());
}

} // namespace pelda
