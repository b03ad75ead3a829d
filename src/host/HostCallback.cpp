#include "host/HostCallback.h"

#include <cmath>

#include "host/TVstHost.h"
#include "host/TVstPlugIn.h"

namespace trelvo::host {

VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    TVstHost* host = TVstHost::current();
    if (host == nullptr) return 0;
    switch (opcode) {
    case audioMasterVersion: return 2300;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&host->timeInfo);
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(std::nearbyint(host->engineSampleRate.load()));
    case audioMasterGetBlockSize: return host->engineBlockSize.load();
    default: return 0;
    }
}

} // namespace trelvo::host
