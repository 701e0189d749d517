// Tests of an element's byte storage through the sizes where it leaves the
// heap for a block of its own: every step is checked against a std::vector
// given the same steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "element_bytes.h"
#include "image_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Op { kAppend, kAppendOwnStart, kAssign, kShrink, kClear };

struct Step {
    Op op;
    std::size_t size;  // bytes appended or assigned
};

struct StorageCase {
    const char* name;
    std::vector<Step> steps;
};

class ElementBytesSteps : public testing::TestWithParam<StorageCase> {};

TEST_P(ElementBytesSteps, HoldTheSameBytesAsAVector) {
    ElementBytes bytes;
    Bytes model;
    uint8_t seed = 1;
    for (const Step& step : GetParam().steps) {
        const Bytes fresh = testutil::Pattern(step.size, seed++);
        switch (step.op) {
            case Op::kAppend:
                bytes.append(fresh.data(), fresh.data() + fresh.size());
                model.insert(model.end(), fresh.begin(), fresh.end());
                break;
            case Op::kAppendOwnStart: {
                // Its own first bytes again: the source may move as it grows.
                const std::size_t count = std::min(step.size, model.size());
                bytes.append(bytes.data(), bytes.data() + count);
                model.insert(model.end(), model.begin(), model.begin() + static_cast<std::ptrdiff_t>(count));
                break;
            }
            case Op::kAssign:
                bytes.assign(fresh.data(), fresh.data() + fresh.size());
                model = fresh;
                break;
            case Op::kShrink: bytes.shrink_to_fit(); break;
            case Op::kClear:
                bytes.clear();
                model.clear();
                break;
        }
        ASSERT_EQ(bytes.size(), model.size());
        ASSERT_EQ(bytes.empty(), model.empty());
        ASSERT_EQ(bytes.data() == nullptr, model.empty()) << "null exactly while empty";
        if (!model.empty()) {
            ASSERT_TRUE(Bytes(bytes.data(), bytes.data() + bytes.size()) == model);
        }
    }
}

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

INSTANTIATE_TEST_SUITE_P(
    Sizes, ElementBytesSteps,
    testing::Values(
        StorageCase{"empty_assign_and_append", {{Op::kAssign, 0}, {Op::kAppend, 0}, {Op::kShrink, 0}}},
        StorageCase{"records_past_the_heap",
                    {{Op::kAppend, 32},
                     {Op::kAppend, 64 * kKiB - 32},
                     {Op::kAppend, 1},
                     {Op::kAppend, 3 * kMiB},
                     {Op::kAppend, 255}}},
        StorageCase{"one_step_past_the_heap", {{Op::kAppend, 5 * kMiB}}},
        // Doubling on its own bytes: one of the steps moves it off the heap.
        StorageCase{"own_bytes_at_the_move_and_in_the_block",
                    {{Op::kAppend, 4 * kKiB},
                     {Op::kAppendOwnStart, 4 * kKiB},
                     {Op::kAppendOwnStart, 8 * kKiB},
                     {Op::kAppendOwnStart, 16 * kKiB},
                     {Op::kAppendOwnStart, 32 * kKiB},
                     {Op::kAppendOwnStart, 64 * kKiB},
                     {Op::kAppendOwnStart, 3 * kMiB}}},
        StorageCase{"assign_large_then_small_then_large",
                    {{Op::kAssign, 2 * kMiB + 3}, {Op::kAssign, 10}, {Op::kAssign, 70 * kKiB}, {Op::kAppend, 7}}},
        StorageCase{"grows_again_after_giving_back_its_room",
                    {{Op::kAppend, 3 * kMiB + 100},
                     {Op::kShrink, 0},
                     {Op::kAppend, 4 * kMiB},
                     {Op::kShrink, 0},
                     {Op::kAppend, 1}}},
        StorageCase{"cleared_and_refilled", {{Op::kAppend, 1 * kMiB}, {Op::kClear, 0}, {Op::kAppend, 100}}}),
    [](const testing::TestParamInfo<StorageCase>& info) { return std::string(info.param.name); });

}  // namespace
