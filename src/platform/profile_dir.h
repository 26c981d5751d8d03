// The profile directory, where bare INI names ("TEVRAK.INI", "KORLIN.INI", "hestrum.ini")
// live: --profile-dir DIR, else GSMS_PROFILE_DIR, else the platform's default:
//  - POSIX: the current directory;
//  - Windows: the Windows folder when an older installation keeps TEVRAK.INI there, else
//    "%ProgramData%\Velkora\GSMS" (created when missing). Writing into the Windows folder
//    needs administrator rights on current Windows, so new installations do not use it.
// Thread safety: set once at start (before threads); read from any thread afterwards.
#pragma once

#include <string>

namespace gsms {

void setProfileDir(const std::string& dir);
std::string profileDir();
// The platform's default (above), used when neither the option nor the variable names one.
std::string defaultProfileDir();
// The default in words, for help texts.
extern const char* const kDefaultProfileDirText;
// 0 when the profile directory exists and this process may create files in it; else the
// system's reason (ENOENT missing, ENOTDIR not a directory, EACCES or EROFS not writable).
[[nodiscard]] int profileDirProblem();
// A bare name matched case-insensitively against the files already in the profile
// directory; a new file keeps the name as given. A name with a directory part is returned
// as it stands (backslashes read as separators).
std::string resolveProfileName(const std::string& name);

}  // namespace gsms
