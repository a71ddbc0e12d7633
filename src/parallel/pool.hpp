// The process-wide worker pool behind parallel_for. It is created on the first
// call that splits, holds thread_count() - 1 workers shared by all callers, and
// is never destroyed: its workers are detached and wait on state that outlives
// static destruction, so the process can exit with calls in flight. Workers
// run only job chunks and never touch a Python object. A child created by
// fork abandons its parent's pool and starts its own on first use.
#pragma once

#include <cstddef>

#include "job.hpp"

namespace corvanis::parallel {

namespace detail {

// Runs the job: the calling thread claims chunks itself while free workers
// help. Returns once every claimed chunk has finished and no worker refers to
// the job any more; then rethrows the exception of the first failing chunk.
void run(Job& job);

}  // namespace detail

// The workers the pool has now: 0 before its first use.
std::size_t pool_workers();

}  // namespace corvanis::parallel
