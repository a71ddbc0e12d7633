// The scheduling settings of the pool's workers: the CPU affinity mask, the
// scheduling policy and priority, and the nice value of the thread that set
// the thread count (the thread that imported the module: the process's
// settings when the count was taken from them), not those of whichever thread
// happens to start a worker. On Linux all three are attributes of a thread,
// which a new thread inherits from the one that creates it.
#pragma once

namespace corvanis::parallel {

// Records the calling thread's settings for the workers started from then on.
void record_worker_settings() noexcept;

// Gives the calling thread (a new worker) the recorded settings. One this
// process may not set (a nice value below the current one without the
// privilege) stays as inherited.
void adopt_worker_settings() noexcept;

}  // namespace corvanis::parallel
