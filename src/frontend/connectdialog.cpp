#include "connectdialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "connections.h"
#include "opx.h"
#include "opxframe.h"

namespace opxwin {

namespace {
// Only the first box shown over a main frame (the splash) closes itself.
bool timerStarted = false;
} // namespace

ConnectDialog::ConnectDialog(OpxFrame* frame) : QDialog(frame), frame_(frame) {
    setWindowTitle(QStringLiteral("Quorin Opalex"));
    setModal(true);
    setWindowIcon(Opx::iconImage());
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    const QPixmap picture = Opx::image(QStringLiteral("doc/L160x90.gif"));
    if (!picture.isNull()) logo->setPixmap(picture);
    logo->setFixedSize(160, 90);
    top->addWidget(logo);
    auto* product = new QLabel(QStringLiteral("Quorin Opalex"), this);
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    product->setFont(big);
    top->addWidget(product, 1);
    layout->addLayout(top);
    message_ = new QPlainTextEdit(this);
    message_->setReadOnly(true);
    message_->setMinimumSize(420, 120);
    layout->addWidget(message_, 1);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    if (frame != nullptr) move(frame->pos() + QPoint(50, 50));
}

QString ConnectDialog::messageText() const {
    return message_->toPlainText();
}

void ConnectDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    message_->setPlainText(OpxConnection::theConnection()->sConnectMessage);
    if (frame_ != nullptr && !timerStarted) {
        timerStarted = true;
        timed_ = true;
        QTimer::singleShot(3000, this, [this] {
            if (isVisible()) accept();
        });
    }
}

void ConnectDialog::done(int result) {
    QDialog::done(result);
    if (frame_ == nullptr)
        QCoreApplication::exit(kExitNoConnection);
    else
        frame_->activateWindow();
}

} // namespace opxwin
