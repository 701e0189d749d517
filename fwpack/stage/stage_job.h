// What the image stage does to a target's image between loading and writing:
// the bytes kept and dropped, the move, the holes filled, the growth to
// write units and pages, and the values written into the image. A plain
// description, filled by the command line (or any other caller) and run by
// RunStage.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "layout/layout.h"
#include "model/address_range.h"

// How the inputs of one target merge where two of them give one address a byte.
enum class OverlapMode {
    kRefuse,     // no byte may come from two inputs
    kIdentical,  // two inputs may give a byte the same value
    kReplace,    // the later input's byte wins
};

enum class InsertKind { kCrc32, kCrc32Mpeg2, kLength };

// A 4-byte value written into the image.
struct Insertion {
    InsertKind kind = InsertKind::kCrc32;
    bool big_endian = false;
    uint32_t address = 0;               // of the field, at most 0xFFFFFFFC
    std::optional<AddressRange> range;  // none: every byte of the target
    std::string option;                 // as given, for messages: "--crc32-be"
};

struct StageJob {
    std::vector<AddressRange> crops;     // none: keep everything
    std::vector<AddressRange> excludes;  // as given by the inputs
    int64_t offset = 0;
    std::string offset_shown;           // the --offset value as typed
    std::vector<AddressRange> fills;    // after the offset
    bool fill_all = false;              // the span from the lowest to the highest byte
    uint32_t align = 0;                 // 0: none; else a power of two
    bool pad_pages = false;             // grow to the pages of `page_layouts`
    std::vector<Insertion> insertions;  // in the order given
    uint8_t pad_byte = 0xFF;
    // Where --pad-pages finds its pages: the layout of the target's
    // alternate setting, or every layout (before a split by layouts).
    std::map<uint8_t, layout::MemoryLayout> layouts;
    bool pages_of_every_layout = false;

    // Whether the stage changes anything at all.
    bool Empty() const {
        return crops.empty() && excludes.empty() && offset == 0 && fills.empty() && !fill_all && align == 0 &&
               !pad_pages && insertions.empty();
    }
};

// A value the stage wrote, for the listing.
struct InsertedValue {
    std::string option;
    uint32_t address = 0;
    uint32_t value = 0;
};
