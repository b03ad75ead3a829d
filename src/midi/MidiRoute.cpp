#include "midi/MidiRoute.h"

#include <algorithm>
#include <cstdio>

namespace trelvo::midi {

using persist::IniCursor;
using persist::IniItem;
using persist::IniStr;
using persist::kIniError;

MidiRoute::MidiRoute() {
    for (std::size_t k = 0; k < 16; ++k)
        channelMap[k] = {1, static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k)};
    ccPass.fill(1);
    typePass.fill(1);
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

std::string keyOf(std::string_view prefix, int route, const char* suffix) {
    return std::string(prefix) + "iMid" + std::to_string(route) + suffix;
}

/// The 16 (or 3 or 8) items of a list value, or nothing when the key is missing.
bool items(const std::string& text, std::array<std::string, 16>& out) {
    if (text == kIniError) return false;
    IniCursor cursor;
    if (IniItem(-1, cursor, text) == kIniError) return false;
    for (int i = 0; i < 16; ++i) out[static_cast<std::size_t>(i)] = IniItem(i, cursor);
    return true;
}

std::string channelsText(const MidiRoute& route) {
    std::string text;
    for (std::size_t k = 0; k < 16; ++k) {
        char item[8];
        std::snprintf(item, sizeof item, "%d%X%X", route.channelMap[k].enabled ? 1 : 0,
                      route.channelMap[k].inChannel & 15, route.channelMap[k].outChannel & 15);
        text += (k ? "," : "") + std::string(item);
    }
    return text;
}

std::string splitsText(const MidiRoute& route) {
    std::string text;
    for (std::size_t k = 0; k < 16; ++k) {
        const KeyVelocitySplit& s = route.split[k];
        char item[16];
        std::snprintf(item, sizeof item, "%02X%02X%02X%02X", s.noteLo, s.noteHi, s.velLo, s.velHi);
        text += (k ? "," : "") + std::string(item);
    }
    return text;
}

std::string transposesText(const MidiRoute& route) {
    std::string text;
    for (std::size_t k = 0; k < 16; ++k) text += (k ? "," : "") + std::to_string(route.transpose[k]);
    return text;
}

std::string controlsText(const MidiRoute& route) {
    std::string text;
    for (int i = 0; i < kNumMessageTypes; ++i) {
        if (i == 7 || i == 12) text += ",";
        text += route.typePass[static_cast<std::size_t>(i)] ? '1' : '0';
    }
    return text;
}

std::string ccsText(const MidiRoute& route) {
    std::string text;
    for (std::size_t g = 0; g < 16; ++g) {
        if (g) text += ",";
        for (std::size_t i = 0; i < 8; ++i) text += route.ccPass[g * 8 + i] ? '1' : '0';
    }
    return text;
}

void readRoute(persist::IniHandle& handle, std::string_view prefix, int number, MidiRoute& route) {
    std::array<std::string, 16> list;
    if (items(IniStr(handle, keyOf(prefix, number, "-Channels"), kIniError), list))
        for (std::size_t k = 0; k < 16; ++k) {
            const std::string& item = list[k];
            if (item.size() < 3) continue;
            route.channelMap[k] = {static_cast<std::uint8_t>(hexDigit(item[0]) != 0),
                                   static_cast<std::uint8_t>(hexDigit(item[1])),
                                   static_cast<std::uint8_t>(hexDigit(item[2]))};
        }
    if (items(IniStr(handle, keyOf(prefix, number, "-NVsplits"), kIniError), list))
        for (std::size_t k = 0; k < 16; ++k) {
            const std::string& item = list[k];
            if (item.size() < 8) continue;
            const auto value = [&](int at) {
                return static_cast<std::uint8_t>(std::min(127, hexDigit(item[static_cast<std::size_t>(at)]) * 16 +
                                                                   hexDigit(item[static_cast<std::size_t>(at + 1)])));
            };
            route.split[k] = {value(0), value(2), value(4), value(6)};
        }
    if (items(IniStr(handle, keyOf(prefix, number, "-Transposes"), kIniError), list))
        for (std::size_t k = 0; k < 16; ++k) {
            std::int32_t value = 0;
            if (list[k].empty() || !persist::parseWholeNumber(list[k], value)) continue;
            route.transpose[k] = static_cast<std::int8_t>(std::clamp(value, -60, 60));
        }
    const std::string controls = IniStr(handle, keyOf(prefix, number, "-Controls"), kIniError);
    if (controls != kIniError) {
        IniCursor cursor;
        IniItem(-1, cursor, controls);
        const int lengths[3] = {7, 5, 6};
        int first = 0;
        for (int group = 0; group < 3; ++group) {
            const std::string item = IniItem(group, cursor);
            if (static_cast<int>(item.size()) >= lengths[group])
                for (int i = 0; i < lengths[group]; ++i)
                    route.typePass[static_cast<std::size_t>(first + i)] = item[static_cast<std::size_t>(i)] != '0';
            first += lengths[group];
        }
    }
    const std::string ccs = IniStr(handle, keyOf(prefix, number, "-CCs"), kIniError);
    if (ccs == kIniError) {
        route.ccPass.fill(route.typePass[kControlChange]);
    } else if (items(ccs, list)) {
        for (std::size_t g = 0; g < 16; ++g)
            if (list[g].size() >= 8)
                for (std::size_t i = 0; i < 8; ++i) route.ccPass[g * 8 + i] = list[g][i] != '0';
    }
}

} // namespace

void readRoutes(persist::IniHandle& handle, std::string_view prefix, RouteBlock& block, const PortResolver& resolve) {
    int found = 0;
    for (int number = 1; number <= 4 && found < 4; ++number) {
        const std::string port = IniStr(handle, keyOf(prefix, number, "-Port"), "");
        if (port.empty()) continue;
        MidiRoute& route = block.routes[static_cast<std::size_t>(found++)];
        route.portName = port;
        route.portIndex = resolve ? resolve(port) : -1;
        readRoute(handle, prefix, number, route);
    }
    if (found == 0) {
        block.count = 1;
        block.routes[0].portName.clear();
        block.routes[0].portIndex = -1;
    } else {
        block.count = found;
    }
}

void writeRoutes(persist::IniHandle& handle, std::string_view prefix, const RouteBlock& block, bool compact) {
    static const MidiRoute defaults;
    for (int r = 0; r < block.count && r < 4; ++r) {
        const MidiRoute& route = block.routes[static_cast<std::size_t>(r)];
        if (route.portName.empty()) continue;
        const int number = r + 1;
        IniStr(handle, keyOf(prefix, number, "-Port"), route.portName);
        const auto put = [&](const char* suffix, const std::string& value, bool differs) {
            IniStr(handle, keyOf(prefix, number, suffix), !compact || differs ? value : std::string());
        };
        put("-Channels", channelsText(route), route.channelMap != defaults.channelMap);
        put("-NVsplits", splitsText(route), route.split != defaults.split);
        put("-Transposes", transposesText(route), route.transpose != defaults.transpose);
        put("-Controls", controlsText(route), route.typePass != defaults.typePass);
        const auto set = std::count(route.ccPass.begin(), route.ccPass.end(), 1);
        IniStr(handle, keyOf(prefix, number, "-CCs"),
               !compact || (set > 0 && set < 128) ? ccsText(route) : std::string());
    }
}

} // namespace trelvo::midi
