// What the systemd unit of the service lets it write, read from the unit file and its drop-ins
// the way systemd reads them, for gsms-config --check: run outside the sandbox, it tells from
// them which folders the service would find read-only.
//
// Only [Service] counts, and of it: ProtectSystem= (strict makes everything read-only but the
// paths below), ReadWritePaths= (its "-" and "+" prefixes dropped), StateDirectory=,
// LogsDirectory=, CacheDirectory= and RuntimeDirectory= (below /var/lib, /var/log, /var/cache
// and /run). An empty assignment empties the key's list, as in systemd.
// Thread safety: pure functions.
#pragma once

#include <string>
#include <vector>

namespace gsms {

struct UnitSandbox {
    bool readOnlySystem = false;        // ProtectSystem=strict
    std::vector<std::string> writable;  // every path the keys above let the service write
};

// The unit file, then the "*.conf" files of the drop-in folders in the order of their names.
// Name the folders in systemd's order of precedence (/etc, /run, the package's): a name met
// again in a later folder is left out, as systemd leaves it. False when the unit file cannot
// be read.
bool readUnitSandbox(const std::string& unitFile, const std::vector<std::string>& dropInFolders,
                     UnitSandbox& out);

// True when the service may write path: the system is not read-only, or path is a listed
// path or lies below one (symbolic links of existing folders followed on both sides).
[[nodiscard]] bool sandboxAllows(const UnitSandbox& sandbox, const std::string& path);

}  // namespace gsms
