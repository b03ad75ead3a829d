#include "media/AudioFile.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace trelvo::media {

FloatWavWriter::~FloatWavWriter() {
    if (file != nullptr) sf_close(file);
    // The replacer removes its temporary file when it goes.
}

bool FloatWavWriter::open(const std::string& path, int sampleRate, std::string& error) {
    target = path;
    if (!output.begin(path, error)) return false;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file = sf_open_fd(output.fd(), SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        output.abandon();
        return false;
    }
    // The peak chunk carries a time stamp; without it equal audio gives equal files.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    interleaved.clear();
    interleaved.reserve(2 * kGatherFrames + 2 * 4096);
    failed = false;
    return true;
}

bool FloatWavWriter::write(const float* left, const float* right, std::size_t frames, std::string& error) {
    if (file == nullptr || failed) return error = "cannot write " + target, false;
    // Gathered into larger writes: a render hands over one block at a time, and a system
    // call per block would cost more than a light rack's whole block.
    const std::size_t start = interleaved.size();
    interleaved.resize(start + 2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        interleaved[start + 2 * i] = left[i];
        interleaved[start + 2 * i + 1] = right[i];
    }
    return interleaved.size() / 2 < kGatherFrames || flush(error);
}

bool FloatWavWriter::flush(std::string& error) {
    const auto frames = static_cast<sf_count_t>(interleaved.size() / 2);
    const bool written = frames == 0 || sf_writef_float(file, interleaved.data(), frames) == frames;
    interleaved.clear();
    if (!written) {
        // Frames are gone: the file can never be whole, whatever comes after.
        failed = true;
        error = "cannot write " + target;
    }
    return written;
}

bool FloatWavWriter::commit(std::string& error) {
    if (file == nullptr) return error = "cannot write " + target, false;
    const bool flushed = !failed && flush(error);
    const bool closed = sf_close(file) == 0;
    file = nullptr;
    if (!flushed || !closed) {
        output.abandon();
        error = "cannot write " + target;
        return false;
    }
    return output.commit(error);
}

bool writeFloatWav(const std::string& path, const std::vector<float>& left, const std::vector<float>& right,
                   int sampleRate, std::string& error) {
    FloatWavWriter writer;
    return writer.open(path, sampleRate, error) &&
           writer.write(left.data(), right.data(), std::min(left.size(), right.size()), error) && writer.commit(error);
}

bool readAudioFile(const std::string& path, AudioFileData& data, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    data = {};
    data.sampleRate = info.samplerate;
    data.channels = info.channels;
    if (info.channels < 1 || info.frames < 0) {
        sf_close(file);
        error = "cannot read " + path + ": no audio";
        return false;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> block(4096 * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), 4096);
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            const float* frame = block.data() + static_cast<std::size_t>(f) * channels;
            data.left.push_back(frame[0]);
            data.right.push_back(channels > 1 ? frame[1] : frame[0]);
        }
    }
    const int status = sf_error(file);
    sf_close(file);
    if (status != SF_ERR_NO_ERROR) {
        error = "cannot read " + path + ": " + sf_error_number(status);
        return false;
    }
    return true;
}

} // namespace trelvo::media
