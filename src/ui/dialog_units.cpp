#include "ui/dialog_units.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QWidget>

namespace gsms {

namespace {

// Rounds half away from zero, as the templates' conversion does.
int mulDiv(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    return static_cast<int>(p >= 0 ? (p + den / 2) / den : (p - den / 2) / den);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (width / 26 + 1) / 2;
    baseY_ = fm.height();
}

int DialogUnits::x(int units) const { return mulDiv(units, baseX_, 4); }
int DialogUnits::y(int units) const { return mulDiv(units, baseY_, 8); }

QRect DialogUnits::toPixels(const QRect& units) const {
    const int left = x(units.x()), top = y(units.y());
    return {left, top, x(units.x() + units.width()) - left, y(units.y() + units.height()) - top};
}

QFont dialogFont() {
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

void applyDialogUnits(QWidget* dialog) {
    dialog->setFont(dialogFont());
    const DialogUnits du(dialog->font());
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) continue;
        QRect r = du.toPixels(child->geometry());
        if (qobject_cast<QComboBox*>(child) != nullptr) r.setHeight(child->sizeHint().height());
        child->setGeometry(r);
    }
    dialog->setFixedSize(du.x(dialog->width()), du.y(dialog->height()));
}

}  // namespace gsms
