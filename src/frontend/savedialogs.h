// The pages of the build wizard: the data set and its origin (page 1), the input (page 2), the
// member selection (page 3), device and space of a partitioned data set (page 4) and the
// record format (page 5). Each page reads and writes the request's fields and owns its checks.
#pragma once

#include <QStringList>

#include "wizardpage.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace opxwin {

class SaveRequest;

class SaveDialog : public WizardPage {
    Q_OBJECT
  public:
    explicit SaveDialog(SaveRequest* request);
    QString check() override;
    void store() override;

    // 1 to 8 characters: an upper-case letter, then upper-case letters or digits.
    static bool isNameOk(const QString& name);

    QLineEdit* dsnEdit() const { return dsn_; }
    QCheckBox* pdsBox() const { return pds_; }
    QLineEdit* messageEdit() const { return message_; }
    QLineEdit* originNodeEdit() const { return originNode_; }
    QLineEdit* originUserEdit() const { return originUser_; }
    QLineEdit* targetNodeEdit() const { return targetNode_; }
    QLineEdit* targetUserEdit() const { return targetUser_; }

  private:
    SaveRequest* r_;
    QLineEdit* dsn_;
    QCheckBox* pds_;
    QLineEdit* message_;
    QLineEdit* originNode_;
    QLineEdit* originUser_;
    QLineEdit* targetNode_;
    QLineEdit* targetUser_;
};

class SaveDialog2 : public WizardPage {
    Q_OBJECT
  public:
    explicit SaveDialog2(SaveRequest* request);
    QString check() override;
    void store() override;

    QLineEdit* pathEdit() const { return path_; }
    QComboBox* filedataBox() const { return filedata_; }
    // The member files found by the last check.
    QStringList members() const { return members_; }

  private:
    SaveRequest* r_;
    QLineEdit* path_;
    QComboBox* filedata_;
    QStringList members_;
};

class SaveDialog3 : public WizardPage {
    Q_OBJECT
  public:
    explicit SaveDialog3(SaveRequest* request);
    QString check() override;
    void store() override;
    QListWidget* memberList() const { return list_; }
    // The chosen names: the selected ones in list order, or all when none is selected.
    QStringList chosen() const;

  private:
    SaveRequest* r_;
    QListWidget* list_;
};

class SaveDialog4 : public WizardPage {
    Q_OBJECT
  public:
    explicit SaveDialog4(SaveRequest* request);
    QString check() override;
    void store() override;

    QComboBox* deviceBox() const { return device_; }
    QLineEdit* dirBlocksEdit() const { return dirBlocks_; }
    QRadioButton* tracksButton() const { return tracks_; }
    QRadioButton* cylindersButton() const { return cylinders_; }
    QLineEdit* primaryEdit() const { return primary_; }
    QLineEdit* secondaryEdit() const { return secondary_; }
    // The largest space in the chosen unit for the chosen device.
    int largestSpace() const;

  private:
    SaveRequest* r_;
    QComboBox* device_;
    QLineEdit* dirBlocks_;
    QRadioButton* tracks_;
    QRadioButton* cylinders_;
    QLineEdit* primary_;
    QLineEdit* secondary_;
};

class SaveDialog5 : public WizardPage {
    Q_OBJECT
  public:
    explicit SaveDialog5(SaveRequest* request);
    // Prepares the page for a kind of input, an organization and a device.
    void setup(int filedata, bool partitioned, const QString& device);
    QString check() override;
    void store() override;

    QComboBox* recfmBox() const { return recfm_; }
    QLineEdit* blksizeEdit() const { return blksize_; }
    QLineEdit* lreclEdit() const { return lrecl_; }
    QComboBox* tabsBox() const { return tabs_; }
    int maxBlksize() const { return maxBlksize_; }
    int goodBlksize() const { return goodBlksize_; }
    // The key under which the page's values are remembered ("SaveBinder", "SavePdsText", ...).
    QString key() const;

  private:
    SaveRequest* r_;
    QComboBox* recfm_;
    QLineEdit* blksize_;
    QLineEdit* lrecl_;
    QComboBox* tabs_;
    int filedata_ = 1;
    bool partitioned_ = false;
    int maxBlksize_ = 32760;
    int goodBlksize_ = 27998;
};

} // namespace opxwin
