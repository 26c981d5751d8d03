#include "ui/send_sms_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextCursor>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/operator_action.h"
#include "ui/color_label.h"
#include "ui/dialog_units.h"
#include "ui_send_sms_dialog.h"

namespace gsms {

namespace {

std::u16string_view utf16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QByteArray toBytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CMessageEdit::CMessageEdit(QWidget* parent) : QPlainTextEdit(parent) {
    connect(this, &QPlainTextEdit::textChanged, this, &CMessageEdit::enforceLimit);
}

QByteArray CMessageEdit::bytes() const { return toBytes(checkMessage(utf16(toPlainText())).bytes); }

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
    int excess = typedLength(utf16(text)) - maxLength_;
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
    connect(ui_->id1000, &QComboBox::editTextChanged, this, &CSendSmsDialog::updateCounter);
    QPalette notePalette = ui_->labelNote->palette();
    notePalette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ui_->labelNote->setPalette(notePalette);

    counter()->setTextColor(QApplication::palette().color(QPalette::Text));
    counter()
        ->setFontFaceName(QString::fromLatin1(kCounterFace))
        .setFontSize(kCounterFontSize)
        .setText(QStringLiteral("0 / 160"));

    for (const std::string& number : readNumberHistory())
        ui_->id1000->addItem(QString::fromUtf8(number.c_str()));
    ui_->id1000->setCurrentIndex(-1);
    ui_->id1000->clearEditText();
    updateCounter();
}

CSendSmsDialog::~CSendSmsDialog() { delete ui_; }

CColorLabel* CSendSmsDialog::counter() const { return ui_->id1002; }

QString CSendSmsDialog::note() const { return ui_->labelNote->text(); }

bool CSendSmsDialog::sendEnabled() const { return ui_->id1->isEnabled(); }

void CSendSmsDialog::updateCounter() {
    const QString typed = ui_->id1001->toPlainText();
    const MessageCheck check = checkMessage(utf16(typed));
    const std::string number = ui_->id1000->currentText().toStdString();
    counter()->setText(QString::fromStdString(counterText(check)));
    counter()->setTextColor(counterIsRed(check) ? QColor(255, 0, 0)
                                                : QApplication::palette().color(QPalette::Text));
    ui_->labelNote->setText(QString::fromStdString(messageNote(check, number)));
    ui_->id1->setEnabled(sendMayAct(check, number));

    // The characters that would not arrive as typed, marked where they stand.
    QList<QTextEdit::ExtraSelection> marks;
    for (const TextSpan& span : check.marks) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(ui_->id1001->document());
        mark.cursor.setPosition(static_cast<int>(span.start));
        mark.cursor.setPosition(static_cast<int>(span.start + span.length),
                                QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(255, 190, 190));
        mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        mark.format.setUnderlineColor(QColor(255, 0, 0));
        marks.push_back(mark);
    }
    ui_->id1001->setExtraSelections(marks);
}

void CSendSmsDialog::accept() {
    if (!ui_->id1->isEnabled()) return;  // Enter in the message with nothing to send
    number_ = ui_->id1000->currentText();
    message_ = ui_->id1001->bytes();
    flash_ = ui_->id1004->isChecked() ? 1 : 0;
    QDialog::accept();

    std::vector<std::string> shown;
    for (int i = 0; i < ui_->id1000->count(); ++i)
        shown.push_back(ui_->id1000->itemText(i).toStdString());
    (void)rememberNumber(number_.toStdString(), shown);
}

int CSendSmsDialog::send() {
    return sendHandSms(number_.toStdString(), message_.toStdString(), flash_);
}

bool runSendSmsDialog(QWidget* parent) {
    CSendSmsDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    (void)startHandSms(dialog.phoneNumber().toStdString(),
                       dialog.message().toStdString(), dialog.flash());
    return true;
}

}  // namespace gsms
