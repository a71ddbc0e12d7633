#include "thread_budget.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "worker_settings.hpp"

namespace corvanis::parallel {
namespace {

// 0 until the count is set or first read.
std::atomic<std::size_t> configured_threads{0};

constexpr std::string_view blanks = " \t\n\r\f\v";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::size_t available_cpus() noexcept {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return static_cast<std::size_t>(count);
        }
    }
#endif
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}

std::size_t thread_count() noexcept {
    std::size_t threads = configured_threads.load(std::memory_order_relaxed);
    if (threads == 0) {
        threads = std::min(available_cpus(), max_threads);
        record_worker_settings();
        configured_threads.store(threads, std::memory_order_relaxed);
    }
    return threads;
}

void set_thread_count(std::size_t threads) noexcept {
    record_worker_settings();
    configured_threads.store(std::clamp<std::size_t>(threads, 1, max_threads),
                             std::memory_order_relaxed);
}

std::optional<std::size_t> parse_thread_count(std::string_view text, bool first_of_list) {
    if (first_of_list) {
        text = text.substr(0, text.find(','));
    }
    text = trimmed(text);
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        // Saturates: any longer number is capped anyway.
        value = std::min(value * 10 + static_cast<std::size_t>(c - '0'), max_threads + 1);
    }
    if (value == 0) {
        return std::nullopt;
    }
    return std::min(value, max_threads);
}

ThreadConfiguration configure_threads_from_environment() {
    struct Source {
        const char* variable;
        bool first_of_list;
    };
    constexpr Source sources[] = {{"CORVANIS_NUM_THREADS", false}, {"OMP_NUM_THREADS", true}};
    ThreadConfiguration configuration{0, nullptr};
    for (const Source& source : sources) {
        const char* value = std::getenv(source.variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        if (auto threads = parse_thread_count(value, source.first_of_list)) {
            configuration.threads = *threads;
            break;
        }
        if (configuration.ignored_variable == nullptr) {
            configuration.ignored_variable = source.variable;
        }
    }
    if (configuration.threads == 0) {
        configuration.threads = std::min(available_cpus(), max_threads);
    }
    set_thread_count(configuration.threads);
    return configuration;
}

}  // namespace corvanis::parallel
