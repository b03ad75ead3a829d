#include "audio/DummyDriver.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/DriverSettings.h"
#include "audio/DriverThread.h"

namespace trelvo::audio {

DummyDriver::DummyDriver(const std::string& name)
    : BufferedDriver(name, SampleType::Float32LSB, 2, 2, settingsFor(name).bufferSize, settingsFor(name).sampleRate) {}

DummyDriver::~DummyDriver() {
    stop();
}

AsioError DummyDriver::start() {
    if (running.exchange(true)) return ASE_OK;
    thread = std::thread([this] { run(); });
    return ASE_OK;
}

AsioError DummyDriver::stop() {
    running = false;
    if (thread.joinable()) thread.join();
    return ASE_OK;
}

AsioError DummyDriver::controlPanel() {
    return storePanelChoices();
}

void DummyDriver::run() {
    enterAudioThread(AudioThreadScheduling::Raise);
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    int half = 0;
    while (running.load(std::memory_order_acquire)) {
        const int frames = framesPerBlock.load(std::memory_order_relaxed);
        const auto periodNs = static_cast<long>(std::llround(frames * 1e9 / rate.load(std::memory_order_relaxed)));
        due.tv_nsec += periodNs;
        while (due.tv_nsec >= 1'000'000'000) {
            due.tv_nsec -= 1'000'000'000;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        runBlock(half);
        float peak = outputPeak.load(std::memory_order_relaxed);
        for (const Channel& channel : channels) {
            if (channel.isInput) continue;
            const auto* samples = reinterpret_cast<const float*>(halfOf(channel, half));
            for (int i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(samples[i]));
        }
        outputPeak.store(peak, std::memory_order_relaxed);
        half ^= 1;
    }
}

} // namespace trelvo::audio
