#include "xmitfile.h"

#include <QDir>

#include "connections.h"
#include "opx.h"

namespace opxwin {

// ---- SourceFile -----------------------------------------------------------------------------

QString SourceFile::toString() const {
    if (!sDsName.isEmpty()) return sDsName;
    if (isMessage()) return QStringLiteral("Message");
    return QStringLiteral("NoDsName");
}

// ---- directory lines ------------------------------------------------------------------------

QString column(const QString& line, int from, int to) {
    if (from >= line.size()) return QString();
    const int end = to < 0 || to > line.size() ? static_cast<int>(line.size()) : to;
    return line.mid(from, end - from).trimmed();
}

namespace {

// A number of the given base, or -1 when the text is empty or does not parse.
int number(const QString& text, int base) {
    bool ok = false;
    const int v = text.toInt(&ok, base);
    return ok && v >= 0 ? v : -1;
}

} // namespace

SourceMember::SourceMember(SourceFile* owner, int memberNumber, const std::optional<QString>& line)
    : sourceFile(owner), iMemberNumber(memberNumber) {
    if (!line) return;
    hasLine_ = true;
    sDirEntry = *line;
    sMemberName = column(sDirEntry, 0, 8);
    if (sDirEntry.size() > 10 && sDirEntry.at(10) != QLatin1Char(' '))
        sAliasOf = column(sDirEntry, 10, 18);
}

void SourceMember::parseModule() const {
    if (moduleParsed_) return;
    moduleParsed_ = true;
    iModuleSize = number(column(sDirEntry, 20, 26), 16);
    iModuleEntry = number(column(sDirEntry, 28, 34), 16);
    sModuleAmode = column(sDirEntry, 37, 40);
    sModuleRmode = column(sDirEntry, 44, 47);
    iModuleAC = number(column(sDirEntry, 49, 52), 10);
    sModuleAttrs = column(sDirEntry, 54, -1);
}

void SourceMember::parseIspf() const {
    if (ispfParsed_) return;
    ispfParsed_ = true;
    sIspfVerMod = column(sDirEntry, 20, 27);
    const qsizetype dot = sIspfVerMod.indexOf(QLatin1Char('.'));
    if (dot > 0) {
        iIspfVersion = number(sIspfVerMod.left(dot), 10);
        iIspfModLevel = number(sIspfVerMod.mid(dot + 1), 10);
    }
    sIspfCreated = column(sDirEntry, 29, 40);
    sIspfChanged = column(sDirEntry, 41, 58);
    sIspfUser = column(sDirEntry, 59, -1);
}

int SourceMember::moduleSize() const {
    parseModule();
    return iModuleSize;
}
int SourceMember::moduleEntry() const {
    parseModule();
    return iModuleEntry;
}

namespace {
QString hex6(int v) {
    return QStringLiteral("%1").arg(v < 0 ? 0 : v, 6, 16, QLatin1Char('0')).toUpper();
}
} // namespace

QString SourceMember::moduleSizeText() const {
    return hex6(moduleSize());
}
QString SourceMember::moduleEntryText() const {
    return hex6(moduleEntry());
}
QString SourceMember::moduleAmode() const {
    parseModule();
    return sModuleAmode;
}
QString SourceMember::moduleRmode() const {
    parseModule();
    return sModuleRmode;
}
int SourceMember::moduleAC() const {
    parseModule();
    return iModuleAC;
}
QString SourceMember::moduleACText() const {
    const int ac = moduleAC();
    return ac < 0 ? QStringLiteral("   ") : QStringLiteral("%1").arg(ac, 3);
}
QString SourceMember::moduleAttrs() const {
    parseModule();
    return sModuleAttrs;
}
QString SourceMember::ispfVerMod() const {
    parseIspf();
    return sIspfVerMod;
}
int SourceMember::ispfVersion() const {
    parseIspf();
    return iIspfVersion;
}
int SourceMember::ispfModLevel() const {
    parseIspf();
    return iIspfModLevel;
}
QString SourceMember::ispfCreated() const {
    parseIspf();
    return sIspfCreated;
}
QString SourceMember::ispfChanged() const {
    parseIspf();
    return sIspfChanged;
}
QString SourceMember::ispfUser() const {
    parseIspf();
    return sIspfUser;
}

// ---- XmitFile -------------------------------------------------------------------------------

XmitFile::XmitFile(const QString& dir, const QString& name)
    : info_(dir.isEmpty() ? QFileInfo(name) : QFileInfo(QDir(dir), name)) {
    sPathName = canonicalPath();
}

XmitFile::~XmitFile() {
    close();
}

QString XmitFile::canonicalPath() const {
    const QString canonical = info_.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info_.absoluteFilePath()) : canonical;
}

QString XmitFile::open(OpxConnection* connection) {
    close();
    sPathName = canonicalPath();
    opxConn = connection;
    const QString message = connection->open(this, sPathName);
    if (!message.isEmpty()) {
        // Whatever the bridge described before it failed is dropped with the handle.
        close();
        return message;
    }
    return QString();
}

void XmitFile::close() {
    if (lHandle != -1 && opxConn != nullptr) opxConn->close(lHandle);
    lHandle = -1;
    opxConn = nullptr;
    dateExported = QDateTime();
    sNodeOrigin.clear();
    sUserOrigin.clear();
    sourceFiles.clear();
}

OpxFileSink XmitFile::sinkFor(XmitFile* file) {
    OpxFileSink sink{};
    sink.context = file;
    sink.init = [](void* c, int64_t handle, int count, const char* time, const char* node,
                   const char* user) {
        static_cast<XmitFile*>(c)->init(handle, count, time, node, user);
    };
    sink.addMessage = [](void* c, int n, int encrypted, const char* text) {
        static_cast<XmitFile*>(c)->addMessage(n, encrypted != 0, text);
    };
    sink.addSequential = [](void* c, int n, int encrypted, int sequential, int lrecl, int blksize,
                            const char* recfm, const char* dsname) {
        static_cast<XmitFile*>(c)->addSequential(n, encrypted != 0, sequential != 0, lrecl, blksize,
                                                 recfm, dsname);
    };
    sink.addPartitioned = [](void* c, int n, int encrypted, int unsupported, int loadLibrary,
                             int members, int lrecl, int blksize, const char* recfm,
                             const char* dsname) {
        static_cast<XmitFile*>(c)->addPartitioned(n, encrypted != 0, unsupported != 0,
                                                  loadLibrary != 0, members, lrecl, blksize, recfm,
                                                  dsname);
    };
    return sink;
}

void XmitFile::init(qint64 handle, int dataSets, const char* exportTime, const char* node,
                    const char* user) {
    lHandle = handle;
    sNodeOrigin = fromCore(node);
    sUserOrigin = fromCore(user);
    sourceFiles.clear();
    if (dataSets >= 1) sourceFiles.resize(static_cast<size_t>(dataSets));
    if (exportTime != nullptr) {
        const QString text = fromCore(exportTime).left(14);
        dateExported = QDateTime::fromString(text, QStringLiteral("yyyyMMddhhmmss"));
    }
}

SourceFile* XmitFile::newSourceFile(int fileNumber) {
    if (fileNumber < 0 || static_cast<size_t>(fileNumber) >= sourceFiles.size() ||
        sourceFiles[static_cast<size_t>(fileNumber)])
        return nullptr;
    auto& slot = sourceFiles[static_cast<size_t>(fileNumber)];
    slot = std::make_unique<SourceFile>(this, fileNumber);
    return slot.get();
}

void XmitFile::addMessage(int fileNumber, bool encrypted, const char* text) {
    SourceFile* f = newSourceFile(fileNumber);
    if (f == nullptr) return;
    f->bIsEncrypted = encrypted;
    f->sMessage = fromCore(text);
    f->bIsExtractable = false;
}

void XmitFile::addSequential(int fileNumber, bool encrypted, bool sequential, int lrecl,
                             int blksize, const char* recfm, const char* dsname) {
    SourceFile* f = newSourceFile(fileNumber);
    if (f == nullptr) return;
    f->bIsEncrypted = encrypted;
    f->bIsSequential = sequential;
    f->iLrecl = lrecl;
    f->iBlksize = blksize;
    f->sRecfm = fromCore(recfm);
    f->sDsName = fromCore(dsname);
    f->bIsExtractable = sequential && !encrypted;
}

void XmitFile::addPartitioned(int fileNumber, bool encrypted, bool unsupported, bool loadLibrary,
                              int members, int lrecl, int blksize, const char* recfm,
                              const char* dsname) {
    SourceFile* f = newSourceFile(fileNumber);
    if (f == nullptr) return;
    f->bIsEncrypted = encrypted;
    f->bIsLoadLib = loadLibrary;
    f->iMembers = members < 0 ? 0 : members;
    f->iLrecl = lrecl;
    f->iBlksize = blksize;
    f->sRecfm = fromCore(recfm);
    f->sDsName = fromCore(dsname);
    f->bIsExtractable = !unsupported;
}

} // namespace opxwin
