// The alarm job table: 1024 slots of heap-owned jobs, 30 of them shown by the window.
//
// Threads: ReadJobsThread (alarm_exists, new_alarm, reads the count), ProcessingThread
// (scans and changes unfinished jobs under jobTableLock, releasing it around each send),
// ReportThread (reads finished jobs, free_alarm) and the window (reads the slot views);
// queue_finished is the ReadJobsThread's too.
// jobTableLock guards the slots, the count and each unfinished job's dispatch fields; no
// other lock is taken while it is held. The count is an atomic, readable without the lock.
// Each JobSlotView has a lock of its own, so the window never reads a half-written view.
// jobQueued is set by new_alarm (any thread) and waited on and reset by the ProcessingThread;
// jobFinished is set by the ProcessingThread and queue_finished and waited on and reset by the
// ReportThread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/event.h"
#include "platform/paths.h"

namespace gsms {

constexpr int STATUS_SENT = 8;
constexpr int STATUS_FAILED = 3;
constexpr int kJobSlots = 1024;
constexpr int kVisibleSlots = 30;
constexpr int kJobLimit = 30;  // jobs admitted by the watcher: every job has a visible slot
// A job's text: at most 2047 characters, held as UTF-8, so up to four bytes each.
constexpr std::size_t kMessageChars = 2047;
constexpr std::size_t kMessageSize = kMessageChars * 4 + 1;

struct AlarmJob {
    char path[paths::kPathSize];  // the job file, as long as the system allows
    char Szenario[64];
    char Name[64];
    char PhoneNumber[64];
    char AlarmKey[8];
    char Message[kMessageSize];  // UTF-8, at most kMessageChars characters
    std::int32_t dbentry;
    std::int32_t Flash;
    std::int32_t ConfirmType;
    std::int32_t Rings;
    std::uint8_t SendConfirmAck;
    std::uint8_t mini;
    std::int32_t sent_at;  // wall time of the last attempt: the row's time and the success line
    std::uint8_t finished;
    std::int32_t status;
    std::int32_t tries;
    // Not attempted before this reading of the monotonic clock (clock::monotonicMs); 0: at
    // once. A step of the wall clock neither holds a retry back nor brings it forward.
    std::int64_t next_try_at;
    // The job file the watcher read (device and inode; 0 and 0 when not known): reporting
    // moves that file and no other that took its name meanwhile. With its size, modification
    // time and the digest of its bytes it is what the journal (job_journal.h) keeps.
    std::uint64_t fileDev;
    std::uint64_t fileIno;
    std::int64_t fileSize;
    std::int64_t fileMtimeNs;
    std::uint64_t fileDigest;
    std::uint8_t rowWritten;  // the status row holds the outcome already (known from the journal)
    std::uint8_t fileEncoding;  // the job file's text::Encoding: its success line is written so
    // Two modems: the modem (1 or 2) whose attempt is in flight, which the other passes by;
    // and the one that is to try at once after a failed attempt on the other. 0: none.
    std::uint8_t busyOn;
    std::uint8_t failoverTo;
    // The order in which jobs were queued (new_alarm numbers them): dispatch takes the oldest
    // first, whichever slot a job found free.
    std::uint64_t queuedSeq;
};

struct JobTable {
    AlarmJob* slots[kJobSlots] = {};
    std::atomic<int> count{0};
};

JobTable& jobTable();
std::mutex& jobTableLock();
// Set whenever a job is queued: the ProcessingThread sleeps on it between sweeps, so that a
// new alarm does not wait out the sweep pause while the modem is free. With two modems each
// ProcessingThread has its own (modem 1 or 2), so that neither takes the other's wake.
Event& jobQueued(int modem = 1);
// Sets the events of both ProcessingThreads.
void wakeDispatch();
// Set whenever a job is finished (sent, or failed for good): the ReportThread sleeps on it
// between sweeps, so that the outcome is recorded and the file moved at once. Until then the
// file is still in the watch folder, and a gateway killed meanwhile would send the job again.
Event& jobFinished();

// Copies the candidate into a new job in the lowest free slot. Slot index, or -1 (logged)
// when memory or slots run out.
int new_alarm(const AlarmJob& candidate);
// Puts a job that is finished already (found in the journal) into the lowest free slot, its
// outcome and sent_at as given, for the ReportThread, which it wakes. Slot index, or -1 as
// new_alarm.
int queue_finished(const AlarmJob& job);
// Destroys the job in the slot, if any, logs it and shows the slot idle.
void free_alarm(int slot);
// True when a queued job equals the candidate on its identifying fields.
[[nodiscard]] bool alarm_exists(const AlarmJob& candidate);
// Stores state and caption in the slot's view and notifies code slot + 1 (visible slots only).
// The caption is shown as the logs show a text (text::shownText): one line of UTF-8.
void update_job_slot(int slot, int state, const char* text);

struct JobSlotView {
    int state = 0;
    std::string text;  // UTF-8, at most 255 bytes, cut between characters
};
// A consistent copy of a visible slot's view.
JobSlotView jobSlotView(int slot);

// Frees every job, clears the views and resets jobFinished (tests).
void resetJobTableForTest();

}  // namespace gsms
