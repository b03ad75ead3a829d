#pragma once

#include <memory>
#include <vector>

namespace trelvo::rack {

/// Channels a strip mixes: 0 (left) and 1 (right).
inline constexpr int kStripChannels = 2;
/// The most channels a plug-in may declare on either side and still be processed. Far above
/// what real plug-ins declare (ambisonics suites use 64, samplers with direct outputs ~100);
/// a count past it is taken for a broken effect record.
inline constexpr int kMaxPlugInChannels = 1024;

/// Channel arrays of block-size floats in one allocation, with their pointer array.
class ChannelArray {
public:
    explicit ChannelArray(int frames, int numChannels = kStripChannels);
    float** channels() noexcept { return pointers.data(); }
    float* channel(int index) noexcept { return pointers[static_cast<std::size_t>(index)]; }
    int frames() const noexcept { return numFrames; }
    int count() const noexcept { return static_cast<int>(pointers.size()); }

private:
    int numFrames;
    std::vector<float> storage;
    std::vector<float*> pointers;
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

/// The channel-pointer arrays one processing thread lends to plug-ins. Every plug-in gets as
/// many valid input and output pointers as it declares: 0 and 1 are the strip's work pair,
/// the inputs past them read silence and the outputs past them write into scratch memory
/// that nothing mixes. A plug-in with one input reads the strip's left and right summed at
/// half level, so a mono effect after a stereo one hears both sides.
///
/// Sized on the user-interface thread while audio is held; used by one thread at a time.
class PlugInPins {
public:
    PlugInPins(int frames, int width);

    /// The most channels a plug-in may declare on either side with these arrays.
    int width() const noexcept { return inputs.count(); }

    /// Points the arrays at the strip's work pair for one call of a plug-in with numIn inputs
    /// (at most width()). A null left input means silence on every input, a null output
    /// scratch memory. Thread: audio (or the work thread), wait-free.
    void prepare(const float* inL, const float* inR, float* outL, float* outR, int numIn, int frames) noexcept;
    /// Zeroes every output pointer up to numOut, for the accumulating process call.
    void zeroOutputs(int numOut, int frames) noexcept;

    float** inputPointers() noexcept { return inputPtrs.data(); }
    float** outputPointers() noexcept { return outputPtrs.data(); }

private:
    ChannelArray inputs;  ///< silence (and the mono sum in channel 0)
    ChannelArray outputs; ///< scratch
    std::vector<float*> inputPtrs;
    std::vector<float*> outputPtrs;
};

} // namespace trelvo::rack
