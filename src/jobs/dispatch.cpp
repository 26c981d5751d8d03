// ProcessingThread: one attempt per unfinished job per sweep, in slot order; alarms are
// retried after "RetryDelay" (on the monotonic clock) up to "RetryCount" attempts,
// mini-messages get one. A settled outcome goes into the journal at once. Between
// sweeps it pauses 500 ms, or until a job is queued. Once a stop is requested no submission
// starts; the one in flight ends and its job is marked finished before it counts as ended.
// A job it finishes wakes the ReportThread. While the modem port is gone nothing is submitted.
#include "jobs/dispatch.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "jobs/job_journal.h"
#include "jobs/job_table.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/text_encoding.h"
#include "sms/sms_submit.h"

namespace gsms {

namespace {

constexpr int kSendingState = 2;

// The first modem takes every job today.
int sendOnFirstModem(const char* number, const char* text, int flash) {
    return sendSms(firstModem(), number, text, flash);
}

// sendSms on the first modem, unless a test or another modem path has handed in its own.
std::atomic<SubmitFn> submitFn{&sendOnFirstModem};

int submitJob(const AlarmJob& job) {
    return submitFn.load()(job.PhoneNumber, job.Message, job.Flash > 0 ? 1 : 0);
}

// The time of an attempt, as the status row and the success line show it.
std::int32_t now32() { return static_cast<std::int32_t>(clock::wallSeconds()); }

// The outcome is settled: in the journal before anything else, so that from here on a kill
// leaves a file that is reported at the next start, not sent again.
void settle(AlarmJob& job, int status) {
    job.status = status;
    jobJournal().finished(jobFileVersion(job), job.status, job.sent_at);
}

void sendMini(int slot, AlarmJob& job) {
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
    if (submitJob(job) != 0) {
        settle(job, STATUS_FAILED);
        std::snprintf(line, sizeof line, "ERROR sending to %s", number.c_str());
        windowLog(nullptr, line, kColorRed);
        tally(Tally::Failed);
    } else {
        settle(job, STATUS_SENT);
        std::snprintf(line, sizeof line, "Message sent to %s", number.c_str());
        windowLog(nullptr, line, kColorGreen);
        tally(Tally::Sent);
    }
    fileLog(line);
}

void sendAlarm(int slot, AlarmJob& job) {
    char caption[256];
    std::snprintf(caption, sizeof caption, "sending alarm %s to %s", job.AlarmKey, job.Name);
    update_job_slot(slot, kSendingState, caption);
    job.sent_at = now32();
    char line[256];
    const std::string number = shownNumber(job.PhoneNumber);
    if (submitJob(job) != 0) {
        const int retryCount = settings().retryCount.load();
        ++job.tries;
        if (job.tries < retryCount) {
            job.sent_at = 0;
            job.next_try_at =
                clock::monotonicMs() + std::int64_t{settings().retryDelay.load()} * 1000;
            tally(Tally::Retried);
        } else {
            settle(job, STATUS_FAILED);
            tally(Tally::Failed);
        }
        std::snprintf(line, sizeof line, "ERROR sending to %s (try %d/%d)", number.c_str(),
                      job.tries, retryCount);
        windowLog(nullptr, line, kColorRed);
    } else {
        settle(job, STATUS_SENT);
        std::snprintf(line, sizeof line, "Message sent to %s", number.c_str());
        windowLog(nullptr, line, kColorGreen);
        tally(Tally::Sent);
    }
    fileLog(line);
}

// Marks the job finished (under jobTableLock, which lock holds) and wakes the ReportThread
// before the next submission begins.
void finish(std::unique_lock<std::mutex>& lock, AlarmJob& job) {
    job.finished = 1;
    lock.unlock();
    jobFinished().set();  // outside jobTableLock, which is taken with no other lock
    lock.lock();
}

}  // namespace

SubmitFn setSubmitFunction(SubmitFn submit) {
    return submitFn.exchange(submit != nullptr ? submit : &sendOnFirstModem);
}

void dispatchSweep() {
    beat(Heart::Dispatch);
    std::unique_lock lock(jobTableLock());
    JobTable& table = jobTable();
    for (int slot = 0; slot < kJobSlots; ++slot) {
        AlarmJob* job = table.slots[slot];
        if (job == nullptr || job->finished) continue;
        if (!job->mini && clock::monotonicMs() < job->next_try_at) continue;
        // The port is gone: every job waits for it, its attempts kept.
        if (firstModem().portHungUp()) return;
        if (!beginSubmission()) return;  // stopping: the job stays for the next start
        beat(Heart::Dispatch);
        lock.unlock();
        if (job->mini) sendMini(slot, *job);
        else sendAlarm(slot, *job);
        lock.lock();
        if (job->mini || job->sent_at != 0) finish(lock, *job);
        endSubmission();  // after finished is set, so that a stop waits for its report
    }
}

void processingThread() {
    for (;;) {
        // Reset before the sweep: a job queued during it ends the pause at once.
        jobQueued().reset();
        dispatchSweep();
        (void)jobQueued().wait(500);
    }
}

}  // namespace gsms
