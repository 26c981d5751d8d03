#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "core/settings.h"
#include "core/settings_update.h"
#include "frontend/window_forms.h"
#include "ui/data_exchange.h"
#include "ui/dialog_units.h"
#include "ui_settings_dialog.h"

namespace gsms {

namespace {

// Like a drop-down combo has always been filled: an item starting with the text (in any
// case) is selected, otherwise the text goes into the edit.
void setComboText(QComboBox* combo, const QString& text) {
    const int item = combo->findText(text, Qt::MatchStartsWith);
    if (item >= 0)
        combo->setCurrentIndex(item);
    else
        combo->setEditText(text);
}

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.c_str()); }
std::string toUtf8(const QString& text) { return text.toStdString(); }

}  // namespace

CSettingsDialog::CSettingsDialog(QWidget* parent)
    : QDialog(parent), ui_(new Ui::CSettingsDialog) {
    ui_->setupUi(this);
    applyDialogUnits(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    connect(ui_->id1, &QPushButton::clicked, this, &CSettingsDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);

    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")),
                                                   this);
    ui_->id1071->setValidator(digits);
    ui_->id1075->setValidator(digits);

    opened_ = settingsForm(settings());
    const SettingsLimits limits = settingsLimits(opened_);
    ui_->id1065->lineEdit()->setMaxLength(limits.port);
    ui_->id1066->setMaxLength(limits.baud);
    ui_->id1067->setMaxLength(limits.pin);
    ui_->id1068->setMaxLength(limits.number);
    ui_->id1077->lineEdit()->setMaxLength(limits.port2);
    ui_->id1078->setMaxLength(limits.mode2);
    ui_->id1079->setMaxLength(limits.pin2);

    // The edits report programmatic changes as well: connected before they are filled.
    auto mark = [] { setSettingsModified(true); };
    for (QLineEdit* edit : {ui_->id1066, ui_->id1067, ui_->id1068, ui_->id1070, ui_->id1071,
                            ui_->id1073, ui_->id1075, ui_->id1078, ui_->id1079})
        connect(edit, &QLineEdit::textChanged, this, mark);

    setComboText(ui_->id1065, fromUtf8(opened_.port));
    ui_->id1066->setText(fromUtf8(opened_.baud));
    ui_->id1074->setText(fromUtf8(opened_.parity));
    ui_->id1067->setText(fromUtf8(opened_.pin));
    ui_->id1068->setText(fromUtf8(opened_.number));
    setComboText(ui_->id1069, fromUtf8(opened_.retries));
    ui_->id1070->setText(fromUtf8(opened_.retryDelay));
    ui_->id1072->setChecked(opened_.incoming);
    ui_->id1076->setChecked(opened_.pduCoding);
    ui_->id1073->setText(fromUtf8(opened_.refreshSeconds));
    ui_->id1071->setText(fromUtf8(opened_.techAlarm));
    ui_->id1075->setText(fromUtf8(opened_.quietMinutes));
    // No second modem: the port stays empty, not the first item of the list.
    if (opened_.port2.empty())
        ui_->id1077->setCurrentIndex(-1);
    else
        setComboText(ui_->id1077, fromUtf8(opened_.port2));
    ui_->id1078->setText(fromUtf8(opened_.mode2));
    ui_->id1079->setText(fromUtf8(opened_.pin2));

    // The combos and the check box report only the operator's changes.
    for (QComboBox* combo : {ui_->id1065, ui_->id1069, ui_->id1077}) {
        connect(combo, &QComboBox::editTextChanged, this, mark);
        connect(combo, &QComboBox::currentIndexChanged, this, mark);
    }
    connect(ui_->id1072, &QCheckBox::clicked, this, mark);
    connect(ui_->id1076, &QCheckBox::clicked, this, mark);
}

CSettingsDialog::~CSettingsDialog() { delete ui_; }

SettingsForm CSettingsDialog::form() const {
    SettingsForm f = opened_;
    f.port = toUtf8(ui_->id1065->currentText());
    f.baud = toUtf8(ui_->id1066->text());
    f.pin = toUtf8(ui_->id1067->text());
    f.number = toUtf8(ui_->id1068->text());
    f.retries = toUtf8(ui_->id1069->currentText());
    f.retryDelay = toUtf8(ui_->id1070->text());
    f.incoming = ui_->id1072->isChecked();
    f.pduCoding = ui_->id1076->isChecked();
    f.refreshSeconds = toUtf8(ui_->id1073->text());
    f.techAlarm = toUtf8(ui_->id1071->text());
    f.quietMinutes = toUtf8(ui_->id1075->text());
    f.port2 = toUtf8(ui_->id1077->currentText());
    f.mode2 = toUtf8(ui_->id1078->text());
    f.pin2 = toUtf8(ui_->id1079->text());
    return f;
}

void CSettingsDialog::accept() {
    const FormRefusal refusal = checkSettingsForm(form());
    if (refusal.control != 0) {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("id%1").arg(refusal.control));
        if (edit == nullptr) {  // a combo's edit
            auto* combo = findChild<QComboBox*>(QStringLiteral("id%1").arg(refusal.control));
            if (combo != nullptr) edit = combo->lineEdit();
        }
        refuseInput(this, edit, QString::fromStdString(refusal.message));
        return;
    }
    accepted_ = form();
    QDialog::accept();
    if (settingsModified())
        QMessageBox::warning(parentWidget(), QStringLiteral("WARNING"),
                             QStringLiteral("You need to restart the application for taking "
                                            "in account new parameters"));
}

bool CSettingsDialog::applyAfterClose() {
    if (result() != QDialog::Accepted || !settingsModified()) return false;
    if (applySettingsForm(accepted_, settings()) != 0) return false;
    (void)saveSettings();
    setSettingsModified(false);
    return true;
}

void runSettingsDialog(QWidget* parent) {
    CSettingsDialog dialog(parent);
    dialog.exec();
    (void)dialog.applyAfterClose();
}

}  // namespace gsms
