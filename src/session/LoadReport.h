#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "audio/AudioDriver.h"

namespace trelvo::rack {

class Rack;
struct BlockTiming;

/// One plug-in's part of the audio block, for the load view.
struct SlotLoad {
    int slotIndex = -1;
    std::string name;
    double blockPercent = 0.0;  ///< of the block's duration: how much of the deadline it uses
    double enginePercent = 0.0; ///< of the engine's average time for a block
};

// What the window shows about the audio load. Thread: user interface.

/// "xruns: 0", or "xruns: 3, last 21:14:05" with the last one's local time of day.
std::string xrunText(const audio::XrunCount& xruns);

/// The plug-ins' average times as shares, costliest first (equal costs in rack order):
/// what each plug-in takes of the block. The engine times one plug-in per block, in turn.
/// A plug-in that is off or bypassed, or in a strip that is, is left out: it no longer runs
/// and its last average would stay as it was. With the work split over two processors the
/// engine shares may add up to more than 100.
std::vector<SlotLoad> slotLoads(const Rack& rack, const BlockTiming& timing, int bufferSize, double sampleRate);

/// "Synth 41%  Reverb 12%": the first numShown loads with their share of the block
/// duration; loads that round to 0% are left out.
std::string topLoadsText(const std::vector<SlotLoad>& loads, std::size_t numShown = 3);

} // namespace trelvo::rack
