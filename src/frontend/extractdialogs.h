// The pages of the extraction wizard: the first page (kind of extraction, output path and the
// overwrite rule) and the option pages for text, dump, conversion and relink.
#pragma once

#include <QString>

#include "extracttypes.h"
#include "wizardpage.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace opxwin {

class SourceFile;

class ExtractDialog : public WizardPage {
    Q_OBJECT
  public:
    ExtractDialog(QWidget* frame, const SourceFile* file);

    QString check() override;
    void store() override;

    // The request types offered, in order.
    QList<int> offeredTypes() const { return types_; }
    int selectedType() const;
    void selectType(int id);
    // -1 prompt, 0 never, 1 always.
    int overwrite() const;
    // The path as the core takes it (see getPathName).
    QString pathName() const;

    // The message for a bad path, or empty: not empty, no separator at the end, and for a
    // partitioned data set a file name that begins with "&M" or "&m" (for a sequential one,
    // one that does not).
    static QString checkPathName(const QString& path, bool partitioned);
    // A plain file name (two characters or more, no separator) goes beside the transmit file:
    // "&D" is put in front unless it is there already.
    static QString getPathName(const QString& text);
    // "Seq", "Pds" or "Loadlib": the kind of data set the remembered path belongs to.
    static QString kindKey(const SourceFile* file);

    QListWidget* typeList() const { return list_; }
    QLineEdit* pathEdit() const { return path_; }
    QRadioButton* alwaysButton() const { return always_; }
    QRadioButton* neverButton() const { return never_; }
    QRadioButton* promptButton() const { return prompt_; }

  private:
    const SourceFile* file_;
    QList<int> types_;
    QListWidget* list_;
    QLineEdit* path_;
    QRadioButton* always_;
    QRadioButton* never_;
    QRadioButton* prompt_;
};

class ExtractTextDialog : public WizardPage {
    Q_OBJECT
  public:
    ExtractTextDialog(QWidget* frame, const QString& caption, const SourceFile* file);
    QString check() override;
    void store() override;

    int lrecl() const;
    int tabs() const; // 0, 4 or 8
    bool strip() const;
    bool unixLineEnd() const;

    QLineEdit* lreclEdit() const { return lrecl_; }
    QComboBox* tabsBox() const { return tabs_; }
    QCheckBox* stripBox() const { return strip_; }
    QComboBox* lineEndBox() const { return lineEnd_; }

  private:
    QLineEdit* lrecl_;
    QComboBox* tabs_;
    QCheckBox* strip_;
    QComboBox* lineEnd_;
};

class ExtractDumpDialog : public WizardPage {
    Q_OBJECT
  public:
    ExtractDumpDialog(QWidget* frame, const QString& caption);
    void store() override;
    int lrecl() const; // 120 or 67

    QRadioButton* wideButton() const { return wide_; }
    QRadioButton* narrowButton() const { return narrow_; }

  private:
    QRadioButton* wide_;
    QRadioButton* narrow_;
};

class ExtractConvertDialog : public WizardPage {
    Q_OBJECT
  public:
    ExtractConvertDialog(QWidget* frame, const QString& caption, const SourceFile* file);
    QString check() override;
    void store() override;

    const ConvertFormat& format() const;
    void setFormat(int id);
    int lrecl() const;
    int blksize() const; // 0 when the field is off
    int padChar() const;
    bool strip() const;
    bool translate() const;
    bool truncate() const;

    QComboBox* formatBox() const { return format_; }
    QLineEdit* lreclEdit() const { return lrecl_; }
    QLineEdit* blksizeEdit() const { return blksize_; }
    QLineEdit* padEdit() const { return pad_; }
    QCheckBox* stripBox() const { return strip_; }
    QCheckBox* translateBox() const { return translate_; }
    QCheckBox* truncateBox() const { return truncate_; }

  private:
    void formatChanged();

    const SourceFile* file_;
    int dataLength_ = 0;
    QComboBox* format_;
    QLineEdit* lrecl_;
    QLineEdit* blksize_;
    QLineEdit* pad_;
    QCheckBox* strip_;
    QCheckBox* translate_;
    QCheckBox* truncate_;
};

class ExtractRelinkDialog : public WizardPage {
    Q_OBJECT
  public:
    ExtractRelinkDialog(QWidget* frame, const QString& caption);
    QString check() override;
    void store() override;

    // The listing path as the core takes it (the "&D" rule of the first page).
    QString listingPath() const;
    // "NOMAP,NOXREF,NCAL", "MAP,NOXREF,NCAL" or "MAP,XREF,NCAL".
    QString parameters() const;

    QLineEdit* listingEdit() const { return listing_; }
    QComboBox* parameterBox() const { return parameters_; }

  private:
    QLineEdit* listing_;
    QComboBox* parameters_;
};

} // namespace opxwin
