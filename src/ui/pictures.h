// The window's compiled-in pictures, named after the resource numbers the dialogs use.
// Call initUiResources once before the first picture is asked for: the resources live in a
// static library, so nothing registers them by itself.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "frontend/window_rules.h"

namespace gsms {

void initUiResources();

QIcon applicationIcon();          // 128
QPixmap slotPicture(int state);   // 129 + state; a null pixmap outside 0..6
QImage signalBarShape();          // 136: the gauge's outline, black on white
QPixmap aboutPicture();           // 143

}  // namespace gsms
