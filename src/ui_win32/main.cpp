// gsms.exe: the gateway with its native Win32 operator window. The same options as gsmsd;
// the engine starts from the window's first timer tick. Closing the window ends the process
// at once: the engine threads have nothing to finish (job files stay on disk until reported).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "db/database.h"
#include "frontend/front_end.h"
#include "frontend/processor_pinning.h"
#include "frontend/window_forms.h"
#include "gateway/engine.h"
#include "platform/program_args.h"
#include "ui_win32/main_window.h"
#include "ui_win32/win_text.h"

namespace {

// A window program has no console of its own: --help and --version write to the one it was
// started from, unless its output already goes somewhere.
void attachParentConsole() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    (void)std::freopen("CONOUT$", "w", stdout);
    (void)std::freopen("CONOUT$", "w", stderr);
}

}  // namespace

int main(int argc, char** argv) {
    gsms::program::utf8Arguments(argc, argv);
    attachParentConsole();
    const gsms::FrontEndOptions options = gsms::parseFrontEndOptions(
        argc, argv, "gsms", gsms::kWindowProgramDescription, gsms::FrontEnd::Window);
    if (!options.run) return options.exitCode;

    // Before any thread exists, so that every thread inherits the mask.
    gsms::pinToOneProcessor();

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The Send SMS dialog's message is a rich edit control (it marks characters).
    (void)LoadLibraryW(L"riched20.dll");
    // A table that cannot be reached is told in a box; the engine thread that met it waits.
    gsms::setDbErrorBoxHook([](const char* text, const char* caption) {
        MessageBoxW(nullptr, gsms::win::fromUtf8(text != nullptr ? text : "").c_str(),
                    gsms::win::fromUtf8(caption != nullptr ? caption : "").c_str(),
                    MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
    });
    if (gsms::win::runMainDialog(GetModuleHandleW(nullptr)) == -1) {
        // No window at all (no desktop to draw on, say): said where someone may read it.
        std::fprintf(stderr, "gsms: cannot open the window (error %lu)\n", GetLastError());
        gsms::endProcess(gsms::kExitRestart);
    }
    gsms::endProcess(gsms::kExitStopped);
}
