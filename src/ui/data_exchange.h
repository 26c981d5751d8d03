// Refusing what was typed into a dialog's edit the way the dialogs always did: a warning box
// with the standard message (frontend/window_forms.h), the focus back on the edit and the dialog
// kept open.
#pragma once

#include <QString>
#include <optional>

class QLineEdit;
class QWidget;

namespace gsms {

// The warning box with `message`, the focus back on the edit with its text selected.
void refuseInput(QWidget* dialog, QLineEdit* edit, const QString& message);

// The number in the edit within a range (frontend/window_forms.h), or a warning box, the focus
// on the edit and nothing.
std::optional<int> exchangeUnsignedInRange(QWidget* dialog, QLineEdit* edit, int minimum,
                                           int maximum);

}  // namespace gsms
