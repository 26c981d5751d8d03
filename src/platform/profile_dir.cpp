#include "platform/profile_dir.h"

#include <dirent.h>
#include <strings.h>

#include <cstdlib>
#include <mutex>

#include "platform/paths.h"
#include "platform/program_args.h"

namespace gsms {
namespace {
std::mutex dirMutex;
std::string explicitDir;
}  // namespace

void setProfileDir(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    explicitDir = dir;
}

std::string profileDir() {
    {
        std::lock_guard lock(dirMutex);
        if (!explicitDir.empty()) return explicitDir;
    }
    const auto env = program::environment("GSMS_PROFILE_DIR");
    if (env && !env->empty()) return *env;
    return defaultProfileDir();
}

std::string resolveProfileName(const std::string& name) {
    if (name.find_first_of("/\\") != std::string::npos) return paths::fromConfig(name);
    std::string dir = profileDir();
    if (DIR* d = ::opendir(dir.c_str())) {
        std::string found;
        while (dirent* e = ::readdir(d)) {
            if (strcasecmp(e->d_name, name.c_str()) == 0) {
                found = e->d_name;
                break;
            }
        }
        ::closedir(d);
        if (!found.empty()) return paths::join(dir, found);
    }
    return paths::join(dir, name);
}

}  // namespace gsms
