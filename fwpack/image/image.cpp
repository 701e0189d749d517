// The memory image: construction by file extension, the core element
// operations and the queries over the elements. What is read and written goes
// through the formats' own functions.
#include "image/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/hex_reader.h"
#include "formats/srec_reader.h"
#include "formats/bin_reader.h"
#include "formats/hex_writer.h"
#include "formats/srec_writer.h"

CImage::CImage(uint8_t alternate, const char* path, bool named, const char* name)
    : alternate_(alternate), list_(std::make_unique<ElementList>()) {
    // Loaded while the reader runs, as the image's own operations expect.
    loaded_ = true;
    switch (KindOfPath(path ? path : "")) {
        case FileKind::kSrec: loaded_ = LoadSRec(path); break;
        case FileKind::kHex: loaded_ = LoadHex(path); break;
        default: loaded_ = false; break;
    }
    if (named) SetName(name ? name : "");
}

CImage::CImage(uint8_t alternate, bool named, const char* name)
    : alternate_(alternate), list_(std::make_unique<ElementList>()), loaded_(true) {
    if (named) SetName(name ? name : "");
}

CImage::CImage(uint8_t alternate, bool named, const char* name, std::unique_ptr<ElementList> elements)
    : alternate_(alternate), list_(elements ? std::move(elements) : std::make_unique<ElementList>()), loaded_(true) {
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
    // Replacing needs an element to replace: the index must be below the count.
    return insert ? list_->InsertAt(index, element) : list_->ReplaceAt(index, element);
}

bool CImage::GetElement(int32_t index, ImageElement* element) const {
    const ImageElement* stored = list_->GetAt(index);
    if (!loaded_ || !stored || !element) return false;
    element->address = stored->address;
    element->size = stored->size;
    if (element->data && stored->size != 0) std::memcpy(element->data, stored->data, stored->size);
    return true;
}

namespace {

// The image prints what its readers find, as it always has: the readers only
// hand it over.
bool Reported(bool read, const Error& error) {
    if (!read && error.kind == Error::Kind::kReaderLine) std::fputs(ReaderDiagnostic(error).c_str(), stderr);
    return read;
}

}  // namespace

bool CImage::LoadSRec(const char* path) {
    Error error;
    return Reported(ReadSRecFile(path, *list_, error), error);
}

bool CImage::LoadHex(const char* path) {
    Error error;
    return Reported(ReadHexFile(path, *list_, error), error);
}

bool CImage::LoadBin(const char* path, uint32_t base) { return ReadBinFile(path, base, *list_) == BinRead::kRead; }

const ElementList& CImage::GetList() const {
    static const ElementList kNothing;
    return loaded_ ? *list_ : kNothing;
}

bool CImage::SaveSRec(const char* path) const { return WriteSRecFile(path, GetList()); }

bool CImage::SaveHex(const char* path) const { return SaveHex(path, false); }

bool CImage::SaveHex(const char* path, bool end_of_file_record) const {
    return WriteHexFile(path, GetList(), end_of_file_record);
}

bool CImage::RemoveElement(int32_t index) { return loaded_ && list_->RemoveAt(index); }

bool CImage::HasElementAt(uint32_t address) const {
    const ElementList& list = *list_;
    return std::any_of(list.begin(), list.end(), [&](const ImageElement& e) { return e.address == address; });
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
    for (const ImageElement& element : *list_) total += element.size;  // wraps, as the format's sums do
    return total;
}

bool CImage::SaveToFile(const char* path) const {
    if (!loaded_) return false;
    switch (KindOfPath(path)) {
        case FileKind::kSrec: return SaveSRec(path);
        case FileKind::kHex: return SaveHex(path);
        default: return false;
    }
}

bool CImage::TakeElements(CImage& other) {
    if (!loaded_ || !other.loaded_ || &other == this) return false;
    list_->TakeAll(*other.list_);
    return true;
}

void CImage::SortElements() { list_->SortByAddress(); }

int CompareElementAddress(const void* first, const void* second) {
    const ImageElement* a = *static_cast<const ImageElement* const*>(first);
    const ImageElement* b = *static_cast<const ImageElement* const*>(second);
    if (a->address < b->address) return -1;
    return a->address > b->address ? 1 : 0;
}
