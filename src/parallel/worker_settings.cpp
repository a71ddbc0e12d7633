#include "worker_settings.hpp"

#include <atomic>
#include <new>

#if defined(__linux__)
#include <sched.h>
#include <sys/resource.h>

#include <cerrno>
#endif

namespace corvanis::parallel {

#if defined(__linux__)
namespace {

struct Settings {
    cpu_set_t cpus;
    bool has_cpus;
    int policy;
    sched_param priority;
    bool has_policy;
    int nice;
    bool has_nice;
    // The settings recorded before: a worker may still be reading them, so
    // they stay (a recording is made at import, not per call).
    const Settings* earlier;
};

std::atomic<const Settings*> recorded{nullptr};

}  // namespace

void record_worker_settings() noexcept {
    auto* settings = new (std::nothrow) Settings{};
    if (settings == nullptr) {
        return;
    }
    CPU_ZERO(&settings->cpus);
    // pid 0: the calling thread, for each of these on Linux.
    settings->has_cpus = sched_getaffinity(0, sizeof settings->cpus, &settings->cpus) == 0;
    settings->policy = sched_getscheduler(0);
    settings->has_policy = settings->policy != -1 && sched_getparam(0, &settings->priority) == 0;
    errno = 0;
    settings->nice = getpriority(PRIO_PROCESS, 0);
    settings->has_nice = errno == 0;
    settings->earlier = recorded.load(std::memory_order_relaxed);
    recorded.store(settings, std::memory_order_release);
}

void adopt_worker_settings() noexcept {
    const Settings* settings = recorded.load(std::memory_order_acquire);
    if (settings == nullptr) {
        return;
    }
    if (settings->has_cpus) {
        sched_setaffinity(0, sizeof settings->cpus, &settings->cpus);
    }
    if (settings->has_policy) {
        sched_setscheduler(0, settings->policy, &settings->priority);
    }
    if (settings->has_nice) {
        setpriority(PRIO_PROCESS, 0, settings->nice);
    }
}

#else

void record_worker_settings() noexcept {}
void adopt_worker_settings() noexcept {}

#endif

}  // namespace corvanis::parallel
