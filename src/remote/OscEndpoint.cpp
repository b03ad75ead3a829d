#include "remote/OscEndpoint.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "diag/DiagLog.h"

namespace trelvo::remote {

namespace {

constexpr std::size_t kMaxPacket = 65536;
constexpr int kMaxBundleDepth = 8;

bool isLoopback(const OscPeer& peer) noexcept;

bool sameHost(const OscPeer& a, const OscPeer& b) noexcept {
    // This computer is one host whichever loopback address names it: a session manager's
    // URL often names the computer (127.0.1.1) while its messages come from 127.0.0.1.
    if (isLoopback(a) && isLoopback(b)) return true;
    if (a.address.ss_family != b.address.ss_family) return false;
    if (a.address.ss_family == AF_INET) {
        const auto* x = reinterpret_cast<const sockaddr_in*>(&a.address);
        const auto* y = reinterpret_cast<const sockaddr_in*>(&b.address);
        return x->sin_addr.s_addr == y->sin_addr.s_addr;
    }
    const auto* x = reinterpret_cast<const sockaddr_in6*>(&a.address);
    const auto* y = reinterpret_cast<const sockaddr_in6*>(&b.address);
    return std::memcmp(&x->sin6_addr, &y->sin6_addr, sizeof(in6_addr)) == 0;
}

bool isLoopback(const OscPeer& peer) noexcept {
    if (peer.address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer.address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (peer.address.ss_family != AF_INET6) return false;
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer.address);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127;
}

int portOf(const sockaddr_storage& address) noexcept {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

std::int32_t readInt32(const lo_arg* argument) noexcept {
    // liblo's argument union is eight-byte aligned while OSC packs arguments at four: copy.
    std::int32_t value = 0;
    std::memcpy(&value, argument, sizeof value);
    return value;
}

template <class T> T readWide(const lo_arg* argument) noexcept {
    T value{};
    std::memcpy(&value, argument, sizeof value);
    return value;
}

enum class Fit { Fits, Wrong, OutOfRange };

/// Copies one argument of the message into the request as the table's type wants it.
Fit copyArgument(char wanted, char type, const lo_arg* argument, OscRequest& request, std::size_t& textEnd) {
    const int k = request.numArguments;
    if (wanted == 's') {
        if (type != LO_STRING && type != LO_SYMBOL) return Fit::Wrong;
        const char* text = reinterpret_cast<const char*>(argument);
        const std::size_t length = std::strlen(text);
        if (textEnd + length + 1 > kMaxOscText) return Fit::OutOfRange;
        std::memcpy(request.texts + textEnd, text, length + 1);
        request.textAt[k] = static_cast<std::uint16_t>(textEnd);
        textEnd += length + 1;
        return Fit::Fits;
    }
    double value = 0.0;
    switch (type) {
    case LO_INT32: value = readInt32(argument); break;
    case LO_FLOAT: value = readWide<float>(argument); break;
    case LO_DOUBLE: value = readWide<double>(argument); break;
    case LO_INT64: value = static_cast<double>(readWide<std::int64_t>(argument)); break;
    case LO_TRUE: value = 1.0; break;
    case LO_FALSE: value = 0.0; break;
    default: return Fit::Wrong;
    }
    // Within a float: every number is read as one, and a larger double would not convert.
    if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX)) return Fit::OutOfRange;
    if (wanted == 'i') {
        if (value != std::floor(value)) return Fit::Wrong;
        if (value < -2147483648.0 || value > 2147483647.0) return Fit::OutOfRange;
    }
    request.numbers[k] = value;
    return Fit::Fits;
}

} // namespace

// ---- OscPeer ----

bool OscPeer::operator==(const OscPeer& other) const noexcept {
    return sameHost(*this, other) && portOf(address) == portOf(other.address);
}

std::string OscPeer::text() const {
    char host[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(portOf(address));
    }
    if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(portOf(address));
}

bool OscPeer::resolve(const std::string& host, int port, OscPeer& peer, std::string& why) {
    if (port < 0 || port > 65535) {
        why = "the port " + std::to_string(port) + " is not a UDP port";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (status != 0 || found == nullptr) {
        why = "the address \"" + host + "\" cannot be resolved: " + gai_strerror(status);
        return false;
    }
    // An IPv4 address first: most OSC programs listen on IPv4 only.
    const addrinfo* chosen = found;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next)
        if (entry->ai_family == AF_INET) {
            chosen = entry;
            break;
        }
    peer = OscPeer{};
    std::memcpy(&peer.address, chosen->ai_addr, chosen->ai_addrlen);
    peer.length = chosen->ai_addrlen;
    freeaddrinfo(found);
    return true;
}

bool OscPeer::fromUrl(const std::string& url, OscPeer& peer, std::string& why) {
    const std::string scheme = "osc.udp://";
    if (url.rfind(scheme, 0) != 0) {
        why = "\"" + url + "\" is not an osc.udp:// address";
        return false;
    }
    std::string rest = url.substr(scheme.size());
    if (const std::size_t slash = rest.find('/'); slash != std::string::npos) rest.resize(slash);
    std::string host;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            why = "\"" + url + "\" has no port";
            return false;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            why = "\"" + url + "\" has no port";
            return false;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
        why = "\"" + url + "\" is not a host and port";
        return false;
    }
    return resolve(host, std::stoi(port), peer, why);
}

// ---- OscMessage ----

OscMessage::OscMessage(std::string path) : address(std::move(path)), message(lo_message_new()) {}

OscMessage::~OscMessage() {
    lo_message_free(message);
}

OscMessage& OscMessage::add(int value) {
    lo_message_add_int32(message, value);
    return *this;
}

OscMessage& OscMessage::add(float value) {
    lo_message_add_float(message, value);
    return *this;
}

OscMessage& OscMessage::add(std::string_view text) {
    lo_message_add_string(message, std::string(text).c_str());
    return *this;
}

std::vector<char> OscMessage::bytes() const {
    std::vector<char> out(lo_message_length(message, address.c_str()));
    std::size_t size = out.size();
    lo_message_serialise(message, address.c_str(), out.data(), &size);
    out.resize(size);
    return out;
}

// ---- OscEndpoint ----

OscEndpoint::OscEndpoint(std::vector<OscAddress> addresses) : table(std::move(addresses)) {}

OscEndpoint::~OscEndpoint() {
    if (receiver.joinable()) {
        const std::uint64_t one = 1;
        if (write(wakeFd, &one, sizeof one) < 0) diag::hookedLogError("OSC: cannot wake the receiving thread");
        receiver.join();
    }
    if (socketFd >= 0) close(socketFd);
    if (wakeFd >= 0) close(wakeFd);
}

bool OscEndpoint::open(const std::string& host, int port, std::string& why) {
    OscPeer local;
    if (!OscPeer::resolve(host, port, local, why)) return false;
    return bindTo(local, why);
}

bool OscEndpoint::openFor(const OscPeer& peer, std::string& why) {
    OscPeer local;
    local.address.ss_family = peer.address.ss_family;
    if (peer.address.ss_family == AF_INET) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&local.address);
        v4->sin_addr.s_addr = htonl(isLoopback(peer) ? INADDR_LOOPBACK : INADDR_ANY);
        local.length = sizeof(sockaddr_in);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&local.address);
        v6->sin6_addr = isLoopback(peer) ? in6addr_loopback : in6addr_any;
        local.length = sizeof(sockaddr_in6);
    }
    onlyFromPeer = true;
    allowedPeer = peer;
    return bindTo(local, why);
}

bool OscEndpoint::bindTo(const OscPeer& local, std::string& why) {
    if (socketFd >= 0) {
        why = "the endpoint is open already";
        return false;
    }
    socketFd = socket(local.address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0) {
        why = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    if (bind(socketFd, reinterpret_cast<const sockaddr*>(&local.address), local.length) != 0) {
        why = "cannot listen on " + local.text() + ": " + std::strerror(errno);
        close(socketFd);
        socketFd = -1;
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(socketFd, reinterpret_cast<sockaddr*>(&bound), &length);
    boundPort = portOf(bound);
    wakeFd = eventfd(0, EFD_CLOEXEC);
    if (wakeFd < 0) {
        why = std::string("cannot create an event: ") + std::strerror(errno);
        close(socketFd);
        socketFd = -1;
        return false;
    }
    receiver = std::thread([this] { receiveLoop(); });
    return true;
}

bool OscEndpoint::send(const OscPeer& to, const OscMessage& message) {
    if (socketFd < 0) return false;
    const std::vector<char> bytes = message.bytes();
    const ssize_t sent = sendto(socketFd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to.address), to.length);
    return sent == static_cast<ssize_t>(bytes.size());
}

void OscEndpoint::receiveLoop() {
    std::vector<char> packet(kMaxPacket);
    pollfd watched[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            diag::hookedLogError(std::string("OSC: the socket cannot be watched: ") + std::strerror(errno));
            return;
        }
        if (watched[1].revents != 0) return;
        if ((watched[0].revents & POLLIN) == 0) continue;
        OscPeer from;
        from.length = sizeof from.address;
        const ssize_t size = recvfrom(socketFd, packet.data(), packet.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from.address), &from.length);
        if (size <= 0) continue;
        if (onlyFromPeer && !(from == allowedPeer)) {
            counts.foreign.fetch_add(1);
            continue;
        }
        handlePacket(packet.data(), static_cast<std::size_t>(size), from, 0);
    }
}

void OscEndpoint::handlePacket(const char* data, std::size_t size, const OscPeer& from, int depth) {
    static constexpr char kBundle[] = "#bundle";
    if (size >= 16 && std::memcmp(data, kBundle, sizeof kBundle) == 0) {
        if (depth >= kMaxBundleDepth) {
            counts.malformed.fetch_add(1);
            return;
        }
        // "#bundle", a time tag, then elements: a 32-bit big-endian size and the element.
        std::size_t at = 16;
        while (at < size) {
            if (size - at < 4) {
                counts.malformed.fetch_add(1);
                return;
            }
            std::uint32_t length = 0;
            std::memcpy(&length, data + at, 4);
            length = ntohl(length);
            at += 4;
            if (length == 0 || length % 4 != 0 || length > size - at) {
                counts.malformed.fetch_add(1);
                return;
            }
            handlePacket(data + at, length, from, depth + 1);
            at += length;
        }
        return;
    }
    handleMessage(data, size, from);
}

void OscEndpoint::handleMessage(const char* data, std::size_t size, const OscPeer& from) {
    int result = 0;
    // liblo checks the whole message (padding, type tags, sizes) before it hands it over.
    lo_message message = lo_message_deserialise(const_cast<char*>(data), size, &result);
    if (message == nullptr) {
        counts.malformed.fetch_add(1);
        return;
    }
    const char* path = data; // the path is the message's first, terminated, string
    const char* types = lo_message_get_types(message);
    const int argc = lo_message_get_argc(message);
    lo_arg** argv = lo_message_get_argv(message);

    bool pathKnown = false;
    Fit outcome = Fit::Wrong;
    OscRequest request;
    for (const OscAddress& entry : table) {
        if (entry.path != path) continue;
        pathKnown = true;
        const bool extra = !entry.types.empty() && entry.types.back() == '*';
        const int wanted = static_cast<int>(entry.types.size()) - (extra ? 1 : 0);
        if (argc < wanted || (!extra && argc != wanted) || wanted > kMaxOscArguments) continue;
        request.numArguments = 0;
        std::size_t textEnd = 0;
        outcome = Fit::Fits;
        for (int k = 0; k < wanted && outcome == Fit::Fits; ++k) {
            outcome = copyArgument(entry.types[static_cast<std::size_t>(k)], types[k], argv[k], request, textEnd);
            if (outcome == Fit::Fits) ++request.numArguments;
        }
        if (outcome == Fit::Fits) {
            request.command = entry.command;
            request.from = from;
            break;
        }
        if (outcome == Fit::OutOfRange) break;
    }
    lo_message_free(message);
    if (!pathKnown) {
        counts.unknownAddress.fetch_add(1);
    } else if (outcome == Fit::OutOfRange) {
        counts.outOfRange.fetch_add(1);
    } else if (outcome == Fit::Wrong) {
        counts.wrongArguments.fetch_add(1);
    } else if (!queue.tryPush(request)) {
        counts.flooded.fetch_add(1);
    } else {
        counts.accepted.fetch_add(1);
    }
}

} // namespace trelvo::remote
