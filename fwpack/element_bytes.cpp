// An element's bytes: the heap while small, a block that grows in place once large.
#include "element_bytes.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace {

// Past this an element moves to a platform block. Below it the heap serves
// better: small elements can be many, and each block reserves address space.
constexpr std::size_t kLargeElement = std::size_t{16} << 10;
// What a block reserves at least, and beyond what it needs: room to grow in
// place; address space only, which costs no memory until written.
constexpr std::size_t kMinimumReserve = std::size_t{256} << 20;
constexpr std::size_t kReserveFactor = 4;

}  // namespace

void ElementBytes::assign(const uint8_t* first, const uint8_t* last) {
    // Built aside, so that a range within the old bytes is still there to copy.
    ElementBytes fresh;
    fresh.append(first, last);
    fresh.shrink_to_fit();
    *this = std::move(fresh);
}

void ElementBytes::clear() { *this = ElementBytes(); }

void ElementBytes::Grow(const uint8_t* first, std::size_t count) {
    const std::size_t needed = size_ + count;
    if (needed < size_) throw std::bad_alloc();
    if (large_.Reserved() || needed > kLargeElement) {
        if (MoveToLarge(first, count)) return;
        if (large_.Reserved()) throw std::bad_alloc();
        // No address space to be had: the heap serves, growing by copies.
    }
    small_.insert(small_.end(), first, first + count);
    size_ = needed;
}

bool ElementBytes::MoveToLarge(const uint8_t* first, std::size_t count) {
    const std::size_t needed = size_ + count;
    const std::size_t reserve =
        std::max(kMinimumReserve, needed <= SIZE_MAX / kReserveFactor ? needed * kReserveFactor : needed);
    platform::GrowableBlock block(reserve);
    if (!block.Reserved() || !block.MakeUsable(needed)) return false;
    if (size_ != 0) std::memcpy(block.data(), Start(), size_);
    // Copied before the old bytes go: `first` may point into them.
    if (count != 0) std::memcpy(block.data() + size_, first, count);
    large_ = std::move(block);
    std::vector<uint8_t>().swap(small_);
    size_ = needed;
    return true;
}
