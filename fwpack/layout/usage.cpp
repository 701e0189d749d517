// The use of a layout's pages, from the union of the elements' bytes.
#include "layout/usage.h"

#include <algorithm>
#include <utility>

namespace layout {

namespace {

using Interval = std::pair<uint64_t, uint64_t>;  // [first, end)

// The addresses the elements write, as sorted runs that neither overlap nor touch.
std::vector<Interval> Union(const std::vector<ElementSpan>& elements) {
    std::vector<Interval> spans;
    spans.reserve(elements.size());
    for (const ElementSpan& e : elements) {
        const uint64_t end = std::min<uint64_t>(e.End(), uint64_t{1} << 32);
        if (e.size != 0 && e.address < end) spans.emplace_back(e.address, end);
    }
    if (!std::is_sorted(spans.begin(), spans.end())) std::sort(spans.begin(), spans.end());
    std::vector<Interval> merged;
    for (const Interval& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, span.second);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

class RunBuilder {
public:
    explicit RunBuilder(std::vector<PageRun>& runs) : runs_(runs) {}

    void Add(const Segment& segment, uint64_t first_page, uint64_t count, PageState state) {
        if (count == 0) return;
        const uint64_t address = segment.start + first_page * segment.page_size;
        const bool erasable = (segment.type & kErasable) != 0;
        if (!runs_.empty()) {
            PageRun& last = runs_.back();
            if (last.state == state && last.page_size == segment.page_size && last.End() == address &&
                last.erasable == erasable) {
                last.count += count;
                return;
            }
        }
        runs_.push_back({static_cast<uint32_t>(address), segment.page_size, count, state, erasable});
    }

private:
    std::vector<PageRun>& runs_;
};

}  // namespace

LayoutUsage Usage(const MemoryLayout& layout, const std::vector<ElementSpan>& elements) {
    LayoutUsage usage;
    const std::vector<Interval> written = Union(elements);
    RunBuilder runs(usage.runs);
    for (const Segment& segment : layout.segments) {
        usage.pages += segment.page_count;
        if (segment.page_size == 0 || segment.page_count == 0) continue;
        const bool writeable = (segment.type & kWriteable) != 0;
        if (!writeable) {
            runs.Add(segment, 0, segment.page_count, PageState::kReadOnly);
            continue;
        }
        usage.writeable += segment.End() - segment.start;
        const uint64_t size = segment.page_size;
        uint64_t next = 0;  // the first page not yet given a state
        uint64_t touched = 0;
        auto it = std::upper_bound(written.begin(), written.end(), Interval{segment.start, UINT64_MAX});
        if (it != written.begin() && std::prev(it)->second > segment.start) --it;
        for (; it != written.end() && it->first < segment.End(); ++it) {
            const uint64_t first = std::max<uint64_t>(it->first, segment.start) - segment.start;
            const uint64_t end = std::min(it->second, segment.End()) - segment.start;
            usage.written += end - first;
            uint64_t page = first / size;
            const uint64_t last = (end - 1) / size;
            if (page < next) page = next;  // its first page is partial already, from the run before
            if (page > last) continue;
            runs.Add(segment, next, page - next, PageState::kUntouched);
            // Runs never touch, so a page that one does not cover whole is partial.
            const bool first_whole = page * size >= first;
            const bool last_whole = (last + 1) * size <= end;
            if (page == last) {
                runs.Add(segment, page, 1, first_whole && last_whole ? PageState::kFull : PageState::kPartial);
            } else {
                runs.Add(segment, page, 1, first_whole ? PageState::kFull : PageState::kPartial);
                runs.Add(segment, page + 1, last - page - 1, PageState::kFull);
                runs.Add(segment, last, 1, last_whole ? PageState::kFull : PageState::kPartial);
            }
            touched += last - page + 1;
            next = last + 1;
        }
        runs.Add(segment, next, segment.page_count - next, PageState::kUntouched);
        if ((segment.type & kErasable) != 0) usage.pages_erased += touched;
    }
    return usage;
}

double WrittenPercent(const LayoutUsage& usage) {
    return usage.writeable == 0 ? 0.0
                                : 100.0 * static_cast<double>(usage.written) / static_cast<double>(usage.writeable);
}

}  // namespace layout
