// The elements of an image: runs of bytes at 32-bit addresses, in the order
// in which they were put there, and the rule by which a reader's records
// merge into them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/byte_store.h"

// One run of consecutive bytes. Stored in a list it points at bytes the list
// owns; as a caller's record for PutElement/GetElement it points at bytes the
// caller owns. An element without bytes has no data pointer.
struct ImageElement {
    uint32_t address;
    uint32_t size;
    uint8_t* data;
};

// Never sorted unless asked, no fixed capacity. An element is a record in a
// flat table and its bytes lie in the list's store; pointers that the list
// hands out stay valid until the list is next changed.
class ElementList {
public:
    ElementList() = default;
    virtual ~ElementList() = default;
    ElementList(const ElementList&) = delete;
    ElementList& operator=(const ElementList&) = delete;

    int32_t GetCount() const { return static_cast<int32_t>(elements_.size()); }
    // The element at `index`, or null when the index is out of range.
    const ImageElement* GetAt(int32_t index) const;
    ImageElement* GetAt(int32_t index);
    // Puts a copy of `element` (its bytes included) at `index`, 0 to count;
    // false for any other index.
    bool InsertAt(int32_t index, const ImageElement& element);
    // Gives the element at `index` the address, size and a copy of the bytes
    // of `element`; false when there is no element there.
    bool ReplaceAt(int32_t index, const ImageElement& element);
    // Takes the element at `index` out; false when there is none.
    bool RemoveAt(int32_t index);
    void Reset();

    // Adds a data record's bytes at `address`: grows the last element when
    // the record continues it without a gap, else appends a new element. The
    // end is computed without 32-bit wrap: an element that ends at 2^32 is
    // never continued by a record at address 0, nor an element that would
    // then hold more bytes than its 32-bit size can count.
    void AddData(uint32_t address, const uint8_t* data, uint32_t size);
    // Appends an element of `size` bytes at `address` and returns where its
    // bytes are, for the caller to write them (null for no bytes).
    uint8_t* AppendRoom(uint32_t address, uint32_t size);
    // Orders the elements by start address; elements that start at one
    // address keep their order.
    void SortByAddress();
    // Moves every element of `other` behind this list's, in their order,
    // leaving `other` empty; no bytes are copied.
    void TakeAll(ElementList& other);
    // Appends `elements` in their order; the bytes of those that lie in
    // `bytes` are not copied, the list keeps a share of `bytes` instead.
    void AppendShared(const std::shared_ptr<const SharedBytes>& bytes, const std::vector<ImageElement>& elements);
    // Makes room for `count` elements in all, so that adding them moves the
    // table no more.
    void Reserve(std::size_t count) { elements_.reserve(count); }
    // Gives back the memory that was kept for the last element to grow.
    void Trim() { store_.Trim(); }

    const ImageElement* begin() const { return elements_.data(); }
    const ImageElement* end() const { return elements_.data() + elements_.size(); }

private:
    // Copies the bytes of `element` into the store.
    ImageElement Stored(const ImageElement& element);
    // Moves the live bytes into fresh blocks once dead ones outweigh them.
    void CompactIfWasteful();

    std::vector<ImageElement> elements_;
    ByteStore store_;
};

// Whether a writer can write `element`: it has bytes, and all of them have
// an address (an element that runs past 0xFFFFFFFF is left out whole).
inline bool HasAddressableBytes(const ImageElement& element) {
    return element.size != 0 && uint64_t{element.address} + element.size <= uint64_t{1} << 32;
}
