// The scanner on a folder of real libraries, under an X server: the project's own plug-ins,
// faulty ones that crash or hang, and a third-party one. Every library is sorted, the
// faulty ones end their workers, not the test, and a second pass loads nothing.
#include "session/PluginScanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>

#include "TestPaths.h"
#include "platform/Clock.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/ThirdPartyPlugins.h"

namespace trelvo::rack {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

bool listed(const std::vector<std::string>& list, const std::string& name, const std::string& text = {}) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
        return entry.rfind(name + " ", 0) == 0 && entry.find(text) != std::string::npos;
    });
}

/// A picture of the size given (any size for 0) with more than one colour in it: something
/// was drawn.
bool drawn(const std::string& file, int width, int height) {
    const QImage image(QString::fromStdString(file));
    if (image.isNull() || (width > 0 && image.width() != width) || (height > 0 && image.height() != height))
        return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            if (image.pixel(x, y) != first) return true;
    return false;
}

/// The slow faulty plug-in hangs in effOpen for as long as this object lives.
struct SlowOpenHangs {
    SlowOpenHangs() { setenv("TRELVO_FAULTY_SLOW_MS", "600000", 1); }
    ~SlowOpenHangs() { unsetenv("TRELVO_FAULTY_SLOW_MS"); }
};

TEST(PluginScanner, EveryLibraryIsSortedTheFaultyOnesEndOnlyTheirWorkersAndASecondPassSkipsThemAll) {
    test::LogCapture log;
    test::TempFolder plugins, images;
    SlowOpenHangs hangs;
    std::vector<std::string> libraries{TrelvoSynth_PATH,
                                       TrelvoGain_PATH,
                                       TrelvoFaulty_CrashInEntry_PATH,
                                       TrelvoFaulty_CrashInOpen_PATH,
                                       TrelvoFaulty_SlowOpen_PATH,
                                       TrelvoFaulty_CrashInEditOpen_PATH};
    // A few third-party plug-ins (drawn with OpenGL), when installed.
    std::vector<std::string> dpf;
    for (const std::string& path : test::thirdPartyPlugins())
        for (const char* wanted : {"3BandEQ-vst.so", "AmplitudeImposer-vst.so", "Kars-vst.so"})
            if (path.ends_with(std::string("/") + wanted)) dpf.push_back(path);
    libraries.insert(libraries.end(), dpf.begin(), dpf.end());
    fs::create_directory(plugins.file("sub"));
    for (const std::string& library : libraries)
        fs::copy_file(library,
                      plugins.file((library == TrelvoGain_PATH ? "sub/" : "") + fs::path(library).filename().string()));

    PluginScanner::Environment environment;
    environment.imagesFolder = images.path();
    environment.vstFolders = {plugins.path()};
    environment.workerCommand = {TRELVO_EXECUTABLE_PATH, "--scan-worker"};
    // The scan's clock moves only when the test says: no library runs out of time on a
    // slow machine, and the hanging one does once the pass has been seen going on.
    std::uint32_t now = 0;
    environment.nowMs = [&now] { return now; };
    environment.timeLimitMs = 1000;
    PluginScanner scanner(environment);
    EXPECT_EQ(scanner.scan(plugins.path()),
              "scanVSTs done: " + plugins.path() + ", " + std::to_string(libraries.size()) + " DLLs");
    ASSERT_EQ(scanner.dllList.size(), libraries.size());
    EXPECT_EQ(scanner.dllList.back(), "     " + plugins.file("sub/TrelvoGain.so")); // sub-folders after the files

    scanner.startPictures();
    int ticksWhileHanging = 0;
    const std::uint32_t began = platform::tickCountMs();
    while (scanner.tick() && platform::tickCountMs() - began < 120000) {
        // The pass never waits for a worker: it keeps ticking while one hangs, and only
        // then does the hanging one run out of time.
        if (scanner.workerRunning() && scanner.progressText().find("TrelvoFaulty-SlowOpen.so") != std::string::npos &&
            ++ticksWhileHanging == 20)
            now += 5000;
        platform::sleepMs(10);
    }
    ASSERT_FALSE(scanner.running()) << "the pass did not end";
    EXPECT_GE(ticksWhileHanging, 20);

    EXPECT_TRUE(drawn(scanner.pictureOf(TrelvoSynth_PATH), 400, 200));
    EXPECT_THAT(scanner.gui, ::testing::Contains("TrelvoSynth.so"));
    EXPECT_TRUE(listed(scanner.guiless, "TrelvoGain.so", "has no editor"));
    EXPECT_TRUE(listed(scanner.invalid, "TrelvoFaulty-CrashInEntry.so"));
    EXPECT_TRUE(listed(scanner.invalid, "TrelvoFaulty-CrashInOpen.so"));
    EXPECT_TRUE(listed(scanner.invalid, "TrelvoFaulty-SlowOpen.so", "did not answer within 1 s (open)"));
    EXPECT_TRUE(listed(scanner.unknownError, "TrelvoFaulty-CrashInEditOpen.so"));
    for (const std::string& path : dpf) {
        const std::string name = fs::path(path).filename().string();
        if (name == "Kars-vst.so") { // a synthesizer without an editor
            EXPECT_TRUE(listed(scanner.guiless, name, "has no editor"));
            continue;
        }
        EXPECT_THAT(scanner.gui, ::testing::Contains(name));
        EXPECT_TRUE(drawn(scanner.pictureOf(path), 0, 0)) << name;
    }
    EXPECT_THAT(scanner.summary, HasSubstr("PNG scan done: "));
    const std::string results = test::readFile(images.file("_VSTimages.ini"));
    EXPECT_THAT(results, HasSubstr("[invalid]\r\n=TrelvoFaulty-CrashInEntry.so "));
    EXPECT_THAT(results.substr(results.find("[guiless]")), HasSubstr("\r\n=TrelvoGain.so has no editor\r\n"));

    // A second scanner reads what the first found and starts no worker at all.
    PluginScanner again(environment);
    again.scan("*");
    again.startPictures();
    while (again.tick()) {
        EXPECT_EQ(again.progressText(), "scanning...") << "a worker was started";
    }
    EXPECT_EQ(again.summary, "PNG scan done: " + std::to_string(libraries.size()) + " DLLs, 0 imgs");
    EXPECT_TRUE(fs::is_empty(images.path()) == false);
    for (const auto& entry : fs::directory_iterator(images.path()))
        EXPECT_FALSE(entry.path().string().ends_with(".part")) << "a half-written picture was left";
}

TEST(PluginScanner, EscEndsTheHangingWorkerAndTheNextPassStartsAfresh) {
    test::LogCapture log;
    test::TempFolder plugins, images;
    SlowOpenHangs hangs;
    fs::copy_file(TrelvoFaulty_SlowOpen_PATH, plugins.file("TrelvoFaulty-SlowOpen.so"));
    fs::copy_file(TrelvoGain_PATH, plugins.file("TrelvoGain.so"));
    PluginScanner::Environment environment;
    environment.imagesFolder = images.path();
    environment.workerCommand = {TRELVO_EXECUTABLE_PATH, "--scan-worker"};
    environment.nowMs = [] { return 0u; }; // no library ever runs out of time here
    PluginScanner scanner(environment);
    scanner.scan(plugins.path());

    for (int pass = 0; pass < 2; ++pass) {
        scanner.startPictures();
        const std::uint32_t began = platform::tickCountMs();
        while (scanner.tick() && !scanner.workerRunning() && platform::tickCountMs() - began < 30000)
            platform::sleepMs(10);
        ASSERT_TRUE(scanner.workerRunning()) << "pass " << pass;
        EXPECT_THAT(scanner.progressText(), HasSubstr("TrelvoFaulty-SlowOpen.so"));
        scanner.cancel();
        while (scanner.tick()) platform::sleepMs(10);
        EXPECT_EQ(scanner.summary, "PNG scan cancelled: 2 DLLs, 0 imgs");
        EXPECT_FALSE(scanner.workerRunning());
        // A cancelled library is not sorted: the next pass tries it again.
        EXPECT_TRUE(scanner.invalid.empty());
        EXPECT_TRUE(scanner.unknownError.empty());
    }
}

} // namespace
} // namespace trelvo::rack
