#include "app/InfoMode.h"

#include <cstdio>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

#include "diag/DiagLog.h"
#include "platform/TrelvoHome.h"
#include "rack/Rack.h"
#include "vst/VstNames.h"

namespace trelvo::app {

namespace {

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}

std::string printableId(const std::string& id) {
    std::string text = id;
    for (char& c : text)
        if (c == '\0')
            c = ' ';
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

std::mutex gErrorsMutex;
std::vector<std::string> gErrors;

bool collectError(std::string_view line) {
    {
        std::lock_guard lock(gErrorsMutex);
        gErrors.emplace_back(line);
    }
    return diag::LogError(line);
}

constexpr const char* kCanDoTexts[] = {"receiveVstMidiEvent", "sendVstMidiEvent", "receiveVstEvents", "sendVstEvents",
                                       "receiveVstTimeInfo",  "sendVstTimeInfo",  "bypass",           "offline",
                                       "midiProgramNames"};

} // namespace

std::string formatPluginInfo(host::TVstPlugIn& plugIn) {
    std::ostringstream out;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(plugIn.effectUniqueID()));
    out << "file: " << plugIn.DllPath << "\n"
        << "name: " << plugIn.GetEffectName() << "\n"
        << "vendor: " << plugIn.GetVendorString() << "\n"
        << "product: " << plugIn.GetProductString() << "\n"
        << "vendor-version: " << plugIn.GetVendorVersion() << "\n"
        << "unique-id: " << printableId(plugIn.UniqueIdText) << "\n"
        << "unique-id-hex: " << hex << "\n"
        << "vst-version: " << plugIn.VstVersion << "\n"
        << "version: " << plugIn.effectVersion() << "\n"
        << "category: " << host::PlugCategoryName(plugIn.PlugCategory) << "\n"
        << "kind: " << (plugIn.isSynth() ? "instrument" : "effect") << "\n"
        << "inputs: " << plugIn.effectNumInputs() << "\n"
        << "outputs: " << plugIn.effectNumOutputs() << "\n"
        << "parameters: " << plugIn.effectNumParams() << "\n"
        << "programs: " << plugIn.NumPrograms << "\n"
        << "initial-delay: " << plugIn.effectInitialDelay() << "\n"
        << "tail-size: " << plugIn.GetTailSize() << "\n"
        << "has-editor: " << yesNo(plugIn.hasEditor()) << "\n"
        << "can-replacing: " << yesNo(plugIn.canReplacing()) << "\n"
        << "program-chunks: " << yesNo(plugIn.programsAreChunks()) << "\n";
    for (const char* text : kCanDoTexts) out << "can-do " << text << ": " << plugIn.CanDo(text) << "\n";
    for (int i = 0; i < plugIn.effectNumParams(); ++i) {
        out << "parameter " << i << ": " << plugIn.GetParamName(i) << " = " << plugIn.GetParamDisplay(i);
        const std::string label = plugIn.GetParamLabel(i);
        if (!label.empty()) out << " " << label;
        out << "\n";
    }
    return out.str();
}

int runInfoMode(const std::string& libraryPath) {
    // Errors are printed once, below, rather than also as debugger output.
    diag::theLog().switches.debugOutput = false;
    diag::setLogHooks(nullptr, &collectError);

    int status = 0;
    {
        rack::Rack rack;
        rack.addSlot(rack::SlotKind::Output);
        rack.addSlot(rack::SlotKind::Channel);
        host::TVstPlugIn& plugIn = rack.slot(2);
        plugIn.DllPath = libraryPath;
        std::string name = platform::fileNamePart(libraryPath);
        plugIn.SlotName = name.substr(0, name.find_last_of('.'));
        plugIn.Open();
        if (plugIn.Opened.load() && !plugIn.isQuarantined()) {
            rack.setNumSlots(3);
            std::fputs(formatPluginInfo(plugIn).c_str(), stdout);
            std::fflush(stdout);
        } else {
            status = 1;
        }
        rack.clearSlot(2);
    }
    diag::theLog().drain();
    if (status != 0) {
        std::lock_guard lock(gErrorsMutex);
        for (const std::string& line : gErrors) std::fprintf(stderr, "%s\n", line.c_str());
        if (gErrors.empty()) std::fprintf(stderr, "cannot open %s as a plug-in\n", libraryPath.c_str());
    }
    diag::setLogHooks(nullptr, nullptr);
    return status;
}

} // namespace trelvo::app
