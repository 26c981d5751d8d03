// The secondary dialogs offscreen against real INI files: the Send SMS counter and number
// history, the Settings dialog's exchange with GatewaySettings and its save, and the Change
// SMSC dialog's checks.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRawFont>
#include <QtTest>
#include <cstring>
#include <memory>

#include "core/log.h"
#include "core/settings.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "platform/ini_file.h"
#include "ui/about_dialog.h"
#include "ui/change_smsc_dialog.h"
#include "ui/color_label.h"
#include "ui/main_dialog.h"
#include "ui/pictures.h"
#include "ui/send_sms_dialog.h"
#include "ui/settings_dialog.h"
#include "ui_test_support.h"

using namespace gsms;

namespace {

template <typename T>
T* child(QWidget* dialog, int id) {
    T* w = dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
    if (w == nullptr) qFatal("control %d missing", id);
    return w;
}

void click(QWidget* dialog, int id) { child<QPushButton>(dialog, id)->click(); }

// Replaces an edit's text the way typing does.
void retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
    if (text.isEmpty()) QTest::keyClick(edit, Qt::Key_Delete);
}

// The window lines queued so far, without their date and time.
QStringList drainWindowLog() {
    QStringList lines;
    while (auto line = takeLogLine()) lines << QString::fromLatin1(line->text.substr(20).c_str());
    return lines;
}

QStringList toList(const std::vector<std::string>& lines) {
    QStringList out;
    for (const std::string& l : lines) out << QString::fromLatin1(l.c_str());
    return out;
}

QString text(const char* field) { return QString::fromLatin1(field); }

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempProfile> profile;

    QString history(int key) {
        return QString::fromLatin1(
            ini::read(profile->file("TEVRAK.INI"), "LastPhoneNums", std::to_string(key))
                .value_or("<absent>")
                .c_str());
    }
    QString config(const char* key) {
        return QString::fromLatin1(
            ini::read(profile->file("TEVRAK.INI"), "Config", key).value_or("<absent>").c_str());
    }

    void fillSettings() {
        GatewaySettings& s = settings();
        std::strcpy(s.portName, "COM2");
        std::strcpy(s.portMode, "96,N,8,1");
        std::strcpy(s.pin, "1234");
        std::strcpy(s.number, "+49170111");
        s.retryCount = 5;
        s.retryDelay = 120;
        s.incomingEnable = 1;
        s.qualityPollMs = 5000;
        s.techAlarmNbr = 8999;
        s.sleepMinAfterAlarm = 60;
    }

private Q_SLOTS:
    void initTestCase() { initUiResources(); }

    void init() {
        profile = std::make_unique<test::TempProfile>();
        // Window lines queue up for the test to read.
        setNotifier([](int) {});
        setSettingsModified(false);
    }

    void cleanup() { profile.reset(); }

    // --- Send SMS ---------------------------------------------------------------------------

    void counterShowsLengthAndLimit() {
        CSendSmsDialog dialog;
        dialog.show();
        CColorLabel* counter = dialog.counter();
        const QColor windowText = QApplication::palette().color(QPalette::Text);
        QCOMPARE(counter->text(), QStringLiteral("0 / 160"));
        child<QComboBox>(&dialog, 1000)->setEditText(QStringLiteral("0170 1"));
        QVERIFY(!dialog.sendEnabled());  // an empty message is not sent
        QVERIFY(QFontInfo(counter->font()).family() != QApplication::font().family() ||
                QFontInfo(counter->font()).fixedPitch());
        QCOMPARE(counter->font().pixelSize(), 18);
        // The face draws every character of the counter (DSEG7 has no slash).
        const QRawFont face = QRawFont::fromFont(counter->font());  // without substitutes
        for (QChar c : QStringLiteral("0123456789 /"))
            QVERIFY2(face.supportsCharacter(c), qPrintable(QString(c)));

        auto* text = child<QPlainTextEdit>(&dialog, 1001);
        QTest::keyClicks(text, QStringLiteral("Hallo"));
        QCOMPARE(counter->text(), QStringLiteral("5 / 160"));
        QVERIFY(dialog.sendEnabled());
        QCOMPARE(counter->textColor(), windowText);

        text->setPlainText(QString(161, u'x'));
        QCOMPARE(counter->text(), QStringLiteral("161 / 160"));
        QCOMPARE(counter->textColor(), QColor(255, 0, 0));

        text->setPlainText(QString(160, u'x'));
        QCOMPARE(counter->text(), QStringLiteral("160 / 160"));
        QCOMPARE(counter->textColor(), windowText);

        text->setPlainText(QString(QChar(0xE9)));  // é, a byte of 0x80 or above
        QCOMPARE(counter->text(), QStringLiteral("1 / 140"));

        // What the GSM alphabet cannot carry is marked where it stands and named.
        QVERIFY(dialog.note().isEmpty());
        QVERIFY(text->extraSelections().isEmpty());
        text->setPlainText(QStringLiteral("\u20AC [x] \u20AC"));
        QCOMPARE(counter->text(), QStringLiteral("7 / 160"));
        QCOMPARE(dialog.note(), QStringLiteral("Not in the GSM alphabet:\n\u20AC go out as \"?\"\n"
                                               "[ ] go out as blanks"));
        const auto marks = text->extraSelections();
        QCOMPARE(marks.size(), 4);
        QCOMPARE(marks[1].cursor.selectedText(), QStringLiteral("["));
        QCOMPARE(marks[3].cursor.position(), 7);

        // At most 2000 characters get in.
        text->setPlainText(QString(1999, u'y'));
        QTest::keyClicks(text, QStringLiteral("zzz"));
        QCOMPARE(text->toPlainText().size(), 2000);
        QCOMPARE(counter->text(), QStringLiteral("2000 / 160"));

        // In PDU mode every character arrives: characters left in the last SMS / SMS.
        settings().smsCoding = 1;
        settings().maxMsgLength = 800;
        text->setPlainText(QStringLiteral("\u20AC [x] \u20AC"));
        QCOMPARE(counter->text(), QStringLiteral("149 / 1"));
        QVERIFY(dialog.note().isEmpty());
        QVERIFY(text->extraSelections().isEmpty());
        text->setPlainText(QString(161, u'x'));
        QCOMPARE(counter->text(), QStringLiteral("145 / 2"));
        QCOMPARE(counter->textColor(), windowText);
        settings().smsCoding = 0;
    }

    void enterInTheMessagePressesSend() {
        CSendSmsDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        child<QComboBox>(&dialog, 1000)->setEditText(QStringLiteral("0170 1"));
        auto* text = child<QPlainTextEdit>(&dialog, 1001);
        text->setFocus();
        QTest::keyClick(text, Qt::Key_Return);  // nothing to send yet
        QVERIFY(dialog.isVisible());
        QTest::keyClicks(text, QStringLiteral("ab"));
        QTest::keyClick(text, Qt::Key_Return, Qt::ControlModifier);  // a new line
        QTest::keyClicks(text, QStringLiteral("c"));
        QCOMPARE(text->toPlainText(), QStringLiteral("ab\nc"));
        QVERIFY(dialog.isVisible());
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.message(), QByteArray("ab\r\nc"));
    }

    void historyShowsTheStoredNumbersInOrder() {
        profile->write("TEVRAK.INI",
                       "[LastPhoneNums]\n1=0170 1\n2=\n3=0170 3\n10=0170 10\n");
        CSendSmsDialog dialog;
        auto* number = child<QComboBox>(&dialog, 1000);
        QCOMPARE(number->count(), 3);
        QCOMPARE(number->itemText(0), QStringLiteral("0170 1"));
        QCOMPARE(number->itemText(1), QStringLiteral("0170 3"));
        QCOMPARE(number->itemText(2), QStringLiteral("0170 10"));
        QVERIFY(number->currentText().isEmpty());
    }

    void newNumberGoesOnTopAndTheOldestDrops() {
        std::string ini = "[LastPhoneNums]\n";
        for (int k = 1; k <= 10; ++k) ini += std::to_string(k) + "=0170 " + std::to_string(k) + "\n";
        profile->write("TEVRAK.INI", ini);
        CSendSmsDialog dialog;
        dialog.show();
        child<QPlainTextEdit>(&dialog, 1001)->setPlainText(QStringLiteral("test"));
        // What is not a phone number cannot be sent, and the dialog says why.
        child<QComboBox>(&dialog, 1000)->setEditText(QStringLiteral("0999 new"));
        QVERIFY(!dialog.sendEnabled());
        QCOMPARE(dialog.note(), QStringLiteral("Not a phone number."));
        child<QComboBox>(&dialog, 1000)->setEditText(QStringLiteral("0999 123"));
        QVERIFY(dialog.sendEnabled());
        QVERIFY(dialog.note().isEmpty());
        child<QCheckBox>(&dialog, 1004)->setChecked(true);
        click(&dialog, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.flash(), 1);
        QCOMPARE(history(1), QStringLiteral("0999 123"));
        for (int k = 2; k <= 10; ++k) QCOMPARE(history(k), QStringLiteral("0170 %1").arg(k - 1));

        // Without the engine the submission fails with the red line; the history stays.
        QVERIFY(dialog.send() < 0);
        QCOMPARE(drainWindowLog(), QStringList{QStringLiteral("ERROR sending to 0999 123")});
    }

    void knownNumberDoesNotMove() {
        profile->write("TEVRAK.INI", "[LastPhoneNums]\n1=0170 1\n2=0170 2\n3=0170 3\n");
        const std::string before = profile->read("TEVRAK.INI");
        CSendSmsDialog dialog;
        dialog.show();
        child<QComboBox>(&dialog, 1000)->setEditText(QStringLiteral("0170 3"));
        child<QPlainTextEdit>(&dialog, 1001)->setPlainText(QStringLiteral("test"));
        click(&dialog, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(profile->read("TEVRAK.INI"), before);

        // The comparison is exact: another spelling is a new number.
        CSendSmsDialog again;
        again.show();
        child<QComboBox>(&again, 1000)->setEditText(QStringLiteral("0170  3"));
        child<QPlainTextEdit>(&again, 1001)->setPlainText(QStringLiteral("test"));
        click(&again, 1);
        QCOMPARE(history(1), QStringLiteral("0170  3"));
        QCOMPARE(history(4), QStringLiteral("0170 3"));
    }

    void cancelSendsAndStoresNothing() {
        CSendSmsDialog dialog;
        dialog.show();
        child<QComboBox>(&dialog, 1000)->setEditText(QStringLiteral("0170 9"));
        click(&dialog, 2);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(history(1), QStringLiteral("<absent>"));
    }

    // --- Settings ---------------------------------------------------------------------------

    void settingsShowTheRecordAndStoreTheChange() {
        fillSettings();
        test::BoxWatcher boxes;
        CSettingsDialog dialog;
        dialog.show();
        QCOMPARE(child<QLineEdit>(&dialog, 1066)->text(), QStringLiteral("96"));
        QCOMPARE(child<QLineEdit>(&dialog, 1074)->text(), QStringLiteral("N"));
        QVERIFY(!child<QLineEdit>(&dialog, 1074)->isEnabled());
        QCOMPARE(child<QComboBox>(&dialog, 1065)->currentText(), QStringLiteral("COM2"));
        QCOMPARE(child<QComboBox>(&dialog, 1069)->currentText(), QStringLiteral("5"));
        QCOMPARE(child<QLineEdit>(&dialog, 1070)->text(), QStringLiteral("120"));
        QCOMPARE(child<QLineEdit>(&dialog, 1073)->text(), QStringLiteral("5"));
        QCOMPARE(child<QLineEdit>(&dialog, 1067)->text(), QStringLiteral("1234"));
        QCOMPARE(child<QLineEdit>(&dialog, 1068)->text(), QStringLiteral("+49170111"));
        QVERIFY(child<QCheckBox>(&dialog, 1072)->isChecked());
        QVERIFY(!child<QCheckBox>(&dialog, 1076)->isChecked());
        QCOMPARE(child<QLineEdit>(&dialog, 1071)->text(), QStringLiteral("8999"));
        QCOMPARE(child<QLineEdit>(&dialog, 1075)->text(), QStringLiteral("60"));
        // The buttons lie inside the group box's border.
        const QRect inside =
            dialog.findChild<QGroupBox*>("groupSettings")->geometry().adjusted(1, 1, -1, -1);
        for (int id : {1, 2}) QVERIFY(inside.contains(child<QPushButton>(&dialog, id)->geometry()));

        retype(child<QLineEdit>(&dialog, 1066), QStringLiteral("19200"));
        retype(child<QLineEdit>(&dialog, 1073), QStringLiteral("7"));
        retype(child<QLineEdit>(&dialog, 1067), QString());
        child<QCheckBox>(&dialog, 1076)->click();
        click(&dialog, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(boxes.seen()[0].caption, QStringLiteral("WARNING"));
        QCOMPARE(boxes.seen()[0].text, QStringLiteral("You need to restart the application for "
                                                      "taking in account new parameters"));
        QCOMPARE(boxes.seen()[0].icon, QMessageBox::Warning);

        profile->write("TEVRAK.INI", "[Config]\nPIN=4711\n");
        QVERIFY(dialog.applyAfterClose());
        QVERIFY(!settingsModified());
        QCOMPARE(text(settings().portMode), QStringLiteral("19200,N,8,1"));
        QCOMPARE(settings().qualityPollMs.load(), 7000);
        QCOMPARE(text(settings().pin), QString());
        QCOMPARE(config("Mode"), QStringLiteral("19200,N,8,1"));
        QCOMPARE(config("QualityPollEverySecs"), QStringLiteral("7"));
        QCOMPARE(config("PIN"), QStringLiteral("4711"));  // an empty PIN leaves the file's
        QCOMPARE(config("SmsCoding"), QStringLiteral("1"));

        const QStringList report = {
            QStringLiteral("Settings parameters updated"),
            QStringLiteral("New settings parameters :"),
            QStringLiteral("Com Port: COM2.  Com Port settings: 19200,N,8,1"),
            QStringLiteral("Phone Number: +49170111. PIN: "),
            QStringLiteral("Retries on Errors 5 every 120 seconds"),
            QStringLiteral("Enable incoming: 1. Refresh Signal Indicator every 7 seconds"),
            QStringLiteral("Start techalarm: 8999"),
            QStringLiteral("SMS coding: 1"),
        };
        QCOMPARE(drainWindowLog(), report);
        QCOMPARE(toList(profile->logLines()), report);
    }

    void settingsStoreTheSecondModemInItsSection() {
        fillSettings();
        test::BoxWatcher boxes;
        auto modem2 = [this](const char* key) {
            return QString::fromLatin1(ini::read(profile->file("TEVRAK.INI"), "Modem2", key)
                                           .value_or("<absent>")
                                           .c_str());
        };
        {
            CSettingsDialog dialog;
            dialog.show();
            // No control crosses a group box's border: each lies inside a box or clear of it.
            for (auto* group : dialog.findChildren<QGroupBox*>())
                for (auto* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (w != group && w->geometry().intersects(group->geometry()))
                        QVERIFY2(group->geometry().contains(w->geometry()) ||
                                     w->geometry().contains(group->geometry()),
                                 qPrintable(w->objectName() + u' ' + group->objectName()));
            QCOMPARE(child<QComboBox>(&dialog, 1077)->currentText(), QString());
            QCOMPARE(child<QLineEdit>(&dialog, 1078)->text(), QStringLiteral("96,N,8,1"));
            click(&dialog, 1);
            QVERIFY(dialog.applyAfterClose());
        }
        QCOMPARE(modem2("Port"), QStringLiteral("<absent>"));  // none named: no section
        QCOMPARE(drainWindowLog().size(), 8);
        {
            CSettingsDialog dialog;
            dialog.show();
            child<QComboBox>(&dialog, 1077)->setEditText(QStringLiteral("COM2"));
            click(&dialog, 1);  // the first modem's port
            QVERIFY(dialog.isVisible());
            child<QComboBox>(&dialog, 1077)->setEditText(QStringLiteral("/dev/ttyUSB1"));
            retype(child<QLineEdit>(&dialog, 1078), QStringLiteral("1152,N,8,1"));
            retype(child<QLineEdit>(&dialog, 1079), QStringLiteral("4711"));
            click(&dialog, 1);
            QVERIFY(dialog.applyAfterClose());
        }
        QCOMPARE(modem2("Port"), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(modem2("Mode"), QStringLiteral("1152,N,8,1"));
        QCOMPARE(modem2("PIN"), QStringLiteral("4711"));
        QCOMPARE(drainWindowLog().last(),
                 QStringLiteral("Second modem: Com Port: /dev/ttyUSB1.  Com Port settings: "
                                "1152,N,8,1. PIN: ****"));
        {
            CSettingsDialog dialog;
            QCOMPARE(child<QComboBox>(&dialog, 1077)->currentText(),
                     QStringLiteral("/dev/ttyUSB1"));
            QCOMPARE(child<QLineEdit>(&dialog, 1079)->text(), QStringLiteral("4711"));
            dialog.show();
            child<QComboBox>(&dialog, 1077)->setEditText(QString());
            click(&dialog, 1);
            QVERIFY(dialog.applyAfterClose());
        }
        QCOMPARE(modem2("Port"), QString());
        QCOMPARE(drainWindowLog().last(), QStringLiteral("Second modem: none"));
        settings().modem2 = {};
    }

    void fillingTheEditsCountsAsAChange() {
        fillSettings();
        test::BoxWatcher boxes;
        {
            CSettingsDialog dialog;
            QVERIFY(settingsModified());
            dialog.show();
            click(&dialog, 1);  // nothing touched
            QCOMPARE(boxes.seen().size(), 1);
            QVERIFY(dialog.applyAfterClose());
        }
        QCOMPARE(config("Mode"), QStringLiteral("96,N,8,1"));
        QCOMPARE(drainWindowLog().size(), 8);
    }

    void cancelKeepsTheFlagForTheNextOk() {
        fillSettings();
        test::BoxWatcher boxes;
        {
            CSettingsDialog dialog;
            dialog.show();
            retype(child<QLineEdit>(&dialog, 1070), QStringLiteral("30"));
            click(&dialog, 2);
            QVERIFY(!dialog.applyAfterClose());
        }
        QVERIFY(settingsModified());
        QCOMPARE(settings().retryDelay.load(), 120);
        QCOMPARE(config("RetryDelay"), QStringLiteral("<absent>"));
        QVERIFY(boxes.seen().isEmpty());
        QVERIFY(!takeLogLine());

        // The next OK, without a change, saves and warns.
        CSettingsDialog dialog;
        dialog.show();
        click(&dialog, 1);
        QCOMPARE(boxes.seen().size(), 1);
        QVERIFY(dialog.applyAfterClose());
        QCOMPARE(config("RetryDelay"), QStringLiteral("120"));
    }

    void okWithoutAChangeNeitherSavesNorWarns() {
        resetSettingsForTest();
        test::BoxWatcher boxes;
        CSettingsDialog dialog;
        setSettingsModified(false);  // whatever filling did
        dialog.show();
        click(&dialog, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(boxes.seen().isEmpty());
        QVERIFY(!dialog.applyAfterClose());
        QCOMPARE(config("Port"), QStringLiteral("<absent>"));
    }

    void settingsRefuseBadNumbersAndKeepLengthsInTheirFields() {
        fillSettings();
        std::strcpy(settings().portMode, "96;N;8;1");  // does not split: all empty
        test::BoxWatcher boxes;
        CSettingsDialog dialog;
        dialog.show();
        QVERIFY(child<QLineEdit>(&dialog, 1066)->text().isEmpty());
        QVERIFY(child<QLineEdit>(&dialog, 1074)->text().isEmpty());

        retype(child<QLineEdit>(&dialog, 1070), QStringLiteral("12x"));
        click(&dialog, 1);
        QVERIFY(dialog.isVisible());
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(boxes.seen()[0].text, QStringLiteral("Please enter a positive integer."));

        retype(child<QLineEdit>(&dialog, 1070), QStringLiteral("12"));
        // Digits only in the tech-alarm edits.
        retype(child<QLineEdit>(&dialog, 1071), QStringLiteral("-5a7"));
        QCOMPARE(child<QLineEdit>(&dialog, 1071)->text(), QStringLiteral("57"));
        // Texts are held to their fields.
        retype(child<QLineEdit>(&dialog, 1067), QStringLiteral("12345678901"));
        QCOMPARE(child<QLineEdit>(&dialog, 1067)->text(), QStringLiteral("123456789"));
        // A port name as long as a path may be (a /dev/serial/by-id/usb-... link).
        child<QComboBox>(&dialog, 1065)->lineEdit()->clear();
        QTest::keyClicks(child<QComboBox>(&dialog, 1065)->lineEdit(), QString(70, u'p'));
        QCOMPARE(child<QComboBox>(&dialog, 1065)->currentText().size(), 70);
        QCOMPARE(child<QComboBox>(&dialog, 1065)->lineEdit()->maxLength(),
                 int(sizeof settings().portName) - 1);
        QCOMPARE(child<QLineEdit>(&dialog, 1066)->maxLength(), 60);
        // A retry count that is no number is stored as 0.
        child<QComboBox>(&dialog, 1069)->setEditText(QStringLiteral("x"));

        click(&dialog, 1);
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.applyAfterClose());
        QCOMPARE(settings().retryDelay.load(), 12);
        QCOMPARE(settings().techAlarmNbr.load(), 57);
        QCOMPARE(settings().retryCount.load(), 0);
        QCOMPARE(text(settings().portMode), QStringLiteral(",,,"));
    }

    // --- Change SMSC ------------------------------------------------------------------------

    void smscDialogChecksPlanAndLength() {
        std::strcpy(modemState().smscNumber, "+491722270333");
        modemState().smscType = 145;
        test::BoxWatcher boxes;
        CChangeSmscDialog dialog;
        dialog.show();
        auto* number = child<QLineEdit>(&dialog, 1062);
        auto* plan = child<QLineEdit>(&dialog, 1063);
        QCOMPARE(number->text(), QStringLiteral("+491722270333"));
        QCOMPARE(plan->text(), QStringLiteral("145"));

        retype(number, QString(64, u'1'));
        QTest::keyClicks(number, QStringLiteral("2"));  // a 65th character does not get in
        QCOMPARE(number->text(), QString(64, u'1'));

        // Refused, each with its message, the dialog staying open: an empty number (it would
        // wipe the modem's service centre), one that is no phone number, a plan out of range.
        struct Refusal {
            const char* label;
            QString number, plan, message;
        };
        const Refusal refusals[] = {
            {"64 digits", QString(64, u'1'), QStringLiteral("145"),
             QStringLiteral("This is not a phone number: an optional \"+\" and 1 to 20 digits.")},
            {"empty", QString(), QStringLiteral("145"),
             QStringLiteral("Please enter the number of the SMS service centre.")},
            {"blanks", QStringLiteral("  "), QStringLiteral("145"),
             QStringLiteral("Please enter the number of the SMS service centre.")},
            {"plan 256", QStringLiteral("+4917"), QStringLiteral("256"),
             QStringLiteral("Please enter an integer between 0 and 255.")},
            {"plan abc", QStringLiteral("+4917"), QStringLiteral("abc"),
             QStringLiteral("Please enter a positive integer.")},
        };
        for (const Refusal& r : refusals) {
            number->setText(r.number);
            plan->setText(r.plan);
            boxes.clear();
            click(&dialog, 1);
            QVERIFY2(dialog.isVisible(), r.label);
            QCOMPARE(boxes.seen().size(), 1);
            QCOMPARE(boxes.seen()[0].text, r.message);
        }
        QCOMPARE(plan->selectedText(), QStringLiteral("abc"));  // back in the edit for a fix

        retype(plan, QStringLiteral("255"));
        boxes.clear();
        click(&dialog, 1);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(boxes.seen().isEmpty());
        // Without the engine updateSmsc fails without a word; the values are in.
        QCOMPARE(dialog.applyAfterClose(), -1);
        QCOMPARE(text(modemState().smscNumber), QStringLiteral("+4917"));
        QCOMPARE(modemState().smscType.load(), 255);
        QVERIFY(drainWindowLog().isEmpty());
    }

    void smscDialogAcceptsZeroAndCancelChangesNothing() {
        std::strcpy(modemState().smscNumber, "+4917");
        modemState().smscType = 129;
        {
            CChangeSmscDialog dialog;
            dialog.show();
            retype(child<QLineEdit>(&dialog, 1063), QStringLiteral("0"));
            click(&dialog, 1);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.plan(), 0);
        }
        CChangeSmscDialog dialog;
        dialog.show();
        retype(child<QLineEdit>(&dialog, 1062), QStringLiteral("+1"));
        click(&dialog, 2);
        QCOMPARE(dialog.applyAfterClose(), 1);
        QCOMPARE(text(modemState().smscNumber), QStringLiteral("+4917"));
        QCOMPARE(modemState().smscType.load(), 129);
    }

    void everyTextFitsItsControl() {
        profile->write("hestrum.ini", "[drobel]\nSendWithTevrak=1\n");
        fillSettings();
        std::vector<std::unique_ptr<QDialog>> dialogs;
        dialogs.push_back(std::make_unique<CMainDialog>([] { return 0; }));
        dialogs.push_back(std::make_unique<CSendSmsDialog>());
        dialogs.push_back(std::make_unique<CSettingsDialog>());
        dialogs.push_back(std::make_unique<CChangeSmscDialog>());
        dialogs.push_back(std::make_unique<CAboutDialog>());
        QStringList cut;
        for (auto& dialog : dialogs) {
            dialog->show();
            cut << test::textsThatDoNotFit(dialog.get());
        }
        QVERIFY2(cut.isEmpty(), qPrintable(QFontInfo(dialogs[0]->font()).family() + u'\n' +
                                           cut.join(u'\n')));
    }

    void aboutDialogShowsProductAndPicture() {
        CAboutDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("About Velkora GSM/SMS v1.5"));
        auto* product = dialog.findChild<QLabel*>(QStringLiteral("labelProduct"));
        QVERIFY(product);
        QCOMPARE(product->text(), QStringLiteral("Velkora GSM/SMS v1.5"));
        auto* picture = dialog.findChild<QLabel*>(QStringLiteral("picture"));
        QCOMPARE(picture->pixmap().size(), QSize(200, 100));
        QCOMPARE(picture->size(), QSize(200, 100));
        auto* ok = child<QPushButton>(&dialog, 1);
        QVERIFY(ok->isDefault());
        dialog.show();
        ok->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    // Last: the second link is process-wide and stays.
    void smscDialogChoosesTheModemWhenThereAreTwo() {
        {
            CChangeSmscDialog dialog;
            dialog.show();
            QVERIFY(!child<QComboBox>(&dialog, 1080)->isVisible());  // one modem
        }
        firstModem().setName("modem 1");
        ModemLink& second = createSecondModem();
        std::strcpy(modemState().smscNumber, "+4917011");
        modemState().smscType = 145;
        std::strcpy(second.state().smscNumber, "+4930222");
        second.state().smscType = 129;
        CChangeSmscDialog dialog;
        dialog.show();
        auto* modem = child<QComboBox>(&dialog, 1080);
        QVERIFY(modem->isVisible());
        QCOMPARE(modem->count(), 2);
        QCOMPARE(modem->itemText(1), QStringLiteral("modem 2"));
        QCOMPARE(child<QLineEdit>(&dialog, 1062)->text(), QStringLiteral("+4917011"));
        modem->setCurrentIndex(1);
        QCOMPARE(child<QLineEdit>(&dialog, 1062)->text(), QStringLiteral("+4930222"));
        QCOMPARE(child<QLineEdit>(&dialog, 1063)->text(), QStringLiteral("129"));
        QVERIFY(test::textsThatDoNotFit(&dialog).isEmpty());
        retype(child<QLineEdit>(&dialog, 1062), QStringLiteral("+4930333"));
        click(&dialog, 1);
        QCOMPARE(dialog.modem(), 2);
        // Without the engine updateSmsc fails without a word; the values are in modem 2's.
        QCOMPARE(dialog.applyAfterClose(), -1);
        QCOMPARE(text(second.state().smscNumber), QStringLiteral("+4930333"));
        QCOMPARE(text(modemState().smscNumber), QStringLiteral("+4917011"));
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
