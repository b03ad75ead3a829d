#pragma once

#include <array>

namespace trelvo::rack {

/// The level at which each of the 28 meter segments lights (1000 is full scale): -40 dB,
/// then 1.5 dB steps from -30 dB to +9 dB.
inline constexpr std::array<int, 28> kMeterThresholds = {10,  32,   38,   45,   53,   63,   75,   89,  106, 126,
                                                         150, 178,  211,  251,  299,  355,  422,  501, 596, 708,
                                                         841, 1000, 1189, 1413, 1679, 1995, 2371, 2818};

/// The meter of one mixer row: peak hold for four ticks, falling in quarters, and a clip
/// hold of 30 ticks for anything above full scale.
class MeterBallistics {
public:
    /// One idle tick with the strip's peaks since the last tick; returns the level to show.
    int tick(float peakLeft, float peakRight) noexcept;
    /// The ticks left of the clip hold (the control surfaces show it).
    int clipCountdown() const noexcept { return clipTicks; }

    /// How many thresholds a level reaches: 0 to 28.
    static int segmentOf(int level) noexcept;

private:
    int holdLevel = 0;
    int holdTicks = 0;
    int clipLevel = 0;
    int clipTicks = 0;
};

} // namespace trelvo::rack
