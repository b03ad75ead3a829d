#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <utility>

namespace trelvo::platform {

DynamicLibrary::~DynamicLibrary() {
    close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)), lastError(std::move(other.lastError)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, nullptr);
        lastError = std::move(other.lastError);
    }
    return *this;
}

bool DynamicLibrary::open(const std::string& path) {
    close();
    dlerror();
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        lastError = text != nullptr ? text : "dlopen failed";
        return false;
    }
    lastError.clear();
    return true;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle == nullptr) return nullptr;
    void* address = dlsym(handle, name);
    if (address == nullptr) return nullptr;
    // dlsym also searches the libraries this one depends on; an entry point must be the
    // library's own, so compare the object that defines the symbol with ours.
    link_map* ourMap = nullptr;
    Dl_info info{};
    if (dlinfo(handle, RTLD_DI_LINKMAP, &ourMap) != 0 || dladdr(address, &info) == 0) return address;
    if (ourMap != nullptr && info.dli_fbase != nullptr &&
        reinterpret_cast<ElfW(Addr)>(info.dli_fbase) != ourMap->l_addr) {
        // l_addr is the load bias; for shared objects it equals the base address.
        return nullptr;
    }
    return address;
}

void DynamicLibrary::close() noexcept {
    if (handle != nullptr) {
        dlclose(handle);
        handle = nullptr;
    }
}

} // namespace trelvo::platform
