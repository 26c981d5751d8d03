#include "ui/data_exchange.h"

#include <QLineEdit>
#include <QMessageBox>

#include "frontend/window_forms.h"

namespace gsms {

namespace {

const QString kCaption = QStringLiteral("Velkora GSM/SMS");

std::nullopt_t refuse(QWidget* dialog, QLineEdit* edit, const QString& message) {
    refuseInput(dialog, edit, message);
    return std::nullopt;
}

}  // namespace

void refuseInput(QWidget* dialog, QLineEdit* edit, const QString& message) {
    QMessageBox::warning(dialog, kCaption, message);
    edit->setFocus();
    edit->selectAll();
}

std::optional<int> exchangeUnsignedInRange(QWidget* dialog, QLineEdit* edit, int minimum,
                                           int maximum) {
    const FormValue v = takeUnsignedInRange(edit->text().toLatin1().toStdString(), minimum,
                                            maximum);
    if (!v.message.empty()) return refuse(dialog, edit, QString::fromStdString(v.message));
    return static_cast<int>(v.value);
}

}  // namespace gsms
