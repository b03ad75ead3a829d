#pragma once

#include <string>
#include <vector>

namespace trelvo::rack {

class Rack;

/// One line for every plug-in quarantined since the last call, naming the slot, the
/// plug-in, its library and the fault:
///   slot 3 "MVerb" (/usr/lib/vst/MVerb-vst.so) faulted: SIGSEGV in processReplacing; it is passed by from now on
/// Each quarantine is told once; loading the slot again starts afresh. The idle duties of
/// every front end call it, so the user hears of a fault when it happens.
/// Thread: user interface.
std::vector<std::string> takePlugInFaults(Rack& rack);

} // namespace trelvo::rack
