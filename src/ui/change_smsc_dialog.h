// CChangeSmscDialog: shows the SMS service centre the modem uses and lets the operator
// replace it. OK always writes to the modem, even with the values unchanged.
#pragma once

#include <QDialog>

namespace Ui {
class CChangeSmscDialog;
}

namespace gsms {

class CChangeSmscDialog : public QDialog {
    Q_OBJECT
public:
    // Filled from the modem state's SMSC number and type.
    explicit CChangeSmscDialog(QWidget* parent = nullptr);
    ~CChangeSmscDialog() override;

    // Refuses a numbering plan that is not a number from 0 to 255 and stays open.
    void accept() override;
    // After OK: stores number and plan in the modem state and has updateSmsc write them
    // (it does the logging). Returns updateSmsc's result, or 1 when the dialog was cancelled.
    int applyAfterClose();

    QString number() const { return number_; }
    int plan() const { return plan_; }

private:
    Ui::CChangeSmscDialog* ui_;
    QString number_;
    int plan_ = 0;
};

// Runs the dialog modally and applies it.
void runChangeSmscDialog(QWidget* parent);

}  // namespace gsms
