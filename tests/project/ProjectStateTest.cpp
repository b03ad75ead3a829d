// The whole state of a project's plug-ins: kept beside the project on saving, brought back
// on loading, with the project's own plug-ins and the Debian ones of the fixed list.
#include "session/ProjectState.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "TestPaths.h"
#include "diag/OpcodeLevels.h"
#include "host/IsolatedEffect.h"
#include "host/TVstPlugIn.h"
#include "session/ProjectFile.h"
#include "session/RackController.h"
#include "support/EnvironmentVariable.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/ThirdPartyPlugins.h"

namespace trelvo::project {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace fs = std::filesystem;

std::vector<float> parameters(host::TVstPlugIn& slot) {
    std::vector<float> values;
    for (int i = 0; i < slot.effectNumParams(); ++i) values.push_back(slot.GetParameter(i));
    return values;
}

/// Moves a plug-in away from any program's values: another program than the first when
/// it has one, then every parameter set to a value no default is likely to have.
/// Returns the values the plug-in then reports.
std::vector<float> tweak(host::TVstPlugIn& slot) {
    if (slot.effectNumPrograms() > 2) slot.SetProgram(2);
    for (int i = 0; i < slot.effectNumParams(); ++i)
        slot.SetParameter(i, static_cast<float>((i * 37 + 13) % 100) / 100.0f);
    return parameters(slot);
}

class ProjectStateTest : public ::testing::Test {
protected:
    ProjectStateTest() {
        fs::create_directories(vst.file("lib"));
        for (const char* library : {TrelvoGain_PATH, TrelvoSynth_PATH})
            fs::copy_file(library, vst.file("lib/" + fs::path(library).filename().string()));
        settings.vstFolders = {{vst.path(), "Mine"}};
        controller = std::make_unique<rack::RackController>(settings);
        controller->newProject();
    }

    host::TVstPlugIn& slot(int index) { return controller->rack().slot(index); }
    std::string lib(const char* name) { return vst.file(std::string("lib/") + name); }
    std::string project(const std::string& name = "p.vprj") { return home.file(name); }
    std::unique_ptr<rack::RackController> reloaded(const std::string& file) {
        auto fresh = std::make_unique<rack::RackController>(settings);
        EXPECT_TRUE(fresh->openProject(file));
        return fresh;
    }
    /// The project's text with every line that holds text taken out.
    static void dropLines(const std::string& file, const std::string& text) {
        std::string kept, all = test::readFile(file);
        std::size_t start = 0;
        while (start < all.size()) {
            const std::size_t end = std::min(all.find('\n', start), all.size() - 1) + 1;
            const std::string line = all.substr(start, end - start);
            if (line.find(text) == std::string::npos) kept += line;
            start = end;
        }
        test::writeFile(file, kept);
    }
    static std::vector<std::string> namesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::LogCapture log;
    test::TempFolder home;
    test::TempFolder vst;
    persist::AppSettings settings{home.path()};
    std::unique_ptr<rack::RackController> controller;
};

TEST(ProjectStateNames, FolderAndFileNamesFollowTheProject) {
    EXPECT_EQ(stateFolderOf("/songs/Live Set.vprj"), "/songs/Live Set.state");
    EXPECT_EQ(stateFolderOf("/songs/Live Set.VPRJ"), "/songs/Live Set.state");
    EXPECT_EQ(stateFolderOf("/songs/set.v1"), "/songs/set.v1.state");
    EXPECT_EQ(stateFolderOf("p.vprj"), "./p.state");
    EXPECT_EQ(stateFileName(3, 5003, true), "03_5003.fxb");
    EXPECT_EQ(stateFileName(3, 5003, false), "03_5003.fxp");
    EXPECT_EQ(stateFileName(12, 7, false), "12_7.fxp");
    EXPECT_TRUE(isStateFileName("03_5003.fxb"));
    EXPECT_TRUE(isStateFileName("03_5003.fxp"));
    for (const char* foreign : {"3_5003.fxb", "03_.fxb", "03_.fxp", "03_5003.fxq", "03_5003.fxb.bak", "03_5003.fxp.bak",
                                "03-5003.fxp", "ab_5003.fxb", "03_50x3.fxp", "notes.txt", ".fxb", ".fxp"})
        EXPECT_FALSE(isStateFileName(foreign)) << foreign;
}

TEST_F(ProjectStateTest, TweakedPlugInsComeBackExactlyInChunkAndParameterForm) {
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so")); // programs are chunks
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));   // parameter form
    ASSERT_TRUE(slot(synth).programsAreChunks());
    ASSERT_FALSE(slot(gain).programsAreChunks());
    const std::vector<float> synthValues = tweak(slot(synth));
    const std::vector<float> gainValues = tweak(slot(gain));
    ASSERT_TRUE(controller->saveProjectTo(project()));

    const std::string text = test::readFile(project());
    EXPECT_THAT(text, HasSubstr("03_State=2,p.state/03_5003.fxb\r\n"));
    EXPECT_THAT(text, HasSubstr("04_State=2,p.state/04_5004.fxp\r\n"));
    EXPECT_EQ(test::readFile(home.file("p.state/03_5003.fxb")).substr(8, 4), "FBCh");
    // The current program alone: its header and the plug-in's two values.
    const std::string program = test::readFile(home.file("p.state/04_5004.fxp"));
    EXPECT_EQ(program.substr(8, 4), "FxCk");
    EXPECT_EQ(program.size(), 56u + 2 * 4);
    EXPECT_EQ(parameters(slot(gain)), gainValues) << "saving leaves the plug-in as it was";

    auto back = reloaded(project());
    EXPECT_EQ(parameters(back->rack().slot(synth)), synthValues);
    EXPECT_EQ(parameters(back->rack().slot(gain)), gainValues);
    EXPECT_EQ(back->rack().slot(synth).GetProgram(), 2);
    EXPECT_EQ(back->rack().slot(gain).GetProgram(), 2);
    EXPECT_THAT(log.errors(), IsEmpty());
}

TEST_F(ProjectStateTest, PlugInsMoveIntoAProcessOfTheirOwnAndBackWithTheirStateAndStayThereInTheProject) {
    const test::EnvironmentVariable worker("TRELVO_SLOT_WORKER", TRELVO_SLOT_WORKER_PATH);
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so"));
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    const std::vector<float> synthValues = tweak(slot(synth));
    const std::vector<float> gainValues = tweak(slot(gain));
    ASSERT_TRUE(controller->setIsolated(synth, true));
    ASSERT_TRUE(controller->setIsolated(gain, true));
    for (const int index : {synth, gain}) {
        ASSERT_TRUE(slot(index).isolation) << index;
        EXPECT_GT(slot(index).isolation->workerPid(), 0);
        EXPECT_EQ(slot(index).GetProgram(), 2);
    }
    EXPECT_EQ(parameters(slot(synth)), synthValues);
    EXPECT_EQ(parameters(slot(gain)), gainValues);

    ASSERT_TRUE(controller->saveProjectTo(project()));
    const std::string text = test::readFile(project());
    EXPECT_THAT(text, HasSubstr("03_isolated=1\r\n"));
    EXPECT_THAT(text, HasSubstr("04_isolated=1\r\n"));
    auto back = reloaded(project());
    EXPECT_TRUE(back->rack().slot(synth).isolation);
    EXPECT_EQ(parameters(back->rack().slot(synth)), synthValues);
    EXPECT_EQ(parameters(back->rack().slot(gain)), gainValues);
    EXPECT_EQ(back->rack().slot(gain).GetProgram(), 2);

    // Back into Trelvo's process; saved again, the project no longer says isolated.
    ASSERT_TRUE(back->setIsolated(gain, false));
    EXPECT_FALSE(back->rack().slot(gain).isolation);
    EXPECT_EQ(parameters(back->rack().slot(gain)), gainValues);
    ASSERT_TRUE(back->saveProjectTo(project()));
    EXPECT_THAT(test::readFile(project()), Not(HasSubstr("04_isolated")));

    // The profile keeps the choice for the library wherever it is loaded next.
    fs::create_directories(settings.vstProfilesFolder);
    ASSERT_TRUE(back->savePluginProfile(synth));
    back.reset();
    controller = std::make_unique<rack::RackController>(settings);
    controller->newProject();
    const int again = controller->loadPlugin(lib("TrelvoSynth.so"));
    EXPECT_TRUE(slot(again).isolation);
    EXPECT_THAT(log.errors(), IsEmpty());
}

/// Logs every call that could change a plug-in's program or state.
void logCallsThatChangeAPlugIn() {
    for (const int opcode : {effSetProgram, effSetProgramName, effSetChunk, effBeginSetProgram, effEndSetProgram,
                             effBeginLoadBank, effBeginLoadProgram})
        diag::plugCallLevels().setLevel(opcode, diag::kLevelAll);
}

std::vector<std::string> callsTo(const std::vector<std::string>& lines) {
    std::vector<std::string> calls;
    for (const std::string& line : lines)
        if (line.find(":dispatchTo ") != std::string::npos) calls.push_back(line);
    return calls;
}

TEST_F(ProjectStateTest, SavingSelectsNoProgramAndLeavesEveryPlugInAsItPlays) {
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so"));
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    const std::vector<float> synthValues = tweak(slot(synth));
    const std::vector<float> gainValues = tweak(slot(gain));
    slot(gain).SetProgramName("Stage mix");
    logCallsThatChangeAPlugIn();
    log.clear();

    ASSERT_TRUE(controller->saveProjectTo(project()));
    ASSERT_TRUE(controller->saveProjectTo(project())); // over the files of the first save
    EXPECT_THAT(callsTo(log.lines()), IsEmpty());
    EXPECT_EQ(slot(synth).GetProgram(), 2);
    EXPECT_EQ(slot(gain).GetProgram(), 2);
    EXPECT_EQ(parameters(slot(synth)), synthValues);
    EXPECT_EQ(parameters(slot(gain)), gainValues);
    EXPECT_EQ(slot(gain).GetProgramName(), "Stage mix");

    // The calls are seen when they are made.
    slot(gain).SetProgram(2);
    EXPECT_TRUE(log.contains(":dispatchTo \"TrelvoGain\", effSetProgram=")) << ::testing::PrintToString(log.lines());
}

TEST_F(ProjectStateTest, AParameterPlugInComesBackWithTheProgramThatPlayedItsNameAndItsValues) {
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    slot(gain).SetProgram(1); // "Half": edits to it are not part of the state
    slot(gain).SetParameter(0, 0.9f);
    slot(gain).SetProgram(3);
    slot(gain).SetParameter(1, 0.3f);
    slot(gain).SetProgramName("Loud left");
    ASSERT_TRUE(controller->saveProjectTo(project()));

    auto back = reloaded(project());
    host::TVstPlugIn& again = back->rack().slot(gain);
    EXPECT_EQ(again.GetProgram(), 3);
    EXPECT_EQ(parameters(again), (std::vector<float>{1.0f, 0.3f}));
    EXPECT_EQ(again.GetProgramName(), "Loud left");
    again.SetProgram(1);
    EXPECT_EQ(parameters(again), (std::vector<float>{0.25f, 0.5f}));
    EXPECT_THAT(log.errors(), IsEmpty());
}

// One plug-in per test: libraries of the same framework share symbols across a process.
class ThirdPartyState : public ProjectStateTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(ThirdPartyState, ComesBackExactlyAndSavingDoesNotChangeItsSound) {
    const int index = controller->loadPlugin(GetParam());
    ASSERT_TRUE(slot(index).PlugLoaded.load()) << ::testing::PrintToString(log.errors());
    const std::vector<float> values = tweak(slot(index));
    const int program = slot(index).GetProgram();
    logCallsThatChangeAPlugIn();
    log.clear();
    ASSERT_TRUE(controller->saveProjectTo(project()));
    EXPECT_THAT(callsTo(log.lines()), IsEmpty());
    // Some plug-ins reload a program's stored values whenever it is selected.
    EXPECT_EQ(parameters(slot(index)), values);
    EXPECT_EQ(slot(index).GetProgram(), program);

    auto back = reloaded(project());
    EXPECT_EQ(parameters(back->rack().slot(index)), values);
    EXPECT_EQ(back->rack().slot(index).GetProgram(), program);
    EXPECT_THAT(log.errors(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Dpf, ThirdPartyState, ::testing::ValuesIn(test::thirdPartyPlugins()), test::pluginTestName);

TEST_F(ProjectStateTest, AProjectWithoutStateKeysLoadsFromItsPresetKeysAsBefore) {
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    slot(gain).SetProgram(3); // "Boost": 1.0, 0.5
    slot(gain).SetParameter(0, 0.7f);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    dropLines(project(), "_State=");
    fs::remove_all(home.file("p.state"));

    auto back = reloaded(project());
    EXPECT_EQ(back->rack().slot(gain).GetProgram(), 3);
    EXPECT_EQ(parameters(back->rack().slot(gain)), (std::vector<float>{1.0f, 0.5f}));
    EXPECT_FALSE(log.contains("state file"));
    EXPECT_THAT(log.errors(), IsEmpty());
}

TEST_F(ProjectStateTest, AMissingOrDamagedStateFileIsLoggedAndTheSlotKeepsItsPresetKeys) {
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so"));
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    slot(synth).SetProgram(4);
    slot(synth).SetParameter(0, 0.9f);
    slot(gain).SetProgram(1); // "Half": 0.25, 0.5
    slot(gain).SetParameter(0, 0.6f);
    ASSERT_TRUE(controller->saveProjectTo(project()));
    const std::string synthFile = home.file("p.state/03_5003.fxb");
    const std::string gainFile = home.file("p.state/04_5004.fxp");
    const std::string whole = test::readFile(gainFile);

    struct Case {
        const char* what;
        std::function<void()> damage;
        const char* why;
    };
    const Case cases[] = {
        {"truncated", [&] { test::writeFile(gainFile, whole.substr(0, whole.size() - 3)); },
         "is damaged (it is truncated)"},
        {"cut inside its header", [&] { test::writeFile(gainFile, whole.substr(0, 30)); },
         "is damaged (it is not a state file)"},
        {"longer than its values", [&] { test::writeFile(gainFile, whole + "xx"); },
         "is damaged (it has bytes past its values)"},
        {"a bank of another form", [&] { test::writeFile(gainFile, whole.substr(0, 8) + "FxBk" + whole.substr(12)); },
         "is damaged (it is not a state file)"},
        {"a chunk for a plug-in of values",
         [&] { fs::copy_file(synthFile, gainFile, fs::copy_options::overwrite_existing); },
         "did not load (the file holds a chunk, but this plug-in keeps parameter values)"},
        {"empty", [&] { test::writeFile(gainFile, ""); }, "is damaged (it is not a state file)"},
        {"missing", [&] { fs::remove(gainFile); }, "is missing"},
        {"for another plug-in", [&] { test::writeFile(gainFile, whole.substr(0, 16) + "Othr" + whole.substr(20)); },
         "did not load (the file is for another plug-in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string synthWhole = test::readFile(synthFile);
        c.damage();
        test::writeFile(synthFile, synthWhole.substr(0, 200)); // a chunk cut short
        log.clear();
        auto back = reloaded(project());
        ASSERT_EQ(back->rack().numSlots(), 4);
        // The preset keys still apply: the programs named, with their stored values.
        EXPECT_EQ(back->rack().slot(gain).GetProgram(), 1);
        EXPECT_EQ(parameters(back->rack().slot(gain)), (std::vector<float>{0.25f, 0.5f}));
        EXPECT_EQ(back->rack().slot(synth).GetProgram(), 4);
        EXPECT_EQ(back->rack().slot(synth).GetParameter(0), 0.5f);
        EXPECT_TRUE(log.contains("loadProject: slot 04 (TrelvoGain): the state file \"" + gainFile + "\" " + c.why))
            << ::testing::PrintToString(log.errors());
        EXPECT_TRUE(log.contains("loadProject: slot 03 (TrelvoSynth): the state file \"" + synthFile +
                                 "\" is damaged (it is truncated); it keeps the state of its preset keys"));
        test::writeFile(gainFile, whole);
        test::writeFile(synthFile, synthWhole);
    }
}

TEST_F(ProjectStateTest, ACopiedProjectFolderFindsItsStates) {
    fs::create_directories(home.file("gig"));
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    const std::vector<float> values = tweak(slot(gain));
    ASSERT_TRUE(controller->saveProjectTo(home.file("gig/Set.vprj")));
    fs::copy(home.file("gig"), home.file("copy"), fs::copy_options::recursive);
    fs::remove_all(home.file("gig"));

    auto back = reloaded(home.file("copy/Set.vprj"));
    EXPECT_EQ(parameters(back->rack().slot(gain)), values);
    EXPECT_EQ(back->rack().slot(gain).ProjectStateFile, home.file("copy/Set.state/03_5003.fxp"));
    EXPECT_THAT(log.errors(), IsEmpty());
}

TEST_F(ProjectStateTest, SavingAgainRemovesItsOwnStaleFilesAndNothingElse) {
    const int synth = controller->loadPlugin(lib("TrelvoSynth.so"));
    controller->loadPlugin(lib("TrelvoGain.so"));
    ASSERT_TRUE(controller->saveProjectTo(project()));
    ASSERT_TRUE(controller->saveProjectTo(project("q.vprj"))); // a sibling project
    const std::string folder = home.file("p.state");
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"03_5003.fxb", "04_5004.fxp"}));
    const std::vector<std::string> foreign = {"3_5003.fxb", "05_5005.fxb.bak", "05_5005.fxp.bak", "05_5005.fxq",
                                              "notes.txt"};
    for (const std::string& name : foreign) test::writeFile(folder + "/" + name, "mine");
    fs::create_directory(folder + "/07_5007.fxb"); // a folder of a state file's name
    // State files of slots gone, of either form, and a bank the slot kept in an older form.
    for (const char* own : {"05_5005.fxb", "06_5006.fxp", "03_5004.fxb"}) test::writeFile(folder + "/" + own, "old");

    ASSERT_TRUE(controller->deleteSlot(rack::SlotKind::Plugin, synth));
    ASSERT_TRUE(controller->saveProjectTo(project()));
    std::vector<std::string> expected = foreign;
    expected.insert(expected.end(), {"03_5004.fxp", "07_5007.fxb"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(folder), expected);
    for (const std::string& name : foreign) EXPECT_EQ(test::readFile(folder + "/" + name), "mine");
    EXPECT_EQ(namesIn(home.file("q.state")), (std::vector<std::string>{"03_5003.fxb", "04_5004.fxp"}));

    // A rack without plug-ins leaves no state folder behind, unless something else is in it.
    controller->newProject();
    ASSERT_TRUE(controller->saveProjectTo(project("q.vprj")));
    EXPECT_FALSE(fs::exists(home.file("q.state")));
    EXPECT_THAT(test::readFile(project("q.vprj")), Not(HasSubstr("_State=")));
}

TEST_F(ProjectStateTest, ASlotWhoseLibraryIsMissingCarriesItsStateOn) {
    const int gain = controller->loadPlugin(lib("TrelvoGain.so"));
    const std::vector<float> values = tweak(slot(gain));
    ASSERT_TRUE(controller->saveProjectTo(project()));
    const std::string state = test::readFile(home.file("p.state/03_5003.fxp"));
    fs::rename(lib("TrelvoGain.so"), home.file("away.so"));

    auto missing = reloaded(project());
    ASSERT_FALSE(missing->rack().slot(gain).PlugLoaded.load());
    ASSERT_TRUE(missing->saveProjectTo(project("later.vprj")));
    EXPECT_EQ(test::readFile(home.file("later.state/03_5003.fxp")), state);
    EXPECT_THAT(test::readFile(project("later.vprj")), HasSubstr("03_State=2,later.state/03_5003.fxp\r\n"));

    fs::rename(home.file("away.so"), lib("TrelvoGain.so"));
    auto found = reloaded(project("later.vprj"));
    EXPECT_EQ(parameters(found->rack().slot(gain)), values);
}

TEST_F(ProjectStateTest, APlugInLoadedWithoutStateOrPresetFileSelectsTheProgramItReports) {
    diag::plugCallLevels().setLevel(effSetProgram, diag::kLevelAll);
    diag::theLog().switches.verbose = true;
    controller->loadPlugin(lib("TrelvoGain.so"));
    diag::theLog().switches.verbose = false;
    EXPECT_TRUE(log.contains("\"TrelvoGain\", effSetProgram(2,0,0,")) << ::testing::PrintToString(log.lines());
}

} // namespace
} // namespace trelvo::project
