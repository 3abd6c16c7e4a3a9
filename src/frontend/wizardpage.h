// A page of the extraction and build wizards: a modal dialog with "OK", "Back" (all but the
// first page) and "Cancel" that ends with 1, -1 or 0. Each page owns its checks: OK runs
// check(), and a failed check shows its message and keeps the page open; a passed check
// stores the page's values and closes it. Esc and the window's close button mean Cancel.
#pragma once

#include <QDialog>
#include <optional>

class QFormLayout;
class QPushButton;

namespace opxwin {

class WizardPage : public QDialog {
    Q_OBJECT
  public:
    enum Result { Back = -1, Cancel = 0, Ok = 1 };

    WizardPage(QWidget* frame, const QString& caption, bool withBack);

    // The message of the first failed check, or empty when the page's values are good.
    virtual QString check() { return QString(); }
    // Remembers the accepted values.
    virtual void store() {}

    void pressOk();
    void pressBack() { done(Back); }
    void pressCancel() { done(Cancel); }

    QPushButton* okButton() const { return ok_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* cancelButton() const { return cancel_; }

  protected:
    QFormLayout* form() const { return form_; }
    void reject() override { done(Cancel); }

  private:
    QFormLayout* form_;
    QPushButton* ok_;
    QPushButton* back_ = nullptr;
    QPushButton* cancel_;
};

// A whole decimal number without sign, or none (empty or anything else counts as none).
std::optional<qint64> decimal(const QString& text);

} // namespace opxwin
