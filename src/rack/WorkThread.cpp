#include "rack/WorkThread.h"

#include <sched.h>

#include <chrono>
#include <cstring>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "platform/Clock.h"
#include "platform/FaultGuard.h"
#include "platform/FloatingPoint.h"
#include "platform/RealtimeThread.h"
#include "platform/ThreadScheduling.h"

namespace trelvo::rack {

namespace {
// How long the worker polls for the next offer before it parks: the next step's strips
// usually follow within microseconds, and waking a parked thread costs more than that.
constexpr std::int64_t kSpinNanoseconds = 50'000;
// While blocks come steadily the worker wakes itself this long before the next one is due
// and polls until this long after it, so that it is already running when the strips are
// offered (waking a parked thread can take tens of microseconds, a good part of a block).
constexpr std::int64_t kLeadNanoseconds = 150'000;
// Blocks further apart than this are no steady stream (a stopped driver, a long pause).
constexpr std::int64_t kLongestPeriodNanoseconds = 25'000'000;

void relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
} // namespace

TwrkThread::TwrkThread(std::function<void(int head)> run) : runStrip(std::move(run)) {
    thread = std::thread([this] { loop(); });
}

TwrkThread::~TwrkThread() {
    terminate.store(true, std::memory_order_seq_cst);
    if (parked.exchange(false, std::memory_order_seq_cst)) wake.release();
    thread.join();
}

void TwrkThread::offer(const int* heads, int count) noexcept {
    offered = count < 0 ? 0 : (count > kMaxSlots ? kMaxSlots : count);
    for (int i = 0; i < offered; ++i) list[static_cast<std::size_t>(i)] = heads[i];
    done.store(0, std::memory_order_relaxed);
    ends.store(static_cast<std::uint64_t>(offered) << 32, std::memory_order_seq_cst);
    // A worker still spinning sees the offer at once; only a parked one needs waking.
    if (parked.exchange(false, std::memory_order_seq_cst)) wake.release();
}

int TwrkThread::take(bool fromFront) noexcept {
    std::uint64_t word = ends.load(std::memory_order_acquire);
    for (;;) {
        const auto front = static_cast<std::uint32_t>(word);
        const auto back = static_cast<std::uint32_t>(word >> 32);
        if (front >= back) return -1;
        const std::uint64_t taken = fromFront ? word + 1 : word - (std::uint64_t{1} << 32);
        if (ends.compare_exchange_weak(word, taken, std::memory_order_acq_rel, std::memory_order_acquire))
            return list[fromFront ? front : back - 1];
    }
}

bool TwrkThread::anyLeft(std::memory_order order) const noexcept {
    const std::uint64_t word = ends.load(order);
    return static_cast<std::uint32_t>(word) < static_cast<std::uint32_t>(word >> 32);
}

void TwrkThread::prewake() noexcept {
    const std::int64_t now = platform::perfCounter();
    const std::int64_t previous = blockStart.exchange(now, std::memory_order_relaxed);
    const std::int64_t interval = now - previous;
    if (previous > 0 && interval > 0 && interval < kLongestPeriodNanoseconds) {
        const std::int64_t average = period.load(std::memory_order_relaxed);
        period.store(average == 0 ? interval : average + (interval - average) / 8, std::memory_order_relaxed);
    } else {
        period.store(0, std::memory_order_relaxed);
    }
    if (parked.exchange(false, std::memory_order_seq_cst)) wake.release();
}

void TwrkThread::wait() noexcept {
    while (!allDone()) sched_yield();
}

void TwrkThread::followAudioThread() noexcept {
    platform::ThreadScheduling wanted;
    const std::uint32_t generation = platform::publishedAudioThreadScheduling(wanted);
    if (generation == followedGeneration) return;
    followedGeneration = generation;
    if (generation == 0) return;
    const int error = platform::setCurrentThreadScheduling(wanted);
    if (error != 0 && platform::noteRealtimeRefused()) {
        const char* reason = strerrordesc_np(error);
        diag::LineText line;
        line << "no real-time priority for the work thread: " << (reason != nullptr ? reason : "refused")
             << "; audio may glitch under load";
        diag::hookedLogError(line.view());
    }
}

void TwrkThread::loop() {
    platform::markRealtimeThread(true);
    platform::prepareThreadForFaultGuard();
    platform::maskFloatingPointExceptions();
    // Polling around the next block's time only pays where the worker has a processor of its
    // own; on one it would hold back the very thread it waits for.
    cpu_set_t usable;
    CPU_ZERO(&usable);
    const bool selfWake = sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_COUNT(&usable) >= 2;

    for (;;) {
        // Poll a little for the next offer (the next step's strips usually follow within
        // microseconds), then park: while blocks come steadily, only until shortly before the
        // next one is due, and poll again around that time; otherwise until woken.
        std::int64_t pollUntil = platform::perfCounter() + kSpinNanoseconds;
        for (;;) {
            bool haveWork = false;
            for (int spin = 0; !haveWork; ++spin) {
                haveWork = anyLeft() || terminate.load(std::memory_order_acquire);
                if (haveWork || (spin % 64 == 63 && platform::perfCounter() > pollUntil)) break;
                relax();
            }
            if (haveWork) break;
            const std::int64_t steady = selfWake ? period.load(std::memory_order_relaxed) : 0;
            const std::int64_t due = blockStart.load(std::memory_order_relaxed) + steady;
            const std::int64_t now = platform::perfCounter();
            if (steady > 0 && now < due + kLeadNanoseconds && now >= due - kLeadNanoseconds) {
                pollUntil = due + kLeadNanoseconds;
                continue;
            }
            bool timedOut = false;
            // Whoever sees parked set after publishing work clears it and wakes the worker;
            // the worker looks at the work after setting it (both sequentially consistent).
            parked.store(true, std::memory_order_seq_cst);
            if (!anyLeft(std::memory_order_seq_cst) && !terminate.load(std::memory_order_seq_cst)) {
                if (steady > 0 && now < due - kLeadNanoseconds)
                    timedOut = !wake.try_acquire_for(std::chrono::nanoseconds(due - kLeadNanoseconds - now));
                else
                    wake.acquire();
            }
            parked.store(false, std::memory_order_seq_cst);
            while (wake.try_acquire()) {
            }
            pollUntil = timedOut ? due + kLeadNanoseconds : platform::perfCounter() + kSpinNanoseconds;
        }
        if (terminate.load(std::memory_order_acquire)) return;
        followAudioThread();
        if (!anyLeft()) continue;
        platform::AudioBlockScope block;
        runTaken(false, runStrip);
    }
}

} // namespace trelvo::rack
