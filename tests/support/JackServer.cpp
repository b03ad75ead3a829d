#include "support/JackServer.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace trelvo::test {

namespace {
void quiet(const char*) {}
} // namespace

JackServer::JackServer(int size, int rate, int priority)
    : bufferSize(size), sampleRate(rate), realtimePriority(priority) {
    static int counter = 0;
    serverName = "trelvo-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    jack_set_error_function(&quiet);
    start();
}

JackServer::~JackServer() {
    stop();
    unsetenv("JACK_DEFAULT_SERVER");
}

bool JackServer::start() {
    if (pid > 0) return ready;
    std::vector<std::string> arguments{"jackd"};
    if (realtimePriority > 0) {
        arguments.insert(arguments.end(), {"-R", "-P", std::to_string(realtimePriority)});
    } else {
        arguments.emplace_back("--no-realtime");
    }
    arguments.insert(arguments.end(), {"-n", serverName, "-d", "dummy", "-r", std::to_string(sampleRate), "-p",
                                       std::to_string(bufferSize)});
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    // The signal below comes when the starting thread ends: only the main thread's lasts as
    // long as the process.
    const bool fromMainThread = gettid() == parent;
    pid = fork();
    if (pid == 0) {
        // A test process that dies without its destructors (a sanitizer's report, a timeout)
        // takes its server along: a server left behind holds one of the few places JACK has
        // for servers, and later runs cannot start theirs.
        if (fromMainThread) prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        execvp("jackd", argv.data());
        _exit(127);
    }
    ready = false;
    for (int attempt = 0; attempt < 200 && !ready && pid > 0; ++attempt) {
        jack_status_t status{};
        if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status)) {
            jack_client_close(probe);
            ready = true;
        } else {
            platform::sleepMs(50);
        }
    }
    return ready;
}

void JackServer::stop(int signal) {
    ready = false;
    if (pid <= 0) return;
    kill(pid, signal);
    int status = 0;
    for (int waited = 0; waited < 250 && waitpid(pid, &status, WNOHANG) == 0; ++waited) platform::sleepMs(20);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

} // namespace trelvo::test
