// One parallel_for call as the pool sees it: the chunks of [0, count), the
// counter through which threads claim them in increasing order, the caller's
// floating-point environment, and the first failure. The job lives on the
// calling thread's stack; the pool guarantees that no worker refers to it once
// the call has returned.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <limits>

#include "fp_environment.hpp"

namespace corvanis::parallel::detail {

// The exception a thread caught from the body, with the chunk it ran.
struct Failure {
    std::size_t chunk = std::numeric_limits<std::size_t>::max();
    std::exception_ptr exception;
};

struct Job {
    using Invoke = void (*)(void* body, std::size_t begin, std::size_t end);

    Job(std::size_t count, std::size_t grain, Invoke invoke, void* body) noexcept
        : count(count), grain(grain), chunks((count - 1) / grain + 1), invoke(invoke),
          body(body), environment(FloatingPointEnvironment::current()) {}
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Claims and runs chunks until none is left or one has failed anywhere.
    // Returns this thread's failure, if any. Chunks are claimed in increasing
    // order and a claimed chunk always runs to its end, so every chunk before
    // the first failing one runs, as in a serial loop.
    Failure run_chunks();

    // Keeps the failure of the earlier chunk. Called by each thread after it
    // stopped claiming, under the pool's lock for workers.
    void merge(Failure&& failure) noexcept {
        if (failure.exception && failure.chunk < first_failure.chunk) {
            first_failure = std::move(failure);
        }
    }

    bool has_chunks_left() const noexcept {
        return !failed.load(std::memory_order_relaxed) &&
               next_chunk.load(std::memory_order_relaxed) < chunks;
    }

    const std::size_t count;
    const std::size_t grain;
    const std::size_t chunks;
    const Invoke invoke;
    void* const body;
    // The calling thread's, in which workers run the chunks.
    const FloatingPointEnvironment environment;

    std::atomic<std::size_t> next_chunk{0};
    std::atomic<bool> failed{false};

    // Guarded by the pool's lock.
    std::size_t helpers = 0;  // workers running the job's chunks
    bool queued = false;      // in the pool's queue, open to workers
    Job* next_queued = nullptr;
    Failure first_failure;
    int raised_by_helpers = 0;  // floating-point exceptions of the workers' chunks
    std::condition_variable helpers_done;
};

}  // namespace corvanis::parallel::detail
