// The one way a job file leaves the watch folder: rejected by the watcher, or reported.
#include "jobs/job_move.h"

#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "core/settings.h"
#include "jobs/file_memory.h"
#include "jobs/job_journal.h"
#include "platform/file_move.h"
#include "platform/file_replace.h"
#include "platform/paths.h"

namespace gsms {

JobFileRef jobFileRef(const AlarmJob& job) {
    return JobFileRef{job.path, job.Szenario, files::FileId{job.fileDev, job.fileIno}};
}

std::string resultFileName(const std::string& dir, std::uint32_t stamp, const std::string& name,
                           const std::string& ext) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%08X-", stamp);
    // A job name near the file system's limit leaves no room for the stamp: its name part is
    // cut short, or the result could never be made and the job would be sent again.
    return paths::join(dir, paths::fitComponent(dir, prefix, name, ext));
}

int moveJobFile(const JobFileRef& file, const char* dir, std::uint32_t stamp, bool ownNameFirst,
                const std::string* line, bool quiet, MoveResult* result) {
    const std::string target = paths::fromConfig(dir);
    const paths::NameExt ne = paths::split(file.path);
    // Results kept in the watch folder are marked as ours before they appear there.
    const bool intoWatchFolder =
        paths::sameDirectory(target, paths::fromConfig(settings().watchPath));

    files::MoveRequest request;
    request.from = file.path;
    request.expected = file.id;
    request.names = [&](int attempt) {
        if (ownNameFirst && attempt == 0)
            return paths::join(target, paths::fitComponent(target, "", ne.name, ne.ext));
        const int counted = ownNameFirst ? attempt - 1 : attempt;
        return resultFileName(target, stamp + static_cast<std::uint32_t>(counted), ne.name,
                              ne.ext);
    };
    request.append = line;
    request.beforeVisible = [intoWatchFolder](const files::FileId& id) {
        if (intoWatchFolder) fileMemory().markOurs(id);
    };
    files::MoveOutcome outcome;
    char text[kFileLineSize];
    const int moved = files::moveFile(request, outcome);
    if (result != nullptr) {
        result->to = outcome.to;
        result->error = moved != 0 ? outcome.error : 0;
        result->lineError = moved == 0 && line != nullptr ? outcome.error : 0;
    }
    if (moved != 0) {
        if (!quiet) {
            std::snprintf(text, sizeof text, "could not move %s to %s (%s)", file.path.c_str(),
                          outcome.to.c_str(), std::strerror(outcome.error));
            fileLog(text);
            windowLog(file.szenario.c_str(), text, kColorRed);
        }
        return -1;
    }
    if (intoWatchFolder) {
        // In place, with its line: the journal knows it as ours from now on, also after a
        // restart.
        const files::SteadyRead r = files::readSteady(outcome.to, [] {});
        if (r.outcome == files::SteadyRead::Read)
            jobJournal().ours(JobFileVersion{r.id, r.size, r.mtimeNs, contentDigest(r.bytes)});
    }
    if (line != nullptr && outcome.error != 0 && !quiet) {
        std::snprintf(text, sizeof text, "could not add the success line to %s (%s)",
                      outcome.to.c_str(), std::strerror(outcome.error));
        fileLog(text);
        windowLog(file.szenario.c_str(), text, kColorRed);
    }
    return 0;
}

}  // namespace gsms
