#include "ui/shaped_gauge.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <vector>

#include "ui/log_list_box.h"

namespace gsms {

namespace {

// Rectangles are merged into the region in batches, which keeps each union cheap.
constexpr std::size_t kBatch = 2000;

void flush(std::vector<QRect>& batch, QRegion& result) {
    if (batch.empty()) return;
    QRegion part;
    part.setRects(batch.data(), static_cast<int>(batch.size()));
    result = result.isEmpty() ? part : result.united(part);
    batch.clear();
}

int channel(ColorRef c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

}  // namespace

QRegion CShapedGauge::regionFromBitmap(const QImage& image, ColorRef transparent,
                                       ColorRef tolerance) {
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    int low[3], high[3];  // red, green, blue
    for (int i = 0; i < 3; ++i) {
        low[i] = channel(transparent, 8 * i);
        high[i] = std::min(255, low[i] + channel(tolerance, 8 * i));
    }
    auto isTransparent = [&](QRgb p) {
        const int v[3] = {qRed(p), qGreen(p), qBlue(p)};
        for (int i = 0; i < 3; ++i)
            if (v[i] < low[i] || v[i] > high[i]) return false;
        return true;
    };

    // Rows with the same runs as the row above lengthen its rectangles, so that the
    // region comes out in the fewest bands.
    QRegion result;
    std::vector<QRect> batch;
    batch.reserve(kBatch);
    std::size_t bandStart = 0;  // the previous row's rectangles in batch
    std::vector<std::pair<int, int>> runs, previous;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        runs.clear();
        for (int x = 0; x < pixels.width();) {
            if (isTransparent(row[x])) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < pixels.width() && !isTransparent(row[x])) ++x;
            runs.emplace_back(start, x);
        }
        if (!runs.empty() && runs == previous && bandStart < batch.size()) {
            for (std::size_t i = bandStart; i < batch.size(); ++i)
                batch[i].setHeight(batch[i].height() + 1);
            continue;
        }
        if (batch.size() + runs.size() > kBatch) flush(batch, result);
        bandStart = batch.size();
        for (const auto& [x0, x1] : runs) batch.emplace_back(x0, y, x1 - x0, 1);
        previous = runs;
    }
    flush(batch, result);
    return result;
}

bool CShapedGauge::create(QWidget* parent, int x, int y, const QImage& shape, int id) {
    if (shape.isNull()) return false;
    setParent(parent);
    id_ = id;
    setObjectName(QStringLiteral("gauge"));
    setCursor(Qt::ArrowCursor);
    // Every pixel is painted from the off-screen image: no erasing, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    background_ = palette().color(QPalette::Button);
    shape_ = shape.convertToFormat(QImage::Format_RGB32);
    setGeometry(x, y, shape_.width() - 1, shape_.height() - 1);

    exact_ = regionFromBitmap(shape_, 0xFFFFFF, 0);
    // The grown rectangles overlap: they are united one by one.
    window_ = QRegion();
    for (const QRect& r : exact_) window_ = window_.united(r.adjusted(-1, -1, 1, 1));

    // The sunken edge: background pixels diagonally next to the shape.
    const QRgb back = shape_.pixel(0, 0);
    auto inShape = [&](int px, int py) {
        return px >= 0 && py >= 0 && px < shape_.width() && py < shape_.height() &&
               shape_.pixel(px, py) != back;
    };
    for (int py = 0; py < shape_.height(); ++py) {
        for (int px = 0; px < shape_.width(); ++px) {
            if (inShape(px, py)) continue;
            if (inShape(px + 1, py + 1)) shadowRim_.push_back({px, py});
            if (inShape(px - 1, py - 1)) highlightRim_.push_back({px, py});
        }
    }

    // A window with an empty region shows nothing at all; an empty mask would show all.
    if (window_.isEmpty()) {
        hide();
    } else {
        setMask(window_);
        show();
    }
    return true;
}

void CShapedGauge::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    update(exact_);
}

int CShapedGauge::setValue(int value) {
    const int previous = value_;
    value_ = value;
    if (value != previous) update(exact_);
    return previous;
}

int CShapedGauge::setBarStyle(int style) {
    const int previous = style_;
    style_ = style;
    if (style != previous) update(exact_);
    return previous;
}

void CShapedGauge::setColours(ColorRef a, ColorRef b) {
    if (a != colourA_ || b != colourB_) update(exact_);
    colourA_ = a;
    colourB_ = b;
}

void CShapedGauge::drawBar(QImage& image) const {
    const int L = 0, T = 0, R = width(), B = height();
    const int range = maximum_ - minimum_ + 1;
    if (range <= 0) return;
    const int v = value_;
    QPainter p(&image);
    p.setClipRegion(exact_);

    // Gradient steps are accumulated as floating point and truncated per line.
    const double from[3] = {double(channel(colourA_, 0)), double(channel(colourA_, 8)),
                            double(channel(colourA_, 16))};
    auto steps = [&](int span, double* out) {
        for (int i = 0; i < 3; ++i)
            out[i] = span == 0 ? 0.0 : (channel(colourB_, 8 * i) - from[i]) / span;
    };
    auto colourAt = [&](const double* step, int n) {
        int c[3];
        for (int i = 0; i < 3; ++i) c[i] = std::clamp(int(from[i] + step[i] * n), 0, 255);
        return QColor(c[0], c[1], c[2]);
    };

    switch (style_) {
        case kSolidDown:
            p.fillRect(QRect(L, T - 1, R - L, (v - minimum_) * (B - T + 2) / range + 1),
                       toQColor(colourA_));
            break;
        case kSolidRight:
            p.fillRect(QRect(L - 1, T, (v - minimum_) * (R - L + 2) / range + 1, B - T),
                       toQColor(colourA_));
            break;
        case kGradientUp: {
            const int end = (B - T + 2) * (maximum_ - v) / range;
            double step[3];
            steps(B - T, step);
            int n = 0;
            for (int row = B + 1; row > end; --row, ++n)
                p.fillRect(QRect(L, row, R - L, 1), colourAt(step, n));
            break;
        }
        case kGradientRight: {
            const int limit = (R - L + 2) * (v - minimum_) / range - 1;
            double step[3];
            steps(R - L, step);
            int n = 0;
            for (int counter = L; counter <= limit; ++counter, ++n)
                p.fillRect(QRect(counter - 1, T, 1, B - T), colourAt(step, n));
            break;
        }
        default:
            break;
    }
}

void CShapedGauge::paintEvent(QPaintEvent*) {
    QImage image(size(), QImage::Format_RGB32);
    if (image.isNull()) return;
    image.fill(background_);
    drawBar(image);
    const QRgb shadow = palette().color(QPalette::Dark).rgb();
    const QRgb light = palette().color(QPalette::Light).rgb();
    for (const QPoint& pt : shadowRim_)
        if (image.valid(pt)) image.setPixel(pt, shadow);
    for (const QPoint& pt : highlightRim_)
        if (image.valid(pt)) image.setPixel(pt, light);
    QPainter(this).drawImage(0, 0, image);
}

}  // namespace gsms
