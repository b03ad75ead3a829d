#include "media/MidiFile.h"

#include <gtest/gtest.h>

namespace trelvo::media {
namespace {

std::string chunk(const char* magic, const std::string& body) {
    std::string out(magic, 4);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((body.size() >> shift) & 0xFF);
    return out + body;
}
std::string header(int format, int tracks, int division) {
    return chunk("MThd", std::string{0, static_cast<char>(format), 0, static_cast<char>(tracks),
                                     static_cast<char>(division >> 8), static_cast<char>(division & 0xFF)});
}

TEST(MidiFile, TracksMergeInTimeAndTheTempoMapTurnsTicksIntoSeconds) {
    // Track 0: 120 bpm, after one quarter 60 bpm. Track 1: notes with running status and a SysEx.
    const std::string tempo = std::string("\x00\xFF\x51\x03\x07\xA1\x20", 7) +
                              std::string("\x83\x60\xFF\x51\x03\x0F\x42\x40", 8) + std::string("\x00\xFF\x2F\x00", 4);
    const std::string notes = std::string("\x00\x90\x3C\x64", 4) +
                              std::string("\x87\x40\x3E\x64", 4) // running status, 960 ticks
                              + std::string("\x00\xF0\x03\x7E\x01\xF7", 6) + std::string("\x83\x60\xC2\x05", 4) +
                              std::string("\x00\xFF\x2F\x00", 4);
    const std::string file = header(1, 2, 480) + chunk("MTrk", tempo) + chunk("XTRA", "skip me") + chunk("MTrk", notes);
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parseMidiFile(file, contents, error)) << error;
    ASSERT_EQ(contents.events.size(), 4u);
    EXPECT_EQ(contents.events[0].seconds, 0.0);
    // 960 ticks: 480 at 0.5 s per quarter, then 480 at 1 s per quarter.
    EXPECT_DOUBLE_EQ(contents.events[1].seconds, 1.5);
    EXPECT_EQ(contents.events[1].bytes, (std::vector<std::uint8_t>{0x90, 0x3E, 0x64}));
    EXPECT_EQ(contents.events[2].bytes, (std::vector<std::uint8_t>{0xF0, 0x7E, 0x01, 0xF7}));
    EXPECT_EQ(contents.events[3].bytes, (std::vector<std::uint8_t>{0xC2, 0x05}));
    EXPECT_DOUBLE_EQ(contents.events[3].seconds, 2.5);
    EXPECT_DOUBLE_EQ(contents.lengthSeconds, 2.5);
}

TEST(MidiFile, DamagedFilesAreRefusedWithAReason) {
    const std::string track = chunk("MTrk", std::string("\x00\x90\x3C\x64\x00\xFF\x2F\x00", 8));
    const std::string good = header(0, 1, 96) + track;
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parseMidiFile(good, contents, error));
    for (const std::string& bad :
         {std::string("RIFF...."), good.substr(0, good.size() - 3), header(0, 2, 96) + track, header(3, 1, 96) + track,
          header(0, 1, 0) + track, header(0, 1, 96) + chunk("MTrk", std::string("\x00\x3C\x64", 3)),
          header(0, 1, 96) + chunk("MTrk", std::string("\xFF\xFF\xFF\xFF\x7F", 5))}) {
        EXPECT_FALSE(parseMidiFile(bad, contents, error)) << ::testing::PrintToString(bad);
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
} // namespace trelvo::media
