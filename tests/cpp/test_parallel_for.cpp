#include "src/parallel/parallel_for.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

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
    // Workers inside bodies: threads other than the call's own caller.
    std::atomic<int> helping{0};
    std::atomic<bool> helped{false};
    std::atomic<bool> over_budget{false};
    std::atomic<int> wrong{0};
    auto call = [&](auto&& self, int depth) -> void {
        const auto caller = std::this_thread::get_id();
        std::vector<int> hits(count);
        parallel_for(count, 1, [&](std::size_t begin, std::size_t end) {
            const bool helper = std::this_thread::get_id() != caller;
            if (helper) {
                helped = true;
                over_budget = over_budget || ++helping > 2;
            }
            for (std::size_t i = begin; i < end; ++i) {
                ++hits[i];
            }
            if (depth > 0 && begin % 16 == 0) {
                self(self, depth - 1);
            }
            std::this_thread::sleep_for(50us);
            helping -= helper;
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
    EXPECT_TRUE(helped.load());
    EXPECT_FALSE(over_budget.load());
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

// The settings of the floating-point environment a chunk sees: the rounding
// mode and, on x86, MXCSR's flush-to-zero, denormals-are-zero and rounding bits.
struct FpSettings {
    int rounding = std::fegetround();
#if defined(__SSE2__)
    unsigned mxcsr_modes = _mm_getcsr() & 0xffc0;  // all but the exception flags
#else
    unsigned mxcsr_modes = 0;
#endif
    bool operator==(const FpSettings&) const = default;
};

// Every chunk runs in its caller's floating-point environment, whichever
// thread runs it and whichever thread started the workers, and the
// exceptions the workers' chunks raise reach the caller.
TEST_F(ParallelFor, ChunksRunInTheCallersFloatingPointEnvironment) {
    set_thread_count(3);
    const auto call = [](std::vector<FpSettings>& seen, bool helpers_divide_by_zero) {
        const auto caller = std::this_thread::get_id();
        std::atomic<int> arrived{0};
        std::atomic<int> met{0};
        // Three chunks that meet: each on its own thread.
        parallel_for(3, 1, [&](std::size_t begin, std::size_t) {
            met += rendezvous(arrived, 3);
            seen[begin] = FpSettings{};
            if (helpers_divide_by_zero && std::this_thread::get_id() != caller) {
                volatile double zero = 0.0;
                volatile double infinite = 1.0 / zero;
                (void)infinite;
            }
        });
        return met.load() == 3;
    };
    // Workers started by a call made while rounding upward with flush-to-zero.
    std::fesetround(FE_UPWARD);
#if defined(__SSE2__)
    const unsigned default_mxcsr = _mm_getcsr();
    _mm_setcsr(default_mxcsr | 0x8040);
#endif
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO, FE_TONEAREST}) {
        std::fesetround(mode);
        std::feclearexcept(FE_ALL_EXCEPT);
        std::vector<FpSettings> seen(3);
        ASSERT_TRUE(call(seen, true));
        const int raised = std::fetestexcept(FE_ALL_EXCEPT);
        const FpSettings callers;
        for (const FpSettings& chunk : seen) {
            EXPECT_EQ(chunk.rounding, mode);
            EXPECT_EQ(chunk.mxcsr_modes, callers.mxcsr_modes);
        }
        EXPECT_TRUE(raised & FE_DIVBYZERO) << "rounding mode " << mode;
    }
#if defined(__SSE2__)
    _mm_setcsr(default_mxcsr);
#endif
    std::fesetround(FE_TONEAREST);
    std::feclearexcept(FE_ALL_EXCEPT);
    // Back in the default environment: the workers gave theirs back.
    std::vector<FpSettings> seen(3);
    ASSERT_TRUE(call(seen, false));
    for (const FpSettings& chunk : seen) {
        EXPECT_TRUE(chunk == FpSettings{});
    }
    EXPECT_EQ(std::fetestexcept(FE_DIVBYZERO), 0);
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
            alarm(10);  // the test's timeout: a hung child dies of SIGALRM
            std::vector<int> hits(1000);
            std::atomic<int> arrived{0};
            parallel_for(hits.size(), 1, [&](std::size_t begin, std::size_t) {
                // The first two chunks meet only if a worker of the child runs.
                if (begin < 2 && !rendezvous(arrived, 2)) {
                    _exit(2);
                }
                ++hits[begin];
            });
            _exit(std::count(hits.begin(), hits.end(), 1) == 1000 ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            ADD_FAILURE() << "round " << round << ", status " << status;
            break;
        }
    }
    stop = true;
    busy.join();
}

TEST(ThreadBudget, ParsesCounts) {
    const std::optional<std::size_t> invalid;
    EXPECT_EQ(parse_thread_count("4"), 4u);
    EXPECT_EQ(parse_thread_count(" 12\t"), 12u);
    EXPECT_EQ(parse_thread_count("1024"), max_threads);
    EXPECT_EQ(parse_thread_count("4,2", true), 4u);
    // Beyond max_threads a count is invalid, not cut to it.
    for (const char* text : {"0", "-2", "+2", "2.5", "", "  ", "four", "4,2", "1025",
                             "99999999999999999999999"}) {
        EXPECT_EQ(parse_thread_count(text), invalid) << '"' << text << '"';
    }
    EXPECT_EQ(parse_thread_count("5000,2", true), invalid);
    EXPECT_EQ(parse_thread_count(",2", true), invalid);
}

TEST_F(ParallelFor, ConfiguresFromEnvironment) {
    struct Case {
        const char* corvanis;
        const char* omp;
        std::size_t threads;  // 0: the available CPUs
        const char* ignored;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0, nullptr},          {"3", "1", 3, nullptr},
        {nullptr, "1", 1, nullptr},              {"", "2,1", 2, nullptr},
        {"many", "2", 2, "CORVANIS_NUM_THREADS"}, {"0", nullptr, 0, "CORVANIS_NUM_THREADS"},
        {nullptr, "x", 0, "OMP_NUM_THREADS"},    {"5000", nullptr, 0, "CORVANIS_NUM_THREADS"},
        {nullptr, "2000", 0, "OMP_NUM_THREADS"},
    };
    for (const Case& c : cases) {
        for (auto [name, value] : {std::pair{"CORVANIS_NUM_THREADS", c.corvanis},
                                   std::pair{"OMP_NUM_THREADS", c.omp}}) {
            value ? setenv(name, value, 1) : unsetenv(name);
        }
        const ThreadConfiguration configuration = configure_threads_from_environment();
        const std::size_t expected = c.threads != 0 ? c.threads : default_thread_count();
        EXPECT_EQ(configuration.threads, expected);
        EXPECT_EQ(thread_count(), expected);
        EXPECT_STREQ(configuration.ignored_variable, c.ignored);
    }
    unsetenv("CORVANIS_NUM_THREADS");
    unsetenv("OMP_NUM_THREADS");
}

// A fake /proc/self and cgroup file systems under a temporary directory.
class FakeCgroups {
public:
    FakeCgroups() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvanis-cgroup-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        std::filesystem::create_directories(root_ / "proc/self");
    }
    ~FakeCgroups() { std::filesystem::remove_all(root_); }
    FakeCgroups(const FakeCgroups&) = delete;
    FakeCgroups& operator=(const FakeCgroups&) = delete;

    // Writes `text` to the file at `relative` (directories made as needed).
    void write(const std::string& relative, const std::string& text) const {
        const std::filesystem::path path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    std::string path(const std::string& relative = "") const { return (root_ / relative).string(); }
    std::optional<std::size_t> limit() const { return cgroup_cpu_limit(path("proc/self")); }

private:
    std::filesystem::path root_;
};

TEST(ThreadBudget, CgroupV2QuotaRoundedUpOverTheHierarchy) {
    const FakeCgroups fake;
    fake.write("proc/self/cgroup", "0::/a/b\n");
    fake.write("proc/self/mountinfo",
               "22 1 0:20 / /proc rw - proc proc rw\n"
               "30 22 0:26 / " + fake.path("sys/fs/cgroup") +
                   " rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw,nsdelegate\n");
    EXPECT_EQ(fake.limit(), std::nullopt);  // no cpu.max anywhere
    fake.write("sys/fs/cgroup/a/b/cpu.max", "max 100000\n");
    EXPECT_EQ(fake.limit(), std::nullopt);
    fake.write("sys/fs/cgroup/a/b/cpu.max", "250000 100000\n");
    EXPECT_EQ(fake.limit(), 3u);  // 2.5 CPUs
    fake.write("sys/fs/cgroup/a/cpu.max", "150000 100000\n");
    EXPECT_EQ(fake.limit(), 2u);  // the parent's is smaller
    fake.write("sys/fs/cgroup/a/cpu.max", "5000 100000\n");
    EXPECT_EQ(fake.limit(), 1u);
}

TEST(ThreadBudget, CgroupV1QuotaOfTheCpuController) {
    const FakeCgroups fake;
    // A container's view: its cgroup is the root of the mounted hierarchy, the
    // mount point's name holds a blank.
    fake.write("proc/self/cgroup", "5:memory:/docker/x\n4:cpu,cpuacct:/docker/x\n0::/\n");
    fake.write("proc/self/mountinfo",
               "40 30 0:35 /docker/x " + fake.path("cg\\040v1/cpu,cpuacct") +
                   " rw,nosuid - cgroup cgroup rw,cpu,cpuacct\n"
               "41 30 0:36 /docker/x " + fake.path("cg\\040v1/memory") +
                   " rw,nosuid - cgroup cgroup rw,memory\n");
    fake.write("cg v1/cpu,cpuacct/cpu.cfs_period_us", "100000\n");
    fake.write("cg v1/cpu,cpuacct/cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(fake.limit(), std::nullopt);
    fake.write("cg v1/cpu,cpuacct/cpu.cfs_quota_us", "50000\n");
    EXPECT_EQ(fake.limit(), 1u);  // half a CPU
    fake.write("cg v1/cpu,cpuacct/cpu.cfs_quota_us", "400000\n");
    EXPECT_EQ(fake.limit(), 4u);
    // A quota on the memory hierarchy's files means nothing.
    fake.write("cg v1/memory/cpu.cfs_quota_us", "100000\n");
    fake.write("cg v1/memory/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(fake.limit(), 4u);
}

TEST(ThreadBudget, CgroupHybridAndMissing) {
    const FakeCgroups fake;
    EXPECT_EQ(fake.limit(), std::nullopt);  // no /proc files at all
    // v1's cpu controller beside a v2 hierarchy without it: the smaller quota.
    fake.write("proc/self/cgroup", "1:cpu:/job\n0::/job\n");
    fake.write("proc/self/mountinfo",
               "32 31 0:29 / " + fake.path("cg/cpu") + " rw - cgroup cgroup rw,cpu\n"
               "41 31 0:38 / " + fake.path("cg/unified") + " rw - cgroup2 cgroup2 rw\n");
    EXPECT_EQ(fake.limit(), std::nullopt);
    fake.write("cg/cpu/job/cpu.cfs_quota_us", "300000\n");
    fake.write("cg/cpu/job/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(fake.limit(), 3u);
    fake.write("cg/unified/job/cpu.max", "120000 100000\n");
    EXPECT_EQ(fake.limit(), 2u);
    // The default count honours the machine's own quota, if any.
    const auto own = cgroup_cpu_limit();
    EXPECT_EQ(default_thread_count(), std::min(available_cpus(), own.value_or(available_cpus())));
}

}  // namespace
