// Detached worker threads with a stack reservation and a name visible in ps/top.
#pragma once

#include <cstddef>

namespace gsms {

// Starts routine on a detached thread; false when the thread could not be created.
// The stack size is raised to what the platform and the sanitizers need at least.
bool startDetachedThread(void (*routine)(), const char* name, std::size_t stackBytes);

}  // namespace gsms
