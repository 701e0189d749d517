// Tests of the flattening of overlapping elements (a later element's bytes
// replace an earlier one's, as on a device) against bytes painted one by one.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "info/compare.h"

namespace {

TEST(Flatten, LaterElementsWinAsBytesPaintedOneByOne) {
    std::mt19937 random(29);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::vector<uint8_t>> storage;
        std::vector<ElementSpan> elements;
        std::map<uint32_t, uint8_t> painted;
        const int count = 1 + static_cast<int>(random() % 8);
        storage.reserve(count);
        for (int e = 0; e < count; ++e) {
            const uint32_t address = 0x100 + random() % 64;
            auto& bytes = storage.emplace_back(random() % 24);
            for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
            for (std::size_t i = 0; i < bytes.size(); ++i) painted[address + static_cast<uint32_t>(i)] = bytes[i];
            elements.emplace_back(address, static_cast<uint32_t>(bytes.size()), bytes.data());
        }
        std::map<uint32_t, uint8_t> flat;
        uint64_t end = 0;
        for (const ElementSpan& span : Flatten(elements)) {
            ASSERT_GE(span.address, end) << "pieces in address order, apart";
            ASSERT_GT(span.size, 0u);
            end = span.End();
            for (uint32_t i = 0; i < span.size; ++i) flat[span.address + i] = span.data[i];
        }
        ASSERT_EQ(flat, painted) << "round " << round;
    }
}

}  // namespace
