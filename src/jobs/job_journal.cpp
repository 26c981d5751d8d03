// The job journal: finished job files and results of ours in the watch folder, across restarts.
#include "jobs/job_journal.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "core/log.h"
#include "platform/file_append.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/profile_dir.h"

namespace gsms {

namespace {

// Rewritten once it holds this many records beyond twice its entries.
constexpr std::size_t kSlack = 64;

std::uint32_t crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (const char ch : bytes) c = table[(c ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string sealed(const std::string& fields) {
    char crc[16];
    std::snprintf(crc, sizeof crc, " %08" PRIx32 "\n", crc32(fields));
    return fields + crc;
}

// The fields of one record, split at blanks.
class Fields {
public:
    explicit Fields(std::string_view text) : rest_(text) {}
    template <typename T>
    bool next(T& out, int base = 10) {
        const std::size_t blank = rest_.find(' ');
        const std::string_view word = rest_.substr(0, blank);
        rest_ = blank == std::string_view::npos ? std::string_view() : rest_.substr(blank + 1);
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), out, base);
        return ec == std::errc() && end == word.data() + word.size() && !word.empty();
    }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

}  // namespace

std::uint64_t contentDigest(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ull;
    }
    return h;
}

JobFileVersion jobFileVersion(const AlarmJob& job) {
    return JobFileVersion{files::FileId{job.fileDev, job.fileIno}, job.fileSize, job.fileMtimeNs,
                          job.fileDigest};
}

std::string JobJournal::recordOf(const files::FileId& id, const Entry& e) const {
    char b[192];
    if (e.kind == Kind::Ours)
        std::snprintf(b, sizeof b, "O %" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64 " %016" PRIx64,
                      id.dev, id.ino, e.version.size, e.version.mtimeNs, e.version.digest);
    else
        std::snprintf(b, sizeof b,
                      "F %" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64 " %016" PRIx64 " %d %d %d",
                      id.dev, id.ino, e.version.size, e.version.mtimeNs, e.version.digest,
                      static_cast<int>(e.outcome.status), static_cast<int>(e.outcome.sentAt),
                      e.outcome.rowWritten ? 1 : 0);
    return sealed(b);
}

void JobJournal::load(const std::string& bytes, std::vector<Said>& said) {
    int damaged = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {  // torn by a kill in the middle of the write
            ++damaged;
            break;
        }
        const std::string_view line(bytes.data() + at, end - at);
        at = end + 1;
        ++records_;
        const std::size_t blank = line.rfind(' ');
        std::uint32_t crc = 0;
        Fields sum(blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1));
        if (blank == std::string_view::npos || blank < 2 || !sum.next(crc, 16) ||
            crc != crc32(line.substr(0, blank)) || line.size() < 2 || line[1] != ' ') {
            ++damaged;
            continue;
        }
        const char op = line[0];
        Fields f(line.substr(2, blank - 2));
        files::FileId id;
        if (!f.next(id.dev) || !f.next(id.ino)) {
            ++damaged;
            continue;
        }
        Entry e;
        int status = 0, sentAt = 0, row = 0;
        bool ok = true;
        switch (op) {
        case 'F':
            ok = f.next(e.version.size) && f.next(e.version.mtimeNs) &&
                 f.next(e.version.digest, 16) && f.next(status) && f.next(sentAt) &&
                 f.next(row) && f.done();
            e.outcome = Finished{status, sentAt, row != 0};
            break;
        case 'O':
            e.kind = Kind::Ours;
            ok = f.next(e.version.size) && f.next(e.version.mtimeNs) &&
                 f.next(e.version.digest, 16) && f.done();
            break;
        case 'R':
        case 'X':
            ok = f.done();
            break;
        default:
            ok = false;
        }
        if (!ok) {
            ++damaged;
            continue;
        }
        e.version.id = id;
        if (op == 'F' || op == 'O') {
            entries_[id] = e;
        } else if (op == 'X') {
            entries_.erase(id);
        } else if (auto it = entries_.find(id); it != entries_.end()) {
            it->second.outcome.rowWritten = true;
        }
    }
    if (damaged > 0)
        said.push_back({"journal " + path_ + ": " + std::to_string(damaged) +
                            " damaged or torn records skipped",
                        false});
}

void JobJournal::openLocked(std::vector<Said>& said) {
    if (open_) return;
    open_ = true;
    path_ = paths::join(profileDir(), kJournalFileName);
    std::string bytes;
    files::Failure failure;
    if (files::readWhole(path_, bytes, &failure) < 0) {
        said.push_back({"ERROR: cannot read the journal " + path_ + " (" +
                            std::strerror(failure.error) + ")",
                        true});
        unreadable_ = true;  // never replaced while it cannot be read
        return;
    }
    load(bytes, said);
    if (records_ > entries_.size()) compactLocked(said);
}

void JobJournal::compactLocked(std::vector<Said>& said) {
    if (unreadable_) return;
    std::string text;
    for (const auto& [id, e] : entries_) text += recordOf(id, e);
    files::Failure failure;
    if (files::rewrite(path_, [&text](const std::string&) { return text; }, &failure) != 0) {
        if (!failing_)
            said.push_back({"ERROR: cannot write the journal " + path_ + " (" +
                                std::strerror(failure.error) +
                                "): finished jobs may be sent again after a restart",
                            true});
        failing_ = true;
        return;
    }
    records_ = entries_.size();
}

void JobJournal::writeLocked(const std::string& record, std::vector<Said>& said) {
    if (files::append(path_, record, files::IfMissing::Create, nullptr, files::Sync::Yes) != 0) {
        if (!failing_)
            said.push_back({"ERROR: cannot write the journal " + path_ + " (" +
                                std::strerror(errno) +
                                "): finished jobs may be sent again after a restart",
                            true});
        failing_ = true;
        return;
    }
    if (failing_) said.push_back({"the journal " + path_ + " is written again", false});
    failing_ = false;
    ++records_;
    if (records_ >= 2 * entries_.size() + kSlack) compactLocked(said);
}

void JobJournal::say(const std::vector<Said>& said) {
    for (const Said& s : said) {
        fileLog(s.line);
        if (s.failure) windowLog(nullptr, s.line, kColorRed);
    }
}

void JobJournal::finished(const JobFileVersion& version, std::int32_t status,
                          std::int32_t sentAt) {
    if (!version.id.known()) return;
    std::vector<Said> said;
    {
        std::lock_guard guard(lock_);
        openLocked(said);
        Entry& e = entries_[version.id];
        e = Entry{Kind::Finished, version, Finished{status, sentAt, false}, 0};
        writeLocked(recordOf(version.id, e), said);
    }
    say(said);
}

void JobJournal::rowWritten(const files::FileId& id) {
    std::vector<Said> said;
    {
        std::lock_guard guard(lock_);
        openLocked(said);
        auto it = entries_.find(id);
        if (it == entries_.end() || it->second.kind != Kind::Finished) return;
        it->second.outcome.rowWritten = true;
        char b[64];
        std::snprintf(b, sizeof b, "R %" PRIu64 " %" PRIu64, id.dev, id.ino);
        writeLocked(sealed(b), said);
    }
    say(said);
}

void JobJournal::moved(const files::FileId& id) {
    std::vector<Said> said;
    {
        std::lock_guard guard(lock_);
        openLocked(said);
        if (entries_.erase(id) == 0) return;
        char b[64];
        std::snprintf(b, sizeof b, "X %" PRIu64 " %" PRIu64, id.dev, id.ino);
        writeLocked(sealed(b), said);
    }
    say(said);
}

void JobJournal::ours(const JobFileVersion& version) {
    if (!version.id.known()) return;
    std::vector<Said> said;
    {
        std::lock_guard guard(lock_);
        openLocked(said);
        Entry& e = entries_[version.id];
        e = Entry{Kind::Ours, version, Finished{}, 0};
        writeLocked(recordOf(version.id, e), said);
    }
    say(said);
}

JobJournal::Known JobJournal::lookup(const JobFileVersion& version, Finished* finished) {
    std::vector<Said> said;
    Known known = Known::No;
    {
        std::lock_guard guard(lock_);
        openLocked(said);
        auto it = entries_.find(version.id);
        if (it != entries_.end()) {
            const Entry& e = it->second;
            if (e.kind == Kind::Finished && e.version == version) {
                known = Known::Finished;
                if (finished != nullptr) *finished = e.outcome;
            } else if (e.kind == Kind::Ours && e.version.size == version.size &&
                       e.version.digest == version.digest) {
                known = Known::Ours;  // touched or not, a result is never a job
            }
        }
    }
    say(said);
    return known;
}

void JobJournal::listed(const std::vector<files::FileId>& ids) {
    const std::unordered_set<files::FileId, Hash> present(ids.begin(), ids.end());
    std::vector<Said> said;
    {
        std::lock_guard guard(lock_);
        openLocked(said);
        bool dropped = false;
        for (auto it = entries_.begin(); it != entries_.end();) {
            // One listing may miss a file renamed while it runs.
            if (present.count(it->first) != 0) {
                it->second.missed = 0;
                ++it;
            } else if (++it->second.missed >= 2) {
                it = entries_.erase(it);
                dropped = true;
            } else {
                ++it;
            }
        }
        // Dropped entries come back from the file after a kill only to be dropped again.
        if (dropped && records_ >= 2 * entries_.size() + kSlack) compactLocked(said);
    }
    say(said);
}

std::size_t JobJournal::size() {
    std::lock_guard guard(lock_);
    return entries_.size();
}

void JobJournal::reset() {
    std::lock_guard guard(lock_);
    open_ = false;
    failing_ = false;
    unreadable_ = false;
    records_ = 0;
    entries_.clear();
}

JobJournal& jobJournal() {
    static JobJournal* journal = new JobJournal;  // used by detached threads until the end
    return *journal;
}

}  // namespace gsms
