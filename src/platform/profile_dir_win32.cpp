// Windows: where the settings live when neither --profile-dir nor GSMS_PROFILE_DIR says.
#include <windows.h>
#include <shlobj.h>

#include <cerrno>
#include <mutex>

#include "platform/paths.h"
#include "platform/profile_dir.h"
#include "platform/win32_errors.h"

namespace gsms {
namespace {

std::string windowsFolder() {
    char dir[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    return n > 0 && n < sizeof dir ? std::string(dir, n) : std::string();
}

std::string programDataFolder() {
    char dir[MAX_PATH];
    if (SUCCEEDED(
            SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, dir)))
        return dir;
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

int profileDirProblem() {
    const std::string dir = profileDir();
    const DWORD a = GetFileAttributesA(dir.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return win32::lastErrno();
    if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    // Only a try tells whether the folder's ACL lets this process create files.
    const std::string probe =
        paths::join(dir, ".gsms-probe-" + std::to_string(GetCurrentProcessId()));
    HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_FLAG_DELETE_ON_CLOSE,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::lastErrno();
    CloseHandle(h);
    return 0;
}

}  // namespace gsms
