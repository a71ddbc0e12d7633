// Panics: unrecoverable failures of the module's own code. A panic is a C++
// exception carrying a message and the source location where it arose; only
// the boundary frame catches it and turns it into PanicException.
#pragma once

#include <string>

#include "source_location.hpp"

namespace corvanis {

class Panic {
public:
    Panic(std::string message, SourceLocation location, bool has_message = true)
        : message_(std::move(message)), location_(location), has_message_(has_message) {}

    const std::string& message() const noexcept { return message_; }
    const SourceLocation& location() const noexcept { return location_; }
    bool has_message() const noexcept { return has_message_; }

private:
    std::string message_;
    SourceLocation location_;
    bool has_message_;
};

// Reads CORVANIS_BACKTRACE, which asks panic reports for a backtrace. Called by
// the module initialiser with the GIL held: panics may arise on threads without
// it, where getenv would race with writes to os.environ. The first read stays.
void read_backtrace_setting();

// Writes the panic report to standard error and throws Panic.
[[noreturn]] void panic(std::string message,
                        SourceLocation location = SourceLocation::current());

}  // namespace corvanis
