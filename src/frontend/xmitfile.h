// An opened transmit file as the program sees it: the file, its data sets, and the members of
// a partitioned data set built from the directory lines that the bridge formats.
//
// A directory line has one of two layouts (columns counted from 0):
//
//   Member    Alias of  Size    Entry   AMODE  RMODE  AC  ------Attributes-------
//   IEFBR14             000010  000000    24    24      1 RF RN RU
//
//   Member    Alias of  Ver.Mod  -Created--  --Last Changed--  User
//   PROG1     PROG        1.003  2019-04-02  2021-11-30 14:07  IBMUSER
//
// and each field is read from its own columns; a field that the line does not reach, or that
// does not parse, keeps its initial value.
#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "opxbridge.h"

namespace opxwin {

class OpxConnection;
class XmitFile;

class SourceFile {
  public:
    SourceFile(XmitFile* owner, int fileNumber) : xmitFile(owner), iFileNumber(fileNumber) {}

    XmitFile* xmitFile;
    int iFileNumber;
    int iLrecl = -1;
    int iBlksize = -1;
    int iMembers = -1;
    QString sRecfm;
    QString sDsName;
    QString sMessage;
    bool bIsEncrypted = false;
    bool bIsExtractable = false;
    bool bIsSequential = false;
    bool bIsLoadLib = false;

    bool isPds() const { return iMembers >= 0; }
    bool isMessage() const { return !sMessage.isEmpty(); }
    bool isBlocked() const { return sRecfm.contains(QLatin1Char('B')); }
    bool isSpanned() const {
        return sRecfm.contains(QLatin1Char('V')) && sRecfm.contains(QLatin1Char('S'));
    }
    QString toString() const;
};

class SourceMember {
  public:
    // line is the member's directory line, or none when the bridge has none for it.
    SourceMember(SourceFile* owner, int memberNumber, const std::optional<QString>& line);

    SourceFile* sourceFile;
    int iMemberNumber;
    bool bExtracted = false;
    QString sMemberName;
    QString sAliasOf;
    QString sDirEntry;
    bool hasDirEntry() const { return hasLine_; }

    // Load-module columns (read on the first request for one of them).
    int moduleSize() const;
    int moduleEntry() const;
    QString moduleSizeText() const;  // six hexadecimal digits, "000000" when unknown
    QString moduleEntryText() const; // likewise
    QString moduleAmode() const;
    QString moduleRmode() const;
    int moduleAC() const;
    QString moduleACText() const; // three characters, right-aligned; blanks when unknown
    QString moduleAttrs() const;

    // ISPF statistics columns (read on the first request for one of them).
    QString ispfVerMod() const;
    int ispfVersion() const;
    int ispfModLevel() const;
    QString ispfCreated() const;
    QString ispfChanged() const;
    QString ispfUser() const;

  private:
    void parseModule() const;
    void parseIspf() const;

    bool hasLine_ = false;
    mutable bool moduleParsed_ = false;
    mutable bool ispfParsed_ = false;
    mutable int iModuleSize = -1;
    mutable int iModuleEntry = -1;
    mutable QString sModuleAmode;
    mutable QString sModuleRmode;
    mutable int iModuleAC = -1;
    mutable QString sModuleAttrs;
    mutable QString sIspfVerMod;
    mutable int iIspfVersion = -1;
    mutable int iIspfModLevel = -1;
    mutable QString sIspfCreated;
    mutable QString sIspfChanged;
    mutable QString sIspfUser;
};

// The trimmed text of columns [from, to) of a line; empty when the line ends before `from`.
// to < 0 reads to the end of the line.
QString column(const QString& line, int from, int to);

class XmitFile {
  public:
    // The file from a folder and a name, or from the name alone (dir empty).
    XmitFile(const QString& dir, const QString& name);
    ~XmitFile();
    XmitFile(const XmitFile&) = delete;
    XmitFile& operator=(const XmitFile&) = delete;

    qint64 lHandle = -1;
    QDateTime dateExported;
    QString sPathName;
    QString sNodeOrigin;
    QString sUserOrigin;
    OpxConnection* opxConn = nullptr;
    std::vector<std::unique_ptr<SourceFile>> sourceFiles;

    const QFileInfo& fileInfo() const { return info_; }
    // The file's name without its folder.
    QString name() const { return info_.fileName(); }
    // The canonical path; for a file that does not exist, the cleaned absolute path.
    QString canonicalPath() const;
    bool exists() const { return info_.exists(); }

    // Opens the file through the connection: empty on success, else the bridge's message.
    QString open(OpxConnection* connection);
    void close();

    // The call-back table through which the bridge describes the file.
    static OpxFileSink sinkFor(XmitFile* file);

    // The bridge's call-backs.
    void init(qint64 handle, int dataSets, const char* exportTime, const char* node,
              const char* user);
    void addMessage(int fileNumber, bool encrypted, const char* text);
    void addSequential(int fileNumber, bool encrypted, bool sequential, int lrecl, int blksize,
                       const char* recfm, const char* dsname);
    void addPartitioned(int fileNumber, bool encrypted, bool unsupported, bool loadLibrary,
                        int members, int lrecl, int blksize, const char* recfm, const char* dsname);

  private:
    // The data set slot for a file number that has none yet, else null.
    SourceFile* newSourceFile(int fileNumber);
    QFileInfo info_;
};

} // namespace opxwin
