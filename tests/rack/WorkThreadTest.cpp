// The work thread takes the audio thread's scheduling, and says once when it is refused.
#include "rack/WorkThread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

    // Runs one list of one strip on the worker, as the audio thread does.
    void runOnce() {
        worker.clearList();
        worker.add(0);
        worker.start();
        const std::uint32_t began = platform::tickCountMs();
        while (worker.isBusy() && platform::tickCountMs() - began < 10000) platform::sleepMs(1);
        ASSERT_FALSE(worker.isBusy());
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

} // namespace
} // namespace trelvo::rack
