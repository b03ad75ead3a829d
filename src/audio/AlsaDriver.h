#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "audio/BufferedDriver.h"

namespace trelvo::audio {

/// "ALSA: ...": one PCM device (playback, and capture when the device has it) run by a
/// real-time thread of our own. The device's native sample format travels through the
/// host's converters. Xruns are counted, logged and recovered.
class AlsaDriver final : public BufferedDriver {
public:
    /// device is an ALSA PCM name ("default", "hw:1,0", "null", "file:'/tmp/x.raw',raw").
    AlsaDriver(const std::string& listName, const std::string& device);
    ~AlsaDriver() override;

    /// The playback-capable PCMs: "default" when it opens, then one per hardware device,
    /// as pairs of list name and PCM name. Thread: user interface.
    static std::vector<std::pair<std::string, std::string>> listDevices();

    bool init(void* systemHandle) override;
    AsioError start() override;
    AsioError stop() override;
    AsioError setSampleRate(double rate) override;
    AsioError controlPanel() override;

    /// Xruns of either stream since this driver object was created. Thread: any.
    XrunCount xruns() const noexcept override { return xrunCounter.read(); }

private:
    bool openStream(snd_pcm_t*& pcm, snd_pcm_stream_t stream, int channels, bool required);
    void run();
    void recover(snd_pcm_t* pcm, int error) noexcept;

    std::string device;
    snd_pcm_t* playback = nullptr;
    snd_pcm_t* capture = nullptr;
    snd_pcm_format_t format = SND_PCM_FORMAT_FLOAT_LE;
    int deviceChannelsOut = 2;
    int deviceChannelsIn = 2;
    std::vector<unsigned char> interleaved;
    std::atomic<bool> running{false};
    XrunCounter xrunCounter;
    std::thread thread;
};

} // namespace trelvo::audio
