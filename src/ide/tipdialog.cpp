#include "tipdialog.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "appprofile.h"

namespace pelda {

namespace {

// The tip at or after pos, and the position after it; false when the file holds no tip there.
bool readTip(QFile& f, qint64* pos, QString* tip) {
    if (!f.seek(*pos)) return false;
    while (!f.atEnd()) {
        QByteArray line = f.readLine(64 * 1024).trimmed();
        if (line.isEmpty() || line.startsWith(';')) continue;
        *tip = QString::fromUtf8(line);
        *pos = f.pos();
        return true;
    }
    return false;
}

} // namespace

QString TipDialog::missingText() {
    return tr("Tips file does not exist in the prescribed directory");
}
QString TipDialog::troubleText() {
    return tr("Trouble reading the tips file");
}

TipDialog::TipDialog(const QString& tipsFile, AppProfile& profile, QWidget* parent)
    : QDialog(parent), file_(tipsFile), profile_(profile), text_(new QLabel(this)),
      startUp_(new QCheckBox(tr("&Show tips on startup"), this)) {
    setWindowTitle(tr("Tip of the Day"));
    auto* heading = new QLabel(tr("<b>Did you know...</b>"), this);
    text_->setWordWrap(true);
    text_->setMinimumSize(360, 90);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setFrameShape(QFrame::StyledPanel);
    text_->setMargin(8);
    startUp_->setChecked(profile_.tipAtStartUp());

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* next = buttons->addButton(tr("&Next Tip"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    connect(next, &QPushButton::clicked, this, &TipDialog::nextTip);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(text_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(startUp_);
    bottom->addStretch();
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    pos_ = profile_.tipFilePos();
    QFileInfo fi(file_);
    if (fi.exists()) {
        const QString stamp = fi.lastModified().toUTC().toString(Qt::ISODateWithMs);
        if (stamp != profile_.tipTimeStamp()) {
            pos_ = 0;
            profile_.setTipTimeStamp(stamp);
        }
    }
    nextTip();
}

TipDialog::~TipDialog() {
    store();
}

QString TipDialog::tip() const {
    return text_->text();
}

void TipDialog::nextTip() {
    QFile f(file_);
    if (!f.open(QIODevice::ReadOnly)) {
        text_->setText(missingText());
        return;
    }
    QString tip;
    if (pos_ < 0 || pos_ > f.size()) {
        // The stored position lies outside the file: say so, and start again next time.
        text_->setText(troubleText());
        pos_ = 0;
        return;
    }
    if (!readTip(f, &pos_, &tip)) {
        pos_ = 0; // past the last tip: wrap to the first
        if (!readTip(f, &pos_, &tip)) {
            text_->setText(troubleText());
            return;
        }
    }
    text_->setText(tip);
}

void TipDialog::store() {
    profile_.setTipAtStartUp(startUp_->isChecked());
    profile_.setTipFilePos(pos_);
    profile_.sync();
}

} // namespace pelda
