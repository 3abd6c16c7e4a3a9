// The application's own profile: installation directory, edit window width, editor font, the
// tip of the day's place and the recent files. It is kept with QSettings (the registry on
// Windows, ~/.config/opxkit/Pelda.conf here). The keys of the "General" section are top-level
// keys, which QSettings files under [General]; a group named "General" would come out as
// "[%General]".
#pragma once

#include <QFont>
#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>

namespace pelda {

// The editor font as the profile keeps it: the character height is 1.5 times the point size.
struct EditorFont {
    QString face = QStringLiteral("Courier New");
    int height = 15; // 10 points
    int weight = 400;
    bool italic = false;

    // The font as chosen: face, size, weight and slant, whether the machine has the face or not.
    QFont toFont() const;
    // The font the editor shows: the chosen one when it resolves to a monospaced face, else a
    // monospaced face of the machine at the chosen size and weight (see monospacedFont).
    QFont shownFont() const;
    static EditorFont fromFont(const QFont& font, bool* tooBig = nullptr);
};

// wanted when the machine resolves it to a fixed-pitch face; otherwise the system's fixed font,
// or failing that the first fixed-pitch family the machine has, with wanted's size, weight and
// slant. Column-bound source must never be shown in a proportional face, and the face a name
// resolves to depends on which fonts a machine happens to have: "Courier New" may come out as a
// proportional face that claims the name, or as whatever the font matcher likes best.
QFont monospacedFont(const QFont& wanted);

// The largest character height, 12 points.
inline constexpr int kMaxFontHeight = 18;

// The character height for a point size: 0.15 times the size in tenths of a point, at most
// kMaxFontHeight; tooBig tells when the size had to be cut.
int fontHeightForPointSize(double pointSize, bool* tooBig = nullptr);
double pointSizeForHeight(int height);
QString fontTooBigMessage();

class AppProfile {
  public:
    AppProfile() = default;

    // "Path": the installation directory, or defaultInstallPath() when it is not set.
    QString installPath() const;
    void setInstallPath(const QString& path);
    // The installation directory when the profile names none: the toolkit's data folder of an
    // installation (P/share/opxkit, which holds the tips and the help pages) when the editor
    // in programDir (P/bin) belongs to one, else "." (the current directory).
    static QString defaultInstallPath(const QString& programDir);
    // The options file QCONFIG.INI of an installation directory. An installed data folder is
    // not the user's to write (/usr/share/opxkit): when installDir cannot be written, the
    // user's own QCONFIG.INI in userDir (the profile's folder, made when missing) is used.
    static QString optionsFilePath(const QString& installDir, const QString& userDir);
    // The folder of the profile file (~/.config/opxkit).
    QString profileFolder() const;
    int editWidth() const;
    void setEditWidth(int columns);
    EditorFont editorFont() const;
    void setEditorFont(const EditorFont& font);

    bool tipAtStartUp() const;
    void setTipAtStartUp(bool on);
    qint64 tipFilePos() const;
    void setTipFilePos(qint64 pos);
    QString tipTimeStamp() const;
    void setTipTimeStamp(const QString& stamp);

    // The editor's own settings, beside the ones above: the assembler tab stops
    // ("TabStops=10, 16, 36, 72") and the View menu's switches ("UpperCase", "LineNumbers",
    // "Ruler", "Highlighting", each 0 or 1).
    QList<int> tabStops() const;
    void setTabStops(const QList<int>& stops);
    bool viewOption(const QString& key, bool byDefault) const;
    void setViewOption(const QString& key, bool on);

    QStringList recentFiles() const;
    void setRecentFiles(const QStringList& files);

    void sync() { settings_.sync(); }

  private:
    QSettings settings_;
};

} // namespace pelda
