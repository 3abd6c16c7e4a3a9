#include "statusdialog.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "opx.h"

namespace opxwin {

StatusDialog::StatusDialog(QWidget* parent, const QString& caption) : QDialog(parent) {
    setWindowTitle(caption);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setMinimumSize(560, 300);
    layout->addWidget(text_, 1);
    progress_ = new QProgressBar(this);
    // A sequential data set is one step; 0..0 would show a busy animation instead.
    progress_->setRange(0, 1);
    progress_->setValue(0);
    layout->addWidget(progress_);
    button_ = new QPushButton(QStringLiteral("Cancel"), this);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(button_);
    row->addStretch(1);
    layout->addLayout(row);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (done_)
            accept();
        else
            pressCancel();
    });
    if (parent != nullptr) move(parent->window()->pos() + QPoint(50, 50));
}

QString StatusDialog::text() const {
    return text_->toPlainText();
}

void StatusDialog::append(const QString& text) {
    QTextCursor c(text_->document());
    c.movePosition(QTextCursor::End);
    c.insertText(text);
    text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

void StatusDialog::setMembers(int count) {
    progress_->setRange(0, count > 0 ? count : 1);
}

void StatusDialog::setProgress(int value) {
    progress_->setValue(std::min(value, progress_->maximum()));
}

void StatusDialog::advance() {
    setProgress(progress_->value() + 1);
}

void StatusDialog::setDone() {
    done_ = true;
    button_->setText(QStringLiteral("OK"));
    button_->setDefault(true);
}

void StatusDialog::pressCancel() {
    if (!done_) cancel_.store(true);
}

void StatusDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    emit firstShown();
}

void StatusDialog::closeEvent(QCloseEvent* event) {
    if (done_) {
        QDialog::closeEvent(event);
        return;
    }
    // The request still runs: closing means Cancel, and the dialog stays.
    pressCancel();
    event->ignore();
}

void StatusDialog::reject() {
    if (done_)
        QDialog::reject();
    else
        pressCancel();
}

} // namespace opxwin
