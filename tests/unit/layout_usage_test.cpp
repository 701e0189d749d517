// Tests of the use of a layout's pages against a byte-by-byte count: random
// elements over a layout of small pages of every kind, each page's state and
// the summary's sums computed from a map of the bytes written.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "layout/usage.h"

namespace {

using layout::PageState;

TEST(LayoutUsage, AgreesWithACountOfEveryByte) {
    layout::MemoryLayout memory;
    std::string error;
    // Pages of 16 and 64 bytes, a read-only page, a writeable page that is not
    // erasable, a hole, then a second zone.
    ASSERT_TRUE(layout::ParseLayout("@Test /0x1000/04*016Bg,02*064Bg,01*032Ba,02*016Be/0x1200/03*016Bg", memory, error))
        << error;
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<ElementSpan> elements;
        std::vector<bool> written(0x400, false);  // 0x1000 .. 0x13FF
        for (int e = 0, count = static_cast<int>(random() % 6); e < count; ++e) {
            const uint32_t address = 0x1000 + random() % 0x240;
            const uint32_t size = random() % 80;
            elements.emplace_back(address, size);
            for (uint32_t i = 0; i < size; ++i) written[address - 0x1000 + i] = true;
        }
        const layout::LayoutUsage usage = layout::Usage(memory, elements);

        uint64_t bytes = 0, writeable = 0, erased = 0, pages = 0;
        std::vector<PageState> states;
        for (const layout::Segment& s : memory.segments) {
            for (uint32_t p = 0; p < s.page_count; ++p, ++pages) {
                uint32_t count = 0;
                for (uint32_t i = 0; i < s.page_size; ++i) count += written[s.start + p * s.page_size + i - 0x1000];
                if ((s.type & layout::kWriteable) == 0) {
                    states.push_back(PageState::kReadOnly);
                    continue;
                }
                writeable += s.page_size;
                bytes += count;
                erased += count > 0 && (s.type & layout::kErasable) != 0;
                states.push_back(count == 0             ? PageState::kUntouched
                                 : count == s.page_size ? PageState::kFull
                                                        : PageState::kPartial);
            }
        }
        std::vector<PageState> listed;
        uint64_t next = 0x1000;
        for (const layout::PageRun& run : usage.runs) {
            ASSERT_GE(run.address, next) << "runs in order";
            next = run.End();
            listed.insert(listed.end(), run.count, run.state);
        }
        ASSERT_EQ(listed, states) << "round " << round;
        EXPECT_EQ(usage.written, bytes);
        EXPECT_EQ(usage.writeable, writeable);
        EXPECT_EQ(usage.pages_erased, erased);
        EXPECT_EQ(usage.pages, pages);
    }
}

}  // namespace
