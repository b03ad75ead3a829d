#include "persist/ChannelSelection.h"

namespace trelvo::persist {

ChannelSelection& channelSelection() noexcept {
    static ChannelSelection selection;
    return selection;
}

} // namespace trelvo::persist
