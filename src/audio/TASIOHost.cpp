#include "audio/TASIOHost.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "diag/DiagLog.h"

namespace trelvo::audio {

namespace {

std::atomic<TASIOHost*> gCurrentHost{nullptr};

using diag::debugLine;

void onBufferSwitch(std::int32_t index, std::int32_t) {
    TASIOHost* host = TASIOHost::current();
    if (host == nullptr) return;
    TASIOTimeSub& time = host->timeSub;
    std::memset(&time.record, 0, sizeof time.record);
    std::int64_t position = 0, systemTime = 0;
    if (AudioDriver* driver = host->openDriver();
        driver != nullptr && driver->getSamplePosition(position, systemTime) == ASE_OK) {
        time.record.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
        time.record.timeInfo.samplePosition = AsioSamples::of(position);
        time.record.timeInfo.systemTime = AsioSamples::of(systemTime);
    }
    host->processBlock(index);
}

AsioTime* onBufferSwitchTimeInfo(AsioTime* params, std::int32_t index, std::int32_t) {
    TASIOHost* host = TASIOHost::current();
    if (host == nullptr) return nullptr;
    if (params != nullptr) std::memcpy(&host->timeSub.record, params, sizeof(AsioTime));
    host->processBlock(index);
    return nullptr;
}

void onSampleRateDidChange(double) {
    if (TASIOHost* host = TASIOHost::current()) host->asioMessage(-1, kNoticeSampleRate);
}

std::int32_t onAsioMessage(std::int32_t selector, std::int32_t value, void*, double*) {
    TASIOHost* host = TASIOHost::current();
    return host != nullptr ? host->asioMessage(selector, value) : 0;
}

} // namespace

TASIOTimeSub::TASIOTimeSub() {
    debugLine("  create ASIOtimeSub begin:");
    record.timeInfo.speed = speed;
    record.timeInfo.sampleRate = sampleRate;
    record.timeInfo.flags = flags;
    debugLine("  create ASIOtimeSub end");
}

TASIOHost::TASIOHost(rack::UiMessageQueue* messageQueue, std::vector<DriverEntry> drivers, bool listNow)
    : messages(messageQueue) {
    debugLine(" create ASIOhost begin:");
    gCurrentHost.store(this, std::memory_order_release);
    driverList = !drivers.empty() || !listNow ? std::move(drivers) : listDrivers();
    if (driverList.empty()) {
        gCurrentHost.store(nullptr, std::memory_order_release);
        diag::hookedLogError("ASIOdriverlist contains no drivers");
        return;
    }
    callbacks.bufferSwitch = &onBufferSwitch;
    callbacks.sampleRateDidChange = &onSampleRateDidChange;
    callbacks.asioMessage = &onAsioMessage;
    callbacks.bufferSwitchTimeInfo = &onBufferSwitchTimeInfo;
    debugLine(" create ASIOhost end");
}

TASIOHost::~TASIOHost() {
    setActive(false);
    close();
    if (OnDestroy) OnDestroy();
    TASIOHost* expected = this;
    gCurrentHost.compare_exchange_strong(expected, nullptr);
}

TASIOHost* TASIOHost::current() noexcept {
    return gCurrentHost.load(std::memory_order_acquire);
}

void TASIOHost::post(int notice) noexcept {
    if (messages != nullptr) messages->post(rack::kMsgAsioNotice, notice, 0);
}

std::int32_t TASIOHost::asioMessage(std::int32_t selector, std::int32_t value) noexcept {
    switch (selector) {
    case -1: // our own: a rate change reported through sampleRateDidChange
        post(value);
        return 1;
    case kAsioSelectorSupported:
        return value == kAsioEngineVersion || value == kAsioResetRequest || value == kAsioResyncRequest ||
                       value == kAsioLatenciesChanged || value == kAsioSupportsTimeInfo ||
                       value == kAsioSupportsTimeCode
                   ? 1
                   : 0;
    case kAsioEngineVersion: return 2;
    case kAsioResetRequest:
    case kAsioBufferSizeChange: post(kNoticeReset); return 1;
    case kAsioLatenciesChanged: post(kNoticeLatencies); return 1;
    case kAsioSupportsTimeInfo: return 1;
    default: return 0;
    }
}

void TASIOHost::handleNotice(int code) {
    switch (code) {
    case kNoticeReset: reset(); break;
    case kNoticeBufferSwitch: onBufferSwitch(0, 1); break;
    case kNoticeBufferSwitchTimeInfo: processBlock(0); break;
    case kNoticeLatencies:
        if (driver) driver->getLatencies(inputLatency, outputLatency);
        if (OnLatencyChanged) OnLatencyChanged();
        break;
    case kNoticeSampleRate:
        if (driver) {
            double rate = 0.0;
            if (driver->getSampleRate(rate) == ASE_OK) sampleRate = rate;
        }
        if (OnSampleRateChanged) OnSampleRateChanged();
        break;
    default: break;
    }
}

void TASIOHost::setDriverIndex(int n) {
    if (driverList.empty()) return;
    if (n > static_cast<int>(driverList.size()) - 1) n = static_cast<int>(driverList.size()) - 1;
    if (n < 0) n = -1;
    if (n == currentIndex) return;
    if (n >= 0) {
        close();
        currentIndex = n;
        driverName = driverList[static_cast<std::size_t>(n)].name;
        open();
        if (driver) {
            driver->getDriverName();
            driverVersion = driver->getDriverVersion();
        }
    } else {
        driverName.clear();
        inputLatency = outputLatency = -1;
        inputChannels = outputChannels = 0;
        bufferSize = 0;
        currentIndex = -1;
        close();
    }
    if (OnDriverChanged) OnDriverChanged();
}

void TASIOHost::open(bool quiet) {
    close();
    if (currentIndex < 0) return;
    std::unique_ptr<AudioDriver> created = driverList[static_cast<std::size_t>(currentIndex)].create();
    if (!created || !created->init(nullptr)) {
        if (quiet) return;
        if (messageBox)
            messageBox("ASIO Driver Failed!", "");
        else
            diag::hookedLogError("ASIO Driver Failed!");
        return;
    }
    driver = std::move(created);
    createBuffers();
}

void TASIOHost::close() {
    if (!driver) return;
    if (active.load()) setActive(false);
    disposeBuffers();
    closedDriversXruns = xruns();
    driver.reset();
    inputLatency = outputLatency = -1;
    inputChannels = outputChannels = 0;
    sampleRate = 0.0;
}

XrunCount TASIOHost::xruns() const noexcept {
    XrunCount total = closedDriversXruns;
    if (driver) {
        const XrunCount open = driver->xruns();
        total.count += open.count;
        total.lastUnixMs = std::max(total.lastUnixMs, open.lastUnixMs);
    }
    return total;
}

bool TASIOHost::createBuffers() {
    if (!driver) return false;
    if (buffersExist) disposeBuffers();
    if (driver->getBufferSize(minimumSize, maximumSize, preferredSize, granularity) == ASE_NotPresent) return false;
    bufferSize = minimumSize == maximumSize ? minimumSize : preferredSize;
    double rate = 0.0;
    if (driver->getSampleRate(rate) == ASE_NotPresent) return false;
    setSampleRate(rate);
    if (driver->getChannels(inputChannels, outputChannels) == ASE_NotPresent) return false;

    bufferInfos.clear();
    inputInfos.assign(static_cast<std::size_t>(inputChannels), AsioChannelInfo{});
    outputInfos.assign(static_cast<std::size_t>(outputChannels), AsioChannelInfo{});
    inputArrays.clear();
    outputArrays.clear();
    inputConverters.clear();
    outputConverters.clear();
    inputDirect.clear();
    outputDirect.clear();
    activeInputs = activeOutputs = 0;
    const ChannelSelection& selection = channelSelection();
    for (int isInput = 1; isInput >= 0; --isInput) {
        const int count = isInput ? inputChannels : outputChannels;
        auto& infos = isInput ? inputInfos : outputInfos;
        for (int c = 0; c < count; ++c) {
            AsioChannelInfo& info = infos[static_cast<std::size_t>(c)];
            info.channel = c;
            info.isInput = isInput;
            driver->getChannelInfo(info);
            const bool takesPart =
                c >= 32 || (isInput ? selection.inputs : selection.outputs)[static_cast<std::size_t>(c)] >= 0;
            if (!takesPart) continue;
            if (isInput) {
                inputConverters.push_back(inputConverterFor(info.type));
                inputDirect.push_back(isHostFloat(info.type) ? 1 : 0);
                inputArrays.emplace_back(static_cast<std::size_t>(bufferSize), 0.0f);
                ++activeInputs;
            } else {
                outputConverters.push_back(outputConverterFor(info.type));
                outputDirect.push_back(isHostFloat(info.type) ? 1 : 0);
                outputArrays.emplace_back(static_cast<std::size_t>(bufferSize), 0.0f);
                ++activeOutputs;
            }
            bufferInfos.push_back(AsioBufferInfo{isInput, c, {nullptr, nullptr}});
        }
    }
    inputPointers.clear();
    outputPointers.clear();
    for (auto& array : inputArrays) inputPointers.push_back(array.data());
    for (auto& array : outputArrays) outputPointers.push_back(array.data());
    buffersExist = driver->createBuffers(bufferInfos.data(), static_cast<std::int32_t>(bufferInfos.size()), bufferSize,
                                         &callbacks) == ASE_OK;
    driver->getLatencies(inputLatency, outputLatency);
    if (OnBuffersCreated) OnBuffersCreated();
    return buffersExist;
}

void TASIOHost::disposeBuffers() {
    if (!driver || !buffersExist) return;
    driver->disposeBuffers();
    buffersExist = false;
    bufferInfos.clear();
    inputArrays.clear();
    outputArrays.clear();
    inputPointers.clear();
    outputPointers.clear();
    inputConverters.clear();
    outputConverters.clear();
    inputDirect.clear();
    outputDirect.clear();
}

bool TASIOHost::setActive(bool on) {
    if (!driver || on == active.load()) return on == active.load();
    if (on) {
        const bool started = driver->start() == ASE_OK;
        active = started;
        return started;
    }
    active = false;
    driver->stop();
    if (buffersExist) {
        // Nothing stale may be played when the driver starts again.
        for (const AsioBufferInfo& info : bufferInfos) {
            if (info.isInput) continue;
            const auto bytes =
                static_cast<std::size_t>(bufferSize) *
                static_cast<std::size_t>(bytesPerSample(outputInfos[static_cast<std::size_t>(info.channelNum)].type));
            for (void* half : info.buffers)
                if (half != nullptr) std::memset(half, 0, bytes);
        }
    }
    return true;
}

void TASIOHost::setSampleRate(double rate) {
    sampleRate = rate;
    timeSub.sampleRate = rate;
    if (driver) driver->setSampleRate(rate);
}

AsioError TASIOHost::controlPanel() {
    return driver ? driver->controlPanel() : ASE_NotPresent;
}

void TASIOHost::reset() {
    const int index = currentIndex;
    if (index >= 0) {
        open();
        if (driver) driverVersion = driver->getDriverVersion();
    }
    if (OnReset) OnReset();
}

bool TASIOHost::retryOpen() {
    if (currentIndex < 0) return false;
    open(true);
    if (!driver) return false;
    driverVersion = driver->getDriverVersion();
    if (OnReset) OnReset();
    return true;
}

void TASIOHost::processBlock(int index) noexcept {
    if (index < 0 || index > 1 || !buffersExist) return;
    if (OnUpdateSamplePos) OnUpdateSamplePos(timeSub.record.timeInfo.samplePosition.value());
    // Where the samples are the host's floats the engine works in the driver's memory (its
    // half, or what the driver lends for this block); other types go through the arrays.
    const auto memoryOf = [&](std::size_t position) -> void* {
        void* lent = driver ? driver->blockBuffer(static_cast<int>(position)) : nullptr;
        return lent != nullptr ? lent : bufferInfos[position].buffers[index];
    };
    const auto floatsAt = [](void* memory) {
        return memory != nullptr && reinterpret_cast<std::uintptr_t>(memory) % alignof(float) == 0;
    };
    std::size_t input = 0, output = 0;
    for (std::size_t p = 0; p < bufferInfos.size(); ++p) {
        void* memory = memoryOf(p);
        if (bufferInfos[p].isInput) {
            const std::size_t k = input++;
            if (inputDirect[k] != 0 && floatsAt(memory)) {
                inputPointers[k] = static_cast<float*>(memory);
                continue;
            }
            // A missing half leaves the channel's array as it was (for a channel the engine
            // otherwise reads in the driver's memory, silence: its array is never written).
            inputPointers[k] = inputArrays[k].data();
            if (memory != nullptr && inputConverters[k] != nullptr)
                inputConverters[k](memory, inputArrays[k].data(), bufferSize);
        } else {
            const std::size_t k = output++;
            outputPointers[k] =
                outputDirect[k] != 0 && floatsAt(memory) ? static_cast<float*>(memory) : outputArrays[k].data();
        }
    }
    if (OnBufferSwitch) {
        OnBufferSwitch(inputPointers.data(), activeInputs, outputPointers.data(), activeOutputs, bufferSize);
    } else {
        for (float* target : outputPointers)
            std::memset(target, 0, sizeof(float) * static_cast<std::size_t>(bufferSize));
    }
    output = 0;
    for (std::size_t p = 0; p < bufferInfos.size(); ++p) {
        if (bufferInfos[p].isInput) continue;
        const std::size_t k = output++;
        if (outputPointers[k] != outputArrays[k].data()) continue; // the engine wrote in place
        void* memory = memoryOf(p);
        if (memory != nullptr && outputConverters[k] != nullptr)
            outputConverters[k](outputArrays[k].data(), memory, bufferSize);
    }
    if (driver) driver->outputReady();
}

} // namespace trelvo::audio
