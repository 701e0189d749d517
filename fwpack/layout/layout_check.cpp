// The checks of images against memory layouts, walking the segments from an
// element's first byte to its last.
#include "layout/layout_check.h"

#include <algorithm>

#include "util/text_format.h"

namespace layout {

namespace {

// The first address from `from` up to `end` whose segment is missing or
// fails `accept`; `end` when there is none.
template <typename Accept>
uint64_t FirstRefused(const MemoryLayout& layout, uint64_t from, uint64_t end, Accept accept) {
    // No memory lies above the 32-bit address space.
    while (from < end && from <= 0xFFFFFFFFu) {
        const Segment* segment = layout.SegmentAt(static_cast<uint32_t>(from));
        if (segment == nullptr || !accept(*segment)) return from;
        from = std::min(end, segment->End());
    }
    return from;
}


std::string Quoted(const MemoryLayout& layout) { return "\"" + TrimmedName(layout) + "\""; }

// The alternate setting whose layout holds `address`, if any.
std::optional<uint8_t> LayoutHolding(const LayoutMap& layouts, uint32_t address) {
    for (const auto& [alternate, layout] : layouts) {
        if (layout.SegmentAt(address) != nullptr) return alternate;
    }
    return std::nullopt;
}

}  // namespace

std::string TargetLabel(std::size_t index, uint8_t alternate) {
    return Format("target %llu (alternate setting %u)", static_cast<unsigned long long>(index), unsigned{alternate});
}

std::string TargetViolation(std::size_t index, uint8_t alternate, const std::vector<ElementSpan>& elements,
                            const MemoryLayout& layout) {
    for (std::size_t e = 0; e < elements.size(); ++e) {
        const uint64_t end = elements[e].End();
        const uint64_t refused =
            FirstRefused(layout, elements[e].address, end, [](const Segment& s) { return (s.type & kWriteable) != 0; });
        if (refused == end) continue;
        const auto address = static_cast<uint32_t>(refused);
        std::string where = Quoted(layout) + " has no memory there";
        if (refused > 0xFFFFFFFFu) {
            return Format("%s, element %llu: its bytes run past address 0xFFFFFFFF, where %s has no memory",
                          TargetLabel(index, alternate).c_str(), static_cast<unsigned long long>(e),
                          Quoted(layout).c_str());
        }
        if (const Segment* segment = layout.SegmentAt(address)) {
            const std::string type = segment->type == 0 ? "no access" : TypeWords(segment->type);
            where = Format("it lies in the segment 0x%08X-0x%08llX of %s (%s of %u bytes): %s, not writeable",
                           unsigned{segment->start}, static_cast<unsigned long long>(segment->End() - 1),
                           Quoted(layout).c_str(), Count(segment->page_count, "page").c_str(),
                           unsigned{segment->page_size}, type.c_str());
        }
        return Format("%s, element %llu: the byte at 0x%08X is not writeable: %s",
                      TargetLabel(index, alternate).c_str(), static_cast<unsigned long long>(e), unsigned{address},
                      where.c_str());
    }
    return "";
}

std::string NoLayoutWarning(std::size_t index, uint8_t alternate) {
    return TargetLabel(index, alternate) +
           " has no layout, while other alternate settings have one: its elements are not checked";
}

std::optional<Erasure> PagesErased(const MemoryLayout& layout, const ElementSpan& element) {
    const uint64_t end = element.End();
    if (element.size == 0 || FirstRefused(layout, element.address, end, [](const Segment&) { return true; }) != end) {
        return std::nullopt;
    }
    Erasure erasure;
    uint64_t at = element.address;
    while (at < end) {
        const Segment& segment = *layout.SegmentAt(static_cast<uint32_t>(at));
        const uint64_t first = (at - segment.start) / segment.page_size;
        const uint64_t stop = std::min(end, segment.End());
        const uint64_t last = (stop - 1 - segment.start) / segment.page_size;
        if ((segment.type & kErasable) != 0) {
            if (!erasure.runs.empty() && erasure.runs.back().page_size == segment.page_size) {
                erasure.runs.back().count += last - first + 1;
            } else {
                erasure.runs.push_back({last - first + 1, segment.page_size});
            }
            const uint64_t first_start = segment.start + first * segment.page_size;
            const uint64_t last_start = segment.start + last * segment.page_size;
            if (first_start < element.address) {
                erasure.partial.push_back({static_cast<uint32_t>(first_start), segment.page_size});
            }
            if (last_start + segment.page_size > end && (last != first || first_start >= element.address)) {
                erasure.partial.push_back({static_cast<uint32_t>(last_start), segment.page_size});
            }
        }
        at = segment.start + (last + 1) * uint64_t{segment.page_size};
    }
    return erasure;
}

std::string ErasureText(const Erasure& erasure) {
    if (erasure.runs.empty()) return "erases no page";
    std::string text = "erases ";
    for (std::size_t i = 0; i < erasure.runs.size(); ++i) {
        if (i > 0) text += ", ";
        text += Count(erasure.runs[i].count, "page") + Format(" of %u bytes", unsigned{erasure.runs[i].page_size});
    }
    return text;
}

bool CheckImages(const std::vector<std::unique_ptr<CImage>>& images, const LayoutMap& layouts,
                 std::vector<std::string>& warnings, Error& error) {
    for (std::size_t t = 0; t < images.size(); ++t) {
        const uint8_t alternate = images[t]->GetAlternate();
        const auto layout = layouts.find(alternate);
        if (layout == layouts.end()) {
            warnings.push_back(NoLayoutWarning(t, alternate));
            continue;
        }
        const ElementList& list = images[t]->GetList();
        const std::vector<ElementSpan> spans(list.begin(), list.end());
        const std::string violation = TargetViolation(t, alternate, spans, layout->second);
        if (!violation.empty()) {
            error = Error::Problem("", violation);
            return false;
        }
    }
    return true;
}

bool SplitByLayouts(std::vector<std::unique_ptr<CImage>>& images, const LayoutMap& layouts, Error& error) {
    std::map<uint8_t, std::unique_ptr<CImage>> split;
    for (const auto& image : images) {
        for (const ImageElement& element : image->GetList()) {
            const std::string shown = Format("--split: the element at 0x%08X (%s)", unsigned{element.address},
                                             Count(element.size, "byte").c_str());
            const std::optional<uint8_t> alternate = LayoutHolding(layouts, element.address);
            if (!alternate) {
                error = Error::Problem("", shown + " lies in no layout");
                return false;
            }
            const uint64_t end = element.address + uint64_t{element.size};
            const uint64_t outside =
                FirstRefused(layouts.at(*alternate), element.address, end, [](const Segment&) { return true; });
            if (outside < end) {
                const auto address = static_cast<uint32_t>(outside);
                const std::optional<uint8_t> other =
                    outside > 0xFFFFFFFFu ? std::nullopt : LayoutHolding(layouts, address);
                error = Error::Problem(
                    "", other ? Format("%s lies across the layouts of alternate settings %u and %u", shown.c_str(),
                                       unsigned{*alternate}, unsigned{*other})
                              : Format("%s lies in no layout from its byte at 0x%08llX on", shown.c_str(),
                                       static_cast<unsigned long long>(outside)));
                return false;
            }
            auto& target = split[*alternate];
            if (!target) {
                const std::string name = TrimmedName(layouts.at(*alternate));
                target = std::make_unique<CImage>(*alternate, !name.empty(), name.c_str());
            }
            target->PutElement(target->GetNbElements(), true, element);
        }
    }
    images.clear();
    for (auto& entry : split) images.push_back(std::move(entry.second));
    return true;
}

}  // namespace layout
