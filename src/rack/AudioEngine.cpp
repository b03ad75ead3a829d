#include "rack/AudioEngine.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "midi/MidiLock.h"
#include "platform/Clock.h"
#include "rack/MixMath.h"
#include "rack/Rack.h"

namespace trelvo::rack {

using detail::addInto;
using detail::clipSample;
using detail::offOrBypassed;
using detail::startSum;
using detail::zeroChannels;
using host::TVstPlugIn;

AudioEngine::AudioEngine(Rack& owner, EngineHooks* engineHooks)
    : rack(owner), hooks(engineHooks != nullptr ? engineHooks : &noHooks), worker([this](int head) {
          rack.slot(head).workerFlag = 1;
          processStrip(head, *workerPins);
      }) {}

AudioEngine::~AudioEngine() = default;

// ---- Buffers ----

void AudioEngine::allocateBuffers(int blockSize) {
    if (blockSize < 1) return;
    if (buffersReady.load()) releaseBuffers();
    int width = kStripChannels;
    for (int i = 0; i < rack.numSlots(); ++i) {
        TVstPlugIn& slot = rack.slot(i);
        if (slot.IsMixer && !slot.buffers) slot.buffers = std::make_unique<StripBuffers>(blockSize);
        if (slot.PlugLoaded.load())
            width = std::max({width, std::min<int>(slot.numInputs, kMaxPlugInChannels),
                              std::min<int>(slot.numOutputs, kMaxPlugInChannels)});
    }
    callerPins = std::make_unique<PlugInPins>(blockSize, width);
    workerPins = std::make_unique<PlugInPins>(blockSize, width);
    capacity = blockSize;
    buffersReady.store(true, std::memory_order_release);
}

void AudioEngine::releaseBuffers() {
    buffersReady.store(false, std::memory_order_release);
    for (int i = 0; i < kMaxSlots; ++i) rack.slot(i).buffers.reset();
    callerPins.reset();
    workerPins.reset();
    capacity = 0;
}

// ---- The block ----

void AudioEngine::bufferSwitch(const DriverBlock& block) noexcept {
    const std::int64_t startTicks = platform::perfCounter();
    host::TVstHost& host = rack.host();
    host.bufferCount.fetch_add(1, std::memory_order_relaxed);
    if (applicationStage.load(std::memory_order_acquire) < kStageRunning) {
        // Nothing runs yet, but the driver must not play what its buffers held before.
        if (block.bufferSize > 0) zeroChannels(block.outputs, block.numOutputs, block.bufferSize);
        return;
    }

    for (;;) {
        if (block.bufferSize < 1) break;
        if (!block.hostReady || !buffersReady.load(std::memory_order_acquire)) {
            zeroChannels(block.outputs, block.numOutputs, block.bufferSize);
            break;
        }
        if (block.bufferSize > capacity) {
            // The driver changed its buffer before the engine's buffers followed.
            oversizedBlocks.fetch_add(1, std::memory_order_relaxed);
            zeroChannels(block.outputs, block.numOutputs, block.bufferSize);
            break;
        }
        frames = block.bufferSize;
        host.engineBlockSize.store(frames, std::memory_order_relaxed);
        // Claim the block first, then look at allowed. Holding audio clears allowed first, then
        // looks at busy: with both orders sequentially consistent one side always sees the
        // other, so no block can slip into a structural change between check and claim.
        if (busy.exchange(true)) {
            zeroChannels(block.outputs, block.numOutputs, frames);
            break;
        }
        if (!allowed.load()) {
            busy.store(false, std::memory_order_release);
            zeroChannels(block.outputs, block.numOutputs, frames);
            break;
        }
        const bool split = useAllCpus.load(std::memory_order_relaxed);
        // Only a rack that shared strips in the last block keeps the worker awake for blocks.
        if (split && sharedLastBlock) worker.prewake();
        sharedLastBlock = false;

        host.TimeInfo.updatePpq();
        {
            midi::MidiLockGuard lock;
            hooks->beginBlockMidi();
            hooks->switchMidiHalves();
            blockStartMs.store(platform::tickCountMs(), std::memory_order_relaxed);
            blockStartTicks.store(platform::perfCounter(), std::memory_order_relaxed);
        }
        const int n = rack.numSlots();
        const bool running = engineOn.load(std::memory_order_acquire) && n > 0;
        timedSlot = n > 0 ? (timedSlot + 1) % n : 0;
        if (running) hooks->virtualPortStep();

        rack.commands().applyPending([this](SlotCommand& command) { applyCommand(command); });

        // The driver's outputs may share memory with its inputs (a port fed by our own
        // output): every input is read before the first output is written.
        int outputsWritten = 0;
        if (running) {
            // a. Classify the mixers that still play.
            std::array<int, 32> channelHeads{}, groupHeads{};
            int numChannels = 0, numGroups = 0, outputBus = -1;
            for (int i = 0; i < n; ++i) {
                TVstPlugIn& slot = rack.slot(i);
                if (!slot.IsMixer || !slot.buffers) continue;
                if (offOrBypassed(slot) && slot.smoothed.on == 0.0f) continue;
                switch (slot.kind()) {
                case SlotKind::Channel: channelHeads[static_cast<std::size_t>(numChannels++)] = i; break;
                case SlotKind::Group: groupHeads[static_cast<std::size_t>(numGroups++)] = i; break;
                case SlotKind::Output: outputBus = i; break;
                default: break;
                }
            }

            // b. Channels take the driver's first two inputs; their input gain is applied
            // (smoothed) by the strip itself, once.
            for (int k = 0; k < numChannels; ++k) {
                StripBuffers& buffers = *rack.slot(channelHeads[static_cast<std::size_t>(k)]).buffers;
                for (int c = 0; c < 2; ++c) {
                    const float* source = c < block.numInputs && block.inputs != nullptr ? block.inputs[c] : nullptr;
                    if (source != nullptr)
                        std::memcpy(buffers.main->channel(c), source, sizeof(float) * static_cast<std::size_t>(frames));
                    else
                        std::memset(buffers.main->channel(c), 0, sizeof(float) * static_cast<std::size_t>(frames));
                }
            }
            runList(channelHeads, numChannels, split);

            // The sum of the channel results feeds the groups and the output bus.
            const auto sumChannelsInto = [&](StripBuffers& target) {
                for (int c = 0; c < 2; ++c) {
                    float* destination = target.main->channel(c);
                    if (numChannels == 0) {
                        std::memset(destination, 0, sizeof(float) * static_cast<std::size_t>(frames));
                        continue;
                    }
                    // 0 + the first channel, then the others added: one pass fewer than
                    // clearing first, the same sums.
                    startSum(destination, rack.slot(channelHeads[0]).buffers->main->channel(c), frames);
                    for (int k = 1; k < numChannels; ++k)
                        addInto(destination,
                                rack.slot(channelHeads[static_cast<std::size_t>(k)]).buffers->main->channel(c), frames);
                }
            };

            // c. Groups.
            if (numGroups > 0) {
                for (int k = 0; k < numGroups; ++k)
                    sumChannelsInto(*rack.slot(groupHeads[static_cast<std::size_t>(k)]).buffers);
                runList(groupHeads, numGroups, split);
            }

            // d. The output bus feeds the driver.
            if (outputBus >= 0) {
                TVstPlugIn& output = rack.slot(outputBus);
                sumChannelsInto(*output.buffers);
                processStrip(outputBus, *callerPins);
                const float volume = outputVolume.load(std::memory_order_relaxed);
                for (int c = 0; c < 2 && c < block.numOutputs; ++c) {
                    float* driver = block.outputs[c];
                    if (driver == nullptr) continue;
                    const float* result = output.buffers->main->channel(c);
                    for (int i = 0; i < frames; ++i) driver[i] = clipSample(result[i] * volume);
                }
                outputsWritten = std::min(2, block.numOutputs);
            }
        }
        for (int c = outputsWritten; c < block.numOutputs; ++c)
            if (block.outputs[c] != nullptr)
                std::memset(block.outputs[c], 0, sizeof(float) * static_cast<std::size_t>(frames));
        busy.store(false, std::memory_order_release);
        break;
    }

    // Tail, reached whenever the application runs.
    rack.transport().endOfBlock();
    const int n = rack.numSlots();
    for (int i = 0; i < n; ++i) rack.slot(i).Processed = false;
    hooks->endOfBlockMidi();
    hooks->surfaceOutputStep();
    updateBlockTiming(platform::perfCounter() - startTicks);
}

// ---- Commands ----

void AudioEngine::applyCommand(SlotCommand& command) noexcept {
    if (command.slot < 0 || command.slot >= rack.numSlots()) return;
    TVstPlugIn& slot = rack.slot(command.slot);
    const bool on = command.wholeValue == 1;
    switch (command.code()) {
    case SlotCommandCode::Pan: slot.pan.set(command.wholeValue, command.floatValue); break;
    case SlotCommandCode::WetVol: slot.WetVol.set(command.wholeValue, command.floatValue); break;
    case SlotCommandCode::DryVol: slot.DryVol.set(command.wholeValue, command.floatValue); break;
    case SlotCommandCode::InpVol: slot.InpVol.set(command.wholeValue, command.floatValue); break;
    case SlotCommandCode::Mute:
        slot.runMode.set(RunMode::Mute, on);
        slot.MuteGain.store(on ? 0.0f : 1.0f, std::memory_order_relaxed);
        break;
    case SlotCommandCode::Off:
        slot.runMode.set(RunMode::Off, on);
        slot.OnGain.store(on ? 0.0f : 1.0f, std::memory_order_relaxed);
        break;
    case SlotCommandCode::Bypass:
        if (slot.runMode.isSet(RunMode::Off)) break;
        if (slot.PlugLoaded.load() && slot.CanBypass && slot.SetBypass(on)) {
            slot.runMode.set(RunMode::Bypass, on);
            break;
        }
        if (on) {
            if (slot.kind() == SlotKind::Channel || (slot.PlugLoaded.load() && slot.isSynth())) hooks->panic();
            slot.runMode.set(RunMode::Bypass, true);
            slot.OnGain.store(0.0f, std::memory_order_relaxed);
        } else {
            slot.runMode.set(RunMode::Bypass, false);
            slot.OnGain.store(1.0f, std::memory_order_relaxed);
        }
        break;
    case SlotCommandCode::Solo:
        slot.runMode.set(RunMode::Solo, on);
        if (on) {
            rack.host().anySolo = true;
        } else {
            bool any = false;
            for (int i = 0; i < rack.numSlots(); ++i)
                if (rack.slot(i).kind() == SlotKind::Channel && rack.slot(i).runMode.isSet(RunMode::Solo)) any = true;
            rack.host().anySolo = any;
        }
        recomputeSolo();
        break;
    default: break;
    }
}

void AudioEngine::recomputeSolo() noexcept {
    const bool anySolo = rack.host().anySolo.load();
    for (int i = 0; i < rack.numSlots(); ++i) {
        TVstPlugIn& slot = rack.slot(i);
        if (slot.kind() != SlotKind::Channel) continue;
        slot.SoloGain.store(!anySolo || slot.runMode.isSet(RunMode::Solo) ? 1.0f : 0.0f, std::memory_order_relaxed);
    }
}

// ---- Timing ----

void AudioEngine::updateSlotTiming(TVstPlugIn& head, std::int64_t elapsed) noexcept {
    if (elapsed <= 0) return;
    if (head.timeCount < 0) head.timeCount = 0;
    if (head.timeCount < 10) {
        ++head.timeCount;
        head.timeSum += elapsed;
    } else {
        head.timeSum = head.timeSum - head.averageTime.load(std::memory_order_relaxed) + elapsed;
    }
    head.averageTime.store(head.timeSum / head.timeCount, std::memory_order_relaxed);
}

void AudioEngine::updateBlockTiming(std::int64_t elapsed) noexcept {
    BlockTiming& t = timing;
    if (t.windowCount >= 10) {
        t.windowSum = t.windowSum - t.average.load(std::memory_order_relaxed) + elapsed;
    } else {
        if (t.windowCount < 0) t.windowCount = 0;
        ++t.windowCount;
        t.windowSum += elapsed;
    }
    const std::int64_t average = t.windowSum / t.windowCount;
    t.average.store(average, std::memory_order_relaxed);
    t.last.store(elapsed, std::memory_order_relaxed);
    if (elapsed > t.maximum.load(std::memory_order_relaxed)) t.maximum.store(elapsed, std::memory_order_relaxed);
    std::int64_t peak = std::max(t.recentPeak.load(std::memory_order_relaxed), elapsed);
    if (static_cast<double>(elapsed) > 1.2 * static_cast<double>(average)) peak = elapsed;
    t.recentPeak.store(peak, std::memory_order_relaxed);
}

} // namespace trelvo::rack
