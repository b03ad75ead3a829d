#pragma once

#include <string>
#include <vector>

namespace trelvo::platform {

/// The per-user local socket through which a second start reaches the running copy: the
/// running copy listens, a second start connects, sends one line and waits for "ok". Only a
/// socket that belongs to this user and that no one else may open is ever connected to or
/// replaced. Thread: user interface.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// "$XDG_RUNTIME_DIR/trelvo-<uid>.socket", else the same name in /tmp. A home folder
    /// given by TRELVO_HOME adds a hash of it to the name: each home runs one copy.
    static std::string socketPath();

    enum class Reach {
        NoneRunning, ///< nothing listens there (no socket, or a stale one)
        Delivered,   ///< the running copy answered "ok"
        NotOurs,     ///< a socket another user owns, or one others may open: left alone
        NoAnswer,    ///< a copy took the line but did not answer in time
    };
    /// Sends one line (without its line end) to the copy listening at path and waits up to
    /// timeoutMs for its answer.
    static Reach send(const std::string& path, const std::string& line, int timeoutMs);

    /// Listens at path, replacing a stale socket of this user's; the socket is made readable
    /// by its owner only. False with the reason in error.
    bool listen(const std::string& path, std::string& error);
    bool listening() const noexcept { return serverFd >= 0; }
    /// The lines received since the last call, each answered "ok". Never blocks for long:
    /// a client that sends nothing within 200 ms is dropped.
    std::vector<std::string> take();

private:
    int serverFd = -1;
    std::string boundPath;
};

} // namespace trelvo::platform
