// Storage for the few big arrays of a loaded program (a million rows is 20 MB).
//
// Touching fresh memory page by page is what a large load spends most of its time on; blocks
// of 2 MB and more are therefore asked for as transparent huge pages where the system offers
// them, which turns about 500 page faults per megabyte into one per two megabytes.
#pragma once

#include <cstddef>
#include <new>

namespace gcode {

// Blocks from this size on are large: memory straight from the system, touched page by page.
inline constexpr std::size_t LargeBlockBytes = std::size_t{2} << 20;

void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;

template <class T> struct LargeBlockAllocator {
    using value_type = T;

    LargeBlockAllocator() = default;
    template <class U> LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return static_cast<T*>(AllocateLargeBlock(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { FreeLargeBlock(p, n * sizeof(T)); }

    template <class U> bool operator==(const LargeBlockAllocator<U>&) const noexcept {
        return true;
    }
};

} // namespace gcode
