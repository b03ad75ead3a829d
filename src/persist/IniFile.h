#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace trelvo::persist {

// OpenIni modes.
inline constexpr int kIniRead = 1;
inline constexpr int kIniWrite = 2;
/// Write; an existing section is erased first and rebuilt at the end of the file.
inline constexpr int kIniRebuild = 4;
/// Read with enumeration: IniStr returns the section's key lines one by one.
inline constexpr int kIniEnumerate = 0x80001;
/// Write; an existing section's key lines are deleted first, everything else stays.
inline constexpr int kIniClearKeys = 0x100002;
inline constexpr int kIniClearKeysAlso = 0x180002;

/// The line table holds at most this many lines (the end sentinel included).
inline constexpr std::size_t kMaxIniLines = 10000;
/// Names and values are cut to this many characters.
inline constexpr std::size_t kMaxIniText = 254;
/// What IniItem answers for a list value that is too short.
inline constexpr std::string_view kIniError = "!ERROR!";
/// Separates key and value in what enumeration returns.
inline constexpr char kEnumSeparator = '\x7F';

/// One line of a loaded file.
struct IniLine {
    char kind = ' ';   ///< ' ' raw, ';' comment, '[' section header, '=' key line, '!' deleted
    std::string name;  ///< section or key name, trimmed
    std::string value; ///< key value; text after "]" of a header; the whole line otherwise
    std::string raw;   ///< the line as read; written back as it was while the line is unchanged
    bool changed = true;
};

/// One open INI file: its lines in order, the current section and the mode.
///
/// Beyond the limits: a file longer than 10000 lines keeps its first 9999 lines in the
/// table (readable and writable) and the rest as an untouched tail that is written back
/// after them, so nothing is lost; lines that writes would add beyond the limit are
/// refused with an error line. Names and values longer than 254 characters read cut to
/// 254; a line nobody writes is written back exactly as it was read.
class IniFile {
public:
    bool modified = false;
    int section = -1;
    int enumOffset = 0;
    int mode = kIniRead;
    std::string sectionName;
    std::string fileName;
    std::string lastKey;
    std::string lastValue;
    std::vector<IniLine> lines;
    std::vector<std::string> overflow; ///< lines beyond the table, kept verbatim
    bool tableFullReported = false;

    /// Fills the table from a file's text (CR LF or LF line ends) and adds the sentinel.
    void load(std::string_view text);
    /// The file's text as it will be written (CR LF line ends).
    std::string render() const;
    int count() const noexcept { return static_cast<int>(lines.size()); }
    bool isWriting() const noexcept { return (mode & 3) == 2; }
};

/// A caller's handle: empty while no file is open.
using IniHandle = std::unique_ptr<IniFile>;

/// Selects a section for the following calls, loading the file when the handle holds no
/// table for it. True when the section exists. Thread: user interface.
bool OpenIni(IniHandle& handle, const std::string& fileName, std::string_view sectionName, int mode);
/// Writes the file if it was modified (through a temporary file renamed over the old one),
/// then empties the handle. Returns false when writing failed (logged as an error line).
bool CloseIni(IniHandle& handle);

/// Reads (returning value when absent) or writes (returning value) one key.
std::string IniStr(IniHandle& handle, std::string_view key, std::string_view value);
std::int32_t IniInt(IniHandle& handle, std::string_view key, std::int32_t value);
bool IniBool(IniHandle& handle, std::string_view key, bool value);

/// The state of a list value being taken apart by IniItem.
struct IniCursor {
    std::string text;
    std::size_t position = 0;
    bool quoted = false;
};

/// Parses list values ("1,'a,b',3"). With a negative index -n it starts on source: the
/// result is kIniError when source is shorter than n characters, else the key part of an
/// enumerated line (empty for a plain value). With index >= 0 it returns the next item.
std::string IniItem(int index, IniCursor& cursor, std::string_view source = {});

/// Whole number text to int; false for anything else.
bool parseWholeNumber(std::string_view text, std::int32_t& number) noexcept;

/// ASCII-only case-insensitive comparison, as names are compared.
bool sameName(std::string_view a, std::string_view b) noexcept;
std::string_view trimmed(std::string_view text) noexcept;

} // namespace trelvo::persist
