// Opening and scrolling a 60,000-line assembler source in the editor, with syntax colours and
// without (the baseline, measured in the same run). Prints the time to open the file and show
// the first page, the time per page scrolled through the whole source (mean and worst), and
// the time of a jump from the first line to the last, with the ratio of each to the baseline.
//
//   bench_pelda_editor [LINES]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "appprofile.h"
#include "sourceeditor.h"

using namespace pelda;

namespace {

// A source that uses every kind of statement: comments, machine and assembler instructions
// with remarks, constants, macro definitions with variable symbols, continued statements,
// and sequence numbers in columns 73-80.
QByteArray makeSource(int lines) {
    const char* const body[] = {
        "* Compute the next entry of the table and add it to the running sum.",
        "LOOP%1   L     R4,0(,R2)          load one entry",
        "         A     R5,=F'1'           count it",
        "         MVC   WORK(8),=C'ABCDEFGH'  move the title",
        "         CLI   FLAG,X'FF'         end of table?",
        "         JNE   LOOP%1",
        "         SAVEREGS (14,12),T,*     a macro call",
        "         DC    C'A long text that is continued on the next line of the sour+",
        "               ce, as assemblers allow'",
        "         MACRO",
        "&LABEL   SAVEREGS &REGS,&TYPE",
        "         AIF   (T'&REGS EQ 'O').NOREGS",
        "&LABEL   STM   &REGS,12(13)",
        "         MEND",
        ".* an internal macro comment",
        "TABLE%1  DC    4F'0',XL4'00',CL8' '",
    };
    const int n = static_cast<int>(std::size(body));
    QByteArray out;
    out.reserve(lines * 82);
    for (int i = 0; i < lines; ++i) {
        QString line = QString::fromLatin1(body[i % n]);
        line.replace(QStringLiteral("%1"),
                     QStringLiteral("%1").arg(i % 1000, 3, 10, QLatin1Char('0')));
        // A "+" at the end marks a statement continued in the next line: "X" in column 72.
        const bool continued = line.endsWith(QLatin1Char('+'));
        if (continued) line.chop(1);
        line = line.leftJustified(71, QLatin1Char(' '), true);
        line += continued ? QLatin1Char('X') : QLatin1Char(' ');
        line += QStringLiteral("%1").arg(i + 1, 8, 10, QLatin1Char('0'));
        out += line.toLatin1() + '\n';
    }
    return out;
}

struct Result {
    double open = 0;  // load and first page, ms
    double mean = 0;  // ms a page
    double worst = 0; // ms, the slowest page
    double jump = 0;  // first line to last, ms
    int pages = 0;
};

void paintNow(SourceEditor& e) {
    e.viewport()->repaint();
    QApplication::processEvents(); // a second paint that the new colours ask for
}

Result run(const QString& path, bool highlighting) {
    Result r;
    SourceEditor e;
    e.setFont(monospacedFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10)));
    e.resize(1000, 800);
    e.setHighlighting(highlighting);
    e.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    QString error;
    if (!e.load(path, &error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(error));
        std::exit(1);
    }
    paintNow(e);
    r.open = static_cast<double>(t.nsecsElapsed()) / 1e6;

    QScrollBar* bar = e.verticalScrollBar();
    double total = 0;
    while (bar->value() < bar->maximum()) {
        t.restart();
        bar->setValue(bar->value() + bar->pageStep());
        paintNow(e);
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        total += ms;
        r.worst = std::max(r.worst, ms);
        ++r.pages;
    }
    r.mean = r.pages ? total / r.pages : 0;

    // A fresh editor: the jump to the last line walks every line before it once.
    SourceEditor j;
    j.setFont(e.font());
    j.resize(1000, 800);
    j.setHighlighting(highlighting);
    j.show();
    j.load(path, &error);
    paintNow(j);
    t.restart();
    j.goToLine(j.document()->blockCount());
    paintNow(j);
    r.jump = static_cast<double>(t.nsecsElapsed()) / 1e6;
    return r;
}

// The median of three runs, field by field.
Result median(std::vector<Result> runs) {
    auto pick = [&runs](double Result::*f) {
        std::vector<double> v;
        for (const Result& r : runs) v.push_back(r.*f);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    Result m;
    m.open = pick(&Result::open);
    m.mean = pick(&Result::mean);
    m.worst = pick(&Result::worst);
    m.jump = pick(&Result::jump);
    m.pages = runs.front().pages;
    return m;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(100, std::atoi(argv[1])) : 60000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.390"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(makeSource(lines)) < 0) return 1;
    }
    std::vector<Result> off, on;
    for (int i = 0; i < 3; ++i) {
        off.push_back(run(path, false));
        on.push_back(run(path, true));
    }
    const Result a = median(off), b = median(on);
    std::printf("Pelda editor, %d-line source, %d pages of %d lines (median of 3 runs)\n", lines,
                b.pages, lines / std::max(b.pages, 1));
    std::printf("%-26s %12s %12s %8s\n", "", "colours off", "colours on", "ratio");
    auto row = [](const char* what, double x, double y) {
        std::printf("%-26s %9.1f ms %9.1f ms %7.2fx\n", what, x, y, x > 0 ? y / x : 0.0);
    };
    row("open and first page", a.open, b.open);
    row("scroll, mean a page", a.mean, b.mean);
    row("scroll, slowest page", a.worst, b.worst);
    row("jump to the last line", a.jump, b.jump);
    std::printf("budget: every page and the jump under 100 ms with colours: %s\n",
                b.worst < 100 && b.jump < 100 ? "met" : "NOT MET");
    return 0;
}
