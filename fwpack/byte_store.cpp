// An element list's bytes in large blocks that grow in place.
#include "byte_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace {

// What a block reserves at least, and beyond what it needs: room to grow in
// place. Address space only, which costs no memory until written.
constexpr std::size_t kMinimumReserve = std::size_t{256} << 20;
constexpr std::size_t kReserveFactor = 4;

}  // namespace

bool ByteStore::Block::MakeRoom(std::size_t size) {
    if (size > capacity - used) return false;
    return !mapped.Reserved() || mapped.MakeUsable(used + size);
}

ByteStore::Block& ByteStore::NewBlock(std::size_t at_least) {
    Block block;
    const std::size_t wanted =
        std::max(kMinimumReserve, at_least <= SIZE_MAX / kReserveFactor ? at_least * kReserveFactor : at_least);
    platform::GrowableBlock mapped(wanted);
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
    std::memmove(run, data, size);
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
    stored_ += run_size + size;
    garbage_ += run_size;
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

void ByteStore::Trim() {
    if (!blocks_.empty() && blocks_.back().mapped.Reserved()) blocks_.back().mapped.ReleaseBeyond(blocks_.back().used);
}
