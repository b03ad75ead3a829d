#pragma once

#include <cstdint>
#include <string>

namespace trelvo::platform {

/// A shared object opened with dlopen(RTLD_NOW | RTLD_LOCAL). Move-only; closes on destruction.
/// Thread: user interface (loading and unloading are structural changes).
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    /// Opens the library, closing any earlier one. On failure error() says why.
    bool open(const std::string& path);
    /// The address of a symbol defined by this library itself (not by one it depends on),
    /// or nullptr.
    void* symbol(const char* name) const;
    void close() noexcept;

    bool isOpen() const noexcept { return handle != nullptr; }
    /// The handle as a number, for log lines.
    std::uintptr_t handleValue() const noexcept { return reinterpret_cast<std::uintptr_t>(handle); }
    const std::string& error() const noexcept { return lastError; }

private:
    void* handle = nullptr;
    std::string lastError;
};

} // namespace trelvo::platform
