// CAboutDialog: product name, version and the maker's lines with the About picture.
#pragma once

#include <QDialog>

namespace Ui {
class CAboutDialog;
}

namespace gsms {

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    ~CAboutDialog() override;

private:
    Ui::CAboutDialog* ui_;
};

}  // namespace gsms
