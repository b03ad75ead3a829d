#include "persist/IniFile.h"

#include <charconv>

#include "diag/DiagLog.h"
#include "platform/TrelvoHome.h"

namespace trelvo::persist {

namespace {

constexpr std::string_view kSentinelValue = "[]";

char lowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string cut(std::string_view text) {
    return std::string(text.substr(0, kMaxIniText));
}

IniLine classify(std::string_view text) {
    IniLine line;
    line.raw = std::string(text);
    line.changed = false;
    const std::string_view body = trimmed(text);
    if (!body.empty() && body.front() == ';') {
        line.kind = ';';
        line.value = std::string(text);
        return line;
    }
    if (!body.empty() && body.front() == '[') {
        const std::size_t close = body.find(']');
        if (close != std::string_view::npos) {
            line.kind = '[';
            line.name = cut(trimmed(body.substr(1, close - 1)));
            // The text after "]" as it stands in the line.
            const std::size_t open = text.find('[');
            line.value = cut(text.substr(text.find(']', open) + 1));
            return line;
        }
    }
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos) {
        line.kind = '=';
        line.name = cut(trimmed(text.substr(0, equals)));
        line.value = cut(trimmed(text.substr(equals + 1)));
        return line;
    }
    line.kind = ' ';
    line.value = std::string(text);
    return line;
}

IniLine makeLine(char kind, std::string name, std::string value) {
    IniLine line;
    line.kind = kind;
    line.name = std::move(name);
    line.value = std::move(value);
    line.changed = true;
    return line;
}

bool isSentinel(const IniLine& line) {
    return line.kind == '[' && line.value == kSentinelValue;
}

/// The index of the next header at or after from (the sentinel included).
int nextHeader(const IniFile& file, int from) {
    for (int i = from; i < file.count(); ++i)
        if (file.lines[static_cast<std::size_t>(i)].kind == '[') return i;
    return file.count();
}

int findSection(const IniFile& file) {
    for (int i = 0; i < file.count(); ++i) {
        const IniLine& line = file.lines[static_cast<std::size_t>(i)];
        if (line.kind == '[' && !isSentinel(line) && sameName(line.name, file.sectionName)) return i;
    }
    return -1;
}

void deleteSectionKeys(IniFile& file) {
    if (file.section < 0) return;
    const int end = nextHeader(file, file.section + 1);
    for (int i = file.section + 1; i < end; ++i) {
        IniLine& line = file.lines[static_cast<std::size_t>(i)];
        if (line.kind == '=') {
            line.kind = '!';
            file.modified = true;
        }
    }
}

/// Erases the current section: its header, its lines, and one raw line just before it.
void eraseSection(IniFile& file) {
    if (file.section < 0) return;
    const int end = nextHeader(file, file.section + 1);
    for (int i = file.section; i < end; ++i) file.lines[static_cast<std::size_t>(i)].kind = '!';
    if (file.section > 0) {
        IniLine& before = file.lines[static_cast<std::size_t>(file.section - 1)];
        if (before.kind == ' ') before.kind = '!';
    }
    file.section = -1;
    file.modified = true;
}

bool roomFor(IniFile& file, std::size_t extra) {
    if (file.lines.size() + extra <= kMaxIniLines) return true;
    if (!file.tableFullReported) {
        diag::hookedLogError("IniFile: " + file.fileName + " holds " + std::to_string(kMaxIniLines) +
                             " lines; further keys are not written");
        file.tableFullReported = true;
    }
    return false;
}

void insertLine(IniFile& file, int position, IniLine line) {
    file.lines.insert(file.lines.begin() + position, std::move(line));
    if (file.section >= position) ++file.section;
}

std::string writeKey(IniFile& file, std::string_view keyIn, std::string_view valueIn) {
    const std::string key = cut(trimmed(keyIn));
    const std::string value = cut(trimmed(valueIn));
    if (key == "==" && value.empty()) {
        deleteSectionKeys(file);
        return std::string(valueIn);
    }
    if (key.empty() && value.empty()) {
        eraseSection(file);
        return std::string(valueIn);
    }
    if (key.empty()) return std::string(valueIn);

    if (file.section < 0) {
        if (value.empty()) return std::string(valueIn); // nothing to create for an empty value
        if (!roomFor(file, 2)) return std::string(valueIn);
        // A raw empty line and the header, before the sentinel.
        const int at = file.count() > 0 && isSentinel(file.lines.back()) ? file.count() - 1 : file.count();
        insertLine(file, at, makeLine(' ', "", ""));
        insertLine(file, at + 1, makeLine('[', file.sectionName, ""));
        file.section = at + 1;
        file.modified = true;
    }

    const int end = nextHeader(file, file.section + 1);
    int lastKeyOrComment = file.section;
    for (int i = file.section + 1; i < end; ++i) {
        IniLine& line = file.lines[static_cast<std::size_t>(i)];
        if (line.kind == ';' || line.kind == '=') lastKeyOrComment = i;
        if (line.kind == '=' && key != "=" && sameName(line.name, key)) {
            if (value.empty()) {
                line.kind = '!';
                file.modified = true;
            } else {
                // A written line is written in the file's own form (no blanks around "=").
                if (line.value != value) file.modified = true;
                line.value = value;
                line.changed = true;
            }
            return std::string(valueIn);
        }
    }
    if (value.empty() || !roomFor(file, 1)) return std::string(valueIn);
    insertLine(file, lastKeyOrComment + 1, makeLine('=', key == "=" ? std::string() : key, value));
    file.modified = true;
    return std::string(valueIn);
}

std::string readKey(IniFile& file, std::string_view keyIn, std::string_view fallback) {
    if (file.section < 0) return std::string(fallback);
    const std::string_view key = trimmed(keyIn);
    for (int i = file.section + 1; i < file.count(); ++i) {
        const IniLine& line = file.lines[static_cast<std::size_t>(i)];
        if (line.kind == '[') break;
        if (line.kind == '=' && sameName(line.name, key)) return line.value;
    }
    return std::string(fallback);
}

std::string enumerate(IniFile& file, std::string_view fallback) {
    if (file.section < 0) return std::string(fallback);
    for (int i = file.section + file.enumOffset + 1; i < file.count(); ++i) {
        const IniLine& line = file.lines[static_cast<std::size_t>(i)];
        if (line.kind == '[') break;
        if (line.kind == '=' && !line.value.empty()) {
            file.enumOffset = i - file.section;
            file.lastKey = line.name;
            file.lastValue = line.value;
            return line.name + kEnumSeparator + line.value;
        }
    }
    file.enumOffset = file.count() - file.section;
    return std::string(fallback);
}

} // namespace

std::string_view trimmed(std::string_view text) noexcept {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

bool parseWholeNumber(std::string_view text, std::int32_t& number) noexcept {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    std::int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return false;
    number = value;
    return true;
}

void IniFile::load(std::string_view text) {
    lines.clear();
    overflow.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lines.size() + 1 < kMaxIniLines)
            lines.push_back(classify(line));
        else
            overflow.emplace_back(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (!overflow.empty())
        diag::hookedLogError("IniFile: " + fileName + " has more than " + std::to_string(kMaxIniLines - 1) +
                             " lines; the rest is kept but not read");
    IniLine sentinel;
    sentinel.kind = '[';
    sentinel.value = std::string(kSentinelValue);
    lines.push_back(std::move(sentinel));
}

std::string IniFile::render() const {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const IniLine& line = lines[i];
        // The end sentinel is the table's own; every line of the file is written back.
        if (i + 1 == lines.size() && isSentinel(line)) continue;
        if (line.kind == '!') continue;
        // The blank line a new section brings into an empty file is not written.
        if (i == 0 && line.kind == ' ' && line.value.empty() && line.changed) continue;
        if (!line.changed) {
            text += line.raw;
        } else {
            switch (line.kind) {
            case '=': text += line.name + "=" + line.value; break;
            case '[': text += "[" + line.name + "]" + line.value; break;
            default: text += line.value; break;
            }
        }
        text += "\r\n";
    }
    for (const std::string& line : overflow) text += line + "\r\n";
    return text;
}

bool OpenIni(IniHandle& handle, const std::string& fileName, std::string_view sectionName, int mode) {
    if (handle && !(handle->fileName == fileName && (handle->mode & 3) == (mode & 3))) CloseIni(handle);
    if (!handle) {
        if (fileName.empty()) {
            diag::hookedLogError("OpenIni: fi=nil & Fini='");
            return false;
        }
        handle = std::make_unique<IniFile>();
        handle->fileName = fileName;
    }
    IniFile& file = *handle;
    file.sectionName = cut(trimmed(sectionName));
    file.section = -1;
    file.enumOffset = 0;
    if (file.lines.empty()) {
        std::string text;
        if (platform::readWholeFile(fileName, text)) {
            file.load(text);
        } else {
            file.load("");
        }
    }
    file.section = findSection(file);
    const bool exists = file.section >= 0;
    if (mode == kIniRebuild) {
        file.mode = kIniWrite;
        eraseSection(file);
    } else if (mode == kIniClearKeys || mode == kIniClearKeysAlso) {
        file.mode = kIniWrite;
        deleteSectionKeys(file);
    } else {
        file.mode = mode;
    }
    return exists;
}

bool CloseIni(IniHandle& handle) {
    if (!handle) return true;
    bool ok = true;
    IniFile& file = *handle;
    if (file.modified && !file.overflow.empty()) {
        // Written back, its tail could no longer match what the table changed: a file is
        // written only when it was read whole.
        diag::hookedLogError("CloseIni: " + file.fileName + " has more than " + std::to_string(kMaxIniLines) +
                             " lines and was not read whole: not written, so that none of it is lost");
        ok = false;
    } else if (file.modified && !file.lines.empty()) {
        std::string error;
        ok = platform::writeFileAtomically(file.fileName, file.render(), error);
        if (!ok) diag::hookedLogError("CloseIni: " + file.fileName + " not written: " + error);
    }
    handle.reset();
    return ok;
}

std::string IniStr(IniHandle& handle, std::string_view key, std::string_view value) {
    if (!handle) return std::string(value);
    IniFile& file = *handle;
    if (file.isWriting()) return writeKey(file, key, value);
    if ((file.mode & 0x80000) != 0) return enumerate(file, value);
    return readKey(file, key, value);
}

std::int32_t IniInt(IniHandle& handle, std::string_view key, std::int32_t value) {
    const std::string text = IniStr(handle, key, std::to_string(value));
    std::int32_t number = value;
    return parseWholeNumber(text, number) ? number : value;
}

bool IniBool(IniHandle& handle, std::string_view key, bool value) {
    return IniInt(handle, key, value ? 1 : 0) != 0;
}

std::string IniItem(int index, IniCursor& cursor, std::string_view source) {
    if (index < 0) {
        cursor.text = std::string(source);
        cursor.quoted = false;
        if (source.size() < static_cast<std::size_t>(-static_cast<long>(index))) {
            cursor.position = cursor.text.size();
            return std::string(kIniError);
        }
        const std::size_t separator = cursor.text.find(kEnumSeparator);
        if (separator == std::string::npos) {
            cursor.position = 0;
            return {};
        }
        cursor.position = separator + 1;
        return cursor.text.substr(0, separator);
    }
    const std::string& text = cursor.text;
    if (cursor.position >= text.size()) return {};
    std::size_t end;
    const char first = text[cursor.position];
    cursor.quoted = false;
    if (first == '"' || first == '\'') {
        const std::size_t close = text.find(first, cursor.position + 1);
        cursor.quoted = close != std::string::npos;
        end = text.find(',', close == std::string::npos ? cursor.position : close);
    } else {
        end = text.find(',', cursor.position);
    }
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(cursor.position, end - cursor.position);
    cursor.position = end + 1;
    if (!item.empty() && (item.front() == '"' || item.front() == '\'')) item.erase(0, 1);
    if (!item.empty() && (item.back() == '"' || item.back() == '\'')) item.pop_back();
    return item;
}

} // namespace trelvo::persist
