#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/BoundedQueue.h"

namespace trelvo::remote {

/// Where an OSC message came from, or goes to: a UDP address of either family.
struct OscPeer {
    sockaddr_storage address{};
    socklen_t length = 0;

    /// The same port of the same host; every loopback address is this computer.
    bool operator==(const OscPeer& other) const noexcept;
    /// "127.0.0.1:9000", "[::1]:9000".
    std::string text() const;
    /// Resolves a host name or numeric address and a port; false with why filled.
    static bool resolve(const std::string& host, int port, OscPeer& peer, std::string& why);
    /// Resolves "osc.udp://host:port/" (the form session managers hand out).
    static bool fromUrl(const std::string& url, OscPeer& peer, std::string& why);
};

inline constexpr int kMaxOscArguments = 6;
inline constexpr std::size_t kMaxOscText = 1024;

/// One message the table accepted, copied out of the packet: numbers as doubles (an integer
/// argument is whole and within 32 bits), texts one after another in one pool.
struct OscRequest {
    int command = 0;
    OscPeer from;
    int numArguments = 0;
    double numbers[kMaxOscArguments] = {};
    std::uint16_t textAt[kMaxOscArguments] = {};
    char texts[kMaxOscText] = {};

    int integer(int k) const noexcept { return static_cast<int>(numbers[k]); }
    float number(int k) const noexcept { return static_cast<float>(numbers[k]); }
    const char* text(int k) const noexcept { return texts + textAt[k]; }
};

/// An address the endpoint answers and the arguments it takes: 'i' a whole number, 'f' any
/// number (both also take OSC's true and false, and each other's types when they fit), 's' a
/// string. A trailing '*' lets further arguments of any type follow; they are ignored.
struct OscAddress {
    std::string path;
    std::string types;
    int command = 0;
};

/// An outgoing message, built argument by argument.
class OscMessage {
public:
    explicit OscMessage(std::string path);
    ~OscMessage();
    OscMessage(const OscMessage&) = delete;
    OscMessage& operator=(const OscMessage&) = delete;
    OscMessage& add(int value);
    OscMessage& add(float value);
    OscMessage& add(std::string_view text);
    /// The message as OSC bytes.
    std::vector<char> bytes() const;
    const std::string& path() const noexcept { return address; }

private:
    std::string address;
    void* message; ///< liblo's message
};

/// Counts of what was refused, for the log and the tests. Thread: any.
struct OscRefusals {
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<std::uint64_t> malformed{0};      ///< not an OSC message or bundle
    std::atomic<std::uint64_t> unknownAddress{0}; ///< no entry of the table has its path
    std::atomic<std::uint64_t> wrongArguments{0}; ///< the path is known, its arguments do not fit
    std::atomic<std::uint64_t> outOfRange{0};     ///< a number or text beyond what fits
    std::atomic<std::uint64_t> flooded{0};        ///< the queue to the user interface was full
    std::atomic<std::uint64_t> foreign{0};        ///< from a sender the endpoint does not listen to

    std::uint64_t refused() const noexcept {
        return malformed.load() + unknownAddress.load() + wrongArguments.load() + outOfRange.load() + flooded.load() +
               foreign.load();
    }
};

/// A UDP socket that speaks OSC: a thread of its own receives, checks each message against
/// the table and queues what fits for the user-interface thread; nothing else from the
/// network gets further. Bundles are opened (their time tags ignored: everything is done
/// at once). Sends go out from the same socket, so that replies come from the port the
/// client wrote to.
class OscEndpoint {
public:
    explicit OscEndpoint(std::vector<OscAddress> table);
    ~OscEndpoint();
    OscEndpoint(const OscEndpoint&) = delete;
    OscEndpoint& operator=(const OscEndpoint&) = delete;

    /// Binds host:port (port 0: a free one) and starts receiving. False with why filled.
    /// Thread: user interface.
    bool open(const std::string& host, int port, std::string& why);
    /// Binds a free port on the loopback of the peer's family when the peer is on this
    /// computer, else on every address of that family; only messages from the peer itself
    /// (its host and port) are taken, the others are counted as foreign.
    bool openFor(const OscPeer& peer, std::string& why);
    /// The bound port, 0 before open.
    int port() const noexcept { return boundPort; }

    /// The next request the table accepted. Thread: user interface.
    bool take(OscRequest& request) noexcept { return queue.tryPop(request); }
    /// Sends without waiting; false when the socket refused (a full buffer drops the
    /// message). Thread: user interface.
    bool send(const OscPeer& to, const OscMessage& message);

    const OscRefusals& refusals() const noexcept { return counts; }

    static constexpr std::size_t kQueueCapacity = 1024;

private:
    void receiveLoop();
    void handlePacket(const char* data, std::size_t size, const OscPeer& from, int depth);
    void handleMessage(const char* data, std::size_t size, const OscPeer& from);
    bool bindTo(const OscPeer& local, std::string& why);

    std::vector<OscAddress> table;
    int socketFd = -1;
    int wakeFd = -1;
    int boundPort = 0;
    bool onlyFromPeer = false;
    OscPeer allowedPeer;
    std::thread receiver;
    OscRefusals counts;
    platform::BoundedQueue<OscRequest, kQueueCapacity> queue;
};

} // namespace trelvo::remote
