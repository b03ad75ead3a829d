#include "platform/FloatingPoint.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#else
#include <fenv.h>
#endif

namespace trelvo::platform {

#if defined(__x86_64__) || defined(__i386__)
namespace {
constexpr unsigned kSseExceptionMasks = 0x1F80; // invalid, denormal, divide, overflow, underflow, precision
constexpr unsigned kSseFlushToZero = 0x8000;
constexpr unsigned kSseDenormalsAreZero = 0x0040;
constexpr std::uint16_t kX87ExceptionMasks = 0x3F;
} // namespace

void maskFloatingPointExceptions() noexcept {
    _mm_setcsr(_mm_getcsr() | kSseExceptionMasks | kSseFlushToZero | kSseDenormalsAreZero);
    std::uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    if ((control & kX87ExceptionMasks) != kX87ExceptionMasks) {
        control |= kX87ExceptionMasks;
        asm volatile("fldcw %0" : : "m"(control));
    }
}

bool floatingPointExceptionsMasked() noexcept {
    const unsigned wanted = kSseExceptionMasks | kSseFlushToZero | kSseDenormalsAreZero;
    std::uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return (_mm_getcsr() & wanted) == wanted && (control & kX87ExceptionMasks) == kX87ExceptionMasks;
}
#else
void maskFloatingPointExceptions() noexcept {
    fedisableexcept(FE_ALL_EXCEPT);
#if defined(__aarch64__)
    std::uint64_t fpcr = 0;
    asm volatile("mrs %0, fpcr" : "=r"(fpcr));
    fpcr |= (1u << 24); // flush-to-zero
    asm volatile("msr fpcr, %0" : : "r"(fpcr));
#endif
}

bool floatingPointExceptionsMasked() noexcept {
    return fegetexcept() == 0;
}
#endif

} // namespace trelvo::platform
