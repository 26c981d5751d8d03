// The shaped gauge: its regions from three kinds of picture, the gradient bar of the main
// window's settings, and a repaint only when the value really changes.
#include <QPainter>
#include <QtTest>

#include "ui/pictures.h"
#include "ui/shaped_gauge.h"

using namespace gsms;

namespace {

QImage filled(int w, int h, Qt::GlobalColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool nonWhite(const QImage& image, int x, int y) {
    return image.valid(x, y) && (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

class GaugeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { initUiResources(); }

    void allBlackPictureGivesTheWholeRectanglePlusRim() {
        QWidget parent;
        CShapedGauge gauge;
        QVERIFY(gauge.create(&parent, 5, 6, filled(20, 30, Qt::black), 0));
        QCOMPARE(gauge.geometry(), QRect(5, 6, 19, 29));
        QCOMPARE(gauge.exactRegion(), QRegion(0, 0, 20, 30));
        QCOMPARE(gauge.windowRegion(), QRegion(-1, -1, 22, 32));
        QCOMPARE(gauge.mask(), QRegion(-1, -1, 22, 32));
        QVERIFY(!gauge.isHidden());
    }

    void allWhitePictureGivesNothing() {
        QWidget parent;
        CShapedGauge gauge;
        QVERIFY(gauge.create(&parent, 0, 0, filled(20, 30, Qt::white), 0));
        QVERIFY(gauge.exactRegion().isEmpty());
        QVERIFY(gauge.windowRegion().isEmpty());
        QVERIFY(gauge.isHidden());  // a window with an empty region shows nothing
    }

    void nullPictureCreatesNothing() {
        QWidget parent;
        CShapedGauge gauge;
        QVERIFY(!gauge.create(&parent, 0, 0, QImage(), 0));
        QVERIFY(gauge.parent() == nullptr);
    }

    void signalBarsGiveTheirOwnOutline() {
        const QImage bars = signalBarShape();
        QCOMPARE(bars.size(), QSize(36, 96));
        QWidget parent;
        CShapedGauge gauge;
        QVERIFY(gauge.create(&parent, 0, 0, bars, 0));
        int black = 0;
        for (int y = -1; y <= bars.height(); ++y) {
            for (int x = -1; x <= bars.width(); ++x) {
                const bool in = nonWhite(bars, x, y);
                black += in ? 1 : 0;
                QVERIFY2(gauge.exactRegion().contains(QPoint(x, y)) == in,
                         qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                // The window adds every pixel next to the shape, diagonals included.
                bool near = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) near = near || nonWhite(bars, x + dx, y + dy);
                QVERIFY2(gauge.windowRegion().contains(QPoint(x, y)) == near,
                         qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            }
        }
        // Eight bars, widest at the top.
        QVERIFY(black > 0);
        int bars_seen = 0, lastWidth = 1000;
        for (int y = 0; y < bars.height(); ++y) {
            const bool starts = nonWhite(bars, bars.width() / 2, y) &&
                                !nonWhite(bars, bars.width() / 2, y - 1);
            if (!starts) continue;
            ++bars_seen;
            int width = 0;
            for (int x = 0; x < bars.width(); ++x) width += nonWhite(bars, x, y) ? 1 : 0;
            QVERIFY(width < lastWidth);
            lastWidth = width;
        }
        QCOMPARE(bars_seen, 8);
    }

    void fullValueShadesTheShapeFromRedToGreen() {
        QWidget parent;
        parent.resize(100, 150);
        CShapedGauge gauge;
        QVERIFY(gauge.create(&parent, 10, 10, signalBarShape(), 0));
        gauge.setBarStyle(CShapedGauge::kGradientUp);
        gauge.setColours(kColorRed, kColorGreen);
        gauge.setRange(0, 31);
        gauge.setValue(31);
        const QImage image = gauge.grab().toImage();

        int top = -1, bottom = -1;
        int previousRed = -1;
        for (int y = image.height() - 1; y >= 0; --y) {
            int rowRed = -1;
            for (int x = 0; x < image.width(); ++x) {
                if (!gauge.exactRegion().contains(QPoint(x, y))) continue;
                const QColor c = image.pixelColor(x, y);
                QCOMPARE(c.blue(), 0);
                QVERIFY(qAbs(c.red() + c.green() - 255) <= 2);  // on the way from red to green
                if (rowRed < 0) rowRed = c.red();
                QCOMPARE(c.red(), rowRed);  // one colour per row
            }
            if (rowRed < 0) continue;
            if (bottom < 0) bottom = y;
            top = y;
            if (previousRed >= 0) QVERIFY(rowRed <= previousRed);  // greener upward
            previousRed = rowRed;
        }
        QVERIFY(bottom > top);
        QVERIFY(image.pixelColor(image.width() / 2, bottom).red() > 240);
        QVERIFY(image.pixelColor(image.width() / 2, top).green() > 240);

        // Lower values start red at the bottom and leave the top unfilled.
        gauge.setValue(10);
        const QImage low = gauge.grab().toImage();
        QVERIFY(low.pixelColor(low.width() / 2, bottom).red() > 240);
        QCOMPARE(low.pixel(low.width() / 2, top), parent.palette().color(QPalette::Button).rgb());

        // The sunken edge sits just outside the shape: shadow above, light below.
        int x = 0;
        while (!gauge.exactRegion().contains(QPoint(x + 1, top))) ++x;
        QCOMPARE(image.pixel(x, top - 1), gauge.palette().color(QPalette::Dark).rgb());
    }

    void sameValueTwiceRepaintsOnce() {
        QWidget parent;
        parent.resize(100, 150);
        CShapedGauge gauge;
        QVERIFY(gauge.create(&parent, 10, 10, signalBarShape(), 0));
        gauge.setRange(0, 31);
        gauge.setValue(5);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        PaintCounter counter;
        gauge.installEventFilter(&counter);
        QTest::qWait(0);
        QCoreApplication::sendPostedEvents();
        counter.paints = 0;

        QCOMPARE(gauge.setValue(20), 5);
        QCOMPARE(gauge.setValue(20), 20);
        QTRY_COMPARE(counter.paints, 1);
        // Nothing else pending: flushing the queue brings no second paint.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 1);
        gauge.removeEventFilter(&counter);
    }
};

QTEST_MAIN(GaugeTest)
#include "gauge_test.moc"
