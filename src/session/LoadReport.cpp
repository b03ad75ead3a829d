#include "session/LoadReport.h"

#include <algorithm>
#include <cmath>

#include "diag/DiagLog.h"
#include "platform/Clock.h"
#include "rack/AudioEngine.h"
#include "rack/Rack.h"

namespace trelvo::rack {

std::string xrunText(const audio::XrunCount& xruns) {
    std::string text = "xruns: " + std::to_string(xruns.count);
    if (xruns.count > 0) text += ", last " + diag::timeStamp(xruns.lastUnixMs / 1000);
    return text;
}

std::vector<SlotLoad> slotLoads(const Rack& rack, const BlockTiming& timing, int bufferSize, double sampleRate) {
    const double blockTicks = bufferSize > 0 && sampleRate > 0.0
                                  ? bufferSize * static_cast<double>(platform::kPerfFrequency) / sampleRate
                                  : 0.0;
    const auto engineTicks = static_cast<double>(timing.average.load(std::memory_order_relaxed));
    const auto share = [](double ticks, double whole) { return whole > 0.0 ? ticks * 100.0 / whole : 0.0; };

    struct Timed {
        SlotLoad load;
        std::int64_t ticks;
    };
    std::vector<Timed> timed;
    const auto silent = [](const auto& slot) {
        return slot.runMode.isSet(RunMode::Off) || slot.runMode.isSet(RunMode::Bypass);
    };
    for (int i = 0; i < rack.numSlots(); ++i) {
        const auto& slot = rack.slot(i);
        if (slot.kind() != SlotKind::Plugin || !slot.PlugLoaded.load(std::memory_order_relaxed) || silent(slot))
            continue;
        if (slot.OwnerIndex >= 0 && slot.OwnerIndex < rack.numSlots() && silent(rack.slot(slot.OwnerIndex))) continue;
        const std::int64_t ticks = slot.averageTime.load(std::memory_order_relaxed);
        const auto cost = static_cast<double>(ticks);
        timed.push_back({{i, slot.SlotName, share(cost, blockTicks), share(cost, engineTicks)}, ticks});
    }
    std::stable_sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) { return a.ticks > b.ticks; });

    std::vector<SlotLoad> loads;
    loads.reserve(timed.size());
    for (Timed& entry : timed) loads.push_back(std::move(entry.load));
    return loads;
}

std::string topLoadsText(const std::vector<SlotLoad>& loads, std::size_t numShown) {
    std::string text;
    for (std::size_t k = 0; k < loads.size() && k < numShown; ++k) {
        const long percent = std::lround(loads[k].blockPercent);
        if (percent == 0) break; // the list is sorted: the rest round to nothing as well
        if (!text.empty()) text += "  ";
        text += loads[k].name + " " + std::to_string(percent) + "%";
    }
    return text;
}

} // namespace trelvo::rack
