// CSendSmsDialog: one SMS by hand to a phone number, optionally as flash message, with the
// last ten numbers from section "LastPhoneNums" of tevrak.ini and a character counter that
// follows "SmsCoding": in text mode it turns red when the text no longer fits one SMS, and
// characters the GSM alphabet cannot carry are marked in the text and named under
// "Message :"; in PDU mode it shows the characters left in the last SMS and the SMS the text
// takes, and nothing is marked. Send acts only for a message that is not empty, to a phone
// number. The counting and marking rules are the window's shared ones
// (frontend/window_rules.h). The submission runs after the dialog has closed, on the
// OperatorThread, and ends with a green or red line in the window's log.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QPlainTextEdit>

#include "frontend/window_forms.h"

namespace Ui {
class CSendSmsDialog;
}

namespace gsms {

class CColorLabel;

// The message edit: Enter presses the dialog's default button (Ctrl+Enter starts a new
// line), and the text is held to a number of characters, a line break counting two as it
// does in the text handed on.
class CMessageEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CMessageEdit(QWidget* parent = nullptr);
    void setMaxLength(int length) { maxLength_ = length; }
    int maxLength() const { return maxLength_; }
    // The text as it goes to sendSms: UTF-8 with CR LF line breaks.
    QByteArray bytes() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void enforceLimit();
    int maxLength_ = 32767;
    bool limiting_ = false;
};

class CSendSmsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxMessage = kMaxMessageLength;
    static constexpr int kHistorySize = kNumberHistorySize;

    explicit CSendSmsDialog(QWidget* parent = nullptr);
    ~CSendSmsDialog() override;

    // OK: takes the values and puts a new number at the top of the history; nothing while
    // Send may not act.
    void accept() override;
    // After OK: submits on this thread and logs "Message sent to %s" in green or
    // "ERROR sending to %s" in red. Returns sendSms's result.
    int send();

    QString phoneNumber() const { return number_; }
    QByteArray message() const { return message_; }
    int flash() const { return flash_; }
    CColorLabel* counter() const;
    // What is said under "Message :" (a number that is not one, characters that cannot go).
    QString note() const;
    bool sendEnabled() const;

private:
    void updateCounter();

    Ui::CSendSmsDialog* ui_;
    QString number_;
    QByteArray message_;
    int flash_ = 0;
};

// Runs the dialog modally and, after OK, starts the submission on the OperatorThread.
// True when the dialog ended with OK.
bool runSendSmsDialog(QWidget* parent);

}  // namespace gsms
