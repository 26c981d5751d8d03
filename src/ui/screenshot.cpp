#include "ui/screenshot.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QFile>
#include <QPixmap>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace gsms {

namespace {

sigset_t screenshotSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    return set;
}

void grabTo(QWidget* window, const QString& path) {
    if (saveScreenshot(window, path))
        std::fprintf(stderr, "gsms: window grabbed to %s\n", qPrintable(path));
    else
        std::fprintf(stderr, "gsms: cannot write %s\n", qPrintable(path));
}

}  // namespace

void blockScreenshotSignal() {
    if (qEnvironmentVariableIsEmpty("GSMS_SCREENSHOT")) return;
    const sigset_t set = screenshotSignal();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool saveScreenshot(QWidget* window, const QString& path) {
    const QString partial = path + QStringLiteral(".part");
    if (!window->grab().save(partial, "PNG")) return false;
    QFile::remove(path);
    return QFile::rename(partial, path);
}

void installScreenshotHook(QWidget* window) {
    const QString path = qEnvironmentVariable("GSMS_SCREENSHOT");
    if (path.isEmpty()) return;
    QPointer<QWidget> target(window);

    const sigset_t set = screenshotSignal();
    const int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, window);
        QObject::connect(notifier, &QSocketNotifier::activated, window, [fd, target, path] {
            signalfd_siginfo info;
            while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            if (target) grabTo(target, path);
        });
        QObject::connect(notifier, &QObject::destroyed, [fd] { ::close(fd); });
    }

    bool ok = false;
    const int delay = qEnvironmentVariableIntValue("GSMS_SCREENSHOT_DELAY_MS", &ok);
    if (ok && delay >= 0)
        QTimer::singleShot(delay, window, [target, path] {
            if (target) grabTo(target, path);
        });
}

}  // namespace gsms
