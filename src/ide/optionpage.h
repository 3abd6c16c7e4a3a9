// One page of assembler options in the preferences dialog, built from its definition.
//
// Every option is a row: its name, a "Default" check box, and the control for its value. A
// ticked "Default" leaves the option to the assembler and disables the row's control; the
// value is kept all the same, so that unticking brings it back. (A checkable QGroupBox works
// the other way round, enabling its contents when ticked, so it is not used for this.)
//
// Widget names, for tests and style sheets: "default_OPT" for the check box, "value_OPT" for
// the control, "yes_OPT" and "no_OPT" for the two buttons of a yes/no option.
#pragma once

#include <QList>
#include <QWidget>

#include "assembleroptions.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace pelda {

class PrivateProfile;

class OptionPage : public QWidget {
    Q_OBJECT
  public:
    explicit OptionPage(const OptionPageDef& def, QWidget* parent = nullptr);

    QString title() const { return QString::fromLatin1(def_.title); }
    QString section() const { return QString::fromLatin1(def_.section); }

    void load(const PrivateProfile& ini);
    void save(PrivateProfile& ini) const;

  private:
    struct Row {
        const OptionDef* def = nullptr;
        QCheckBox* deflt = nullptr; // none for a register class
        QWidget* control = nullptr;
        QRadioButton* yes = nullptr;
        QRadioButton* no = nullptr;
    };
    struct GroupDefault {
        const OptionGroup* group = nullptr;
        QCheckBox* deflt = nullptr;
        QGroupBox* box = nullptr;
    };

    QWidget* buildGroup(const OptionGroup& group);
    void addRow(const OptionDef& opt, QGridLayout* grid, int row, int column);
    QString valueOf(const Row& r) const;
    void setValueOf(Row& r, const QString& v);
    void updateDependents();

    const OptionPageDef& def_;
    QList<Row> rows_;
    QList<GroupDefault> groupDefaults_;
    QGroupBox* xopts_ = nullptr;
};

} // namespace pelda
