// The holes of an image, found on its elements in address order.
#include "model/holes.h"

#include <algorithm>
#include <vector>

HoleSummary Holes(const ElementList& list) {
    std::vector<AddressRange> ranges;
    ranges.reserve(static_cast<std::size_t>(list.GetCount()));
    for (const ImageElement& e : list) {
        if (e.size != 0) ranges.push_back({e.address, uint64_t{e.address} + e.size});
    }
    HoleSummary holes;
    if (ranges.empty()) return holes;
    const auto by_start = [](const AddressRange& a, const AddressRange& b) { return a.start < b.start; };
    if (!std::is_sorted(ranges.begin(), ranges.end(), by_start)) std::sort(ranges.begin(), ranges.end(), by_start);
    uint64_t reach = ranges.front().start;
    holes.span.start = reach;
    for (const AddressRange& range : ranges) {
        if (range.start > reach) {
            const AddressRange hole{reach, range.start};
            holes.total += hole.Size();
            if (hole.Size() > holes.largest.Size()) holes.largest = hole;
        }
        reach = std::max(reach, range.end);
    }
    holes.span.end = reach;
    return holes;
}
