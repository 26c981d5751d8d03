// POSIX: the profile directory defaults to the current directory.
#include "platform/paths.h"
#include "platform/profile_dir.h"

namespace gsms {

const char* const kDefaultProfileDirText = "the current directory";

std::string defaultProfileDir() { return "."; }

int profileDirProblem() { return paths::folderWriteProblem(profileDir()); }

}  // namespace gsms
