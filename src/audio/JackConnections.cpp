#include "audio/JackConnections.h"

#include <cerrno>

namespace trelvo::audio {

std::vector<JackConnections::Connection> JackConnections::read(jack_client_t* client,
                                                               const std::vector<jack_port_t*>& ports) {
    std::vector<Connection> found;
    for (jack_port_t* port : ports) {
        if (port == nullptr) continue;
        const char** peers = jack_port_get_all_connections(client, port);
        for (std::size_t i = 0; peers != nullptr && peers[i] != nullptr; ++i)
            found.push_back({jack_port_short_name(port), peers[i]});
        if (peers != nullptr) jack_free(peers);
    }
    return found;
}

int JackConnections::restore(jack_client_t* client, const std::vector<jack_port_t*>& ports) const {
    int connected = 0;
    for (const Connection& connection : remembered) {
        jack_port_t* own = nullptr;
        for (jack_port_t* port : ports)
            if (port != nullptr && connection.port == jack_port_short_name(port)) own = port;
        if (own == nullptr || jack_port_by_name(client, connection.peer.c_str()) == nullptr) continue;
        const bool isOutput = (jack_port_flags(own) & JackPortIsOutput) != 0;
        const char* ownName = jack_port_name(own);
        const int result = isOutput ? jack_connect(client, ownName, connection.peer.c_str())
                                    : jack_connect(client, connection.peer.c_str(), ownName);
        if (result == 0 || result == EEXIST) ++connected;
    }
    return connected;
}

} // namespace trelvo::audio
