#pragma once

#include <jack/jack.h>

#include <string>
#include <vector>

namespace trelvo::audio {

/// What Trelvo's JACK ports are connected to, kept across driver instances. One memory is
/// shared by every JackDriver made from the same driver-list entry, so that a driver opened
/// again (after a buffer-size change, or when the server came back) connects its ports as
/// they were instead of to the default ports. Thread: user interface.
class JackConnections {
public:
    struct Connection {
        std::string port; ///< our port's short name, "out_1"
        std::string peer; ///< the other port's full name, "system:playback_1"
        bool operator==(const Connection&) const = default;
    };

    /// False until a driver told what its ports are connected to.
    bool known() const noexcept { return isKnown; }
    const std::vector<Connection>& connections() const noexcept { return remembered; }
    void remember(std::vector<Connection> connections) {
        remembered = std::move(connections);
        isKnown = true;
    }

    /// What the ports are connected to now, as the client sees the graph.
    static std::vector<Connection> read(jack_client_t* client, const std::vector<jack_port_t*>& ports);
    /// Connects every remembered connection whose port and peer both exist; the others are
    /// left out. Returns how many are connected now.
    int restore(jack_client_t* client, const std::vector<jack_port_t*>& ports) const;

private:
    bool isKnown = false;
    std::vector<Connection> remembered;
};

} // namespace trelvo::audio
