// Pictures of the window for the documentation: with GSMS_SCREENSHOT=path.png in the
// environment, the window is grabbed to that file whenever the process receives SIGUSR1,
// and once GSMS_SCREENSHOT_DELAY_MS milliseconds after start when that is set too. The file
// is written under a temporary name and renamed, so a reader never sees half a picture.
#pragma once

class QString;
class QWidget;

namespace gsms {

// With GSMS_SCREENSHOT set, blocks SIGUSR1 in the calling thread; called at the start of
// main, before any thread, so that every thread inherits the block and only the window's
// signal descriptor sees the signal.
void blockScreenshotSignal();

// Arms the grabs for the window when GSMS_SCREENSHOT is set; does nothing otherwise.
void installScreenshotHook(QWidget* window);

// Grabs the window into a PNG file; false when it cannot be written.
bool saveScreenshot(QWidget* window, const QString& path);

}  // namespace gsms
