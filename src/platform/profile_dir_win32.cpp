// Windows: where the settings live when neither --profile-dir nor GSMS_PROFILE_DIR says.
#include <windows.h>
#include <shlobj.h>

#include <mutex>

#include "platform/paths.h"
#include "platform/profile_dir.h"
#include "platform/win32_text.h"

namespace gsms {
namespace {

std::string windowsFolder() {
    wchar_t dir[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    return n > 0 && n < MAX_PATH ? win32::utf8({dir, n}) : std::string();
}

std::string programDataFolder() {
    wchar_t dir[MAX_PATH];
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, dir)))
        return win32::utf8(dir);
    return "C:\\ProgramData";
}

std::string chooseDefault() {
    // An installation that predates the ProgramData folder keeps its settings where they are.
    const std::string windows = windowsFolder();
    if (!windows.empty() && paths::exists(paths::join(windows, "TEVRAK.INI"))) return windows;
    const std::string vendor = paths::join(programDataFolder(), "Velkora");
    const std::string dir = paths::join(vendor, "GSMS");
    // Created with the permissions ProgramData passes on; a failure shows at the first write.
    (void)paths::makeDirectory(vendor);
    (void)paths::makeDirectory(dir);
    return dir;
}

}  // namespace

const char* const kDefaultProfileDirText =
    "%ProgramData%\\Velkora\\GSMS, or the Windows folder when TEVRAK.INI is there";

std::string defaultProfileDir() {
    static std::once_flag once;
    static std::string* dir = nullptr;  // lives as long as the threads that ask
    std::call_once(once, [] { dir = new std::string(chooseDefault()); });
    return *dir;
}

int profileDirProblem() { return paths::folderWriteProblem(profileDir()); }

}  // namespace gsms
