#include "audio/JackDriver.h"

#include <cstring>

#include "audio/DriverThread.h"
#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "midi/JackMidiBridge.h"
#include "platform/Clock.h"

namespace trelvo::audio {

namespace {
// Blocks JACK from printing its own errors on the terminal while probing.
void quietJackError(const char*) {}
} // namespace

JackDriver::JackDriver(const std::string& name, int numInputs, int numOutputs, std::shared_ptr<JackConnections> shared)
    : BufferedDriver("JACK", SampleType::Float32LSB, numInputs, numOutputs, 256, 48000.0), clientName(name),
      memory(shared != nullptr ? std::move(shared) : std::make_shared<JackConnections>()) {}

JackDriver::~JackDriver() {
    stop();
    if (midiIn != nullptr || midiOut != nullptr || surfaceIn != nullptr || surfaceOut != nullptr)
        midi::JackMidiBridge::instance().detach();
    if (jackClient != nullptr) jack_client_close(jackClient);
}

bool JackDriver::serverRunning() {
    jack_set_error_function(&quietJackError);
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("trelvo-probe", JackNoStartServer, &status);
    if (probe == nullptr) return false;
    jack_client_close(probe);
    return true;
}

bool JackDriver::init(void*) {
    jack_set_error_function(&quietJackError);
    jack_status_t status{};
    jackClient = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (jackClient == nullptr) return false;
    for (int i = 0; i < inputs; ++i)
        inputPorts.push_back(jack_port_register(jackClient, ("in_" + std::to_string(i + 1)).c_str(),
                                                JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    for (int i = 0; i < outputs; ++i)
        outputPorts.push_back(jack_port_register(jackClient, ("out_" + std::to_string(i + 1)).c_str(),
                                                 JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    // Trelvo's own JACK MIDI ports: the MIDI layer offers them as devices while we run.
    // A control surface gets a pair of its own, so that its protocol never reaches the
    // instruments and the user connects it apart from the keyboards.
    using Bridge = midi::JackMidiBridge;
    const auto registerMidi = [this](const char* name, unsigned long flags) {
        return jack_port_register(jackClient, name, JACK_DEFAULT_MIDI_TYPE, flags, 0);
    };
    midiIn = registerMidi(Bridge::inputName(Bridge::kInstruments), JackPortIsInput);
    midiOut = registerMidi(Bridge::outputName(Bridge::kInstruments), JackPortIsOutput);
    surfaceIn = registerMidi(Bridge::inputName(Bridge::kSurface), JackPortIsInput);
    surfaceOut = registerMidi(Bridge::outputName(Bridge::kSurface), JackPortIsOutput);
    Bridge::instance().attach(Bridge::kInstruments, midiIn, midiOut);
    Bridge::instance().attach(Bridge::kSurface, surfaceIn, surfaceOut);
    for (jack_port_t* port : inputPorts)
        if (port == nullptr) return false;
    for (jack_port_t* port : outputPorts)
        if (port == nullptr) return false;
    framesPerBlock = static_cast<int>(jack_get_buffer_size(jackClient));
    rate = static_cast<double>(jack_get_sample_rate(jackClient));
    jack_set_process_callback(jackClient, &onProcess, this);
    jack_set_buffer_size_callback(jackClient, &onBufferSize, this);
    jack_set_sample_rate_callback(jackClient, &onSampleRate, this);
    jack_set_latency_callback(jackClient, &onLatency, this);
    jack_set_port_connect_callback(jackClient, &onPortConnect, this);
    jack_set_xrun_callback(jackClient, &onXrun, this);
    jack_on_shutdown(jackClient, &onShutdown, this);
    return true;
}

std::vector<jack_port_t*> JackDriver::allPorts() const {
    std::vector<jack_port_t*> ports(inputPorts);
    ports.insert(ports.end(), outputPorts.begin(), outputPorts.end());
    for (jack_port_t* port : {midiIn, midiOut, surfaceIn, surfaceOut})
        if (port != nullptr) ports.push_back(port);
    return ports;
}

std::string JackDriver::portName(bool isInput, int index) const {
    const auto& ports = isInput ? inputPorts : outputPorts;
    if (index < 0 || index >= static_cast<int>(ports.size()) || ports[static_cast<std::size_t>(index)] == nullptr)
        return {};
    return jack_port_name(ports[static_cast<std::size_t>(index)]);
}

AsioError JackDriver::start() {
    if (jackClient == nullptr) return ASE_NotPresent;
    if (active.load()) return ASE_OK;
    if (jack_activate(jackClient) != 0) return ASE_HWMalfunction;
    active = true;
    if (memory->known())
        memory->restore(jackClient, allPorts());
    else
        connectDefaultPorts();
    return ASE_OK;
}

AsioError JackDriver::stop() {
    if (jackClient == nullptr || !active.exchange(false)) return ASE_OK;
    // Deactivating takes every connection away: what they are now is what comes back.
    if (!serverGone.load()) memory->remember(JackConnections::read(jackClient, allPorts()));
    hasChanged = false;
    jack_deactivate(jackClient);
    return ASE_OK;
}

void JackDriver::idle() {
    // The xruns are logged here: JACK's notification thread may not take the log's lock.
    const std::uint64_t numXruns = xrunCounter.read().count;
    if (numXruns != loggedXruns) {
        diag::LineText line;
        line << "JACK: " << numXruns - loggedXruns << " xrun(s), " << numXruns << " since the driver opened";
        diag::hookedLogError(line.view());
        loggedXruns = numXruns;
    }
    if (jackClient == nullptr || !active.load() || serverGone.load()) {
        hasChanged = false;
        return;
    }
    const std::uint32_t now = platform::tickCountMs();
    if (connectionsChanged.exchange(false)) {
        changedConnections = JackConnections::read(jackClient, allPorts());
        changedAtMs = now;
        hasChanged = true;
    } else if (hasChanged && now - changedAtMs >= kConnectionsSettleMs) {
        memory->remember(std::move(changedConnections));
        changedConnections.clear();
        hasChanged = false;
    }
}

AsioError JackDriver::setSampleRate(double sampleRate) {
    // The server owns the rate; only its own rate is accepted.
    return jackClient != nullptr && sampleRate == static_cast<double>(jack_get_sample_rate(jackClient))
               ? ASE_OK
               : ASE_InvalidMode;
}

AsioError JackDriver::getLatencies(std::int32_t& inputLatency, std::int32_t& outputLatency) {
    inputLatency = outputLatency = 0;
    if (jackClient == nullptr) return ASE_NotPresent;
    jack_latency_range_t range{};
    if (!inputPorts.empty()) {
        jack_port_get_latency_range(inputPorts[0], JackCaptureLatency, &range);
        inputLatency = static_cast<std::int32_t>(range.max);
    }
    if (!outputPorts.empty()) {
        jack_port_get_latency_range(outputPorts[0], JackPlaybackLatency, &range);
        outputLatency = static_cast<std::int32_t>(range.max);
    }
    return ASE_OK;
}

AsioError JackDriver::controlPanel() {
    if (jackClient == nullptr) return ASE_NotPresent;
    if (panelBufferSize > 0 && jack_set_buffer_size(jackClient, static_cast<jack_nframes_t>(panelBufferSize)) != 0)
        return ASE_InvalidParameter;
    return ASE_OK;
}

void JackDriver::connectDefaultPorts() {
    // Remembered as made: the graph the client reads may not show them before the next cycle.
    std::vector<JackConnections::Connection> made;
    const char** playback =
        jack_get_ports(jackClient, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    for (std::size_t i = 0; playback != nullptr && playback[i] != nullptr && i < outputPorts.size(); ++i)
        if (jack_connect(jackClient, jack_port_name(outputPorts[i]), playback[i]) == 0)
            made.push_back({jack_port_short_name(outputPorts[i]), playback[i]});
    if (playback != nullptr) jack_free(playback);
    const char** capture =
        jack_get_ports(jackClient, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    for (std::size_t i = 0; capture != nullptr && capture[i] != nullptr && i < inputPorts.size(); ++i)
        if (jack_connect(jackClient, capture[i], jack_port_name(inputPorts[i])) == 0)
            made.push_back({jack_port_short_name(inputPorts[i]), capture[i]});
    if (capture != nullptr) jack_free(capture);
    memory->remember(std::move(made));
}

void JackDriver::notify(std::int32_t selector) noexcept {
    AsioCallbacks* current = callbacks.load(std::memory_order_acquire);
    if (current != nullptr && current->asioMessage != nullptr) current->asioMessage(selector, 0, nullptr, nullptr);
}

int JackDriver::onProcess(jack_nframes_t frames, void* context) {
    auto* self = static_cast<JackDriver*>(context);
    const std::int64_t began = platform::perfCounter();
    const int result = self->process(frames);
    self->cycles.record(platform::perfCounter() - began);
    return result;
}

int JackDriver::process(jack_nframes_t frames) noexcept {
    JackDriver* self = this;
    if (!self->threadPrepared.exchange(true)) enterAudioThread(AudioThreadScheduling::Keep);
    const auto count = static_cast<int>(frames);
    const std::size_t bytes = sizeof(float) * frames;
    midi::JackMidiBridge& bridge = midi::JackMidiBridge::instance();
    if (count != self->framesPerBlock.load(std::memory_order_relaxed) || self->callbacks.load() == nullptr) {
        // Between a buffer-size change and the host's reset: play silence.
        for (jack_port_t* port : self->outputPorts) std::memset(jack_port_get_buffer(port, frames), 0, bytes);
        bridge.cycleOutput(frames);
        return 0;
    }
    // MIDI that arrived in this cycle is read before the block, so it plays in this block.
    bridge.cycleInput(frames);
    // The host reads and writes the port buffers themselves (blockBuffer).
    for (std::size_t i = 0; i < self->lentCount; ++i) {
        const Channel& channel = self->channels[i];
        jack_port_t* port =
            (channel.isInput ? self->inputPorts : self->outputPorts)[static_cast<std::size_t>(channel.number)];
        self->lent[i].store(jack_port_get_buffer(port, frames), std::memory_order_relaxed);
        self->lentTaken[i].store(false, std::memory_order_relaxed);
    }
    const int half = self->half;
    self->runBlock(half);
    for (std::size_t i = 0; i < self->lentCount; ++i) {
        void* buffer = self->lent[i].exchange(nullptr, std::memory_order_relaxed);
        // An output the host did not take this cycle (no host, or one that stopped) must not
        // play what the port held the cycle before.
        if (!self->channels[i].isInput && !self->lentTaken[i].load(std::memory_order_relaxed))
            std::memset(buffer, 0, bytes);
    }
    for (std::size_t k = 0; k < self->outputPorts.size(); ++k)
        if (k >= self->outputListed.size() || self->outputListed[k] == 0)
            std::memset(jack_port_get_buffer(self->outputPorts[k], frames), 0, bytes);
    bridge.cycleOutput(frames);
    self->half = half ^ 1;
    return 0;
}

AsioError JackDriver::createBuffers(AsioBufferInfo* infos, std::int32_t numChannels, std::int32_t bufferSize,
                                    AsioCallbacks* newCallbacks) {
    // Ready before the base class hands the callbacks to the process thread.
    lentCount = 0;
    outputListed.assign(outputPorts.size(), 0);
    if (numChannels > 0 && infos != nullptr) {
        lent = std::make_unique<std::atomic<void*>[]>(static_cast<std::size_t>(numChannels));
        lentTaken = std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(numChannels));
        for (std::int32_t i = 0; i < numChannels; ++i)
            if (infos[i].isInput == 0 && infos[i].channelNum >= 0 &&
                static_cast<std::size_t>(infos[i].channelNum) < outputListed.size())
                outputListed[static_cast<std::size_t>(infos[i].channelNum)] = 1;
        lentCount = static_cast<std::size_t>(numChannels);
    }
    const AsioError result = BufferedDriver::createBuffers(infos, numChannels, bufferSize, newCallbacks);
    if (result != ASE_OK) {
        lentCount = 0;
        outputListed.assign(outputPorts.size(), 0);
    }
    return result;
}

AsioError JackDriver::disposeBuffers() {
    const AsioError result = BufferedDriver::disposeBuffers();
    lentCount = 0;
    outputListed.clear();
    return result;
}

void* JackDriver::blockBuffer(int index) noexcept {
    if (index < 0 || static_cast<std::size_t>(index) >= lentCount) return nullptr;
    void* buffer = lent[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
    if (buffer != nullptr) lentTaken[static_cast<std::size_t>(index)].store(true, std::memory_order_relaxed);
    return buffer;
}

int JackDriver::onBufferSize(jack_nframes_t frames, void* context) {
    auto* self = static_cast<JackDriver*>(context);
    if (static_cast<int>(frames) != self->framesPerBlock.load()) self->notify(kAsioBufferSizeChange);
    return 0;
}

int JackDriver::onSampleRate(jack_nframes_t sampleRate, void* context) {
    auto* self = static_cast<JackDriver*>(context);
    if (static_cast<double>(sampleRate) == self->rate.load()) return 0;
    self->rate = static_cast<double>(sampleRate);
    AsioCallbacks* current = self->callbacks.load(std::memory_order_acquire);
    if (current != nullptr && current->sampleRateDidChange != nullptr)
        current->sampleRateDidChange(static_cast<double>(sampleRate));
    return 0;
}

void JackDriver::onLatency(jack_latency_callback_mode_t, void* context) {
    static_cast<JackDriver*>(context)->notify(kAsioLatenciesChanged);
}

void JackDriver::onShutdown(void* context) {
    auto* self = static_cast<JackDriver*>(context);
    self->serverGone = true;
    self->active = false;
    self->notify(kAsioResetRequest);
}

int JackDriver::onXrun(void* context) noexcept {
    static_cast<JackDriver*>(context)->xrunCounter.note();
    return 0;
}

void JackDriver::onPortConnect(jack_port_id_t, jack_port_id_t, int, void* context) {
    // JACK's notification thread: only a flag; the interface thread reads the graph.
    static_cast<JackDriver*>(context)->connectionsChanged.store(true);
}

} // namespace trelvo::audio
