// The editor shows source in a monospaced face whatever fonts the machine has. ctest runs this
// test twice: once with the machine's fonts as they are, and once with an extra font folder of
// the test's own in which a proportional face answers to "Courier New" (the profile's default
// face) and to the generic "monospace", as on machines where another package claims those
// names. Both runs assert what the user sees: every character of the editor as wide as the
// next, at the size and weight chosen, while the profile keeps the face the user chose.
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include "appprofile.h"
#include "mainwindow.h"
#include "outputwindow.h"
#include "pelda_test_support.h"
#include "preferencesdialog.h"
#include "sourceeditor.h"

using namespace pelda;

namespace {

// Set in the run with the extra font folder.
bool gExtraFonts = false;
QString gSetupError;

// A font configuration that reads the machine's own, adds folder (holding a copy of a
// proportional face) and names that copy "Courier New"; "monospace" then prefers it too.
QByteArray extraFontConfig(const QString& folder, const QString& cache) {
    return QStringLiteral(R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <cachedir>%2</cachedir>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <dir>%1</dir>
  <match target="scan">
    <test name="file" compare="contains"><string>%1/</string></test>
    <edit name="family" mode="assign_replace"><string>Courier New</string></edit>
  </match>
  <match target="pattern">
    <test name="family"><string>monospace</string></test>
    <edit name="family" mode="prepend" binding="strong"><string>Courier New</string></edit>
  </match>
</fontconfig>
)")
        .arg(folder, cache)
        .toUtf8();
}

// Prepares the extra font folder and points the font configuration at it; must run before the
// application object is made.
void setUpExtraFonts(const QTemporaryDir& dir) {
    const QString face = QStringLiteral(PELDA_PROPORTIONAL_FONT);
    const QString folder = dir.filePath(QStringLiteral("fonts"));
    QDir().mkpath(folder);
    if (!QFile::copy(face, folder + QStringLiteral("/proportional.ttf"))) {
        gSetupError =
            QStringLiteral("cannot copy %1 (run.sh installs it with fonts-dejavu-core)").arg(face);
        return;
    }
    const QString conf = dir.filePath(QStringLiteral("fonts.conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(extraFontConfig(folder, dir.filePath(QStringLiteral("cache")))) < 0) {
        gSetupError = QStringLiteral("cannot write ") + conf;
        return;
    }
    f.close();
    qputenv("FONTCONFIG_FILE", QFile::encodeName(conf));
}

// True when every character of text has the same advance in font.
bool evenAdvances(const QFont& font, const QString& text) {
    const QFontMetricsF fm(font);
    const qreal first = fm.horizontalAdvance(text.front());
    for (QChar c : text)
        if (fm.horizontalAdvance(c) != first) return false;
    return true;
}

const QString kSample = QStringLiteral("iIl.,' MW@m_#&0");

} // namespace

class FontTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        peldatest::initApplication();
        if (!gSetupError.isEmpty()) QFAIL(qPrintable(gSetupError));
        if (gExtraFonts) {
            // The run is worth something only when the names do resolve to a proportional face.
            const QFontInfo courier{QFont(QStringLiteral("Courier New"))};
            QCOMPARE(courier.family(), QString("Courier New"));
            QVERIFY(!courier.fixedPitch());
            QVERIFY(!evenAdvances(QFont(QStringLiteral("Courier New")), kSample));
            QVERIFY(!QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).fixedPitch());
        }
    }

    void editorShowsAMonospacedFace_data() {
        QTest::addColumn<QString>("face");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("weight");
        QTest::addColumn<bool>("italic");
        QTest::newRow("default face") << "Courier New" << 15 << 400 << false;
        QTest::newRow("bold, 12 pt") << "Courier New" << 18 << 700 << false;
        QTest::newRow("italic, 8 pt") << "Courier New" << 12 << 400 << true;
        QTest::newRow("a proportional face") << "DejaVu Sans" << 15 << 400 << false;
        QTest::newRow("a face no machine has") << "No Such Face Q7" << 15 << 700 << false;
        QTest::newRow("a monospaced face") << "DejaVu Sans Mono" << 15 << 400 << false;
    }
    void editorShowsAMonospacedFace() {
        QFETCH(QString, face);
        QFETCH(int, height);
        QFETCH(int, weight);
        QFETCH(bool, italic);
        peldatest::Install in;
        peldatest::setInstallPath(in.dir.path());
        EditorFont chosen;
        chosen.face = face;
        chosen.height = height;
        chosen.weight = weight;
        chosen.italic = italic;
        {
            AppProfile profile;
            profile.setEditorFont(chosen);
            profile.sync();
        }
        MainWindow w;
        SourceEditor* e = w.openFile(in.source);
        QVERIFY(e);
        const QFont shown = e->font();
        QVERIFY2(evenAdvances(shown, kSample), qPrintable(QFontInfo(shown).family()));
        QVERIFY(QFontInfo(shown).fixedPitch());
        QCOMPARE(shown.pointSizeF(), height / 1.5);
        QCOMPARE(shown.weight(), weight);
        QCOMPARE(QFontInfo(shown).italic(), italic);
        // A face that is itself monospaced is shown as it is.
        if (QFontDatabase::isFixedPitch(face)) QCOMPARE(QFontInfo(shown).family(), face);

        // The settings page names the chosen face and the one shown in its place.
        SettingsPage page;
        page.load(w.profile());
        const QString label = page.findChild<QLabel*>(QStringLiteral("fontLabel"))->text();
        QVERIFY2(label.startsWith(face + ", "), qPrintable(label));
        QCOMPARE(label.contains(" (shown as "), QFontInfo(shown).family() != face);
        // The profile keeps the user's choice, not the stand-in.
        QCOMPARE(w.profile().editorFont().face, face);
    }

    void outputWindowIsMonospaced() {
        OutputWindow out(QStringLiteral("/tmp/x.390"), QStringLiteral("/nonexistent/e"),
                         QStringLiteral("/nonexistent/m"));
        QVERIFY(evenAdvances(out.list()->font(), kSample));
    }
};

int main(int argc, char** argv) {
    QTemporaryDir fontDir;
    gExtraFonts = qEnvironmentVariable("PELDA_TEST_FONTS") == QLatin1String("extra");
    if (gExtraFonts) setUpExtraFonts(fontDir);
    QApplication app(argc, argv);
    FontTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_fonts.moc"
