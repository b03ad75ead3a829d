#include "audio/DriverSettings.h"

#include <map>
#include <mutex>

namespace trelvo::audio {

namespace {
std::mutex gMutex;
std::map<std::string, DriverSettings>& table() {
    static std::map<std::string, DriverSettings> settings;
    return settings;
}
} // namespace

DriverSettings settingsFor(const std::string& driverName) {
    std::lock_guard lock(gMutex);
    const auto found = table().find(driverName);
    return found != table().end() ? found->second : DriverSettings{};
}

void storeSettings(const std::string& driverName, const DriverSettings& settings) {
    std::lock_guard lock(gMutex);
    table()[driverName] = settings;
}

} // namespace trelvo::audio
