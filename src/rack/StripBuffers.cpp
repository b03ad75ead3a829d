#include "rack/StripBuffers.h"

namespace trelvo::rack {

ChannelArray::ChannelArray(int frames)
    : numFrames(frames), storage(static_cast<std::size_t>(frames) * kBufferChannels, 0.0f) {
    for (std::size_t c = 0; c < kBufferChannels; ++c) pointers[c] = storage.data() + c * static_cast<std::size_t>(frames);
}

} // namespace trelvo::rack
