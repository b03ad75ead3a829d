#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "TestPaths.h"
#include "platform/DynamicLibrary.h"
#include "platform/FaultGuard.h"
#include "support/DirectPlugin.h"

namespace trelvo::test {
namespace {

using platform::DynamicLibrary;
using platform::FaultKind;
using platform::FaultReport;
using platform::guardedCall;

VstIntPtr quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// Calls an entry point under the guard; the fault, if any, goes to report.
AEffect* enter(const DynamicLibrary& library, const char* name, FaultReport& report) {
    auto entry = reinterpret_cast<VstPluginMainProc>(library.symbol(name));
    AEffect* effect = nullptr;
    if (entry != nullptr) guardedCall([&] { effect = entry(&quietHost); }, report);
    return effect;
}

std::string effectName(AEffect* effect) {
    char name[256] = {};
    effect->dispatcher(effect, effGetEffectName, 0, 0, name, 0.0f);
    return name;
}

TEST(TrelvoFaulty, ExportsFollowTheBuild) {
    DynamicLibrary both, none, mainOnly, plain;
    ASSERT_TRUE(both.open(TrelvoFaulty_BothEntries_PATH));
    ASSERT_TRUE(none.open(TrelvoFaulty_NoEntry_PATH));
    ASSERT_TRUE(mainOnly.open(TrelvoFaulty_MainOnly_PATH));
    ASSERT_TRUE(plain.open(TrelvoFaulty_Plain_PATH));
    EXPECT_NE(both.symbol("main"), nullptr);
    EXPECT_NE(both.symbol("VSTPluginMain"), nullptr);
    EXPECT_EQ(none.symbol("main"), nullptr);
    EXPECT_EQ(none.symbol("VSTPluginMain"), nullptr);
    EXPECT_NE(mainOnly.symbol("main"), nullptr);
    EXPECT_EQ(mainOnly.symbol("VSTPluginMain"), nullptr);
    EXPECT_EQ(plain.symbol("main"), nullptr);

    FaultReport report;
    AEffect* viaMain = enter(both, "main", report);
    ASSERT_NE(viaMain, nullptr);
    EXPECT_EQ(effectName(viaMain), "Faulty via main");
    viaMain->dispatcher(viaMain, effClose, 0, 0, nullptr, 0.0f);
}

TEST(TrelvoFaulty, EntryPointMisbehaviours) {
    DynamicLibrary library;
    FaultReport report;

    ASSERT_TRUE(library.open(TrelvoFaulty_ThrowInEntry_PATH));
    EXPECT_EQ(enter(library, "VSTPluginMain", report), nullptr);
    EXPECT_EQ(report.kind, FaultKind::Exception);

    ASSERT_TRUE(library.open(TrelvoFaulty_CrashInEntry_PATH));
    EXPECT_EQ(enter(library, "VSTPluginMain", report), nullptr);
    EXPECT_EQ(report.signalNumber, SIGSEGV);

    ASSERT_TRUE(library.open(TrelvoFaulty_NilEntry_PATH));
    EXPECT_EQ(enter(library, "VSTPluginMain", report), nullptr);
    EXPECT_FALSE(report.failed());

    ASSERT_TRUE(library.open(TrelvoFaulty_BadMagic_PATH));
    AEffect* effect = enter(library, "VSTPluginMain", report);
    ASSERT_NE(effect, nullptr);
    EXPECT_NE(effect->magic, kEffectMagic);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

TEST(TrelvoFaulty, OpenAndProcessMisbehaviours) {
    struct Case {
        const char* path;
        bool inOpen;
        FaultKind kind;
        int signalNumber;
    };
    const Case cases[] = {
        {TrelvoFaulty_ThrowInOpen_PATH, true, FaultKind::Exception, 0},
        {TrelvoFaulty_CrashInOpen_PATH, true, FaultKind::Signal, SIGSEGV},
        {TrelvoFaulty_ThrowInProcess_PATH, false, FaultKind::Exception, 0},
        {TrelvoFaulty_CrashInProcess_PATH, false, FaultKind::Signal, SIGSEGV},
        {TrelvoFaulty_DivideInProcess_PATH, false, FaultKind::Signal, SIGFPE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DynamicLibrary library;
        ASSERT_TRUE(library.open(c.path));
        FaultReport report;
        AEffect* effect = enter(library, "VSTPluginMain", report);
        ASSERT_NE(effect, nullptr);
        guardedCall([&] { effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f); }, report);
        if (!c.inOpen) {
            EXPECT_FALSE(report.failed());
            float buffer[32] = {};
            float* channels[2] = {buffer, buffer};
            guardedCall([&] { effect->processReplacing(effect, channels, channels, 32); }, report);
        }
        EXPECT_EQ(report.kind, c.kind);
        EXPECT_EQ(report.signalNumber, c.signalNumber);
        // These faults leave the plug-in's own state intact, so it can still be closed.
        FaultReport closing;
        EXPECT_TRUE(guardedCall([&] { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); }, closing));
    }
}

TEST(TrelvoFaulty, CrashInEditOpenHasAnEditorThatFaultsWhenOpened) {
    DynamicLibrary library;
    ASSERT_TRUE(library.open(TrelvoFaulty_CrashInEditOpen_PATH));
    FaultReport report;
    AEffect* effect = enter(library, "VSTPluginMain", report);
    ASSERT_NE(effect, nullptr);
    EXPECT_NE(effect->flags & effFlagsHasEditor, 0);
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    ERect* rect = nullptr;
    EXPECT_EQ(effect->dispatcher(effect, effEditGetRect, 0, 0, &rect, 0.0f), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 240);
    EXPECT_EQ(rect->bottom - rect->top, 120);
    EXPECT_FALSE(report.failed());
    // Any parent will do: the fault comes before the plug-in looks at it.
    guardedCall([&] { effect->dispatcher(effect, effEditOpen, 0, 0, reinterpret_cast<void*>(0x1234), 0.0f); }, report);
    EXPECT_EQ(report.kind, FaultKind::Signal);
    EXPECT_EQ(report.signalNumber, SIGSEGV);
    FaultReport closing;
    EXPECT_TRUE(guardedCall([&] { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); }, closing));
}

TEST(TrelvoFaulty, OnlyCrashInEditOpenClaimsAnEditor) {
    DirectPlugin plugin(TrelvoFaulty_Plain_PATH);
    ASSERT_TRUE(plugin.loaded());
    EXPECT_EQ(plugin.effect()->flags & effFlagsHasEditor, 0);
    ERect* rect = nullptr;
    EXPECT_EQ(plugin.dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, nullptr);
}

TEST(TrelvoFaulty, CallsTheHostFromItsEntryPointAndFromOpen) {
    DirectPlugin plugin(TrelvoFaulty_CallsHost_PATH);
    ASSERT_TRUE(plugin.loaded());
    plugin.open();
    std::vector<VstInt32> opcodes;
    for (const HostCall& call : plugin.takeHostCalls()) opcodes.push_back(call.opcode);
    const std::vector<VstInt32> expected = {audioMasterVersion,       audioMasterAutomate, audioMasterVersion,
                                            audioMasterGetSampleRate, audioMasterAutomate, audioMasterCanDo};
    ASSERT_GE(opcodes.size(), expected.size());
    EXPECT_EQ(std::vector<VstInt32>(opcodes.begin(), opcodes.begin() + 6), expected);
    // The answers it got: the entry point's two, then effOpen's four.
    const VstIntPtr answers[] = {2400, 0, 2400, 48000, 0, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(plugin.dispatch(effVendorSpecific, i), answers[i]) << "answer " << i;
    EXPECT_EQ(plugin.dispatch(effVendorSpecific, 6), -1);
}

TEST(TrelvoFaulty, PlainPassesAudioThrough) {
    DirectPlugin plugin(TrelvoFaulty_Plain_PATH);
    ASSERT_TRUE(plugin.loaded());
    plugin.open();
    std::vector<float> in(64, 0.25f), left(64), right(64);
    plugin.process(left, right, in, in);
    EXPECT_EQ(left, in);
    EXPECT_EQ(plugin.text(effGetEffectName), "Faulty via VSTPluginMain");
}

} // namespace
} // namespace trelvo::test
