#pragma once

#include <cstdint>
#include <functional>

#include "vst/VstAbi.h"

namespace trelvo::host {

class TVstHost;

/// What a plug-in slot tells the layers above it: the host callback raises these, the window
/// layer (and the rack controller's slot events) assigns the ones it needs. Unassigned
/// events do nothing.
struct PlugInEvents {
    using Notification = std::function<void(int slot, std::intptr_t data)>;

    Notification OnLoaded;
    std::function<void(int slot, int index, float value)> OnAutomate;
    Notification OnIdle;
    std::function<bool(int slot, int pin, bool isOutput)> OnPinConnected;
    Notification OnWantMidi;
    std::function<void(int slot, VstEvents* events)> OnProcessEvents;
    Notification OnIOChanged;
    Notification OnNeedIdle;
    std::function<void(int slot, int width, int height)> OnSizeWindow;
    std::function<void(int slot, void*ptr)> OnOfflineStart, OnOfflineRead, OnOfflineWrite, OnOfflineGetCurrentPass,
        OnOfflineGetCurrentMetaPass;
    std::function<void(int slot, float rate)> OnSetOutputSampleRate;
    std::function<void(int slot, TVstHost* host)> OnOpenWindow;
    Notification OnUpdateDisplay;
    std::function<void(int slot, int index)> OnBeginEdit, OnEndEdit;
    std::function<void(void*ptr, TVstHost*host)> OnOpenFileSelector, OnCloseFileSelector;
};

} // namespace trelvo::host
