// Assertions of the model functions. A failed assertion is a panic.
#pragma once

#include <cstddef>

#include "source_location.hpp"

namespace corvanis::lib {

// Panics with "assertion `left == right` failed" and both values when they differ.
void assert_equal(std::size_t left, std::size_t right,
                  SourceLocation location = SourceLocation::current());

}  // namespace corvanis::lib
