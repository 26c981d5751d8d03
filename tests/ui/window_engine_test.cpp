// The window with the real engine inside, against gsms-modem-sim: what the operator may do
// while the modem is brought into service, and how the window behaves while the modem works
// for him. The engine starts once per process, so the cases follow its life in order.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "core/log.h"
#include "e2e/harness.h"
#include "gateway/engine.h"
#include "gateway/operator_action.h"
#include "ui/change_smsc_dialog.h"
#include "ui/log_list_box.h"
#include "ui/main_dialog.h"
#include "ui/send_sms_dialog.h"
#include "ui_test_support.h"

using namespace gsms;

namespace {

constexpr int kLong = 60000;  // ms: a loaded machine may take its time

template <typename T>
T* child(QWidget* parent, int id) {
    T* w = parent->findChild<T*>(QStringLiteral("id%1").arg(id));
    if (w == nullptr) qFatal("control %d missing", id);
    return w;
}

// Records the log's last line whenever a button becomes enabled.
class EnabledWatcher : public QObject {
public:
    EnabledWatcher(QPushButton* button, CLogListBox* log) : log_(log) {
        button->installEventFilter(this);
    }
    QStringList lastLineWhenEnabled;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* button = static_cast<QPushButton*>(watched);
        if (event->type() == QEvent::EnabledChange && button->isEnabled())
            lastLineWhenEnabled << (log_->count() > 0 ? log_->item(log_->count() - 1)->text()
                                                      : QString());
        return false;
    }

private:
    CLogListBox* log_;
};

}  // namespace

class WindowEngineTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempProfile> profile;
    std::unique_ptr<e2e::Simulator> sim;
    std::unique_ptr<CMainDialog> window;

    QPushButton* button(int id) { return child<QPushButton>(window.get(), id); }
    QString status() { return child<QLabel>(window.get(), 1064)->text(); }

    bool logShows(const QString& text, ColorRef colour) {
        CLogListBox* list = window->logList();
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text().endsWith(QLatin1Char(' ') + text) &&
                list->lineColour(i) == colour)
                return true;
        return false;
    }

    // The buttons' states, About, Settings, Send SMS, Change SMSC, Exit, as "10101".
    QString enabledButtons() {
        QString out;
        for (int id : {1100, 1103, 1102, 1104, 2}) out += button(id)->isEnabled() ? u'1' : u'0';
        return out;
    }

private Q_SLOTS:
    void initTestCase() {
        profile = std::make_unique<test::TempProfile>();
        profile->write("hestrum.ini", "[drobel]\nSendWithTevrak=1\n");
        for (const char* d : {"in", "done", "error"})
            std::filesystem::create_directory(profile->file(d));
        sim = std::make_unique<e2e::Simulator>(profile->file(""));
        // The network registration (at+cops) goes unanswered until the test lets it through.
        QVERIFY(sim->start({"--cops-fail"}));
        profile->write("TEVRAK.INI", "[Config]\nPort=" + sim->link() +
                                         "\nWatchPath=" + profile->file("in") +
                                         "\nDonePath=" + profile->file("done") +
                                         "\nErrorPath=" + profile->file("error") +
                                         "\nWatchTimeout=1\nIncomingEnable=0\n"
                                         "QualityPollEverySecs=3600\n");
        window = std::make_unique<CMainDialog>();  // the real engine starter
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanupTestCase() {
        window.reset();
        sim.reset();
    }

    void modemButtonsWaitForTheEngine() {
        EnabledWatcher watcher(button(1102), window->logList());
        QVERIFY(QTest::qWaitFor([this] { return sim->count("at+cops=") >= 1; }, kLong));
        QCOMPARE(engineStage(), EngineStage::Initialising);
        QCOMPARE(enabledButtons(), QStringLiteral("11001"));
        QCOMPARE(status(), QStringLiteral("Starting: Send SMS and Change SMSC are available "
                                          "once the modem is in service"));
        // Clicks open nothing, and the actions refuse with their red lines.
        QTest::mouseClick(button(1102), Qt::LeftButton);
        QTest::mouseClick(button(1104), Qt::LeftButton);
        QCOMPARE(startHandSms("+4917011", "early", 0), -1);
        QCOMPARE(startSmscChange("+4917011", 145), -1);
        QTRY_VERIFY(logShows(QStringLiteral("ERROR sending to +4917011"), kColorRed));
        QTRY_VERIFY(logShows(QStringLiteral("ERROR changing the SMSC to +4917011"), kColorRed));
        QVERIFY(QApplication::activeModalWidget() == nullptr);

        QCOMPARE(QString::fromStdString(sim->control("cops fail off")), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(enabledButtons(), QStringLiteral("11111"), kLong);
        QCOMPARE(watcher.lastLineWhenEnabled.size(), 1);
        QVERIFY(watcher.lastLineWhenEnabled[0].endsWith(QStringLiteral(" SignalThread started")));
        QVERIFY(status().isEmpty());
        // The modem heard neither a submission nor an SMSC change during all that.
        QCOMPARE(sim->count("at+csmp"), 0);
        QCOMPARE(sim->count("at+csca="), 0);
    }

    void handSentSmsLeavesTheWindowResponsive() {
        QCOMPARE(QString::fromStdString(sim->control("send-delay 5000")), QStringLiteral("ok"));
        test::whenModal<CSendSmsDialog>([](CSendSmsDialog* dialog) {
            child<QComboBox>(dialog, 1000)->setEditText(QStringLiteral("+49 170 11"));
            child<QPlainTextEdit>(dialog, 1001)->setPlainText(QStringLiteral("Hall 3: pressure"));
            child<QPushButton>(dialog, 1)->click();
        });
        button(1102)->click();
        // The dialog is gone at once; the window waits for the modem, visibly.
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(runningOperatorAction(), OperatorAction::SendSms);
        QCOMPARE(status(), QStringLiteral("Sending\u2026"));
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QCOMPARE(enabledButtons(), QStringLiteral("00000"));

        // Input meanwhile is dropped: no dialog now, none afterwards, the window stays.
        for (int id : {1102, 1104, 1100, 2}) QTest::mouseClick(button(id), Qt::LeftButton);
        QTest::keyClick(window.get(), Qt::Key_Escape);
        // The engine's notifications are still shown.
        windowLog(nullptr, "shown while sending", kColorDefault);
        QTRY_VERIFY(logShows(QStringLiteral("shown while sending"), kColorDefault));
        QCOMPARE(runningOperatorAction(), OperatorAction::SendSms);

        QTRY_VERIFY_WITH_TIMEOUT(logShows(QStringLiteral("Message sent to +49 170 11"),
                                          kColorGreen),
                                 kLong);
        QTRY_COMPARE(enabledButtons(), QStringLiteral("11111"));
        QVERIFY(status().isEmpty());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QTest::qWait(200);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(window->isVisible());
        QCOMPARE(sim->records().size(), std::size_t(1));
        QVERIFY(sim->records()[0].find("\"to\":\"+4917011\"") != std::string::npos);
        QCOMPARE(QString::fromStdString(sim->control("send-delay 0")), QStringLiteral("ok"));
    }

    void sendSmsRefusesAnEmptyMessageAndMarksWhatCannotGo() {
        bool emptyRefused = false;
        QString note;
        test::whenModal<CSendSmsDialog>([&](CSendSmsDialog* dialog) {
            child<QComboBox>(dialog, 1000)->setEditText(QStringLiteral("+4917022"));
            auto* text = child<QPlainTextEdit>(dialog, 1001);
            text->setFocus();
            QTest::keyClick(text, Qt::Key_Return);
            emptyRefused = dialog->isVisible() && !dialog->sendEnabled();
            text->insertPlainText(QStringLiteral("5 \u20AC [bar] \u201Ehoch\u201C"));  // pasted
            note = dialog->note();
            QTest::keyClick(text, Qt::Key_Return);
        });
        button(1102)->click();
        QVERIFY(emptyRefused);
        QCOMPARE(note, QStringLiteral("Not in the GSM alphabet:\n\u201E \u201C go out as \" \"\n"
                                      "\u20AC go out as \"?\"\n[ ] go out as blanks"));
        QTRY_VERIFY_WITH_TIMEOUT(logShows(QStringLiteral("Message sent to +4917022"),
                                          kColorGreen),
                                 kLong);
        // What was marked is exactly what the phone gets otherwise.
        const auto records = sim->records();
        QCOMPARE(records.size(), std::size_t(2));
        QVERIFY2(records[1].find("\"text\":\"5 ?  bar  \\\"hoch\\\"\"") != std::string::npos,
                 records[1].c_str());
    }

    void changeSmscShowsTheModemsAndRefusesAnEmptyNumber() {
        test::BoxWatcher boxes;
        QString shown;
        test::whenModal<CChangeSmscDialog>([&](CChangeSmscDialog* dialog) {
            auto* number = child<QLineEdit>(dialog, 1062);
            shown = number->text() + u' ' + child<QLineEdit>(dialog, 1063)->text();
            number->clear();
            child<QPushButton>(dialog, 1)->click();
            if (!dialog->isVisible()) return;  // the refusal is checked below
            number->setText(QStringLiteral("+49 172 2270333"));
            child<QPushButton>(dialog, 1)->click();
        });
        button(1104)->click();
        QCOMPARE(shown, QStringLiteral("+491710760000 145"));  // read at start-up
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(boxes.seen()[0].text,
                 QStringLiteral("Please enter the number of the SMS service centre."));
        QTRY_VERIFY_WITH_TIMEOUT(
            logShows(QStringLiteral("New SMSC parameters : '+491722270333' [145]"), kColorGrey),
            kLong);
        QTRY_COMPARE(enabledButtons(), QStringLiteral("11111"));
        QCOMPARE(sim->count("at+csca="), 1);
        QCOMPARE(sim->count("at+csca=\"+491722270333\",145"), 1);
    }

    void slotCaptionTakesTwoLinesWithTheWholeAsTooltip() {
        QCOMPARE(QString::fromStdString(sim->control("send-delay 2000")), QStringLiteral("ok"));
        e2e::writeText(profile->file("in/boiler.sms"),
                       "[Alarm]\r\nPhoneNumber=+4917033\r\nName=Ben Miller\r\n"
                       "Message=Boiler pressure low, hall 3\r\n");
        auto* caption = child<QLabel>(window.get(), 1030);
        const QString whole = QStringLiteral("sending 'Boiler pressure  (...)' to Ben Miller");
        QTRY_COMPARE_WITH_TIMEOUT(caption->toolTip(), whole, kLong);
        const QStringList lines = caption->text().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith(QStringLiteral("sending 'Boiler")));
        QVERIFY(lines[1].endsWith(QStringLiteral("Miller")) || lines[1].endsWith(QChar(0x2026)));
        QTRY_VERIFY_WITH_TIMEOUT(caption->toolTip().isEmpty(), kLong);  // sent and reported
    }
};

QTEST_MAIN(WindowEngineTest)
#include "window_engine_test.moc"
