// ProfileFile: access to one INI file by name, with the Windows private-profile semantics
// (see platform/ini_file.h). A bare name ("TEVRAK.INI") is resolved in the profile directory;
// a name with a directory part is used as it stands.
//
// A file that exists but cannot be read reads as absent (every read gives its default) and is
// never written; it is named once in the daily log and in red in the window log:
// "ERROR: cannot read <path> (<reason>)". A write that fails for another reason is named the
// same way once: "ERROR: cannot write <path> (<reason>)". A file is named again only after it
// has been used without trouble in between.
// Thread safety: any thread may call any operation; each reads or rewrites the file on its own
// (writes to one file are serialised by the file's lock, across processes too).
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
    // Copies the value (UTF-8, or `def` when absent) into out, cut to at most capacity - 1
    // bytes between two characters and terminated. Returns the number of bytes stored.
    std::size_t readString(const char* section, const char* key, const char* def,
                           std::size_t capacity, char* out) const;
    // Convenience: the whole value as UTF-8 whatever the file's encoding, or `def` when absent.
    std::string readString(const char* section, const char* key, const char* def) const;
    // Creates file, section or key as needed. Returns false when the file was left as it was.
    bool writeString(const char* section, const char* key, const char* value) const;

    const std::optional<std::string>& fileName() const { return fileName_; }
    // The path the name resolves to now.
    std::string resolvedPath() const;

private:
    std::optional<std::string> lookup(const char* section, const char* key) const;
    std::optional<std::string> fileName_;
};

// The process-wide ProfileFile of TEVRAK.INI.
ProfileFile& tevrakIni();

// Forgets which files have been named as unusable (tests).
void resetProfileFailuresForTest();

}  // namespace gsms
