// What the guard around every call into a plug-in costs, next to a plain call.
#include <benchmark/benchmark.h>

#include "platform/FaultGuard.h"
#include "platform/FloatingPoint.h"

namespace {

__attribute__((noinline)) void work(void* counter) {
    volatile int* value = static_cast<volatile int*>(counter);
    *value = *value + 1;
}

void PlainCall(benchmark::State& state) {
    volatile int counter = 0;
    void (*volatile fn)(void*) = &work;
    for (auto _ : state) fn(const_cast<int*>(&counter));
}
BENCHMARK(PlainCall);

void GuardedCall(benchmark::State& state) {
    volatile int counter = 0;
    trelvo::platform::FaultReport report;
    for (auto _ : state) trelvo::platform::runGuarded(&work, const_cast<int*>(&counter), report);
}
BENCHMARK(GuardedCall);

void MaskedGuardedCall(benchmark::State& state) {
    volatile int counter = 0;
    trelvo::platform::FaultReport report;
    for (auto _ : state) {
        trelvo::platform::maskFloatingPointExceptions();
        trelvo::platform::runGuarded(&work, const_cast<int*>(&counter), report);
    }
}
BENCHMARK(MaskedGuardedCall);

} // namespace
