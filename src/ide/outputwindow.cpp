#include "outputwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "appprofile.h"
#include "errorref.h"
#include "prompts.h"

namespace pelda {

namespace {

// Item data: the line as the assembler wrote it, for numbered lines only.
constexpr int kRawRole = Qt::UserRole;

} // namespace

OutputWindow::OutputWindow(const QString& source, const QString& errorFile,
                           const QString& messageFile, QWidget* parent)
    : QWidget(parent), source_(source), errorFile_(errorFile), messageFile_(messageFile),
      list_(new QListWidget(this)) {
    setWindowTitle(titleFor(source));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* hint =
        new QLabel(tr("Double-Click the left mouse button to zoom to the source file."), this);
    layout->addWidget(hint);
    layout->addWidget(list_);
    list_->setUniformItemSizes(true);
    list_->setFont(monospacedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont)));
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &OutputWindow::tick);
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { zoom(list_->row(item)); });
}

QString OutputWindow::titleFor(const QString& source) {
    return tr("Assembler output of: '%1'").arg(QDir::toNativeSeparators(source));
}
QString OutputWindow::assemblingText() {
    return tr("Assembling...");
}
QString OutputWindow::noErrorsText() {
    return tr("No errors were encountered in the assembly.");
}
QString OutputWindow::summaryText(int count) {
    return tr("%1 errors were encountered during the assembly.").arg(count);
}
QString OutputWindow::delimiterText() {
    return QString(64, QLatin1Char('-'));
}

int OutputWindow::readFiles() {
    list_->clear();
    int n = 0;
    for (const QString& file : {errorFile_, messageFile_}) {
        for (const QString& line : readTextLines(file)) {
            auto* item = new QListWidgetItem(QStringLiteral("%1) %2").arg(++n).arg(line), list_);
            item->setData(kRawRole, line);
        }
    }
    return n;
}

void OutputWindow::addPlain(const QString& text) {
    new QListWidgetItem(text, list_);
}

void OutputWindow::finishWithSummary(int count) {
    timer_.stop();
    addPlain(delimiterText());
    addPlain(summaryText(count));
    list_->setCurrentRow(list_->count() - 1);
}

void OutputWindow::stopPolling(const QString& text) {
    timer_.stop();
    list_->clear();
    addPlain(text);
}

void OutputWindow::load() {
    ticks_ = 0;
    int n = readFiles();
    if (n > 0) {
        finishWithSummary(n);
        return;
    }
    addPlain(assemblingText());
    timer_.start();
}

void OutputWindow::showFailure(const QStringList& reason) {
    timer_.stop();
    list_->clear();
    for (const QString& line : reason) addPlain(line);
}

void OutputWindow::showAbnormalEnd(const QString& reason) {
    ticks_ = 0;
    int n = readFiles();
    if (n > 0) {
        finishWithSummary(n);
    } else {
        timer_.stop();
    }
    addPlain(reason);
}

void OutputWindow::tick() {
    ++ticks_;
    int n = readFiles();
    if (n > 0) {
        finishWithSummary(n);
        return;
    }
    if (ticks_ >= kMaxTicks || QFileInfo::exists(messageFile_)) {
        stopPolling(noErrorsText());
        return;
    }
    addPlain(assemblingText());
}

QStringList OutputWindow::texts() const {
    QStringList out;
    for (int i = 0; i < list_->count(); ++i) out << list_->item(i)->text();
    return out;
}

std::optional<int> OutputWindow::firstErrorLine() const {
    for (int i = 0; i < list_->count(); ++i) {
        QVariant raw = list_->item(i)->data(kRawRole);
        if (!raw.isValid()) continue;
        ErrorRef ref = parseErrorRef(raw.toString());
        if (ref.line > 0) return ref.line;
    }
    return std::nullopt;
}

QString OutputWindow::resolve(const QString& file) const {
    QFileInfo fi(file);
    if (fi.isAbsolute()) return fi.absoluteFilePath();
    // A file named by the assembler is looked for beside the source, then in the installation
    // directory (the current directory).
    QFileInfo besideSource(QFileInfo(source_).absoluteDir(), file);
    if (besideSource.exists()) return besideSource.absoluteFilePath();
    if (fi.exists()) return fi.absoluteFilePath();
    return besideSource.absoluteFilePath();
}

void OutputWindow::zoom(int row) {
    QListWidgetItem* item = list_->item(row);
    if (!item) return;
    QVariant raw = item->data(kRawRole);
    if (!raw.isValid()) return; // the delimiter, the summary and the status lines name no source
    ErrorRef ref = parseErrorRef(raw.toString());
    if (!ref.isValid()) return;
    if (!ref.isNested()) {
        emit zoomRequested(source_, ref.line);
        return;
    }
    const QString nestedFile = resolve(ref.file);
    if (ref.line <= 0) {
        emit zoomRequested(nestedFile, ref.fileLine);
        return;
    }
    QStringList choices{
        tr("%1, line %2").arg(QDir::toNativeSeparators(source_)).arg(ref.line),
        tr("%1, line %2").arg(QDir::toNativeSeparators(nestedFile)).arg(ref.fileLine)};
    int chosen = prompts().chooseZoom(this, choices);
    if (chosen == 0) emit zoomRequested(source_, ref.line);
    if (chosen == 1) emit zoomRequested(nestedFile, ref.fileLine);
}

} // namespace pelda
