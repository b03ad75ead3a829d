// The engine's strips: the chain of plug-ins under a mixer slot, with the channel pointers
// lent to each plug-in, wet and dry, pan, the switch gains and the strip's own mix.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/MixMath.h"
#include "rack/Rack.h"

namespace trelvo::rack {

using detail::applyPan;
using detail::moveToward;
using detail::offOrBypassed;
using host::TVstPlugIn;

// ---- Strips ----

void AudioEngine::runList(const std::array<int, 32>& heads, int count, bool split) noexcept {
    if (!split || count < 2) {
        for (int k = 0; k < count; ++k) {
            rack.slot(heads[static_cast<std::size_t>(k)]).workerFlag = 0;
            processStrip(heads[static_cast<std::size_t>(k)], *callerPins);
        }
        return;
    }
    // The audio thread takes strips from the front, the worker from the back, each when it
    // is free. Every strip writes only its own buffers and the sums come later in the rack's
    // order, so the samples do not depend on which thread ran what.
    for (int k = 0; k < count; ++k) rack.slot(heads[static_cast<std::size_t>(k)]).workerFlag = 0;
    worker.offer(heads.data(), count);
    sharedLastBlock = true;
    worker.runTaken(true, [this](int head) { processStrip(head, *callerPins); });
    worker.wait();
}

void AudioEngine::processStrip(int headIndex, PlugInPins& pins) noexcept {
    const std::int64_t startTicks = platform::perfCounter();
    TVstPlugIn& head = rack.slot(headIndex);
    StripBuffers& buffers = *head.buffers;
    float* mainL = buffers.main->channel(0);
    float* mainR = buffers.main->channel(1);

    // Input gain (unity changes no sample). The work pair is set up when the first
    // plug-in runs.
    {
        const float target = head.InpVol.getGain();
        float gain = head.smoothed.inpVol;
        if (gain == target && !rampLoopsOnly) {
            if (gain != 1.0f) {
                for (int i = 0; i < frames; ++i) {
                    mainL[i] = mainL[i] * gain;
                    mainR[i] = mainR[i] * gain;
                }
            }
        } else {
            for (int i = 0; i < frames; ++i) {
                gain = moveToward(gain, target, kGainStep);
                mainL[i] = mainL[i] * gain;
                mainR[i] = mainR[i] * gain;
            }
            head.smoothed.inpVol = gain;
        }
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
    updateSlotTiming(head, platform::perfCounter() - startTicks);
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

    // c. The previous plug-in's output is this one's input; the first one's is the strip's
    // signal after the input gain, copied so that the strip keeps it for the dry mix.
    float* inL = buffers.input->channel(0);
    float* inR = buffers.input->channel(1);
    if (++pluginsRun > 0) {
        std::swap(buffers.input, buffers.output);
        inL = buffers.input->channel(0);
        inR = buffers.input->channel(1);
    } else {
        std::memcpy(inL, buffers.main->channel(0), sizeof(float) * static_cast<std::size_t>(frames));
        std::memcpy(inR, buffers.main->channel(1), sizeof(float) * static_cast<std::size_t>(frames));
        std::memset(buffers.output->channel(0), 0, sizeof(float) * static_cast<std::size_t>(frames));
        std::memset(buffers.output->channel(1), 0, sizeof(float) * static_cast<std::size_t>(frames));
    }
    float* outL = buffers.output->channel(0);
    float* outR = buffers.output->channel(1);

    // d. Run the plug-in (timed when it is this block's turn: the load display names the
    // plug-ins that take the block).
    if (!slot.Processed) {
        pins.prepare(inL, inR, outL, outR, slot.effectNumInputs(), frames);
        const bool timed = slot.SlotIdx == timedSlot;
        const std::int64_t startTicks = timed ? platform::perfCounter() : 0;
        bool ok;
        if (slot.canReplacing()) {
            ok = slot.ProcessReplacing(pins.inputPointers(), pins.outputPointers(), frames);
        } else {
            // The accumulating form adds to its outputs, which must start silent.
            pins.zeroOutputs(slot.effectNumOutputs(), frames);
            ok = slot.Process(pins.inputPointers(), pins.outputPointers(), frames);
        }
        if (timed) updateSlotTiming(slot, platform::perfCounter() - startTicks);
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
        // Nothing ran, unity and centred: the signal stays as it is.
        if (!anyPluginRan && s.pan == 0.0f && gain == 1.0f) return;
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

} // namespace trelvo::rack
