#include "gcode/large_block.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace gcode {
namespace {

constexpr std::size_t HugePage = LargeBlockBytes;

bool isLarge(std::size_t bytes) {
    return bytes >= HugePage;
}

std::size_t roundUp(std::size_t bytes) {
    return (bytes + HugePage - 1) / HugePage * HugePage;
}

} // namespace

void* AllocateLargeBlock(std::size_t bytes) {
    if (!isLarge(bytes)) {
        return ::operator new(bytes);
    }
#if defined(__linux__)
    void* block = std::aligned_alloc(HugePage, roundUp(bytes));
    if (!block) {
        throw std::bad_alloc();
    }
    // Only advice: where huge pages are off, the block simply gets ordinary pages.
    (void)::madvise(block, roundUp(bytes), MADV_HUGEPAGE);
    return block;
#else
    return ::operator new(bytes);
#endif
}

void FreeLargeBlock(void* block, std::size_t bytes) noexcept {
    if (!isLarge(bytes)) {
        ::operator delete(block);
        return;
    }
#if defined(__linux__)
    std::free(block);
#else
    ::operator delete(block);
#endif
}

} // namespace gcode
