#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace trelvo::platform {

enum class FaultKind { None, Exception, Signal };

/// What went wrong inside a guarded call. Plain data: filling it allocates nothing.
struct FaultReport {
    FaultKind kind = FaultKind::None;
    int signalNumber = 0;          ///< SIGSEGV, SIGBUS, SIGFPE or SIGILL for a hardware fault
    const void* address = nullptr; ///< faulting address reported by the signal
    char what[160] = {};           ///< exception text, or the signal's name

    bool failed() const noexcept { return kind != FaultKind::None; }
};

/// Runs fn(context) so that neither a C++ exception nor a hardware fault (SIGSEGV, SIGBUS,
/// SIGFPE, SIGILL) raised inside it leaves the call: both come back as a filled report and
/// false. Calls may nest; the innermost guard takes the fault. Outside a guarded call the
/// signals keep their earlier behaviour. A call that faulted has left the callee's state
/// undefined: the caller must not call into that code again.
/// Thread: any. Wait-free once the thread is prepared (prepareThreadForFaultGuard).
bool runGuarded(void (*fn)(void*), void* context, FaultReport& report) noexcept;

/// Convenience form for any callable.
template <class Fn> bool guardedCall(Fn&& fn, FaultReport& report) noexcept {
    using Callable = std::remove_reference_t<Fn>;
    return runGuarded([](void* context) { (*static_cast<Callable*>(context))(); },
                      const_cast<void*>(static_cast<const void*>(std::addressof(fn))), report);
}

/// Installs the process-wide signal handlers. Called once at start; runGuarded calls it too.
/// Thread: any (idempotent).
void installFaultHandlers() noexcept;

/// Gives the calling thread its alternate signal stack, so a stack overflow inside a
/// plug-in can still be reported. Real-time threads call this before their first block;
/// other threads get it lazily at their first guarded call. Thread: the thread itself.
void prepareThreadForFaultGuard() noexcept;

} // namespace trelvo::platform
