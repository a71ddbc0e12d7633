#include "thread_budget.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

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

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

bool contains(const std::vector<std::string>& list, std::string_view item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// A path field of /proc/self/mountinfo, whose blanks and backslashes are
// written as octal escapes (\040).
std::string unescaped(const std::string& field) {
    std::string path;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            path += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            path += field[i];
        }
    }
    return path;
}

// A positive decimal integer; nullopt for anything else ("max", "-1").
std::optional<std::int64_t> positive(const std::string& word) {
    std::int64_t value = 0;
    if (word.empty() || word.size() > 18) {
        return std::nullopt;
    }
    for (const char c : word) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value > 0 ? std::optional(value) : std::nullopt;
}

// The quota of one cgroup directory as (quota, period) in microseconds.
struct Quota {
    std::int64_t quota;
    std::int64_t period;
};

std::optional<Quota> quota_v2(const std::string& directory) {
    std::ifstream file(directory + "/cpu.max");
    std::string quota, period;
    if (!(file >> quota >> period)) {
        return std::nullopt;  // no file (the root cgroup), or no quota
    }
    const auto q = positive(quota), p = positive(period);  // "max": none
    if (!q || !p) {
        return std::nullopt;
    }
    return Quota{*q, *p};
}

std::optional<Quota> quota_v1(const std::string& directory) {
    std::ifstream quota_file(directory + "/cpu.cfs_quota_us");
    std::ifstream period_file(directory + "/cpu.cfs_period_us");
    std::string quota, period;
    if (!(quota_file >> quota) || !(period_file >> period)) {
        return std::nullopt;
    }
    const auto q = positive(quota), p = positive(period);  // -1: none
    if (!q || !p) {
        return std::nullopt;
    }
    return Quota{*q, *p};
}

// The directory of the cgroup `path` (as /proc/self/cgroup names it) in a
// mount of its hierarchy whose root is `root`, walked up to the mount point;
// the smallest quota found on the way, in CPUs rounded up.
std::optional<std::size_t> smallest_quota(const std::string& mount_point, const std::string& root,
                                          const std::string& path,
                                          std::optional<Quota> (*read)(const std::string&)) {
    std::string relative;
    if (root == "/") {
        relative = path;
    } else if (path.compare(0, root.size(), root) == 0 &&
               (path.size() == root.size() || path[root.size()] == '/')) {
        relative = path.substr(root.size());
    } else {
        return std::nullopt;  // the cgroup is not inside this mount
    }
    std::optional<std::size_t> limit;
    for (;;) {
        while (!relative.empty() && relative.back() == '/') {
            relative.pop_back();
        }
        if (const auto quota = read(mount_point + relative)) {
            const auto cpus =
                static_cast<std::size_t>((quota->quota + quota->period - 1) / quota->period);
            limit = std::min(limit.value_or(cpus), cpus);
        }
        if (relative.empty()) {
            return limit;
        }
        const std::size_t parent = relative.rfind('/');
        relative.erase(parent == std::string::npos ? 0 : parent);
    }
}

}  // namespace

std::optional<std::size_t> cgroup_cpu_limit(const std::string& proc_self) {
#if defined(__linux__)
    try {
        // This process's cgroup in the v2 hierarchy and in v1's cpu one.
        std::optional<std::string> v2_path, v1_path;
        std::ifstream cgroups(proc_self + "/cgroup");
        for (std::string line; std::getline(cgroups, line);) {
            const std::size_t first = line.find(':');
            const std::size_t second = line.find(':', first + 1);
            if (first == std::string::npos || second == std::string::npos) {
                continue;
            }
            const std::string controllers = line.substr(first + 1, second - first - 1);
            const std::string path = line.substr(second + 1);
            if (line.compare(0, first, "0") == 0 && controllers.empty()) {
                v2_path = path;
            } else if (contains(split(controllers, ','), "cpu")) {
                v1_path = path;
            }
        }
        // Their mounts, one a line:
        // "id parent device root mount-point options [tags...] - type source super-options".
        std::optional<std::size_t> limit;
        std::ifstream mounts(proc_self + "/mountinfo");
        for (std::string line; std::getline(mounts, line);) {
            const std::vector<std::string> fields = split(line, ' ');
            const auto dash = std::find(fields.begin(), fields.end(), "-");
            if (fields.size() < 5 || fields.end() - dash < 4) {
                continue;
            }
            const std::string& type = dash[1];
            std::optional<std::size_t> found;
            if (type == "cgroup2" && v2_path) {
                found = smallest_quota(unescaped(fields[4]), unescaped(fields[3]), *v2_path,
                                       quota_v2);
            } else if (type == "cgroup" && v1_path && contains(split(dash[3], ','), "cpu")) {
                found = smallest_quota(unescaped(fields[4]), unescaped(fields[3]), *v1_path,
                                       quota_v1);
            }
            if (found) {
                limit = std::min(limit.value_or(*found), *found);
            }
        }
        if (limit) {
            return std::max<std::size_t>(*limit, 1);
        }
    } catch (const std::exception&) {
        // Out of memory reading small files: no quota is known.
    }
#else
    (void)proc_self;
#endif
    return std::nullopt;
}

std::size_t default_thread_count() noexcept {
    std::size_t threads = std::min(available_cpus(), max_threads);
    std::optional<std::size_t> quota;
    try {
        quota = cgroup_cpu_limit();
    } catch (...) {
    }
    return quota ? std::min(threads, *quota) : threads;
}

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
        threads = default_thread_count();
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
        // Saturates: any longer number is too large anyway.
        value = std::min(value * 10 + static_cast<std::size_t>(c - '0'), max_threads + 1);
    }
    if (value == 0 || value > max_threads) {
        return std::nullopt;
    }
    return value;
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
        configuration.threads = default_thread_count();
    }
    set_thread_count(configuration.threads);
    return configuration;
}

}  // namespace corvanis::parallel
