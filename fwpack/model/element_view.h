// The one view of an element that every reader of elements takes (the
// listing, the layout checks, the merge of inputs), whatever holds its
// bytes: an image's list or a DfuSe file in memory. And the questions asked
// of many elements at once: the first that runs past the top of the address
// space, and the first byte that two of them share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/element_list.h"

struct ElementSpan {
    uint32_t address = 0;
    uint32_t size = 0;
    const uint8_t* data = nullptr;  // null for a view that needs no bytes

    ElementSpan() = default;
    ElementSpan(uint32_t address, uint32_t size, const uint8_t* data = nullptr)
        : address(address), size(size), data(data) {}
    // NOLINTNEXTLINE(google-explicit-constructor): an element is a view of itself
    ElementSpan(const ImageElement& element) : address(element.address), size(element.size), data(element.data) {}

    // One past the last byte, without 32-bit wrap: up to 2^32 + 2^32 - 1.
    uint64_t End() const { return uint64_t{address} + size; }
    // Whether some of its bytes would lie past address 0xFFFFFFFF.
    bool RunsPastTheTop() const { return size != 0 && End() > uint64_t{1} << 32; }
};

// The first of `elements` (anything with `address` and `size`, in their
// order) whose bytes run past address 0xFFFFFFFF, or `elements.end()`.
template <typename Elements>
auto FirstPastTheTop(const Elements& elements) -> decltype(elements.begin()) {
    auto it = elements.begin();
    for (; it != elements.end(); ++it) {
        if (ElementSpan(it->address, it->size).RunsPastTheTop()) break;
    }
    return it;
}

// An element of one of several owners (the inputs of a target, or the
// elements of one target, each its own owner), for the overlap sweep.
struct OwnedSpan {
    uint32_t address;
    uint32_t size;
    uint32_t owner;
};

// Where two owners first define one byte: that byte's address, and the two
// owners, the lower number first.
struct Overlap {
    uint32_t address;
    uint32_t first;
    uint32_t second;
};

// The lowest byte that spans of two different owners share, with the owners
// that define it (`owners` is one more than the highest owner number); none
// when the owners keep apart. Spans of one owner may overlap each other.
// Empty spans define no byte. Spans in address order are walked as they
// stand; others are sorted first.
std::optional<Overlap> FirstOverlap(std::vector<OwnedSpan> spans, std::size_t owners);
