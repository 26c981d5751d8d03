// CShapedGauge: a bar between a minimum and a maximum, drawn only inside the outline of a
// picture (its non-white pixels) and framed by a sunken edge one pixel outside the outline.
// The main window's signal gauge. All calls on the UI thread.
#pragma once

#include <QImage>
#include <QRegion>
#include <QVector>
#include <QWidget>

#include "core/log.h"

namespace gsms {

class CShapedGauge : public QWidget {
    Q_OBJECT
public:
    enum BarStyle {
        kSolidDown = 1,      // vertical, growing downward from the top
        kSolidRight = 2,     // horizontal, growing rightward from the left
        kGradientUp = 3,     // vertical gradient, growing upward from the bottom
        kGradientRight = 4,  // horizontal gradient, growing rightward from the left
    };

    CShapedGauge() = default;

    // Makes the gauge a visible child of parent with its top-left corner at (x, y), one
    // pixel smaller than the shape picture each way. False for a null picture.
    bool create(QWidget* parent, int x, int y, const QImage& shape, int id);

    // Each setter repaints the shape only when something changed; the range always.
    void setRange(int minimum, int maximum);
    int setValue(int value);     // the previous value
    int setBarStyle(int style);  // the previous style; other values than 1..4 draw no bar
    void setColours(ColorRef a, ColorRef b);  // A: solid colour and gradient start; B: end

    int value() const { return value_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int barStyle() const { return style_; }
    int id() const { return id_; }
    // The shape's pixels, and the window's region: the shape plus its one-pixel rim.
    const QRegion& exactRegion() const { return exact_; }
    const QRegion& windowRegion() const { return window_; }

    // The pixels that are not transparent: a pixel is transparent when each of its channels
    // lies between the transparent colour's and that plus the tolerance's (capped at 255).
    static QRegion regionFromBitmap(const QImage& image, ColorRef transparent,
                                    ColorRef tolerance);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawBar(QImage& image) const;

    int minimum_ = 0;
    int maximum_ = 100;
    int step_ = 10;  // kept for the callers that set it; nothing reads it
    int value_ = 0;
    ColorRef colourA_ = 0xFF0000;  // blue
    ColorRef colourB_ = 0x0000FF;  // red
    QColor background_;
    int style_ = kGradientRight;
    int id_ = 0;
    QImage shape_;
    QRegion exact_;
    QRegion window_;
    QVector<QPoint> shadowRim_;     // outside the shape at its top and left
    QVector<QPoint> highlightRim_;  // outside the shape at its bottom and right
};

}  // namespace gsms
