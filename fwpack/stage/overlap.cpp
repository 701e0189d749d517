// Overlapping runs settled in one sweep in address order: only the groups
// of runs that share bytes are painted into fresh bytes.
#include "stage/overlap.h"

#include <algorithm>
#include <cstring>
#include <numeric>

bool SettleOverlaps(const std::vector<OwnedRun>& runs, bool identical, std::vector<SettledRun>& settled,
                    std::deque<std::vector<uint8_t>>& storage, ByteConflict& conflict) {
    std::vector<std::size_t> order;
    order.reserve(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].size != 0) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return runs[a].address < runs[b].address; });
    settled.reserve(settled.size() + order.size());
    std::vector<std::size_t> group;
    std::vector<uint32_t> painter;
    for (std::size_t i = 0; i < order.size();) {
        // The runs that reach into each other from run i on.
        const OwnedRun& first = runs[order[i]];
        uint64_t reach = first.address + first.size;
        std::size_t j = i + 1;
        for (; j < order.size() && runs[order[j]].address < reach; ++j) {
            reach = std::max(reach, runs[order[j]].address + runs[order[j]].size);
        }
        if (j == i + 1) {
            settled.push_back({first.address, first.size, first.data});
            i = j;
            continue;
        }
        group.assign(order.begin() + static_cast<std::ptrdiff_t>(i), order.begin() + static_cast<std::ptrdiff_t>(j));
        std::sort(group.begin(), group.end());  // later runs are painted over earlier ones
        std::vector<uint8_t>& bytes = storage.emplace_back(static_cast<std::size_t>(reach - first.address));
        if (identical) painter.assign(bytes.size(), UINT32_MAX);
        bool found = false;
        for (const std::size_t index : group) {
            const OwnedRun& run = runs[index];
            const std::size_t at = static_cast<std::size_t>(run.address - first.address);
            if (identical) {
                for (std::size_t k = 0; k < run.size; ++k) {
                    const uint32_t before = painter[at + k];
                    if (before != UINT32_MAX && before != run.owner && bytes[at + k] != run.data[k] &&
                        (!found || run.address + k < conflict.address)) {
                        found = true;
                        const bool earlier_first = before < run.owner;
                        conflict = {run.address + k, std::min(before, run.owner), std::max(before, run.owner),
                                    earlier_first ? bytes[at + k] : run.data[k],
                                    earlier_first ? run.data[k] : bytes[at + k]};
                    }
                    painter[at + k] = run.owner;
                }
            }
            std::memcpy(bytes.data() + at, run.data, run.size);
        }
        if (found) return false;
        settled.push_back({first.address, bytes.size(), bytes.data()});
        i = j;
    }
    return true;
}

std::unique_ptr<ElementList> MergeOverlapping(std::vector<std::unique_ptr<ElementList>>& inputs, OverlapMode mode,
                                              ByteConflict& conflict) {
    std::vector<OwnedRun> runs;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (const ImageElement& e : *inputs[i]) runs.push_back({e.address, e.size, e.data, static_cast<uint32_t>(i)});
    }
    std::vector<SettledRun> settled;
    std::deque<std::vector<uint8_t>> storage;
    if (!SettleOverlaps(runs, mode == OverlapMode::kIdentical, settled, storage, conflict)) return nullptr;
    auto merged = std::make_unique<ElementList>();
    merged->Reserve(settled.size());
    for (const SettledRun& run : settled) {
        // A settled run never holds more bytes than the address space has
        // room for behind its start, but may hold more than an element.
        for (uint64_t done = 0; done < run.size;) {
            const auto size = static_cast<uint32_t>(std::min<uint64_t>(run.size - done, UINT32_MAX));
            merged->InsertAt(merged->GetCount(), ImageElement{static_cast<uint32_t>(run.address + done), size,
                                                              const_cast<uint8_t*>(run.data + done)});
            done += size;
        }
    }
    return merged;
}
