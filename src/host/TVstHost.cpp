#include "host/TVstHost.h"

#include "host/TVstPlugIn.h"
#include "platform/TrelvoHome.h"

namespace trelvo::host {

namespace {
std::atomic<TVstHost*> gCurrentHost{nullptr};
}

TVstHost::TVstHost(Notification onCreate) {
    gCurrentHost.store(this, std::memory_order_release);
    engineSampleRate = 44100.0f;
    // The folder of the running program, unless the system names a VST folder.
    const std::string program = platform::executablePath();
    Directory = program.substr(0, program.find_last_of('/') == std::string::npos ? 0 : program.find_last_of('/'));
    if (const std::string system = platform::systemVstFolder(); !system.empty()) Directory = system;
    TimeInfo.onChange = [] {};
    if (onCreate) onCreate(0, 0);
    capabilities = kDefaultHostCapabilities;
}

TVstHost::~TVstHost() {
    if (OnDestroy) OnDestroy(0, 0);
    TVstHost* expected = this;
    gCurrentHost.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

TVstHost* TVstHost::current() noexcept {
    return gCurrentHost.load(std::memory_order_acquire);
}

void TVstHost::SetBlockSize(int frames) {
    engineBlockSize = frames;
    const int n = numSlots();
    for (int i = 0; i < n; ++i) {
        TVstPlugIn* plugIn = slot(i);
        if (plugIn != nullptr && plugIn->PlugLoaded.load()) plugIn->SetBlockSize(frames);
    }
}

bool TVstHost::ownsSlot(const TVstPlugIn* candidate) const noexcept {
    if (candidate == nullptr) return false;
    for (const TVstPlugIn* entry : slotTable)
        if (entry == candidate) return true;
    return false;
}

} // namespace trelvo::host
