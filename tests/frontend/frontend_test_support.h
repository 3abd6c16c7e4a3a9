// Helpers for the window program's tests: a recorder that answers every question and message
// box, drives wizard pages and the status dialog without modal loops, and a camera for
// screenshots that checks a picture is not blank.
#pragma once

#include "screenshot.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QList>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTableView>
#include <QTest>
#include <functional>

#include "extractdialogs.h"
#include "prompts.h"
#include "statusdialog.h"
#include "wizardpage.h"

namespace opxtest {

using namespace opxwin;

struct Recorder {
    QStringList messages;        // "caption: text"
    QStringList overwriteTexts;  // texts of the "Overwrite File" questions
    QList<int> overwriteAnswers; // answers given in turn (then "Skip")
    QStringList failedTexts;     // texts of the "Load Module Extract Failed" boxes
    QList<bool> failedAnswers;   // OK (true) or Cancel in turn (then OK)
    QStringList fileCaptions;
    QString fileAnswer;
    QStringList pageTitles; // class names of the pages shown, in order
    // Fills a page and presses one of its buttons; returns the page's result. By default OK.
    std::function<int(WizardPage*)> page = [](WizardPage* p) {
        p->pressOk();
        return p->result();
    };
    // Called once the status dialog is on the screen and its worker runs.
    std::function<void(StatusDialog*)> whileRunning;
    // Called when the request has ended, before OK is pressed.
    std::function<void(StatusDialog*)> atEnd;
    QString statusText;
    QString statusButton;
    int statusMaximum = -1;
    int statusValue = -1;

    Recorder() {
        Prompts& p = prompts();
        p.message = [this](QWidget*, QMessageBox::Icon, const QString& caption,
                           const QString& text) {
            messages << caption + QStringLiteral(": ") + text;
        };
        p.overwrite = [this](QWidget*, const QString& text) {
            overwriteTexts << text;
            return overwriteAnswers.isEmpty() ? 1 : overwriteAnswers.takeFirst();
        };
        p.loadModuleFailed = [this](QWidget*, const QString& text) {
            failedTexts << text;
            return failedAnswers.isEmpty() ? true : failedAnswers.takeFirst();
        };
        p.fileName = [this](QWidget*, const QString& caption, const QString&, bool) {
            fileCaptions << caption;
            return fileAnswer;
        };
        p.runDialog = [this](QDialog* d) { return run(d); };
    }
    ~Recorder() { resetPrompts(); }

    int run(QDialog* d) {
        if (auto* w = qobject_cast<WizardPage*>(d)) {
            pageTitles << QString::fromLatin1(w->metaObject()->className()).section(':', -1);
            d->setResult(WizardPage::Cancel);
            return page(w);
        }
        if (auto* s = qobject_cast<StatusDialog*>(d)) {
            s->show();
            if (whileRunning) whileRunning(s);
            if (!QTest::qWaitFor([s] { return s->isDone(); }, 60000)) return -99;
            QApplication::processEvents();
            if (atEnd) atEnd(s);
            statusText = s->text();
            statusButton = s->button()->text();
            statusMaximum = s->progressBar()->maximum();
            statusValue = s->progressBar()->value();
            s->button()->click();
            return s->result();
        }
        d->show();
        d->accept();
        return d->result();
    }
};

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Saves the picture of a widget into the screenshot folder and checks that it shows
// something: several colours, and no single colour covering nearly all of it.
inline bool shoot(QWidget* w, const QString& name, QString* why) {
    return testsupport::shootWidget(w, QStringLiteral(OPXWIN_SCREENSHOTS), name, why,
                                    {100 * 60, 4});
}

} // namespace opxtest
