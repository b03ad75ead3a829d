#pragma once

// The driver interface's records, results and sample types: the published ASIO numbers,
// used here for every audio backend (JACK, ALSA, Dummy, Offline).

#include <cstdint>

namespace trelvo::audio {

using AsioError = std::int32_t;
inline constexpr AsioError ASE_OK = 0;
inline constexpr AsioError ASE_NotPresent = -1000;
inline constexpr AsioError ASE_HWMalfunction = -999;
inline constexpr AsioError ASE_InvalidParameter = -998;
inline constexpr AsioError ASE_InvalidMode = -997;
inline constexpr AsioError ASE_NoMemory = -994;

enum class SampleType : std::int32_t {
    Int16MSB = 0,
    Int24MSB = 1,
    Int32MSB = 2,
    Float32MSB = 3,
    Float64MSB = 4,
    Int32MSB16 = 8,
    Int32MSB18 = 9,
    Int32MSB20 = 10,
    Int32MSB24 = 11,
    Int16LSB = 16,
    Int24LSB = 17,
    Int32LSB = 18,
    Float32LSB = 19,
    Float64LSB = 20,
    Int32LSB16 = 24,
    Int32LSB18 = 25,
    Int32LSB20 = 26,
    Int32LSB24 = 27,
};

/// Bytes one sample of a type takes in a driver buffer; 0 for an unknown type.
int bytesPerSample(SampleType type) noexcept;

/// One driver channel, as getChannelInfo reports it (52 bytes).
struct AsioChannelInfo {
    std::int32_t channel;
    std::int32_t isInput;
    std::int32_t isActive;
    std::int32_t channelGroup;
    SampleType type;
    char name[32];
};
static_assert(sizeof(AsioChannelInfo) == 52);

/// One channel taking part in buffer exchange: the driver fills in its two halves.
struct AsioBufferInfo {
    std::int32_t isInput;
    std::int32_t channelNum;
    void* buffers[2];
};

/// A 64-bit count stored high word first.
struct AsioSamples {
    std::uint32_t hi;
    std::uint32_t lo;
    std::int64_t value() const noexcept {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(hi) << 32) | lo);
    }
    static AsioSamples of(std::int64_t value) noexcept {
        return {static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) >> 32),
                static_cast<std::uint32_t>(value & 0xFFFFFFFF)};
    }
};
using AsioTimeStamp = AsioSamples;

enum AsioTimeInfoFlags : std::uint32_t {
    kSystemTimeValid = 1,
    kSamplePositionValid = 1 << 1,
    kSampleRateValid = 1 << 2,
    kSpeedValid = 1 << 3,
};

#pragma pack(push, 4)
struct AsioTimeInfo {
    double speed;
    AsioTimeStamp systemTime;
    AsioSamples samplePosition;
    double sampleRate;
    std::uint32_t flags;
    char reserved[12];
};
struct AsioTimeCode {
    double speed;
    AsioSamples timeCodeSamples;
    std::uint32_t flags;
    char future[64];
};
/// The time record a driver may pass with each block (148 bytes).
struct AsioTime {
    std::int32_t reserved[4];
    AsioTimeInfo timeInfo;
    AsioTimeCode timeCode;
};
#pragma pack(pop)
static_assert(sizeof(AsioTimeInfo) == 48);
static_assert(sizeof(AsioTimeCode) == 84);
static_assert(sizeof(AsioTime) == 148);

/// The four entry points a driver calls, in the published order.
struct AsioCallbacks {
    void (*bufferSwitch)(std::int32_t doubleBufferIndex, std::int32_t directProcess);
    void (*sampleRateDidChange)(double sampleRate);
    std::int32_t (*asioMessage)(std::int32_t selector, std::int32_t value, void* message, double* opt);
    AsioTime* (*bufferSwitchTimeInfo)(AsioTime* params, std::int32_t doubleBufferIndex, std::int32_t directProcess);
};

/// asioMessage selectors.
enum AsioMessageSelector : std::int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
};

} // namespace trelvo::audio
