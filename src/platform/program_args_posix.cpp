#include <cstdlib>

#include "platform/program_args.h"

namespace gsms::program {

void utf8Arguments(int& /*argc*/, char**& /*argv: the system's bytes already*/) {}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace gsms::program
