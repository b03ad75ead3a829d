#include "support/JackServer.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <jack/jack.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Clock.h"

namespace trelvo::test {

namespace {
void quiet(const char*) {}
} // namespace

JackServer::JackServer(int bufferSize, int sampleRate) {
    static int counter = 0;
    serverName = "trelvo-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    const std::string period = std::to_string(bufferSize);
    const std::string rate = std::to_string(sampleRate);
    pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        execlp("jackd", "jackd", "--no-realtime", "-n", serverName.c_str(), "-d", "dummy", "-r", rate.c_str(), "-p",
               period.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    jack_set_error_function(&quiet);
    for (int attempt = 0; attempt < 100 && !ready; ++attempt) {
        jack_status_t status{};
        if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status)) {
            jack_client_close(probe);
            ready = true;
        } else {
            platform::sleepMs(50);
        }
    }
}

JackServer::~JackServer() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        for (int waited = 0; waited < 100 && waitpid(pid, &status, WNOHANG) == 0; ++waited) platform::sleepMs(20);
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    unsetenv("JACK_DEFAULT_SERVER");
}

} // namespace trelvo::test
