#include "ui/color_label.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>

#include "frontend/window_rules.h"

namespace gsms {

namespace {

QString availableFace(const QString& face) {
    if (QFontDatabase::hasFamily(face)) return face;
    const QString segments = QString::fromLatin1(kCounterFallbackFace);
    if (QFontDatabase::hasFamily(segments)) return segments;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

}  // namespace

CColorLabel::CColorLabel(QWidget* parent)
    : QLabel(parent), textColour_(palette().color(QPalette::Text)),
      logicalFont_(QApplication::font()) {
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    p.setColor(QPalette::WindowText, textColour_);
    setPalette(p);
    setAutoFillBackground(true);
}

CColorLabel& CColorLabel::setText(const QString& text) {
    QLabel::setText(text);
    repaint();
    return *this;
}

CColorLabel& CColorLabel::setTextColor(const QColor& colour) {
    textColour_ = colour;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
    repaint();
    return *this;
}

CColorLabel& CColorLabel::setFontSize(int pixels) {
    logicalFont_.setPixelSize(pixels);
    applyFont();
    return *this;
}

CColorLabel& CColorLabel::setFontFaceName(const QString& face) {
    logicalFont_.setFamily(face);
    applyFont();
    return *this;
}

void CColorLabel::applyFont() {
    QFont font = logicalFont_;
    font.setFamily(availableFace(logicalFont_.family()));
    setFont(font);
    repaint();
}

}  // namespace gsms
