#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "model/SlotKind.h"
#include "model/TimeInfo.h"
#include "vst/VstAbi.h"

namespace trelvo::host {

class TVstPlugIn;

/// The default host capability word: the host answers canDo with 1 for bits 0 to 9, 11,
/// 17 and 18 of the capability list.
inline constexpr std::uint32_t kDefaultHostCapabilities = 0x60BFF;

/// The one host object every plug-in sees through the host callback, with the engine-wide
/// values that live beside it: sample rate, block size, the slot table and its count.
/// Creating it makes it the host the callback answers for; destroying it ends that.
class TVstHost {
public:
    /// Notification events (code, data).
    using Notification = std::function<void(int code, std::intptr_t data)>;

    explicit TVstHost(Notification onCreate = {});
    ~TVstHost();
    TVstHost(const TVstHost&) = delete;
    TVstHost& operator=(const TVstHost&) = delete;

    /// The host the callback answers for, or nullptr. Thread: any.
    static TVstHost* current() noexcept;

    /// Stores the block size and sends effSetBlockSize to every slot in use with a plug-in.
    /// Thread: user interface, while audio is held.
    void SetBlockSize(int frames);

    /// True when the pointer is one of this host's slot objects (used to check resvd1).
    bool ownsSlot(const TVstPlugIn* slot) const noexcept;
    TVstPlugIn* slot(int index) const noexcept {
        return index >= 0 && index < rack::kMaxSlots ? slotTable[static_cast<std::size_t>(index)] : nullptr;
    }
    int numSlots() const noexcept { return slotCount.load(std::memory_order_acquire); }

    // Answers for the host callback.
    std::int32_t InputLatency = 0;
    std::int32_t OutputLatency = 0;
    std::uint8_t Language = 0;
    std::int32_t NumAutomatableParams = 0;
    std::int32_t ParamQuantization = 0;
    std::string VendorString = "Marnik";
    std::int32_t VendorVersion = 1;
    std::string ProductString = "Trelvo";
    std::string Directory;
    std::atomic<bool> IdleEditors{false};
    std::atomic<std::uint32_t> capabilities{kDefaultHostCapabilities};
    /// Set while some slot is soloed; project loading sets it and the solo rule reads it.
    std::atomic<bool> anySolo{false};

    /// The worker program isolated slots run their plug-ins in; empty: the one beside
    /// the running program.
    std::string slotWorker;
    /// Set while the engine renders to a file: an isolated plug-in's blocks are waited for
    /// as long as they take instead of the block's own length.
    std::atomic<bool> offlineRendering{false};

    /// Owner of the record audioMasterGetTime hands out.
    rack::TVTI TimeInfo;

    // Engine-wide values beside the host.
    std::atomic<float> engineSampleRate{44100.0f};
    std::atomic<std::int32_t> engineBlockSize{2048};
    std::atomic<std::int32_t> slotCount{0};
    /// The 32 slots in table order; exchanging entries swaps these pointers.
    std::array<TVstPlugIn*, rack::kMaxSlots> slotTable{};

    /// Counters that log lines carry: the idle-timer tick and the audio block counter.
    std::atomic<std::uint32_t> idleTick{0};
    std::atomic<std::uint32_t> bufferCount{0};

    Notification OnDestroy;
};

} // namespace trelvo::host
