// What a program is started with, as UTF-8 on both platforms. On Windows the arguments come
// from the wide command line and the environment values from the wide environment, so that a
// folder named outside the ANSI code page (--profile-dir, GSMS_PROFILE_DIR) arrives whole.
// Thread safety: utf8Arguments first thing in main, before any thread; environment from any.
#pragma once

#include <optional>
#include <string>

namespace gsms::program {

// Puts UTF-8 copies in argv's place (POSIX: leaves argv as it is). The copies live as long as
// the process.
void utf8Arguments(int& argc, char**& argv);

// The value of an environment variable as UTF-8; nothing when it is not set.
[[nodiscard]] std::optional<std::string> environment(const char* name);

}  // namespace gsms::program
