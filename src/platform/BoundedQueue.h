#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace trelvo::platform {

/// A fixed-capacity lock-free queue for plain records, safe for many producers and many
/// consumers (each cell carries a sequence number). Nothing is allocated after
/// construction; a full queue refuses the record and counts the drop.
/// Capacity must be a power of two.
template <class T, std::size_t Capacity> class BoundedQueue {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");
    static_assert(std::is_trivially_copyable_v<T>, "records cross threads by copy");

public:
    BoundedQueue() noexcept {
        for (std::size_t i = 0; i < Capacity; ++i) cells[i].sequence.store(i, std::memory_order_relaxed);
    }
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    /// Copies the record in; false (and one more drop counted) when the queue is full.
    /// Thread: any, lock-free.
    bool tryPush(const T& record) noexcept {
        Cell* cell = claimForWrite();
        if (cell == nullptr) {
            drops.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        cell->value = record;
        cell->sequence.store(cell->claimedPosition + 1, std::memory_order_release);
        return true;
    }

    /// Lets the caller fill the record in place (no extra copy for large records).
    /// Thread: any, lock-free.
    template <class Fill> bool tryEmplace(Fill&& fill) noexcept {
        Cell* cell = claimForWrite();
        if (cell == nullptr) {
            drops.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        fill(cell->value);
        cell->sequence.store(cell->claimedPosition + 1, std::memory_order_release);
        return true;
    }

    /// Thread: any, lock-free.
    bool tryPop(T& record) noexcept {
        std::size_t position = readPosition.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells[position & (Capacity - 1)];
            const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto difference = static_cast<std::intptr_t>(sequence) - static_cast<std::intptr_t>(position + 1);
            if (difference == 0) {
                if (readPosition.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    record = cell.value;
                    cell.sequence.store(position + Capacity, std::memory_order_release);
                    return true;
                }
            } else if (difference < 0) {
                return false;
            } else {
                position = readPosition.load(std::memory_order_relaxed);
            }
        }
    }

    /// True when nothing is waiting (a snapshot; producers may add at any moment).
    bool empty() const noexcept {
        return readPosition.load(std::memory_order_acquire) >= writePosition.load(std::memory_order_acquire);
    }

    /// Records refused because the queue was full, since construction.
    std::uint64_t dropCount() const noexcept { return drops.load(std::memory_order_relaxed); }
    static constexpr std::size_t capacity() noexcept { return Capacity; }

private:
    struct Cell {
        std::atomic<std::size_t> sequence{0};
        std::size_t claimedPosition = 0;
        T value{};
    };

    Cell* claimForWrite() noexcept {
        std::size_t position = writePosition.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells[position & (Capacity - 1)];
            const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto difference = static_cast<std::intptr_t>(sequence) - static_cast<std::intptr_t>(position);
            if (difference == 0) {
                if (writePosition.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    cell.claimedPosition = position;
                    return &cell;
                }
            } else if (difference < 0) {
                return nullptr;
            } else {
                position = writePosition.load(std::memory_order_relaxed);
            }
        }
    }

    std::array<Cell, Capacity> cells;
    alignas(64) std::atomic<std::size_t> writePosition{0};
    alignas(64) std::atomic<std::size_t> readPosition{0};
    alignas(64) std::atomic<std::uint64_t> drops{0};
};

} // namespace trelvo::platform
