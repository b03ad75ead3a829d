#include "rack/PlugInFaults.h"

#include "host/IsolatedEffect.h"
#include "rack/Rack.h"

namespace trelvo::rack {

std::vector<std::string> takePlugInFaults(Rack& rack) {
    std::vector<std::string> lines;
    for (int i = 0; i < kMaxSlots; ++i) {
        host::TVstPlugIn& slot = rack.slot(i);
        if (slot.isolation) {
            std::string notice = slot.isolation->takeNotice();
            if (!notice.empty()) lines.push_back(std::move(notice));
        }
        if (slot.quarantineAnnounced || !slot.isQuarantined()) continue;
        slot.quarantineAnnounced = true;
        const std::string name = !slot.EffectName.empty() ? slot.EffectName : slot.SlotName;
        lines.push_back("slot " + std::to_string(i) + " \"" + name + "\" (" + slot.DllPath +
                        ") faulted: " + slot.quarantineReason() + "; it is passed by from now on");
    }
    return lines;
}

} // namespace trelvo::rack
