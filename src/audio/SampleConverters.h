#pragma once

#include <cstdint>

#include "audio/AsioTypes.h"

namespace trelvo::audio {

/// Turns frames samples of a driver buffer into floats. MSB types are byte-swapped in
/// place in the driver buffer first, as the driver buffer is the converter's to use.
using InputConverter = void (*)(void* driverBuffer, float* target, int frames);
/// Turns floats into driver samples (rounding to nearest); MSB types are swapped afterwards.
using OutputConverter = void (*)(const float* source, void* driverBuffer, int frames);

/// The converters for a sample type; nullptr for a type without one.
InputConverter inputConverterFor(SampleType type) noexcept;
OutputConverter outputConverterFor(SampleType type) noexcept;
/// True for the type whose samples already are the host's floats (its converters only
/// copy), so that the host may work in the driver's memory itself.
inline bool isHostFloat(SampleType type) noexcept {
    return type == SampleType::Float32LSB;
}

} // namespace trelvo::audio
