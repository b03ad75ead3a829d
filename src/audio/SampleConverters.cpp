#include "audio/SampleConverters.h"

#include <cmath>
#include <cstring>

namespace trelvo::audio {

int bytesPerSample(SampleType type) noexcept {
    switch (type) {
    case SampleType::Int16MSB:
    case SampleType::Int16LSB: return 2;
    case SampleType::Int24MSB:
    case SampleType::Int24LSB: return 3;
    case SampleType::Float64MSB:
    case SampleType::Float64LSB: return 8;
    case SampleType::Int32MSB:
    case SampleType::Float32MSB:
    case SampleType::Int32MSB16:
    case SampleType::Int32MSB18:
    case SampleType::Int32MSB20:
    case SampleType::Int32MSB24:
    case SampleType::Int32LSB:
    case SampleType::Float32LSB:
    case SampleType::Int32LSB16:
    case SampleType::Int32LSB18:
    case SampleType::Int32LSB20:
    case SampleType::Int32LSB24: return 4;
    }
    return 0;
}

namespace {

// Driver buffers hold little-endian samples (the host is little-endian); memcpy keeps
// every access well-defined whatever the buffer's alignment.
template <class T> T load(const unsigned char* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}
template <class T> void store(unsigned char* p, T value) noexcept {
    std::memcpy(p, &value, sizeof(T));
}

template <int Bytes> void swapBytes(void* buffer, int frames) noexcept {
    auto* p = static_cast<unsigned char*>(buffer);
    for (int i = 0; i < frames; ++i, p += Bytes)
        for (int a = 0, b = Bytes - 1; a < b; ++a, --b) {
            const unsigned char t = p[a];
            p[a] = p[b];
            p[b] = t;
        }
}

/// Rounds to nearest and saturates at the integer type's range.
template <class Int> Int roundSaturated(double value, double limit) noexcept {
    if (!(value == value)) return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= limit) return static_cast<Int>(limit);
    if (rounded <= -limit - 1.0) return static_cast<Int>(-limit - 1.0);
    return static_cast<Int>(rounded);
}

// ---- Little-endian converters ----

void in16(void* driver, float* target, int frames) noexcept {
    const auto* p = static_cast<const unsigned char*>(driver);
    for (int i = 0; i < frames; ++i) target[i] = static_cast<float>(load<std::int16_t>(p + 2 * i) * (1.0 / 32768.0));
}
void out16(const float* source, void* driver, int frames) noexcept {
    auto* p = static_cast<unsigned char*>(driver);
    for (int i = 0; i < frames; ++i)
        store<std::int16_t>(p + 2 * i, roundSaturated<std::int16_t>(source[i] * 32767.0, 32767.0));
}

void in24(void* driver, float* target, int frames) noexcept {
    const auto* p = static_cast<const unsigned char*>(driver);
    for (int i = 0; i < frames; ++i, p += 3) {
        std::int32_t value = p[0] | (p[1] << 8) | (p[2] << 16);
        if ((value & 0x800000) != 0) value -= 0x1000000;
        target[i] = static_cast<float>((value + 0.5) / 8388607.5);
    }
}
void out24(const float* source, void* driver, int frames) noexcept {
    auto* p = static_cast<unsigned char*>(driver);
    for (int i = 0; i < frames; ++i, p += 3) {
        const std::int32_t value = roundSaturated<std::int32_t>(source[i] * 8388607.0, 8388607.0);
        p[0] = static_cast<unsigned char>(value & 0xFF);
        p[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
        p[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
    }
}

template <int Shift> void in32(void* driver, float* target, int frames) noexcept {
    const auto* p = static_cast<const unsigned char*>(driver);
    const double scale = 1.0 / static_cast<double>(1LL << Shift);
    for (int i = 0; i < frames; ++i) target[i] = static_cast<float>(load<std::int32_t>(p + 4 * i) * scale);
}
template <int Shift> void out32(const float* source, void* driver, int frames) noexcept {
    auto* p = static_cast<unsigned char*>(driver);
    const double limit = static_cast<double>((1LL << Shift) - 1);
    for (int i = 0; i < frames; ++i)
        store<std::int32_t>(p + 4 * i, roundSaturated<std::int32_t>(source[i] * limit, limit));
}

void inFloat32(void* driver, float* target, int frames) noexcept {
    std::memcpy(target, driver, sizeof(float) * static_cast<std::size_t>(frames));
}
void outFloat32(const float* source, void* driver, int frames) noexcept {
    std::memcpy(driver, source, sizeof(float) * static_cast<std::size_t>(frames));
}

void inFloat64(void* driver, float* target, int frames) noexcept {
    const auto* p = static_cast<const unsigned char*>(driver);
    for (int i = 0; i < frames; ++i) target[i] = static_cast<float>(load<double>(p + 8 * i));
}
void outFloat64(const float* source, void* driver, int frames) noexcept {
    auto* p = static_cast<unsigned char*>(driver);
    for (int i = 0; i < frames; ++i) store<double>(p + 8 * i, static_cast<double>(source[i]));
}

// ---- Big-endian: swap, then the little-endian routine (or the other way round) ----

template <int Bytes, InputConverter Little> void inSwapped(void* driver, float* target, int frames) noexcept {
    swapBytes<Bytes>(driver, frames);
    Little(driver, target, frames);
}
template <int Bytes, OutputConverter Little> void outSwapped(const float* source, void* driver, int frames) noexcept {
    Little(source, driver, frames);
    swapBytes<Bytes>(driver, frames);
}

} // namespace

InputConverter inputConverterFor(SampleType type) noexcept {
    switch (type) {
    case SampleType::Int16LSB: return &in16;
    case SampleType::Int24LSB: return &in24;
    case SampleType::Int32LSB: return &in32<31>;
    case SampleType::Float32LSB: return &inFloat32;
    case SampleType::Float64LSB: return &inFloat64;
    case SampleType::Int32LSB16: return &in32<15>;
    case SampleType::Int32LSB18: return &in32<17>;
    case SampleType::Int32LSB20: return &in32<19>;
    case SampleType::Int32LSB24: return &in32<23>;
    case SampleType::Int16MSB: return &inSwapped<2, &in16>;
    case SampleType::Int24MSB: return &inSwapped<3, &in24>;
    case SampleType::Int32MSB: return &inSwapped<4, &in32<31>>;
    case SampleType::Float32MSB: return &inSwapped<4, &inFloat32>;
    case SampleType::Float64MSB: return &inSwapped<8, &inFloat64>;
    case SampleType::Int32MSB16: return &inSwapped<4, &in32<15>>;
    case SampleType::Int32MSB18: return &inSwapped<4, &in32<17>>;
    case SampleType::Int32MSB20: return &inSwapped<4, &in32<19>>;
    case SampleType::Int32MSB24: return &inSwapped<4, &in32<23>>;
    }
    return nullptr;
}

OutputConverter outputConverterFor(SampleType type) noexcept {
    switch (type) {
    case SampleType::Int16LSB: return &out16;
    case SampleType::Int24LSB: return &out24;
    case SampleType::Int32LSB: return &out32<31>;
    case SampleType::Float32LSB: return &outFloat32;
    case SampleType::Float64LSB: return &outFloat64;
    case SampleType::Int32LSB16: return &out32<15>;
    case SampleType::Int32LSB18: return &out32<17>;
    case SampleType::Int32LSB20: return &out32<19>;
    case SampleType::Int32LSB24: return &out32<23>;
    case SampleType::Int16MSB: return &outSwapped<2, &out16>;
    case SampleType::Int24MSB: return &outSwapped<3, &out24>;
    case SampleType::Int32MSB: return &outSwapped<4, &out32<31>>;
    case SampleType::Float32MSB: return &outSwapped<4, &outFloat32>;
    case SampleType::Float64MSB: return &outSwapped<8, &outFloat64>;
    case SampleType::Int32MSB16: return &outSwapped<4, &out32<15>>;
    case SampleType::Int32MSB18: return &outSwapped<4, &out32<17>>;
    case SampleType::Int32MSB20: return &outSwapped<4, &out32<19>>;
    case SampleType::Int32MSB24: return &outSwapped<4, &out32<23>>;
    }
    return nullptr;
}

} // namespace trelvo::audio
