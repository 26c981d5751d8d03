#include "jobs/file_memory.h"

#include <unordered_set>

namespace gsms {

FileMemory::Seen FileMemory::look(const FileVersion& version, std::int64_t nowMs) {
    std::lock_guard guard(lock_);
    auto [it, added] = entries_.try_emplace(version.id);
    Entry& e = it->second;
    e.missed = 0;
    if (added || (e.state != State::Ours && !(e.version == version))) {
        // New, or changed since: waits afresh, remembering what was queued from it.
        e.version = version;
        e.state = State::Waiting;
        e.sinceMs = nowMs;
        return Seen{State::Waiting, 0, e.digest};
    }
    return Seen{e.state, nowMs - e.sinceMs, e.digest};
}

bool FileMemory::claim(const FileVersion& version, std::uint64_t digest) {
    std::lock_guard guard(lock_);
    Entry& e = entries_[version.id];
    if (e.state == State::Ours) return false;
    e.version = version;
    e.state = State::Queued;
    e.digest = digest;
    e.missed = 0;
    return true;
}

void FileMemory::unclaim(const FileVersion& version, std::optional<std::uint64_t> digest) {
    std::lock_guard guard(lock_);
    auto it = entries_.find(version.id);
    if (it == entries_.end() || it->second.state != State::Queued) return;
    it->second.state = State::Waiting;
    it->second.digest = digest;
}

void FileMemory::mark(const FileVersion& version, State state) {
    std::lock_guard guard(lock_);
    Entry& e = entries_[version.id];
    if (e.state == State::Ours) return;
    e.version = version;
    e.state = state;
    e.missed = 0;
}

void FileMemory::markOurs(const files::FileId& id) {
    std::lock_guard guard(lock_);
    Entry& e = entries_[id];
    e.state = State::Ours;
    e.missed = 0;
}

void FileMemory::listed(const std::vector<files::FileId>& ids) {
    const std::unordered_set<files::FileId, Hash> present(ids.begin(), ids.end());
    std::lock_guard guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (present.count(it->first) != 0) {
            it->second.missed = 0;
            ++it;
        } else if (++it->second.missed >= 2) {
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<std::int64_t> FileMemory::nextSettle(std::int64_t nowMs, std::int64_t settleMs) {
    std::lock_guard guard(lock_);
    std::optional<std::int64_t> next;
    for (const auto& [id, e] : entries_) {
        if (e.state != State::Waiting) continue;
        const std::int64_t left = e.sinceMs + settleMs - nowMs;
        if (left > 0 && (!next || left < *next)) next = left;
    }
    return next;
}

std::size_t FileMemory::size() {
    std::lock_guard guard(lock_);
    return entries_.size();
}

void FileMemory::clear() {
    std::lock_guard guard(lock_);
    entries_.clear();
}

FileMemory& fileMemory() {
    static FileMemory* memory = new FileMemory;  // used by detached threads until the end
    return *memory;
}

}  // namespace gsms
