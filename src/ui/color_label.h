// CColorLabel: a static text that paints itself in its own face, size and colour on the
// button face. Every setter repaints at once and returns the label, so calls chain.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>

namespace gsms {

class CColorLabel : public QLabel {
    Q_OBJECT
public:
    explicit CColorLabel(QWidget* parent = nullptr);

    CColorLabel& setText(const QString& text);
    CColorLabel& setTextColor(const QColor& colour);
    // Character height in pixels.
    CColorLabel& setFontSize(int pixels);
    // A face the system lacks is replaced by a seven-segment face, else by a monospace one.
    CColorLabel& setFontFaceName(const QString& face);

    QColor textColor() const { return textColour_; }

private:
    void applyFont();

    QColor textColour_;
    QFont logicalFont_;  // what was asked for; the label's font is rebuilt from it
};

}  // namespace gsms
