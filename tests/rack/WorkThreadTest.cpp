// The work thread shares the offered strips with the audio thread, takes the audio thread's
// scheduling, and says once when it is refused.
#include "rack/WorkThread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/ThreadScheduling.h"
#include "support/LogCapture.h"

namespace trelvo::platform {
void PrintTo(const ThreadScheduling& scheduling, std::ostream* out) {
    *out << "policy " << scheduling.policy << ", priority " << scheduling.priority;
}
} // namespace trelvo::platform

namespace trelvo::rack {
namespace {

using platform::ThreadScheduling;

/// Stands in for pthread_setschedparam: records every request, and refuses real-time
/// scheduling when asked to.
struct SchedulingRequests {
    static int record(pthread_t thread, int policy, const sched_param* parameters) {
        std::lock_guard lock(mutex);
        made.push_back({thread, {policy, parameters->sched_priority}});
        return refuse && policy != SCHED_OTHER ? EPERM : 0;
    }
    struct Request {
        pthread_t thread;
        ThreadScheduling scheduling;
    };
    static std::vector<Request> taken() {
        std::lock_guard lock(mutex);
        return made;
    }
    static inline std::mutex mutex;
    static inline std::vector<Request> made;
    static inline bool refuse = false;
};

class WorkThreadTest : public ::testing::Test {
protected:
    WorkThreadTest() {
        SchedulingRequests::made.clear();
        SchedulingRequests::refuse = false;
        platform::setSchedulingSetterForTests(&SchedulingRequests::record);
    }
    ~WorkThreadTest() override { platform::setSchedulingSetterForTests(nullptr); }

    // Offers one strip and leaves it to the worker.
    void runOnce() {
        const int head = 0;
        worker.offer(&head, 1);
        const std::uint32_t began = platform::tickCountMs();
        while (!worker.allDone() && platform::tickCountMs() - began < 10000) platform::sleepMs(1);
        ASSERT_TRUE(worker.allDone());
    }

    test::LogCapture log;
    std::atomic<pthread_t> workerThread{};
    std::atomic<int> strips{0};
    TwrkThread worker{[this](int) {
        workerThread = pthread_self();
        strips.fetch_add(1);
    }};
};

TEST_F(WorkThreadTest, TheWorkerTakesTheSchedulingTheAudioThreadPublishesAndOnlyWhenItChanges) {
    runOnce();
    EXPECT_TRUE(SchedulingRequests::taken().empty()); // nothing published: the default is kept

    const ThreadScheduling fifo{SCHED_FIFO, 37};
    platform::publishAudioThreadScheduling(fifo);
    runOnce();
    runOnce();
    const auto requests = SchedulingRequests::taken();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(pthread_equal(requests[0].thread, workerThread.load()));
    EXPECT_EQ(requests[0].scheduling, fifo);

    // Another driver whose thread is not real-time: the worker follows it down.
    platform::publishAudioThreadScheduling({SCHED_OTHER, 0});
    runOnce();
    ASSERT_EQ(SchedulingRequests::taken().size(), 2u);
    EXPECT_EQ(SchedulingRequests::taken()[1].scheduling, (ThreadScheduling{SCHED_OTHER, 0}));
    EXPECT_EQ(strips.load(), 4);
}

TEST_F(WorkThreadTest, ARefusedPriorityIsReportedOnceAndMarked) {
    SchedulingRequests::refuse = true;
    platform::publishAudioThreadScheduling({SCHED_FIFO, 37});
    runOnce();
    platform::publishAudioThreadScheduling({SCHED_FIFO, 38});
    runOnce();
    EXPECT_EQ(SchedulingRequests::taken().size(), 2u); // asked each time,
    EXPECT_THAT(log.errors(), ::testing::ElementsAre("no real-time priority for the work thread: Operation not "
                                                     "permitted; audio may glitch under load")); // said once
    EXPECT_TRUE(platform::realtimeRefused());
}

TEST(WorkThreadSharing, EveryOfferedStripRunsExactlyOnceWhicheverThreadTakesIt) {
    // Strips of unequal length, offered again and again as the engine does per step: both
    // threads take from the same offer, and no strip is lost or run twice.
    std::array<std::atomic<int>, kMaxSlots> runs{};
    std::atomic<int> byWorker{0};
    const auto work = [&](int head) {
        runs[static_cast<std::size_t>(head)].fetch_add(1, std::memory_order_relaxed);
        volatile double x = 1.0;
        for (int i = 0; i < 400 * (head % 5); ++i) x = x * 1.0000001;
    };
    TwrkThread worker{[&](int head) {
        byWorker.fetch_add(1, std::memory_order_relaxed);
        work(head);
    }};
    std::array<int, kMaxSlots> heads{};
    for (int i = 0; i < kMaxSlots; ++i) heads[static_cast<std::size_t>(i)] = kMaxSlots - 1 - i;
    constexpr int kOffers = 3000;
    int offeredInAll = 0;
    for (int round = 0; round < kOffers; ++round) {
        const int count = 1 + round % kMaxSlots;
        worker.offer(heads.data(), count);
        worker.runTaken(true, work);
        worker.wait();
        offeredInAll += count;
        // Everything the audio thread was offered is finished once wait returns.
        int sum = 0;
        for (const auto& r : runs) sum += r.load(std::memory_order_relaxed);
        ASSERT_EQ(sum, offeredInAll) << "round " << round;
    }
    for (int i = 0; i < kMaxSlots; ++i) {
        // Head i was offered in every round whose count reached past its place in the list.
        int expected = 0;
        for (int round = 0; round < kOffers; ++round) expected += (1 + round % kMaxSlots) > kMaxSlots - 1 - i ? 1 : 0;
        EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), expected) << "head " << i;
    }
    EXPECT_GT(byWorker.load(), 0) << "the worker never took a strip";
}

TEST(WorkThreadSharing, AnEmptyOfferIsDoneAtOnce) {
    std::atomic<int> runs{0};
    TwrkThread worker{[&](int) { runs.fetch_add(1); }};
    worker.offer(nullptr, 0);
    EXPECT_TRUE(worker.allDone());
    EXPECT_EQ(worker.take(), -1);
    EXPECT_EQ(runs.load(), 0);
}

} // namespace
} // namespace trelvo::rack
