#include "ui/send_sms_dialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextCursor>
#include <algorithm>
#include <string>

#include "engine/log.h"
#include "engine/profile_file.h"
#include "sms/sms_submit.h"
#include "ui/color_label.h"
#include "ui/dialog_units.h"
#include "ui_send_sms_dialog.h"

namespace gsms {

namespace {

const char* const kHistoryFile = "tevrak.ini";
const char* const kHistorySection = "LastPhoneNums";
constexpr std::size_t kHistoryValue = 64;  // 63 characters and the terminator

int windowsLength(const QString& text) {
    return static_cast<int>(text.size() + text.count(u'\n'));
}

}  // namespace

CMessageEdit::CMessageEdit(QWidget* parent) : QPlainTextEdit(parent) {
    connect(this, &QPlainTextEdit::textChanged, this, &CMessageEdit::enforceLimit);
}

QByteArray CMessageEdit::bytes() const {
    QString text = toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text.toLatin1();
}

void CMessageEdit::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & Qt::ControlModifier)) {
        event->ignore();  // to the dialog, which presses "Send"
        return;
    }
    if (enter) {
        insertPlainText(QStringLiteral("\n"));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CMessageEdit::enforceLimit() {
    if (limiting_) return;
    const QString text = toPlainText();
    int excess = windowsLength(text) - maxLength_;
    if (excess <= 0) return;
    // Take the surplus back just before the cursor, where it was typed or pasted.
    QTextCursor cursor = textCursor();
    int end = cursor.position();
    if (end == 0) end = static_cast<int>(text.size());
    int start = end;
    while (excess > 0 && start > 0) {
        excess -= text[start - 1] == u'\n' ? 2 : 1;
        --start;
    }
    limiting_ = true;
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    setTextCursor(cursor);
    limiting_ = false;
}

CSendSmsDialog::CSendSmsDialog(QWidget* parent)
    : QDialog(parent), ui_(new Ui::CSendSmsDialog) {
    ui_->setupUi(this);
    applyDialogUnits(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ui_->id1001->setMaxLength(kMaxMessage);
    connect(ui_->id1, &QPushButton::clicked, this, &CSendSmsDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->id1001, &QPlainTextEdit::textChanged, this, &CSendSmsDialog::updateCounter);

    counter()->setTextColor(QApplication::palette().color(QPalette::Text));
    counter()->setFontFaceName(QStringLiteral("LcdD")).setFontSize(18).setText(
        QStringLiteral("0 / 160"));

    const ProfileFile history(kHistoryFile);
    for (int i = 1; i <= kHistorySize; ++i) {
        char value[kHistoryValue];
        history.readString(kHistorySection, std::to_string(i).c_str(), "", sizeof value, value);
        if (value[0] != '\0') ui_->id1000->addItem(QString::fromLatin1(value));
    }
    ui_->id1000->setCurrentIndex(-1);
    ui_->id1000->clearEditText();
}

CSendSmsDialog::~CSendSmsDialog() { delete ui_; }

CColorLabel* CSendSmsDialog::counter() const { return ui_->id1002; }

void CSendSmsDialog::updateCounter() {
    const QByteArray text = ui_->id1001->bytes();
    const bool plain = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const int limit = plain ? 160 : 140;
    const int n = static_cast<int>(text.size());
    counter()->setText(QStringLiteral("%1 / %2").arg(n).arg(limit));
    counter()->setTextColor(n > limit ? QColor(255, 0, 0)
                                      : QApplication::palette().color(QPalette::Text));
}

void CSendSmsDialog::accept() {
    number_ = ui_->id1000->currentText();
    message_ = ui_->id1001->bytes();
    flash_ = ui_->id1004->isChecked() ? 1 : 0;
    QDialog::accept();

    if (ui_->id1000->findText(number_, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0) return;
    const ProfileFile history(kHistoryFile);
    for (int k = kHistorySize; k >= 2; --k) {
        char value[kHistoryValue];
        history.readString(kHistorySection, std::to_string(k - 1).c_str(), "", sizeof value,
                           value);
        history.writeString(kHistorySection, std::to_string(k).c_str(), value);
    }
    history.writeString(kHistorySection, "1", number_.toLatin1().constData());
}

int CSendSmsDialog::send() {
    const QByteArray number = number_.toLatin1();
    const int result = sendSms(number.constData(), message_.constData(), flash_);
    const std::string shown = shownNumber(number.toStdString());
    if (result < 0)
        windowLog(nullptr, "ERROR sending to " + shown, kColorRed);
    else
        windowLog(nullptr, "Message sent to " + shown, kColorGreen);
    return result;
}

void runSendSmsDialog(QWidget* parent) {
    CSendSmsDialog dialog(parent);
    if (dialog.exec() == QDialog::Accepted) (void)dialog.send();
}

}  // namespace gsms
