// The memory image: an element list with the attributes a DfuSe target needs
// (alternate setting, optional name), loaded from and saved to Motorola
// S-record and Intel HEX files. The formats themselves live in their own
// files and work on the element list; the image forwards to them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/element_list.h"
#include "sys/paths.h"

class CImage {
public:
    // Loads `path` by its extension (".SREC" or ".HEX", any case); the outcome
    // is IsLoaded(). `name` is read only when `named` is true.
    CImage(uint8_t alternate, const char* path, bool named, const char* name);
    // An empty image, loaded and ready to take elements.
    CImage(uint8_t alternate, bool named, const char* name);
    // A loaded image of the elements of `elements`, which it takes over.
    CImage(uint8_t alternate, bool named, const char* name, std::unique_ptr<ElementList> elements);
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

    // The image's elements, as a writer or a listing walks them: none for an
    // image that is not loaded, whatever a failed reader left.
    const ElementList& GetList() const;

private:
    uint8_t alternate_;
    std::unique_ptr<ElementList> list_;
    bool loaded_ = false;
    bool named_ = false;
    std::string name_;
};

// qsort-style comparison of two `ImageElement*` (passed by address) by start
// address, as unsigned numbers: -1, 0 or 1.
int CompareElementAddress(const void* first, const void* second);
