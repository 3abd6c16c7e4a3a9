#include "wizardpage.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "prompts.h"

namespace opxwin {

WizardPage::WizardPage(QWidget* frame, const QString& caption, bool withBack) : QDialog(frame) {
    setWindowTitle(caption);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    form_ = new QFormLayout;
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->addLayout(form_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    buttons->addWidget(ok_);
    if (withBack) {
        back_ = new QPushButton(QStringLiteral("Back"), this);
        back_->setAutoDefault(false);
        buttons->addWidget(back_);
        connect(back_, &QPushButton::clicked, this, &WizardPage::pressBack);
    }
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAutoDefault(false);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &WizardPage::pressOk);
    connect(cancel_, &QPushButton::clicked, this, &WizardPage::pressCancel);
    setMinimumWidth(460);
    if (frame != nullptr) move(frame->window()->pos() + QPoint(50, 50));
}

void WizardPage::pressOk() {
    const QString failure = check();
    if (!failure.isEmpty()) {
        prompts().message(this, QMessageBox::Warning, windowTitle(), failure);
        return;
    }
    store();
    done(Ok);
}

std::optional<qint64> decimal(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 18) return std::nullopt;
    for (QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    return t.toLongLong();
}

} // namespace opxwin
