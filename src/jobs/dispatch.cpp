// ProcessingThread: one attempt per unfinished job per sweep, the oldest queued first (a job
// handed over after a failed attempt on the other modem before all); alarms are
// retried after "RetryDelay" (on the monotonic clock) up to "RetryCount" attempts,
// mini-messages get one. A settled outcome goes into the journal at once. Between
// sweeps it pauses 500 ms, or until a job is queued. Once a stop is requested no submission
// starts; the one in flight ends and its job is marked finished before it counts as ended.
// A job it finishes wakes the ReportThread. While the modem port is gone nothing is submitted.
//
// With two modems each has its ProcessingThread, and a job is claimed by one of them for its
// attempt (AlarmJob::busyOn), so that two alarms go out at the same time. An attempt that
// fails is handed at once to the other modem when that one is in service (failoverTo), and
// only after that attempt the job waits RetryDelay; every attempt counts against RetryCount.
// A mini-message whose attempt failed because its path went down is not spent: another path
// sends it.
#include "jobs/dispatch.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <bitset>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "jobs/job_journal.h"
#include "jobs/job_table.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/text_encoding.h"
#include "sms/path_state.h"
#include "sms/sms_submit.h"

namespace gsms {

namespace {

constexpr int kSendingState = 2;

// sendSms on the sweeping link, unless a test has handed in its own.
std::atomic<SubmitFn> submitFn{&sendSms};

int submitJob(ModemLink& link, const AlarmJob& job) {
    return submitFn.load()(link, job.PhoneNumber, job.Message, job.Flash > 0 ? 1 : 0);
}

// The other modem in service, which takes a failed attempt at once; null when there is none.
ModemLink* failoverPath(const ModemLink& link) {
    ModemLink* other = otherModem(link);
    return other != nullptr && pathUsable(*other) ? other : nullptr;
}



// The time of an attempt, as the status row and the success line show it.
std::int32_t now32() { return static_cast<std::int32_t>(clock::wallSeconds()); }

// The outcome is settled: in the journal before anything else, so that from here on a kill
// leaves a file that is reported at the next start, not sent again.
void settle(AlarmJob& job, int status) {
    job.status = status;
    jobJournal().finished(jobFileVersion(job), job.status, job.sent_at);
}

// Returns true when the outcome is settled (the job is finished).
bool sendMini(ModemLink& link, int slot, AlarmJob& job) {
    // The caption is UTF-8, as the text: its first 16 characters.
    const std::string_view message = job.Message;
    const std::size_t head = text::utf8Head(message, 16);
    const std::string caption = "sending '" + std::string(message.substr(0, head)) +
                                (head < message.size() ? " (...)' to " : "' to ") + job.Name;
    update_job_slot(slot, kSendingState, caption.c_str());
    job.sent_at = now32();
    char line[256];
    // The number as the logs show it: one from a job file may hold a line break.
    const std::string number = shownNumber(job.PhoneNumber);
    bool settled = true;
    if (submitJob(link, job) != 0) {
        link.failedCount().fetch_add(1);
        if (modemCount() == 2 && !pathUsable(link)) {
            // Its path went down under it: the one attempt is not spent, another path takes it.
            const ModemLink* other = failoverPath(link);
            settled = false;
            job.sent_at = 0;
            job.failoverTo = static_cast<std::uint8_t>(other != nullptr ? other->number() : 0);
            std::snprintf(line, sizeof line, "ERROR sending to %s (path down, sent again)",
                          number.c_str());
        } else {
            settle(job, STATUS_FAILED);
            std::snprintf(line, sizeof line, "ERROR sending to %s", number.c_str());
            tally(Tally::Failed);
        }
        windowLog(nullptr, link.named(line), kColorRed);
    } else {
        link.sentCount().fetch_add(1);
        settle(job, STATUS_SENT);
        std::snprintf(line, sizeof line, "Message sent to %s", number.c_str());
        windowLog(nullptr, link.named(line), kColorGreen);
        tally(Tally::Sent);
    }
    fileLog(link.named(line));
    return settled;
}

// failover: this attempt is the one at once on the other modem after a failed one. Returns
// true when the outcome is settled.
bool sendAlarm(ModemLink& link, int slot, AlarmJob& job, bool failover) {
    char caption[256];
    std::snprintf(caption, sizeof caption, "sending alarm %s to %s", job.AlarmKey, job.Name);
    update_job_slot(slot, kSendingState, caption);
    job.sent_at = now32();
    char line[256];
    const std::string number = shownNumber(job.PhoneNumber);
    bool settled = true;
    if (submitJob(link, job) != 0) {
        link.failedCount().fetch_add(1);
        const int retryCount = settings().retryCount.load();
        ++job.tries;
        if (job.tries < retryCount) {
            settled = false;
            job.sent_at = 0;
            job.next_try_at =
                clock::monotonicMs() + std::int64_t{settings().retryDelay.load()} * 1000;
            // Tried at once on the other path, and only after that the delay.
            const ModemLink* other = failover ? nullptr : failoverPath(link);
            job.failoverTo = static_cast<std::uint8_t>(other != nullptr ? other->number() : 0);
            tally(Tally::Retried);
        } else {
            settle(job, STATUS_FAILED);
            tally(Tally::Failed);
        }
        std::snprintf(line, sizeof line, "ERROR sending to %s (try %d/%d)", number.c_str(),
                      job.tries, retryCount);
        windowLog(nullptr, link.named(line), kColorRed);
    } else {
        link.sentCount().fetch_add(1);
        settle(job, STATUS_SENT);
        std::snprintf(line, sizeof line, "Message sent to %s", number.c_str());
        windowLog(nullptr, link.named(line), kColorGreen);
        tally(Tally::Sent);
    }
    fileLog(link.named(line));
    return settled;
}

// Whether this link takes the job in this sweep.
bool takes(const ModemLink& link, const AlarmJob& job) {
    if (job.finished || job.busyOn != 0) return false;
    if (job.failoverTo == link.number()) return true;  // at once, whatever the delay
    // Handed to the other modem, which takes it now while it is in service.
    if (job.failoverTo != 0) {
        const ModemLink* other = otherModem(link);
        if (other != nullptr && pathUsable(*other)) return false;
    }
    return job.mini || clock::monotonicMs() >= job.next_try_at;
}

// Marks the job finished (under jobTableLock, which lock holds) and wakes the ReportThread
// before the next submission begins.
void finish(std::unique_lock<std::mutex>& lock, AlarmJob& job) {
    job.finished = 1;
    lock.unlock();
    jobFinished().set();  // outside jobTableLock, which is taken with no other lock
    lock.lock();
}

// The job this link takes next in this sweep, or -1: one handed to it after a failed attempt
// on the other modem first, then the oldest queued. `tried` marks the slots it attempted in
// this sweep (one attempt per job per sweep). Under jobTableLock.
int nextSlot(const ModemLink& link, const JobTable& table, const std::bitset<kJobSlots>& tried) {
    int best = -1;
    if (table.count.load() == 0) return best;  // the idle sweep costs next to nothing
    for (int slot = 0; slot < kJobSlots; ++slot) {
        const AlarmJob* job = table.slots[slot];
        if (job == nullptr || tried[slot] || !takes(link, *job)) continue;
        if (best < 0) {
            best = slot;
            continue;
        }
        const AlarmJob& b = *table.slots[best];
        const bool handed = job->failoverTo == link.number();
        const bool bestHanded = b.failoverTo == link.number();
        if (handed != bestHanded ? handed : job->queuedSeq < b.queuedSeq) best = slot;
    }
    return best;
}

}  // namespace

SubmitFn setSubmitFunction(SubmitFn submit) {
    return submitFn.exchange(submit != nullptr ? submit : &sendSms);
}

void dispatchSweep() { dispatchSweep(firstModem()); }

void dispatchSweep(ModemLink& link) {
    beat(Heart::Dispatch);
    std::unique_lock lock(jobTableLock());
    JobTable& table = jobTable();
    std::bitset<kJobSlots> tried;
    for (int slot = nextSlot(link, table, tried); slot >= 0; slot = nextSlot(link, table, tried)) {
        AlarmJob* job = table.slots[slot];
        tried[slot] = true;
        // The path is gone: its jobs wait for it (or go by the other), their attempts kept.
        if (!pathUsable(link)) return;
        if (!beginSubmission()) return;  // stopping: the job stays for the next start
        beat(Heart::Dispatch);
        const bool failover = job->failoverTo == link.number();
        job->failoverTo = 0;
        job->busyOn = static_cast<std::uint8_t>(link.number());  // the other link passes it by
        lock.unlock();
        const bool settled =
            job->mini ? sendMini(link, slot, *job) : sendAlarm(link, slot, *job, failover);
        lock.lock();
        job->busyOn = 0;
        const int handedTo = job->failoverTo;
        if (settled) finish(lock, *job);
        endSubmission();  // after finished is set, so that a stop waits for its report
        if (handedTo != 0 && handedTo != link.number()) {
            lock.unlock();
            jobQueued(handedTo).set();  // outside jobTableLock, as every event
            lock.lock();
        }
    }
}

void processingThread(ModemLink& link) {
    Event& queued = jobQueued(link.number());
    for (;;) {
        // Reset before the sweep: a job queued during it ends the pause at once.
        queued.reset();
        dispatchSweep(link);
        (void)queued.wait(500);
    }
}

}  // namespace gsms
