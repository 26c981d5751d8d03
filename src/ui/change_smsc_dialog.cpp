#include "ui/change_smsc_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/operator_action.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "ui/data_exchange.h"
#include "ui/dialog_units.h"
#include "ui_change_smsc_dialog.h"

namespace gsms {

CChangeSmscDialog::CChangeSmscDialog(QWidget* parent)
    : QDialog(parent), ui_(new Ui::CChangeSmscDialog) {
    ui_->setupUi(this);
    applyDialogUnits(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ui_->id1062->setMaxLength(kSmscNumberLength);
    connect(ui_->id1, &QPushButton::clicked, this, &CChangeSmscDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);

    const bool two = modemCount() > 1;
    ui_->labelModem->setVisible(two);
    ui_->id1080->setVisible(two);
    for (int n = 1; two && n <= modemCount(); ++n)
        ui_->id1080->addItem(QString::fromStdString(modemLink(n).name()));
    connect(ui_->id1080, &QComboBox::currentIndexChanged, this,
            [this](int index) { showModem(index + 1); });
    showModem(1);
}

void CChangeSmscDialog::showModem(int modem) {
    if (modem < 1 || modem > modemCount()) return;
    modem_ = modem;
    ModemState& state = modemLink(modem).state();
    number_ = QString::fromLatin1(state.smscNumber).left(kSmscNumberLength);
    plan_ = state.smscType.load();
    ui_->id1062->setText(number_);
    ui_->id1063->setText(QString::number(static_cast<unsigned>(plan_)));
}

CChangeSmscDialog::~CChangeSmscDialog() { delete ui_; }

void CChangeSmscDialog::accept() {
    // An empty number would wipe the modem's service centre: no SMS would go out after it.
    const std::string problem = smscNumberProblem(ui_->id1062->text().toLatin1().toStdString());
    if (!problem.empty()) {
        refuseInput(this, ui_->id1062, QString::fromStdString(problem));
        return;
    }
    const auto plan = exchangeUnsignedInRange(this, ui_->id1063, 0, 255);
    if (!plan) return;
    number_ = ui_->id1062->text();
    plan_ = *plan;
    QDialog::accept();
}

int CChangeSmscDialog::applyAfterClose() {
    if (result() != QDialog::Accepted) return 1;
    // 64 characters at most: the field holds 127.
    return changeSmsc(number_.toLatin1().toStdString(), plan_, modem_);
}

bool runChangeSmscDialog(QWidget* parent) {
    CChangeSmscDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    (void)startSmscChange(dialog.number().toLatin1().toStdString(), dialog.plan(),
                          dialog.modem());
    return true;
}

}  // namespace gsms
