#pragma once

#include <memory>
#include <vector>

#include "audio/DriverList.h"
#include "audio/DummyDriver.h"

namespace trelvo::test {

/// The driver list of a rack that plays on the Dummy driver alone.
inline std::vector<audio::DriverEntry> dummyDriverOnly() {
    return {{"Dummy", "dummy", "clock", [] { return std::make_unique<audio::DummyDriver>(); }}};
}

} // namespace trelvo::test
