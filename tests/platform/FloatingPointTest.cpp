#include "platform/FloatingPoint.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <csignal>
#include <thread>

#include "platform/FaultGuard.h"

namespace trelvo::platform {
namespace {

volatile float gSink = 0.0f;

float divide(float a, float b) {
    volatile float x = a;
    volatile float y = b;
    return x / y;
}

TEST(FloatingPoint, MaskingUndoesAPlugInThatUnmaskedExceptions) {
    std::thread worker([] {
        // A badly behaved plug-in turns on traps for division by zero.
        feenableexcept(FE_DIVBYZERO | FE_INVALID);
        FaultReport report;
        EXPECT_FALSE(guardedCall([] { gSink = divide(1.0f, 0.0f); }, report));
        EXPECT_EQ(report.signalNumber, SIGFPE);

        maskFloatingPointExceptions();
        EXPECT_TRUE(floatingPointExceptionsMasked());
        EXPECT_TRUE(guardedCall([] { gSink = divide(1.0f, 0.0f); }, report));
    });
    worker.join();
}

TEST(FloatingPoint, DenormalsAreFlushedToZero) {
    std::thread worker([] {
        maskFloatingPointExceptions();
        const float tiny = divide(FLT_MIN, 4.0f); // would be a denormal
        EXPECT_EQ(tiny, 0.0f);
    });
    worker.join();
}

} // namespace
} // namespace trelvo::platform
