#include "gateway/status_client.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "gateway/service_status.h"
#include "platform/console.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/process_signals.h"

namespace gsms {
namespace {

// The status file of `dir` in `text`, its lines ended by "\n" whatever the platform wrote;
// says on out why there is none. 1: read; 0: none; -1: there, but not readable.
int readStatus(const std::string& dir, std::string& text, std::FILE* out) {
    const std::string path = paths::join(dir, kStatusFileName);
    files::Failure failure;
    std::string bytes;
    const int read = files::readWhole(path, bytes, &failure);
    if (read == 0) {
        console::printf(out,
                        "gsmsd: no status in %s: gsmsd has not run with this profile folder\n",
                        path.c_str());
        return 0;
    }
    if (read < 0) {
        console::printf(out, "gsmsd: cannot read %s (%s)\n", path.c_str(),
                        std::strerror(failure.error));
        return -1;
    }
    // Written with CR LF on Windows; out, a text stream there, adds its own CR.
    text.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != '\r' || i + 1 == bytes.size() || bytes[i + 1] != '\n') text += bytes[i];
    return 1;
}

int noStatusCode(int read) { return read == 0 ? kStatusNone : kStatusUnreadable; }

std::string valueOf(const std::string& text, const char* key) {
    const std::string head = std::string("\n") + key + ": ";
    const auto at = text.find(head);
    if (at == std::string::npos) return {};
    const auto from = at + head.size();
    return text.substr(from, text.find('\n', from) - from);
}

// The process the file names is the gsmsd that wrote it: it runs as gsmsd, it is not this
// process (which may have been given the number of a gsmsd that has ended), and it started
// when the file says (a file without the mark, from an older gsmsd, is taken at its word).
bool writerRunning(const std::string& text, long pid) {
    if (pid == currentProcessId() || !processRunning(pid, "gsmsd")) return false;
    const std::string stamp = valueOf(text, "pid start");
    if (stamp.empty()) return true;
    const std::string now = processStartStamp(pid);
    return now.empty() || now == stamp;  // empty: the system does not tell (not ours)
}

long pidOf(const std::string& text) {
    return std::strtol(valueOf(text, "pid").c_str(), nullptr, 10);
}

}  // namespace

int printStatus(const std::string& dir, std::FILE* out) {
    std::string text;
    const int read = readStatus(dir, text, out);
    if (read <= 0) return noStatusCode(read);
    console::print(out, text);
    if (!text.empty() && text.back() != '\n') console::print(out, "\n");
    const long pid = pidOf(text);
    if (writerRunning(text, pid)) return 0;
    console::printf(out, "gsmsd (pid %ld) is not running: this is the status it left\n", pid);
    return 3;
}

int requestReload(const std::string& dir, std::FILE* out) {
    std::string text;
    const int read = readStatus(dir, text, out);
    if (read <= 0) return noStatusCode(read);
    const long pid = pidOf(text);
    if (!writerRunning(text, pid)) {
        console::printf(out, "gsmsd (pid %ld) is not running: nothing to reload\n", pid);
        return 3;
    }
    if (sendProcessRequest(pid, ProcessRequest::Reload) != 0) {
        console::printf(out, "gsmsd: cannot ask gsmsd (pid %ld) to reload (%s)\n", pid,
                        std::strerror(errno));
        return 3;
    }
    console::printf(out, "gsmsd (pid %ld) asked to read its settings again\n", pid);
    return 0;
}

}  // namespace gsms
