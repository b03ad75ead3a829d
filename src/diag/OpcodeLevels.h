#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "diag/DiagLog.h"

namespace trelvo::diag {

/// The level that logs every call ("ALL").
inline constexpr std::int32_t kLevelAll = 2147483647;
inline constexpr int kHostOpcodeCount = 50; ///< audioMaster opcodes, section "DebugHST"
inline constexpr int kPlugOpcodeCount = 80; ///< dispatcher opcodes, section "DebugPLG"

/// The "(n)" text a throttled call line ends with; empty for level "ALL".
struct CountText {
    char text[16] = {};
    std::size_t length = 0;
    std::string_view view() const noexcept { return {text, length}; }
};

/// One table of per-opcode call-log levels and counts. Level 0 logs nothing, kLevelAll
/// logs every call, any other N logs the first N calls since start. Counts only grow.
class OpcodeLevelTable {
public:
    explicit OpcodeLevelTable(int numOpcodes) noexcept;

    int size() const noexcept { return numOpcodes; }
    /// Thread: user interface (settings). Out-of-range opcodes are ignored.
    void setLevel(int opcode, std::int32_t level) noexcept;
    std::int32_t level(int opcode) const noexcept;
    std::int32_t count(int opcode) const noexcept;

    /// Claims one logged call: true when the count is below the level, and then the count
    /// grows by one and countText holds the count before this call. Thread: any, lock-free.
    bool claim(int opcode, CountText& countText) noexcept;

    /// Sets every level to 0 and every count to 0. The program never calls this (counts
    /// only grow while it runs); tests start each case from a clean table.
    void resetForTests() noexcept;

private:
    int numOpcodes;
    std::array<std::atomic<std::int32_t>, kPlugOpcodeCount> levels{};
    std::array<std::atomic<std::int32_t>, kPlugOpcodeCount> counts{};
};

/// The opcode filter asked before a host/plug-in call line is written: true only when
/// "WrLog" is on, 0 <= opcode <= highest, and the table lets one more call through.
/// Thread: any, lock-free.
bool passLogGate(const LogSwitches& switches, int opcode, OpcodeLevelTable& table, int highest,
                 CountText& countText) noexcept;

/// The process-wide tables: host-callback opcodes ("DebugHST") and dispatcher opcodes
/// ("DebugPLG").
OpcodeLevelTable& hostCallLevels();
OpcodeLevelTable& plugCallLevels();

/// "off" for 0, "ALL" for kLevelAll, else the number.
std::string levelText(std::int32_t level);
/// Reads "off", "ALL" (any case) or a whole number; anything else gives fallback.
std::int32_t parseLevel(std::string_view text, std::int32_t fallback) noexcept;

} // namespace trelvo::diag
