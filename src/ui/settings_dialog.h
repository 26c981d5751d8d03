// CSettingsDialog: the main gateway settings while the gateway runs. It edits the
// in-memory GatewaySettings and, when something was changed and confirmed, hands over to
// saveSettings. Every change notification of an editable control sets the process-wide
// modified flag; filling the edits at opening does so too, as it always has. The flag is
// cleared only after a save, never by Cancel.
#pragma once

#include <QDialog>
#include <QString>

#include "frontend/window_forms.h"

namespace Ui {
class CSettingsDialog;
}

namespace gsms {

class CSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Filled from GatewaySettings.
    explicit CSettingsDialog(QWidget* parent = nullptr);
    ~CSettingsDialog() override;

    // Refuses a bad number and stays open; otherwise closes and, with the modified flag
    // set, warns that a restart is needed.
    void accept() override;
    // After OK with the flag set: stores the values, saves them, clears the flag.
    // True when it saved.
    bool applyAfterClose();

private:
    Ui::CSettingsDialog* ui_;
    // The controls' values as the shared rules take them.
    SettingsForm form() const;

    SettingsForm opened_;    // as filled at opening: the mode tokens come from here
    SettingsForm accepted_;  // as OK took it
};

// Runs the dialog modally and applies it.
void runSettingsDialog(QWidget* parent);

}  // namespace gsms
