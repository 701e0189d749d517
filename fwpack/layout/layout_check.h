// Checking an image against the memory layouts of its alternate settings:
// where a byte would land outside writeable memory, which pages an element
// erases, and the splitting of one image into the targets whose layouts hold
// its elements.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/image.h"
#include "layout/layout.h"
#include "model/element_view.h"
#include "util/error.h"

namespace layout {

// The layouts given, by alternate setting.
using LayoutMap = std::map<uint8_t, MemoryLayout>;

// "target 1 (alternate setting 2)".
std::string TargetLabel(std::size_t index, uint8_t alternate);

// The first byte of the elements that lies outside the layout's writeable
// memory, as "target T (alternate setting A), element E: the byte at ... is
// not writeable: ..."; empty when every byte may be written.
std::string TargetViolation(std::size_t index, uint8_t alternate, const std::vector<ElementSpan>& elements,
                            const MemoryLayout& layout);

// The warning for a target whose alternate setting has no layout while
// others have one.
std::string NoLayoutWarning(std::size_t index, uint8_t alternate);

// The pages an element erases: those of the erasable segments it touches.
struct Erasure {
    struct Run {
        uint64_t count;
        uint32_t page_size;
    };
    std::vector<Run> runs;  // in address order; neighbours of one page size joined
    // The pages it covers only in part: start and size of each (at most its
    // first and its last page).
    std::vector<ElementSpan> partial;
};

// Null when the element has no bytes or some of them lie in no segment.
std::optional<Erasure> PagesErased(const MemoryLayout& layout, const ElementSpan& element);

// "erases 4 pages of 16384 bytes, 1 page of 65536 bytes"; "erases no page".
std::string ErasureText(const Erasure& erasure);

// Checks every image of a conversion against the layout of its alternate
// setting: false with the error at the first byte that cannot be written.
// `warnings` gets one for each image whose alternate setting has no layout.
bool CheckImages(const std::vector<std::unique_ptr<CImage>>& images, const LayoutMap& layouts,
                 std::vector<std::string>& warnings, Error& error);

// Puts every element of `images` into a new image per layout that holds it,
// named by the layout's name without the spaces around it, in ascending
// alternate setting; a layout that holds no element gives no image. False
// with the error for an element that lies in no layout or across two.
bool SplitByLayouts(std::vector<std::unique_ptr<CImage>>& images, const LayoutMap& layouts, Error& error);

}  // namespace layout
