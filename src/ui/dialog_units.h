// Dialog units. The forms give every position and size in the units the dialog templates
// were laid out in: a quarter of the dialog font's average character width horizontally, an
// eighth of its height vertically. applyDialogUnits turns them into pixels of the font the
// dialog really has, so the layout keeps its proportions whatever face the system offers.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace gsms {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }
    int x(int units) const;
    int y(int units) const;
    // Corners are converted one by one, so neighbouring controls stay flush.
    QRect toPixels(const QRect& units) const;

private:
    int baseX_;
    int baseY_;
};

// The face of the dialog templates: the system's sans face at 8 points.
QFont dialogFont();

// Sets the dialog font and converts the dialog's size and every direct child's geometry
// from dialog units to pixels. A combo box keeps its natural height: its template height
// is that of the dropped list.
void applyDialogUnits(QWidget* dialog);

}  // namespace gsms
