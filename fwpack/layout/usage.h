// How much of a memory layout the elements of a target use: the bytes they
// write of the writeable memory, the pages they erase, and the state of
// every page, in runs of alike pages, for the summary line and the picture.
#pragma once

#include <cstdint>
#include <vector>

#include "layout/layout.h"
#include "model/element_view.h"

namespace layout {

enum class PageState {
    kFull,       // every byte written
    kPartial,    // some bytes written; erased whole, so the rest is lost
    kUntouched,  // writeable, nothing written
    kReadOnly,   // not writeable
};

// Consecutive pages of one segment in one state.
struct PageRun {
    uint32_t address = 0;  // of the first page
    uint32_t page_size = 0;
    uint64_t count = 0;
    PageState state = PageState::kUntouched;
    bool erasable = false;  // of a segment whose pages are erased before they are written

    uint64_t End() const { return address + uint64_t{page_size} * count; }
};

struct LayoutUsage {
    uint64_t written = 0;    // bytes of the elements in writeable segments, each address once
    uint64_t writeable = 0;  // bytes of the writeable segments
    uint64_t pages_erased = 0;
    uint64_t pages = 0;         // every page of the layout
    std::vector<PageRun> runs;  // segment by segment, in the layout's order
};

LayoutUsage Usage(const MemoryLayout& layout, const std::vector<ElementSpan>& elements);

// "written, of the writeable size": 38.3 for 401408 of 1048576; 0 without writeable memory.
double WrittenPercent(const LayoutUsage& usage);

}  // namespace layout
