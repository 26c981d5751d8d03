// Setting and removing an environment variable of the test process, the same way on POSIX
// and Windows (whose C runtime has no setenv).
#pragma once

#include <stdlib.h>

#include <string>

namespace gsms::test {

inline void setEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    (void)_putenv_s(name, value.c_str());
#else
    (void)::setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnvironment(const char* name) {
#ifdef _WIN32
    (void)_putenv_s(name, "");  // an empty value removes it
#else
    (void)::unsetenv(name);
#endif
}

}  // namespace gsms::test
