// The bytes of an element list, kept together: each run of bytes is appended
// behind the previous one in a few large blocks that grow in place, so that an
// element costs a few words and no allocation of its own, and nothing is freed
// piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sys/platform.h"

// Bytes that element lists point into without a copy of their own, such as a
// whole file read into memory; they go when the last list that shares them
// goes. Nothing is added to them once they are shared.
class SharedBytes {
public:
    // Makes the size `size`, keeping the bytes up to the smaller of the two
    // sizes; false when no memory can be had.
    bool Resize(std::size_t size);
    uint8_t* data() { return mapped_.Reserved() ? mapped_.data() : heap_.data(); }
    const uint8_t* data() const { return mapped_.Reserved() ? mapped_.data() : heap_.data(); }
    std::size_t size() const { return size_; }

private:
    platform::GrowableBlock mapped_;  // on large pages where the system has them
    std::vector<uint8_t> heap_;       // where no address space could be reserved
    std::size_t size_ = 0;
};

class ByteStore {
public:
    ByteStore() = default;
    ByteStore(ByteStore&&) noexcept = default;
    ByteStore& operator=(ByteStore&&) noexcept = default;
    ByteStore(const ByteStore&) = delete;
    ByteStore& operator=(const ByteStore&) = delete;

    // Copies `size` bytes into fresh room behind everything stored and
    // returns where they are now; null for no bytes. `data` may point into
    // the store itself; null `data` leaves the room for the caller to fill.
    // Throws std::bad_alloc when no memory can be had.
    uint8_t* Add(const uint8_t* data, std::size_t size);
    // Grows the run of `run_size` bytes at `run` by `size` bytes of `data` and
    // returns where the run is now: in place when it is the last run added
    // and its block has room, else moved behind everything stored.
    uint8_t* Extend(uint8_t* run, std::size_t run_size, const uint8_t* data, std::size_t size);
    // Counts `size` bytes of a run as no longer used.
    void Release(std::size_t size) { garbage_ += size; }
    // Bytes added and not released.
    std::size_t Live() const { return stored_ - garbage_; }
    std::size_t Garbage() const { return garbage_; }

    // Moves every block of `other` into this store, leaving it empty; no
    // bytes move. Runs added later go behind all of them.
    void TakeAll(ByteStore& other);
    // Keeps a share of `bytes`, so that runs may lie in them without a copy;
    // CountShared() counts each such run in.
    void Share(const std::shared_ptr<const SharedBytes>& bytes);
    void CountShared(std::size_t size);
    // Gives back the memory that the last block holds beyond its runs.
    void Trim();
    void Clear() { *this = ByteStore(); }

private:
    struct Block {
        platform::GrowableBlock mapped;             // address space that grows in place
        std::unique_ptr<uint8_t[]> heap;            // small, or where none could be reserved
        std::shared_ptr<const SharedBytes> shared;  // always full
        uint8_t* data = nullptr;
        std::size_t capacity = 0;
        std::size_t used = 0;

        // Makes room for `size` more bytes; false when the block is full.
        bool MakeRoom(std::size_t size);
    };

    Block& NewBlock(std::size_t at_least);

    std::vector<Block> blocks_;  // runs are added to the last one
    std::size_t stored_ = 0;
    std::size_t garbage_ = 0;
};
