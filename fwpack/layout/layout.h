// The memory behind a DfuSe alternate setting, as a device describes it in
// the setting's interface string: a name, then zones, each a start address
// and runs of equal pages (segments) with their access type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace layout {

// The bits of a segment's type: its letter minus 0x60.
constexpr uint8_t kReadable = 1;
constexpr uint8_t kErasable = 2;
constexpr uint8_t kWriteable = 4;

struct Segment {
    uint32_t start = 0;
    uint32_t page_size = 0;  // bytes
    uint32_t page_count = 0;
    uint8_t type = 0;  // kReadable | kErasable | kWriteable

    // One past the last byte; never above 2^32.
    uint64_t End() const { return start + uint64_t{page_size} * page_count; }
    bool Holds(uint32_t address) const { return address >= start && address < End(); }
};

struct MemoryLayout {
    std::string name;               // as written between "@" and the first zone, spaces included
    std::vector<Segment> segments;  // in the order of the text

    // The segment that holds `address` (the first one when zones overlap), or null.
    const Segment* SegmentAt(uint32_t address) const;
};

// Parses `text`, the interface string with or without surrounding double
// quotes. On a text that does not follow the grammar, false with `error`
// naming the 1-based position of the offending character (counted from
// `position_offset` + 1), the character, and what was expected there.
bool ParseLayout(const std::string& text, MemoryLayout& layout, std::string& error, std::size_t position_offset = 0);

// The name without the spaces around it.
std::string TrimmedName(const MemoryLayout& layout);

// The type's bits in words: "readable, erasable and writeable", "readable".
std::string TypeWords(uint8_t type);

}  // namespace layout
