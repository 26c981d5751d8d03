// Windows only: the system's error codes told in errno terms, so that the engine's messages
// and decisions (a missing file, a busy port, no rights) read the same on both platforms.
// Thread safety: pure functions.
#pragma once

namespace gsms::win32 {

// The errno value closest to a GetLastError() code; EIO for codes without a counterpart.
int errnoFrom(unsigned long code);

// errnoFrom(GetLastError()), also stored in errno.
int lastErrno();

}  // namespace gsms::win32
