#include "ui/db_error_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "db/database.h"

namespace gsms {

void installDbErrorBox() {
    setDbErrorBoxHook([](const char* text, const char* caption) {
        const QString t = QString::fromUtf8(text != nullptr ? text : "");
        const QString c = QString::fromUtf8(caption != nullptr ? caption : "");
        auto show = [t, c] { QMessageBox::warning(QApplication::activeWindow(), c, t); };
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) return;
        if (QThread::currentThread() == app->thread())
            show();
        else
            QMetaObject::invokeMethod(app, show, Qt::BlockingQueuedConnection);
    });
}

}  // namespace gsms
