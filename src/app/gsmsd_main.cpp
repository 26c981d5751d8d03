// gsmsd: the gateway engine without a window, run by a service manager. Window log lines go
// to standard output; SIGTERM or SIGINT (Ctrl+C or closing the console on Windows) stop it at
// once (job files stay on disk until they are reported, so nothing is lost).
#include <cstdio>
#include <string>

#include "db/database.h"
#include "engine/engine.h"
#include "engine/front_end.h"
#include "engine/log.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    const gsms::FrontEndOptions options = gsms::parseFrontEndOptions(
        argc, argv, "gsmsd",
        "Velkora GSM/SMS gateway, headless: sends the SMS alarm jobs dropped into the watch\n"
        "directory through the GSM modem named by \"Port\" in section Config of TEVRAK.INI.");
    if (!options.run) return options.exitCode;

    // Before any thread exists.
    gsms::console::prepareStopRequests();

    // No one to click a box away: the table error goes to both logs and the report goes on.
    gsms::setDbErrorBoxHook([](const char* text, const char* caption) {
        const std::string line = std::string(caption ? caption : "") + ": " + (text ? text : "");
        gsms::fileLog(line);
        gsms::windowLog(nullptr, line, gsms::kColorRed);
    });
    gsms::startConsoleReceiver(stdout, gsms::console::showsColours(stdout));
    gsms::fileLog("Gateway started");
    if (gsms::startEngine() != 0) {
        gsms::fileLog("** init_gsms ** ERROR: cannot start the engine thread");
        return 1;
    }

    gsms::console::waitForStopRequest();
    gsms::fileLog("Gateway stopped");
    gsms::windowLog(nullptr, "Gateway stopped", gsms::kColorDefault);
    gsms::drainConsole();
    gsms::endProcess(0);
}
