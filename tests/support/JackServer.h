#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>

namespace trelvo::test {

/// A JACK server of the test's own: `jackd -d dummy` under a server name of its own,
/// which it also puts into JACK_DEFAULT_SERVER so that every client of this process (and
/// of the programs it starts) finds it. Stopped and its name removed when the object goes;
/// a server started from the main thread also ends with the process, so that a test process
/// killed outright leaves no server behind.
class JackServer {
public:
    /// realtimePriority > 0 runs the server real-time at that priority (-R -P); 0 runs it
    /// without real-time scheduling.
    explicit JackServer(int bufferSize = 256, int sampleRate = 48000, int realtimePriority = 0);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    /// True once a client could connect.
    bool running() const noexcept { return ready; }
    const std::string& name() const noexcept { return serverName; }

    /// Stops the server with a signal (SIGTERM: it shuts down in order; SIGKILL: it just
    /// dies) and waits until it is gone.
    void stop(int signal = SIGTERM);
    /// Starts the server again under the same name and settings; true once it answers.
    bool start();

private:
    std::string serverName;
    int bufferSize;
    int sampleRate;
    int realtimePriority;
    pid_t pid = -1;
    bool ready = false;
};

} // namespace trelvo::test
