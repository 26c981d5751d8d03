#include "ui/data_exchange.h"

#include <QLineEdit>
#include <QMessageBox>
#include <climits>

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

std::optional<long long> parseInteger(const QString& text, bool allowSign) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (allowSign && i < t.size() && (t[i] == u'-' || t[i] == u'+')) negative = t[i++] == u'-';
    if (i == t.size()) return std::nullopt;
    long long value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < u'0' || t[i] > u'9') return std::nullopt;
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > 0xFFFFFFFFLL) return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<int> exchangeSigned(QWidget* dialog, QLineEdit* edit) {
    const auto v = parseInteger(edit->text(), true);
    if (!v || *v < INT_MIN || *v > INT_MAX)
        return refuse(dialog, edit, QStringLiteral("Please enter an integer."));
    return static_cast<int>(*v);
}

std::optional<int> exchangeUnsigned(QWidget* dialog, QLineEdit* edit, int maximum) {
    const auto v = parseInteger(edit->text(), false);
    if (!v || *v > maximum)
        return refuse(dialog, edit, QStringLiteral("Please enter a positive integer."));
    return static_cast<int>(*v);
}

std::optional<int> exchangeUnsignedInRange(QWidget* dialog, QLineEdit* edit, int minimum,
                                           int maximum) {
    const auto v = parseInteger(edit->text(), false);
    if (!v) return refuse(dialog, edit, QStringLiteral("Please enter a positive integer."));
    if (*v < minimum || *v > maximum)
        return refuse(dialog, edit,
                      QStringLiteral("Please enter an integer between %1 and %2.")
                          .arg(minimum)
                          .arg(maximum));
    return static_cast<int>(*v);
}

}  // namespace gsms
