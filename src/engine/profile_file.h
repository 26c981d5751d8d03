// ProfileFile: access to one INI file by name, with the Windows private-profile semantics
// (see platform/ini_file.h). A bare name ("TEVRAK.INI") is resolved in the profile directory;
// a name with a directory part is used as it stands.
// Thread safety: each call reads or rewrites the file on its own; writes to one file are
// serialised process-wide.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace gsms {

class ProfileFile {
public:
    ProfileFile() = default;
    explicit ProfileFile(const char* fileName);

    // The key's integer value; `def` when the key is absent or empty; 0 when not a number.
    [[nodiscard]] int readInt(const char* section, const char* key, int def) const;
    // Copies the value (or `def` when absent) into out, cut to capacity - 1 characters and
    // terminated. Returns the number of characters stored.
    std::size_t readString(const char* section, const char* key, const char* def,
                           std::size_t capacity, char* out) const;
    // Convenience: the whole value, or `def` when absent.
    std::string readString(const char* section, const char* key, const char* def) const;
    // Creates file, section or key as needed. Returns false when the file cannot be written.
    bool writeString(const char* section, const char* key, const char* value) const;

    const std::optional<std::string>& fileName() const { return fileName_; }
    // The path the name resolves to now.
    std::string resolvedPath() const;

private:
    std::optional<std::string> fileName_;
};

// The process-wide ProfileFile of TEVRAK.INI.
ProfileFile& tevrakIni();

}  // namespace gsms
