#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/BufferedDriver.h"
#include "audio/CycleTimes.h"
#include "audio/JackConnections.h"

namespace trelvo::audio {

/// "JACK": a client of a running JACK server (never starts one). Float32LSB channels,
/// ports trelvo:in_N and trelvo:out_N, connected on the first start to the first physical
/// capture and playback ports, and later as they were (see JackConnections). JACK's process
/// callback runs the blocks on JACK's thread, whose scheduling is JACK's; buffer-size,
/// latency and shut-down notices become the designed driver messages, sample-rate changes
/// sampleRateDidChange.
class JackDriver final : public BufferedDriver {
public:
    /// memory: the connections shared with the drivers opened before and after this one;
    /// without it the driver keeps its own.
    explicit JackDriver(const std::string& clientName = "trelvo", int numInputs = 2, int numOutputs = 2,
                        std::shared_ptr<JackConnections> memory = nullptr);
    ~JackDriver() override;

    /// True when a JACK server answers (the driver list asks this; it starts nothing).
    static bool serverRunning();

    bool init(void* systemHandle) override;
    AsioError start() override;
    AsioError stop() override;
    AsioError setSampleRate(double rate) override;
    AsioError getLatencies(std::int32_t& inputLatency, std::int32_t& outputLatency) override;
    AsioError controlPanel() override;
    AsioError createBuffers(AsioBufferInfo* infos, std::int32_t numChannels, std::int32_t bufferSize,
                            AsioCallbacks* callbacks) override;
    AsioError disposeBuffers() override;
    /// The port buffers of the cycle in progress: the host works in them, so nothing is
    /// copied between the ports and the halves.
    void* blockBuffer(int index) noexcept override;
    /// Notes connection changes of the running client: what they leave is remembered once
    /// it has held for a second (a server that is shutting down first takes the peers'
    /// connections away, and that must not be what is remembered).
    /// Also logs the xruns counted since the last call.
    void idle() override;
    /// Every xrun the server reported while this client existed, its own or another
    /// client's: each one is a gap in what the player hears. Thread: any.
    XrunCount xruns() const noexcept override { return xrunCounter.read(); }

    /// JACK's xrun callback; tests call it to count without a real xrun.
    /// Thread: JACK's notification thread.
    static int onXrun(void* self) noexcept;

    jack_client_t* client() const noexcept { return jackClient; }
    /// How long each process callback took, the copies in and out included.
    const CycleTimes& cycleTimes() const noexcept { return cycles; }
    const JackConnections& connections() const noexcept { return *memory; }
    /// The full name of one of our ports, "trelvo:out_1" for example.
    std::string portName(bool isInput, int index) const;

private:
    static int onProcess(jack_nframes_t frames, void* self);
    static int onBufferSize(jack_nframes_t frames, void* self);
    static int onSampleRate(jack_nframes_t rate, void* self);
    static void onLatency(jack_latency_callback_mode_t mode, void* self);
    static void onShutdown(void* self);
    static void onPortConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* self);
    void notify(std::int32_t selector) noexcept;
    void connectDefaultPorts();
    std::vector<jack_port_t*> allPorts() const;

    static constexpr std::uint32_t kConnectionsSettleMs = 1000;

    std::string clientName;
    jack_client_t* jackClient = nullptr;
    std::vector<jack_port_t*> inputPorts;
    std::vector<jack_port_t*> outputPorts;
    /// Per listed channel, its port's buffer while a cycle runs (else nullptr).
    std::unique_ptr<std::atomic<void*>[]> lent;
    /// Per listed channel: whether the host asked for its buffer in this cycle.
    std::unique_ptr<std::atomic<bool>[]> lentTaken;
    std::size_t lentCount = 0;
    /// Per output port: whether a listed channel writes it (the others play silence).
    std::vector<char> outputListed;
    jack_port_t* midiIn = nullptr;
    jack_port_t* midiOut = nullptr;
    jack_port_t* surfaceIn = nullptr;
    jack_port_t* surfaceOut = nullptr;
    std::atomic<bool> active{false};
    std::atomic<bool> threadPrepared{false};
    std::atomic<bool> serverGone{false};
    std::atomic<bool> connectionsChanged{false};
    XrunCounter xrunCounter;
    CycleTimes cycles;
    /// The process callback's work.
    int process(jack_nframes_t frames) noexcept;
    int half = 0;

    // ---- User-interface thread ----
    std::shared_ptr<JackConnections> memory;
    std::vector<JackConnections::Connection> changedConnections; ///< read, not yet remembered
    std::uint32_t changedAtMs = 0;
    bool hasChanged = false;
    std::uint64_t loggedXruns = 0;
};

} // namespace trelvo::audio
