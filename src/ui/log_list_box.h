// CLogListBox: the main window's log, one line per item with its colour reference
// (0x00BBGGRR; 0 means the system colours) as item data. Lines are drawn by the rules the
// operators know: a selected line shows on its own colour in the inverse colour, or in black
// or white where the inverse could not be read (selectedLineTextColour).
#pragma once

#include <QListWidget>

#include "core/log.h"

namespace gsms {

// The colour reference as a Qt colour.
QColor toQColor(ColorRef colour);

class CLogListBox : public QListWidget {
    Q_OBJECT
public:
    explicit CLogListBox(QWidget* parent = nullptr);

    // Appends one line with its colour.
    void addLine(const QString& text, ColorRef colour);
    ColorRef lineColour(int row) const;
};

}  // namespace gsms
