#include "platform/fresh_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace quenra {
namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;

// Whether every page of the range is mapped.
bool isMapped(const void* start, std::size_t size) {
    std::vector<unsigned char> pages((size + 4095) / 4096);
    return ::mincore(const_cast<void*>(start), size, pages.data()) == 0;
}

// The buffer starts on a huge page, reads as zero, takes writes over all of it, and is given
// back whole, the huge page it was rounded up to included.
TEST(FreshMemory, IsAlignedZeroAndGivenBackWhole) {
    for (const std::size_t size :
         {std::size_t{1}, hugePage - 1, hugePage, hugePage + 1, 5 * hugePage + 12345}) {
        SCOPED_TRACE(size);
        auto* memory = static_cast<std::uint8_t*>(FreshMemory::obtain(size));
        ASSERT_NE(memory, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % hugePage, 0U);
        std::size_t nonZero = 0;
        for (std::size_t index = 0; index < size; ++index) {
            nonZero += memory[index] != 0;
            memory[index] = static_cast<std::uint8_t>(index);
        }
        EXPECT_EQ(nonZero, 0U);
        const std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
        EXPECT_TRUE(isMapped(memory, rounded));
        FreshMemory::giveBack(memory, size);
        for (std::size_t offset = 0; offset < rounded; offset += 4096) {
            ASSERT_FALSE(isMapped(memory + offset, 4096)) << offset;
        }
    }
}

TEST(FreshMemory, RefusesWhatCannotBeMapped) {
    EXPECT_EQ(FreshMemory::obtain(SIZE_MAX), nullptr);
    EXPECT_EQ(FreshMemory::obtain(SIZE_MAX - hugePage), nullptr);
}

}  // namespace
}  // namespace quenra
