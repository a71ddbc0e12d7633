#include "job.hpp"

#include <algorithm>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

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
#if defined(__GLIBCXX__)
        } catch (abi::__forced_unwind&) {
            // Thread exit (pthread_exit) must unwind to the end; the caller's
            // frame still waits for the helpers before its job goes away.
            throw;
#endif
        } catch (...) {
            failed.store(true, std::memory_order_relaxed);
            return Failure{chunk, std::current_exception()};
        }
    }
    return {};
}

}  // namespace corvanis::parallel::detail
