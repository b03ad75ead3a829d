// The scanner's worker: one plug-in library loaded, opened, its editor shown and pictured,
// in a process of its own, so that whatever the library does ends here and not in the
// window the musician plays with. It tells the scanner how far it got, line by line on
// standard output:
//
//   stage<TAB>load | open | editor | picture     before each step
//   result<TAB><code><TAB><text>                  the outcome, last
//
// with the codes of the scan's categories: E picture taken ("<width>x<height>"), L no
// editor worth a picture, V cannot be loaded, U anything else.

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/RunModes.h"
#include "diag/DiagLog.h"
#include "platform/Clock.h"
#include "platform/TrelvoHome.h"
#include "rack/Rack.h"
#include "ui/TVstEdt.h"

namespace trelvo::app {

namespace {

/// The report channel: descriptor 3 when the scanner gave one (a plug-in that prints to
/// standard output cannot mix into it), else standard output.
int reportChannel() {
    static const int channel = ::fcntl(3, F_GETFD) >= 0 ? 3 : 1;
    return channel;
}

void say(const char* kind, const std::string& text) {
    const std::string line = std::string(kind) + "\t" + text + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t wrote = ::write(reportChannel(), line.data() + done, line.size() - done);
        if (wrote <= 0) {
            if (wrote < 0 && errno == EINTR) continue;
            return;
        }
        done += static_cast<std::size_t>(wrote);
    }
}

/// The answer, and the end: what a library does while it is unloaded (or its static
/// destructors) cannot change a result already given, nor keep the scanner waiting.
[[noreturn]] void result(char code, const std::string& text) {
    say("result", std::string(1, code) + "\t" + text);
    std::_Exit(0);
}

/// Some libraries take their time to draw their first picture.
int settleMsFor(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* slow : {"KONTAKT", "B4", "FM7", "COBALT"})
        if (upper.find(slow) != std::string::npos) return 1500;
    return 333;
}

} // namespace

int runScanWorker(const std::string& libraryPath, const std::string& pictureFile, int& argc, char** argv) {
    // A worker never outlives the scan that started it (nor one that ended before this
    // line ran).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) return 1;
    diag::theLog().switches.debugOutput = false;
    say("stage", "load");
    rack::Rack rack;
    rack.addSlot(rack::SlotKind::Output);
    rack.addSlot(rack::SlotKind::Channel);
    host::TVstPlugIn& plugIn = rack.slot(2);
    plugIn.DllPath = libraryPath;
    const std::string file = platform::fileNamePart(libraryPath);
    plugIn.SlotName = file.substr(0, file.find_last_of('.'));
    say("stage", "open");
    plugIn.Open();
    if (!plugIn.Opened.load() || plugIn.isQuarantined()) result('V', "cannot be loaded");
    rack.setNumSlots(3);
    if (!plugIn.hasEditor()) {
        result('L', "has no editor");
    }

    say("stage", "editor");
    QApplication application(argc, argv);
    // An X error of the editor is logged, as in the main window; Xlib's own handler would
    // end the worker for what the window survives.
    if (QGuiApplication::platformName() == "xcb") ui::installX11ErrorHandler();
    const ERect rect = plugIn.EditGetRect();
    QWidget window;
    window.setWindowTitle(QString::fromStdString(plugIn.SlotName));
    window.setAttribute(Qt::WA_NativeWindow);
    window.setAttribute(Qt::WA_DontCreateNativeAncestors);
    window.resize(std::max(rect.right - rect.left, 1), std::max(rect.bottom - rect.top, 1));
    window.move(0, 0);
    window.setAttribute(Qt::WA_ShowWithoutActivating); // the scan window keeps the keys
    window.show();
    QApplication::processEvents();
    if (plugIn.EditOpen(reinterpret_cast<void*>(window.winId())) == 0 && plugIn.isQuarantined()) {
        result('U', "unknown error #0, OpenEditor failed?");
    }
    // The editor may size itself once open.
    const ERect opened = plugIn.EditGetRect();
    const int width = opened.right - opened.left, height = opened.bottom - opened.top;
    if (width > 0 && height > 0) window.resize(width, height);
    QElapsedTimer settling;
    settling.start();
    while (settling.elapsed() < settleMsFor(file)) {
        plugIn.EditIdle();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        platform::sleepMs(10);
    }
    if (plugIn.isQuarantined()) {
        result('U', "unknown error #1, invalid Editor?");
    }

    say("stage", "picture");
    if (width < 1 || height < 1) {
        result('L', "editor wdt/hgt = 0");
    }
    // Written under another name first: a picture file is there only once it is whole.
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    const std::string partial = pictureFile + ".part";
    const bool saved = !picture.isNull() && picture.save(QString::fromStdString(partial), "PNG") &&
                       std::rename(partial.c_str(), pictureFile.c_str()) == 0;
    if (!saved) std::remove(partial.c_str());
    if (!saved) result('U', "the picture could not be written to " + pictureFile);
    result('E', std::to_string(picture.width()) + "x" + std::to_string(picture.height()));
}

} // namespace trelvo::app
