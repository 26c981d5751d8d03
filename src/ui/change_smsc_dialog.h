// CChangeSmscDialog: shows the SMS service centre the modem uses and lets the operator
// replace it. OK always writes to the modem, even with the values unchanged; the main window
// opens it only while the engine runs, so the values shown are the modem's. With two modems
// the operator chooses one (control 1080, hidden with one); choosing shows its values.
#pragma once

#include <QDialog>

namespace Ui {
class CChangeSmscDialog;
}

namespace gsms {

class CChangeSmscDialog : public QDialog {
    Q_OBJECT
public:
    // Filled from the first modem's SMSC number and type.
    explicit CChangeSmscDialog(QWidget* parent = nullptr);
    ~CChangeSmscDialog() override;

    // Refuses an empty number, one that is not a phone number and a numbering plan that is
    // not a number from 0 to 255, each with a message, and stays open.
    void accept() override;
    // After OK, on this thread: stores number and plan in the modem state and has updateSmsc
    // write them (it does the logging). Returns updateSmsc's result, or 1 when the dialog was
    // cancelled.
    int applyAfterClose();

    QString number() const { return number_; }
    int plan() const { return plan_; }
    int modem() const { return modem_; }  // the link's number, 1 or 2

private:
    Ui::CChangeSmscDialog* ui_;
    // Number and plan of link `modem` into the edits.
    void showModem(int modem);

    QString number_;
    int plan_ = 0;
    int modem_ = 1;
};

// Runs the dialog modally and, after OK, starts the change on the OperatorThread. True when
// the dialog ended with OK.
bool runChangeSmscDialog(QWidget* parent);

}  // namespace gsms
