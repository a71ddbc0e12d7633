#include "lib/assertions.hpp"

#include <string>

#include "panic.hpp"

namespace corvanis::lib {

void assert_equal(std::size_t left, std::size_t right, SourceLocation location) {
    if (left == right) return;
    panic("assertion `left == right` failed\n  left: " + std::to_string(left) +
              "\n right: " + std::to_string(right),
          location);
}

}  // namespace corvanis::lib
