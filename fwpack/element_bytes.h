// The bytes of one image element. A small element keeps them on the heap; one
// that grows large moves once into a platform block, where it keeps growing in
// place: a reader that appends record after record to one element never copies
// the element again, and the element lies on large pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform.h"

class ElementBytes {
public:
    ElementBytes() = default;
    ElementBytes(ElementBytes&&) noexcept = default;
    ElementBytes& operator=(ElementBytes&&) noexcept = default;
    ElementBytes(const ElementBytes&) = delete;
    ElementBytes& operator=(const ElementBytes&) = delete;

    // Null while empty.
    uint8_t* data() { return size_ == 0 ? nullptr : Start(); }
    const uint8_t* data() const { return size_ == 0 ? nullptr : Start(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void assign(const uint8_t* first, const uint8_t* last);
    void append(const uint8_t* first, const uint8_t* last) {
        const std::size_t count = static_cast<std::size_t>(last - first);
        // The usual case of a reader: one more record into room already there.
        if (large_.Reserved() && large_.MakeUsable(size_ + count)) {
            if (count != 0) std::memcpy(large_.data() + size_, first, count);
            size_ += count;
            return;
        }
        Grow(first, count);
    }
    void clear();
    // Gives back the memory of a large element's room to grow (at most one
    // large page); a small element keeps its heap buffer as it is.
    void shrink_to_fit() {
        if (large_.Reserved()) large_.ReleaseBeyond(size_);
    }

private:
    uint8_t* Start() { return large_.Reserved() ? large_.data() : small_.data(); }
    const uint8_t* Start() const { return large_.Reserved() ? large_.data() : small_.data(); }
    void Grow(const uint8_t* first, std::size_t count);
    bool MoveToLarge(const uint8_t* first, std::size_t count);

    std::vector<uint8_t> small_;     // the bytes while the element is small
    platform::GrowableBlock large_;  // the bytes once it is large
    std::size_t size_ = 0;
};
