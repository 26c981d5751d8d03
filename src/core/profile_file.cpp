#include "core/profile_file.h"

#include <cstring>
#include <mutex>
#include <set>

#include "core/log.h"
#include "platform/ini_file.h"
#include "platform/profile_dir.h"
#include "platform/text_encoding.h"

namespace gsms {
namespace {

// The files named as unreadable or unwritable, so that each is named once. Used by detached
// threads until the process ends, so never destroyed.
struct Named {
    std::mutex lock;
    std::set<std::string> unreadable;
    std::set<std::string> unwritable;
};
Named& named() {
    static Named* n = new Named;
    return *n;
}

// Names a failure once; a success clears what was named of the file.
void noteOutcome(const std::string& path, const ini::Failure& why, bool wrote) {
    Named& n = named();
    const bool unreadable = why.kind == ini::Failure::CannotRead;
    {
        std::lock_guard guard(n.lock);
        if (why.kind == ini::Failure::None) {
            n.unreadable.erase(path);
            if (wrote) n.unwritable.erase(path);
            return;
        }
        if (!(unreadable ? n.unreadable : n.unwritable).insert(path).second) return;
    }
    const std::string line = std::string("ERROR: cannot ") + (unreadable ? "read " : "write ") +
                             path + " (" + std::strerror(why.error) + ")";
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

}  // namespace

ProfileFile::ProfileFile(const char* fileName) {
    if (fileName != nullptr) fileName_ = fileName;
}

std::string ProfileFile::resolvedPath() const {
    return fileName_ ? resolveProfileName(*fileName_) : std::string();
}

std::optional<std::string> ProfileFile::lookup(const char* section, const char* key) const {
    if (!fileName_) return std::nullopt;
    const std::string path = resolvedPath();
    ini::Failure why;
    auto v = ini::read(path, section, key, &why);
    noteOutcome(path, why, false);
    return v;
}

int ProfileFile::readInt(const char* section, const char* key, int def) const {
    auto v = lookup(section, key);
    if (!v || v->empty()) return def;
    return ini::parseInt(*v);
}

std::size_t ProfileFile::readString(const char* section, const char* key, const char* def,
                                    std::size_t capacity, char* out) const {
    if (capacity == 0 || out == nullptr) return 0;
    std::string value = readString(section, key, def);
    const std::size_t n = text::utf8HeadBytes(value, capacity - 1);
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return n;
}

std::string ProfileFile::readString(const char* section, const char* key, const char* def) const {
    if (auto v = lookup(section, key)) return *v;
    return def != nullptr ? def : "";
}

bool ProfileFile::writeString(const char* section, const char* key, const char* value) const {
    if (!fileName_) return false;
    const std::string path = resolvedPath();
    ini::Failure why;
    const bool ok = ini::write(path, section, key, value != nullptr ? value : "", &why);
    noteOutcome(path, why, true);
    return ok;
}

ProfileFile& tevrakIni() {
    static ProfileFile file("TEVRAK.INI");
    return file;
}

void resetProfileFailuresForTest() {
    Named& n = named();
    std::lock_guard guard(n.lock);
    n.unreadable.clear();
    n.unwritable.clear();
}

}  // namespace gsms
