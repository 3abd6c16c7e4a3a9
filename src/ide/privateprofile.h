// An initialisation file read and written the way the Windows private-profile calls do it.
//
//   ; comment
//   [GeneralTab]
//   bIDR=0
//   szIDR="MYPROG 1.0"
//
// Section and key names compare case-insensitively (ASCII). A value is the text after the first
// '=', with spaces and tabs trimmed and one pair of matching surrounding quotes (' or ")
// removed; nothing else is interpreted, so backslashes, commas and semicolons come back as they
// were written. A missing key reads as the empty string. A read value holds at most
// kValueBufferSize - 1 bytes, like the fixed buffer of the original calls.
//
// Writing replaces the first matching key line in place, or appends the key at the end of its
// section, or appends a new section at the end of the file. Every other byte of the file
// (comments, blank lines, other sections, the case of names, CRLF line ends) is kept. The file
// is saved whole through a temporary file, so a failed save leaves the old file untouched.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace pelda {

class PrivateProfile {
  public:
    // The value buffer of the original calls: 1999 characters including the terminating NUL.
    static constexpr int kValueBufferSize = 1999;

    PrivateProfile() = default;
    explicit PrivateProfile(QString path) : path_(std::move(path)) {}

    // Reads the file. A file that does not exist gives an empty profile and true; any other
    // failure returns false with the reason in errorString().
    bool load();
    // Reads from memory (for files already read, and for tests).
    void loadFromData(const QByteArray& data);

    // The value of key in section, or "" when the section or key is missing.
    QString value(const QString& section, const QString& key) const;
    bool contains(const QString& section, const QString& key) const;

    // Sets key in section in memory; save() writes it out.
    void setValue(const QString& section, const QString& key, const QString& value);

    // Writes the whole file: temporary file in the same folder, then rename over the target.
    bool save();

    QByteArray data() const;
    QString path() const { return path_; }
    QString errorString() const { return error_; }

    // The Win32-style one-call forms: each opens the file, reads or writes one key, and closes.
    static QString readString(const QString& file, const QString& section, const QString& key);
    static bool writeString(const QString& file, const QString& section, const QString& key,
                            const QString& value, QString* error = nullptr);

  private:
    struct Line {
        QByteArray text; // the line as it stands in the file, without its line end
        QByteArray eol;  // "\r\n", "\n" or "" (the last line of a file without a final newline)
    };

    // Index of the header line of the first section named section, or -1.
    int findSection(const QByteArray& section) const;
    // Index of the first line of key inside the section whose header is at header, or -1.
    int findKey(int header, const QByteArray& key) const;
    // One past the last non-blank line of the section whose header is at header.
    int sectionInsertPoint(int header) const;
    QByteArray newLineEnd() const;

    QString path_;
    QString error_;
    QList<Line> lines_;
};

} // namespace pelda
