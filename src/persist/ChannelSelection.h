#pragma once

#include <array>
#include <cstdint>

namespace trelvo::persist {

/// The two channel-selection tables: a driver channel takes part when its entry is 0 or
/// more. Process-wide: the settings read and write them per driver, the driver host reads
/// them when it opens a driver.
struct ChannelSelection {
    std::array<std::int8_t, 32> inputs{};
    std::array<std::int8_t, 32> outputs{};
};

/// The process-wide tables. Thread: user interface.
ChannelSelection& channelSelection() noexcept;

} // namespace trelvo::persist
