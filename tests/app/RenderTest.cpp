// trelvo --render end to end: the demo, the project's own and third-party plug-ins, audio
// input, and bad input, each run as the program on a fresh Trelvo home folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cmath>
#include <csignal>
#include <filesystem>

#include "TestPaths.h"
#include "host/TVstPlugIn.h"
#include "media/AudioFile.h"
#include "persist/AppSettings.h"
#include "session/RackController.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"
#include "support/ThirdPartyPlugins.h"

namespace trelvo::test {
namespace {

using ::testing::HasSubstr;

const std::string kDemo = std::string(TRELVO_SOURCE_DIR) + "/share/demo/";

class RenderTest : public ::testing::Test {
protected:
    ProgramResult render(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "--render");
        return runProgram(TRELVO_EXECUTABLE_PATH, arguments, {"TRELVO_HOME=" + home.path()}, 120);
    }
    media::AudioFileData read(const std::string& file) {
        media::AudioFileData data;
        std::string error;
        EXPECT_TRUE(media::readAudioFile(file, data, error)) << error;
        return data;
    }
    static float peak(const std::vector<float>& samples, double from, double to, int rate = 48000) {
        float most = 0.0f;
        for (auto i = static_cast<std::size_t>(from * rate);
             i < samples.size() && i < static_cast<std::size_t>(to * rate); ++i)
            most = std::max(most, std::fabs(samples[i]));
        return most;
    }
    /// A sine of the given frequency and amplitude, written as a mono WAV file.
    std::string sine(double frequency, float amplitude, double seconds, int rate = 48000) {
        std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] =
                amplitude * static_cast<float>(std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / rate));
        const std::string file = folder.file("sine-" + std::to_string(static_cast<int>(frequency)) + ".wav");
        std::string error;
        EXPECT_TRUE(media::writeFloatWav(file, samples, samples, rate, error)) << error;
        return file;
    }
    static double rms(const std::vector<float>& samples, std::size_t from) {
        double sum = 0.0;
        for (std::size_t i = from; i < samples.size(); ++i) sum += static_cast<double>(samples[i]) * samples[i];
        return std::sqrt(sum / static_cast<double>(samples.size() - from));
    }

    TempFolder home;
    TempFolder folder;
};

TEST_F(RenderTest, TheDemoPlaysTheSameEveryTimeWithSilenceWhereNoNotePlays) {
    for (const char* out : {"a.wav", "b.wav"}) {
        const ProgramResult result =
            render({kDemo + "demo.vprj", "--midi", kDemo + "demo.mid", "--out", folder.file(out)});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    EXPECT_EQ(readFile(folder.file("a.wav")), readFile(folder.file("b.wav")));
    const media::AudioFileData audio = read(folder.file("a.wav"));
    EXPECT_EQ(audio.sampleRate, 48000);
    EXPECT_EQ(audio.left.size(), 9u * 48000); // the file's 7 s and two seconds of tail
    EXPECT_GT(peak(audio.left, 0.0, 0.3), 0.1f);
    EXPECT_EQ(peak(audio.left, 2.0, 2.5), 0.0f); // the rest on the fifth beat
    EXPECT_GT(peak(audio.left, 6.1, 6.9), 0.5f); // the closing chord
    EXPECT_EQ(peak(audio.left, 7.1, 9.0), 0.0f);
}

TEST_F(RenderTest, AThirdPartyInstrumentPlaysTheMidiFile) {
    const ProgramResult result =
        render({"/usr/lib/vst/Kars-vst.so", "--midi", kDemo + "demo.mid", "--out", folder.file("kars.wav"), "--seconds",
                "3", "--save-project", folder.file("kars.vprj")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const media::AudioFileData audio = read(folder.file("kars.wav"));
    EXPECT_EQ(audio.left.size(), 3u * 48000);
    EXPECT_GT(peak(audio.left, 0.0, 1.0), 0.01f);
    EXPECT_THAT(readFile(folder.file("kars.vprj")), HasSubstr("03_DLLfile=Kars-vst.so\r\n"));
}

TEST_F(RenderTest, AnEffectRackHearsTheInputAtItsGain) {
    // TrelvoGain at gain 0.25 halves what it hears: a program file made by the test.
    const ProgramResult saved = render(
        {TrelvoGain_PATH, "--out", folder.file("x.wav"), "--seconds", "0.1", "--save-fxp", folder.file("g.fxp")});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    std::string program = readFile(folder.file("g.fxp"));
    ASSERT_EQ(program.size(), 64u);
    program.replace(56, 4, std::string("\x3E\x80\x00\x00", 4)); // parameter 0 = 0.25
    writeFile(folder.file("g.fxp"), program);

    const std::string input = sine(440.0, 0.5f, 1.0);
    const ProgramResult result = render({TrelvoGain_PATH, "--in", input, "--fxp", folder.file("g.fxp"), "--out",
                                         folder.file("half.wav"), "--save-project", folder.file("gain.vprj")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const media::AudioFileData in = read(input);
    const media::AudioFileData out = read(folder.file("half.wav"));
    ASSERT_EQ(out.left.size(), 3u * 48000); // the input and two seconds of tail
    for (std::size_t i = 4800; i < in.left.size(); i += 97) ASSERT_NEAR(out.left[i], 0.5f * in.left[i], 1e-6f) << i;
    EXPECT_THAT(readFile(folder.file("gain.vprj")), HasSubstr("02_InpVol=0\r\n"));
}

TEST_F(RenderTest, AThirdPartyEqualiserCutsTheLowsWhenAskedTo) {
    const std::string eq = "/usr/lib/vst/3BandEQ-vst.so";
    const std::string input = sine(80.0, 0.5f, 1.0);
    ASSERT_EQ(
        render({eq, "--in", input, "--out", folder.file("flat.wav"), "--save-fxp", folder.file("eq.fxp")}).exitCode, 0);
    std::string program = readFile(folder.file("eq.fxp"));
    ASSERT_GE(program.size(), 60u);
    program.replace(56, 4, std::string(4, '\0')); // "Low" all the way down
    writeFile(folder.file("eq.fxp"), program);
    const ProgramResult result =
        render({eq, "--in", input, "--fxp", folder.file("eq.fxp"), "--out", folder.file("cut.wav")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const double flat = rms(read(folder.file("flat.wav")).left, 9600);
    const double cut = rms(read(folder.file("cut.wav")).left, 9600);
    EXPECT_GT(flat, 0.1);
    EXPECT_LT(cut, flat / 2); // the low band at its minimum takes 80 Hz down by more than 6 dB
}

// Guards the fault where a plug-in that faulted was quarantined in silence and the render
// still ended with 0.
TEST_F(RenderTest, APlugInThatFaultsEndsTheRenderWithOneAndSaysWhichButTheFileIsWritten) {
    const std::string input = sine(440.0, 0.25f, 0.5);
    const ProgramResult result =
        render({TrelvoFaulty_CrashInProcess_PATH, "--in", input, "--out", folder.file("f.wav")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("slot 2 "));
    EXPECT_THAT(result.err, HasSubstr("(" + std::string(TrelvoFaulty_CrashInProcess_PATH) + ") faulted: SIGSEGV"));
    EXPECT_THAT(result.err, HasSubstr(folder.file("f.wav") + " was written, but a plug-in faulted while rendering"));
    // The faulting plug-in lost its first block, then was passed by: the input plays.
    const media::AudioFileData out = read(folder.file("f.wav"));
    const media::AudioFileData in = read(input);
    ASSERT_GE(out.left.size(), in.left.size());
    for (std::size_t i = 4800; i < in.left.size(); i += 101) ASSERT_NEAR(out.left[i], in.left[i], 1e-6f) << i;
}

// Guards the fault where plug-ins with more than 32 channels read past the pointers they
// were lent, faulted on their first block and were passed by.
TEST_F(RenderTest, WidePlugInsRenderTheirFirstTwoChannels) {
    const std::string input = sine(440.0, 0.25f, 0.5);
    std::vector<std::string> wide = widePlugins();
    wide.insert(wide.begin(), TrelvoWide_PATH);
    for (const std::string& library : wide) {
        SCOPED_TRACE(library);
        const ProgramResult result = render({library, "--in", input, "--out", folder.file("w.wav")});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_THAT(result.err, ::testing::Not(HasSubstr("faulted")));
        media::AudioFileData out = read(folder.file("w.wav"));
        const media::AudioFileData in = read(input);
        ASSERT_GE(out.left.size(), in.left.size());
        out.left.resize(in.left.size());
        out.right.resize(in.right.size());
        // Every one of these passes a plain stereo signal through at its defaults, within
        // the tolerance of the equaliser's filters.
        EXPECT_NEAR(rms(out.left, 4800), rms(in.left, 4800), 0.01);
        EXPECT_NEAR(rms(out.right, 4800), rms(in.right, 4800), 0.01);
    }
}

TEST_F(RenderTest, PlayStartsTheTransportAtTheBeginningForTempoSyncedPlugIns) {
    const ProgramResult playing =
        render({TrelvoTransport_PATH, "--play", "--seconds", "1", "--out", folder.file("p.wav")});
    ASSERT_EQ(playing.exitCode, 0) << playing.err;
    const media::AudioFileData played = read(folder.file("p.wav"));
    ASSERT_EQ(played.left.size(), 48000u);
    // Past the volume ramps of the fresh strip (1000 samples), blocks of 256 frames at 120
    // beats per minute: the block that starts at frame f is f / 24000 beats in.
    EXPECT_EQ(played.left[1100], 1.0f) << "playing from the start";
    EXPECT_NEAR(played.right[1100], 1024.0 / 24000.0 / 1000.0, 1e-9) << "counted from the beginning of the song";
    EXPECT_NEAR(played.right[24064], 24064.0 / 24000.0 / 1000.0, 1e-9);
    EXPECT_EQ(played.left.back(), 1.0f);

    ASSERT_EQ(render({TrelvoTransport_PATH, "--seconds", "1", "--out", folder.file("s.wav")}).exitCode, 0);
    const media::AudioFileData stopped = read(folder.file("s.wav"));
    EXPECT_EQ(peak(stopped.left, 0.0, 1.0), 0.0f) << "without --play the transport stays stopped";
}

TEST_F(RenderTest, AProjectWithTweakedPlugInsRendersAsItSoundedAndSavingItKeepsThatSound) {
    const std::string input = sine(80.0, 0.5f, 1.0);
    std::vector<std::string> libraries = {TrelvoSynth_PATH, TrelvoGain_PATH};
    if (test::fileExists("/usr/lib/vst/3BandEQ-vst.so")) libraries.push_back("/usr/lib/vst/3BandEQ-vst.so");
    for (const std::string& library : libraries) {
        SCOPED_TRACE(library);
        {
            persist::AppSettings settings{home.path()};
            rack::RackController controller(settings);
            controller.newProject();
            controller.rack().slot(1).InpVol.set(0); // the channel hears the input
            host::TVstPlugIn& slot = controller.rack().slot(controller.loadPlugin(library));
            ASSERT_TRUE(slot.PlugLoaded.load());
            if (slot.effectNumPrograms() > 2) slot.SetProgram(2);
            for (int i = 0; i < slot.effectNumParams(); ++i) slot.SetParameter(i, i == 0 ? 0.15f : 0.8f);
            ASSERT_TRUE(controller.saveProjectTo(folder.file("tweaked.vprj")));
        }
        const std::vector<std::string> sound = {"--midi", kDemo + "demo.mid", "--in", input, "--seconds", "2"};
        const auto renderTo = [&](const std::string& project, const std::string& out,
                                  std::vector<std::string> more = {}) {
            std::vector<std::string> arguments = {folder.file(project), "--out", folder.file(out)};
            arguments.insert(arguments.end(), sound.begin(), sound.end());
            arguments.insert(arguments.end(), more.begin(), more.end());
            const ProgramResult result = render(arguments);
            EXPECT_EQ(result.exitCode, 0) << result.err;
        };
        renderTo("tweaked.vprj", "tweaked.wav", {"--save-project", folder.file("saved.vprj")});
        renderTo("saved.vprj", "saved.wav");
        EXPECT_TRUE(readFile(folder.file("saved.wav")) == readFile(folder.file("tweaked.wav")));
        EXPECT_GT(peak(read(folder.file("saved.wav")).left, 0.0, 2.0), 0.01f);

        // Without its state the project plays the named program: the tweaks are heard
        // only through the state.
        std::string older = readFile(folder.file("tweaked.vprj"));
        older.erase(older.find("03_State="));
        writeFile(folder.file("older.vprj"), older);
        renderTo("older.vprj", "older.wav");
        EXPECT_FALSE(readFile(folder.file("older.wav")) == readFile(folder.file("tweaked.wav")));
    }
}

// Guards the faults where saving replaced devices with regular files, made private files
// readable for all and overwrote read-only projects.
TEST_F(RenderTest, SavingRespectsWhatIsThere) {
    const std::string wav = folder.file("private.wav");
    writeFile(wav, "old");
    ASSERT_EQ(chmod(wav.c_str(), 0600), 0);
    const std::string project = folder.file("locked.vprj");
    writeFile(project, "[Project]\r\n");
    ASSERT_EQ(chmod(project.c_str(), 0444), 0);

    const ProgramResult result = render({TrelvoGain_PATH, "--seconds", "0.1", "--out", wav, "--save-project", project});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err,
                HasSubstr("--save-project: cannot save the project " + project + " (" + wav + " was written)"));
    struct stat info {};
    ASSERT_EQ(stat(wav.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "the WAV file keeps its mode";
    EXPECT_EQ(read(wav).left.size(), 4800u);
    EXPECT_EQ(readFile(project), "[Project]\r\n") << "the read-only project is kept";

    const std::string device = folder.file("null");
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(render({TrelvoGain_PATH, "--seconds", "0.1", "--out", device}).exitCode, 0);
        ASSERT_EQ(stat(device.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "a device stays a device";
    }
}

TEST_F(RenderTest, AnInterruptedRenderLeavesTheTargetAsItWasAndNoTemporaryFile) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string out = folder.file("long.wav");
        writeFile(out, "the take from yesterday");
        // Hours of audio: still rendering when the signal comes.
        const ProgramResult result =
            runProgram(TRELVO_EXECUTABLE_PATH, {"--render", TrelvoSynth_PATH, "--seconds", "10000", "--out", out},
                       {"TRELVO_HOME=" + home.path()}, 120, 1500, nullptr, signal);
        EXPECT_EQ(result.exitCode, 128 + signal);
        EXPECT_THAT(result.err, HasSubstr("the render was interrupted; " + out + " was left as it was"));
        EXPECT_EQ(readFile(out), "the take from yesterday");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    }
}

TEST_F(RenderTest, TheWavWriterKeepsEveryFrameOfManySmallBlocksAndCommitReportsAFailedWrite) {
    // A render hands the writer one block at a time and the writer gathers them: blocks of an
    // odd size across several gathered writes, and a tail that only commit writes.
    const std::string file = folder.file("blocks.wav");
    std::string error;
    media::FloatWavWriter writer;
    ASSERT_TRUE(writer.open(file, 48000, error)) << error;
    constexpr int kBlock = 61, kBlocks = 700;
    std::vector<float> left(kBlock), right(kBlock);
    for (int b = 0; b < kBlocks; ++b) {
        for (int i = 0; i < kBlock; ++i) {
            left[static_cast<std::size_t>(i)] = static_cast<float>(b * kBlock + i) * 1e-5f;
            right[static_cast<std::size_t>(i)] = -left[static_cast<std::size_t>(i)];
        }
        ASSERT_TRUE(writer.write(left.data(), right.data(), kBlock, error)) << error;
    }
    ASSERT_TRUE(writer.commit(error)) << error;
    const media::AudioFileData data = read(file);
    ASSERT_EQ(data.left.size(), static_cast<std::size_t>(kBlock * kBlocks));
    for (std::size_t i = 0; i < data.left.size(); ++i) {
        ASSERT_EQ(data.left[i], static_cast<float>(i) * 1e-5f) << i;
        ASSERT_EQ(data.right[i], -data.left[i]) << i;
    }

    // A file that may not grow past 4 KB (the header fits, the frames do not): the frames
    // gathered so far fail when commit writes them, and the render is never told it worked.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string limited = folder.file("limited.wav");
    media::FloatWavWriter writer2;
    const bool opened = writer2.open(limited, 48000, error);
    bool gathered = opened;
    for (int b = 0; gathered && b < 10; ++b) gathered = writer2.write(left.data(), right.data(), kBlock, error);
    const bool committed = gathered && writer2.commit(error);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(opened && gathered) << error; // 610 frames: nothing written before commit
    EXPECT_FALSE(committed);
    EXPECT_THAT(error, HasSubstr("cannot write " + limited));
    EXPECT_FALSE(std::filesystem::exists(limited));
}

TEST_F(RenderTest, AFailedLoadSaysWhy) {
    // A program of the synth, a program cut short, and a file that is not there.
    ASSERT_EQ(render({TrelvoSynth_PATH, "--seconds", "0.1", "--out", folder.file("s.wav"), "--save-fxp",
                      folder.file("synth.fxp")})
                  .exitCode,
              0);
    const std::string program = readFile(folder.file("synth.fxp"));
    writeFile(folder.file("cut.fxp"), program.substr(0, 40));
    writeFile(folder.file("gain.fxp"), "");
    ASSERT_EQ(render({TrelvoGain_PATH, "--seconds", "0.1", "--out", folder.file("g.wav"), "--save-fxp",
                      folder.file("gain.fxp")})
                  .exitCode,
              0);
    writeFile(folder.file("gain-cut.fxp"), readFile(folder.file("gain.fxp")).substr(0, 50));
    std::string other = readFile(folder.file("gain.fxp"));
    other.replace(16, 4, "Othr"); // the plug-in id
    writeFile(folder.file("other.fxp"), other);
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{TrelvoFaulty_NoEntry_PATH}, "could not be loaded: it has no VST 2.x entry point"},
        {{TrelvoFaulty_CrashInEntry_PATH}, "could not be loaded: it crashed while loading (SIGSEGV"},
        {{TrelvoFaulty_ThrowInEntry_PATH}, "could not be loaded: it failed while loading"},
        {{TrelvoFaulty_BadMagic_PATH}, "could not be loaded: it is not a VST 2.x plug-in"},
        {{TrelvoFaulty_CrashInOpen_PATH}, "could not be loaded: it crashed while opening"},
        {{TrelvoGain_PATH, "--fxp", folder.file("other.fxp")},
         "cannot load the preset " + folder.file("other.fxp") + ": the file is for another plug-in"},
        {{TrelvoGain_PATH, "--fxp", folder.file("synth.fxp")},
         "synth.fxp: the file holds a chunk, but this plug-in keeps parameter values"},
        {{TrelvoGain_PATH, "--fxp", folder.file("gain-cut.fxp")}, "gain-cut.fxp: the file is truncated"},
        {{TrelvoGain_PATH, "--fxp", folder.file("none.fxp")}, "none.fxp: the file does not exist"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--seconds", "0.1", "--out", folder.file("o.wav")});
        const ProgramResult result = render(arguments);
        EXPECT_EQ(result.exitCode, 1) << c.message;
        EXPECT_THAT(result.err, HasSubstr(c.message));
    }
}

TEST_F(RenderTest, BadInputEndsWithAClearMessage) {
    writeFile(folder.file("broken.mid"), "MThd nonsense");
    writeFile(folder.file("fake.so"), "not a library");
    writeFile(folder.file("noise.wav"), "RIFF garbage");
    writeFile(folder.file("empty.vprj"), "");
    // The slowest tempo, then an end of track 2^28 ticks later: 142 years of silence.
    writeFile(folder.file("endless.mid"),
              std::string("MThd\0\0\0\6\0\0\0\1\0\1"
                          "MTrk\0\0\0\x0E\0\xFF\x51\3\xFF\xFF\xFF\xFF\xFF\xFF\x7F\xFF\x2F\0",
                          36));
    const std::string slow = sine(440.0, 0.5f, 0.1, 44100);
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{folder.file("missing.vprj"), "--out", folder.file("o.wav")}, "cannot read"},
        {{folder.file("empty.vprj"), "--out", folder.file("o.wav")},
         "is empty: a Trelvo project (.vprj) is a text file"},
        {{folder.file("noise.wav"), "--out", folder.file("o.wav")}, "is a sound file: a Trelvo project"},
        {{kDemo + "demo.vprj", "--midi", folder.file("broken.mid"), "--out", folder.file("o.wav")}, "broken.mid"},
        {{kDemo + "demo.vprj", "--midi", folder.file("endless.mid"), "--out", folder.file("o.wav")},
         "a WAV file holds at most 11184 s"},
        {{folder.file("fake.so"), "--out", folder.file("o.wav")},
         "could not be loaded: it is not a library this system can load"},
        {{kDemo + "demo.vprj", "--out", folder.file("no/such/folder/o.wav")}, "folder does not exist"},
        {{TrelvoGain_PATH, "--in", slow, "--out", folder.file("o.wav")}, "44100 Hz, the render runs at 48000 Hz"},
        {{TrelvoGain_PATH, "--in", folder.file("noise.wav"), "--out", folder.file("o.wav")}, "noise.wav"},
    };
    for (const Case& bad : cases) {
        const ProgramResult result = render(bad.arguments);
        EXPECT_EQ(result.exitCode, 1) << bad.message;
        EXPECT_THAT(result.err, HasSubstr(bad.message));
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("o.wav")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 6)
        << "no temporary file is left behind";
    EXPECT_EQ(render({kDemo + "demo.vprj"}).exitCode, 2); // no --out

    // A program file that may not be overwritten is a failure, even though a file is there.
    writeFile(folder.file("locked.fxp"), "keep me");
    std::filesystem::permissions(folder.file("locked.fxp"), std::filesystem::perms::owner_read);
    const ProgramResult locked = render(
        {TrelvoGain_PATH, "--out", folder.file("l.wav"), "--seconds", "0.1", "--save-fxp", folder.file("locked.fxp")});
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_THAT(locked.err, HasSubstr("cannot save " + folder.file("locked.fxp")));
    EXPECT_EQ(readFile(folder.file("locked.fxp")), "keep me");
}

} // namespace
} // namespace trelvo::test
