// The memory image and its element list: construction by file extension,
// the core element operations, and the queries over the elements.
#include "image.h"

#include <algorithm>
#include <cstring>
#include <iterator>

// ---------------------------------------------------------------------------
// StoredElement

void StoredElement::Assign(uint32_t address, const uint8_t* data, uint32_t size) {
    bytes.assign(data, data + size);
    record.address = address;
    record.size = size;
    record.data = bytes.data();
}

void StoredElement::Append(const uint8_t* data, uint32_t size) {
    // The bytes grow geometrically, and a large element in place, so a long
    // run of small appends costs time linear in the bytes appended.
    bytes.append(data, data + size);
    record.size += size;
    record.data = bytes.data();
}

// ---------------------------------------------------------------------------
// ElementList

int32_t ElementList::GetCount() const { return static_cast<int32_t>(slots_.size()); }

StoredElement* ElementList::GetStoredAt(int32_t index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return slots_[static_cast<std::size_t>(index)].get();
}

ImageElement* ElementList::GetAt(int32_t index) const {
    StoredElement* stored = GetStoredAt(index);
    return stored ? &stored->record : nullptr;
}

bool ElementList::InsertAt(int32_t index, std::unique_ptr<StoredElement> element) {
    if (index < 0 || index > GetCount()) return false;
    slots_.insert(slots_.begin() + index, std::move(element));
    return true;
}

std::unique_ptr<StoredElement> ElementList::RemoveAt(int32_t index) {
    if (index < 0 || index >= GetCount()) return nullptr;
    std::unique_ptr<StoredElement> taken = std::move(slots_[static_cast<std::size_t>(index)]);
    slots_.erase(slots_.begin() + index);
    return taken;
}

void ElementList::Reset() { slots_.clear(); }

void ElementList::TakeAll(ElementList& other) {
    slots_.insert(slots_.end(), std::make_move_iterator(other.slots_.begin()),
                  std::make_move_iterator(other.slots_.end()));
    other.slots_.clear();
}

void ElementList::SortByAddress() {
    std::stable_sort(slots_.begin(), slots_.end(),
                     [](const auto& a, const auto& b) { return a->record.address < b->record.address; });
}

// ---------------------------------------------------------------------------
// Path helpers

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

void UpperCaseAscii(std::string& text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
}

}  // namespace

std::string UpperCaseExtension(const std::string& path) {
    // The final component starts after the last separator, or after a drive
    // ("C:") when the path has no separator.
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') start = 2;
    for (std::size_t i = start; i < path.size(); ++i) {
        if (IsSeparator(path[i])) start = i + 1;
    }
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return std::string();
    std::string extension = path.substr(dot);
    UpperCaseAscii(extension);
    return extension;
}

bool HasExtension(const std::string& path, const char* extension) { return UpperCaseExtension(path) == extension; }

bool SplitFileName(const char* source, char* name, char* extension) {
    bool seen_dot = false;
    std::size_t e = 0;
    std::size_t i = 0;
    for (; source[i] != '\0'; ++i) {
        char c = source[i];
        if (c == '.') {
            if (!seen_dot) name[i] = '\0';
            seen_dot = true;
        } else if (!seen_dot) {
            name[i] = c;
        } else {
            extension[e++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    if (!seen_dot) name[i] = '\0';
    extension[e] = '\0';
    return seen_dot;
}

int CompareElementAddress(const void* first, const void* second) {
    const ImageElement* a = *static_cast<const ImageElement* const*>(first);
    const ImageElement* b = *static_cast<const ImageElement* const*>(second);
    if (a->address < b->address) return -1;
    return a->address > b->address ? 1 : 0;
}

// ---------------------------------------------------------------------------
// CImage

CImage::CImage(uint8_t alternate, const char* path, bool named, const char* name)
    : alternate_(alternate), list_(std::make_unique<ElementList>()) {
    // Loaded while the reader runs, so that PutElement accepts its elements.
    loaded_ = true;
    const std::string extension = UpperCaseExtension(path ? path : "");
    if (extension == ".SREC") {
        loaded_ = LoadSRec(path);
    } else if (extension == ".HEX") {
        loaded_ = LoadHex(path);
    } else {
        loaded_ = false;
    }
    if (named) SetName(name ? name : "");
}

CImage::CImage(uint8_t alternate, bool named, const char* name)
    : alternate_(alternate), list_(std::make_unique<ElementList>()), loaded_(true) {
    if (named) SetName(name ? name : "");
}

CImage::~CImage() = default;

bool CImage::IsLoaded() const { return loaded_; }

uint8_t CImage::GetAlternate() const { return alternate_; }

bool CImage::GetName(char* buffer) const {
    if (named_) std::memcpy(buffer, name_.c_str(), name_.size() + 1);
    return named_;
}

void CImage::SetName(const char* name) {
    name_.assign(name, strnlen(name, kMaxNameLength));
    named_ = true;
}

int32_t CImage::GetNbElements() const { return list_->GetCount(); }

bool CImage::PutElement(int32_t index, bool insert, ImageElement element) {
    if (!loaded_ || index < 0 || index > GetNbElements()) return false;
    if (insert) {
        auto stored = std::make_unique<StoredElement>();
        stored->Assign(element.address, element.data, element.size);
        return list_->InsertAt(index, std::move(stored));
    }
    // Replacing needs an element to replace: the index must be below the count.
    StoredElement* stored = list_->GetStoredAt(index);
    if (!stored) return false;
    stored->Assign(element.address, element.data, element.size);
    return true;
}

bool CImage::GetElement(int32_t index, ImageElement* element) const {
    const ImageElement* stored = list_->GetAt(index);
    if (!loaded_ || !stored || !element) return false;
    element->address = stored->address;
    element->size = stored->size;
    if (element->data && stored->size != 0) std::memcpy(element->data, stored->data, stored->size);
    return true;
}

void CImage::AddData(uint32_t address, const uint8_t* data, uint32_t size) {
    StoredElement* last = list_->GetStoredAt(GetNbElements() - 1);
    // The end is computed without 32-bit wrap: an element that ends at 2^32
    // is never continued by a record at address 0.
    if (last && uint64_t{last->record.address} + last->record.size == address) {
        last->Append(data, size);
        return;
    }
    // The last element is complete: what it kept to grow is not needed.
    if (last) last->bytes.shrink_to_fit();
    PutElement(GetNbElements(), true, ImageElement{address, size, const_cast<uint8_t*>(data)});
}

std::vector<const ImageElement*> CImage::ElementsToWrite() const {
    std::vector<const ImageElement*> elements;
    for (int32_t i = 0; loaded_ && i < GetNbElements(); ++i) {
        const ImageElement* element = list_->GetAt(i);
        if (element->size != 0 && uint64_t{element->address} + element->size <= uint64_t{1} << 32) {
            elements.push_back(element);
        }
    }
    return elements;
}

// ---------------------------------------------------------------------------
// Queries

bool CImage::RemoveElement(int32_t index) {
    if (!loaded_ || !list_->RemoveAt(index)) return false;
    if (list_->GetCount() == 0) list_->Reset();
    return true;
}

bool CImage::HasElementAt(uint32_t address) const {
    for (int32_t i = 0; i < GetNbElements(); ++i) {
        if (list_->GetAt(i)->address == address) return true;
    }
    return false;
}

bool CImage::ReadRange(uint32_t start, uint32_t length, uint8_t* buffer) const {
    if (!loaded_) return false;
    const uint64_t range_start = start;
    const uint64_t range_end = range_start + length;
    bool found = false;
    // From the last element to the first, so that where two elements hold
    // bytes for one address the one earlier in the list is copied last.
    for (int32_t i = GetNbElements() - 1; i >= 0; --i) {
        const ImageElement* element = list_->GetAt(i);
        const uint64_t element_start = element->address;
        const uint64_t element_end = element_start + element->size;
        if (element_start >= range_end || element_end <= range_start) continue;
        if (!found) {
            std::memset(buffer, 0xFF, length);
            found = true;
        }
        const uint64_t from = std::max(element_start, range_start);
        const uint64_t to = std::min(element_end, range_end);
        // An empty element inside the range has no bytes and may have no buffer.
        if (to == from) continue;
        std::memcpy(buffer + (from - range_start), element->data + (from - element_start),
                    static_cast<std::size_t>(to - from));
    }
    return found;
}

uint32_t CImage::GetTotalSize() const {
    uint32_t total = 0;
    for (int32_t i = GetNbElements() - 1; i >= 0; --i) total += list_->GetAt(i)->size;  // wraps
    return total;
}

bool CImage::SaveToFile(const char* path) const {
    if (!loaded_) return false;
    const std::string extension = UpperCaseExtension(path);
    if (extension == ".SREC") return SaveSRec(path);
    if (extension == ".HEX") return SaveHex(path);
    return false;
}

bool CImage::TakeElements(CImage& other) {
    if (!loaded_ || !other.loaded_ || &other == this) return false;
    list_->TakeAll(*other.list_);
    return true;
}

void CImage::SortElements() { list_->SortByAddress(); }
