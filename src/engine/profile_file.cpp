#include "engine/profile_file.h"

#include <cstring>

#include "platform/ini_file.h"
#include "platform/profile_dir.h"

namespace gsms {

ProfileFile::ProfileFile(const char* fileName) {
    if (fileName != nullptr) fileName_ = fileName;
}

std::string ProfileFile::resolvedPath() const {
    return fileName_ ? resolveProfileName(*fileName_) : std::string();
}

int ProfileFile::readInt(const char* section, const char* key, int def) const {
    if (!fileName_) return def;
    auto v = ini::read(resolvedPath(), section, key);
    if (!v || v->empty()) return def;
    return ini::parseInt(*v);
}

std::size_t ProfileFile::readString(const char* section, const char* key, const char* def,
                                    std::size_t capacity, char* out) const {
    if (capacity == 0 || out == nullptr) return 0;
    std::string value = readString(section, key, def);
    std::size_t n = value.size() < capacity - 1 ? value.size() : capacity - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return n;
}

std::string ProfileFile::readString(const char* section, const char* key, const char* def) const {
    std::optional<std::string> v;
    if (fileName_) v = ini::read(resolvedPath(), section, key);
    if (v) return *v;
    return def != nullptr ? def : "";
}

bool ProfileFile::writeString(const char* section, const char* key, const char* value) const {
    if (!fileName_) return false;
    return ini::write(resolvedPath(), section, key, value != nullptr ? value : "");
}

ProfileFile& tevrakIni() {
    static ProfileFile file("TEVRAK.INI");
    return file;
}

}  // namespace gsms
