// The element list: a flat table of records over a store of bytes.
#include "model/element_list.h"

#include <algorithm>

namespace {

// Dead bytes are left in place until they pass both this and the live ones.
constexpr std::size_t kWasteAllowance = std::size_t{16} << 20;

}  // namespace

const ImageElement* ElementList::GetAt(int32_t index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return &elements_[static_cast<std::size_t>(index)];
}

ImageElement* ElementList::GetAt(int32_t index) {
    if (index < 0 || index >= GetCount()) return nullptr;
    return &elements_[static_cast<std::size_t>(index)];
}

ImageElement ElementList::Stored(const ImageElement& element) {
    return ImageElement{element.address, element.size, store_.Add(element.data, element.size)};
}

bool ElementList::InsertAt(int32_t index, const ImageElement& element) {
    if (index < 0 || index > GetCount()) return false;
    elements_.insert(elements_.begin() + index, Stored(element));
    return true;
}

bool ElementList::ReplaceAt(int32_t index, const ImageElement& element) {
    ImageElement* old = GetAt(index);
    if (old == nullptr) return false;
    // Copied before the old bytes are counted out: they may be the source.
    const ImageElement fresh = Stored(element);
    store_.Release(old->size);
    *GetAt(index) = fresh;
    CompactIfWasteful();
    return true;
}

bool ElementList::RemoveAt(int32_t index) {
    const ImageElement* old = GetAt(index);
    if (old == nullptr) return false;
    store_.Release(old->size);
    elements_.erase(elements_.begin() + index);
    if (elements_.empty()) Reset();
    CompactIfWasteful();
    return true;
}

void ElementList::Reset() {
    elements_.clear();
    store_.Clear();
}

void ElementList::AddData(uint32_t address, const uint8_t* data, uint32_t size) {
    if (!elements_.empty()) {
        ImageElement& last = elements_.back();
        // An element never grows past what its 32-bit size holds.
        if (uint64_t{last.address} + last.size == address && uint64_t{last.size} + size <= UINT32_MAX) {
            last.data = store_.Extend(last.data, last.size, data, size);
            last.size += size;
            return;
        }
    }
    elements_.push_back(Stored(ImageElement{address, size, const_cast<uint8_t*>(data)}));
}

uint8_t* ElementList::AppendRoom(uint32_t address, uint32_t size) {
    uint8_t* room = store_.Add(nullptr, size);
    elements_.push_back(ImageElement{address, size, room});
    return room;
}

void ElementList::SortByAddress() {
    const auto by_address = [](const ImageElement& a, const ImageElement& b) { return a.address < b.address; };
    // Elements merged from inputs given in address order are in order already.
    if (!std::is_sorted(elements_.begin(), elements_.end(), by_address)) {
        std::stable_sort(elements_.begin(), elements_.end(), by_address);
    }
}

void ElementList::TakeAll(ElementList& other) {
    if (&other == this) return;
    elements_.insert(elements_.end(), other.elements_.begin(), other.elements_.end());
    store_.TakeAll(other.store_);
    other.elements_.clear();
}

void ElementList::AppendShared(const std::shared_ptr<const SharedBytes>& bytes,
                               const std::vector<ImageElement>& elements) {
    if (bytes) store_.Share(bytes);
    elements_.reserve(elements_.size() + elements.size());
    // Compared as numbers: pointers into different arrays have no order.
    const uintptr_t begin = bytes ? reinterpret_cast<uintptr_t>(bytes->data()) : 0;
    const uintptr_t end = bytes ? begin + bytes->size() : 0;
    for (const ImageElement& element : elements) {
        const auto at = reinterpret_cast<uintptr_t>(element.data);
        if (element.size != 0 && at >= begin && at <= end && element.size <= end - at) {
            elements_.push_back(element);
            store_.CountShared(element.size);
        } else {
            elements_.push_back(Stored(element));
        }
    }
}

void ElementList::CompactIfWasteful() {
    if (store_.Garbage() <= std::max(kWasteAllowance, store_.Live())) return;
    ByteStore fresh;
    for (ImageElement& element : elements_) element.data = fresh.Add(element.data, element.size);
    store_ = std::move(fresh);
}
