// Facts the build sets: the project's version (project(VERSION) in CMakeLists.txt) and the
// service's profile folder (GSMS_STATE_DIR, /var/lib/gsms by default).
#pragma once

namespace gsms {

inline constexpr const char* kVersion = GSMS_VERSION;
inline constexpr const char* kServiceStateDir = GSMS_STATE_DIR;

}  // namespace gsms
