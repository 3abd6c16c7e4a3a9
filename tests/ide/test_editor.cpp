// The source editor's columns as a user meets them: tab stops and the column count, upper-case
// typing, the ruler and the guides where the text's columns are, the colours given to the lines
// in view, line numbers and Go to Line.
#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "appprofile.h"
#include "highlighter.h"
#include "mainwindow.h"
#include "pelda_test_support.h"
#include "sourceeditor.h"
#include "tabstops.h"

using namespace pelda;

namespace {

// An editor shown at a known size in a monospaced face (one that run.sh installs, or what the
// editor shows in its place).
struct ShownEditor {
    SourceEditor e;
    explicit ShownEditor(const QString& text = {}) {
        e.setFont(monospacedFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10)));
        e.resize(900, 400);
        e.setPlainText(text);
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
    }
    QString line(int n) const { return e.document()->findBlockByNumber(n - 1).text(); }
};

// The text colours that the layout of line n (from 1) was given, by start column.
QMap<int, QColor> coloursOf(const SourceEditor& e, int n) {
    QMap<int, QColor> colours;
    const QTextBlock b = e.document()->findBlockByNumber(n - 1);
    for (const QTextLayout::FormatRange& r : b.layout()->formats())
        colours[r.start + 1] = r.format.foreground().color();
    return colours;
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { peldatest::initApplication(); }

    void tabStopsByBlanks() {
        ShownEditor s("LOOP\n");
        SourceEditor& e = s.e;
        e.moveCursor(QTextCursor::EndOfBlock);
        QCOMPARE(e.caretColumn(), 5);
        const QList<int> expected{10, 16, 36, 72};
        for (int stop : expected) {
            QTest::keyClick(&e, Qt::Key_Tab);
            QCOMPARE(e.caretColumn(), stop);
            QCOMPARE(e.positionText(), QString("Line 1,Col %1").arg(stop));
        }
        QTest::keyClick(&e, Qt::Key_Tab); // past the last stop: nothing happens
        QCOMPARE(e.caretColumn(), 72);
        QCOMPARE(s.line(1), "LOOP" + QString(67, ' '));
        QVERIFY(!e.toPlainText().contains('\t'));
        // Shift+Tab goes back stop by stop, without touching the text.
        for (int stop : {36, 16, 10, 1}) {
            QTest::keyClick(&e, Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(e.caretColumn(), stop);
        }
        QCOMPARE(s.line(1).size(), 71);
        // One Undo takes a Tab back.
        e.undo();
        QCOMPARE(s.line(1), "LOOP" + QString(31, ' '));
    }

    void tabStopsWhileOverwriting() {
        ShownEditor s("A    LR 1,2\nB\n");
        SourceEditor& e = s.e;
        e.setOverwriteMode(true);
        QTest::keyClick(&e, Qt::Key_Tab); // moves over the text of the line
        QCOMPARE(e.caretColumn(), 10);
        QCOMPARE(s.line(1), QString("A    LR 1,2"));
        QTest::keyClick(&e, Qt::Key_Tab); // and pads a line that is shorter
        QCOMPARE(e.caretColumn(), 16);
        QCOMPARE(s.line(1), QString("A    LR 1,2    "));
        // Settable stops; a selection inside a line is replaced like typed text.
        e.setOverwriteMode(false);
        e.setTabStops({4, 8});
        QTextCursor c(e.document()->findBlockByNumber(1));
        e.setTextCursor(c);
        QTest::keyClick(&e, Qt::Key_Tab);
        QCOMPARE(s.line(2), QString("   B"));
        QCOMPARE(e.caretColumn(), 4);
        QTest::keyClick(&e, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&e, Qt::Key_Tab);
        QCOMPARE(s.line(2), QString("       "));
        QCOMPARE(e.caretColumn(), 8);
    }

    void parsingTabStops_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("stops"); // empty: refused
        QTest::newRow("commas") << "10,16,36,72" << QList<int>{10, 16, 36, 72};
        QTest::newRow("blanks and commas") << " 10, 16  40 " << QList<int>{10, 16, 40};
        QTest::newRow("up to 255") << "2,255" << QList<int>{2, 255};
        QTest::newRow("descending") << "16,10" << QList<int>{};
        QTest::newRow("twice") << "10,10" << QList<int>{};
        QTest::newRow("column 1") << "1,10" << QList<int>{};
        QTest::newRow("too far") << "10,256" << QList<int>{};
        QTest::newRow("not a number") << "10,x" << QList<int>{};
        QTest::newRow("empty") << "" << QList<int>{};
    }
    void parsingTabStops() {
        QFETCH(QString, text);
        QFETCH(QList<int>, stops);
        const auto parsed = parseTabStops(text);
        QCOMPARE(parsed.value_or(QList<int>{}), stops);
        if (parsed) QCOMPARE(parseTabStops(formatTabStops(*parsed)), parsed);
    }

    void upperCaseTyping() {
        ShownEditor s;
        SourceEditor& e = s.e;
        e.setUpperCase(true);
        QTest::keyClicks(&e, "loop la r1,=c'x'");
        QCOMPARE(e.toPlainText(), QString("LOOP LA R1,=C'X'"));
        // Keys with Ctrl stay commands: Ctrl+A selects all and nothing is typed.
        QTest::keyClick(&e, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(e.textCursor().selectedText(), QString("LOOP LA R1,=C'X'"));
        e.setUpperCase(false);
        e.moveCursor(QTextCursor::End);
        QTest::keyClicks(&e, " x");
        QVERIFY(e.toPlainText().endsWith(" x"));
    }

    void rulerAndGuidesFollowTheColumns() {
        const QString statement = QString("LOOP     LA    R1,1").leftJustified(71) + "X12345678";
        ShownEditor s(statement + "\n");
        SourceEditor& e = s.e;
        const qreal cw = e.columnWidth();
        QVERIFY(cw > 3);
        // The text's column 72 starts where the editor says columns 72 starts.
        QTextCursor c(e.document()->firstBlock());
        c.setPosition(71);
        QVERIFY(qAbs(e.cursorRect(c).left() - e.columnX(72)) <= 1.0);
        c.setPosition(9);
        QVERIFY(qAbs(e.cursorRect(c).left() - e.columnX(10)) <= 1.0);
        QVERIFY(qAbs(e.columnX(72) - e.columnX(1) - 71 * cw) < 0.01);
        QCOMPARE(ColumnRuler::rulerText(20), QString("----+----1----+----2"));

        // What the user sees: the guides before columns 10, 16 and 72, below the text too.
        QImage shot = e.viewport()->grab().toImage();
        const int y = shot.height() - 5;
        const QRgb background = shot.pixel(e.guideX(12), y);
        for (int column : SourceEditor::guideColumns())
            QVERIFY2(shot.pixel(e.guideX(column), y) != background,
                     qPrintable(QString::number(column)));
        QCOMPARE(shot.pixel(e.guideX(16) + 3, y), background);
        // Columns 73 on are dimmed.
        QVERIFY(qGray(shot.pixel(qRound(e.columnX(75)), y)) < qGray(background));

        // Scrolled to the right, the columns, the guides and the ruler's caret mark move along.
        e.resize(400, 300);
        QApplication::processEvents();
        e.setTextCursor(c); // column 10
        const qreal before = e.columnX(72);
        e.horizontalScrollBar()->setValue(30);
        QApplication::processEvents();
        QVERIFY(qAbs(e.columnX(72) - (before - 30)) < 0.01);
        QVERIFY(qAbs(e.cursorRect().left() - e.columnX(10)) <= 1.0);
        const QImage ruler = e.ruler()->grab().toImage();
        QCOMPARE(QColor(ruler.pixel(qRound(e.columnX(10) + cw / 2), 1)),
                 ColumnRuler::caretMarkColour());
        QVERIFY(QColor(ruler.pixel(qRound(e.columnX(12) + cw / 2), 1)) !=
                ColumnRuler::caretMarkColour());
        // Without the ruler there are no guides either.
        e.setRulerVisible(false);
        QApplication::processEvents();
        QVERIFY(!e.ruler()->isVisible());
        shot = e.viewport()->grab().toImage();
        const int y2 = shot.height() - 5;
        QCOMPARE(shot.pixel(e.guideX(16), y2), shot.pixel(e.guideX(16) + 4, y2));
    }

    void linesInViewGetTheirColours() {
        // A long source: the lines far below get their colours only when they come into view.
        QString text;
        for (int i = 0; i < 3000; ++i) text += "LOOP     LA    R1,=C'X'    remark\n";
        text += QString("         DC    C'").leftJustified(71, 'A') + "X\n";
        text += "               BC'\n";
        ShownEditor s(text);
        SourceEditor& e = s.e;
        AsmHighlighter* h = e.highlighter();
        QApplication::processEvents();
        const QMap<int, QColor> first = coloursOf(e, 1);
        QCOMPARE(first.value(1), h->format(Syntax::Name).foreground().color());
        QCOMPARE(first.value(10), h->format(Syntax::Machine).foreground().color());
        QCOMPARE(first.value(20), h->format(Syntax::String).foreground().color());
        QCOMPARE(first.value(28), h->format(Syntax::Remark).foreground().color());
        QVERIFY(coloursOf(e, 2500).isEmpty());
        // Scrolled to the end: the continued string goes on in the next line.
        e.goToLine(3002);
        e.viewport()->repaint();
        QCOMPARE(coloursOf(e, 2999).value(10), h->format(Syntax::Machine).foreground().color());
        QCOMPARE(coloursOf(e, 3002).value(16), h->format(Syntax::String).foreground().color());
        // Ending the string in the line before changes the next line's colours at once.
        QTextCursor c(e.document()->findBlockByNumber(3000));
        c.setPosition(c.block().position() + 20);
        c.insertText("' ");
        e.viewport()->repaint();
        QCOMPARE(coloursOf(e, 3002).value(16), h->format(Syntax::Remark).foreground().color());
        // Without highlighting the lines lose their colours.
        e.setHighlighting(false);
        e.viewport()->repaint();
        QVERIFY(coloursOf(e, 3002).isEmpty());
        QVERIFY(coloursOf(e, 1).isEmpty());
    }

    void goToLine() {
        peldatest::Install in;
        peldatest::setInstallPath(in.dir.path());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        SourceEditor* e = w.openFile(in.source);
        QVERIFY(e);
        peldatest::Messages m;
        QList<std::pair<int, int>> asked;
        int answer = 7;
        prompts().goToLine = [&](QWidget*, int current, int last) {
            asked << std::pair{current, last};
            return answer;
        };
        QTest::keyClick(e, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(asked, (QList<std::pair<int, int>>{{1, 11}}));
        QCOMPARE(e->caretLine(), 7);
        QCOMPARE(w.positionText(), QString("Line 7,Col 1"));
        answer = 0; // cancelled
        QTest::keyClick(e, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(e->caretLine(), 7);
    }
};

QTEST_MAIN(EditorTest)
#include "test_editor.moc"
