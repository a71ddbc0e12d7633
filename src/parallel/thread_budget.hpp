// How many threads one call may use: the calling thread plus the workers of
// the process-wide pool, which therefore has one worker fewer. By default the
// CPUs this process may run on, within its cgroup's CPU quota;
// CORVANIS_NUM_THREADS overrides it, and when that is unset OMP_NUM_THREADS is
// honoured (pipelines set it to 1 to keep their own worker processes from
// oversubscribing the machine).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvanis::parallel {

// The most threads a call may use; a larger request is invalid.
inline constexpr std::size_t max_threads = 1024;

// The threads a call may use, the caller included; 1 runs every call serially
// and starts no pool. Until set, default_thread_count().
std::size_t thread_count() noexcept;

// Sets the thread count, clamped to [1, max_threads], and records the calling
// thread's CPU affinity, scheduling policy and nice value for the workers
// started from then on (worker_settings.hpp). Takes effect on the next call:
// the pool starts or retires workers to match.
void set_thread_count(std::size_t threads) noexcept;

// The CPUs in this process's affinity mask where the platform has one, else
// the hardware's thread count; at least 1.
std::size_t available_cpus() noexcept;

// The CPU time per unit of wall time that the cgroups of the process whose
// /proc directory is `proc_self` allow, rounded up to whole CPUs: the smallest
// quota over its cgroup and the cgroup's ancestors, from cpu.max (cgroup v2)
// or cpu.cfs_quota_us and cpu.cfs_period_us (v1's cpu controller). nullopt
// where no quota is set or no cgroup file system is found (and off Linux).
std::optional<std::size_t> cgroup_cpu_limit(const std::string& proc_self = "/proc/self");

// available_cpus(), within the cgroup CPU quota where there is one, and at
// most max_threads.
std::size_t default_thread_count() noexcept;

// A thread count as written in an environment variable: a decimal integer
// from 1 to max_threads, blanks around it allowed. OMP_NUM_THREADS may hold a
// comma list of counts per nesting level, of which the first applies
// (`first_of_list`). nullopt for anything else, zero and larger counts
// included.
std::optional<std::size_t> parse_thread_count(std::string_view text, bool first_of_list = false);

struct ThreadConfiguration {
    std::size_t threads;
    // The variable whose value was invalid and ignored, or nullptr.
    const char* ignored_variable;
};

// Sets the thread count from CORVANIS_NUM_THREADS, else OMP_NUM_THREADS, else
// default_thread_count(). An empty variable counts as unset; an invalid one is
// ignored like an unset one and named in the result, for the caller to warn.
// Reads the environment: call it once, from the module initialiser with the
// GIL held (os.environ writes it under the GIL), never from worker threads.
ThreadConfiguration configure_threads_from_environment();

}  // namespace corvanis::parallel
