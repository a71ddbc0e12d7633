#include "job.hpp"

#include <algorithm>

namespace corvanis::parallel::detail {

Failure Job::run_chunks() {
    while (!failed.load(std::memory_order_relaxed)) {
        const std::size_t chunk = next_chunk.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= chunks) {
            break;
        }
        const std::size_t begin = chunk * grain;
        try {
            invoke(body, begin, std::min(count - begin, grain) + begin);
        } catch (...) {
            std::exception_ptr exception = std::current_exception();
            if (!exception) {
                // No C++ exception: thread exit (a forced unwind) must unwind
                // to the end; the caller's frame still waits for the helpers
                // before its job goes away.
                throw;
            }
            failed.store(true, std::memory_order_relaxed);
            return Failure{chunk, std::move(exception)};
        }
    }
    return {};
}

}  // namespace corvanis::parallel::detail
