#include "platform/FaultGuard.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace trelvo::platform {
namespace {

volatile int gSink = 0;

// These faults are the point of the tests; sanitizers must not stop them first.
#define FAULT_ON_PURPOSE __attribute__((no_sanitize("undefined", "address"), noinline))

FAULT_ON_PURPOSE void writeThroughNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

FAULT_ON_PURPOSE int divideByZero() {
    volatile int zero = 0;
    volatile int seven = 7;
    return seven / zero;
}

FAULT_ON_PURPOSE int recurseForever(int depth) {
    volatile char padding[512];
    padding[0] = static_cast<char>(depth);
    if (depth < 0) return 0; // never true; keeps the compiler from seeing an endless loop
    return recurseForever(depth + 1) + padding[0];
}

struct FaultCase {
    const char* name;
    void (*fault)();
    FaultKind kind;
    int signalNumber;
};

const FaultCase kFaults[] = {
    {"NullWrite", [] { writeThroughNull(); }, FaultKind::Signal, SIGSEGV},
    {"IntegerDivisionByZero", [] { gSink = divideByZero(); }, FaultKind::Signal, SIGFPE},
    {"Throw", [] { throw std::runtime_error("plug-in threw"); }, FaultKind::Exception, 0},
    {"ThrowNonStandard", [] { throw 42; }, FaultKind::Exception, 0},
};

class FaultGuard : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultGuard, TurnsTheFaultIntoAReportOnTheCallingThread) {
    FaultReport report;
    const auto fault = GetParam().fault;
    EXPECT_FALSE(guardedCall([fault] { fault(); }, report));
    EXPECT_EQ(report.kind, GetParam().kind);
    EXPECT_EQ(report.signalNumber, GetParam().signalNumber);
    EXPECT_NE(report.what[0], '\0');
}

TEST_P(FaultGuard, TurnsTheFaultIntoAReportOnASecondThread) {
    FaultReport report;
    bool returned = true;
    const auto fault = GetParam().fault;
    std::thread worker([&] { returned = guardedCall([fault] { fault(); }, report); });
    worker.join();
    EXPECT_FALSE(returned);
    EXPECT_EQ(report.kind, GetParam().kind);
    EXPECT_EQ(report.signalNumber, GetParam().signalNumber);
}

std::string faultName(const ::testing::TestParamInfo<FaultCase>& test) {
    return test.param.name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultGuard, ::testing::ValuesIn(kFaults), faultName);

TEST(FaultGuardBehaviour, SurvivesManyFaultsInARowAndStillRunsCleanCalls) {
    for (int i = 0; i < 100; ++i) {
        FaultReport report;
        ASSERT_FALSE(guardedCall([] { writeThroughNull(); }, report));
        ASSERT_EQ(report.signalNumber, SIGSEGV);
    }
    int ran = 0;
    FaultReport report;
    EXPECT_TRUE(guardedCall([&] { ++ran; }, report));
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(report.failed());
}

TEST(FaultGuardBehaviour, ReportsTheFaultingAddress) {
    FaultReport report;
    ASSERT_FALSE(guardedCall([] { writeThroughNull(); }, report));
    EXPECT_EQ(report.address, nullptr);
    EXPECT_NE(std::strstr(report.what, "SIGSEGV"), nullptr);
}

TEST(FaultGuardBehaviour, StackOverflowIsCaughtOnTheAlternateStack) {
    FaultReport report;
    EXPECT_FALSE(guardedCall([] { gSink = recurseForever(0); }, report));
    EXPECT_EQ(report.signalNumber, SIGSEGV);
    // The thread's own stack is usable again.
    FaultReport second;
    EXPECT_TRUE(guardedCall([] {}, second));
}

TEST(FaultGuardBehaviour, InnermostGuardTakesTheFaultAndTheOuterCallGoesOn) {
    FaultReport outer;
    FaultReport inner;
    bool innerReturned = true;
    bool outerContinued = false;
    const bool outerReturned = guardedCall(
        [&] {
            innerReturned = guardedCall([] { writeThroughNull(); }, inner);
            outerContinued = true;
        },
        outer);
    EXPECT_TRUE(outerReturned);
    EXPECT_FALSE(innerReturned);
    EXPECT_TRUE(outerContinued);
    EXPECT_EQ(inner.signalNumber, SIGSEGV);
}

TEST(FaultGuardBehaviour, ManyThreadsFaultingAtOnceEachGetTheirOwnReport) {
    constexpr int kThreads = 8;
    std::thread workers[kThreads];
    int faults[kThreads] = {};
    for (int t = 0; t < kThreads; ++t) {
        workers[t] = std::thread([&, t] {
            for (int i = 0; i < 50; ++i) {
                FaultReport report;
                if (!guardedCall(
                        [t] {
                            if (t % 2 == 0)
                                writeThroughNull();
                            else
                                gSink = divideByZero();
                        },
                        report) &&
                    report.signalNumber == (t % 2 == 0 ? SIGSEGV : SIGFPE))
                    ++faults[t];
            }
        });
    }
    for (auto& worker : workers) worker.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(faults[t], 50) << "thread " << t;
}

using FaultGuardDeathTest = ::testing::Test;

TEST(FaultGuardDeathTest, AFaultOutsideAGuardedCallStillKillsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    installFaultHandlers();
    EXPECT_DEATH(writeThroughNull(), "");
}

} // namespace
} // namespace trelvo::platform
