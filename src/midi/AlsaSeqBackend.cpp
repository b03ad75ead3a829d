#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "midi/MidiBackend.h"
#include "platform/Clock.h"
#include "platform/RealtimeThread.h"

namespace trelvo::midi {

namespace {

struct SeqAddress {
    int client;
    int port;
    std::string name;
};

/// The ALSA sequencer: Trelvo's client with one input and one output port. Input devices
/// are the readable ports of other clients, output devices the writable ones; opening a
/// device subscribes it to Trelvo's port. A thread of our own reads the input.
class AlsaSeqBackend final : public MidiBackend {
public:
    explicit AlsaSeqBackend(snd_seq_t* seq) : handle(seq) {
        snd_seq_set_client_name(handle, "Trelvo");
        inPort = snd_seq_create_simple_port(handle, "Trelvo In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        outPort = snd_seq_create_simple_port(handle, "Trelvo Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                             SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        snd_midi_event_new(kMaxEvent, &encoder);
        snd_midi_event_new(kMaxEvent, &decoder);
        snd_midi_event_no_status(decoder, 1);
        scan();
        running = true;
        reader = std::thread([this] { readLoop(); });
    }

    ~AlsaSeqBackend() override {
        running = false;
        if (reader.joinable()) reader.join();
        snd_midi_event_free(encoder);
        snd_midi_event_free(decoder);
        snd_seq_close(handle);
    }

    std::string name() const override { return "ALSA sequencer"; }
    std::vector<std::string> inputNames() override { return names(readable); }
    std::vector<std::string> outputNames() override { return names(writable); }

    bool openInput(int local, int device, MidiInputSink* inputSink) override {
        if (local < 0 || local >= static_cast<int>(readable.size())) return false;
        const SeqAddress& source = readable[static_cast<std::size_t>(local)];
        if (snd_seq_connect_from(handle, inPort, source.client, source.port) < 0) return false;
        std::lock_guard lock(mapMutex);
        sink = inputSink;
        deviceOf[{source.client, source.port}] = device;
        return true;
    }
    void closeInput(int local) override {
        if (local < 0 || local >= static_cast<int>(readable.size())) return;
        const SeqAddress& source = readable[static_cast<std::size_t>(local)];
        snd_seq_disconnect_from(handle, inPort, source.client, source.port);
        std::lock_guard lock(mapMutex);
        deviceOf.erase({source.client, source.port});
    }
    bool openOutput(int local) override {
        if (local < 0 || local >= static_cast<int>(writable.size())) return false;
        const SeqAddress& target = writable[static_cast<std::size_t>(local)];
        return snd_seq_connect_to(handle, outPort, target.client, target.port) >= 0;
    }
    void closeOutput(int local) override {
        if (local < 0 || local >= static_cast<int>(writable.size())) return;
        const SeqAddress& target = writable[static_cast<std::size_t>(local)];
        snd_seq_disconnect_to(handle, outPort, target.client, target.port);
    }
    bool send(int local, const std::uint8_t* bytes, std::size_t length, int) noexcept override {
        if (local < 0 || local >= static_cast<int>(writable.size()) || length == 0) return false;
        const SeqAddress& target = writable[static_cast<std::size_t>(local)];
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        if (bytes[0] == 0xF0) {
            snd_seq_ev_set_sysex(&event, static_cast<unsigned>(length), const_cast<std::uint8_t*>(bytes));
        } else {
            snd_midi_event_reset_encode(encoder);
            if (snd_midi_event_encode(encoder, bytes, static_cast<long>(length), &event) <= 0 ||
                event.type == SND_SEQ_EVENT_NONE)
                return false;
        }
        snd_seq_ev_set_source(&event, outPort);
        snd_seq_ev_set_dest(&event, target.client, target.port);
        snd_seq_ev_set_direct(&event);
        return snd_seq_event_output_direct(handle, &event) >= 0;
    }

private:
    static constexpr long kMaxEvent = 4096;

    static std::vector<std::string> names(const std::vector<SeqAddress>& ports) {
        std::vector<std::string> result;
        for (const SeqAddress& port : ports) result.push_back(port.name);
        return result;
    }

    void scan() {
        const int self = snd_seq_client_id(handle);
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(handle, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            if (id == self || id == SND_SEQ_CLIENT_SYSTEM) continue;
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(handle, port) >= 0) {
                const unsigned caps = snd_seq_port_info_get_capability(port);
                if ((caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) continue;
                SeqAddress address{id, snd_seq_port_info_get_port(port), snd_seq_port_info_get_name(port)};
                if ((caps & (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)) ==
                    (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ))
                    readable.push_back(address);
                if ((caps & (SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE)) ==
                    (SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE))
                    writable.push_back(address);
            }
        }
    }

    void readLoop() {
        platform::markRealtimeThread(true);
        std::array<pollfd, 4> fds{};
        const int count = std::min<int>(snd_seq_poll_descriptors_count(handle, POLLIN), static_cast<int>(fds.size()));
        snd_seq_poll_descriptors(handle, fds.data(), static_cast<unsigned>(count), POLLIN);
        while (running.load()) {
            if (poll(fds.data(), static_cast<nfds_t>(count), 100) <= 0) continue;
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(handle, &event) >= 0 && event != nullptr) {
                dispatch(*event);
                if (snd_seq_event_input_pending(handle, 0) <= 0) break;
            }
        }
    }

    void dispatch(const snd_seq_event_t& event) {
        const MidiTime time{false, static_cast<std::int64_t>(platform::tickCountMs())};
        int device = -1;
        MidiInputSink* target = nullptr;
        {
            std::lock_guard lock(mapMutex);
            const auto found = deviceOf.find({event.source.client, event.source.port});
            if (found == deviceOf.end()) return;
            device = found->second;
            target = sink;
        }
        if (target == nullptr) return;
        if (event.type == SND_SEQ_EVENT_SYSEX) {
            // Gather a dump and pass it on in pieces of at most 2048 bytes, as it ends.
            auto& gathered = pending[device];
            const auto* bytes = static_cast<const std::uint8_t*>(event.data.ext.ptr);
            for (unsigned i = 0; i < event.data.ext.len; ++i) {
                gathered.push_back(bytes[i]);
                if (gathered.size() == 2048 || bytes[i] == 0xF7) {
                    target->sysexPiece(device, gathered.data(), gathered.size(), time);
                    gathered.clear();
                }
            }
            return;
        }
        std::uint8_t bytes[8];
        snd_midi_event_reset_decode(decoder);
        const long length = snd_midi_event_decode(decoder, bytes, sizeof bytes, &event);
        if (length <= 0) return;
        target->shortMessage(device, bytes[0], length > 1 ? bytes[1] : 0, length > 2 ? bytes[2] : 0, time);
    }

    snd_seq_t* handle;
    int inPort = -1;
    int outPort = -1;
    snd_midi_event_t* encoder = nullptr;
    snd_midi_event_t* decoder = nullptr;
    std::vector<SeqAddress> readable, writable;
    std::mutex mapMutex;
    std::map<std::pair<int, int>, int> deviceOf;
    MidiInputSink* sink = nullptr;
    std::map<int, std::vector<std::uint8_t>> pending;
    std::atomic<bool> running{false};
    std::thread reader;
};

} // namespace

namespace {
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
} // namespace

std::unique_ptr<MidiBackend> openAlsaSequencer(std::string& whyNot) {
    snd_lib_error_set_handler(&quietAlsa);
    snd_seq_t* handle = nullptr;
    const int result = snd_seq_open(&handle, "default", SND_SEQ_OPEN_DUPLEX, 0);
    if (result < 0) {
        whyNot = std::string("no ALSA sequencer (") + snd_strerror(result) + ")";
        return nullptr;
    }
    return std::make_unique<AlsaSeqBackend>(handle);
}

} // namespace trelvo::midi
