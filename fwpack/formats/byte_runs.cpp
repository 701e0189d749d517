// The runs of an image's bytes: straight from the elements when they are in
// address order without overlap, else by a sweep over their starts and ends.
#include "formats/byte_runs.h"

#include <algorithm>
#include <queue>

namespace {

struct Edge {
    uint64_t at;
    uint32_t run;
    bool start;
};

// Each stretch between two edges belongs to the latest element that covers
// it: the largest index among those open there.
std::vector<ByteRun> Resolve(const std::vector<ByteRun>& elements) {
    std::vector<Edge> edges;
    edges.reserve(elements.size() * 2);
    for (uint32_t i = 0; i < elements.size(); ++i) {
        edges.push_back({elements[i].address, i, true});
        edges.push_back({uint64_t{elements[i].address} + elements[i].size, i, false});
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
    std::priority_queue<uint32_t> open;
    std::vector<bool> closed(elements.size(), false);
    std::vector<ByteRun> runs;
    uint64_t from = 0;
    for (std::size_t e = 0; e < edges.size();) {
        const uint64_t at = edges[e].at;
        while (!open.empty() && closed[open.top()]) open.pop();
        if (!open.empty() && at > from) {
            const ByteRun& owner = elements[open.top()];
            const ByteRun piece{static_cast<uint32_t>(from), static_cast<uint32_t>(at - from),
                                owner.data + (from - owner.address)};
            ByteRun* last = runs.empty() ? nullptr : &runs.back();
            if (last && uint64_t{last->address} + last->size == from && last->data + last->size == piece.data) {
                last->size += piece.size;
            } else {
                runs.push_back(piece);
            }
        }
        for (; e < edges.size() && edges[e].at == at; ++e) {
            if (edges[e].start)
                open.push(edges[e].run);
            else
                closed[edges[e].run] = true;
        }
        from = at;
    }
    return runs;
}

}  // namespace

std::vector<ByteRun> ByteRuns(const ElementList& list) {
    std::vector<ByteRun> runs;
    runs.reserve(static_cast<std::size_t>(list.GetCount()));
    bool ordered = true;
    uint64_t reach = 0;
    for (const ImageElement& element : list) {
        if (!HasAddressableBytes(element)) continue;
        if (!runs.empty() && element.address < reach) ordered = false;
        runs.push_back({element.address, element.size, element.data});
        reach = uint64_t{element.address} + element.size;
    }
    return ordered ? runs : Resolve(runs);
}
