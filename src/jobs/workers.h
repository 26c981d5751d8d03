// The three threads of the alarm job pipeline; each returns only with the process.
#pragma once

namespace gsms {

// Watches the watch directory and queues new job files.
[[noreturn]] void readJobsThread();
// Sweeps the job table every 500 ms and submits the unfinished jobs.
[[noreturn]] void processingThread();
// Sweeps the job table every second: records finished jobs and moves their files.
[[noreturn]] void reportThread();

}  // namespace gsms
