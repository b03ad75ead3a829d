#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileReplacer.h"

typedef struct sf_private_tag SNDFILE;

namespace trelvo::media {

/// Writes a 32-bit float stereo WAV file block by block. The file appears under its name
/// only once commit() succeeds; until then it is a temporary file beside it, removed when
/// the writer goes away uncommitted. The same samples always give the same bytes (no time
/// stamps).
class FloatWavWriter {
public:
    /// The most frames a WAV file can hold (its sizes are 32-bit).
    static constexpr std::int64_t kMaxFrames = (std::int64_t{0xFFFFFFFF} - 4096) / 8;

    FloatWavWriter() = default;
    ~FloatWavWriter();
    FloatWavWriter(const FloatWavWriter&) = delete;
    FloatWavWriter& operator=(const FloatWavWriter&) = delete;

    bool open(const std::string& path, int sampleRate, std::string& error);
    /// Frames are gathered and written some 8192 at a time, so a failed write may show at a
    /// later write or at commit.
    bool write(const float* left, const float* right, std::size_t frames, std::string& error);
    bool commit(std::string& error);
    /// The file being written until commit (a temporary file beside the target, or the
    /// target itself when it is a device or a FIFO).
    const std::string& writePath() const noexcept { return output.writePath(); }

private:
    /// Frames gathered before they are written (64 KB).
    static constexpr std::size_t kGatherFrames = 8192;
    bool flush(std::string& error);

    std::string target;
    platform::FileReplacer output;
    SNDFILE* file = nullptr;
    std::vector<float> interleaved; ///< frames not yet written, left and right in turn
    bool failed = false;            ///< a write failed: the file is incomplete
};

/// Writes a whole 32-bit float stereo WAV file through FloatWavWriter.
bool writeFloatWav(const std::string& path, const std::vector<float>& left, const std::vector<float>& right,
                   int sampleRate, std::string& error);

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
