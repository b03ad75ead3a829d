#pragma once

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace trelvo::test {

/// A UDP port of 127.0.0.1 that was free a moment ago: bound and let go again.
inline int freeUdpPort() {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (probe < 0 || bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        local.sin_port = 0;
    if (probe >= 0) close(probe);
    return ntohs(local.sin_port);
}

/// One message the test client received, its arguments as numbers or texts.
struct OscReceived {
    std::string path;
    std::string types;
    std::vector<double> numbers;    ///< per argument; 0 for texts
    std::vector<std::string> texts; ///< per argument; empty for numbers
    std::string source;             ///< the sender's port
};

/// A liblo client of the test's own: sends from its own port and collects what comes back.
class OscTestClient {
public:
    OscTestClient() {
        server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_add_method(server, nullptr, nullptr, &OscTestClient::collect, this);
    }
    ~OscTestClient() {
        if (target != nullptr) lo_address_free(target);
        lo_server_free(server);
    }
    OscTestClient(const OscTestClient&) = delete;
    OscTestClient& operator=(const OscTestClient&) = delete;

    int port() const { return lo_server_get_port(server); }
    /// Where send() goes from now on.
    void aim(int port) {
        if (target != nullptr) lo_address_free(target);
        target = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    }
    /// Sends a message built by the caller from this client's port.
    void send(const char* path, lo_message message) {
        lo_send_message_from(target, server, path, message);
        lo_message_free(message);
    }
    template <class... Arguments> void send(const char* path, const char* types, Arguments... arguments) {
        lo_send_from(target, server, LO_TT_IMMEDIATE, path, types, arguments...);
    }
    /// Reads what arrived within ms.
    void pump(int ms) {
        while (lo_server_recv_noblock(server, ms) > 0) ms = 0;
    }
    /// Waits up to timeoutMs for a message on path that matches, calling between while
    /// waiting (the controller's idle tick); the message is taken out of received.
    bool waitFor(const std::string& path, const std::function<bool(const OscReceived&)>& matches,
                 const std::function<void()>& between, int timeoutMs, OscReceived* found = nullptr) {
        for (int waited = 0; waited <= timeoutMs; waited += 5) {
            pump(5);
            for (auto it = received.begin(); it != received.end(); ++it) {
                if (it->path != path || !matches(*it)) continue;
                if (found != nullptr) *found = *it;
                received.erase(it);
                return true;
            }
            if (between) between();
        }
        return false;
    }
    bool waitFor(const std::string& path, const std::function<void()>& between, int timeoutMs,
                 OscReceived* found = nullptr) {
        return waitFor(
            path, [](const OscReceived&) { return true; }, between, timeoutMs, found);
    }

    std::vector<OscReceived> received;

private:
    static int collect(const char* path, const char* types, lo_arg** argv, int argc, lo_message message, void* self) {
        auto* client = static_cast<OscTestClient*>(self);
        OscReceived got;
        got.path = path;
        got.types = types;
        for (int k = 0; k < argc; ++k) {
            double number = 0.0;
            std::string text;
            // liblo's union is eight-byte aligned, OSC arguments four: copy, do not read through it.
            switch (types[k]) {
            case LO_INT32: {
                std::int32_t v = 0;
                std::memcpy(&v, argv[k], sizeof v);
                number = v;
                break;
            }
            case LO_FLOAT: {
                float v = 0;
                std::memcpy(&v, argv[k], sizeof v);
                number = v;
                break;
            }
            case LO_STRING:
            case LO_SYMBOL: text = reinterpret_cast<const char*>(argv[k]); break;
            default: break;
            }
            got.numbers.push_back(number);
            got.texts.push_back(text);
        }
        if (lo_address source = lo_message_get_source(message)) got.source = lo_address_get_port(source);
        client->received.push_back(std::move(got));
        return 0;
    }

    lo_server server = nullptr;
    lo_address target = nullptr;
};

} // namespace trelvo::test
