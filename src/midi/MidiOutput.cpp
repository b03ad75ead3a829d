#include "midi/MidiOutput.h"

#include <algorithm>
#include <cstring>

#include "diag/DiagLog.h"
#include "platform/Clock.h"

namespace trelvo::midi {

namespace {
constexpr std::int64_t kTicksPerMs = platform::kPerfFrequency / 1000;
}

TMidiOutputs::TMidiOutputs(std::vector<MidiBackend*> backends) {
    std::size_t total = 0;
    for (MidiBackend* backend : backends) total += backend->outputNames().size();
    devices = std::vector<Device>(total);
    std::size_t next = 0;
    for (MidiBackend* backend : backends) {
        const auto names = backend->outputNames();
        for (std::size_t i = 0; i < names.size(); ++i, ++next) {
            Device& device = devices[next];
            device.name = names[i];
            device.backend = backend;
            device.local = static_cast<int>(i);
            device.shorts = std::make_unique<platform::BoundedQueue<ShortEntry, 1024>>();
            device.longs = std::make_unique<platform::BoundedQueue<LongEntry, 16>>();
        }
    }
    // A new output thread for every opening of the layer: output never falls silent for
    // good after the layer was closed once.
    thread = std::thread([this] { run(); });
}

TMidiOutputs::~TMidiOutputs() {
    if (thread.joinable()) {
        if (diag::theLog().switches.writeLog.load()) diag::hookedLog("    terminating oMIDIthread");
        terminate = true;
        signal.release();
        thread.join();
    }
    closeAll();
}

bool TMidiOutputs::isOpen(int device) const noexcept {
    return device >= 0 && device < count() && devices[static_cast<std::size_t>(device)].open.load();
}

bool TMidiOutputs::open(int index) {
    if (index < 0 || index >= count()) return false;
    Device& device = devices[static_cast<std::size_t>(index)];
    if (device.open.load()) return true;
    device.nextFree = 0;
    device.open = device.backend->openOutput(device.local);
    return device.open.load();
}

void TMidiOutputs::close(int index) {
    if (index < 0 || index >= count()) return;
    Device& device = devices[static_cast<std::size_t>(index)];
    if (!device.open.exchange(false)) return;
    if (diag::theLog().switches.writeLog.load())
        diag::hookedLog("      TMidiOutputs.Close(" + std::to_string(index) + ") \"" + device.name + "\"");
    device.backend->closeOutput(device.local);
}

void TMidiOutputs::closeAll() {
    if (diag::theLog().switches.writeLog.load()) diag::hookedLog("    TMidiOutputs.CloseAll");
    for (int i = 0; i < count(); ++i) close(i);
}

bool TMidiOutputs::enqueue(int index, const std::uint8_t* bytes, std::size_t length, int frame) noexcept {
    if (index < 0 || index >= count() || length == 0) return false;
    Device& device = devices[static_cast<std::size_t>(index)];
    if (!device.open.load(std::memory_order_acquire)) return false;
    bool queued;
    if (device.backend->sampleAccurate()) {
        queued = device.backend->send(device.local, bytes, length, frame);
    } else if (bytes[0] == 0xF0) {
        queued = length <= kLongBytes && device.longs->tryEmplace([&](LongEntry& entry) {
            entry.length = static_cast<std::uint16_t>(length);
            std::memcpy(entry.bytes, bytes, length);
        });
    } else {
        ShortEntry entry{0, static_cast<std::uint8_t>(length > 3 ? 3 : length)};
        std::memcpy(&entry.word, bytes, entry.length);
        queued = device.shorts->tryPush(entry);
    }
    if (!queued) drops.fetch_add(1, std::memory_order_relaxed);
    return queued;
}

void TMidiOutputs::wake() noexcept {
    signal.release();
}

void TMidiOutputs::run() {
    LongEntry pendingLong;
    while (!terminate.load(std::memory_order_acquire)) {
        bool busy = false;
        const std::int64_t now = platform::perfCounter();
        for (Device& device : devices) {
            if (terminate.load()) break;
            if (!device.open.load(std::memory_order_acquire) || device.backend->sampleAccurate()) continue;
            const bool hasShort = !device.shorts->empty();
            const bool hasLong = !device.longs->empty();
            if (!hasShort && !hasLong) continue;
            busy = true;
            if (device.nextFree > now) continue;
            ShortEntry entry;
            if (hasShort && device.shorts->tryPop(entry)) {
                std::uint8_t bytes[4];
                std::memcpy(bytes, &entry.word, 4);
                device.backend->send(device.local, bytes, entry.length, 0);
                continue; // this device sends nothing else in this pass
            }
            if (hasLong && device.longs->tryPop(pendingLong)) {
                device.nextFree = now + 10 * kTicksPerMs;
                device.backend->send(device.local, pendingLong.bytes, pendingLong.length, 0);
                // Completed: the device rests one more millisecond from now at least.
                device.nextFree = std::max(device.nextFree, platform::perfCounter() + kTicksPerMs);
            }
        }
        if (terminate.load()) break;
        if (!busy) {
            signal.acquire(); // parked until the next wake
            while (signal.try_acquire()) {
            }
            continue;
        }
        platform::sleepMs(1);
    }
}

} // namespace trelvo::midi
