#include "rack/SlotCommandQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "rack/Rack.h"

namespace trelvo::rack {
namespace {

TEST(SlotCommandQueue, VolumesAreConvertedWhenEnqueued) {
    auto queue = std::make_unique<SlotCommandQueue>();
    ASSERT_TRUE(queue->Enqueue(SlotCommandCode::WetVol, 3, 0, "", -60));
    ASSERT_TRUE(queue->Enqueue(SlotCommandCode::InpVol, 3, 0, "", 20));
    ASSERT_TRUE(queue->Enqueue(SlotCommandCode::Pan, 3, 0, "", 6));
    EXPECT_EQ(queue->entry(0).wholeValue, -49);
    EXPECT_EQ(queue->entry(0).floatValue, 0.0f);
    EXPECT_EQ(queue->entry(1).wholeValue, 12);
    EXPECT_NEAR(queue->entry(1).floatValue, 3.981f, 1e-3f);
    EXPECT_NEAR(queue->entry(2).floatValue, 0.501f, 1e-3f);
    EXPECT_EQ(queue->entry(0).state.load(), kWaitingForAudio | kWaitingForListView);
}

TEST(SlotCommandQueue, TheAudioEntryPointsConvertNothingAndPresetSelectionsWaitForTheIdleTimer) {
    auto queue = std::make_unique<SlotCommandQueue>();
    ASSERT_TRUE(queue->Enqueue(SlotCommandCode::SelectPreset, 2, 0, "Lead", 0));
    ASSERT_TRUE(queue->EnqueuePlain(SlotCommandCode::Mute, 2, 17, -60));
    ASSERT_TRUE(queue->EnqueueRequest(SlotCommandCode::SelectPreset, 4, 5, 99));
    EXPECT_STREQ(queue->entry(0).text, "Lead");
    EXPECT_EQ(queue->entry(1).wholeValue, -60);
    EXPECT_EQ(queue->entry(1).argument, 17);
    EXPECT_STREQ(queue->entry(1).text, "");
    EXPECT_EQ(queue->entry(1).state.load(), kWaitingForAudio);
    EXPECT_EQ(queue->entry(2).slot, 4);
    // Preset selections wait for the idle timer alone, from every entry point: the audio
    // thread once marked one done before the timer had seen it, and it was lost.
    EXPECT_EQ(queue->entry(0).state.load(), kWaitingForListView);
    EXPECT_EQ(queue->entry(2).state.load(), kWaitingForListView);
    int taken = 0;
    queue->applyPending([&](SlotCommand&) { ++taken; });
    EXPECT_EQ(taken, 1);
}

TEST(SlotCommandQueue, TogglingMuteTwiceLeavesItClear) {
    Rack rack;
    rack.addSlot(SlotKind::Output);
    // What the engine does with a mute command; the engine has tests of its own.
    const auto applyMute = [&](SlotCommand& command) {
        rack.slot(command.slot).runMode.set(RunMode::Mute, command.wholeValue == 1);
        rack.slot(command.slot).MuteGain = command.wholeValue == 1 ? 0.0f : 1.0f;
    };
    rack.enqueue(SlotCommandCode::Mute, 0, kToggle);
    EXPECT_EQ(rack.commands().entry(0).wholeValue, 1);
    rack.commands().applyPending(applyMute);
    EXPECT_EQ(rack.slot(0).runMode.text(), "bMso");
    rack.enqueue(SlotCommandCode::Mute, 0, kToggle);
    rack.commands().applyPending(applyMute);
    EXPECT_EQ(rack.slot(0).runMode.text(), "bmso");
    EXPECT_EQ(rack.slot(0).MuteGain.load(), 1.0f);
}

TEST(SlotCommandQueue, AppliedEntriesAreFreedAndTheCountReturnsToZero) {
    auto queue = std::make_unique<SlotCommandQueue>();
    for (int i = 0; i < 5; ++i) queue->EnqueuePlain(SlotCommandCode::Mute, i, 0, 1);
    EXPECT_EQ(queue->count(), 5);
    int applied = 0;
    queue->applyPending([&](SlotCommand&) { ++applied; });
    EXPECT_EQ(applied, 5);
    queue->applyPending([&](SlotCommand&) { ++applied; });
    EXPECT_EQ(applied, 5); // each entry once
    queue->freeApplied();
    EXPECT_EQ(queue->count(), 0);

    // An entry still waiting for the list view keeps the queue in use.
    queue->Enqueue(SlotCommandCode::Mute, 0, 0, "", 1);
    queue->applyPending([](SlotCommand&) {});
    queue->freeApplied();
    EXPECT_EQ(queue->count(), 1);
    EXPECT_EQ(queue->entry(0).state.load(), kWaitingForListView | kAppliedByAudio);
}

TEST(SlotCommandQueue, AFullQueueDropsTheCommand) {
    auto queue = std::make_unique<SlotCommandQueue>();
    for (int i = 0; i < kCommandQueueCapacity; ++i) ASSERT_TRUE(queue->EnqueuePlain(SlotCommandCode::Pan, 0, i, 0));
    EXPECT_FALSE(queue->EnqueuePlain(SlotCommandCode::Pan, 0, 0, 0));
    EXPECT_FALSE(queue->Enqueue(SlotCommandCode::Pan, 0, 0, "", 0));
    EXPECT_EQ(queue->dropCount(), 2u);
}

TEST(SlotCommandQueue, TwoWritersAndAnApplierLoseAndTearNothing) {
    auto queue = std::make_unique<SlotCommandQueue>();
    constexpr int kPerWriter = 20000;
    std::atomic<bool> writersDone{false};
    std::atomic<int> writersFinished{0};
    std::vector<int> seen(2 * kPerWriter, 0);
    std::atomic<int> torn{0};

    // The applier plays the audio thread; the freeing, on a thread of its own, the idle
    // timer: it may free an entry the moment the applier has taken it, so the applier must
    // not read the entry after that (a fault the flood of an OSC client once showed).
    std::atomic<bool> applierDone{false};
    std::thread audio([&] {
        while (!writersDone.load() || queue->count() > 0) {
            queue->applyPending([&](SlotCommand& command) {
                const int id = command.argument;
                for (int spin = 0; spin < 20; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
                if (command.wholeValue != id * 3 || command.slot != id % 32) ++torn;
                if (id >= 0 && id < 2 * kPerWriter) ++seen[static_cast<std::size_t>(id)];
            });
        }
        applierDone = true;
    });
    std::thread idle([&] {
        while (!applierDone.load()) queue->freeApplied();
    });
    auto writer = [&](int first, bool plain) {
        for (int i = first; i < first + kPerWriter; ++i) {
            // Stay far below the capacity; wait for room rather than drop.
            while (queue->count() > kCommandQueueCapacity - 100) std::this_thread::yield();
            if (plain)
                queue->EnqueuePlain(SlotCommandCode::Mute, i % 32, i, i * 3);
            else
                queue->EnqueuePlain(SlotCommandCode::Solo, i % 32, i, i * 3);
        }
        ++writersFinished;
    };
    std::thread interfaceThread(writer, 0, false);
    std::thread midiThread(writer, kPerWriter, true);
    interfaceThread.join();
    midiThread.join();
    writersDone = true;
    audio.join();
    idle.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(queue->dropCount(), 0u);
    int missing = 0, twice = 0;
    for (int count : seen) {
        missing += count == 0;
        twice += count > 1;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(twice, 0);
    if (missing > 0) {
        for (int i = 0; i < 2 * kPerWriter; ++i)
            if (seen[static_cast<std::size_t>(i)] == 0) ADD_FAILURE() << "missing id " << i;
        for (int i = 0; i < kCommandQueueCapacity; ++i)
            if (queue->entry(i).state.load() != 0)
                ADD_FAILURE() << "entry " << i << " state " << queue->entry(i).state.load() << " arg "
                              << queue->entry(i).argument << " count " << queue->count();
    }
}

} // namespace
} // namespace trelvo::rack
