#include "ui/gateway_app.h"

#include <QApplication>

#include "ui/db_error_box.h"
#include "ui/main_dialog.h"
#include "ui/pictures.h"
#include "ui/screenshot.h"

namespace gsms {

bool CGatewayApp::initInstance() {
    initUiResources();
    QApplication::setWindowIcon(applicationIcon());
    installDbErrorBox();
    {
        CMainDialog dialog;
        installScreenshotHook(&dialog);
        dialog.exec();
    }
    return false;
}

}  // namespace gsms
