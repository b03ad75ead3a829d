// The rack controller's idle-timer duties: plug-in idle, meters, command results, messages,
// the transport text and the slow duties (processor load, device state, caption).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/TASIOHost.h"
#include "diag/DiagLog.h"
#include "host/IsolatedEffect.h"
#include "platform/Clock.h"
#include "platform/ThreadScheduling.h"
#include "session/ControllerText.h"
#include "session/LoadReport.h"
#include "session/RackController.h"

namespace trelvo::rack {

using audio::kAllowedStop;
using detail::fixed;
using detail::panColumn;
using detail::volumeColumn;
using host::TVstPlugIn;

// ---- Idle duties ----

void RackController::idleTick() {
    if (inTick) return;
    // A driver that went away (a JACK server stopped) is looked for again, a few times a
    // second at most, whatever else the duties are doing.
    engineControl.pollDriver();
    if (!idleEnabled) {
        // The duties pause while audio is held; driver notices must still be heard.
        handleMessages();
        return;
    }
    inTick = true;
    const std::uint32_t start = platform::tickCountMs();
    const auto settle = static_cast<std::uint32_t>(std::max(engineControl.settleTimeMs, 1));
    while (audioEngine.busy.load(std::memory_order_acquire) && platform::tickCountMs() - start < settle)
        platform::sleepMs(0);
    racked.host().idleTick.fetch_add(1, std::memory_order_relaxed);

    const int n = racked.numSlots();
    if (audioEngine.allowed.load() && !audioEngine.busy.load() && n > 0) {
        // Plug-ins get their idle time in turn, within a budget: one whose idle call takes
        // long delays the others by a tick, and it starts behind them the next time.
        const std::uint32_t idleStart = platform::tickCountMs();
        const int first = nextIdleSlot % n;
        for (int k = 0; k < n; ++k) {
            const int i = (first + k) % n;
            if (k > 0 && platform::tickCountMs() - idleStart > kPlugInIdleBudgetMs) {
                nextIdleSlot = i;
                break;
            }
            TVstPlugIn& slot = racked.slot(i);
            nextIdleSlot = i + 1;
            if (!slot.PlugLoaded.load() || !slot.Active.load()) continue;
            if (slot.NeedIdle.load()) slot.Idle();
            if (slot.EditorOpen.load()) slot.EditIdle();
        }
    }
    updateMeters();
    serveCommandResults();
    handleMessages();
    updateTransport();
    surfaceControl->tick();

    const int period = std::max(1, idlePeriodMs());
    if (++slowCounter >= std::max(1, 333 / period)) {
        slowCounter = 0;
        slowDuties();
    }
    inTick = false;
    // A duty may open a project, or remove duties (its own or another's): the duties run
    // outside the tick, from a copy, and one removed meanwhile is not called.
    const auto duties = idleDuties;
    for (const auto& [id, duty] : duties) {
        const bool registered = std::any_of(idleDuties.begin(), idleDuties.end(),
                                            [dutyId = id](const auto& entry) { return entry.first == dutyId; });
        if (idleEnabled && registered) duty();
    }
}

int RackController::addIdleDuty(std::function<void()> duty) {
    idleDuties.emplace_back(nextDutyId, std::move(duty));
    return nextDutyId++;
}

void RackController::removeIdleDuty(int id) {
    idleDuties.erase(
        std::remove_if(idleDuties.begin(), idleDuties.end(), [id](const auto& entry) { return entry.first == id; }),
        idleDuties.end());
}

void RackController::updateMeters() {
    if (rows.size() != static_cast<std::size_t>(racked.numSlots())) rebuildRows();
    for (int i = 0; i < racked.numSlots(); ++i) {
        TVstPlugIn& slot = racked.slot(i);
        if (!slot.IsMixer) continue;
        const float left = slot.PeakL.exchange(0.0f, std::memory_order_relaxed);
        const float right = slot.PeakR.exchange(0.0f, std::memory_order_relaxed);
        MeterBallistics& meter = meters[static_cast<std::size_t>(slot.SlotIdx)];
        const int level = meter.tick(left, right);
        if (slot.kind() == SlotKind::Channel) surfaceMeter(slot.KindNo, level, meter.clipCountdown());
        rows[static_cast<std::size_t>(i)].meterSegment = MeterBallistics::segmentOf(level);
    }
}

void RackController::serveCommandResults() {
    if (!audioEngine.allowed.load() || audioEngine.busy.load()) return;
    SlotCommandQueue& queue = racked.commands();
    const int count = queue.count();
    for (int e = 0; e < count; ++e) {
        SlotCommand& entry = queue.entry(e);
        const std::uint32_t state = entry.state.load(std::memory_order_acquire);
        if (state == 0 || (state & kBeingFilled) != 0) continue;
        const int index = entry.slot;
        const bool valid = index >= 0 && index < racked.numSlots();
        const SlotCommandCode code = entry.code();
        if (code == SlotCommandCode::SelectPreset || code == SlotCommandCode::RefreshParameter) {
            if (valid && code == SlotCommandCode::SelectPreset) {
                const std::string text(entry.text, strnlen(entry.text, kCommandTextCapacity));
                entry.text[0] = '\0';
                if (text.empty())
                    presetList->SelectPreset(index, entry.argument, true);
                else
                    presetList->LoadPresetByName(index, text, true);
            } else if (valid && code == SlotCommandCode::RefreshParameter && refreshParameter && index == selected &&
                       racked.slot(index).PlugLoaded.load() && entry.wholeValue >= 0 &&
                       entry.wholeValue < racked.slot(index).effectNumParams()) {
                refreshParameter(index, entry.wholeValue);
            }
            queue.transition(e, state, kAppliedByAudio);
            continue;
        }
        if ((state & (kWaitingForAudio | kWaitingForListView)) != kWaitingForListView) continue;
        if (valid) {
            TVstPlugIn& slot = racked.slot(index);
            RowView* row = index < static_cast<int>(rows.size()) ? &rows[static_cast<std::size_t>(index)] : nullptr;
            switch (code) {
            case SlotCommandCode::WetVol:
                if (row) row->wet = volumeColumn(slot.WetVol.getDb());
                break;
            case SlotCommandCode::DryVol:
                if (row) row->dry = volumeColumn(slot.DryVol.getDb());
                break;
            case SlotCommandCode::InpVol:
                if (row) row->in = volumeColumn(slot.InpVol.getDb());
                break;
            case SlotCommandCode::Pan:
                if (row) row->pan = panColumn(slot.pan.getStep());
                break;
            case SlotCommandCode::Solo: surfaceNotice(115, racked.host().anySolo.load() ? 15 : 0); break;
            case SlotCommandCode::Bypass:
                if (slot.runMode.isSet(RunMode::Bypass) && (slot.kind() == SlotKind::Channel || holdsInstrument(slot)))
                    midiLayer->cmdPanic();
                break;
            case SlotCommandCode::Off:
                if (!slot.runMode.isSet(RunMode::Off) && slot.suspended.load())
                    resumeIfSuspended(slot);
                else if (slot.kind() == SlotKind::Channel || holdsInstrument(slot))
                    midiLayer->cmdPanic();
                break;
            default: break;
            }
            if (row) *row = rowOf(index);
        }
        queue.transition(e, state, state & ~kWaitingForListView);
    }
    queue.freeApplied();
}

std::string RackController::transportTextOf(double ppqPos, int numerator, int denominator, int* beatInBar) {
    if (numerator < 1) numerator = 4;
    if (denominator < 1) denominator = 4;
    const auto beat = static_cast<long long>(std::trunc(ppqPos / (4.0 / denominator)));
    const long long bar = beat / numerator + 1;
    const long long inBar = beat - (bar - 1) * numerator + 1;
    if (beatInBar) *beatInBar = static_cast<int>(inBar);
    char text[64];
    std::snprintf(text, sizeof text, "%3lld.%2lld.%3lld", bar, inBar,
                  static_cast<long long>(std::trunc(ppqPos * 1000.0)));
    return std::string(text).substr(0, 15);
}

void RackController::updateTransport() {
    const TVTI& time = racked.host().TimeInfo;
    int beatInBar = 0;
    transportText = transportTextOf(time.get(TimeField::PpqPos), time.get(TimeIntField::TimeSigNumerator),
                                    time.get(TimeIntField::TimeSigDenominator), &beatInBar);
    const std::uint32_t now = platform::tickCountMs();
    const int denominator = std::max(1, time.get(TimeIntField::TimeSigDenominator));
    const auto beat = static_cast<long long>(std::trunc(time.get(TimeField::PpqPos) / (4.0 / denominator)));
    if (beatInBar == 1 && beat != lastBeat) {
        firstBeatVisible = false;
        beatHiddenAt = now;
    }
    lastBeat = beat;
    if (!firstBeatVisible && now - beatHiddenAt >= 150) firstBeatVisible = true;
}

void RackController::handleMessages() {
    UiMessage message;
    while (messageQueue.take(message)) {
        switch (message.code) {
        case kMsgAsioNotice: engineControl.handleNotice(static_cast<int>(message.wParam)); break;
        case kMsgProgramChange:
            racked.commands().EnqueueRequest(SlotCommandCode::SelectPreset, static_cast<int>(message.wParam),
                                             static_cast<int>(message.lParam), 0);
            break;
        case kMsgAutomate:
            racked.commands().EnqueueRequest(SlotCommandCode::RefreshParameter,
                                             static_cast<int>(message.wParam / 65536), 0,
                                             static_cast<int>(message.wParam & 0xFFFF));
            break;
        case kMsgSurfaceStatus:
        case kMsgSurfaceButtons:
        case kMsgSurfaceEncoders: surfaceControl->handleMessage(message); break;
        case kMsgUpdateDisplay: {
            const auto slot = static_cast<int>(message.wParam / 65536);
            if (slot >= 0 && slot < racked.numSlots()) presetList->RefreshPresetDisplay(slot);
            slotEvents.displayNeedsRefresh = false;
            break;
        }
        default: break;
        }
    }
}

void RackController::isolationDuties() {
    for (int i = 0; i < racked.numSlots(); ++i) {
        TVstPlugIn& slot = racked.slot(i);
        if (slot.kind() != SlotKind::Plugin) continue;
        // A worker lost again soon after a restart stays off: the slot shows Off, and
        // switching it on starts the plug-in again.
        if (slot.isolation && slot.isolation->state() == host::IsolatedEffect::State::Off &&
            !slot.runMode.isSet(RunMode::Off))
            switchOn(i);
        // A fault the user was told of moves the plug-in out of the process, when wanted.
        if (settings.isolateAfterFault && slot.isQuarantined() && slot.quarantineAnnounced && !slot.Isolated.load()) {
            diag::hookedLogError("slot " + std::to_string(i) + " \"" + slot.SlotName +
                                 "\" faulted: it is loaded again in a process of its own");
            setIsolated(i, true);
        }
    }
}

void RackController::slowDuties() {
    isolationDuties();
    std::string load;
    if (cpuMeterWorks) {
        cpuMeterWorks = cpuMeter.Sample();
        if (cpuMeterWorks) load = cpuMeter.loadText();
    }
    cpuText = load;
    updateDeviceState(load);
    if (const audio::TASIOHost* host = engineControl.host()) {
        const audio::XrunCount xruns = host->xruns();
        xrunCount = xruns.count;
        xrunText = rack::xrunText(xruns);
        loadsText = host->ready()
                        ? topLoadsText(slotLoads(racked, audioEngine.timing, host->bufferSize, host->sampleRate))
                        : std::string();
    }

    std::string title;
    for (int i = 0; i < racked.numSlots(); ++i) {
        const std::string slotCaption = slotTitle(i);
        if (i == selected) title = slotCaption;
    }
    caption = title.empty() ? "untitled" : title;

    for (const std::string& line : midiLayer->takeDropReports()) diag::hookedLogError(line);
}

void RackController::updateDeviceState(const std::string& load) {
    // A refused real-time priority stays visible: audio may glitch under load.
    const std::string noRealtime = platform::realtimeRefused() ? " (no RT)" : "";
    std::string loads; // the meter's columns, one space apart
    for (char c : load)
        if (c != ' ' || (!loads.empty() && loads.back() != ' ')) loads += c;
    while (!loads.empty() && loads.back() == ' ') loads.pop_back();
    const std::string cpu = loads.empty() ? std::string() : "; processors " + loads;
    const std::string realtime = platform::realtimeRefused() ? "; no real-time priority" : "";
    const bool midiOpen = midiLayer->inputsOpen() || midiLayer->numOutputPorts() > 0;
    const std::string midiText = midiOpen ? "" : "; MIDI: no devices";
    if (engineControl.waitingForDriver()) {
        stateLabel1 = " cpu: " + load;
        stateLabel2 = " " + engineControl.waitingText() + noRealtime;
        stateText = "audio: " + engineControl.waitingText() + midiText + cpu + realtime;
        return;
    }
    if (!midiOpen) {
        stateLabel1 = " cpu: " + load;
        stateLabel2 = (engineControl.hostReady() ? " ** no MIDI **" : " * noMIDI noASIO *") + noRealtime;
        if (!engineControl.hostReady()) {
            stateText = "audio: no driver" + midiText + cpu + realtime;
            return;
        }
    }
    if (!engineControl.hostReady()) {
        engineControl.setAllowed(kAllowedStop);
        engineControl.setBuffers(0);
        stateLabel1 = " cpu: " + load;
        stateLabel2 = " ** no ASIO **" + noRealtime;
        stateText = "audio: no driver" + midiText + cpu + realtime;
        return;
    }
    if (!audioEngine.engineOn.load()) {
        if (midiOpen) {
            stateLabel1 = " cpu: " + load;
            stateLabel2 = " engine STOPPED" + noRealtime;
        }
        stateText = "audio: stopped" + midiText + cpu + realtime;
        return;
    }
    const double ticksPerMs = static_cast<double>(platform::kPerfFrequency) / 1000.0;
    const double average = static_cast<double>(audioEngine.timing.average.load()) / ticksPerMs;
    const double recent = static_cast<double>(audioEngine.timing.recentPeak.load()) / ticksPerMs;
    const double maximum = static_cast<double>(audioEngine.timing.maximum.load()) / ticksPerMs;
    const double block = engineControl.blockMilliseconds;
    const auto percent = [block](double value) { return block > 0.0 ? fixed(value * 100.0 / block, 0) + "%" : "0%"; };
    stateText = "audio: a block takes " + fixed(average, 2) + " ms on average (" + percent(average) + " of its " +
                fixed(block, 2) + " ms), " + fixed(recent, 2) + " ms lately (" + percent(recent) + "), " +
                fixed(maximum, 2) + " ms at most (" + percent(maximum) + ")" + midiText + cpu + realtime;
    if (!midiOpen) return; // the labels say "no MIDI", as ever
    stateLabel1 =
        fixed(average, 2) + " " + fixed(recent, 2) + " " + fixed(maximum, 2) + " " + fixed(block, 2) + "ms....";
    stateLabel2 = percent(average) + "  " + percent(recent) + "  " + percent(maximum) + "  " + noRealtime;
}

} // namespace trelvo::rack
