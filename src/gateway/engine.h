// Engine start-up: startEngine creates the engine thread init_gsms, which loads the settings,
// opens the modem port, starts the reader, brings the modem into service and then starts the
// worker threads. A fatal start-up failure ends the process with exit code 1 after a pause,
// so that a supervisor restarts it. finishWork is the orderly stop that gsmsd makes of
// SIGTERM: nothing new starts, and what is in hand ends, so that nothing goes out twice.
//
// Thread contract: startEngine runs on the front end's thread; the engine stage is written by
// startEngine, the engine thread and a fatal stop on whatever thread meets it, and read by
// any thread. Each change of stage is posted as notification code kNotifyEngineState.
#pragma once

#include <cstdint>
#include <string>

#include "core/activity.h"
#include "core/process_exit.h"

namespace gsms {

// Creates the engine thread and returns 0 at once (-1 when no thread could be made).
// Called once per process.
int startEngine();

// The engine thread's routine.
void init_gsms();

// The modem could not be brought into service (at start, or when the LinkThread brings it
// back): marks the engine stopped, logs the message (both logs), pauses 10 s and ends the
// process with exitCode.
[[noreturn]] void fatalModemStop(const std::string& message, int exitCode);

// Tests: put the engine in a stage without running it.
void setEngineStageForTest(EngineStage stage);

// How long an orderly stop waits for the work in hand, in gateway milliseconds: the longest
// submission of one part (5 s for its parameters, 5 s for the prompt, 30 s for the answer,
// 30 s for a late one) after the longest other modem exchange it may have waited for.
constexpr std::int64_t kFinishWorkLimitMs = 100000;

// The orderly stop, on the calling thread: no job is taken and no submission, signal poll or
// incoming listing starts any more; then it waits until the submission in flight has ended,
// takes modemLock (so that an incoming listing ends with its commands run and its messages deleted, and no other
// exchange starts), and waits until every finished job has been reported (its row written,
// its file moved), all within limitMs. 0 when everything ended in time; -1 when something was
// still running then, and `unfinished` says what. modemLock is kept: the process ends next.
[[nodiscard]] int finishWork(std::int64_t limitMs, std::string& unfinished);

}  // namespace gsms
