// The working files of one Pelda process: the options file written before each run and the
// error and message files that the assembler leaves.
//
// They live in a folder of the temporary directory that only this user can enter (mode 0700)
// and that belongs to this process alone, so that two users, or two editors of one user, never
// read each other's results and nobody can plant a link under the fixed names:
//
//   /tmp/Pelda-Xa81Qd/Pelda1F3C.env
//   /tmp/Pelda-Xa81Qd/PeldaZORA.err
//   /tmp/Pelda-Xa81Qd/PeldaZORA.msg
//
// The folder and what is in it are removed when the process ends normally.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace pelda {

// "Pelda%.4lX.env": the process identifier in upper-case hexadecimal, at least four digits.
QString optionsFileName(qint64 pid);

class WorkFiles {
  public:
    WorkFiles();

    bool isValid() const { return dir_ && dir_->isValid(); }
    QString errorString() const { return error_; }

    QString folder() const;
    QString optionsFile() const;
    QString errorFile() const;
    QString messageFile() const;

    // Deletes the error and message files (at start-up and before every run).
    void removeResults() const;

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString error_;
};

} // namespace pelda
