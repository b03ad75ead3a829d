// Fuzz target for the INI reader and IniItem: any bytes as a file. Reading, enumerating,
// writing keys and rendering must never crash or trip a sanitizer, and a rendered file
// must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "persist/IniFile.h"

using namespace trelvo::persist;

namespace {

IniHandle loaded(std::string_view text) {
    auto handle = std::make_unique<IniFile>();
    handle->fileName = "fuzz.ini";
    handle->load(text);
    return handle;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniHandle ini = loaded(text);

    // Read every key of every section, the way readers do, and take every value apart.
    std::vector<std::string> sections;
    for (const IniLine& line : ini->lines)
        if (line.kind == '[') sections.push_back(line.name);
    for (const std::string& section : sections) {
        OpenIni(ini, "fuzz.ini", section, kIniEnumerate);
        for (int i = 0; i < 64; ++i) {
            const std::string entry = IniStr(ini, "", "");
            if (entry.empty()) break;
            IniCursor cursor;
            if (IniItem(-1, cursor, entry) == kIniError) continue;
            for (int k = 0; k < 40; ++k) IniItem(k, cursor);
        }
    }

    // The rendered text reads back to itself.
    const std::string once = ini->render();
    IniHandle again = loaded(once);
    if (again->render() != once) __builtin_trap();

    // Writes of every kind on the first sections.
    ini->mode = kIniWrite;
    for (std::size_t s = 0; s < sections.size() && s < 4; ++s) {
        OpenIni(ini, "fuzz.ini", sections[s], s % 2 == 0 ? kIniClearKeys : kIniRebuild);
        IniStr(ini, "key", std::string(text.substr(0, 300)));
        IniStr(ini, "=", "value");
        IniStr(ini, "", s == 3 ? "" : "x");
    }
    OpenIni(ini, "fuzz.ini", "New Section", kIniWrite);
    IniInt(ini, "n", 42);
    const std::string written = ini->render();
    IniHandle reread = loaded(written);
    OpenIni(reread, "fuzz.ini", "New Section", kIniRead);
    if (IniInt(reread, "n", 0) != 42 && reread->count() < static_cast<int>(kMaxIniLines) - 4) __builtin_trap();
    return 0;
}
