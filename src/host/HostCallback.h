#pragma once

#include "host/VstAbi.h"

namespace trelvo::host {

/// The host callback every plug-in receives at its entry point. Thread: any.
VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

} // namespace trelvo::host
