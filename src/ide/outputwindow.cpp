#include "outputwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

#include "appprofile.h"
#include "errorref.h"
#include "prompts.h"
#include "sourceeditor.h"

namespace pelda {

namespace {

// Item data: the line as the assembler wrote it, and its severity class, for numbered lines
// only.
constexpr int kRawRole = Qt::UserRole;
constexpr int kSeverityRole = Qt::UserRole + 1;

// A small round badge with the severity letter, drawn here so that no icon theme is needed.
QIcon badge(QChar letter, const QColor& colour) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    QFont f = p.font();
    f.setPixelSize(10);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QString(letter));
    return QIcon(pm);
}

} // namespace

OutputWindow::OutputWindow(const QString& source, const QString& errorFile,
                           const QString& messageFile, QWidget* parent)
    : QWidget(parent), source_(source), errorFile_(errorFile), messageFile_(messageFile),
      counts_(new QLabel(this)), list_(new QListWidget(this)) {
    setWindowTitle(titleFor(source));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* hint =
        new QLabel(tr("Double-Click the left mouse button to zoom to the source file."), this);
    counts_->setObjectName(QStringLiteral("counts"));
    auto* top = new QHBoxLayout;
    top->addWidget(hint, 1);
    top->addWidget(counts_);
    layout->addLayout(top);
    layout->addWidget(list_);
    list_->installEventFilter(this);
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
        const QChar unmarked = file == errorFile_ ? QLatin1Char('E') : QLatin1Char('I');
        for (const QString& line : readTextLines(file)) {
            auto* item = new QListWidgetItem(QStringLiteral("%1) %2").arg(++n).arg(line), list_);
            item->setData(kRawRole, line);
            const QChar letter = severityLetter(line);
            const QChar cls = letter.isNull() ? unmarked : severityClass(letter);
            item->setData(kSeverityRole, cls);
            const QColor colour = SourceEditor::severityColour(cls);
            item->setIcon(badge(letter.isNull() ? cls : letter, colour));
            if (cls != QLatin1Char('I')) item->setForeground(colour.darker(125));
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
    showCounts();
}

void OutputWindow::stopPolling(const QString& text) {
    timer_.stop();
    list_->clear();
    addPlain(text);
    showCounts();
}

QChar OutputWindow::severityClass(QChar letter) {
    switch (letter.toUpper().unicode()) {
    case 'W':
        return QLatin1Char('W');
    case 'I':
    case 'N':
        return QLatin1Char('I');
    default:
        return QLatin1Char('E');
    }
}

OutputWindow::Counts OutputWindow::counts() const {
    Counts c;
    for (int i = 0; i < list_->count(); ++i) {
        const QVariant v = list_->item(i)->data(kSeverityRole);
        if (!v.isValid()) continue;
        const QChar cls = v.toChar();
        if (cls == QLatin1Char('W'))
            ++c.warnings;
        else if (cls == QLatin1Char('I'))
            ++c.notes;
        else
            ++c.errors;
    }
    return c;
}

QString OutputWindow::countsText(const Counts& c) {
    return tr("%1 %2, %3 %4, %5 %6")
        .arg(c.errors)
        .arg(c.errors == 1 ? tr("error") : tr("errors"))
        .arg(c.warnings)
        .arg(c.warnings == 1 ? tr("warning") : tr("warnings"))
        .arg(c.notes)
        .arg(c.notes == 1 ? tr("note") : tr("notes"));
}

void OutputWindow::showCounts() {
    const Counts c = counts();
    counts_->setText(countsText(c));
    counts_->setVisible(c.errors + c.warnings + c.notes > 0);
    emit contentsChanged();
}

void OutputWindow::load() {
    ticks_ = 0;
    int n = readFiles();
    if (n > 0) {
        finishWithSummary(n);
        return;
    }
    addPlain(assemblingText());
    showCounts();
    timer_.start();
}

void OutputWindow::showFailure(const QStringList& reason) {
    timer_.stop();
    list_->clear();
    for (const QString& line : reason) addPlain(line);
    showCounts();
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
    showCounts();
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
    showCounts();
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

bool OutputWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & ~Qt::KeypadModifier)) {
            zoom(list_->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool OutputWindow::step(int direction) {
    const int n = list_->count();
    if (n == 0) return false;
    int row = list_->currentRow();
    if (row < 0) row = direction > 0 ? -1 : n;
    for (int k = 0; k < n; ++k) {
        row = ((row + direction) % n + n) % n;
        const QVariant raw = list_->item(row)->data(kRawRole);
        if (!raw.isValid() || !parseErrorRef(raw.toString()).isValid()) continue;
        list_->setCurrentRow(row);
        list_->scrollToItem(list_->item(row));
        zoom(row);
        return true;
    }
    return false;
}

QMap<int, QChar> OutputWindow::marksFor(const QString& path) const {
    QMap<int, QChar> marks;
    const QString want = QFileInfo(path).absoluteFilePath();
    const bool isSource = QFileInfo(source_).absoluteFilePath() == want;
    auto mark = [&marks](int line, QChar cls) {
        // The most severe message of a line decides its mark.
        auto rank = [](QChar c) { return c == QLatin1Char('E') ? 2 : c == QLatin1Char('W'); };
        if (line > 0 && (!marks.contains(line) || rank(cls) > rank(marks[line]))) marks[line] = cls;
    };
    for (int i = 0; i < list_->count(); ++i) {
        const QVariant raw = list_->item(i)->data(kRawRole);
        if (!raw.isValid()) continue;
        const ErrorRef ref = parseErrorRef(raw.toString());
        const QChar cls = list_->item(i)->data(kSeverityRole).toChar();
        if (isSource) mark(ref.line, cls);
        if (ref.isNested() && resolve(ref.file) == want) mark(ref.fileLine, cls);
    }
    return marks;
}

QStringList OutputWindow::messagesAt(const QString& path, int line) const {
    QStringList found;
    const QString want = QFileInfo(path).absoluteFilePath();
    const bool isSource = QFileInfo(source_).absoluteFilePath() == want;
    for (int i = 0; i < list_->count(); ++i) {
        const QVariant raw = list_->item(i)->data(kRawRole);
        if (!raw.isValid()) continue;
        const ErrorRef ref = parseErrorRef(raw.toString());
        if ((isSource && ref.line == line) ||
            (ref.isNested() && ref.fileLine == line && resolve(ref.file) == want))
            found << raw.toString();
    }
    return found;
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
