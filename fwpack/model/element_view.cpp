// The overlap sweep over elements of several owners.
#include "model/element_view.h"

#include <algorithm>

std::optional<Overlap> FirstOverlap(std::vector<OwnedSpan> spans, std::size_t owners) {
    spans.erase(std::remove_if(spans.begin(), spans.end(), [](const OwnedSpan& s) { return s.size == 0; }),
                spans.end());
    const auto by_start = [](const OwnedSpan& a, const OwnedSpan& b) { return a.address < b.address; };
    // Files and inputs come in address order as a rule, and need no sorting.
    if (!std::is_sorted(spans.begin(), spans.end(), by_start)) std::stable_sort(spans.begin(), spans.end(), by_start);
    // In address order, a span that starts below the furthest end that another
    // owner has reached so far shares its first byte with that owner. The two
    // furthest ends of two different owners tell at once whether any other
    // owner reaches that far; only then are the owners searched, for the
    // first of them in their order.
    std::vector<uint64_t> reach(owners, 0);
    struct Furthest {
        uint64_t end = 0;
        std::size_t owner = SIZE_MAX;
    } best, second;
    for (const OwnedSpan& span : spans) {
        const std::size_t owner = span.owner;
        const uint64_t other_reach = best.owner != owner ? best.end : second.end;
        if (other_reach > span.address) {
            for (std::size_t other = 0; other < owners; ++other) {
                if (other != owner && reach[other] > span.address) {
                    return Overlap{span.address, static_cast<uint32_t>(std::min(other, owner)),
                                   static_cast<uint32_t>(std::max(other, owner))};
                }
            }
        }
        reach[owner] = std::max(reach[owner], uint64_t{span.address} + span.size);
        const Furthest mine{reach[owner], owner};
        if (mine.owner == best.owner) {
            best = mine;
        } else if (mine.end > best.end) {
            second = best;
            best = mine;
        } else if (mine.owner == second.owner || mine.end > second.end) {
            second = mine;
        }
    }
    return std::nullopt;
}
