#include "ui/pictures.h"

#include <array>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerPictures() { Q_INIT_RESOURCE(pictures); }

namespace gsms {

void initUiResources() {
    static const bool done = (registerPictures(), true);
    (void)done;
}

QIcon applicationIcon() {
    QIcon icon;
    for (const char* path : {":/pictures/icon_16.png", ":/pictures/icon_32.png",
                             ":/pictures/icon_64.png"})
        icon.addFile(QString::fromLatin1(path));
    return icon;
}

QPixmap slotPicture(int state) {
    static const std::array<const char*, kSlotStates> paths = {
        ":/pictures/phone_grey.png",   ":/pictures/phone_green.png",
        ":/pictures/phone_blue.png",   ":/pictures/phone_yellow.png",
        ":/pictures/phone_red.png",    ":/pictures/phone_orange.png",
        ":/pictures/phone_magenta.png"};
    if (state < 0 || state >= kSlotStates) return {};
    return QPixmap(QString::fromLatin1(paths[static_cast<std::size_t>(state)]));
}

QImage signalBarShape() { return QImage(QStringLiteral(":/pictures/signal_bars.png")); }

QPixmap aboutPicture() { return QPixmap(QStringLiteral(":/pictures/about.png")); }

}  // namespace gsms
