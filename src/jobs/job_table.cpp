#include "jobs/job_table.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/log.h"
#include "platform/text_encoding.h"

namespace gsms {
namespace {

struct GuardedView {
    std::mutex lock;
    JobSlotView view;
};
// Read by the window and written by the workers until the process ends: never destroyed.
GuardedView* const views = new GuardedView[kVisibleSlots];

}  // namespace

JobTable& jobTable() {
    static JobTable table;
    return table;
}

std::mutex& jobTableLock() {
    static std::mutex lock;
    return lock;
}

Event& jobQueued(int modem) {
    // Never destroyed: the detached workers wait on them until the process ends.
    static Event* queued[2] = {new Event, new Event};
    return *queued[modem == 2 ? 1 : 0];
}

void wakeDispatch() {
    jobQueued(1).set();
    jobQueued(2).set();
}

Event& jobFinished() {
    static Event* finished = new Event;  // as jobQueued
    return *finished;
}

namespace {

// Copies the job into the lowest free slot and wakes the thread that takes it next.
int place(const AlarmJob& candidate, bool finished) {
    auto* job = new (std::nothrow) AlarmJob(candidate);
    if (job == nullptr) {
        fileLog("** new_alarm ** ERROR: Out of memory");
        return -1;
    }
    if (finished) job->finished = 1;
    else job->sent_at = 0;
    JobTable& t = jobTable();
    int slot = -1;
    {
        std::lock_guard lock(jobTableLock());
        static std::uint64_t nextSeq = 0;  // under jobTableLock
        job->queuedSeq = ++nextSeq;
        for (int i = 0; i < kJobSlots && slot < 0; ++i) {
            if (t.slots[i] == nullptr) {
                t.slots[i] = job;
                ++t.count;
                slot = i;
            }
        }
    }
    if (slot >= 0) {
        // Outside jobTableLock, which is taken with no other lock.
        if (finished) jobFinished().set();
        else wakeDispatch();
        return slot;
    }
    delete job;
    char line[64];
    std::snprintf(line, sizeof line, "** new_alarm ** ERROR: jobs overflow (>%d)", kJobSlots);
    fileLog(line);
    return -1;
}

}  // namespace

int new_alarm(const AlarmJob& candidate) { return place(candidate, false); }

int queue_finished(const AlarmJob& job) { return place(job, true); }

void free_alarm(int slot) {
    if (slot < 0 || slot >= kJobSlots) return;
    AlarmJob* job = nullptr;
    {
        std::lock_guard lock(jobTableLock());
        JobTable& t = jobTable();
        job = t.slots[slot];
        if (job == nullptr) return;
        t.slots[slot] = nullptr;
        --t.count;
    }
    delete job;
    char line[64];
    std::snprintf(line, sizeof line, "** free_alarm ** job %d freed", slot);
    fileLog(line);
    update_job_slot(slot, 0, "");
}

bool alarm_exists(const AlarmJob& c) {
    std::lock_guard lock(jobTableLock());
    for (const AlarmJob* j : jobTable().slots) {
        if (j == nullptr) continue;
        if (std::strcmp(j->Szenario, c.Szenario) == 0 &&
            std::strcmp(j->PhoneNumber, c.PhoneNumber) == 0 &&
            std::strcmp(j->Name, c.Name) == 0 && std::strcmp(j->Message, c.Message) == 0 &&
            std::strcmp(j->AlarmKey, c.AlarmKey) == 0 && j->dbentry == c.dbentry &&
            j->Rings == c.Rings && j->ConfirmType == c.ConfirmType &&
            j->SendConfirmAck == c.SendConfirmAck)
            return true;
    }
    return false;
}

void update_job_slot(int slot, int state, const char* text) {
    // Only the thirty visible slots have a view; the job limit keeps every job in them.
    if (slot < 0 || slot >= kVisibleSlots) return;
    // A job file's number, name and text: shown, so that none can break the caption.
    std::string t = text::shownText(text != nullptr ? text : "");
    t.resize(text::utf8HeadBytes(t, 255));
    {
        std::lock_guard lock(views[slot].lock);
        views[slot].view.state = state;
        views[slot].view.text = std::move(t);
    }
    notify(slot + 1);
}

JobSlotView jobSlotView(int slot) {
    if (slot < 0 || slot >= kVisibleSlots) return {};
    std::lock_guard lock(views[slot].lock);
    return views[slot].view;
}

void resetJobTableForTest() {
    {
        std::lock_guard lock(jobTableLock());
        JobTable& t = jobTable();
        for (auto*& j : t.slots) {
            delete j;
            j = nullptr;
        }
        t.count = 0;
    }
    jobFinished().reset();
    for (int i = 0; i < kVisibleSlots; ++i) {
        std::lock_guard lock(views[i].lock);
        views[i].view = {};
    }
}

}  // namespace gsms
