// The memory image: an ordered list of elements (runs of bytes at 32-bit
// addresses) with the attributes a DfuSe target needs, loaded from and saved
// to Motorola S-record and Intel HEX files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "element_bytes.h"

// One run of consecutive bytes. Stored in an image it points at bytes the
// image owns; as a caller's record for PutElement/GetElement it points at
// bytes the caller owns.
struct ImageElement {
    uint32_t address;
    uint32_t size;
    uint8_t* data;
};

// An element as the image keeps it: the record handed out and its bytes.
// `record.data` always points at `bytes` (or is null while `bytes` is empty).
struct StoredElement {
    ImageElement record{0, 0, nullptr};
    ElementBytes bytes;

    void Assign(uint32_t address, const uint8_t* data, uint32_t size);
    void Append(const uint8_t* data, uint32_t size);
};

// The image's elements in insertion order; never sorted, no fixed capacity.
class ElementList {
public:
    ElementList() = default;
    virtual ~ElementList() = default;
    ElementList(const ElementList&) = delete;
    ElementList& operator=(const ElementList&) = delete;

    int32_t GetCount() const;
    // The element at `index`, or null when the index is out of range.
    ImageElement* GetAt(int32_t index) const;
    StoredElement* GetStoredAt(int32_t index) const;
    // Puts an element at `index` (0 to count); false for any other index.
    bool InsertAt(int32_t index, std::unique_ptr<StoredElement> element);
    // Takes the element at `index` out and hands it back; null when out of range.
    std::unique_ptr<StoredElement> RemoveAt(int32_t index);
    void Reset();
    // Orders the elements by start address; elements that start at one
    // address keep their order.
    void SortByAddress();
    // Moves every element of `other` behind this list's, in their order.
    void TakeAll(ElementList& other);

private:
    std::vector<std::unique_ptr<StoredElement>> slots_;
};

class CImage {
public:
    // Loads `path` by its extension (".SREC" or ".HEX", any case); the outcome
    // is IsLoaded(). `name` is read only when `named` is true.
    CImage(uint8_t alternate, const char* path, bool named, const char* name);
    // An empty image, loaded and ready to take elements.
    CImage(uint8_t alternate, bool named, const char* name);
    virtual ~CImage();
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Target names longer than this are cut to it: the DfuSe name field's size.
    static constexpr std::size_t kMaxNameLength = 255;

    bool IsLoaded() const;
    uint8_t GetAlternate() const;
    // Copies the name with its terminator into `buffer` (kMaxNameLength + 1
    // bytes suffice) when the image is named; returns the named flag.
    bool GetName(char* buffer) const;
    void SetName(const char* name);

    int32_t GetNbElements() const;
    bool PutElement(int32_t index, bool insert, ImageElement element);
    bool GetElement(int32_t index, ImageElement* element) const;

    bool LoadSRec(const char* path);
    bool LoadHex(const char* path);
    // Reads the whole file at `path` as one element at `base`; an empty file
    // gives no element. False when the file cannot be read or its bytes
    // would run past address 0xFFFFFFFF.
    bool LoadBin(const char* path, uint32_t base);
    bool SaveSRec(const char* path) const;
    bool SaveHex(const char* path) const;
    // As SaveHex(path), closed by an end-of-file record when asked: the form
    // that every reader of the format takes without remark.
    bool SaveHex(const char* path, bool end_of_file_record) const;

    bool RemoveElement(int32_t index);
    bool HasElementAt(uint32_t address) const;
    bool ReadRange(uint32_t start, uint32_t length, uint8_t* buffer) const;
    uint32_t GetTotalSize() const;
    bool SaveToFile(const char* path) const;

    // Moves every element of `other` behind this image's elements, leaving
    // `other` empty; no bytes are copied. False when either is not loaded.
    bool TakeElements(CImage& other);
    // Orders the elements by start address (stable).
    void SortElements();

    // The image's list, for the readers and writers.
    const ElementList& GetList() const { return *list_; }

private:
    // Adds a data record's bytes at `address`: grows the last element when
    // the record continues it without a gap, else appends a new element.
    void AddData(uint32_t address, const uint8_t* data, uint32_t size);

    // The elements a writer writes, in list order: those with bytes, all of
    // which have an address (bytes past 0xFFFFFFFF have none, so such an
    // element is left out whole). An image that is not loaded hands out none.
    std::vector<const ImageElement*> ElementsToWrite() const;

    uint8_t alternate_;
    std::unique_ptr<ElementList> list_;
    bool loaded_ = false;
    bool named_ = false;
    std::string name_;
};

// The upper-cased extension of `path` with its dot (".HEX"), taken from the
// final path component after its last "."; empty when that component has none.
std::string UpperCaseExtension(const std::string& path);

// Whether `path` has the extension `extension` (".HEX"), in any case.
bool HasExtension(const std::string& path, const char* extension);

// Splits `source` at its first ".": the text before it goes to `name`, the
// text after it, dots removed and upper-cased, to `extension`. Each buffer must
// hold strlen(source) + 1 characters. Returns whether a "." was found.
bool SplitFileName(const char* source, char* name, char* extension);

// qsort-style comparison of two `ImageElement*` (passed by address) by start
// address, as unsigned numbers: -1, 0 or 1.
int CompareElementAddress(const void* first, const void* second);
