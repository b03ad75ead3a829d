// Fuzz target for the Standard MIDI File reader: any bytes. Reading must never crash or
// trip a sanitizer, and what it accepts must be events in time order with sane messages.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "media/MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    trelvo::media::MidiFileContents contents;
    std::string error;
    if (!trelvo::media::parseMidiFile(std::string_view(reinterpret_cast<const char*>(data), size), contents, error))
        return 0;
    double last = 0.0;
    for (const auto& event : contents.events) {
        if (event.seconds < last || event.bytes.empty() || event.seconds > contents.lengthSeconds) __builtin_trap();
        if (event.bytes[0] != 0xF0 && (event.bytes[0] < 0x80 || event.bytes.size() > 3)) __builtin_trap();
        last = event.seconds;
    }
    return 0;
}
