// The source location that panics and errors carry: std::source_location where
// the standard library provides it, otherwise a class with the same accessors
// filled from the compiler's builtins (libstdc++'s <source_location> needs
// __builtin_source_location, which clang has only from version 15 on).
#pragma once

#include <version>
#if __has_include(<source_location>)
#include <source_location>
#endif

#include <cstdint>

namespace corvanis {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
#if __has_builtin(__builtin_COLUMN)
#define CORVANIS_BUILTIN_COLUMN __builtin_COLUMN()
#else
#define CORVANIS_BUILTIN_COLUMN 0
#endif

class SourceLocation {
public:
    // The builtins in default arguments take the location of the outermost call.
    static constexpr SourceLocation current(
        const char* file = __builtin_FILE(), const char* function = __builtin_FUNCTION(),
        std::uint_least32_t line = __builtin_LINE(),
        std::uint_least32_t column = CORVANIS_BUILTIN_COLUMN) noexcept {
        SourceLocation location;
        location.file_ = file;
        location.function_ = function;
        location.line_ = line;
        location.column_ = column;
        return location;
    }

    constexpr SourceLocation() noexcept = default;
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }
    constexpr std::uint_least32_t line() const noexcept { return line_; }
    constexpr std::uint_least32_t column() const noexcept { return column_; }

private:
    const char* file_ = "";
    const char* function_ = "";
    std::uint_least32_t line_ = 0;
    std::uint_least32_t column_ = 0;
};
#endif

}  // namespace corvanis
