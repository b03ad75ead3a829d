#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace trelvo::rack {

/// The plug-in scanner: an inventory of the libraries under the VST folders, and a picture
/// pass that loads each library, opens its editor and saves its picture, sorting every
/// library into a category. Each library of the picture pass is handled by a worker process
/// of Trelvo's own ("trelvo --scan-worker"), one at a time and within a time limit: a library
/// that crashes or hangs ends its worker, never the program, and the next one goes on in a
/// fresh worker. The results live in "_VSTimages.ini" and text logs in the images folder, so
/// that a later pass skips what is known. Thread: user interface; tick() is driven by a
/// timer and never waits.
class PluginScanner {
public:
    struct Environment {
        std::string imagesFolder;
        std::vector<std::string> vstFolders;
        /// The worker's command without its two arguments: {"/usr/bin/trelvo", "--scan-worker"}.
        std::vector<std::string> workerCommand;
        /// How long a worker may take to load, open and picture one library.
        int timeLimitMs = 20000;
        /// A monotonic clock in milliseconds.
        std::function<std::uint32_t()> nowMs;
    };

    explicit PluginScanner(Environment environment);
    ~PluginScanner();
    PluginScanner(const PluginScanner&) = delete;
    PluginScanner& operator=(const PluginScanner&) = delete;

    // ---- The inventory ----
    /// Walks one folder, or every VST folder for "*". cancelled is asked after every file;
    /// true ends the walk. Returns the result text ("scanVSTs done: <folder>, 12 DLLs").
    std::string scan(const std::string& folder, const std::function<bool()>& cancelled = {});

    /// "     <path>": one line per library found, in walk order.
    std::vector<std::string> dllList;
    /// name TAB folder number TAB folder TAB size TAB file time.
    std::vector<std::string> vstList;
    /// The categories: entries start with the library's file name.
    std::vector<std::string> gui, guiless, invalid, ignore, unknownError, custom;

    // ---- The picture pass ----
    /// Starts with the first library of dllList.
    void startPictures();
    /// One step: starts the next worker, or reads the running one's answer, or ends a worker
    /// past its time. False once the pass is over (summary then says how it went).
    bool tick();
    /// Esc: the running worker is ended and the pass stops.
    void cancel();
    bool running() const noexcept { return passRunning; }
    void setTimeLimit(int milliseconds) noexcept { env.timeLimitMs = milliseconds; }
    void setClock(std::function<std::uint32_t()> nowMs) { env.nowMs = std::move(nowMs); }
    /// A worker is running (it may be waiting on a library that hangs).
    bool workerRunning() const noexcept { return worker > 0; }
    /// "3/12: Synth.so, 2 s": the library being pictured and for how long.
    std::string progressText() const;
    /// "PNG scan done: 12 DLLs, 9 imgs", or "PNG scan cancelled: ...".
    std::string summary;
    /// The log lines of the results, in order (also written to the scan logs).
    std::vector<std::string> lines;

    /// The picture file of a library: images folder + its base name + ".png".
    std::string pictureOf(const std::string& library) const;

private:
    void walk(const std::string& root, const std::string& sub, int folderNumber, const std::function<bool()>& cancelled,
              bool& stop);
    void readIni();
    void writeIni();
    void appendLog(const std::string& category, const std::string& line);
    /// Records a result: code E, L, V or U, as the worker reports them.
    void record(const std::string& library, char code, const std::string& text);
    bool known(const std::string& name, std::string& why) const;
    void startWorker(const std::string& library);
    void readWorker();
    void finishWorker(bool timedOut, bool cancelled = false);
    void stopWorker();
    void reapStopped();
    void endPass(bool cancelled);

    Environment env;
    bool passRunning = false;
    bool cancelRequested = false;
    std::size_t position = 0;
    int pictures = 0;
    pid_t worker = -1;
    int workerOutput = -1;
    std::string output;
    std::string workerLibrary;
    std::uint32_t workerStarted = 0;
    std::vector<pid_t> stopped; ///< ended workers not reaped yet
    std::string setupFailure;   ///< why no worker could be started: the pass stops
    bool iniWritable = true;
    std::string otherSections;                                 ///< sections of the results file Trelvo does not know
    std::set<std::pair<std::uint64_t, std::uint64_t>> visited; ///< folders of a walk
};

} // namespace trelvo::rack
