// Fixed cost of parallel_for and the serial work at which splitting starts to
// pay, for calls back to back and for calls 1 ms apart (the worker's CPU then
// sits idle between calls, as in a fitting loop with other work in between).
// Medians over many calls; the figures mean little unless the machine is
// otherwise idle: build/.../benchmarks/bench_parallel_for
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "src/parallel/parallel_for.hpp"

namespace {

using corvanis::parallel::parallel_for;
using corvanis::parallel::set_thread_count;
using Clock = std::chrono::steady_clock;

double elapsed_ns(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::nano>(end - start).count();
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Dependent arithmetic the compiler cannot drop.
double spin(double x, long steps) {
    for (long i = 0; i < steps; ++i) {
        x = x * 0.999999 + 1e-9;
    }
    return x;
}

// Steps of spin() per microsecond on this machine.
long steps_per_us() {
    const long steps = 20'000'000;
    const auto start = Clock::now();
    volatile double sink = spin(1.0, steps);
    (void)sink;
    return static_cast<long>(steps / (elapsed_ns(start, Clock::now()) / 1e3));
}

int gap_us = 500;

void let_workers_sleep() {
    if (gap_us > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(gap_us));
    }
}

// Median time of a call over `count` elements of `steps` each, one per chunk.
double call_ns(std::size_t threads, std::size_t count, long steps, int repeats) {
    set_thread_count(threads);
    std::vector<double> out(count);
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        let_workers_sleep();
        const auto start = Clock::now();
        parallel_for(count, 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                out[i] = spin(static_cast<double>(i), steps);
            }
        });
        times.push_back(elapsed_ns(start, Clock::now()));
    }
    return median(times);
}

// Wake-up: from the call's start until the worker starts a chunk, and until
// the call returns, with two chunks of which the caller's waits for the
// worker's.
void wake_up(int repeats) {
    set_thread_count(2);
    std::vector<double> wake;
    std::vector<double> done;
    for (int r = 0; r < repeats; ++r) {
        let_workers_sleep();
        const auto caller = std::this_thread::get_id();
        std::atomic<bool> helped{false};
        Clock::time_point helped_at{};
        const auto start = Clock::now();
        parallel_for(2, 1, [&](std::size_t, std::size_t) {
            if (std::this_thread::get_id() != caller) {
                helped_at = Clock::now();
                helped.store(true, std::memory_order_release);
                return;
            }
            while (!helped.load(std::memory_order_acquire)) {
            }
        });
        done.push_back(elapsed_ns(start, Clock::now()));
        wake.push_back(elapsed_ns(start, helped_at));
    }
    std::printf("worker wake-up %.1f us, call done %.1f us (medians of %d)\n",
                median(wake) / 1e3, median(done) / 1e3, repeats);
}

}  // namespace

int main() {
    const long per_us = steps_per_us();
    call_ns(2, 2, 0, 10);  // starts the worker
    wake_up(2001);
    std::printf("empty body, 2 chunks: 1 thread %.2f us, 2 threads %.2f us\n",
                call_ns(1, 2, 0, 2001) / 1e3, call_ns(2, 2, 0, 2001) / 1e3);
    std::printf("8 chunks of equal work, medians in us:\n%10s %8s %10s %10s %10s\n", "work",
                "gap", "1 thread", "2 threads", "speed-up");
    for (const long work_us : {5, 10, 20, 40, 80, 160, 320, 1000}) {
        for (const int gap : {0, 1000}) {
            gap_us = gap;
            const long steps = work_us * per_us / 8;
            const double serial = call_ns(1, 8, steps, 1001);
            const double split = call_ns(2, 8, steps, 1001);
            std::printf("%10ld %8d %10.1f %10.1f %10.2f\n", work_us, gap, serial / 1e3,
                        split / 1e3, serial / split);
        }
    }
}
