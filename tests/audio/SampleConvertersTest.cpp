#include "audio/SampleConverters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace trelvo::audio {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes convertOut(SampleType type, const std::vector<float>& samples) {
    Bytes driver(samples.size() * static_cast<std::size_t>(bytesPerSample(type)), 0xEE);
    outputConverterFor(type)(samples.data(), driver.data(), static_cast<int>(samples.size()));
    return driver;
}

std::vector<float> convertIn(SampleType type, Bytes driver) {
    const int frames = static_cast<int>(driver.size()) / bytesPerSample(type);
    std::vector<float> samples(static_cast<std::size_t>(frames), -7.0f);
    inputConverterFor(type)(driver.data(), samples.data(), frames);
    return samples;
}

// Little-endian bytes of a value.
template <class T> Bytes le(T value) {
    Bytes bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}
Bytes reversedEach(const Bytes& bytes, int width) {
    Bytes result = bytes;
    for (std::size_t i = 0; i < result.size(); i += static_cast<std::size_t>(width))
        std::reverse(result.begin() + static_cast<long>(i), result.begin() + static_cast<long>(i) + width);
    return result;
}
Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(SampleConverters, Int16ScalesRoundsAndSaturates) {
    EXPECT_EQ(convertOut(SampleType::Int16LSB, {0.0f, 1.0f, -1.0f, 0.5f, 1.5f, -2.0f, 0.25f / 32767.0f * 2.0f}),
              join({le<std::int16_t>(0), le<std::int16_t>(32767), le<std::int16_t>(-32767), le<std::int16_t>(16384),
                    le<std::int16_t>(32767), le<std::int16_t>(-32768), le<std::int16_t>(0)}));
    EXPECT_EQ(
        convertIn(SampleType::Int16LSB, join({le<std::int16_t>(-32768), le<std::int16_t>(16384), le<std::int16_t>(1)})),
        (std::vector<float>{-1.0f, 0.5f, 1.0f / 32768.0f}));
}

TEST(SampleConverters, Int24UsesThreeBytesAndTheHalfStepScale) {
    EXPECT_EQ(convertOut(SampleType::Int24LSB, {1.0f, -1.0f, 0.0f, 3.0f}),
              (Bytes{0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x7F}));
    const auto in = convertIn(SampleType::Int24LSB, Bytes{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00});
    EXPECT_FLOAT_EQ(in[0], static_cast<float>((8388607 + 0.5) / 8388607.5));  // 1.0
    EXPECT_FLOAT_EQ(in[1], static_cast<float>((-8388608 + 0.5) / 8388607.5)); // -1.0
    EXPECT_FLOAT_EQ(in[2], static_cast<float>(0.5 / 8388607.5));
}

TEST(SampleConverters, Int32AndItsNarrowerVariantsUseTheirOwnScales) {
    EXPECT_EQ(convertOut(SampleType::Int32LSB, {1.0f, -1.0f, 0.5f}),
              join({le<std::int32_t>(2147483647), le<std::int32_t>(-2147483647), le<std::int32_t>(1073741824)}));
    EXPECT_EQ(convertIn(SampleType::Int32LSB, join({le<std::int32_t>(-2147483647 - 1), le<std::int32_t>(1 << 30)})),
              (std::vector<float>{-1.0f, 0.5f}));
    struct Variant {
        SampleType type;
        std::int32_t full;
        int shift;
    };
    for (const Variant v :
         {Variant{SampleType::Int32LSB16, 32767, 15}, Variant{SampleType::Int32LSB18, 131071, 17},
          Variant{SampleType::Int32LSB20, 524287, 19}, Variant{SampleType::Int32LSB24, 8388607, 23}}) {
        SCOPED_TRACE(static_cast<int>(v.type));
        EXPECT_EQ(convertOut(v.type, {1.0f, -1.0f, 4.0f}), join({le(v.full), le(-v.full), le(v.full)}));
        EXPECT_EQ(convertIn(v.type, join({le(1 << (v.shift - 1)), le(-(1 << v.shift))})),
                  (std::vector<float>{0.5f, -1.0f}));
    }
}

TEST(SampleConverters, FloatsAreCopiedOrWidened) {
    EXPECT_EQ(convertOut(SampleType::Float32LSB, {0.125f, -3.5f}), join({le(0.125f), le(-3.5f)}));
    EXPECT_EQ(convertOut(SampleType::Float64LSB, {0.125f}), le(0.125));
    EXPECT_EQ(convertIn(SampleType::Float64LSB, join({le(0.1), le(-2.0)})), (std::vector<float>{0.1f, -2.0f}));
    EXPECT_EQ(convertIn(SampleType::Float32LSB, le(0.75f)), (std::vector<float>{0.75f}));
}

TEST(SampleConverters, BigEndianTypesAreTheLittleEndianOnesByteSwapped) {
    struct Pair {
        SampleType big;
        SampleType little;
    };
    const std::vector<float> signal{0.0f, 0.5f, -0.25f, 0.999f, -1.0f, 0.123456f};
    for (const Pair p :
         {Pair{SampleType::Int16MSB, SampleType::Int16LSB}, Pair{SampleType::Int24MSB, SampleType::Int24LSB},
          Pair{SampleType::Int32MSB, SampleType::Int32LSB}, Pair{SampleType::Float32MSB, SampleType::Float32LSB},
          Pair{SampleType::Float64MSB, SampleType::Float64LSB}, Pair{SampleType::Int32MSB16, SampleType::Int32LSB16},
          Pair{SampleType::Int32MSB18, SampleType::Int32LSB18}, Pair{SampleType::Int32MSB20, SampleType::Int32LSB20},
          Pair{SampleType::Int32MSB24, SampleType::Int32LSB24}}) {
        SCOPED_TRACE(static_cast<int>(p.big));
        const int width = bytesPerSample(p.big);
        const Bytes little = convertOut(p.little, signal);
        EXPECT_EQ(convertOut(p.big, signal), reversedEach(little, width));
        EXPECT_EQ(convertIn(p.big, reversedEach(little, width)), convertIn(p.little, little));
    }
}

TEST(SampleConverters, UnknownTypesHaveNoConverter) {
    EXPECT_EQ(inputConverterFor(static_cast<SampleType>(5)), nullptr);
    EXPECT_EQ(outputConverterFor(static_cast<SampleType>(30)), nullptr);
    EXPECT_EQ(bytesPerSample(static_cast<SampleType>(5)), 0);
}

} // namespace
} // namespace trelvo::audio
