// What the idle main window costs: a rack of 32 slots with its meters moving, the window open
// on the X server of DISPLAY, and nobody touching it. tools/measure-idle-window.sh runs it on
// Xvfb.
//
//   trelvo_idle_window [SECONDS] [--size WIDTHxHEIGHT] [--parts]
//
// The user-interface thread's CPU time is read from its own thread clock at the start and the
// end of the measured period; the process's CPU time (the Dummy driver's audio thread running
// the 16 plug-ins, the meter feed below) is printed beside it for context. --parts also times
// every event the application delivers, by kind, to show where the thread's time goes; that
// costs two clock reads per event, so the headline figure is best taken without it.
//
// The meters: the Dummy driver's inputs are silent, so a thread of this program plays the part
// of the music. Every 10 ms, about one audio block, it raises each mixer slot's PeakL and PeakR
// the way the engine's strip processing does after a block (a relaxed store when the new peak
// is higher), with a beat-like envelope that differs from strip to strip. The window's idle
// tick takes those peaks exactly as it takes the engine's; nothing in the program is changed
// for the measurement, and the feed runs on a thread of its own, outside the measured clock.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHeaderView>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestPaths.h"
#include "session/RackController.h"
#include "session/Session.h"
#include "ui/SlotListModel.h"
#include "ui/SlotListView.h"
#include "ui/TMainForm.h"

namespace {

constexpr int kChannels = 15;
constexpr int kSlots = 32;
constexpr int kFeedPeriodMs = 10;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& value) {
        return static_cast<double>(value.tv_sec) + 1e-6 * static_cast<double>(value.tv_usec);
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

struct Options {
    double seconds = 20.0;
    int width = 800;
    int height = 900; // every one of the 32 rows in sight, so that every meter is drawn
    bool parts = false;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--parts") {
            options.parts = true;
        } else if (argument == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2) return false;
        } else {
            char* end = nullptr;
            options.seconds = std::strtod(argument.c_str(), &end);
            if (end == argument.c_str() || *end != '\0' || options.seconds <= 0.0) return false;
        }
    }
    return options.width > 0 && options.height > 0;
}

/// 1 OUTPUT with a gain, then 15 CHANNELs with a gain each: 16 mixer rows, 32 slots.
std::string rackProject(const Options& options) {
    std::string text = "[Layout]\n";
    text += "MainWindowX=10\nMainWindowY=10\n";
    text += "MainWindowW=" + std::to_string(options.width) + "\n";
    text += "MainWindowH=" + std::to_string(options.height) + "\n";
    text += "LTsplit=10000\ncurLV=1\n\n[Tabs]\nTab-1=Page 1\n\n[Project]\nNrOfScenes=0\n";
    int number = 0;
    const auto slot = [&](const std::string& keys) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%02d_", ++number);
        text += std::string(prefix) + "SlotID=" + std::to_string(5000 + number) + "\n";
        for (std::size_t start = 0; start <= keys.size();) {
            const std::size_t end = std::min(keys.find('\n', start), keys.size());
            text += std::string(prefix) + keys.substr(start, end - start) + "\n";
            start = end + 1;
        }
    };
    const auto gain = [&](int strip) {
        slot("PLUGIN=Gain " + std::to_string(strip) + "\nDLLfile=TrelvoGain.so\nRunMode=bmso");
    };
    slot("OUTPUT=Master\nRunMode=bms");
    gain(0);
    for (int channel = 1; channel <= kChannels; ++channel) {
        slot("CHANNEL=Channel " + std::to_string(channel) + "\nRunMode=bms");
        gain(channel);
    }
    return text;
}

bool writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    return static_cast<bool>(file);
}

/// Runs the event loop until ready() holds or timeoutMs passes.
bool waitUntil(const std::function<bool()>& ready, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

/// Plays the part of music on the mixer slots' peak fields (see the top of the file).
class MeterFeed {
public:
    explicit MeterFeed(std::vector<std::atomic<float>*> peakFields) : fields(std::move(peakFields)) {
        thread = std::thread([this] { run(); });
    }
    ~MeterFeed() {
        stopping.store(true);
        thread.join();
    }
    MeterFeed(const MeterFeed&) = delete;
    MeterFeed& operator=(const MeterFeed&) = delete;

private:
    void run() {
        const auto start = std::chrono::steady_clock::now();
        auto next = start;
        std::uint32_t noise = 12345;
        while (!stopping.load()) {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            for (std::size_t i = 0; i < fields.size(); ++i) {
                // A hit every beat (120 to 150 per minute, strip by strip) decaying in about
                // 200 ms over a floor, levels from about -30 dB to a little over full scale.
                const double beat = 0.4 + 0.01 * static_cast<double>(i / 2);
                const double phase = std::fmod(seconds + 0.037 * static_cast<double>(i), beat);
                const double loudness = 0.05 + 0.06 * static_cast<double>(i / 2);
                noise = noise * 1664525u + 1013904223u;
                const double jitter = 0.85 + 0.3 * static_cast<double>(noise >> 8) / 16777216.0;
                const auto peak = static_cast<float>(loudness * jitter * (0.15 + std::exp(-phase / 0.2)));
                std::atomic<float>& field = *fields[i];
                if (peak > field.load(std::memory_order_relaxed)) field.store(peak, std::memory_order_relaxed);
            }
            next += std::chrono::milliseconds(kFeedPeriodMs);
            std::this_thread::sleep_until(next);
        }
    }

    std::vector<std::atomic<float>*> fields;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

/// With --parts, times every event delivered from the event loop (not the ones sent while
/// another is handled: those count with it) by what it is for.
class TimedApplication : public QApplication {
public:
    enum Part { IdleTick, Painting, OtherEvents, NumParts };

    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (!timing || nested > 0) return QApplication::notify(receiver, event);
        ++nested;
        const double start = threadCpuSeconds();
        const bool result = QApplication::notify(receiver, event);
        seconds[partOf(receiver, event)] += threadCpuSeconds() - start;
        --nested;
        return result;
    }

    bool timing = false;
    QObject* idleTimer = nullptr;
    std::array<double, NumParts> seconds{};
    std::array<int, NumParts> counts{};

private:
    Part partOf(QObject* receiver, QEvent* event) {
        Part part = OtherEvents;
        if (receiver == idleTimer && event->type() == QEvent::Timer)
            part = IdleTick;
        else if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::UpdateLater ||
                 event->type() == QEvent::Paint)
            part = Painting;
        ++counts[part];
        return part;
    }

    int nested = 0;
};

int run(int argc, char** argv, const Options& options, const std::filesystem::path& home) {
    const std::filesystem::path project = home / "Rack32.vprj";
    if (!writeFile(home / "Trelvo.ini", "[ASIO]\r\nDriver=Dummy\r\n") || !writeFile(project, rackProject(options))) {
        std::fprintf(stderr, "trelvo_idle_window: cannot write the project into %s\n", home.c_str());
        return 1;
    }
    setenv("TRELVO_HOME", home.c_str(), 1);
    setenv("VST_PATH", folderOf(TrelvoGain_PATH).c_str(), 1);

    TimedApplication application(argc, argv);
    QApplication::setApplicationName("Trelvo");
    trelvo::app::Session session(true);
    trelvo::ui::TMainForm form(session, project.string());
    form.show();
    if (!waitUntil([&] { return form.stage() == trelvo::ui::TMainForm::Stage::Painted; }, 15000)) {
        std::fprintf(stderr, "trelvo_idle_window: the window did not start\n");
        return 1;
    }
    trelvo::rack::RackController& controller = form.controller();
    trelvo::rack::Rack& rack = controller.rack();
    if (rack.numSlots() != kSlots) {
        std::fprintf(stderr, "trelvo_idle_window: the rack has %d slots, not %d (are the plug-ins built?)\n",
                     rack.numSlots(), kSlots);
        return 1;
    }
    // The split and the first paints settle before the clock starts.
    runEventLoopFor(1000);

    std::vector<std::atomic<float>*> peakFields;
    int loadedPlugIns = 0;
    for (int i = 0; i < rack.numSlots(); ++i) {
        trelvo::host::TVstPlugIn& slot = rack.slot(i);
        if (slot.IsMixer) {
            peakFields.push_back(&slot.PeakL);
            peakFields.push_back(&slot.PeakR);
        } else if (slot.PlugLoaded.load()) {
            ++loadedPlugIns;
        }
    }
    if (loadedPlugIns != kSlots / 2) {
        std::fprintf(stderr, "trelvo_idle_window: %d of %d plug-ins loaded from %s\n", loadedPlugIns, kSlots / 2,
                     folderOf(TrelvoGain_PATH).c_str());
        return 1;
    }
    for (QTimer* timer : form.findChildren<QTimer*>())
        if (timer->isActive() && !timer->isSingleShot() && timer->interval() == controller.idlePeriodMs())
            application.idleTimer = timer;
    trelvo::ui::SlotListView& list = *form.slotList();
    const int shownRows = std::min(rack.numSlots(), list.viewport()->height() / trelvo::ui::SlotListView::kRowHeight);

    // Proof that the meters move: the model reports every changed meter of a row.
    int meterUpdates = 0;
    QObject::connect(list.listModel(), &trelvo::ui::SlotListModel::meterChanged, &form,
                     [&meterUpdates] { ++meterUpdates; });

    double uiSeconds = 0, processSeconds = 0, wallSeconds = 0;
    std::uint32_t ticks = 0;
    {
        MeterFeed feed(std::move(peakFields));
        runEventLoopFor(300); // the meters are up before the clock starts
        meterUpdates = 0;
        const std::uint32_t ticksBefore = rack.host().idleTick.load();
        const double uiBefore = threadCpuSeconds();
        const double processBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        application.timing = options.parts;
        runEventLoopFor(static_cast<int>(options.seconds * 1000.0));
        application.timing = false;
        uiSeconds = threadCpuSeconds() - uiBefore;
        processSeconds = processCpuSeconds() - processBefore;
        wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        ticks = rack.host().idleTick.load() - ticksBefore;
    }

    std::printf("slots: %d (%d mixer rows with meters, %d plug-ins loaded), rows in sight: %d\n", rack.numSlots(),
                static_cast<int>(std::count_if(controller.rows.begin(), controller.rows.end(),
                                               [](const trelvo::rack::RowView& row) { return row.style == 'b'; })),
                loadedPlugIns, shownRows);
    std::printf("window: %d x %d, slot list %d x %d\n", form.width(), form.height(), list.width(), list.height());
    std::printf("period: %.1f s, idle ticks: %u (every %d ms, %.1f per second)\n", wallSeconds, ticks,
                controller.idlePeriodMs(), ticks / wallSeconds);
    std::printf("meter changes: %d (%.1f of 16 meters per tick)\n", meterUpdates,
                ticks > 0 ? static_cast<double>(meterUpdates) / ticks : 0.0);
    std::printf("user-interface thread: %.2f %% of one core (%.3f s CPU, %.0f us per tick)\n",
                100.0 * uiSeconds / wallSeconds, uiSeconds, ticks > 0 ? 1e6 * uiSeconds / ticks : 0.0);
    std::printf("whole process: %.2f %% of one core (%.3f s CPU; the audio thread, the meter feed)\n",
                100.0 * processSeconds / wallSeconds, processSeconds);
    if (options.parts) {
        static const char* const kNames[] = {"idle tick (controller, model, labels)", "painting (paint, flush to X)",
                                             "other events"};
        double timed = 0;
        for (int part = 0; part < TimedApplication::NumParts; ++part) {
            timed += application.seconds[static_cast<std::size_t>(part)];
            std::printf("  %-40s %6.2f %% (%d events)\n", kNames[part],
                        100.0 * application.seconds[static_cast<std::size_t>(part)] / wallSeconds,
                        application.counts[static_cast<std::size_t>(part)]);
        }
        std::printf("  %-40s %6.2f %%\n", "outside events (event loop, X input)",
                    100.0 * (uiSeconds - timed) / wallSeconds);
    }
    form.close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: trelvo_idle_window [SECONDS] [--size WIDTHxHEIGHT] [--parts]\n");
        return 2;
    }
    char pattern[] = "/tmp/trelvo-idle-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "trelvo_idle_window: cannot make a temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    const std::filesystem::path home = pattern;
    const int status = run(argc, argv, options, home);
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return status;
}
