#include "optionpage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "privateprofile.h"

namespace pelda {

namespace {

QString latin(const char* s) {
    return QString::fromLatin1(s);
}

QStringList choicesOf(const OptionDef& d) {
    return latin(d.choices).split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

// More members than this go into two columns inside their frame.
constexpr int kColumnRows = 8;

} // namespace

OptionPage::OptionPage(const OptionPageDef& def, QWidget* parent) : QWidget(parent), def_(def) {
    setObjectName(section());
    auto* columns = new QHBoxLayout(this);
    QVBoxLayout* col[2] = {new QVBoxLayout, new QVBoxLayout};
    int height[2] = {0, 0};
    for (const OptionGroup& g : def.groups) {
        int c = height[1] < height[0] ? 1 : 0;
        col[c]->addWidget(buildGroup(g));
        height[c] += static_cast<int>(g.options.size()) + 1;
    }
    for (QVBoxLayout* c : col) {
        c->addStretch();
        columns->addLayout(c, 1);
    }
    // A single column of options would leave the right half empty; let it take the width.
    if (height[1] == 0) columns->setStretch(1, 0);
    updateDependents();
}

QWidget* OptionPage::buildGroup(const OptionGroup& group) {
    QWidget* frame;
    QGridLayout* grid;
    const bool titled = group.caption[0] != '\0';
    if (titled) {
        auto* box = new QGroupBox(latin(group.caption), this);
        frame = box;
        grid = new QGridLayout(box);
        if (latin(group.caption) == QLatin1String("XOPTS")) xopts_ = box;
    } else {
        frame = new QWidget(this);
        grid = new QGridLayout(frame);
        grid->setContentsMargins(0, 0, 0, 0);
    }
    grid->setHorizontalSpacing(12);

    int first = 0;
    if (group.groupKey) {
        // One "Default" for the whole group; the members are ticked on or off.
        auto* deflt = new QCheckBox(tr("Default"), frame);
        deflt->setObjectName(QStringLiteral("default_") + latin(group.groupKey));
        deflt->setToolTip(tr("Leave %1 to the assembler").arg(latin(group.groupKey)));
        grid->addWidget(deflt, 0, 0, 1, 3);
        groupDefaults_.append({&group, deflt, titled ? static_cast<QGroupBox*>(frame) : nullptr});
        first = 1;
        auto* classes = new QWidget(frame);
        auto* hl = new QHBoxLayout(classes);
        hl->setContentsMargins(0, 0, 0, 0);
        for (const OptionDef& opt : group.options) {
            Row r;
            r.def = &opt;
            auto* box = new QCheckBox(latin(opt.name), classes);
            box->setObjectName(QStringLiteral("value_") + latin(opt.name));
            box->setToolTip(latin(opt.hint));
            hl->addWidget(box);
            r.control = box;
            rows_.append(r);
        }
        hl->addStretch();
        grid->addWidget(classes, first, 0, 1, 3);
        connect(deflt, &QCheckBox::toggled, classes, &QWidget::setDisabled);
        return frame;
    }

    const int n = static_cast<int>(group.options.size());
    const int perColumn = n > kColumnRows ? (n + 1) / 2 : n;
    for (int i = 0; i < n; ++i)
        addRow(group.options[static_cast<size_t>(i)], grid, first + i % perColumn,
               (i / perColumn) * 3);
    grid->setColumnStretch(2, 1);
    if (n > kColumnRows) grid->setColumnStretch(5, 1);
    return frame;
}

void OptionPage::addRow(const OptionDef& opt, QGridLayout* grid, int row, int column) {
    QWidget* parent = grid->parentWidget();
    const QString name = latin(opt.name);
    Row r;
    r.def = &opt;
    auto* label = new QLabel(name, parent);
    label->setToolTip(latin(opt.hint));
    r.deflt = new QCheckBox(tr("Default"), parent);
    r.deflt->setObjectName(QStringLiteral("default_") + name);
    r.deflt->setToolTip(tr("Leave %1 to the assembler").arg(name));

    switch (opt.kind) {
    case OptionKind::Text: {
        auto* edit = new QLineEdit(parent);
        edit->setPlaceholderText(latin(opt.hint));
        edit->setMinimumWidth(220);
        r.control = edit;
        break;
    }
    case OptionKind::Choice:
    case OptionKind::EditChoice: {
        auto* combo = new QComboBox(parent);
        combo->addItems(choicesOf(opt));
        combo->setEditable(opt.kind == OptionKind::EditChoice);
        r.control = combo;
        break;
    }
    case OptionKind::YesNo: {
        auto* pair = new QWidget(parent);
        auto* hl = new QHBoxLayout(pair);
        hl->setContentsMargins(0, 0, 0, 0);
        r.yes = new QRadioButton(name, pair);
        r.no = new QRadioButton(noForm(name), pair);
        r.yes->setObjectName(QStringLiteral("yes_") + name);
        r.no->setObjectName(QStringLiteral("no_") + name);
        auto* buttons = new QButtonGroup(pair);
        buttons->addButton(r.yes);
        buttons->addButton(r.no);
        hl->addWidget(r.yes);
        hl->addWidget(r.no);
        hl->addStretch();
        r.control = pair;
        if (name == QLatin1String("CICS"))
            connect(r.yes, &QRadioButton::toggled, this, &OptionPage::updateDependents);
        break;
    }
    case OptionKind::Severity: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(0, 255); // the severity is one byte; the spin box clamps what is typed
        r.control = spin;
        break;
    }
    case OptionKind::RegisterClass:
        break; // built by buildGroup
    }
    r.control->setObjectName(QStringLiteral("value_") + name);
    r.control->setToolTip(latin(opt.hint));
    r.control->setEnabled(false);
    connect(r.deflt, &QCheckBox::toggled, r.control, &QWidget::setDisabled);
    if (name == QLatin1String("CICS"))
        connect(r.deflt, &QCheckBox::toggled, this, &OptionPage::updateDependents);
    r.deflt->setChecked(true);

    grid->addWidget(label, row, column);
    grid->addWidget(r.deflt, row, column + 1);
    grid->addWidget(r.control, row, column + 2);
    rows_.append(r);
}

void OptionPage::updateDependents() {
    // XOPTS is passed only with PROCESS(CICS): its frame follows the CICS row.
    if (!xopts_) return;
    for (const Row& r : rows_) {
        if (QLatin1String(r.def->name) != QLatin1String("CICS")) continue;
        xopts_->setEnabled(!r.deflt->isChecked() && r.yes->isChecked());
        xopts_->setToolTip(xopts_->isEnabled() ? QString()
                                               : tr("XOPTS is passed only with PROCESS CICS"));
    }
}

QString OptionPage::valueOf(const Row& r) const {
    switch (r.def->kind) {
    case OptionKind::Text:
        return static_cast<QLineEdit*>(r.control)->text().trimmed();
    case OptionKind::Choice:
    case OptionKind::EditChoice:
        return static_cast<QComboBox*>(r.control)->currentText().trimmed();
    case OptionKind::YesNo:
        return r.no->isChecked() ? noForm(latin(r.def->name)) : latin(r.def->name);
    case OptionKind::Severity:
        return QString::number(static_cast<QSpinBox*>(r.control)->value());
    case OptionKind::RegisterClass:
        return latin(r.def->name);
    }
    return QString();
}

void OptionPage::setValueOf(Row& r, const QString& v) {
    switch (r.def->kind) {
    case OptionKind::Text:
        static_cast<QLineEdit*>(r.control)->setText(v);
        break;
    case OptionKind::Choice: {
        auto* combo = static_cast<QComboBox*>(r.control);
        int i = combo->findText(v, Qt::MatchFixedString);
        if (i < 0 && !v.isEmpty()) {
            // A value written by hand that the list lacks stays as it was.
            combo->addItem(v);
            i = combo->count() - 1;
        }
        combo->setCurrentIndex(std::max(i, 0));
        break;
    }
    case OptionKind::EditChoice:
        static_cast<QComboBox*>(r.control)->setCurrentText(v);
        break;
    case OptionKind::YesNo: {
        bool no = v.compare(noForm(latin(r.def->name)), Qt::CaseInsensitive) == 0;
        (no ? r.no : r.yes)->setChecked(true);
        break;
    }
    case OptionKind::Severity:
        static_cast<QSpinBox*>(r.control)->setValue(clampSeverity(v));
        break;
    case OptionKind::RegisterClass:
        break;
    }
}

void OptionPage::load(const PrivateProfile& ini) {
    const QString sec = section();
    auto isDefault = [&](const QString& opt) {
        return ini.value(sec, defaultKey(opt)).trimmed() != QLatin1String("0");
    };
    for (Row& r : rows_) {
        const QString name = latin(r.def->name);
        if (r.def->kind == OptionKind::RegisterClass) {
            static_cast<QCheckBox*>(r.control)->setChecked(!isDefault(name));
            continue;
        }
        QString v = ini.value(sec, valueKey(name));
        if (!ini.contains(sec, valueKey(name))) v = latin(r.def->initial);
        setValueOf(r, v);
        r.deflt->setChecked(isDefault(name));
    }
    for (GroupDefault& g : groupDefaults_) g.deflt->setChecked(isDefault(latin(g.group->groupKey)));
    updateDependents();
}

void OptionPage::save(PrivateProfile& ini) const {
    const QString sec = section();
    const QString one = QStringLiteral("1");
    const QString zero = QStringLiteral("0");
    for (const Row& r : rows_) {
        const QString name = latin(r.def->name);
        bool passed = r.def->kind == OptionKind::RegisterClass
                          ? static_cast<QCheckBox*>(r.control)->isChecked()
                          : !r.deflt->isChecked();
        ini.setValue(sec, defaultKey(name), passed ? zero : one);
        ini.setValue(sec, valueKey(name), valueOf(r));
    }
    for (const GroupDefault& g : groupDefaults_) {
        const QString key = latin(g.group->groupKey);
        ini.setValue(sec, defaultKey(key), g.deflt->isChecked() ? one : zero);
        ini.setValue(sec, valueKey(key), key);
    }
}

} // namespace pelda
