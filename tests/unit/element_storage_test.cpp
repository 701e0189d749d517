// Tests of where an element list keeps its bytes: every series of operations
// is checked, after each step, against a plain model that holds each
// element's address and bytes in a vector of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/element_list.h"
#include "image_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ModelElement {
    uint32_t address;
    Bytes bytes;
};

enum class Op {
    kAddData,         // AddData at `address`: merges when it continues the last element
    kAddOwnBytes,     // AddData of the first bytes of element `index`, continuing the last element
    kInsert,          // InsertAt(index)
    kReplace,         // ReplaceAt(index) with fresh bytes
    kReplaceWithOwn,  // ReplaceAt(index) with the bytes it already has, cut to `size`
    kRemove,          // RemoveAt(index)
    kSort,            // SortByAddress
    kTakeAll,         // TakeAll of a second list holding one element at `address`
    kTrim,            // Trim
};

struct Step {
    Op op;
    std::size_t size = 0;
    uint32_t address = 0;
    int32_t index = 0;
};

struct StorageCase {
    const char* name;
    std::vector<Step> steps;
};

void ExpectSame(const ElementList& list, const std::vector<ModelElement>& model) {
    ASSERT_EQ(list.GetCount(), static_cast<int32_t>(model.size()));
    for (std::size_t i = 0; i < model.size(); ++i) {
        const ImageElement* element = list.GetAt(static_cast<int32_t>(i));
        ASSERT_EQ(element->address, model[i].address) << "element " << i;
        ASSERT_EQ(element->size, model[i].bytes.size()) << "element " << i;
        ASSERT_EQ(element->data == nullptr, model[i].bytes.empty()) << "null exactly while empty";
        if (element->size != 0) {
            ASSERT_TRUE(Bytes(element->data, element->data + element->size) == model[i].bytes);
        }
    }
}

class ElementStorage : public testing::TestWithParam<StorageCase> {};

TEST_P(ElementStorage, HoldsTheSameElementsAsAPlainModel) {
    ElementList list;
    std::vector<ModelElement> model;
    uint8_t seed = 1;
    for (const Step& step : GetParam().steps) {
        const Bytes fresh = testutil::Pattern(step.size, seed++);
        const auto at = model.begin() + step.index;
        switch (step.op) {
            case Op::kAddData: {
                list.AddData(step.address, fresh.data(), static_cast<uint32_t>(fresh.size()));
                const bool merges =
                    !model.empty() && uint64_t{model.back().address} + model.back().bytes.size() == step.address;
                if (merges) {
                    model.back().bytes.insert(model.back().bytes.end(), fresh.begin(), fresh.end());
                } else {
                    model.push_back({step.address, fresh});
                }
                break;
            }
            case Op::kAddOwnBytes: {
                const Bytes own(at->bytes.begin(), at->bytes.begin() + static_cast<std::ptrdiff_t>(step.size));
                const ImageElement* source = list.GetAt(step.index);
                const uint32_t end = static_cast<uint32_t>(model.back().address + model.back().bytes.size());
                list.AddData(end, source->data, static_cast<uint32_t>(step.size));
                model.back().bytes.insert(model.back().bytes.end(), own.begin(), own.end());
                break;
            }
            case Op::kInsert:
                ASSERT_TRUE(list.InsertAt(step.index, ImageElement{step.address, static_cast<uint32_t>(fresh.size()),
                                                                   const_cast<uint8_t*>(fresh.data())}));
                model.insert(at, {step.address, fresh});
                break;
            case Op::kReplace:
                ASSERT_TRUE(list.ReplaceAt(step.index, ImageElement{step.address, static_cast<uint32_t>(fresh.size()),
                                                                    const_cast<uint8_t*>(fresh.data())}));
                *at = {step.address, fresh};
                break;
            case Op::kReplaceWithOwn: {
                ImageElement own = *list.GetAt(step.index);
                own.size = static_cast<uint32_t>(step.size);
                ASSERT_TRUE(list.ReplaceAt(step.index, own));
                at->bytes.resize(step.size);
                break;
            }
            case Op::kRemove:
                ASSERT_TRUE(list.RemoveAt(step.index));
                model.erase(at);
                break;
            case Op::kSort:
                list.SortByAddress();
                std::stable_sort(model.begin(), model.end(),
                                 [](const auto& a, const auto& b) { return a.address < b.address; });
                break;
            case Op::kTakeAll: {
                ElementList other;
                other.AddData(step.address, fresh.data(), static_cast<uint32_t>(fresh.size()));
                list.TakeAll(other);
                EXPECT_EQ(other.GetCount(), 0);
                model.push_back({step.address, fresh});
                break;
            }
            case Op::kTrim: list.Trim(); break;
        }
        ExpectSame(list, model);
    }
}

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

StorageCase Replaced(const char* name, int times) {
    StorageCase c{name, {{Op::kAddData, kMiB, 0x1000}}};
    for (int i = 0; i < times; ++i) c.steps.push_back({Op::kReplace, kMiB + static_cast<std::size_t>(i), 0x1000, 0});
    c.steps.push_back({Op::kAddData, 5, 0x1000 + static_cast<uint32_t>(kMiB) + times - 1});
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ElementStorage,
    testing::Values(StorageCase{"empty_elements",
                                {{Op::kAddData, 0, 0x10}, {Op::kAddData, 0, 0x10}, {Op::kAddData, 4, 0x10}}},
                    StorageCase{"records_that_merge_and_one_that_starts_anew",
                                {{Op::kAddData, 32, 0x100},
                                 {Op::kAddData, 64 * kKiB, 0x120},
                                 {Op::kAddData, 3 * kMiB, 0x120 + 64 * kKiB},
                                 {Op::kAddData, 255, 0x8000000}}},
                    StorageCase{"no_merge_across_the_top_of_the_address_space",
                                {{Op::kAddData, 16, 0xFFFFFFF0u}, {Op::kAddData, 16, 0}}},
                    // Many elements around 16 KiB each, the size that once cost a
                    // reservation of its own.
                    StorageCase{"many_elements_of_17_kib",
                                [] {
                                    std::vector<Step> steps;
                                    for (uint32_t i = 0; i < 300; ++i)
                                        steps.push_back({Op::kAddData, 17 * kKiB, i * 0x10000});
                                    return steps;
                                }()},
                    // The last element grows after another was put before it, and from
                    // its own bytes and another element's, which may move meanwhile.
                    StorageCase{"growth_of_an_element_that_is_not_the_last_stored",
                                {{Op::kAddData, 100, 0x1000},
                                 {Op::kInsert, 50, 0x0, 0},
                                 {Op::kAddData, 10, 0x1064},
                                 {Op::kAddOwnBytes, 50, 0, 0},
                                 {Op::kAddOwnBytes, 100, 0, 1},
                                 {Op::kAddData, 2 * kMiB, 0x1000 + 100 + 10 + 50 + 100}}},
                    StorageCase{"insert_replace_remove_in_the_middle",
                                {{Op::kAddData, 10, 0x10},
                                 {Op::kAddData, 10, 0x30},
                                 {Op::kInsert, 7, 0x20, 1},
                                 {Op::kReplace, 70 * kKiB, 0x20, 1},
                                 {Op::kReplaceWithOwn, 3, 0, 1},
                                 {Op::kRemove, 0, 0, 0},
                                 {Op::kRemove, 0, 0, 1},
                                 {Op::kRemove, 0, 0, 0},
                                 {Op::kAddData, 4, 0x40}}},
                    // Dead bytes pile up until the list moves the live ones.
                    Replaced("replaced_again_and_again", 40),
                    StorageCase{"taken_from_other_lists_then_sorted_and_grown",
                                {{Op::kAddData, 100, 0x5000},
                                 {Op::kTakeAll, 200, 0x1000},
                                 {Op::kTakeAll, 3 * kMiB, 0x3000},
                                 {Op::kSort},
                                 {Op::kAddData, 8, 0x5064},
                                 {Op::kTrim},
                                 {Op::kAddData, 8, 0x506C}}}),
    [](const testing::TestParamInfo<StorageCase>& info) { return std::string(info.param.name); });

}  // namespace
