// FXP and FXB preset files: one program or a whole bank, each in parameter form (the host
// writes every parameter value) or chunk form (the plug-in's own opaque block). Every
// number in the files is big-endian.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/IniFile.h"
#include "platform/TrelvoHome.h"

namespace trelvo::host {

std::atomic<bool> TVstPlugIn::DeveloperSwitch{false};

namespace {

constexpr std::size_t kProgramHeader = 56;
constexpr std::size_t kChunkProgramHeader = 60;
constexpr std::size_t kBankHeader = 156;
constexpr std::size_t kChunkBankHeader = 160;
constexpr std::size_t kNameField = 28;
/// A program in parameter form holds at most this many values.
constexpr std::int64_t kMaxProgramValues = 10000;

std::uint32_t bigEndian(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}
std::int32_t bigEndianInt(const char* bytes) {
    return static_cast<std::int32_t>(bigEndian(bytes));
}
float bigEndianFloat(const char* bytes) {
    const std::uint32_t bits = bigEndian(bytes);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void putBigEndian(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value >> 24);
    out += static_cast<char>(value >> 16);
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value);
}
void putFloat(std::string& out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putBigEndian(out, bits);
}
void putMagic(std::string& out, const char* magic) {
    out.append(magic, 4);
}
void putName(std::string& out, const std::string& name) {
    std::string field = name.substr(0, kNameField - 1);
    field.resize(kNameField, '\0');
    out += field;
}
/// One program in parameter form: the 56-byte header and the big-endian values.
void putProgramRecord(std::string& record, std::int32_t uniqueId, std::int32_t version, const std::string& name,
                      const std::vector<float>& values) {
    const auto numParams = static_cast<std::uint32_t>(values.size());
    record.clear();
    putMagic(record, "CcnK");
    putBigEndian(record, 48 + 4 * numParams);
    putMagic(record, "FxCk");
    putBigEndian(record, 1);
    putBigEndian(record, static_cast<std::uint32_t>(uniqueId));
    putBigEndian(record, static_cast<std::uint32_t>(version));
    putBigEndian(record, numParams);
    putName(record, name);
    for (const float value : values) putFloat(record, value);
}
std::string nameField(const char* bytes) {
    return std::string(bytes, strnlen(bytes, kNameField));
}

std::string baseName(const std::string& path) {
    const std::string file = platform::fileNamePart(path);
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

thread_local std::string gPresetFailure;

/// The designed error texts of the preset files in words for the user.
std::string readableFailure(std::string_view text) {
    const auto startsWith = [text](std::string_view head) { return text.substr(0, head.size()) == head; };
    if (startsWith(" does not exist")) return "the file does not exist";
    if (startsWith(" 1.BlockRead")) return "the file is empty, too short or not readable";
    if (startsWith(" 2.BlockRead") || startsWith(" 3.BlockRead") || startsWith(" 4.BlockRead"))
        return "the file is truncated";
    if (startsWith(" should be a chunk"))
        return "the file holds parameter values, but this plug-in keeps its programs as chunks";
    if (startsWith(" should not be a chunk")) return "the file holds a chunk, but this plug-in keeps parameter values";
    if (startsWith(" not for this plugin")) return "the file is for another plug-in (its plug-in id differs)";
    if (startsWith(" numParams="))
        return "the file declares" + std::string(text.substr(11)) + " parameters, more than a preset may hold";
    if (startsWith(" BeginLoad")) return "the plug-in refused the file";
    if (startsWith(" SetChunk=0")) return "the plug-in refused the chunk";
    if (startsWith(" chunkSize=0")) return "the plug-in gave no chunk to save";
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ') ++start;
    return std::string(text.substr(start));
}

void errorLine(std::string_view prefix, const std::string& file, std::string_view text) {
    gPresetFailure = readableFailure(text);
    std::string line(prefix);
    line += '"';
    line += file;
    line += '"';
    line += text;
    diag::hookedLogError(line);
}

/// A file's bytes read block by block: each read moves what is left, as a short read of
/// the file itself would.
class BlockReader {
public:
    explicit BlockReader(std::string content) : bytes(std::move(content)) {}
    std::size_t size() const noexcept { return bytes.size(); }
    void seek(std::size_t position) noexcept { offset = std::min(position, bytes.size()); }
    /// Copies up to n bytes into out; returns how many moved.
    std::size_t read(char* out, std::size_t n) noexcept {
        const std::size_t moved = std::min(n, bytes.size() - offset);
        std::memcpy(out, bytes.data() + offset, moved);
        offset += moved;
        return moved;
    }
    /// A view of up to n bytes from the current position, then past them.
    std::string_view take(std::size_t n) noexcept {
        const std::size_t moved = std::min(n, bytes.size() - offset);
        const std::string_view view(bytes.data() + offset, moved);
        offset += moved;
        return view;
    }

private:
    std::string bytes;
    std::size_t offset = 0;
};

/// Opens a preset file for one of the four operations, writing the designed lines when it
/// is missing or unreadable.
bool openForReading(std::string_view prefix, const std::string& file, std::string& content) {
    if (!platform::fileExists(file)) {
        errorLine(prefix, file, " does not exist");
        return false;
    }
    if (!platform::readWholeFile(file, content)) {
        // A folder or an unreadable file: nothing could be read at the first step.
        errorLine(prefix, file, " 1.BlockRead=0");
        return false;
    }
    return true;
}

/// The first steps of both loads: the file exists and reads, its form (byte 9) suits the
/// plug-in, its header is whole and its id is accepted. False with the designed line.
bool readHeader(const TVstPlugIn& plugIn, std::string_view prefix, const std::string& file, std::size_t chunkHeader,
                std::size_t paramHeader, std::string& content, char* header, bool& isChunk) {
    if (!openForReading(prefix, file, content)) return false;
    if (content.size() < 10) {
        errorLine(prefix, file, " 1.BlockRead=0");
        return false;
    }
    isChunk = content[9] != 'x';
    if (plugIn.programsAreChunks() && !isChunk && !TVstPlugIn::DeveloperSwitch.load()) {
        errorLine(prefix, file, " should be a chunk");
        return false;
    }
    if (!plugIn.programsAreChunks() && isChunk) {
        errorLine(prefix, file, " should not be a chunk");
        return false;
    }
    const std::size_t size = isChunk ? chunkHeader : paramHeader;
    if (content.size() < size) {
        errorLine(prefix, file, " 2.BlockRead=" + std::to_string(content.size()));
        return false;
    }
    std::memcpy(header, content.data(), size);
    const std::int32_t fxId = bigEndianInt(header + 16);
    const auto& accepted = plugIn.AltUniqueIds;
    if (fxId != plugIn.effectUniqueID() &&
        (fxId == 0 || std::find(accepted.begin(), accepted.end(), fxId) == accepted.end())) {
        errorLine(prefix, file, " not for this plugin");
        return false;
    }
    return true;
}

/// A file whose write permission is gone (even for a user whom the system would let write).
bool isReadOnly(const std::string& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return (info.st_mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0;
}

/// Writes a whole preset file through a temporary file; a failure leaves any previous
/// file untouched and reports the site where the design's block write would have failed.
bool writePresetFile(std::string_view prefix, const std::string& file, const std::string& content, char site) {
    std::string reason;
    if (platform::writeFileAtomically(file, content, reason)) return true;
    errorLine(prefix, file, std::string(" ") + site + ".BlockWrite=0");
    diag::hookedLog(std::string(prefix) + reason);
    gPresetFailure = reason;
    return false;
}

} // namespace

const std::string& TVstPlugIn::lastPresetFailure() {
    return gPresetFailure;
}

// ---- Loading ----

bool TVstPlugIn::LoadPreset(const std::string& file) {
    return readProgram(file, false, -1);
}

bool TVstPlugIn::readProgram(const std::string& file, bool isState, int select) {
    static constexpr std::string_view P = "LoadPreset: ";
    if (PVstEffect.load() == nullptr) return false;
    std::string content;
    char header[kChunkProgramHeader] = {};
    bool isChunk = false;
    if (!readHeader(*this, P, file, kChunkProgramHeader, kProgramHeader, content, header, isChunk)) return false;
    BlockReader reader(std::move(content));
    reader.seek(isChunk ? kChunkProgramHeader : kProgramHeader);
    const std::int32_t fxId = bigEndianInt(header + 16);
    const std::int32_t numParams = bigEndianInt(header + 24);
    if (!isChunk && (numParams < 0 || numParams > kMaxProgramValues)) {
        errorLine(P, file, " numParams=" + std::to_string(numParams));
        return false;
    }

    VstPatchChunkInfo info{};
    info.version = bigEndianInt(header + 12);
    info.pluginUniqueID = fxId;
    info.pluginVersion = bigEndianInt(header + 20);
    info.numElements = numParams;
    // A state is loaded into the program that was current when it was kept; the file is
    // not a preset of the user's, so the preset file name stays as it was.
    if (isState && select >= 0 && select < effectNumPrograms()) SetProgram(select);
    if (BeginLoadProgram(info) == -1) {
        errorLine(P, file, " BeginLoadProgram failed");
        return false;
    }
    if (!isState) PresetFileName = persist::trimmed(platform::fileNamePart(file));
    BeginSetProgram();
    SetProgramName(nameField(header + 28));

    if (isChunk) {
        // Everything after the header is the chunk, whatever its size field says.
        std::string chunk(reader.take(reader.size() - kChunkProgramHeader));
        if (SetChunk(true, chunk.data(), static_cast<VstIntPtr>(chunk.size())) == 0) errorLine(P, file, " SetChunk=0");
    } else {
        const std::size_t wanted = static_cast<std::size_t>(numParams) * 4;
        const std::string_view values = reader.take(wanted);
        if (values.size() != wanted) {
            errorLine(P, file, " 3.BlockRead=" + std::to_string(values.size()));
            EndSetProgram();
            return false;
        }
        // Values beyond the plug-in's own parameters have nowhere to go.
        const int count = std::min(numParams, effectNumParams());
        for (int i = 0; i < count; ++i)
            SetParameter(i, bigEndianFloat(values.data() + 4 * static_cast<std::size_t>(i)));
    }
    EndSetProgram();
    return true;
}

bool TVstPlugIn::LoadBank(const std::string& file) {
    return readBank(file, -1);
}

bool TVstPlugIn::LoadState(const std::string& file, int program) {
    // The file's own form decides how it loads; readHeader refuses a form the plug-in
    // does not keep.
    std::string content;
    const bool isBank = platform::readWholeFile(file, content) && content.size() >= 12 &&
                        content.compare(0, 4, "CcnK") == 0 && content.compare(8, 4, "FBCh") == 0;
    return isBank ? readBank(file, program) : readProgram(file, true, program);
}

bool TVstPlugIn::readBank(const std::string& file, int select) {
    static constexpr std::string_view P = "LoadBank: ";
    if (PVstEffect.load() == nullptr) return false;
    std::string content;
    char header[kChunkBankHeader] = {};
    bool isChunk = false;
    if (!readHeader(*this, P, file, kChunkBankHeader, kBankHeader, content, header, isChunk)) return false;
    BlockReader reader(std::move(content));
    reader.seek(isChunk ? kChunkBankHeader : kBankHeader);
    const std::int32_t fxId = bigEndianInt(header + 16);
    const std::int32_t numPrograms = bigEndianInt(header + 24);
    VstPatchChunkInfo info{};
    info.version = bigEndianInt(header + 12);
    info.pluginUniqueID = fxId;
    info.pluginVersion = bigEndianInt(header + 20);
    info.numElements = numPrograms;
    if (BeginLoadBank(info) == -1) {
        errorLine(P, file, " BeginLoadBank failed");
        return false;
    }

    if (isChunk) {
        std::string chunk(reader.take(reader.size() - kChunkBankHeader));
        if (SetChunk(false, chunk.data(), static_cast<VstIntPtr>(chunk.size())) == 0) errorLine(P, file, " SetChunk=0");
        // Selecting a program may reload what the chunk just set: only when it must.
        if (select >= 0 && select < effectNumPrograms() && GetProgram() != select) SetProgram(select);
        return true;
    }
    // Programs beyond the plug-in's own have nowhere to go; the plug-in is left on the
    // last program loaded.
    const int programs = std::min(numPrograms, effectNumPrograms());
    const int parameters = effectNumParams();
    for (int p = 0; p < programs; ++p) {
        char program[kProgramHeader];
        if (const std::size_t moved = reader.read(program, kProgramHeader); moved != kProgramHeader) {
            errorLine(P, file, " 3.BlockRead=" + std::to_string(moved));
            return false;
        }
        BeginSetProgram();
        SetProgram(p);
        SetProgramName(nameField(program + 28));
        const std::int32_t numParams = bigEndianInt(program + 24);
        for (std::int32_t i = 0; i < std::max(numParams, 0); ++i) {
            char value[4];
            if (const std::size_t moved = reader.read(value, 4); moved != 4) {
                errorLine(P, file, " 4.BlockRead=" + std::to_string(moved));
                EndSetProgram();
                return false;
            }
            if (i < parameters) SetParameter(i, bigEndianFloat(value));
        }
        EndSetProgram();
    }
    return true;
}

// ---- Saving ----

bool TVstPlugIn::FillProgramRecord(int program, const std::string& fallbackName, std::string& record,
                                   bool useFallbackName) {
    if (PVstEffect.load() == nullptr) return false;
    SetProgram(program);
    std::string name = fallbackName;
    if (!useFallbackName) {
        name = GetProgramName();
        if (persist::trimmed(name).empty()) name = fallbackName;
    }
    if (name.empty()) return false;
    std::vector<float> values(static_cast<std::size_t>(std::max(effectNumParams(), 0)));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = GetParameter(static_cast<int>(i));
    putProgramRecord(record, effectUniqueID(), effectVersion(), name, values);
    return true;
}

bool TVstPlugIn::SavePreset(const std::string& file, int mode) {
    static constexpr std::string_view P = "SavePreset: ";
    if (PVstEffect.load() == nullptr) return false;
    if (isReadOnly(file)) {
        diag::hookedLogError("SavePreset: Cannot save \"" + file + "\", is ReadOnly");
        gPresetFailure = "the file is read-only";
        return false;
    }
    const std::string name = mode == 2 ? baseName(file) : GetProgramName();
    if (mode != 1 && programsAreChunks()) {
        void* data = nullptr;
        const VstIntPtr size = GetChunk(true, data);
        if (size <= 0 || data == nullptr) {
            errorLine(P, file, " chunkSize=0");
            return false;
        }
        std::string content;
        putMagic(content, "CcnK");
        putBigEndian(content, static_cast<std::uint32_t>(size + 48));
        putMagic(content, "FPCh");
        putBigEndian(content, 1);
        putBigEndian(content, static_cast<std::uint32_t>(effectUniqueID()));
        putBigEndian(content, static_cast<std::uint32_t>(effectVersion()));
        putBigEndian(content, static_cast<std::uint32_t>(effectNumParams()));
        putName(content, name);
        putBigEndian(content, static_cast<std::uint32_t>(size));
        content.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
        return writePresetFile(P, file, content, '5');
    }
    std::string record;
    if (!FillProgramRecord(GetProgram(), baseName(file), record, true)) return false;
    std::string named = record.substr(0, 28);
    putName(named, name);
    named += record.substr(kProgramHeader);
    return writePresetFile(P, file, named, '7');
}

bool TVstPlugIn::SaveBank(const std::string& file, bool forceParams) {
    static constexpr std::string_view P = "SaveBank: ";
    if (PVstEffect.load() == nullptr) return false;
    if (isReadOnly(file)) {
        diag::hookedLogError("SaveBank: Cannot save \"" + file + "\", is ReadOnly");
        gPresetFailure = "the file is read-only";
        return false;
    }
    const auto putBankHeader = [this](std::string& out, const char* magic, std::uint32_t byteSize) {
        putMagic(out, "CcnK");
        putBigEndian(out, byteSize);
        putMagic(out, magic);
        putBigEndian(out, 1);
        putBigEndian(out, static_cast<std::uint32_t>(effectUniqueID()));
        putBigEndian(out, static_cast<std::uint32_t>(effectVersion()));
        putBigEndian(out, static_cast<std::uint32_t>(effectNumPrograms()));
        out.append(128, '\0');
    };
    if (!forceParams && programsAreChunks()) {
        void* data = nullptr;
        const VstIntPtr size = GetChunk(false, data);
        if (size <= 0 || data == nullptr) {
            errorLine(P, file, " chunkSize=0");
            return false;
        }
        std::string content;
        putBankHeader(content, "FBCh", static_cast<std::uint32_t>(size + 160));
        putBigEndian(content, static_cast<std::uint32_t>(size));
        content.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
        return writePresetFile(P, file, content, '1');
    }
    const int numPrograms = std::max(effectNumPrograms(), 0);
    const int numParams = std::max(effectNumParams(), 0);
    std::string content;
    putBankHeader(content, "FxBk", static_cast<std::uint32_t>(148 + numPrograms * (56 + 4 * numParams)));
    const int remembered = GetProgram();
    bool complete = true;
    for (int p = 0; p < numPrograms && complete; ++p) {
        std::string record;
        complete = FillProgramRecord(p, "preset" + std::to_string(p), record, false);
        if (complete) content += record;
    }
    SetProgram(remembered);
    // A bank that could not be filled completely is not written: it would not load back.
    return complete && writePresetFile(P, file, content, '3');
}

bool TVstPlugIn::SaveState(const std::string& file) {
    static constexpr std::string_view P = "SavePreset: ";
    if (PVstEffect.load() == nullptr) return false;
    // The bank chunk is the plug-in's whole state, and asking for it selects no program.
    if (programsAreChunks()) return SaveBank(file, false);
    if (isReadOnly(file)) {
        diag::hookedLogError("SavePreset: Cannot save \"" + file + "\", is ReadOnly");
        gPresetFailure = "the file is read-only";
        return false;
    }
    // Only the current program, as it sounds now. A bank in parameter form would have to
    // select every program in turn to read it, which a plug-in playing on stage may answer
    // with a jump in its sound or by resetting its parameters, and saving must not change
    // what is playing. Edits the user made to the plug-in's other programs are therefore
    // not kept: a project brings back the sound that was playing.
    std::string name = GetProgramName();
    if (persist::trimmed(name).empty()) name = "preset" + std::to_string(std::max(GetProgram(), 0));
    std::vector<float> values(static_cast<std::size_t>(std::max(effectNumParams(), 0)));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = GetParameter(static_cast<int>(i));
    std::string content;
    putProgramRecord(content, effectUniqueID(), effectVersion(), name, values);
    return writePresetFile(P, file, content, '7');
}

} // namespace trelvo::host
