#include "privateprofile.h"

#include <QFile>
#include <QSaveFile>

namespace pelda {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The bytes with leading and trailing spaces and tabs removed.
QByteArray trimmed(const QByteArray& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.mid(b, e - b);
}

bool sameName(const QByteArray& a, const QByteArray& b) {
    return a.size() == b.size() && qstrnicmp(a.constData(), b.constData(), a.size()) == 0;
}

// The section name of a header line "[name]", or a null array when the line is no header.
QByteArray headerName(const QByteArray& line) {
    QByteArray t = trimmed(line);
    if (!t.startsWith('[')) return {};
    qsizetype close = t.indexOf(']');
    QByteArray name = t.mid(1, close < 0 ? -1 : close - 1);
    name = trimmed(name);
    if (name.isNull()) name = QByteArray("");
    return name;
}

bool isComment(const QByteArray& line) {
    QByteArray t = trimmed(line);
    return t.startsWith(';');
}

// Splits "key = value" into its trimmed key; false for lines without '='.
bool keyOf(const QByteArray& line, QByteArray* key) {
    if (isComment(line)) return false;
    qsizetype eq = line.indexOf('=');
    if (eq < 0) return false;
    *key = trimmed(line.left(eq));
    return true;
}

// Cuts a value to the read buffer without splitting a UTF-8 sequence.
QByteArray cutToBuffer(QByteArray v) {
    const qsizetype max = PrivateProfile::kValueBufferSize - 1;
    if (v.size() <= max) return v;
    qsizetype n = max;
    // Back off over continuation bytes so that a multi-byte character is dropped whole.
    while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
    v.truncate(n);
    return v;
}

} // namespace

bool PrivateProfile::load() {
    error_.clear();
    lines_.clear();
    QFile f(path_);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) {
        error_ = f.errorString();
        return false;
    }
    loadFromData(f.readAll());
    return true;
}

void PrivateProfile::loadFromData(const QByteArray& data) {
    lines_.clear();
    qsizetype pos = 0;
    while (pos < data.size()) {
        qsizetype nl = data.indexOf('\n', pos);
        Line line;
        if (nl < 0) {
            line.text = data.mid(pos);
            pos = data.size();
        } else {
            qsizetype end = nl;
            if (end > pos && data[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = data.mid(pos, end - pos);
            pos = nl + 1;
        }
        lines_.append(line);
    }
}

QByteArray PrivateProfile::data() const {
    QByteArray out;
    for (const Line& l : lines_) out += l.text + l.eol;
    return out;
}

int PrivateProfile::findSection(const QByteArray& section) const {
    for (int i = 0; i < lines_.size(); ++i) {
        QByteArray name = headerName(lines_[i].text);
        if (!name.isNull() && sameName(name, section)) return i;
    }
    return -1;
}

int PrivateProfile::findKey(int header, const QByteArray& key) const {
    for (int i = header + 1; i < lines_.size(); ++i) {
        if (!headerName(lines_[i].text).isNull()) break;
        QByteArray k;
        if (keyOf(lines_[i].text, &k) && sameName(k, key)) return i;
    }
    return -1;
}

int PrivateProfile::sectionInsertPoint(int header) const {
    int last = header;
    for (int i = header + 1; i < lines_.size(); ++i) {
        if (!headerName(lines_[i].text).isNull()) break;
        if (!trimmed(lines_[i].text).isEmpty()) last = i;
    }
    return last + 1;
}

QByteArray PrivateProfile::newLineEnd() const {
    // A file written on Windows keeps its CRLF line ends; a new file gets the local "\n".
    for (const Line& l : lines_)
        if (!l.eol.isEmpty()) return l.eol;
    return "\n";
}

bool PrivateProfile::contains(const QString& section, const QString& key) const {
    int h = findSection(section.toLocal8Bit());
    return h >= 0 && findKey(h, key.toLocal8Bit()) >= 0;
}

QString PrivateProfile::value(const QString& section, const QString& key) const {
    int h = findSection(section.toLocal8Bit());
    if (h < 0) return QString();
    int k = findKey(h, key.toLocal8Bit());
    if (k < 0) return QString();
    const QByteArray& text = lines_[k].text;
    QByteArray v = trimmed(text.mid(text.indexOf('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return QString::fromLocal8Bit(cutToBuffer(v));
}

void PrivateProfile::setValue(const QString& section, const QString& key, const QString& value) {
    const QByteArray sec = section.toLocal8Bit();
    const QByteArray k = key.toLocal8Bit();
    const QByteArray entry = k + '=' + value.toLocal8Bit();
    const QByteArray eol = newLineEnd();
    int h = findSection(sec);
    if (h < 0) {
        // A last line without a line end gets one before the new section is appended.
        if (!lines_.isEmpty() && lines_.back().eol.isEmpty()) lines_.back().eol = eol;
        lines_.append({'[' + sec + ']', eol});
        lines_.append({entry, eol});
        return;
    }
    int at = findKey(h, k);
    if (at >= 0) {
        lines_[at].text = entry;
        return;
    }
    int ins = sectionInsertPoint(h);
    if (ins == lines_.size() && lines_.back().eol.isEmpty()) lines_.back().eol = eol;
    lines_.insert(ins, {entry, eol});
}

bool PrivateProfile::save() {
    error_.clear();
    QSaveFile f(path_);
    if (!f.open(QIODevice::WriteOnly)) {
        error_ = f.errorString();
        return false;
    }
    const QByteArray bytes = data();
    if (f.write(bytes) != bytes.size() || !f.commit()) {
        error_ = f.errorString();
        return false;
    }
    return true;
}

QString PrivateProfile::readString(const QString& file, const QString& section,
                                   const QString& key) {
    PrivateProfile p(file);
    p.load();
    return p.value(section, key);
}

bool PrivateProfile::writeString(const QString& file, const QString& section, const QString& key,
                                 const QString& value, QString* error) {
    PrivateProfile p(file);
    bool ok = p.load();
    if (ok) {
        p.setValue(section, key, value);
        ok = p.save();
    }
    if (!ok && error) *error = p.errorString();
    return ok;
}

} // namespace pelda
