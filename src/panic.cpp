#include "panic.hpp"

#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

std::string thread_name() {
    const long tid = syscall(SYS_gettid);
    return tid == static_cast<long>(getpid()) ? std::string("main") : std::to_string(tid);
}

bool backtrace_requested() {
    const char* value = std::getenv(backtrace_variable);
    return value != nullptr && std::strcmp(value, "") != 0 && std::strcmp(value, "0") != 0;
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
        void* frames[64];
        const int count = backtrace(frames, 64);
        std::fputs("stack backtrace:\n", stderr);
        std::fflush(stderr);
        backtrace_symbols_fd(frames, count, STDERR_FILENO);
    }
}

}  // namespace

void panic(std::string message, SourceLocation location) {
    try {
        write_report(message, location);
    } catch (...) {
        // Without memory for the report the panic itself still goes ahead.
    }
    throw Panic(std::move(message), location);
}

}  // namespace corvanis
