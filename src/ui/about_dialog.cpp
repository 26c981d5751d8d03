#include "ui/about_dialog.h"

#include <QPushButton>

#include "core/version.h"
#include "ui/dialog_units.h"
#include "ui/pictures.h"
#include "ui_about_dialog.h"

namespace gsms {

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent), ui_(new Ui::CAboutDialog) {
    initUiResources();
    ui_->setupUi(this);
    applyDialogUnits(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // A picture control takes the size of its picture.
    ui_->picture->resize(ui_->picture->pixmap().size());
    connect(ui_->id1, &QPushButton::clicked, this, &QDialog::accept);
    // The version the build carries, not the one the form was drawn with.
    const QString version = QStringLiteral("Velkora GSM/SMS v") + QString::fromLatin1(kVersion);
    setWindowTitle(QStringLiteral("About ") + version);
    ui_->labelProduct->setText(version);
}

CAboutDialog::~CAboutDialog() { delete ui_; }

}  // namespace gsms
