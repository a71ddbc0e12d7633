// A parallel loop over the indices [0, count) for work done with the GIL
// released: body(begin, end) runs on consecutive chunks of `grain` indices,
// claimed in increasing order by the calling thread and by free workers of the
// process-wide pool. The body writes its results by index and touches no
// Python object, so the outcome does not depend on which thread ran a chunk.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <type_traits>

#include "job.hpp"
#include "pool.hpp"
#include "thread_budget.hpp"

namespace corvanis::parallel {

// Runs body(begin, end) over [0, count) in chunks of `grain` indices (a grain
// of 0 counts as 1). Serial, as one body(0, count), when there is one chunk or
// one thread. If the body throws, chunks not yet claimed are skipped, the call
// waits for the running ones and rethrows the exception of the earliest
// failing chunk: the one a serial loop would have thrown, when the body fails
// deterministically.
template <class Body>
void parallel_for(std::size_t count, std::size_t grain, Body&& body) {
    if (count == 0) {
        return;
    }
    grain = std::max<std::size_t>(grain, 1);
    if (grain >= count || thread_count() == 1) {
        body(std::size_t{0}, count);
        return;
    }
    using Callable = std::remove_reference_t<Body>;
    detail::Job job(count, grain,
                    [](void* callable, std::size_t begin, std::size_t end) {
                        (*static_cast<Callable*>(callable))(begin, end);
                    },
                    const_cast<void*>(static_cast<const void*>(std::addressof(body))));
    detail::run(job);
}

// Fixed cost of one parallel_for that splits, with the helper asleep when it
// starts (benchmarks/bench_parallel_for.cpp on a 2-core VM: 5.6 us idle, up to
// 10 us loaded, most of it the futex wake-up of the worker; 0.05 us serial).
inline constexpr double split_overhead_ns = 10'000;
// A call is split only when its serial work is many times that overhead: then
// it loses at most about 5% when no worker gets to help, and gains up to 2x
// with two threads when one does.
inline constexpr double min_split_work_ns = 20 * split_overhead_ns;
// Work per chunk: claiming a chunk costs one atomic increment, and short
// chunks keep the threads' finishing times close.
inline constexpr double chunk_work_ns = 20'000;

// Indices per chunk for `count` elements that cost about `element_ns`
// nanoseconds each (an estimate per model): `count`, one serial
// chunk, when the call is not worth splitting.
inline std::size_t split_grain(std::size_t count, double element_ns) noexcept {
    const double work_ns = static_cast<double>(count) * element_ns;
    if (thread_count() == 1 || !(work_ns >= min_split_work_ns)) {
        return std::max<std::size_t>(count, 1);
    }
    const double grain = std::ceil(chunk_work_ns / element_ns);
    return grain >= static_cast<double>(count) ? count : std::max<std::size_t>(grain, 1);
}

}  // namespace corvanis::parallel
