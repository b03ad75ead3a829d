#pragma once

#include <string>

#include <sys/types.h>

namespace trelvo::test {

/// A JACK server of the test's own: `jackd -d dummy` under a server name of its own,
/// which it also puts into JACK_DEFAULT_SERVER so that every client of this process (and
/// of the programs it starts) finds it. Stopped and its name removed when the object goes.
class JackServer {
public:
    explicit JackServer(int bufferSize = 256, int sampleRate = 48000);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    /// True once a client could connect.
    bool running() const noexcept { return ready; }
    const std::string& name() const noexcept { return serverName; }

private:
    std::string serverName;
    pid_t pid = -1;
    bool ready = false;
};

} // namespace trelvo::test
