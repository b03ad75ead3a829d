#pragma once

#include <array>
#include <memory>
#include <string_view>

#include "host/TVstHost.h"
#include "host/TVstPlugIn.h"
#include "model/SlotKind.h"
#include "rack/SlotCommandQueue.h"
#include "rack/Transport.h"

namespace trelvo::rack {

/// The rack's fixed table of 32 slots with the host object beside it and the slot command
/// queue. The slot objects are created once and never freed or moved before the rack goes
/// away; exchanging entries swaps references and keeps each object's SlotIdx current.
/// Used slots always occupy indexes 0 to N-1.
///
/// Structural operations run on the user-interface thread while audio is held.
class Rack {
public:
    Rack();
    /// Closes every open plug-in, then frees the slots and the host.
    ~Rack();
    Rack(const Rack&) = delete;
    Rack& operator=(const Rack&) = delete;

    host::TVstHost& host() noexcept { return *hostObject; }
    const host::TVstHost& host() const noexcept { return *hostObject; }
    host::TVstPlugIn& slot(int index) noexcept { return *hostObject->slotTable[static_cast<std::size_t>(index)]; }
    const host::TVstPlugIn& slot(int index) const noexcept {
        return *hostObject->slotTable[static_cast<std::size_t>(index)];
    }
    /// N, the number of slots in use. Thread: any.
    int numSlots() const noexcept { return hostObject->numSlots(); }
    void setNumSlots(int count) noexcept { hostObject->slotCount.store(count, std::memory_order_release); }
    SlotCommandQueue& commands() noexcept { return commandQueue; }
    Transport& transport() noexcept { return transportControl; }

    /// The lowest free index, or -1 when 32 slots are in use.
    int findFreeSlot() const noexcept;
    /// Adds a slot of a kind other than PLUGIN at the end of the rack, with its default
    /// name, volumes and switches and a new SlotID. -1 when the table is full or the
    /// kind's limit is reached (nothing changes then).
    int addSlot(SlotKind kind);
    /// Gives a slot its SlotID: a requested value of 5000 or more is kept (and raises the
    /// counter), a smaller one takes the next number, -1 clears it to 0.
    void assignIdentity(int index, int requested);
    /// Empties a slot, closing and unloading its plug-in first.
    void clearSlot(int index);
    /// Exchanges two table entries; valid when i >= 0 and j <= N-1.
    bool exchangeSlots(int i, int j) noexcept;
    /// The index of the first slot of a kind with that KindNo (a PLUGIN must hold a loaded
    /// plug-in); -1 when there is none. KindNo values come from recountKinds().
    int kindLookup(SlotKind kind, int kindNo) const noexcept;
    /// How many slots of a kind are in use.
    int countOfKind(SlotKind kind) const noexcept;
    /// Sets every used slot's KindNo.
    void recountKinds() noexcept;
    /// The strip head of a slot: the nearest mixer at or above it; -1 when none.
    int stripHeadOf(int index) const noexcept;

    /// The user interface's enqueue, with the toggle value resolved against the slot's
    /// current letter.
    bool enqueue(SlotCommandCode code, int slotIndex, int value, std::string_view text = {}, int argument = 0);

    /// The highest SlotID handed out so far (5000 before the first).
    int lastSlotId() const noexcept { return slotIdCounter; }

private:
    std::unique_ptr<host::TVstHost> hostObject;
    std::array<std::unique_ptr<host::TVstPlugIn>, kMaxSlots> slotObjects;
    SlotCommandQueue commandQueue;
    Transport transportControl;
    int slotIdCounter = 5000;
};

} // namespace trelvo::rack
