#include "pool.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cfenv>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "thread_budget.hpp"
#include "worker_settings.hpp"

namespace corvanis::parallel {
namespace {

using detail::Job;

class Pool {
public:
    // Makes the job available to the workers, first matching the number of
    // workers to the thread count.
    void submit(Job& job);
    // Closes the job to workers and waits until none runs its chunks.
    void retire(Job& job) noexcept;
    std::size_t workers();

private:
    void resize(std::size_t target);
    void start_worker();
    void work();
    // The oldest queued job with chunks left; drops exhausted jobs on the way.
    Job* open_job();
    void unqueue(Job& job) noexcept;

    std::mutex mutex_;
    std::condition_variable wake_;  // a job was queued, or workers must retire
    Job* queue_ = nullptr;          // open jobs, oldest first
    std::size_t live_ = 0;          // workers started and not retired
    std::size_t idle_ = 0;          // workers waiting on wake_
    std::size_t target_ = 0;
};

void Pool::submit(Job& job) {
    bool wake;
    {
        const std::lock_guard lock(mutex_);
        resize(thread_count() - 1);
        Job** tail = &queue_;
        while (*tail != nullptr) {
            tail = &(*tail)->next_queued;
        }
        *tail = &job;
        job.queued = true;
        wake = idle_ > 0;
    }
    // Waking a sleeping thread costs the waker microseconds; the caller wakes
    // one worker, and each worker that joins wakes the next while there is
    // work for it.
    if (wake) {
        wake_.notify_one();
    }
}

void Pool::retire(Job& job) noexcept {
    std::unique_lock lock(mutex_);
    unqueue(job);
    job.helpers_done.wait(lock, [&job] { return job.helpers == 0; });
}

std::size_t Pool::workers() {
    const std::lock_guard lock(mutex_);
    return live_;
}

void Pool::resize(std::size_t target) {
    target_ = target;
    try {
        while (live_ < target_) {
            start_worker();
            ++live_;
        }
    } catch (const std::exception&) {
        // Out of threads or memory for one: the workers started so far will
        // do, since a caller can always finish its job alone.
    }
    if (live_ > target_) {
        wake_.notify_all();
    }
}

void Pool::start_worker() {
    // Workers block asynchronous signals, which thereby go to the
    // interpreter's threads; faults still reach the thread that caused them.
    sigset_t blocked;
    sigset_t previous;
    sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        sigdelset(&blocked, fault);
    }
    pthread_sigmask(SIG_SETMASK, &blocked, &previous);
    try {
        std::thread([this] {
            // Nothing may end a worker midway: the caller waits for its chunks.
            pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
            // Not the CPUs, policy and nice value of the thread that happened
            // to start it, but those the thread count was set with.
            adopt_worker_settings();
            // Nor its floating-point environment: chunks run in their
            // caller's, and this one in between.
            std::fesetenv(FE_DFL_ENV);
            work();
        }).detach();
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void Pool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (live_ > target_) {
            --live_;
            return;
        }
        Job* job = open_job();
        if (job == nullptr) {
            ++idle_;
            wake_.wait(lock);
            --idle_;
            continue;
        }
        ++job->helpers;
        const bool wake_next = idle_ > 0 && job->helpers + 1 < job->chunks;
        lock.unlock();
        if (wake_next) {
            wake_.notify_one();
        }
        detail::Failure failure;
        int raised;
        {
            const detail::InEnvironment in_callers_environment(job->environment);
            failure = job->run_chunks();
            raised = in_callers_environment.raised();
        }
        lock.lock();
        job->merge(std::move(failure));
        job->raised_by_helpers |= raised;
        if (--job->helpers == 0) {
            // Under the lock: the job is gone once its caller wakes.
            job->helpers_done.notify_one();
        }
    }
}

Job* Pool::open_job() {
    while (queue_ != nullptr && !queue_->has_chunks_left()) {
        unqueue(*queue_);
    }
    return queue_;
}

void Pool::unqueue(Job& job) noexcept {
    if (!job.queued) {
        return;
    }
    for (Job** link = &queue_; *link != nullptr; link = &(*link)->next_queued) {
        if (*link == &job) {
            *link = job.next_queued;
            break;
        }
    }
    job.next_queued = nullptr;
    job.queued = false;
}

// The pool of this process. A child created by fork has none of its parent's
// threads: it drops the pool (whose lock another thread may have held) without
// touching it and makes a new one on first use.
std::atomic<Pool*> current_pool{nullptr};
std::once_flag fork_handler_registered;

Pool& pool() {
    std::call_once(fork_handler_registered, [] {
        pthread_atfork(nullptr, nullptr,
                       [] { current_pool.store(nullptr, std::memory_order_relaxed); });
    });
    Pool* existing = current_pool.load(std::memory_order_acquire);
    if (existing != nullptr) {
        return *existing;
    }
    Pool* fresh = new Pool;
    if (current_pool.compare_exchange_strong(existing, fresh, std::memory_order_acq_rel)) {
        return *fresh;
    }
    delete fresh;
    return *existing;
}

// Closes the job when the caller leaves run(), also by an unwind.
class Retire {
public:
    Retire(Pool& pool, Job& job) noexcept : pool_(pool), job_(job) {}
    ~Retire() { pool_.retire(job_); }
    Retire(const Retire&) = delete;
    Retire& operator=(const Retire&) = delete;

private:
    Pool& pool_;
    Job& job_;
};

}  // namespace

void detail::run(Job& job) {
    Pool& shared = pool();
    shared.submit(job);
    Failure own;
    {
        const Retire retire(shared, job);
        own = job.run_chunks();
    }
    job.merge(std::move(own));
    detail::raise_in_caller(job.raised_by_helpers);
    if (job.first_failure.exception) {
        std::rethrow_exception(job.first_failure.exception);
    }
}

std::size_t pool_workers() {
    Pool* existing = current_pool.load(std::memory_order_acquire);
    return existing != nullptr ? existing->workers() : 0;
}

}  // namespace corvanis::parallel
