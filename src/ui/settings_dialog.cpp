#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "engine/settings.h"
#include "engine/settings_update.h"
#include "ui/data_exchange.h"
#include "ui/dialog_units.h"
#include "ui_settings_dialog.h"

namespace gsms {

namespace {

bool g_modified = false;

// The record's text capacities, terminator excluded.
constexpr int kPortLength = sizeof(GatewaySettings::portName) - 1;
constexpr int kModeLength = sizeof(GatewaySettings::portMode) - 1;
constexpr int kPinLength = sizeof(GatewaySettings::pin) - 1;
constexpr int kNumberLength = sizeof(GatewaySettings::number) - 1;
// Seconds that still fit the record's millisecond field.
constexpr int kMaxRefreshSeconds = INT_MAX / 1000;

// Like a drop-down combo has always been filled: an item starting with the text (in any
// case) is selected, otherwise the text goes into the edit.
void setComboText(QComboBox* combo, const QString& text) {
    const int item = combo->findText(text, Qt::MatchStartsWith);
    if (item >= 0)
        combo->setCurrentIndex(item);
    else
        combo->setEditText(text);
}

template <std::size_t N>
void storeText(char (&field)[N], const QString& text) {
    std::snprintf(field, N, "%s", text.toLatin1().constData());
}

}  // namespace

bool settingsModified() { return g_modified; }
void setSettingsModified(bool modified) { g_modified = modified; }

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

    const GatewaySettings& s = settings();
    char t[4][64] = {};
    if (std::sscanf(s.portMode, "%63[a-zA-Z0-9],%63[a-zA-Z0-9],%63[a-zA-Z0-9],%63[a-zA-Z0-9]",
                    t[0], t[1], t[2], t[3]) != 4)
        t[0][0] = t[1][0] = t[2][0] = t[3][0] = '\0';
    for (int i = 0; i < 4; ++i) modeTokens_[i] = QString::fromLatin1(t[i]);

    // Every value must fit its field; the baud rate leaves room for the rest of the mode.
    ui_->id1065->lineEdit()->setMaxLength(kPortLength);
    ui_->id1066->setMaxLength(std::max<int>(
        0, kModeLength - 3 -
               static_cast<int>(modeTokens_[1].size() + modeTokens_[2].size() +
                                modeTokens_[3].size())));
    ui_->id1067->setMaxLength(kPinLength);
    ui_->id1068->setMaxLength(kNumberLength);

    // The edits report programmatic changes as well: connected before they are filled.
    auto mark = [] { g_modified = true; };
    for (QLineEdit* edit : {ui_->id1066, ui_->id1067, ui_->id1068, ui_->id1070, ui_->id1071,
                            ui_->id1073, ui_->id1075})
        connect(edit, &QLineEdit::textChanged, this, mark);

    setComboText(ui_->id1065, QString::fromLatin1(s.portName));
    ui_->id1066->setText(modeTokens_[0]);
    ui_->id1074->setText(modeTokens_[1]);
    ui_->id1067->setText(QString::fromLatin1(s.pin));
    ui_->id1068->setText(QString::fromLatin1(s.number));
    setComboText(ui_->id1069, QString::number(s.retryCount.load()));
    ui_->id1070->setText(QString::number(static_cast<unsigned>(s.retryDelay.load())));
    ui_->id1072->setChecked(s.incomingEnable.load() != 0);
    ui_->id1073->setText(QString::number(static_cast<unsigned>(s.qualityPollMs.load() / 1000)));
    ui_->id1071->setText(QString::number(s.techAlarmNbr.load()));
    ui_->id1075->setText(QString::number(s.sleepMinAfterAlarm.load()));

    // The combos and the check box report only the operator's changes.
    for (QComboBox* combo : {ui_->id1065, ui_->id1069}) {
        connect(combo, &QComboBox::editTextChanged, this, mark);
        connect(combo, &QComboBox::currentIndexChanged, this, mark);
    }
    connect(ui_->id1072, &QCheckBox::clicked, this, mark);
}

CSettingsDialog::~CSettingsDialog() { delete ui_; }

void CSettingsDialog::accept() {
    const auto delay = exchangeUnsigned(this, ui_->id1070, INT_MAX);
    if (!delay) return;
    const auto refresh = exchangeUnsigned(this, ui_->id1073, kMaxRefreshSeconds);
    if (!refresh) return;
    const auto techAlarm = exchangeSigned(this, ui_->id1071);
    if (!techAlarm) return;
    const auto quiet = exchangeSigned(this, ui_->id1075);
    if (!quiet) return;
    retryDelay_ = static_cast<unsigned>(*delay);
    refreshSeconds_ = static_cast<unsigned>(*refresh);
    techAlarmNumber_ = *techAlarm;
    quietMinutes_ = *quiet;
    QDialog::accept();
    if (g_modified)
        QMessageBox::warning(parentWidget(), QStringLiteral("WARNING"),
                             QStringLiteral("You need to restart the application for taking "
                                            "in account new parameters"));
}

bool CSettingsDialog::applyAfterClose() {
    if (result() != QDialog::Accepted || !g_modified) return false;
    GatewaySettings& s = settings();
    storeText(s.portName, ui_->id1065->currentText());
    s.retryCount = std::atoi(ui_->id1069->currentText().toLatin1().constData());
    s.incomingEnable = ui_->id1072->isChecked() ? 1 : 0;
    storeText(s.pin, ui_->id1067->text());
    storeText(s.number, ui_->id1068->text());
    s.retryDelay = static_cast<int>(retryDelay_);
    s.qualityPollMs = static_cast<int>(refreshSeconds_) * 1000;
    s.techAlarmNbr = techAlarmNumber_;
    s.sleepMinAfterAlarm = quietMinutes_;
    storeText(s.portMode, ui_->id1066->text() + u',' + modeTokens_[1] + u',' + modeTokens_[2] +
                              u',' + modeTokens_[3]);
    (void)saveSettings();
    g_modified = false;
    return true;
}

void runSettingsDialog(QWidget* parent) {
    CSettingsDialog dialog(parent);
    dialog.exec();
    (void)dialog.applyAfterClose();
}

}  // namespace gsms
