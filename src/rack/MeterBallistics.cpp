#include "rack/MeterBallistics.h"

#include <algorithm>

namespace trelvo::rack {

int MeterBallistics::tick(float peakLeft, float peakRight) noexcept {
    const int level = std::max(static_cast<int>(peakLeft * 1000.0f), static_cast<int>(peakRight * 1000.0f));
    if (level > 999) {
        clipLevel = std::max(clipLevel, level);
        clipTicks = 30;
    }
    if (clipTicks > 0) {
        const int shown = clipLevel;
        if (--clipTicks == 0) clipLevel = 0;
        return shown;
    }
    if (level >= holdLevel) {
        holdLevel = level;
        holdTicks = 4;
        return level;
    }
    int shown = level;
    if (holdTicks > 0) {
        shown = std::max(level, holdLevel * holdTicks / 4);
        if (--holdTicks == 0) holdLevel = 0;
    }
    return shown;
}

int MeterBallistics::segmentOf(int level) noexcept {
    int segments = 0;
    for (int threshold : kMeterThresholds)
        if (level >= threshold) ++segments;
    return segments;
}

} // namespace trelvo::rack
