#include "finddialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QVBoxLayout>

#include "prompts.h"

namespace pelda {

FindDialog::FindDialog(std::function<QPlainTextEdit*()> editor, QWidget* parent)
    : QDialog(parent), editor_(std::move(editor)), what_(new QLineEdit(this)),
      with_(new QLineEdit(this)), withLabel_(new QLabel(tr("Re&place with:"), this)),
      matchCase_(new QCheckBox(tr("Match &case"), this)),
      wholeWord_(new QCheckBox(tr("Match &whole word only"), this)),
      up_(new QRadioButton(tr("&Up"), this)), down_(new QRadioButton(tr("&Down"), this)),
      findButton_(new QPushButton(tr("&Find Next"), this)),
      replaceButton_(new QPushButton(tr("&Replace"), this)),
      replaceAllButton_(new QPushButton(tr("Replace &All"), this)) {
    auto* grid = new QGridLayout;
    auto* whatLabel = new QLabel(tr("Fi&nd what:"), this);
    whatLabel->setBuddy(what_);
    withLabel_->setBuddy(with_);
    grid->addWidget(whatLabel, 0, 0);
    grid->addWidget(what_, 0, 1);
    grid->addWidget(withLabel_, 1, 0);
    grid->addWidget(with_, 1, 1);
    grid->addWidget(matchCase_, 2, 0, 1, 2);
    grid->addWidget(wholeWord_, 3, 0, 1, 2);
    auto* direction = new QGroupBox(tr("Direction"), this);
    auto* dl = new QHBoxLayout(direction);
    dl->addWidget(up_);
    dl->addWidget(down_);
    down_->setChecked(true);
    grid->addWidget(direction, 4, 0, 1, 2);

    auto* buttons = new QVBoxLayout;
    auto* close = new QPushButton(tr("Close"), this);
    buttons->addWidget(findButton_);
    buttons->addWidget(replaceButton_);
    buttons->addWidget(replaceAllButton_);
    buttons->addWidget(close);
    buttons->addStretch();
    findButton_->setDefault(true);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(findButton_, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(replaceButton_, &QPushButton::clicked, this, &FindDialog::replaceOne);
    connect(replaceAllButton_, &QPushButton::clicked, this, &FindDialog::replaceAll);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
    connect(what_, &QLineEdit::textChanged, this, [this](const QString& t) {
        findButton_->setEnabled(!t.isEmpty());
        replaceButton_->setEnabled(!t.isEmpty());
        replaceAllButton_->setEnabled(!t.isEmpty());
    });
    findButton_->setEnabled(false);
    replaceButton_->setEnabled(false);
    replaceAllButton_->setEnabled(false);
    setReplaceMode(false);
}

void FindDialog::setReplaceMode(bool on) {
    setWindowTitle(on ? tr("Replace") : tr("Find"));
    withLabel_->setVisible(on);
    with_->setVisible(on);
    replaceButton_->setVisible(on);
    replaceAllButton_->setVisible(on);
}

void FindDialog::showFind() {
    setReplaceMode(false);
    if (QPlainTextEdit* e = editor_(); e && e->textCursor().hasSelection())
        what_->setText(e->textCursor().selectedText());
    show();
    raise();
    activateWindow();
    what_->setFocus();
    what_->selectAll();
}

void FindDialog::showReplace() {
    showFind();
    setReplaceMode(true);
}

void FindDialog::setSearch(const QString& what, const QString& with, bool matchCase, bool wholeWord,
                           bool up) {
    what_->setText(what);
    with_->setText(with);
    matchCase_->setChecked(matchCase);
    wholeWord_->setChecked(wholeWord);
    (up ? up_ : down_)->setChecked(true);
}

bool FindDialog::hasSearch() const {
    return !what_->text().isEmpty();
}

QTextDocument::FindFlags FindDialog::flags(bool forceForward) const {
    QTextDocument::FindFlags f;
    if (matchCase_->isChecked()) f |= QTextDocument::FindCaseSensitively;
    if (wholeWord_->isChecked()) f |= QTextDocument::FindWholeWords;
    if (!forceForward && up_->isChecked()) f |= QTextDocument::FindBackward;
    return f;
}

bool FindDialog::findNext() {
    QPlainTextEdit* e = editor_();
    if (!e || what_->text().isEmpty()) return false;
    const QString what = what_->text();
    QTextDocument::FindFlags f = flags();
    QTextCursor found = e->document()->find(what, e->textCursor(), f);
    if (found.isNull()) {
        // Wrap around to the other end of the document.
        QTextCursor start(e->document());
        if (f & QTextDocument::FindBackward) start.movePosition(QTextCursor::End);
        found = e->document()->find(what, start, f);
    }
    if (found.isNull()) {
        prompts().message(this, QMessageBox::Information,
                          tr("Cannot find the string '%1'.").arg(what));
        return false;
    }
    e->setTextCursor(found);
    return true;
}

bool FindDialog::selectionMatches(QPlainTextEdit* e) const {
    QTextCursor c = e->textCursor();
    if (!c.hasSelection()) return false;
    // Search again from the selection's start: the selection matches when the search finds it.
    QTextCursor from(e->document());
    from.setPosition(c.selectionStart());
    QTextCursor hit = e->document()->find(what_->text(), from, flags(true));
    return !hit.isNull() && hit.selectionStart() == c.selectionStart() &&
           hit.selectionEnd() == c.selectionEnd();
}

bool FindDialog::replaceOne() {
    QPlainTextEdit* e = editor_();
    if (!e || what_->text().isEmpty()) return false;
    if (selectionMatches(e)) {
        QTextCursor c = e->textCursor();
        c.insertText(with_->text());
        e->setTextCursor(c);
    }
    return findNext();
}

int FindDialog::replaceAll() {
    QPlainTextEdit* e = editor_();
    if (!e || what_->text().isEmpty()) return 0;
    const QString what = what_->text();
    const QString with = with_->text();
    QTextDocument::FindFlags f = flags(true);
    QTextCursor edit(e->document());
    edit.beginEditBlock();
    int count = 0;
    QTextCursor at(e->document());
    for (;;) {
        QTextCursor hit = e->document()->find(what, at, f);
        if (hit.isNull()) break;
        hit.insertText(with);
        at = hit; // continue after the replacement, so that "A" -> "AA" cannot loop
        ++count;
    }
    edit.endEditBlock();
    if (count == 0)
        prompts().message(this, QMessageBox::Information,
                          tr("Cannot find the string '%1'.").arg(what));
    return count;
}

} // namespace pelda
