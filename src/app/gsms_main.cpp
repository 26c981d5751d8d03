// gsms: the gateway with its operator window. The same options as gsmsd; the engine starts
// from the window's first timer tick. Closing the window ends the process at once: the
// engine threads have nothing to finish (job files stay on disk until reported).
#include <QApplication>

#include "frontend/front_end.h"
#include "frontend/processor_pinning.h"
#include "frontend/window_forms.h"
#include "gateway/engine.h"
#include "ui/gateway_app.h"
#include "ui/screenshot.h"

int main(int argc, char** argv) {
    const gsms::FrontEndOptions options = gsms::parseFrontEndOptions(
        argc, argv, "gsms", gsms::kWindowProgramDescription, gsms::FrontEnd::Window);
    if (!options.run) return options.exitCode;

    // Before any thread exists, so that every thread inherits mask and signal block.
    gsms::pinToOneProcessor();
    gsms::blockScreenshotSignal();

    QApplication application(argc, argv);
    gsms::CGatewayApp app;
    (void)app.initInstance();
    gsms::endProcess(0);
}
