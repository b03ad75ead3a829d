#include "host/HostCallback.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <thread>

#include "TestPaths.h"
#include "diag/OpcodeLevels.h"
#include "midi/MidiLock.h"
#include "platform/RealtimeThread.h"
#include "rack/Rack.h"
#include "rack/SlotEvents.h"
#include "support/LogCapture.h"

namespace trelvo::host {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class HostCallbackTest : public ::testing::Test {
protected:
    HostCallbackTest() {
        rack.addSlot(rack::SlotKind::Output);
        rack.addSlot(rack::SlotKind::Channel);
        events.assignToAll();
    }

    TVstPlugIn& open(const char* path, const char* name = "Gain") {
        TVstPlugIn& plugIn = rack.slot(2);
        plugIn.DllPath = path;
        plugIn.SlotName = name;
        plugIn.Open();
        rack.setNumSlots(3);
        return plugIn;
    }

    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return hostCallback(rack.slot(2).PVstEffect.load(), opcode, index, value, ptr, opt);
    }
    static VstIntPtr anonymous(VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr) {
        return hostCallback(nullptr, opcode, 0, value, ptr, 0.0f);
    }
    VstIntPtr canDo(const char* text) { return call(audioMasterCanDo, 0, 0, const_cast<char*>(text)); }

    std::vector<rack::UiMessage> takeMessages() {
        std::vector<rack::UiMessage> taken;
        rack::UiMessage message;
        while (messages.take(message)) taken.push_back(message);
        return taken;
    }

    test::LogCapture log;
    rack::Rack rack;
    rack::UiMessageQueue messages;
    rack::SlotEventHandlers events{rack, messages};
};

TEST_F(HostCallbackTest, CanDoAnswersExactTextsFromTheCapabilityWord) {
    open(TrelvoGain_PATH);
    EXPECT_EQ(canDo("sizeWindow"), 1);
    EXPECT_EQ(canDo("sendVstTimeInfo"), 1);
    EXPECT_EQ(canDo("supplyIdle"), 1);
    EXPECT_EQ(canDo("startStopProcess"), 1);
    EXPECT_EQ(canDo("conformsToWindowRules"), 1);
    EXPECT_EQ(canDo("offline"), 0);
    EXPECT_EQ(canDo("openFileSelector"), 0);
    EXPECT_EQ(canDo("SIZEWINDOW"), 0);
    EXPECT_EQ(canDo(""), 0);
    EXPECT_EQ(canDo("somethingElse"), 0);
    EXPECT_EQ(call(audioMasterCanDo), 0); // no text at all
}

TEST_F(HostCallbackTest, CallsFromTheEntryPointAndFromOpenAreAnonymous) {
    TVstPlugIn& plugIn = open(TrelvoFaulty_CallsHost_PATH, "Early");
    // Entry point: version, automate. effOpen: version, sample rate, automate, canDo.
    const VstIntPtr expected[] = {2300, 0, 2300, 44100, 0, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(plugIn.VendorSpecific(i, 0, nullptr, 0.0f), expected[i]) << "answer " << i;
    // The canDo note lands on whatever line is last, here the second refusal.
    EXPECT_THAT(log.errors(), ElementsAre("*AMcallback 0", "*AMcallback 0, host can: sizeWindow=1"));
    EXPECT_TRUE(takeMessages().empty()); // refused automations post nothing
    // Once open, the same plug-in is identified.
    EXPECT_EQ(call(audioMasterAutomate, 3, 0, nullptr, 0.5f), 0);
    EXPECT_EQ(takeMessages().size(), 1u);
}

TEST_F(HostCallbackTest, AnUnknownOrForeignEffectIsAnonymous) {
    open(TrelvoGain_PATH);
    AEffect stranger{};
    stranger.resvd1 = reinterpret_cast<VstIntPtr>(&stranger); // not one of our slots
    EXPECT_EQ(hostCallback(&stranger, audioMasterAutomate, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(hostCallback(&stranger, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 2048);
    EXPECT_EQ(hostCallback(&stranger, audioMasterGetChunkFile, 0, 0, nullptr, 0.0f), 0);
    EXPECT_THAT(log.errors(), ElementsAre("*AMcallback 0", "*AMcallback 48"));
}

TEST_F(HostCallbackTest, AnswersTheTableForAnIdentifiedSlot) {
    TVstPlugIn& plugIn = open(TrelvoGain_PATH);
    TVstHost& host = rack.host();
    host.ParamQuantization = 77;
    host.NumAutomatableParams = 5;
    host.InputLatency = 64;
    host.OutputLatency = 128;
    plugIn.ProcessLevel = 2;
    EXPECT_EQ(call(audioMasterVersion), 2300);
    EXPECT_EQ(call(audioMasterGetParameterQuantization, 0, 0), 0);
    EXPECT_EQ(call(audioMasterGetParameterQuantization, 0, -1), 77);
    EXPECT_EQ(call(audioMasterGetNumAutomatableParameters), 5);
    EXPECT_EQ(call(audioMasterGetInputLatency), 64);
    EXPECT_EQ(call(audioMasterGetOutputLatency), 128);
    EXPECT_EQ(call(audioMasterGetCurrentProcessLevel), 2);
    EXPECT_EQ(call(audioMasterGetBlockSize), 2048);
    EXPECT_EQ(call(audioMasterGetVendorVersion), 1);
    host.Language = 0;
    EXPECT_EQ(call(audioMasterGetLanguage), 1);
    host.Language = 5;
    EXPECT_EQ(call(audioMasterGetLanguage), 6);
    host.Language = 6;
    EXPECT_EQ(call(audioMasterGetLanguage), 0);
    rack.transport().setTempo(133);
    EXPECT_EQ(call(audioMasterTempoAt), 1330000);
    EXPECT_EQ(reinterpret_cast<VstTimeInfo*>(call(audioMasterGetTime, 0, 0xFFFF))->tempo, 133.0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(call(audioMasterGetDirectory))), host.Directory);
    char vendor[64] = "xxxxxxxx";
    EXPECT_EQ(call(audioMasterGetVendorString, 0, 0, vendor), 0);
    EXPECT_STREQ(vendor, "Marnik");
    char product[64] = {};
    call(audioMasterGetProductString, 0, 0, product);
    EXPECT_STREQ(product, "Trelvo");
    for (VstInt32 unanswered : {5, 9, 20, 21, 31, 35, 36, 40, 47, 48, 49, 50, 1000})
        EXPECT_EQ(call(unanswered), 0) << unanswered;
    EXPECT_TRUE(log.errors().empty());
}

TEST_F(HostCallbackTest, TheSampleRateIsRoundedHalfToEvenAndCanBeSetByAPlugIn) {
    open(TrelvoGain_PATH);
    rack.host().engineSampleRate = 44100.5f;
    EXPECT_EQ(call(audioMasterGetSampleRate), 44100);
    EXPECT_EQ(call(audioMasterSetOutputSampleRate, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(rack.host().engineSampleRate.load(), 48000.0f);
    EXPECT_EQ(anonymous(audioMasterGetSampleRate), 48000);
    EXPECT_THAT(log.errors(), ElementsAre("!! audioMasterSetOutputSampleRate, for variable i/o, sample rate in 48000"));
}

TEST_F(HostCallbackTest, AutomationIsPostedWithSlotIndexAndValueBits) {
    open(TrelvoGain_PATH);
    call(audioMasterAutomate, 1, 0, nullptr, 0.75f);
    const auto posted = takeMessages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, rack::kMsgAutomate);
    EXPECT_EQ(posted[0].wParam, 2 * 65536 + 1);
    EXPECT_EQ(std::bit_cast<float>(static_cast<std::int32_t>(posted[0].lParam)), 0.75f);
}

TEST_F(HostCallbackTest, DisplayUpdatesArePostedAtMostOncePer50Milliseconds) {
    open(TrelvoGain_PATH);
    EXPECT_EQ(call(audioMasterUpdateDisplay), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(call(audioMasterUpdateDisplay), 1);
    auto posted = takeMessages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, rack::kMsgUpdateDisplay);
    EXPECT_EQ(posted[0].wParam, 2 * 65536);
    EXPECT_TRUE(events.displayNeedsRefresh.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    call(audioMasterUpdateDisplay);
    EXPECT_EQ(takeMessages().size(), 1u);
}

TEST_F(HostCallbackTest, SizeWindowIsPassedOnOnlyWhenTheProfileAllowsResizing) {
    TVstPlugIn& plugIn = open(TrelvoGain_PATH);
    std::vector<std::array<int, 3>> resized;
    events.resizeEditor = [&](int slot, int width, int height) { resized.push_back({slot, width, height}); };
    EXPECT_EQ(call(audioMasterSizeWindow, 640, 480), 1);
    plugIn.NoResize = true;
    EXPECT_EQ(call(audioMasterSizeWindow, 800, 600), 0);
    EXPECT_THAT(resized, ElementsAre(std::array<int, 3>{2, 640, 480}));
}

TEST_F(HostCallbackTest, NeedIdleMarksTheSlotAndIdlesItAtOnceWhenEditorsAreIdled) {
    TVstPlugIn& plugIn = open(TrelvoGain_PATH);
    diag::plugCallLevels().setLevel(effIdle, diag::kLevelAll);
    EXPECT_FALSE(plugIn.NeedIdle.load());
    call(audioMasterNeedIdle);
    EXPECT_TRUE(plugIn.NeedIdle.load());
    EXPECT_FALSE(log.contains("effIdle"));
    rack.host().IdleEditors = true;
    call(audioMasterNeedIdle);
    EXPECT_TRUE(log.contains("effIdle"));
}

TEST_F(HostCallbackTest, EventsAnswerOneOnlyWhenAssigned) {
    TVstPlugIn& plugIn = open(TrelvoGain_PATH);
    EXPECT_EQ(call(audioMasterBeginEdit, 1), 0);
    int began = -1;
    plugIn.OnBeginEdit = [&](int, int index) { began = index; };
    EXPECT_EQ(call(audioMasterBeginEdit, 1), 1);
    EXPECT_EQ(began, 1);
    EXPECT_EQ(call(audioMasterPinConnected, 0, 1), 0);
    plugIn.OnPinConnected = [](int, int, bool isOutput) { return isOutput; };
    EXPECT_EQ(call(audioMasterPinConnected, 0, 1), 1);
    char selector[8] = {};
    plugIn.OnOpenFileSelector = [](void*, TVstHost*) {};
    EXPECT_EQ(call(audioMasterOpenFileSelector), 0); // no record given
    EXPECT_EQ(call(audioMasterOpenFileSelector, 0, 0, selector), 1);
}

TEST_F(HostCallbackTest, AnExceptionInAHandlerNeverReachesThePlugIn) {
    TVstPlugIn& plugIn = open(TrelvoGain_PATH);
    plugIn.OnProcessEvents = [](int, VstEvents*) { throw std::runtime_error("handler failed"); };
    EXPECT_EQ(call(audioMasterProcessEvents), 0);
    EXPECT_THAT(log.errors(), ElementsAre("AMcallback 8"));
    EXPECT_FALSE(midi::midiLock().heldByMe());
}

TEST_F(HostCallbackTest, CallLinesNameTheSlotAndCountAgainstTheLevel) {
    open(TrelvoGain_PATH);
    diag::hostCallLevels().setLevel(audioMasterGetTime, 5);
    diag::hostCallLevels().setLevel(audioMasterGetBlockSize, diag::kLevelAll);
    rack.host().bufferCount = 17;
    log.clear();
    for (int i = 0; i < 8; ++i) call(audioMasterGetTime);
    anonymous(audioMasterGetBlockSize);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 6u);
    for (int i = 0; i < 5; ++i)
        EXPECT_THAT(
            lines[static_cast<std::size_t>(i)],
            ::testing::MatchesRegex("17:AMcallbackFrom \"Gain\", amGetTime=[0-9]+\\(" + std::to_string(i) + "\\)"));
    EXPECT_EQ(lines[5], "17:AMcallbackFrom \"---\", 17:amGetBlockSize");
}

TEST_F(HostCallbackTest, VerboseLinesAndTheCanDoNotes) {
    open(TrelvoGain_PATH);
    diag::hostCallLevels().setLevel(audioMasterCanDo, diag::kLevelAll);
    diag::hostCallLevels().setLevel(audioMasterGetVendorString, diag::kLevelAll);
    diag::theLog().switches.verbose = true;
    log.clear();
    diag::theLog().Log("effOpen: \"x.so\"");
    canDo("sizeWindow");
    char vendor[64] = {};
    call(audioMasterGetVendorString, 0, 0, vendor);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "effOpen: \"x.so\", host can: sizeWindow=1");
    EXPECT_THAT(lines[1], ::testing::MatchesRegex(
                              R"(0:AMcallbackFrom "Gain", amCanDo\(37,0,0,[0-9]+,0\.00000\)=1  "sizeWindow=1")"));
    EXPECT_EQ(lines[2], "0:AMcallbackFrom \"Gain\", amGetVendorString(32,0,0,\"Marnik\",0.00000)=0");
}

// Guards against interface work done under MidiLock: a slow editor, window or idle handler
// would make the audio thread's half switch spin until it returned. While each handler runs,
// another thread must be able to take the lock, as the audio thread does every block.
TEST_F(HostCallbackTest, HandlersRunWithoutMidiLockSoTheAudioThreadNeverWaitsForThem) {
    TVstPlugIn& plugIn = open(TrelvoGain_PATH);
    std::vector<VstInt32> ran, heldDuring;
    VstInt32 current = 0;
    const auto slowInterfaceWork = [&] {
        ran.push_back(current);
        bool lockFree = false;
        std::thread audio([&lockFree] {
            lockFree = midi::midiLock().try_lock();
            if (lockFree) midi::midiLock().unlock();
        });
        audio.join();
        if (!lockFree) heldDuring.push_back(current);
    };
    const auto notification = [&](int, std::intptr_t) { slowInterfaceWork(); };
    plugIn.OnIdle = notification;
    plugIn.OnNeedIdle = notification;
    plugIn.OnWantMidi = notification;
    plugIn.OnIOChanged = notification;
    plugIn.OnUpdateDisplay = notification;
    events.resizeEditor = [&](int, int, int) { slowInterfaceWork(); }; // through the main window's handler
    plugIn.OnAutomate = [&](int, int, float) { slowInterfaceWork(); };
    plugIn.OnPinConnected = [&](int, int, bool) { return slowInterfaceWork(), false; };
    plugIn.OnOpenWindow = [&](int, TVstHost*) { slowInterfaceWork(); };
    plugIn.OnBeginEdit = plugIn.OnEndEdit = [&](int, int) { slowInterfaceWork(); };
    plugIn.OnOpenFileSelector = plugIn.OnCloseFileSelector = [&](void*, TVstHost*) { slowInterfaceWork(); };
    plugIn.OnOfflineStart = [&](int, void*) { slowInterfaceWork(); };

    const std::vector<VstInt32> opcodes = {
        audioMasterAutomate,         audioMasterIdle,
        audioMasterPinConnected,     audioMasterWantMidi,
        audioMasterIOChanged,        audioMasterNeedIdle,
        audioMasterSizeWindow,       audioMasterOfflineStart,
        audioMasterOpenWindow,       audioMasterUpdateDisplay,
        audioMasterBeginEdit,        audioMasterEndEdit,
        audioMasterOpenFileSelector, audioMasterCloseFileSelector,
    };
    char selector[64] = {};
    for (VstInt32 opcode : opcodes) {
        current = opcode;
        call(opcode, 0, 0, selector);
    }
    EXPECT_EQ(ran, opcodes); // every handler was reached
    EXPECT_THAT(heldDuring, ::testing::IsEmpty());
}

// A plug-in's own thread calls the host while the audio thread processes it and the
// interface thread dispatches to it; nothing may crash, deadlock or lose the lock.
TEST_F(HostCallbackTest, APlugInThreadTheAudioThreadAndTheInterfaceThreadCallAtOnce) {
    TVstPlugIn& plugIn = open(TrelvoFaulty_HostThread_PATH, "Busy");
    ASSERT_TRUE(plugIn.Active.load());
    diag::hostCallLevels().setLevel(audioMasterGetTime, 50);
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        platform::RealtimeScope realtime;
        std::vector<float> left(128, 0.1f), right(128, 0.1f);
        float* channels[2] = {left.data(), right.data()};
        while (!stop.load()) {
            {
                midi::MidiLockGuard halves; // the half switch of every block
                rack.host().bufferCount.fetch_add(1);
            }
            plugIn.ProcessReplacing(channels, channels, 128);
            hostCallback(plugIn.PVstEffect.load(), audioMasterGetTime, 0, 0, nullptr, 0.0f);
            ++blocks;
        }
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    int dispatches = 0;
    while (std::chrono::steady_clock::now() < until) {
        EXPECT_EQ(plugIn.GetParamName(0), "Level");
        ++dispatches;
        rack::UiMessage message;
        while (messages.take(message)) {
        }
        diag::theLog().drain();
    }
    stop = true;
    audio.join();
    EXPECT_GT(plugIn.VendorSpecific(100, 0, nullptr, 0.0f), 10); // rounds the plug-in's thread made
    EXPECT_GT(blocks.load(), 10);
    EXPECT_GT(dispatches, 10);
    EXPECT_FALSE(plugIn.isQuarantined());
    plugIn.Close(); // stops the plug-in's thread
    EXPECT_EQ(messages.dropCount(), 0u);
}

} // namespace
} // namespace trelvo::host
