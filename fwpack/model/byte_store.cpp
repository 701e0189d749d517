// An element list's bytes in large blocks that grow in place.
#include "model/byte_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace {

// What a block reserves at least, and beyond what it needs: room to grow in
// place. Address space only, which costs no memory until written.
constexpr std::size_t kMinimumReserve = std::size_t{256} << 20;
constexpr std::size_t kReserveFactor = 4;
// A store starts with heap blocks, growing from the first, and takes reserved
// address space once it needs this much: a small input (one of many, say)
// then costs no fresh large page of its own.
constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
constexpr std::size_t kLargestHeapBlock = std::size_t{1} << 20;

}  // namespace

bool ByteStore::Block::MakeRoom(std::size_t size) {
    if (size > capacity - used) return false;
    return !mapped.Reserved() || mapped.MakeUsable(used + size);
}

ByteStore::Block& ByteStore::NewBlock(std::size_t at_least) {
    Block block;
    const std::size_t grown = at_least <= SIZE_MAX / kReserveFactor ? at_least * kReserveFactor : at_least;
    const std::size_t small = std::max({kFirstBlock, grown, stored_});
    if (small <= kLargestHeapBlock) {
        block.heap.reset(new uint8_t[small]);
        block.data = block.heap.get();
        block.capacity = small;
        blocks_.push_back(std::move(block));
        return blocks_.back();
    }
    platform::GrowableBlock mapped(std::max(kMinimumReserve, grown));
    if (mapped.Reserved()) {
        block.data = mapped.data();
        block.capacity = mapped.capacity();
        block.mapped = std::move(mapped);
    } else {
        // No address space to spare (a 32-bit process, say): a heap block
        // that is just big enough, and growth by moving to the next.
        const std::size_t size = std::max(at_least, std::size_t{1} << 20);
        block.heap.reset(new uint8_t[size]);
        block.data = block.heap.get();
        block.capacity = size;
    }
    blocks_.push_back(std::move(block));
    return blocks_.back();
}

uint8_t* ByteStore::Add(const uint8_t* data, std::size_t size) {
    if (size == 0) return nullptr;
    Block* block = blocks_.empty() ? nullptr : &blocks_.back();
    if (block == nullptr || !block->MakeRoom(size)) block = &NewBlock(size);
    if (!block->MakeRoom(size)) throw std::bad_alloc();
    uint8_t* run = block->data + block->used;
    // memmove: `data` may lie in this very store, though never in fresh room.
    if (data) std::memmove(run, data, size);
    block->used += size;
    stored_ += size;
    return run;
}

uint8_t* ByteStore::Extend(uint8_t* run, std::size_t run_size, const uint8_t* data, std::size_t size) {
    if (size == 0) return run;
    if (run == nullptr || run_size == 0) return Add(data, size);
    if (!blocks_.empty()) {
        Block& last = blocks_.back();
        if (run + run_size == last.data + last.used && last.MakeRoom(size)) {
            std::memmove(run + run_size, data, size);
            last.used += size;
            stored_ += size;
            return run;
        }
    }
    // The run moves once to a block with room for it to grow a good deal
    // further, so that a long series of appends copies each byte a bounded
    // number of times. Its old bytes stay where they were until the store
    // goes, so `data` stays valid while it is copied.
    Block* block = &blocks_.back();
    if (!block->MakeRoom(run_size + size)) block = &NewBlock(run_size + size);
    if (!block->MakeRoom(run_size + size)) throw std::bad_alloc();
    uint8_t* moved = block->data + block->used;
    std::memcpy(moved, run, run_size);
    std::memmove(moved + run_size, data, size);
    block->used += run_size + size;
    stored_ += size;
    // A heap block that held nothing but the run goes at once; elsewhere the
    // old bytes stay, counted as dead ones.
    const auto previous = blocks_.end() - std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(blocks_.size()));
    if (previous->heap && previous->data == run && previous->used == run_size) {
        blocks_.erase(previous);
    } else {
        stored_ += run_size;
        garbage_ += run_size;
    }
    return moved;
}

void ByteStore::TakeAll(ByteStore& other) {
    if (&other == this || other.blocks_.empty()) return;
    // Behind this store's blocks, but this store's last block stays the one
    // that runs are added to: its last run may still grow in place.
    auto at = blocks_.empty() ? blocks_.end() : std::prev(blocks_.end());
    blocks_.insert(at, std::make_move_iterator(other.blocks_.begin()), std::make_move_iterator(other.blocks_.end()));
    stored_ += other.stored_;
    garbage_ += other.garbage_;
    other.Clear();
}

void ByteStore::Share(const std::shared_ptr<const SharedBytes>& bytes) {
    if (!bytes || bytes->size() == 0) return;
    Block block;
    block.shared = bytes;
    // Full from the start: nothing is ever added to shared bytes.
    block.data = const_cast<uint8_t*>(bytes->data());
    block.capacity = block.used = bytes->size();
    // In front of the last block, which may still hold a run that grows.
    blocks_.insert(blocks_.empty() ? blocks_.end() : std::prev(blocks_.end()), std::move(block));
}

void ByteStore::CountShared(std::size_t size) { stored_ += size; }

bool SharedBytes::Resize(std::size_t size) {
    if (!mapped_.Reserved() && heap_.empty()) mapped_ = platform::GrowableBlock(std::max(kMinimumReserve, size));
    if (mapped_.Reserved()) {
        if (mapped_.MakeUsable(size)) {
            size_ = size;
            return true;
        }
        if (size <= mapped_.capacity()) return false;
        // Past what was reserved: on the heap from here on.
        heap_.assign(mapped_.data(), mapped_.data() + size_);
        mapped_ = platform::GrowableBlock();
    }
    heap_.resize(size);
    size_ = size;
    return true;
}

void ByteStore::Trim() {
    if (!blocks_.empty() && blocks_.back().mapped.Reserved()) blocks_.back().mapped.ReleaseBeyond(blocks_.back().used);
}
