// Feeds arbitrary text to the memory layout parser. A text it takes must
// give segments that hold what they claim, and the checks that walk them
// (the writeable bytes, the pages erased) must end on any element; a text
// it refuses must be named by position. The name, whatever its bytes, must
// come out of the JSON writer as valid UTF-8. Build with -DFWPACK_FUZZ=ON and clang.
#include <cstdint>
#include <string>

#include "util/json_writer.h"
#include "layout/layout.h"
#include "layout/layout_check.h"

namespace {

bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    layout::MemoryLayout memory;
    std::string error;
    if (!layout::ParseLayout(text, memory, error)) {
        if (error.compare(0, 10, "character ") != 0) __builtin_trap();
        return 0;
    }
    if (memory.segments.empty() || !IsUtf8(JsonString(memory.name))) __builtin_trap();
    uint32_t low = 0xFFFFFFFFu;
    for (const layout::Segment& segment : memory.segments) {
        if (segment.page_size == 0 || segment.page_count == 0 || segment.type == 0 || segment.type > 7 ||
            segment.End() > (uint64_t{1} << 32) || memory.SegmentAt(segment.start) == nullptr) {
            __builtin_trap();
        }
        if (segment.start < low) low = segment.start;
    }
    // An element up to the top of the address space from the lowest segment
    // on, one that runs past it, and one byte there.
    const ElementSpan spans[] = {{low, static_cast<uint32_t>(0xFFFFFFFFu - low)}, {low, 0xFFFFFFFFu}, {low, 1}};
    for (const ElementSpan& span : spans) {
        layout::TargetViolation(0, 0, {span}, memory);
        if (const auto erasure = layout::PagesErased(memory, span)) layout::ErasureText(*erasure);
    }
    return 0;
}
