#include "platform/BoundedQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace trelvo::platform {
namespace {

struct Record {
    int producer;
    int sequence;
    int check; // producer * 1'000'003 + sequence, so a torn record shows
};

TEST(BoundedQueue, KeepsOrderForOneProducer) {
    BoundedQueue<int, 8> queue;
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(queue.tryPush(i));
    int value = -1;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(queue.tryPop(value));
        EXPECT_EQ(value, i);
    }
    EXPECT_FALSE(queue.tryPop(value));
}

TEST(BoundedQueue, AFullQueueRefusesAndCountsTheDrop) {
    BoundedQueue<int, 4> queue;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(queue.tryPush(i));
    EXPECT_FALSE(queue.tryPush(99));
    EXPECT_FALSE(queue.tryEmplace([](int& slot) { slot = 100; }));
    EXPECT_EQ(queue.dropCount(), 2u);
    int value = 0;
    ASSERT_TRUE(queue.tryPop(value));
    EXPECT_TRUE(queue.tryPush(4)); // room again after one pop
}

TEST(BoundedQueue, ManyProducersLoseNothingBelowCapacityAndTearNothing) {
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 20000;
    auto queue = std::make_unique<BoundedQueue<Record, 1024>>();
    std::atomic<int> producersDone{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int s = 0; s < kPerProducer; ++s) {
                const Record record{p, s, p * 1'000'003 + s};
                while (!queue->tryPush(record)) std::this_thread::yield(); // never drop: wait for room
            }
            producersDone.fetch_add(1);
        });
    }
    std::vector<int> nextExpected(kProducers, 0);
    int received = 0;
    Record record{};
    while (received < kProducers * kPerProducer) {
        if (!queue->tryPop(record)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(record.check, record.producer * 1'000'003 + record.sequence);
        ASSERT_EQ(record.sequence, nextExpected[static_cast<std::size_t>(record.producer)]) << "per-producer order";
        ++nextExpected[static_cast<std::size_t>(record.producer)];
        ++received;
    }
    for (auto& producer : producers) producer.join();
    EXPECT_FALSE(queue->tryPop(record));
}

} // namespace
} // namespace trelvo::platform
