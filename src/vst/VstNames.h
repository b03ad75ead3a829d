#pragma once

#include <string>
#include <string_view>

namespace trelvo::host {

/// The dispatcher opcode's short name ("GetChunk") without prefix; "Unknown" beyond 79.
std::string_view effOpcodeBaseName(int opcode) noexcept;
/// "effGetChunk", or with number "23:effGetChunk".
std::string EffOpcodeName(int opcode, bool withNumber);

/// The host-callback opcode's short name ("GetTime"); "Unknown" beyond 49.
std::string_view amOpcodeBaseName(int opcode) noexcept;
/// "amGetTime", or with number "7:amGetTime".
std::string AmOpcodeName(int opcode, bool withNumber);

/// "Unknown", "Effect", ... "Generator" for 0..11, else empty.
std::string_view PlugCategoryName(int category) noexcept;

} // namespace trelvo::host
