// The statement classifier and the table of operation codes: what each column of a statement
// is, one table row per kind of statement, with continuation lines and macro definitions.
#include <QTest>

#include "asmsyntax.h"
#include "mnemonics.h"

using namespace pelda;

namespace {

// A line padded to column 71, then the continuation column and the sequence field.
QString card(const QString& statement, QChar continuation = ' ', const QString& sequence = {}) {
    return statement.leftJustified(kLastStatementColumn, ' ', true) + continuation + sequence;
}

// An expected classification written as runs: a letter and a count each, "_" for columns that
// belong to no span. * comment, N name, M machine, A assembler, C macro call, P prototype,
// o operand, S string, T term, V variable, r remark, K continuation, Q sequence.
QString runs(const QString& layout) {
    QString mask;
    for (const QString& run : layout.split(' ', Qt::SkipEmptyParts))
        mask += QString(run.mid(1).toInt(), run[0] == '_' ? ' ' : run[0]);
    return mask;
}

QString maskOf(const QString& line, const QList<SyntaxSpan>& spans) {
    static const char letters[] = "*NMACPoSTVrKQ";
    QString mask(line.size(), ' ');
    for (const SyntaxSpan& s : spans)
        for (int i = s.start; i < s.start + s.length && i < mask.size(); ++i)
            mask[i] = QLatin1Char(letters[static_cast<int>(s.syntax)]);
    // Blanks inside a span show as the span's letter; blanks outside show as blanks.
    return mask;
}

} // namespace

class SyntaxTest : public QObject {
    Q_OBJECT
  private slots:
    void statements_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("masks");
        auto row = [](const char* name, QStringList lines, QStringList specs) {
            QStringList masks;
            for (const QString& s : specs) masks << runs(s);
            QTest::newRow(name) << lines << masks;
        };
        row("comment statements", {"* a comment, LA 1,2 'not a string'", ".* a macro comment"},
            {"*34", "*18"});
        row("machine instruction with a remark", {"LOOP     A     R4,0(,R2)    add one entry"},
            {"N4 _5 M1 _5 o3 T1 o5 _4 r13"});
        row("lower case", {"loop     la    r1,1"}, {"N4 _5 M2 _4 o3 T1"});
        row("extended mnemonics",
            {"         JNE   LOOP", "         LOCGRNZ 1,2", "         BHR 14"},
            {"_9 M3 _3 o4", "_9 M7 _1 T1 o1 T1", "_9 M3 _1 T2"});
        row("constants and strings", {"MSG      DC    C'It''s',CL8'A B',X'FF',4F'0',=H'2'"},
            {"N3 _6 A2 _4 S8 o1 S8 o1 T5 o1 T5 o2 T4"});
        row("a literal and an attribute reference",
            {"         L     R1,=F'1'", "         LA    R1,L'FIELD",
             "         DC    AL1(L'FIELD),C'L'"},
            {"_9 M1 _5 o4 T4", "_9 M2 _4 o10", "_9 A2 _4 o13 S4"});
        row("macro call", {"         SAVE  (14,12),,*"}, {"_9 C4 _2 o1 T2 o1 T2 o4"});
        row("no operands: the rest is a remark", {"         LTORG literal pool"}, {"_9 A5 _1 r12"});
        row("process statement", {"*PROCESS RENT"}, {"A8 _1 o4"});
        row("conditional assembly",
            {".SKIP    ANOP", "         AIF   (T'&P EQ 'O').SKIP   none given",
             "&N       SETC  '&SYSNDX'"},
            {"N5 _4 A4", "_9 A3 _3 o3 V2 o4 S3 o6 _3 r10", "V2 _7 A4 _2 S1 V7 S1"});
        row("macro definition",
            {"         MACRO", "* header comment", "&LABEL   SAVEREGS &REGS",
             "&LABEL   STM   &REGS,12(13)", "         &OP   1,2", "         MEND",
             "         SAVEREGS 14"},
            {"_9 A5", "*16", "V6 _3 P8 _1 V5", "V6 _3 M3 _3 V5 o1 T2 o1 T2 o1", "_9 V3 _3 T1 o1 T1",
             "_9 A4", "_9 C8 _1 T2"});
        row("sequence field",
            {card("         BR    14", ' ', "SEQ00010"), card("* comment", ' ', "00000020")},
            {"_9 M2 _4 T2 _55 Q8", "*71 _1 Q8"});
        row("string continued",
            {card("         DC    C'" + QString(54, 'A'), 'X', "00000010"),
             "               BC',F'1' end"},
            {"_9 A2 _4 S56 K1 Q8", "_15 S3 o1 T4 _1 r3"});
        row("term continued",
            {card("         DC    X'" + QString(54, 'F'), '*'), "               FF'"},
            {"_9 A2 _4 T56 K1", "_15 T3"});
        row("operands continued after a comma",
            {card("         CALL  SUB,(A,B),   first part", 'X'), "               VL    last",
             "         BR    14"},
            {"_9 C4 _2 o10 _3 r43 K1", "_15 o2 _4 r4", "_9 M2 _4 T2"});
        row("remark continued",
            {card("         LR    1,2      this remark goes on", 'X'),
             "               and ends here"},
            {"_9 M2 _4 T1 o1 T1 _6 r47 K1", "_15 r13"});
        row("comment continued", {card("* a comment", 'X'), "               still a comment"},
            {"*71 K1", "_15 *15"});
    }
    void statements() {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, masks);
        int state = kStartState;
        QList<SyntaxSpan> spans;
        for (int i = 0; i < lines.size(); ++i) {
            state = classifyLine(lines[i], state, &spans);
            QCOMPARE(maskOf(lines[i], spans), masks[i].leftJustified(lines[i].size()));
            // Spans come in order and never overlap.
            for (int k = 1; k < spans.size(); ++k)
                QVERIFY(spans[k].start >= spans[k - 1].start + spans[k - 1].length);
        }
    }

    void stateWithoutSpansIsTheSame() {
        // Every line after every other: the state alone comes out as with the spans.
        const QStringList lines{card("         DC    C'" + QString(54, 'A'), 'X'),
                                card("         CALL  A,   x", 'X'),
                                card("         LR    1,2   more", 'X'),
                                card("* comment", 'X'),
                                "         MACRO",
                                "  macro",
                                "&L       MYMAC &P",
                                "         &OP   1",
                                "* comment",
                                ".* comment",
                                "*PROCESS RENT",
                                "",
                                "   ",
                                "X        MYMAC",
                                "               BC'",
                                card("         LR    1,2", ' ', "SEQ00010")};
        QList<SyntaxSpan> spans;
        for (const QString& before : lines) {
            for (int after = 0; after < 2; ++after) {
                // The line before, itself after a MACRO statement or not.
                const int first =
                    after ? classifyLine(u"         MACRO", kStartState, nullptr) : kStartState;
                const int state = classifyLine(before, first, nullptr);
                for (const QString& line : lines)
                    QVERIFY2(classifyLine(line, state, &spans) ==
                                 classifyLine(line, state, nullptr),
                             qPrintable(before + " / " + line));
            }
        }
    }

    void operationTable_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("kind");
        const int machine = int(OpKind::Machine), assembler = int(OpKind::Assembler),
                  macro = int(OpKind::Macro);
        for (const char* m :
             {"A",      "AGHIK",  "BRASL", "CLGIJNE", "CRJH",   "DSGFR", "EXRL", "ICM",
              "JLNZ",   "JGE",    "LARL",  "LLGT",    "LOCRNE", "MVCLE", "NILL", "OIHF",
              "POPCNT", "RISBGN", "SLLG",  "STMG",    "SVC",    "TMLL",  "TRTR", "XC",
              "ZAP",    "NOP",    "NOPR",  "BNZR",    "BZ",     "LDR",   "SSCH", "lr"})
            QTest::addRow("%s", m) << m << machine;
        for (const char* a :
             {"ACONTROL", "ADATA",  "AINSERT", "ALIAS", "AMODE", "CATTR", "CCW",   "CCW0",
              "CCW1",     "CEJECT", "CNOP",    "COM",   "COPY",  "CSECT", "CXD",   "DC",
              "DROP",     "DS",     "DSECT",   "DXD",   "EJECT", "END",   "ENTRY", "EQU",
              "EXITCTL",  "EXTRN",  "ICTL",    "ISEQ",  "LOCTR", "LTORG", "MNOTE", "OPSYN",
              "ORG",      "POP",    "PRINT",   "PUNCH", "PUSH",  "REPRO", "RMODE", "RSECT",
              "SPACE",    "START",  "TITLE",   "USING", "WXTRN", "XATTR", "MACRO", "MEND",
              "MEXIT",    "ACTR",   "AEJECT",  "AGO",   "AIF",   "ANOP",  "AREAD", "ASPACE",
              "GBLA",     "GBLB",   "GBLC",    "LCLA",  "LCLB",  "LCLC",  "MHELP", "SETA",
              "SETB",     "SETC",   "SETAF",   "SETCF", "Using"})
            QTest::addRow("%s", a) << a << assembler;
        for (const char* c :
             {"SAVE", "RETURN", "GETMAIN", "WTO", "YREGS", "LRX", "", "ÄB", "AVERYLONGNAME"})
            QTest::addRow("macro %s", c) << QString::fromUtf8(c) << macro;
    }
    void operationTable() {
        QFETCH(QString, op);
        QFETCH(int, kind);
        QCOMPARE(int(lookupOperation(op).kind), kind);
    }
};

QTEST_GUILESS_MAIN(SyntaxTest)
#include "test_syntax.moc"
