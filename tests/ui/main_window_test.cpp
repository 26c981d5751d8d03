// The main window offscreen: slot grid geometry, the notification link from the engine's
// real posting functions, the log list's trimming and colours, the low-signal warning, the
// one engine start and the question about "SendWithTevrak".
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "core/log.h"
#include "frontend/front_end.h"
#include "gateway/engine.h"
#include "jobs/job_table.h"
#include "modem/modem_link.h"
#include "sms/signal_thread.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/log_list_box.h"
#include "ui/main_dialog.h"
#include "ui/pictures.h"
#include "ui/send_sms_dialog.h"
#include "ui/shaped_gauge.h"
#include "ui_test_support.h"

using namespace gsms;

namespace {
const char* const kStartingText =
    "Starting: Send SMS and Change SMSC are available once the modem is in service";
const char* const kStoppedText =
    "Stopped after an error (see the log): Send SMS and Change SMSC are not available";
}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempProfile> profile;
    std::unique_ptr<CMainDialog> window;
    int engineStarts = 0;

    QLabel* label(int id) { return window->findChild<QLabel*>(QStringLiteral("id%1").arg(id)); }

    // The window with "SendWithTevrak" already confirmed, shown and exposed.
    void openWindow() {
        window = std::make_unique<CMainDialog>([this] {
            ++engineStarts;
            return 0;
        });
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

private Q_SLOTS:
    void init() {
        profile = std::make_unique<test::TempProfile>();
        profile->write("hestrum.ini", "[drobel]\nSendWithTevrak=1\n");
        engineStarts = 0;
    }

    void cleanup() {
        window.reset();
        profile.reset();
    }

    void windowHasTheTemplateLayout() {
        openWindow();
        const DialogUnits du(window->font());
        QCOMPARE(window->windowTitle(), QStringLiteral("Velkora GSM/SMS"));
        QCOMPARE(window->size(), QSize(du.x(425), du.y(353)));
        QCOMPARE(window->minimumSize(), window->maximumSize());  // not resizable

        // Slot k: picture 1000 + k and label 1030 + k, six to a row.
        const int pictureX[6] = {37, 103, 169, 235, 303, 367};
        const int pictureY[5] = {7, 48, 95, 138, 183};
        const int labelX[6] = {17, 81, 147, 211, 277, 341};
        const int labelY[5] = {31, 74, 119, 162, 210};
        for (int k = 0; k < 30; ++k) {
            const int c = k % 6, r = k / 6;
            const int y = k == 21 ? 137 : pictureY[r];
            QLabel* picture = label(1000 + k);
            QLabel* text = label(1030 + k);
            QVERIFY2(picture && text, qPrintable(QString::number(k)));
            QCOMPARE(picture->geometry(), du.toPixels(QRect(pictureX[c], y, 21, 20)));
            // Two lines, down to the next row of pictures (or the log).
            QCOMPARE(text->geometry(), du.toPixels(QRect(labelX[c], labelY[r], 65, 17)));
            QVERIFY(text->geometry().bottom() <
                    (r < 4 ? du.y(pictureY[r + 1]) - (k + 6 == 21 ? du.y(1) : 0)
                           : window->logList()->geometry().top()));
            QVERIFY(text->fontMetrics().lineSpacing() * 2 <= text->height());
            QCOMPARE(picture->pixmap().toImage(), slotPicture(0).toImage());
            QVERIFY(text->text().isEmpty());
            QVERIFY(text->alignment() & Qt::AlignHCenter);
        }

        QCOMPARE(window->logList()->geometry(), du.toPixels(QRect(7, 228, 382, 86)));
        QCOMPARE(window->logList()->objectName(), QStringLiteral("id1101"));
        QCOMPARE(window->logList()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(label(1064)->geometry(), du.toPixels(QRect(7, 319, 411, 8)));
        QCOMPARE(label(1064)->text(), QString::fromUtf8(kStartingText));

        // The hidden placeholder only lends its corner to the gauge.
        QVERIFY(label(1061)->isHidden());
        CShapedGauge* gauge = window->gauge();
        QVERIFY(gauge);
        QCOMPARE(gauge->pos(), du.toPixels(QRect(394, 228, 24, 59)).topLeft());
        QCOMPARE(gauge->barStyle(), int(CShapedGauge::kGradientUp));
        QCOMPARE(gauge->minimum(), 0);
        QCOMPARE(gauge->maximum(), 31);
        QCOMPARE(gauge->value(), 29);

        struct Button {
            int id;
            const char* text;
            int x;
        };
        for (const Button& b : {Button{1100, "&About", 7}, Button{1103, "&Settings...", 93},
                                Button{1102, "&Send SMS...", 179},
                                Button{1104, "&Change SMSC...", 265}, Button{2, "E&xit", 351}}) {
            auto* button = window->findChild<QPushButton*>(QStringLiteral("id%1").arg(b.id));
            QVERIFY2(button, b.text);
            QCOMPARE(button->text(), QString::fromLatin1(b.text));
            QCOMPARE(button->geometry(), du.toPixels(QRect(b.x, 332, 65, 14)));
            QCOMPARE(button->isDefault(), b.id == 1100);
            // The modem's buttons wait for the engine.
            QCOMPARE(button->isEnabled(), b.id != 1102 && b.id != 1104);
        }
        // The system menu carries the About command after a separator.
        const QList<QAction*> actions = window->systemMenu()->actions();
        QVERIFY(actions.size() >= 2);
        QVERIFY(actions[actions.size() - 2]->isSeparator());
        QCOMPARE(actions.last()->text(), QStringLiteral("&About tevrak..."));
    }

    void slotNotificationsReachTheirControls() {
        openWindow();
        // Captions take two lines, cut with "…" beyond; the tooltip has them whole.
        const QString caption = QStringLiteral("sending 'ALARM 7' to 0170 1234567");
        update_job_slot(29, 2, caption.toLatin1().constData());
        QTRY_COMPARE(label(1059)->toolTip(), caption);
        QCOMPARE(label(1059)->text().count(u'\n'), 1);
        QCOMPARE(label(1059)->text().replace(u'\n', u' '), caption);
        QCOMPARE(label(1029)->pixmap().toImage(), slotPicture(2).toImage());
        const QString longCaption = QStringLiteral("sending 'Boiler pressure low in hall 3, "
                                                   "call the caretaker' to Ben Miller");
        update_job_slot(28, 2, longCaption.toLatin1().constData());
        QTRY_COMPARE(label(1058)->toolTip(), longCaption);
        const QStringList lines = label(1058)->text().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[1].endsWith(QChar(0x2026)));
        for (const QString& line : lines)
            QVERIFY(label(1058)->fontMetrics().horizontalAdvance(line) <= label(1058)->width());
        // A caption is text, whatever it holds.
        QCOMPARE(label(1058)->textFormat(), Qt::PlainText);
        update_job_slot(28, 0, "");
        QTRY_VERIFY(label(1058)->toolTip().isEmpty());
        QVERIFY(slotPicture(2).toImage() != slotPicture(0).toImage());
        // Its neighbour stays as it was.
        QVERIFY(label(1057)->text().isEmpty());
        QCOMPARE(label(1027)->pixmap().toImage(), slotPicture(0).toImage());

        // Freed: idle again.
        update_job_slot(29, 0, "");
        QTRY_VERIFY(label(1059)->text().isEmpty());
        QCOMPARE(label(1029)->pixmap().toImage(), slotPicture(0).toImage());
    }

    void codesWithoutMeaningTouchNothing() {
        openWindow();
        signalQuality().store(3);
        const QString status = label(1064)->text();
        for (int code : {-1, 31, 98, 101, 1024}) window->onNotification(code);
        // A log notification with an empty queue adds nothing either.
        window->onNotification(kNotifyLogLine);
        QCOMPARE(window->logList()->count(), 0);
        QCOMPARE(label(1064)->text(), status);
        QCOMPARE(window->gauge()->value(), 29);
        for (int k = 0; k < 30; ++k) {
            QVERIFY(label(1030 + k)->text().isEmpty());
            QCOMPARE(label(1000 + k)->pixmap().toImage(), slotPicture(0).toImage());
        }
    }

    void logKeepsAtMost1001LinesAndFollowsTheNewest() {
        openWindow();
        CLogListBox* list = window->logList();
        for (int i = 0; i < 1002; ++i) {
            windowLog(nullptr, "line " + std::to_string(i), kColorDefault);
            const QString last = QStringLiteral(" line %1").arg(i);
            QTRY_VERIFY(list->count() > 0 && list->item(list->count() - 1)->text().endsWith(last));
        }
        // Trimmed to 1000 before each append: of 1002 lines the oldest one went.
        QCOMPARE(list->count(), 1001);
        QVERIFY(list->item(0)->text().endsWith(QStringLiteral(" line 1")));
        QVERIFY(list->item(1000)->text().endsWith(QStringLiteral(" line 1001")));
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualItemRect(list->item(1000))));
        QVERIFY(!list->viewport()->rect().intersects(list->visualItemRect(list->item(0))));
    }

    void logLinesAreDrawnInTheirColours() {
        openWindow();
        CLogListBox* list = window->logList();
        // Unsmoothed text, so that the glyphs carry the pen colour exactly.
        QFont font = list->font();
        font.setStyleStrategy(QFont::NoAntialias);
        list->setFont(font);
        windowLog(nullptr, "ordinary line WWWW", kColorDefault);
        windowLog(nullptr, "ERROR line WWWW", kColorRed);
        QTRY_COMPARE(list->count(), 2);
        QCOMPARE(list->lineColour(0), ColorRef(0));
        QCOMPARE(list->lineColour(1), kColorRed);

        list->clearSelection();
        list->setCurrentItem(nullptr);
        QImage image = list->viewport()->grab().toImage();
        const QColor windowText = list->palette().color(QPalette::Text);
        const QColor base = list->palette().color(QPalette::Base);
        QVERIFY(countColour(image, list->visualItemRect(list->item(0)), windowText) > 0);
        QCOMPARE(colourAt(image, background(list->visualItemRect(list->item(0)))), base);
        QVERIFY(countColour(image, list->visualItemRect(list->item(1)), QColor(255, 0, 0)) > 0);

        // Selected: the red line shows on red in cyan, the ordinary one on black.
        list->setCurrentRow(1);
        image = list->viewport()->grab().toImage();
        QRect red = list->visualItemRect(list->item(1));
        QCOMPARE(colourAt(image, background(red)), QColor(255, 0, 0));
        QVERIFY(countColour(image, red, QColor(0, 255, 255)) > 0);

        list->setCurrentRow(0);
        image = list->viewport()->grab().toImage();
        QRect plain = list->visualItemRect(list->item(0));
        QCOMPARE(colourAt(image, background(plain)), QColor(0, 0, 0));
        QVERIFY(countColour(image, plain, list->palette().color(QPalette::HighlightedText)) > 0);

        // A grey line's inverse is grey too: selected, it is written in black.
        windowLog(nullptr, "settings line WWWW", kColorGrey);
        QTRY_COMPARE(list->count(), 3);
        list->setCurrentRow(2);
        image = list->viewport()->grab().toImage();
        QRect grey = list->visualItemRect(list->item(2));
        QCOMPARE(colourAt(image, background(grey)), QColor(128, 128, 128));
        QVERIFY(countColour(image, grey, QColor(0, 0, 0)) > 0);
        QCOMPARE(countColour(image, grey, QColor(127, 127, 127)), 0);
    }

    void lowSignalShowsAndClearsTheWarning() {
        setEngineStageForTest(EngineStage::Running);
        openWindow();
        const QString warning = QString::fromLatin1(kLowSignalText);
        QCOMPARE(warning, QStringLiteral("WARNING : Low signal quality, SMS submissions are "
                                         "impaired or even not operational."));
        signalQuality().store(11);
        notify(kNotifySignal);
        QTRY_COMPARE(label(1064)->text(), warning);
        QCOMPARE(window->gauge()->value(), 11);

        signalQuality().store(12);
        notify(kNotifySignal);
        QTRY_VERIFY(label(1064)->text().isEmpty());
        QCOMPARE(window->gauge()->value(), 12);

        signalQuality().store(0);
        notify(kNotifySignal);
        QTRY_COMPARE(label(1064)->text(), warning);
        QCOMPARE(window->gauge()->value(), 0);
    }

    void engineStartsOnceFromTheFirstTick() {
        openWindow();
        QCOMPARE(engineStarts, 0);
        QTRY_COMPARE_WITH_TIMEOUT(engineStarts, 1, 10000);
        QVERIFY(!window->startupTimerActive());
        for (int i = 0; i < 3; ++i) window->onStartupTick();
        QCOMPARE(engineStarts, 1);
    }

    void sendWithTevrakIsAskedUntilConfirmed() {
        profile->write("hestrum.ini", "[drobel]\nSendWithTevrak=0\n");
        test::BoxWatcher boxes(QMessageBox::No);
        openWindow();
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(boxes.seen()[0].caption, QStringLiteral("Please confirm.."));
        QCOMPARE(boxes.seen()[0].text,
                 QStringLiteral("Activate function to send SMS with this program for an alarm "
                                "?\n(The flag SendWithTevrak in Hestrum.ini under [drobel] is "
                                "set to 1)"));
        QCOMPARE(boxes.seen()[0].icon, QMessageBox::Question);
        QVERIFY(profile->read("hestrum.ini").find("SendWithTevrak=0") != std::string::npos);

        // Asked again at the next start; Yes writes the flag, after which nobody asks.
        window.reset();
        boxes.setAnswer(QMessageBox::Yes);
        openWindow();
        QCOMPARE(boxes.seen().size(), 2);
        QVERIFY(profile->read("hestrum.ini").find("SendWithTevrak=1") != std::string::npos);
        window.reset();
        profile->write("hestrum.ini", "[drobel]\nSendWithTevrak=7\n");
        openWindow();
        QCOMPARE(boxes.seen().size(), 2);
    }

    void aboutOpensFromTheButtonAndTheSystemMenu() {
        openWindow();
        int shown = 0;
        auto closeAbout = [&shown](CAboutDialog* about) {
            ++shown;
            about->findChild<QPushButton*>(QStringLiteral("id1"))->click();
        };
        test::whenModal<CAboutDialog>(closeAbout);
        window->findChild<QPushButton*>(QStringLiteral("id1100"))->click();
        QCOMPARE(shown, 1);
        // The command id counts without its low four bits; other commands open nothing.
        test::whenModal<CAboutDialog>(closeAbout);
        window->onSysCommand(CMainDialog::kAboutCommand | 0x3);
        QCOMPARE(shown, 2);
        window->onSysCommand(0xF020);
        QCOMPARE(shown, 2);
    }

    void modemButtonsFollowTheEngineStage() {
        openWindow();
        auto* send = window->findChild<QPushButton*>(QStringLiteral("id1102"));
        auto* smsc = window->findChild<QPushButton*>(QStringLiteral("id1104"));
        // A click on a button that may not act opens nothing, now or later.
        QTest::mouseClick(send, Qt::LeftButton);
        QTest::mouseClick(smsc, Qt::LeftButton);
        QTest::qWait(50);
        QVERIFY(QApplication::activeModalWidget() == nullptr);

        struct Step {
            const char* label;
            EngineStage stage;
            bool modemButtons;
            QString status;
            int gauge;
        } steps[] = {
            {"starting", EngineStage::Starting, false, QString::fromUtf8(kStartingText), 29},
            {"running", EngineStage::Running, true, QString(), 29},
            {"stopped", EngineStage::Stopped, false, QString::fromUtf8(kStoppedText), 0},
        };
        for (const Step& step : steps) {
            setEngineStageForTest(step.stage);
            notify(kNotifyEngineState);
            QTRY_COMPARE(label(1064)->text(), step.status);
            QVERIFY2(send->isEnabled() == step.modemButtons, step.label);
            QVERIFY2(smsc->isEnabled() == step.modemButtons, step.label);
            QCOMPARE(window->gauge()->value(), step.gauge);
        }
    }

    // Last: the second link is process-wide and stays.
    void aSecondModemGetsAGaugeAndALineOfItsOwn() {
        setEngineStageForTest(EngineStage::Running);
        firstModem().started() = true;
        firstModem().signalRead() = true;
        signalQuality().store(20);
        openWindow();
        QVERIFY(window->secondGauge() == nullptr);
        QVERIFY(window->modemLine(1) == nullptr);

        firstModem().setName("modem 1");
        ModemLink& second = createSecondModem();
        second.started() = true;
        second.signalRead() = true;
        second.signalQuality() = 7;
        second.down() = true;
        notify(kNotifySignal);
        QTRY_VERIFY(window->secondGauge() != nullptr);
        const DialogUnits du(window->font());
        QCOMPARE(window->logList()->geometry(), du.toPixels(QRect(7, 228, 354, 66)));
        QCOMPARE(window->gauge()->pos(), du.toPixels(QRect(366, 228, 24, 59)).topLeft());
        QCOMPARE(window->secondGauge()->pos(), du.toPixels(QRect(394, 228, 24, 59)).topLeft());
        QCOMPARE(window->gauge()->value(), 20);
        QCOMPARE(window->secondGauge()->value(), 7);
        QCOMPARE(window->modemLine(1)->text(),
                 QStringLiteral("modem 1: signal 20 of 31, in service"));
        QCOMPARE(window->modemLine(2)->text(),
                 QStringLiteral("modem 2: signal 7 of 31, path down"));
        QCOMPARE(label(1064)->text(), QStringLiteral("modem 2: path down"));
        QVERIFY(!window->modemLine(2)->geometry().intersects(window->logList()->geometry()));
        QVERIFY(!window->modemLine(2)->geometry().intersects(label(1064)->geometry()));
        const QStringList cut = test::textsThatDoNotFit(window.get());
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u'\n')));

        second.down() = false;
        notify(kNotifySignal);
        QTRY_COMPARE(label(1064)->text(), QStringLiteral("modem 2: ") + kLowSignalText);
        QCOMPARE(window->modemLine(2)->text(),
                 QStringLiteral("modem 2: signal 7 of 31, in service"));
    }

private:
    // A point of the line's background: right of its text, clear of a focus frame.
    static QPoint background(const QRect& line) { return {line.right() - 4, line.center().y()}; }

    static QColor colourAt(const QImage& image, const QPoint& p) { return image.pixelColor(p); }

    static int countColour(const QImage& image, const QRect& rect, const QColor& colour) {
        int n = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                if (image.valid(x, y) && image.pixelColor(x, y).rgb() == colour.rgb()) ++n;
        return n;
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
