#include "ui/change_smsc_dialog.h"

#include <QPushButton>
#include <cstdio>

#include "modem/modem_state.h"
#include "sms/smsc.h"
#include "ui/data_exchange.h"
#include "ui/dialog_units.h"
#include "ui_change_smsc_dialog.h"

namespace gsms {

namespace {
constexpr int kNumberLength = 64;
}

CChangeSmscDialog::CChangeSmscDialog(QWidget* parent)
    : QDialog(parent), ui_(new Ui::CChangeSmscDialog) {
    ui_->setupUi(this);
    applyDialogUnits(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ui_->id1062->setMaxLength(kNumberLength);
    connect(ui_->id1, &QPushButton::clicked, this, &CChangeSmscDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);

    ModemState& modem = modemState();
    number_ = QString::fromLatin1(modem.smscNumber).left(kNumberLength);
    plan_ = modem.smscType.load();
    ui_->id1062->setText(number_);
    ui_->id1063->setText(QString::number(static_cast<unsigned>(plan_)));
}

CChangeSmscDialog::~CChangeSmscDialog() { delete ui_; }

void CChangeSmscDialog::accept() {
    const auto plan = exchangeUnsignedInRange(this, ui_->id1063, 0, 255);
    if (!plan) return;
    number_ = ui_->id1062->text();
    plan_ = *plan;
    QDialog::accept();
}

int CChangeSmscDialog::applyAfterClose() {
    if (result() != QDialog::Accepted) return 1;
    ModemState& modem = modemState();
    // 64 characters at most: the field holds 127.
    std::snprintf(modem.smscNumber, sizeof modem.smscNumber, "%s",
                  number_.toLatin1().constData());
    modem.smscType.store(plan_);
    return updateSmsc();
}

void runChangeSmscDialog(QWidget* parent) {
    CChangeSmscDialog dialog(parent);
    dialog.exec();
    (void)dialog.applyAfterClose();
}

}  // namespace gsms
