#include "audio/AlsaDriver.h"

#include <time.h>

#include <algorithm>
#include <cstring>

#include "audio/DriverSettings.h"
#include "audio/DriverThread.h"
#include "diag/DiagLog.h"
#include "diag/LineText.h"

namespace trelvo::audio {

namespace {

struct FormatChoice {
    snd_pcm_format_t alsa;
    SampleType type;
};
// Preferred first: the widest exact format the device takes.
constexpr FormatChoice kFormats[] = {
    {SND_PCM_FORMAT_FLOAT_LE, SampleType::Float32LSB}, {SND_PCM_FORMAT_S32_LE, SampleType::Int32LSB},
    {SND_PCM_FORMAT_S24_3LE, SampleType::Int24LSB},    {SND_PCM_FORMAT_S24_LE, SampleType::Int32LSB24},
    {SND_PCM_FORMAT_S16_LE, SampleType::Int16LSB},     {SND_PCM_FORMAT_FLOAT64_LE, SampleType::Float64LSB},
};

snd_pcm_format_t alsaFormatOf(SampleType type) {
    for (const FormatChoice& choice : kFormats)
        if (choice.type == type) return choice.alsa;
    return SND_PCM_FORMAT_UNKNOWN;
}

// Silences ALSA's own messages on the terminal while devices are probed.
void quietAlsaError(const char*, int, const char*, int, const char*, ...) {}

} // namespace

AlsaDriver::AlsaDriver(const std::string& listName, const std::string& pcmName)
    : BufferedDriver(listName, SampleType::Float32LSB, 0, 2, settingsFor(listName).bufferSize,
                     settingsFor(listName).sampleRate),
      device(pcmName) {}

AlsaDriver::~AlsaDriver() {
    stop();
    if (playback != nullptr) snd_pcm_close(playback);
    if (capture != nullptr) snd_pcm_close(capture);
}

std::vector<std::pair<std::string, std::string>> AlsaDriver::listDevices() {
    snd_lib_error_set_handler(&quietAlsaError);
    std::vector<std::pair<std::string, std::string>> devices;
    snd_pcm_t* probe = nullptr;
    if (snd_pcm_open(&probe, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) == 0) {
        snd_pcm_close(probe);
        devices.emplace_back("ALSA: default", "default");
    }
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* control = nullptr;
        const std::string controlName = "hw:" + std::to_string(card);
        if (snd_ctl_open(&control, controlName.c_str(), 0) != 0) continue;
        snd_ctl_card_info_t* cardInfo = nullptr;
        snd_ctl_card_info_alloca(&cardInfo);
        std::string cardName = controlName;
        if (snd_ctl_card_info(control, cardInfo) == 0) cardName = snd_ctl_card_info_get_name(cardInfo);
        int pcmDevice = -1;
        while (snd_ctl_pcm_next_device(control, &pcmDevice) == 0 && pcmDevice >= 0) {
            snd_pcm_info_t* pcmInfo = nullptr;
            snd_pcm_info_alloca(&pcmInfo);
            snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(pcmDevice));
            snd_pcm_info_set_subdevice(pcmInfo, 0);
            snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_PLAYBACK);
            if (snd_ctl_pcm_info(control, pcmInfo) != 0) continue;
            const std::string pcmName = "hw:" + std::to_string(card) + "," + std::to_string(pcmDevice);
            devices.emplace_back("ALSA: " + cardName + " (" + pcmName + ")", pcmName);
        }
        snd_ctl_close(control);
    }
    return devices;
}

bool AlsaDriver::openStream(snd_pcm_t*& pcm, snd_pcm_stream_t stream, int channelCount, bool required) {
    if (snd_pcm_open(&pcm, device.c_str(), stream, 0) != 0) {
        pcm = nullptr;
        return false;
    }
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_hw_params_any(pcm, hw);
    bool ok = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) == 0;
    ok = ok && snd_pcm_hw_params_set_format(pcm, hw, format) == 0;
    ok = ok && snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(channelCount)) == 0;
    unsigned int sampleRate = static_cast<unsigned int>(rate.load());
    ok = ok && snd_pcm_hw_params_set_rate_near(pcm, hw, &sampleRate, nullptr) == 0;
    snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(framesPerBlock.load());
    ok = ok && snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr) == 0;
    snd_pcm_uframes_t bufferFrames = period * 2;
    ok = ok && snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &bufferFrames) == 0;
    ok = ok && snd_pcm_hw_params(pcm, hw) == 0;
    if (!ok) {
        if (required) diag::hookedLogError("ALSA: " + device + " refuses the stream settings");
        snd_pcm_close(pcm);
        pcm = nullptr;
        return false;
    }
    if (stream == SND_PCM_STREAM_PLAYBACK) {
        framesPerBlock = static_cast<int>(period);
        rate = static_cast<double>(sampleRate);
    }
    return true;
}

bool AlsaDriver::init(void*) {
    snd_lib_error_set_handler(&quietAlsaError);
    const DriverSettings settings = settingsFor(driverName);
    // Pick the first format of ours the device takes natively, unless one is chosen.
    snd_pcm_t* probe = nullptr;
    if (snd_pcm_open(&probe, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0) != 0) return false;
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_hw_params_any(probe, hw);
    format = SND_PCM_FORMAT_UNKNOWN;
    if (settings.formatForced) {
        format = alsaFormatOf(settings.format);
        sampleType = settings.format;
    } else {
        for (const FormatChoice& choice : kFormats)
            if (snd_pcm_hw_params_test_format(probe, hw, choice.alsa) == 0) {
                format = choice.alsa;
                sampleType = choice.type;
                break;
            }
    }
    snd_pcm_close(probe);
    if (format == SND_PCM_FORMAT_UNKNOWN) return false;

    if (!openStream(playback, SND_PCM_STREAM_PLAYBACK, deviceChannelsOut, true)) return false;
    outputs = deviceChannelsOut;
    // Capture is optional: a device without it gives the driver no inputs.
    inputs = openStream(capture, SND_PCM_STREAM_CAPTURE, deviceChannelsIn, false) ? deviceChannelsIn : 0;
    const int frameBytes = bytesPerSample(sampleType) * std::max(deviceChannelsOut, deviceChannelsIn);
    interleaved.assign(static_cast<std::size_t>(framesPerBlock.load()) * static_cast<std::size_t>(frameBytes), 0);
    outputLatency = framesPerBlock.load() * 2;
    inputLatency = inputs > 0 ? framesPerBlock.load() : 0;
    return true;
}

AsioError AlsaDriver::setSampleRate(double sampleRate) {
    return sampleRate == rate.load() ? ASE_OK : ASE_InvalidMode;
}

AsioError AlsaDriver::controlPanel() {
    return storePanelChoices();
}

AsioError AlsaDriver::start() {
    if (playback == nullptr) return ASE_NotPresent;
    if (running.exchange(true)) return ASE_OK;
    snd_pcm_prepare(playback);
    if (capture != nullptr) {
        snd_pcm_prepare(capture);
        snd_pcm_start(capture);
    }
    thread = std::thread([this] { run(); });
    return ASE_OK;
}

AsioError AlsaDriver::stop() {
    if (!running.exchange(false)) return ASE_OK;
    if (thread.joinable()) thread.join();
    if (playback != nullptr) snd_pcm_drop(playback);
    if (capture != nullptr) snd_pcm_drop(capture);
    return ASE_OK;
}

void AlsaDriver::recover(snd_pcm_t* pcm, int error) noexcept {
    xrunCounter.note();
    diag::LineText line;
    line << "ALSA: " << device << ": xrun (" << snd_strerror(error) << "), recovered";
    diag::hookedLogError(line.view());
    snd_pcm_recover(pcm, error, 1);
}

void AlsaDriver::run() {
    enterAudioThread(AudioThreadScheduling::Raise);
    const int frames = framesPerBlock.load();
    const int sampleBytes = bytesPerSample(sampleType);
    const long periodNs = static_cast<long>(frames * 1e9 / rate.load());
    // Devices without a clock of their own (null, file) take data at once: those are paced
    // here; every other device paces us by blocking in snd_pcm_writei.
    const snd_pcm_type_t type = snd_pcm_type(playback);
    const bool paceHere = type == SND_PCM_TYPE_NULL || type == SND_PCM_TYPE_FILE;
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    int half = 0;
    while (running.load(std::memory_order_acquire)) {
        if (capture != nullptr) {
            const snd_pcm_sframes_t got =
                snd_pcm_readi(capture, interleaved.data(), static_cast<snd_pcm_uframes_t>(frames));
            if (got < 0) recover(capture, static_cast<int>(got));
            for (const Channel& channel : channels) {
                if (!channel.isInput) continue;
                unsigned char* target = halfOf(channel, half);
                for (int i = 0; i < frames; ++i)
                    std::memcpy(target + i * sampleBytes,
                                interleaved.data() + (i * deviceChannelsIn + channel.number) * sampleBytes,
                                static_cast<std::size_t>(sampleBytes));
            }
        }
        runBlock(half);
        std::memset(interleaved.data(), 0, interleaved.size());
        for (const Channel& channel : channels) {
            if (channel.isInput) continue;
            const unsigned char* source = halfOf(channel, half);
            for (int i = 0; i < frames; ++i)
                std::memcpy(interleaved.data() + (i * deviceChannelsOut + channel.number) * sampleBytes,
                            source + i * sampleBytes, static_cast<std::size_t>(sampleBytes));
        }
        const snd_pcm_sframes_t written =
            snd_pcm_writei(playback, interleaved.data(), static_cast<snd_pcm_uframes_t>(frames));
        if (written < 0) recover(playback, static_cast<int>(written));
        half ^= 1;
        if (!paceHere) continue;
        due.tv_nsec += periodNs;
        while (due.tv_nsec >= 1'000'000'000) {
            due.tv_nsec -= 1'000'000'000;
            ++due.tv_sec;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec < due.tv_sec || (now.tv_sec == due.tv_sec && now.tv_nsec < due.tv_nsec))
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        else if (now.tv_sec > due.tv_sec + 1)
            due = now; // fell far behind (a stall): start pacing afresh
    }
}

} // namespace trelvo::audio
