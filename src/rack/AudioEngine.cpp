#include "rack/AudioEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "midi/MidiLock.h"
#include "platform/Clock.h"
#include "rack/Rack.h"

namespace trelvo::rack {

using host::TVstPlugIn;

namespace {

/// One smoothing step toward the target, never past it.
inline float moveToward(float value, float target, float step) noexcept {
    if (value < target) {
        value += step;
        return value > target ? target : value;
    }
    if (value > target) {
        value -= step;
        return value < target ? target : value;
    }
    return value;
}

/// Positive p moves the left signal into the right channel, negative p the right into the left.
inline void applyPan(float& left, float& right, float p) noexcept {
    if (p > 0.0f) {
        right = right + left * p;
        left = left * (1.0f - p);
    } else if (p < 0.0f) {
        left = left + right * (-p);
        right = right * (1.0f + p);
    }
}

/// Hard limit at full scale. A NaN from a plug-in becomes silence rather than reaching the
/// converter.
inline float clipSample(float sample) noexcept {
    if (sample > 1.0f) return 1.0f;
    if (sample < -1.0f) return -1.0f;
    if (sample != sample) return 0.0f;
    return sample;
}

inline bool offOrBypassed(const TVstPlugIn& slot) noexcept {
    return slot.runMode.isSet(RunMode::Bypass) || slot.runMode.isSet(RunMode::Off);
}

void zeroChannels(float* const* channels, int count, int frames) noexcept {
    for (int c = 0; c < count; ++c)
        if (channels[c] != nullptr) std::memset(channels[c], 0, sizeof(float) * static_cast<std::size_t>(frames));
}

void addInto(float* target, const float* source, int frames) noexcept {
    for (int i = 0; i < frames; ++i) target[i] += source[i];
}

} // namespace

AudioEngine::AudioEngine(Rack& owner, EngineHooks* engineHooks)
    : rack(owner), hooks(engineHooks != nullptr ? engineHooks : &noHooks),
      worker([this](int head) { processStrip(head, *workerPins); }) {}

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
    inputPair = std::make_unique<ChannelArray>(blockSize);
    capacity = blockSize;
    buffersReady.store(true, std::memory_order_release);
}

void AudioEngine::releaseBuffers() {
    buffersReady.store(false, std::memory_order_release);
    for (int i = 0; i < kMaxSlots; ++i) rack.slot(i).buffers.reset();
    callerPins.reset();
    workerPins.reset();
    inputPair.reset();
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
        zeroChannels(block.outputs, block.numOutputs, frames);
        // Claim the block first, then look at allowed. Holding audio clears allowed first, then
        // looks at busy: with both orders sequentially consistent one side always sees the
        // other, so no block can slip into a structural change between check and claim.
        if (busy.exchange(true)) break;
        if (!allowed.load()) {
            busy.store(false, std::memory_order_release);
            break;
        }
        const bool split = useAllCpus.load(std::memory_order_relaxed);
        if (split) worker.prewake();

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
        if (running) hooks->virtualPortStep();

        rack.commands().applyPending([this](SlotCommand& command) { applyCommand(command); });

        for (int c = 0; c < 2; ++c) {
            float* target = inputPair->channel(c);
            const float* source = c < block.numInputs && block.inputs != nullptr ? block.inputs[c] : nullptr;
            if (source != nullptr)
                std::memcpy(target, source, sizeof(float) * static_cast<std::size_t>(frames));
            else
                std::memset(target, 0, sizeof(float) * static_cast<std::size_t>(frames));
        }

        if (running) {
            // a. Classify the mixers that still play.
            std::array<int, 32> channelHeads{}, groupHeads{};
            int numChannels = 0, numGroups = 0, outputBus = -1;
            std::int64_t channelCost = 0, groupCost = 0;
            for (int i = 0; i < n; ++i) {
                TVstPlugIn& slot = rack.slot(i);
                if (!slot.IsMixer || !slot.buffers) continue;
                if (offOrBypassed(slot) && slot.smoothed.on == 0.0f) continue;
                const std::int64_t cost = slot.averageTime.load(std::memory_order_relaxed);
                switch (slot.kind()) {
                case SlotKind::Channel:
                    channelHeads[static_cast<std::size_t>(numChannels++)] = i;
                    channelCost += cost;
                    break;
                case SlotKind::Group:
                    groupHeads[static_cast<std::size_t>(numGroups++)] = i;
                    groupCost += cost;
                    break;
                case SlotKind::Output: outputBus = i; break;
                default: break;
                }
            }

            // b. Channels take the driver's first two inputs; their input gain is applied
            // (smoothed) by the strip itself, once.
            for (int k = 0; k < numChannels; ++k) {
                StripBuffers& buffers = *rack.slot(channelHeads[static_cast<std::size_t>(k)]).buffers;
                for (int c = 0; c < 2; ++c)
                    std::memcpy(buffers.main->channel(c), inputPair->channel(c),
                                sizeof(float) * static_cast<std::size_t>(frames));
            }
            runList(channelHeads, numChannels, channelCost, split);

            // The sum of the channel results feeds the groups and the output bus.
            const auto sumChannelsInto = [&](StripBuffers& target) {
                for (int c = 0; c < 2; ++c) {
                    float* destination = target.main->channel(c);
                    std::memset(destination, 0, sizeof(float) * static_cast<std::size_t>(frames));
                    for (int k = 0; k < numChannels; ++k)
                        addInto(destination,
                                rack.slot(channelHeads[static_cast<std::size_t>(k)]).buffers->main->channel(c), frames);
                }
            };

            // c. Groups.
            if (numGroups > 0) {
                for (int k = 0; k < numGroups; ++k)
                    sumChannelsInto(*rack.slot(groupHeads[static_cast<std::size_t>(k)]).buffers);
                runList(groupHeads, numGroups, groupCost, split);
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
            }
        }
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

// ---- Strips ----

void AudioEngine::runList(const std::array<int, 32>& heads, int count, std::int64_t costSum, bool split) noexcept {
    // Hand strips to the worker until it holds just under half of the measured cost.
    const std::int64_t half = std::min<std::int64_t>(costSum / 2, std::numeric_limits<std::int32_t>::max());
    std::int64_t assigned = 0;
    worker.clearList();
    for (int k = 0; k < count; ++k) {
        TVstPlugIn& head = rack.slot(heads[static_cast<std::size_t>(k)]);
        const std::int64_t cost = head.averageTime.load(std::memory_order_relaxed);
        if (split && half > assigned + cost) {
            worker.add(heads[static_cast<std::size_t>(k)]);
            assigned += cost;
            head.workerFlag = 1;
        } else {
            head.workerFlag = 0;
        }
    }
    const bool workerHasStrips = split && worker.size() > 0;
    if (workerHasStrips) worker.start();
    for (int k = 0; k < count; ++k)
        if (rack.slot(heads[static_cast<std::size_t>(k)]).workerFlag == 0)
            processStrip(heads[static_cast<std::size_t>(k)], *callerPins);
    if (workerHasStrips) worker.wait();
}

void AudioEngine::processStrip(int headIndex, PlugInPins& pins) noexcept {
    const std::int64_t startTicks = platform::perfCounter();
    TVstPlugIn& head = rack.slot(headIndex);
    StripBuffers& buffers = *head.buffers;
    float* mainL = buffers.main->channel(0);
    float* mainR = buffers.main->channel(1);

    // Input gain; the work pair starts as the strip's input and silence.
    {
        float* inL = buffers.input->channel(0);
        float* inR = buffers.input->channel(1);
        const float target = head.InpVol.getGain();
        float gain = head.smoothed.inpVol;
        if (gain == target && !rampLoopsOnly) {
            for (int i = 0; i < frames; ++i) {
                mainL[i] = mainL[i] * gain;
                mainR[i] = mainR[i] * gain;
            }
        } else {
            for (int i = 0; i < frames; ++i) {
                gain = moveToward(gain, target, kGainStep);
                mainL[i] = mainL[i] * gain;
                mainR[i] = mainR[i] * gain;
            }
            head.smoothed.inpVol = gain;
        }
        std::memcpy(inL, mainL, sizeof(float) * static_cast<std::size_t>(frames));
        std::memcpy(inR, mainR, sizeof(float) * static_cast<std::size_t>(frames));
        std::memset(buffers.output->channel(0), 0, sizeof(float) * static_cast<std::size_t>(frames));
        std::memset(buffers.output->channel(1), 0, sizeof(float) * static_cast<std::size_t>(frames));
    }

    const bool headSilenced = offOrBypassed(head) && head.smoothed.on == 0.0f;
    if (!headSilenced) {
        int pluginsRun = -1;
        if (!runChain(headIndex, pluginsRun, pins)) {
            diag::LineText line;
            line << "-proc " << headIndex;
            diag::hookedLogError(line.view());
            // The strip is skipped for this block: it contributes silence, not a half result.
            std::memset(mainL, 0, sizeof(float) * static_cast<std::size_t>(frames));
            std::memset(mainR, 0, sizeof(float) * static_cast<std::size_t>(frames));
        } else {
            mixHead(head, pluginsRun >= 0);
            float peakL = 0.0f, peakR = 0.0f;
            for (int i = 0; i < frames; ++i) {
                peakL = std::max(peakL, std::fabs(mainL[i]));
                peakR = std::max(peakR, std::fabs(mainR[i]));
            }
            if (peakL > head.PeakL.load(std::memory_order_relaxed)) head.PeakL.store(peakL, std::memory_order_relaxed);
            if (peakR > head.PeakR.load(std::memory_order_relaxed)) head.PeakR.store(peakR, std::memory_order_relaxed);
        }
    }
    updateStripTiming(head, platform::perfCounter() - startTicks);
}

bool AudioEngine::runChain(int headIndex, int& pluginsRun, PlugInPins& pins) noexcept {
    TVstPlugIn& head = rack.slot(headIndex);
    const int n = rack.numSlots();
    bool failed = false;
    for (int j = headIndex + 1; j < n && !failed; ++j) {
        TVstPlugIn& slot = rack.slot(j);
        if (slot.IsMixer) break;
        processPlugInSlot(head, slot, pluginsRun, failed, pins);
    }
    return !failed;
}

bool AudioEngine::fitsPins(TVstPlugIn& slot, const PlugInPins& pins) noexcept {
    // The counts as the plug-in declares them now: one that grew them after loading (it may
    // tell the host so, or not) must not read past what the pins hold.
    const int numIn = std::max<int>(slot.numInputs, slot.effectNumInputs());
    const int numOut = std::max<int>(slot.numOutputs, slot.effectNumOutputs());
    if (numIn <= pins.width() && numOut <= pins.width()) return true;
    if (!slot.tooWideReported.exchange(true, std::memory_order_relaxed)) {
        diag::LineText line;
        line << "slot " << slot.SlotIdx << " \"" << slot.SlotName << "\" declares " << numIn << " inputs and " << numOut
             << " outputs, more than " << pins.width() << "; it is passed by";
        diag::hookedLogError(line.view());
    }
    return false;
}

void AudioEngine::processPlugInSlot(TVstPlugIn& head, TVstPlugIn& slot, int& pluginsRun, bool& failed,
                                    PlugInPins& pins) noexcept {
    StripBuffers& buffers = *head.buffers;
    const bool loaded = slot.PlugLoaded.load(std::memory_order_acquire) && slot.hasEffect() && !slot.isQuarantined() &&
                        fitsPins(slot, pins);

    // a. MIDI first; a MIDI plug-in runs here on silence and scratch memory.
    if (hooks->midiInputOpen()) {
        hooks->deliverMidi(slot);
        if (loaded && slot.isMidiPlugin) {
            pins.prepare(nullptr, nullptr, nullptr, nullptr, slot.effectNumInputs(), frames);
            if (!slot.canReplacing()) pins.zeroOutputs(slot.effectNumOutputs(), frames);
            const bool ok = slot.canReplacing()
                                ? slot.ProcessReplacing(pins.inputPointers(), pins.outputPointers(), frames)
                                : slot.Process(pins.inputPointers(), pins.outputPointers(), frames);
            slot.Processed = true;
            if (!ok) {
                failed = true;
                return;
            }
        }
    }

    // b. Nothing to run: the strip's signal passes on unchanged. A plug-in the engine
    // suspended stays out until it has been resumed (effMainsChanged(1)).
    if (!loaded || (offOrBypassed(slot) && slot.smoothed.on == 0.0f) ||
        slot.suspended.load(std::memory_order_relaxed)) {
        if (loaded && slot.runMode.isSet(RunMode::Off) && !slot.suspended.load(std::memory_order_relaxed)) {
            slot.MainsChanged(false);
            slot.suspended.store(true, std::memory_order_relaxed);
        }
        return;
    }

    // c. The previous plug-in's output is this one's input.
    if (++pluginsRun > 0) std::swap(buffers.input, buffers.output);
    float* inL = buffers.input->channel(0);
    float* inR = buffers.input->channel(1);
    float* outL = buffers.output->channel(0);
    float* outR = buffers.output->channel(1);

    // d. Run the plug-in.
    if (!slot.Processed) {
        pins.prepare(inL, inR, outL, outR, slot.effectNumInputs(), frames);
        bool ok;
        if (slot.canReplacing()) {
            ok = slot.ProcessReplacing(pins.inputPointers(), pins.outputPointers(), frames);
        } else {
            // The accumulating form adds to its outputs, which must start silent.
            pins.zeroOutputs(slot.effectNumOutputs(), frames);
            ok = slot.Process(pins.inputPointers(), pins.outputPointers(), frames);
        }
        slot.Processed = true;
        if (!ok) {
            failed = true;
            return;
        }
        // A plug-in with one output feeds both sides of the strip.
        if (slot.numOutputs == 1) std::memcpy(outR, outL, sizeof(float) * static_cast<std::size_t>(frames));
    }

    // e. Mix wet and dry, pan, and cross-fade to the unprocessed signal while the slot is
    // switched off or bypassed (OnGain ramping toward 0) or back on.
    if (slot.isMidiPlugin || slot.numOutputs <= 0) {
        std::memcpy(outL, inL, sizeof(float) * static_cast<std::size_t>(frames));
        std::memcpy(outR, inR, sizeof(float) * static_cast<std::size_t>(frames));
        return;
    }
    SmoothedGains& s = slot.smoothed;
    const float wetTarget = slot.WetVol.getGain();
    const float dryTarget = slot.DryVol.getGain();
    const float panTarget = slot.pan.getValue();
    const float onTarget = slot.OnGain.load(std::memory_order_relaxed);
    if (!rampLoopsOnly && s.wetVol == wetTarget && s.dryVol == dryTarget && s.pan == panTarget && s.on == onTarget &&
        onTarget == 1.0f) {
        const float wet = s.wetVol, dry = s.dryVol, p = s.pan;
        // Full wet, no dry, centre: the plug-in's output already is the result.
        if (wet == 1.0f && dry == 0.0f && p == 0.0f) return;
        for (int i = 0; i < frames; ++i) {
            float left = outL[i] * wet + inL[i] * dry;
            float right = outR[i] * wet + inR[i] * dry;
            applyPan(left, right, p);
            outL[i] = left;
            outR[i] = right;
        }
        return;
    }
    float wet = s.wetVol, dry = s.dryVol, p = s.pan, g = s.on;
    for (int i = 0; i < frames; ++i) {
        wet = moveToward(wet, wetTarget, kGainStep);
        dry = moveToward(dry, dryTarget, kGainStep);
        p = moveToward(p, panTarget, kGainStep);
        g = moveToward(g, onTarget, kOnGainStep);
        float left = outL[i] * wet + inL[i] * dry;
        float right = outR[i] * wet + inR[i] * dry;
        applyPan(left, right, p);
        if (g != 1.0f) {
            left = left * g + inL[i] * (1.0f - g);
            right = right * g + inR[i] * (1.0f - g);
        }
        outL[i] = left;
        outR[i] = right;
    }
    s.wetVol = wet;
    s.dryVol = dry;
    s.pan = p;
    s.on = g;
}

void AudioEngine::mixHead(TVstPlugIn& head, bool anyPluginRan) noexcept {
    StripBuffers& buffers = *head.buffers;
    float* mainL = buffers.main->channel(0);
    float* mainR = buffers.main->channel(1);
    const float* outL = buffers.output->channel(0);
    const float* outR = buffers.output->channel(1);
    SmoothedGains& s = head.smoothed;
    const float wetTarget = head.WetVol.getGain();
    const float dryTarget = head.DryVol.getGain();
    const float panTarget = head.pan.getValue();
    const float muteTarget = head.MuteGain.load(std::memory_order_relaxed);
    const float soloTarget = head.SoloGain.load(std::memory_order_relaxed);
    const float onTarget = head.OnGain.load(std::memory_order_relaxed);

    const auto mixSample = [&](int i, float wet, float dry, float p, float gain) {
        float left = anyPluginRan ? outL[i] + mainL[i] * dry : mainL[i];
        float right = anyPluginRan ? outR[i] + mainR[i] * dry : mainR[i];
        applyPan(left, right, p);
        mainL[i] = left * gain;
        mainR[i] = right * gain;
    };

    if (!rampLoopsOnly && s.wetVol == wetTarget && s.dryVol == dryTarget && s.pan == panTarget &&
        s.mute == muteTarget && s.solo == soloTarget && s.on == onTarget) {
        // Every gain is settled: the same arithmetic without the ramps.
        const float gain = s.wetVol * s.mute * s.solo * s.on;
        if (anyPluginRan && s.dryVol == 0.0f && s.pan == 0.0f && gain == 1.0f) {
            // The chain's output is the strip's result as it stands.
            std::memcpy(mainL, outL, sizeof(float) * static_cast<std::size_t>(frames));
            std::memcpy(mainR, outR, sizeof(float) * static_cast<std::size_t>(frames));
            return;
        }
        for (int i = 0; i < frames; ++i) mixSample(i, s.wetVol, s.dryVol, s.pan, gain);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        s.wetVol = moveToward(s.wetVol, wetTarget, kGainStep);
        s.dryVol = moveToward(s.dryVol, dryTarget, kGainStep);
        s.pan = moveToward(s.pan, panTarget, kGainStep);
        s.mute = moveToward(s.mute, muteTarget, kGainStep);
        s.solo = moveToward(s.solo, soloTarget, kGainStep);
        s.on = moveToward(s.on, onTarget, kOnGainStep);
        mixSample(i, s.wetVol, s.dryVol, s.pan, s.wetVol * s.mute * s.solo * s.on);
    }
}

// ---- Timing ----

void AudioEngine::updateStripTiming(TVstPlugIn& head, std::int64_t elapsed) noexcept {
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
