#include "trampoline.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace corvanis {

void PanicTrap::trigger() const noexcept {
    std::fputs(message_, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

void restore_caught(std::exception_ptr caught) {
    try {
        std::rethrow_exception(caught);
    } catch (const Panic& payload) {
        from_panic_payload(payload).restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        from_panic_payload(Panic(failure.what(), SourceLocation::current())).restore();
    } catch (...) {
        from_panic_payload(Panic("", SourceLocation::current(), false)).restore();
    }
}

}  // namespace corvanis
