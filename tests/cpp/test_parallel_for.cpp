#include "src/parallel/parallel_for.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CORVANIS_TSAN 1
#endif
#elif defined(__SANITIZE_THREAD__)
#define CORVANIS_TSAN 1
#endif

namespace {

using namespace corvanis::parallel;
using namespace std::chrono_literals;

class ParallelFor : public ::testing::Test {
protected:
    void TearDown() override { set_thread_count(available_cpus()); }
};

// Waits until `parties` threads have arrived; false after a generous timeout.
bool rendezvous(std::atomic<int>& arrived, int parties) {
    ++arrived;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (arrived.load() < parties) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(100us);
    }
    return true;
}

TEST_F(ParallelFor, RunsEveryIndexOnceInWholeChunks) {
    for (const std::size_t threads : {1, 2, 3, 8}) {
        set_thread_count(threads);
        for (const std::size_t count : {0, 1, 2, 7, 64, 1000}) {
            for (const std::size_t grain : {0, 1, 3, 64, 5000}) {
                std::vector<std::atomic<int>> hits(count);
                const std::size_t g = grain == 0 ? 1 : grain;
                parallel_for(count, grain, [&](std::size_t begin, std::size_t end) {
                    EXPECT_TRUE(begin % g == 0 && begin < end && end <= count &&
                                (end - begin == g || end == count))
                        << begin << ".." << end;
                    for (std::size_t i = begin; i < end; ++i) {
                        ++hits[i];
                    }
                });
                for (std::size_t i = 0; i < count; ++i) {
                    ASSERT_EQ(hits[i].load(), 1) << threads << " threads, count " << count
                                                 << ", grain " << grain << ", index " << i;
                }
            }
        }
        if (threads > 1) {
            EXPECT_EQ(pool_workers(), threads - 1);
        }
    }
}

TEST_F(ParallelFor, WorkersHelpTheCaller) {
    set_thread_count(4);
    std::atomic<int> arrived{0};
    std::atomic<int> met{0};
    parallel_for(4, 1, [&](std::size_t, std::size_t) { met += rendezvous(arrived, 4); });
    EXPECT_EQ(met.load(), 4);
}

TEST_F(ParallelFor, ConcurrentAndNestedCallersShareTheBudget) {
    set_thread_count(3);
    constexpr std::size_t count = 48;
    std::atomic<int> helping{0};
    std::atomic<int> most_helping{0};
    std::atomic<int> wrong{0};
    // Counts the workers inside bodies: threads other than the call's caller.
    auto call = [&](auto&& self, int depth) -> void {
        const auto caller = std::this_thread::get_id();
        std::vector<int> hits(count);
        parallel_for(count, 1, [&](std::size_t begin, std::size_t end) {
            const bool helper = std::this_thread::get_id() != caller;
            if (helper) {
                const int now = ++helping;
                int most = most_helping.load();
                while (now > most && !most_helping.compare_exchange_weak(most, now)) {
                }
            }
            for (std::size_t i = begin; i < end; ++i) {
                ++hits[i];
            }
            if (depth > 0 && begin % 16 == 0) {
                self(self, depth - 1);
            }
            std::this_thread::sleep_for(50us);
            if (helper) {
                --helping;
            }
        });
        for (const int h : hits) {
            wrong += h != 1;
        }
    };
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&] { call(call, 2); });
    }
    for (std::thread& t : callers) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GE(most_helping.load(), 1);
    EXPECT_LE(most_helping.load(), 2);
    EXPECT_EQ(pool_workers(), 2u);
}

TEST_F(ParallelFor, RethrowsTheEarliestFailingChunkAfterTheOthers) {
    for (const std::size_t threads : {1, 2, 4}) {
        set_thread_count(threads);
        for (const std::size_t grain : {1, 7}) {
            std::vector<std::atomic<int>> done(200);
            std::atomic<int> running{0};
            try {
                // Index 37 fails late, after other threads have failed at 150.
                parallel_for(200, grain, [&](std::size_t begin, std::size_t end) {
                    ++running;
                    for (std::size_t i = begin; i < end; ++i) {
                        if (i == 37) {
                            std::this_thread::sleep_for(5ms);
                        }
                        if (i == 37 || i == 150) {
                            --running;
                            throw std::out_of_range(std::to_string(i));
                        }
                        ++done[i];
                    }
                    --running;
                });
                ADD_FAILURE() << "no exception";
            } catch (const std::out_of_range& failure) {
                EXPECT_STREQ(failure.what(), "37") << threads << " threads, grain " << grain;
            }
            EXPECT_EQ(running.load(), 0);
            for (std::size_t i = 0; i < 37; ++i) {
                ASSERT_EQ(done[i].load(), 1) << "index " << i;
            }
        }
        EXPECT_THROW(parallel_for(100, 1, [](std::size_t, std::size_t) { throw std::bad_alloc(); }),
                     std::bad_alloc);
    }
}

// The child of a process whose pool is busy (its lock possibly held by a
// worker at the fork) starts its own workers and computes.
TEST_F(ParallelFor, ForkedChildComputes) {
#if defined(CORVANIS_TSAN)
    GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in a child of a threaded process";
#endif
    set_thread_count(2);
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        std::vector<double> out(256);
        while (!stop.load()) {
            parallel_for(out.size(), 1, [&out](std::size_t begin, std::size_t) {
                out[begin] = static_cast<double>(begin);
            });
        }
    });
    for (int round = 0; round < 10; ++round) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            alarm(10);
            std::atomic<int> arrived{0};
            std::atomic<int> met{0};
            parallel_for(2, 1, [&](std::size_t, std::size_t) { met += rendezvous(arrived, 2); });
            std::vector<int> hits(1000);
            parallel_for(hits.size(), 3, [&hits](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    ++hits[i];
                }
            });
            bool ok = met.load() == 2 && pool_workers() == 1;
            for (const int h : hits) {
                ok = ok && h == 1;
            }
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            std::this_thread::sleep_for(1ms);
        }
        if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            ADD_FAILURE() << "round " << round << ", status " << status;
            break;
        }
    }
    stop = true;
    busy.join();
}

TEST(ThreadBudget, ParsesCounts) {
    struct Case {
        const char* text;
        bool first_of_list;
        std::optional<std::size_t> threads;
    };
    const Case cases[] = {
        {"4", false, 4},        {" 12\t", false, 12},   {"1", false, 1},
        {"0", false, {}},       {"-2", false, {}},      {"+2", false, {}},
        {"2.5", false, {}},     {"", false, {}},        {"  ", false, {}},
        {"four", false, {}},    {"4,2", true, 4},       {"4,2", false, {}},
        {",2", true, {}},       {"99999999999999999999999", false, max_threads},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_thread_count(c.text, c.first_of_list), c.threads) << '"' << c.text << '"';
    }
}

TEST_F(ParallelFor, ConfiguresFromEnvironment) {
    struct Case {
        const char* corvanis;
        const char* omp;
        std::size_t threads;  // 0: the available CPUs
        const char* ignored;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0, nullptr},
        {"3", "1", 3, nullptr},
        {nullptr, "1", 1, nullptr},
        {"", "2,1", 2, nullptr},
        {"many", "2", 2, "CORVANIS_NUM_THREADS"},
        {"0", nullptr, 0, "CORVANIS_NUM_THREADS"},
        {nullptr, "x", 0, "OMP_NUM_THREADS"},
    };
    for (const Case& c : cases) {
        for (auto [name, value] : {std::pair{"CORVANIS_NUM_THREADS", c.corvanis},
                                   std::pair{"OMP_NUM_THREADS", c.omp}}) {
            value ? setenv(name, value, 1) : unsetenv(name);
        }
        const ThreadConfiguration configuration = configure_threads_from_environment();
        const std::size_t expected = c.threads != 0 ? c.threads : available_cpus();
        EXPECT_EQ(configuration.threads, expected);
        EXPECT_EQ(thread_count(), expected);
        EXPECT_STREQ(configuration.ignored_variable, c.ignored);
    }
    unsetenv("CORVANIS_NUM_THREADS");
    unsetenv("OMP_NUM_THREADS");
}

TEST_F(ParallelFor, SplitsOnlyWorkWorthIt) {
    set_thread_count(2);
    EXPECT_EQ(split_grain(10, 1000.0), 10u);  // 10 µs in all: serial
    EXPECT_EQ(split_grain(2000, 84'000.0), 1u);
    EXPECT_EQ(split_grain(1'000'000, 200.0), 100u);
    set_thread_count(1);
    EXPECT_EQ(split_grain(2000, 84'000.0), 2000u);
}

}  // namespace
