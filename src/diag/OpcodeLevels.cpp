#include "diag/OpcodeLevels.h"

#include <charconv>

namespace trelvo::diag {

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
} // namespace

OpcodeLevelTable::OpcodeLevelTable(int numOpcodes) noexcept
    : numOpcodes(numOpcodes < 0 ? 0 : (numOpcodes > kPlugOpcodeCount ? kPlugOpcodeCount : numOpcodes)) {}

void OpcodeLevelTable::setLevel(int opcode, std::int32_t level) noexcept {
    if (opcode >= 0 && opcode < numOpcodes) levels[static_cast<std::size_t>(opcode)].store(level);
}

std::int32_t OpcodeLevelTable::level(int opcode) const noexcept {
    return opcode >= 0 && opcode < numOpcodes ? levels[static_cast<std::size_t>(opcode)].load() : 0;
}

std::int32_t OpcodeLevelTable::count(int opcode) const noexcept {
    return opcode >= 0 && opcode < numOpcodes ? counts[static_cast<std::size_t>(opcode)].load() : 0;
}

bool OpcodeLevelTable::claim(int opcode, CountText& countText) noexcept {
    if (opcode < 0 || opcode >= numOpcodes) return false;
    const auto index = static_cast<std::size_t>(opcode);
    const std::int32_t limit = levels[index].load(std::memory_order_relaxed);
    std::int32_t seen = counts[index].load(std::memory_order_relaxed);
    do {
        if (seen >= limit || seen == kLevelAll) return false;
    } while (!counts[index].compare_exchange_weak(seen, seen + 1, std::memory_order_relaxed));

    countText.length = 0;
    if (limit != kLevelAll) {
        countText.text[0] = '(';
        const auto result = std::to_chars(countText.text + 1, countText.text + sizeof countText.text - 1, seen);
        *result.ptr = ')';
        countText.length = static_cast<std::size_t>(result.ptr - countText.text) + 1;
    }
    return true;
}

void OpcodeLevelTable::resetForTests() noexcept {
    for (auto& level : levels) level.store(0);
    for (auto& count : counts) count.store(0);
}

bool passLogGate(const LogSwitches& switches, int opcode, OpcodeLevelTable& table, int highest,
                 CountText& countText) noexcept {
    if (!switches.writeLog.load(std::memory_order_relaxed)) return false;
    if (opcode < 0 || opcode > highest) return false;
    return table.claim(opcode, countText);
}

OpcodeLevelTable& hostCallLevels() {
    static OpcodeLevelTable table(kHostOpcodeCount);
    return table;
}

OpcodeLevelTable& plugCallLevels() {
    static OpcodeLevelTable table(kPlugOpcodeCount);
    return table;
}

std::string levelText(std::int32_t level) {
    if (level == 0) return "off";
    if (level == kLevelAll) return "ALL";
    return std::to_string(level);
}

std::int32_t parseLevel(std::string_view text, std::int32_t fallback) noexcept {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (equalsIgnoringCase(text, "off")) return 0;
    if (equalsIgnoringCase(text, "ALL")) return kLevelAll;
    std::int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || text.empty()) return fallback;
    return value;
}

} // namespace trelvo::diag
