#include "audio/DriverThread.h"

#include <cstring>

#include "diag/DiagLog.h"
#include "diag/LineText.h"
#include "platform/FaultGuard.h"
#include "platform/FloatingPoint.h"
#include "platform/RealtimeThread.h"
#include "platform/ThreadScheduling.h"

namespace trelvo::audio {

void enterAudioThread(AudioThreadScheduling scheduling) noexcept {
    platform::markRealtimeThread(true);
    platform::prepareThreadForFaultGuard();
    platform::maskFloatingPointExceptions();
    if (scheduling == AudioThreadScheduling::Raise) {
        const int error = platform::setCurrentThreadScheduling(platform::ownAudioThreadScheduling());
        if (error != 0 && platform::noteRealtimeRefused()) {
            const char* reason = strerrordesc_np(error);
            diag::LineText line;
            line << "no real-time priority for the audio thread: " << (reason != nullptr ? reason : "refused")
                 << "; audio may glitch under load";
            diag::hookedLogError(line.view());
        }
    }
    // What the thread really runs with: the work thread follows it.
    platform::publishAudioThreadScheduling(platform::currentThreadScheduling());
}

} // namespace trelvo::audio
