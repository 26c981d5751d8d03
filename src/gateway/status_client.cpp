#include "gateway/status_client.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "gateway/service_status.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/process_signals.h"

namespace gsms {
namespace {

// The status file of `dir` in `text`; says on out why there is none. 1: read; 0: none.
int readStatus(const std::string& dir, std::string& text, std::FILE* out) {
    const std::string path = paths::join(dir, kStatusFileName);
    files::Failure failure;
    const int read = files::readWhole(path, text, &failure);
    if (read > 0) return 1;
    if (read == 0)
        std::fprintf(out, "gsmsd: no status in %s: gsmsd has not run with this profile folder\n",
                     path.c_str());
    else
        std::fprintf(out, "gsmsd: cannot read %s (%s)\n", path.c_str(),
                     std::strerror(failure.error));
    return 0;
}

long pidOf(const std::string& text) {
    const auto at = text.find("\npid: ");
    return at == std::string::npos ? 0 : std::strtol(text.c_str() + at + 6, nullptr, 10);
}

}  // namespace

int printStatus(const std::string& dir, std::FILE* out) {
    std::string text;
    if (readStatus(dir, text, out) == 0) return 4;
    std::fwrite(text.data(), 1, text.size(), out);
    if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
    const long pid = pidOf(text);
    // Another process may have got the number since: only a gsmsd counts.
    const bool running = processRunning(pid, "gsmsd");
    if (running) return 0;
    std::fprintf(out, "gsmsd (pid %ld) is not running: this is the status it left\n", pid);
    return 3;
}

int requestReload(const std::string& dir, std::FILE* out) {
    std::string text;
    if (readStatus(dir, text, out) == 0) return 4;
    const long pid = pidOf(text);
    if (!processRunning(pid, "gsmsd")) {
        std::fprintf(out, "gsmsd (pid %ld) is not running: nothing to reload\n", pid);
        return 3;
    }
    if (sendProcessRequest(pid, ProcessRequest::Reload) != 0) {
        std::fprintf(out, "gsmsd: cannot ask gsmsd (pid %ld) to reload (%s)\n", pid,
                     std::strerror(errno));
        return 3;
    }
    std::fprintf(out, "gsmsd (pid %ld) asked to read its settings again\n", pid);
    return 0;
}

}  // namespace gsms
