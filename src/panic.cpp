#include "panic.hpp"

#include <unistd.h>
#if __has_include(<sys/syscall.h>)
#include <sys/syscall.h>
#endif
// glibc and macOS have backtrace() in the C library; elsewhere (musl, the BSDs)
// it is missing or needs a library of its own, so the report goes without.
#if __has_include(<execinfo.h>) && (defined(__GLIBC__) || defined(__APPLE__))
#include <execinfo.h>
#define CORVANIS_HAVE_BACKTRACE 1
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>
#include <thread>

namespace corvanis {
namespace {

constexpr const char* backtrace_variable = "CORVANIS_BACKTRACE";

// Source paths are reported relative to the repository root, which is found
// from this file's own path.
std::string_view relative_path(std::string_view path) {
    constexpr std::string_view self = __FILE__;
    constexpr std::string_view tail = "src/panic.cpp";
    if (self.size() >= tail.size() && self.ends_with(tail)) {
        std::string_view root = self.substr(0, self.size() - tail.size());
        if (path.starts_with(root)) {
            path.remove_prefix(root.size());
        }
    }
    return path;
}

// The kernel's thread id where there is one ("main" for the process's first
// thread), otherwise the thread library's id.
std::string thread_name() {
#if defined(SYS_gettid)
    const long tid = syscall(SYS_gettid);
    return tid == static_cast<long>(getpid()) ? std::string("main") : std::to_string(tid);
#else
    std::ostringstream name;
    name << std::this_thread::get_id();
    return name.str();
#endif
}

// Written once at import, read by panics on any thread.
std::atomic<int> backtrace_setting{-1};  // -1 unread, 0 off, 1 on

bool backtrace_requested() {
    return backtrace_setting.load(std::memory_order_relaxed) == 1;
}

// Touches no Python object: panics may arise while the GIL is released.
void write_report(const std::string& message, const SourceLocation& location) {
    std::string report = "corvanis: panic in thread " + thread_name() + " at ";
    report += relative_path(location.file_name());
    report += ":" + std::to_string(location.line()) + ":" + std::to_string(location.column()) +
              ": " + message + "\n";
    const bool with_backtrace = backtrace_requested();
    if (!with_backtrace) {
        report += std::string("(set ") + backtrace_variable + "=1 to print a backtrace)\n";
    }
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::fflush(stderr);
    if (with_backtrace) {
#if defined(CORVANIS_HAVE_BACKTRACE)
        void* frames[64];
        const int count = backtrace(frames, 64);
        std::fputs("stack backtrace:\n", stderr);
        std::fflush(stderr);
        backtrace_symbols_fd(frames, count, STDERR_FILENO);
#else
        std::fputs("(no backtrace on this platform)\n", stderr);
#endif
    }
}

}  // namespace

void read_backtrace_setting() {
    if (backtrace_setting.load(std::memory_order_relaxed) != -1) {
        return;
    }
    const char* value = std::getenv(backtrace_variable);
    const bool wanted =
        value != nullptr && std::strcmp(value, "") != 0 && std::strcmp(value, "0") != 0;
    int unread = -1;
    backtrace_setting.compare_exchange_strong(unread, wanted ? 1 : 0, std::memory_order_relaxed);
}

void panic(std::string message, SourceLocation location) {
    try {
        write_report(message, location);
    } catch (...) {
        // A thread cancelled while writing (write is a cancellation point) is
        // ended by a forced unwind, no C++ exception (see trampoline.hpp),
        // which goes on. Without memory for the report the panic itself still
        // goes ahead.
        if (!std::current_exception()) throw;
    }
    throw Panic(std::move(message), location);
}

}  // namespace corvanis
