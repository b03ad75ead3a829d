#include "presets/InstrumentDefinition.h"

#include <algorithm>
#include <cstring>

#include "host/TVstPlugIn.h"
#include "persist/IniFile.h"
#include "platform/TrelvoHome.h"
#include "presets/PresetText.h"

namespace trelvo::presets {

using host::TVstPlugIn;

namespace {

constexpr std::size_t kMinimumSetting = 20;
constexpr std::size_t kMaxProgramName = 64;
constexpr int kMaxQueries = 100000;
constexpr int kMaxBank = 16383; ///< MSB * 128 + LSB
const char* const kDashLine = "; ----------------------------------------------------------------------";
const char* const kDefinitions = ".Instrument Definitions";
const char* const kPatchNames = ".Patch Names";

/// The file's lines, trimmed, whatever their line ends.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(persist::trimmed(std::string_view(text).substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

/// The lines of the section "[header]" that follows the marker line, up to the next
/// section; empty when either is missing.
std::vector<std::string> sectionAfter(const std::vector<std::string>& lines, const char* marker,
                                      const std::string& header) {
    std::size_t i = 0;
    while (i < lines.size() && !persist::sameName(lines[i], marker)) ++i;
    const std::string wanted = "[" + header + "]";
    while (i < lines.size() && lines[i] != wanted) ++i;
    std::vector<std::string> section;
    for (++i; i < lines.size() && (lines[i].empty() || lines[i][0] != '['); ++i) section.push_back(lines[i]);
    return section;
}

/// "Patch[n]=name" (not "Patch[*]"): the bank number and its name.
bool patchLine(const std::string& line, int& bank, std::string& name) {
    constexpr std::string_view prefix = "Patch[";
    if (line.size() <= prefix.size() || !persist::sameName(std::string_view(line).substr(0, prefix.size()), prefix))
        return false;
    const std::size_t close = line.find(']', prefix.size());
    const std::size_t equals = line.find('=', prefix.size());
    if (close == std::string::npos || equals == std::string::npos || equals < close) return false;
    std::int32_t number = 0;
    if (!persist::parseWholeNumber(line.substr(prefix.size(), close - prefix.size()), number) || number < 0)
        return false;
    bank = number;
    name = persist::trimmed(std::string_view(line).substr(equals + 1));
    return true;
}

/// A plug-in's name as one line of the file: control characters (a line break would start
/// a line of its own) become blanks.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return text;
}

/// "key=value" with the key and value trimmed.
bool keyLine(const std::string& line, std::string& key, std::string& value) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || line.empty() || line[0] == ';') return false;
    key = persist::trimmed(std::string_view(line).substr(0, equals));
    value = persist::trimmed(std::string_view(line).substr(equals + 1));
    return true;
}

/// The first instrument other than this one (and its drum set) that a definition file
/// defines; empty when none.
std::string otherInstrument(const std::string& text, const InstrumentNames& names) {
    const std::vector<std::string> lines = linesOf(text);
    std::size_t i = 0;
    while (i < lines.size() && !persist::sameName(lines[i], kDefinitions)) ++i;
    for (; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
        const std::string name = line.substr(1, line.size() - 2);
        if (name != names.instrument && name != names.drumset) return name;
    }
    return {};
}

} // namespace

bool parseMidiIns(const std::string& value, InstrumentNames& names) {
    persist::IniCursor cursor;
    if (persist::IniItem(-static_cast<int>(kMinimumSetting), cursor, value) == persist::kIniError) return false;
    names.file = persist::trimmed(persist::IniItem(0, cursor));
    names.instrument = persist::trimmed(persist::IniItem(1, cursor));
    names.drumset = persist::trimmed(persist::IniItem(2, cursor));
    if (names.file.empty()) return false;
    if (names.instrument.empty()) {
        names.instrument = platform::fileNamePart(names.file);
        const std::size_t dot = names.instrument.rfind('.');
        if (dot != std::string::npos && dot > 0) names.instrument.erase(dot);
    }
    if (names.drumset.empty()) names.drumset = names.instrument + " Drumsets";
    return true;
}

BankNames defaultBankNames() {
    BankNames names;
    for (std::size_t b = 0; b < names.size(); ++b) names[b] = "Bank " + std::to_string(b);
    return names;
}

void takeOverBankNames(const std::string& text, const std::string& instrument, BankNames& names) {
    int bank = 0;
    std::string name;
    for (const std::string& line : sectionAfter(linesOf(text), kDefinitions, instrument))
        if (patchLine(line, bank, name) && bank < static_cast<int>(names.size()))
            names[static_cast<std::size_t>(bank)] = name;
}

std::string instrumentDefinitionText(const std::vector<MidiProgramEntry>& entries, int bankCount,
                                     const BankNames& bankNames, const InstrumentNames& names) {
    std::string text;
    const auto line = [&text](const std::string& content) { text += content + "\r\n"; };
    std::string upper = names.instrument;
    for (char& c : upper) c = capitalOf(c);
    line(kDashLine);
    line("; " + upper + " Cakewalk Instrument Definition V1.00");
    line(kDashLine);
    line("");
    line(kPatchNames);
    line("; " + std::to_string(entries.size()) + " MIDIprograms, " + std::to_string(bankCount) + " MIDIbanks");
    std::array<bool, 128> used{};
    int previous = -1;
    for (const MidiProgramEntry& entry : entries) {
        if (entry.bank != previous) {
            if (entry.bank < 0 || entry.bank >= static_cast<int>(used.size())) break;
            line("");
            line("[" + oneLine(bankNames[static_cast<std::size_t>(entry.bank)]) + "]");
            used[static_cast<std::size_t>(entry.bank)] = true;
            previous = entry.bank;
        }
        line(std::to_string(entry.program) + "=" + oneLine(entry.name.substr(0, kMaxProgramName)));
    }
    line("");
    line("[DrumsBank 0]");
    line("0=Standard Kit");
    line("");
    line(kDashLine);
    line("");
    line(kDefinitions);
    line("");
    line("[" + names.instrument + "]");
    line("BankSelMethod=2");
    for (std::size_t b = 0; b < used.size(); ++b)
        if (used[b]) line("Patch[" + std::to_string(b) + "]=" + oneLine(bankNames[b]));
    line("");
    line("[" + names.drumset + "]");
    line("BankSelMethod=1");
    line("Patch[0]=DrumsBank 0");
    return text;
}

std::vector<MidiProgramEntry> queryMidiProgramNames(TVstPlugIn& slot, int& bankCount) {
    std::vector<MidiProgramEntry> entries;
    bankCount = 0;
    MidiProgramName record{};
    record.thisProgramIndex = 0;
    const VstIntPtr count = slot.GetMidiProgramName(0, record);
    int previousBank = -2;
    int previousCategory = -1;
    for (VstIntPtr index = 0; index < count && index < kMaxQueries; ++index) {
        record = MidiProgramName{};
        record.thisProgramIndex = static_cast<std::int32_t>(index);
        if (slot.GetMidiProgramName(0, record) == 0) break;
        if (record.parentCategoryIndex != previousCategory && record.parentCategoryIndex >= 0) {
            // Asked as a host asks, though the file has no place for categories.
            MidiProgramCategory category{};
            category.thisCategoryIndex = record.parentCategoryIndex;
            slot.GetMidiProgramCategory(category);
        }
        previousCategory = record.parentCategoryIndex;
        // The bank the plug-in reports: its LSB, else its MSB, else bank 0.
        const int lsb = static_cast<signed char>(record.midiBankLsb);
        const int msb = static_cast<signed char>(record.midiBankMsb);
        const int bank = lsb >= 0 ? lsb : std::max(msb, 0);
        if (bank != previousBank && bank < 128) ++bankCount;
        previousBank = bank;
        const int program = static_cast<signed char>(record.midiProgram);
        if (program < 0) continue;
        entries.push_back({bank, program, std::string(record.name, strnlen(record.name, sizeof record.name))});
    }
    return entries;
}

InsOutcome generateInsFile(TVstPlugIn& slot, const std::string& folder, std::string& file, std::string& error) {
    if (slot.MidiBankStyle() != ' ' || !slot.PlugLoaded.load() || slot.CanDo("midiProgramNames") != 1)
        return InsOutcome::NotOffered;
    int bankCount = 0;
    const std::vector<MidiProgramEntry> entries = queryMidiProgramNames(slot, bankCount);
    InstrumentNames names;
    if (!parseMidiIns(slot.MidiIns, names)) return InsOutcome::NoSetting;
    file = names.file[0] == '/' ? names.file : platform::withTrailingSlash(folder) + names.file;
    if (entries.empty()) {
        error = "the plug-in named no MIDI programs; the file was not written";
        return InsOutcome::Failed;
    }
    BankNames bankNames = defaultBankNames();
    std::string existing;
    if (platform::readWholeFile(file, existing)) {
        // The file is written anew: one that also defines other instruments stays as it is.
        const std::string other = otherInstrument(existing, names);
        if (!other.empty()) {
            error = "it also defines the instrument \"" + other + "\"; name another file in \"MidiIns\"";
            return InsOutcome::Failed;
        }
        takeOverBankNames(existing, names.instrument, bankNames);
    }
    if (!platform::makeDirectories(folderOf(file))) {
        error = "cannot create the folder " + folderOf(file);
        return InsOutcome::Failed;
    }
    return platform::writeFileAtomically(file, instrumentDefinitionText(entries, bankCount, bankNames, names), error)
               ? InsOutcome::Written
               : InsOutcome::Failed;
}

std::vector<PresetItem> instrumentItems(TVstPlugIn& slot, const std::string& folder, int view) {
    std::vector<PresetItem> items;
    InstrumentNames names;
    if (!parseMidiIns(slot.MidiIns, names)) return items;
    const std::string file = names.file[0] == '/' ? names.file : platform::withTrailingSlash(folder) + names.file;
    std::string text;
    if (!platform::readWholeFile(file, text)) return items;
    const std::vector<std::string> lines = linesOf(text);
    const auto channel = static_cast<std::size_t>(std::clamp(slot.MidiSelect.Channel, 0, 15));
    const int currentBank = slot.MidiSelect.BankMsb[channel] * 128 + slot.MidiSelect.BankLsb[channel];
    std::string bankName;
    int bank = 0;
    std::string key, value, name;
    for (const std::string& line : sectionAfter(lines, kDefinitions, names.instrument)) {
        if (!keyLine(line, key, value) || persist::sameName(key, "Control")) continue;
        std::int32_t method = -1;
        if (persist::sameName(key, "BankSelMethod") && persist::parseWholeNumber(value, method) && method >= 0 &&
            method <= 4) {
            const char style = "bmlpr"[method];
            slot.setMidiBankStyle(isCapital(slot.MidiBankStyle()) ? capitalOf(style) : style);
        } else if (patchLine(line, bank, name) && bank <= kMaxBank) {
            if (view == 1)
                items.push_back(
                    {"  " + threeDigits(static_cast<int>(items.size())) + ": " + threeDigits(bank) + "-" + name, bank});
            else if (bank == currentBank && bankName.empty())
                bankName = name;
        }
    }
    if (view == 1 || bankName.empty()) return items;
    const int shown = isCapital(slot.MidiBankStyle()) ? 1 : 0;
    for (const std::string& line : sectionAfter(lines, kPatchNames, bankName)) {
        std::int32_t program = 0;
        if (keyLine(line, key, value) && persist::parseWholeNumber(key, program) && program >= 0 && program <= 127)
            items.push_back({"  " + threeDigits(program + shown) + ": " + value, program});
    }
    return items;
}

} // namespace trelvo::presets
