#pragma once

#include <string>
#include <vector>

namespace trelvo::media {

/// Writes a 32-bit float stereo WAV file. The file appears under its name only once it was
/// written whole; the same samples always give the same bytes (no time stamps).
bool writeFloatWav(const std::string& path, const std::vector<float>& left, const std::vector<float>& right, int sampleRate,
                   std::string& error);

/// A sound file read whole: a mono file gives the same samples on both sides; of more
/// than two channels the first two are taken.
struct AudioFileData {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> left, right;
};

/// Reads any format libsndfile reads. False with the library's reason otherwise.
bool readAudioFile(const std::string& path, AudioFileData& data, std::string& error);

} // namespace trelvo::media
