#pragma once

#include <array>
#include <memory>
#include <vector>

namespace trelvo::rack {

/// Channels per strip buffer. The engine uses 0 (left) and 1 (right); the others exist so
/// that a plug-in with more inputs or outputs always gets valid memory.
inline constexpr int kBufferChannels = 32;

/// One strip buffer: 32 channel arrays of block-size floats in one allocation.
class ChannelArray {
public:
    explicit ChannelArray(int frames);
    float** channels() noexcept { return pointers.data(); }
    float* channel(int index) noexcept { return pointers[static_cast<std::size_t>(index)]; }
    int frames() const noexcept { return numFrames; }

private:
    int numFrames;
    std::vector<float> storage;
    std::array<float*, kBufferChannels> pointers{};
};

/// The three buffers a mixer slot owns: main (the strip's input and, after processing, its
/// result) and the input/output pair its plug-ins work on. Allocated and released only by
/// the engine-control operations, while audio is held.
struct StripBuffers {
    explicit StripBuffers(int frames)
        : main(std::make_unique<ChannelArray>(frames)), input(std::make_unique<ChannelArray>(frames)),
          output(std::make_unique<ChannelArray>(frames)) {}

    std::unique_ptr<ChannelArray> main;
    std::unique_ptr<ChannelArray> input;
    std::unique_ptr<ChannelArray> output;
};

} // namespace trelvo::rack
