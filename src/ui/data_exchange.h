// Taking numbers out of the dialogs' edits the way the dialogs always did: blanks around
// the digits are allowed, anything else refuses the value with a standard message, puts the
// focus back on the edit and keeps the dialog open.
#pragma once

#include <QString>
#include <optional>

class QLineEdit;
class QWidget;

namespace gsms {

// A decimal number with optional blanks around it (and, for the signed form, a sign);
// nothing when the text is not such a number or needs more than 32 bits.
std::optional<long long> parseInteger(const QString& text, bool allowSign);

// The number in the edit, or a warning box, the focus on the edit and nothing.
std::optional<int> exchangeSigned(QWidget* dialog, QLineEdit* edit);
std::optional<int> exchangeUnsigned(QWidget* dialog, QLineEdit* edit, int maximum);
// The warning box with `message`, the focus back on the edit with its text selected.
void refuseInput(QWidget* dialog, QLineEdit* edit, const QString& message);

// Range-checked: the message names the range.
std::optional<int> exchangeUnsignedInRange(QWidget* dialog, QLineEdit* edit, int minimum,
                                           int maximum);

}  // namespace gsms
