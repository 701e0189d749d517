// Tests of the image stage: each step on a small image whose result is
// worked out by hand, the CRC-32/MPEG-2 against its catalogue check value and
// a bitwise implementation from its definition, the refusals with their
// messages, and the merge of overlapping inputs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_util.h"
#include "layout/layout.h"
#include "stage/overlap.h"
#include "stage/stage.h"

namespace {

using testutil::ByteRun;

std::unique_ptr<ElementList> ListOf(const std::vector<ByteRun>& runs) {
    auto list = std::make_unique<ElementList>();
    for (const ByteRun& run : runs) {
        list->InsertAt(list->GetCount(), ImageElement{run.address, static_cast<uint32_t>(run.bytes.size()),
                                                      const_cast<uint8_t*>(run.bytes.data())});
    }
    return list;
}

std::vector<ByteRun> RunsOf(const ElementList& list) {
    std::vector<ByteRun> runs;
    for (const ImageElement& e : list) runs.push_back({e.address, std::vector<uint8_t>(e.data, e.data + e.size)});
    return runs;
}

// The image of most cases: 01 02 03 04 at 0x100, 05 06 at 0x108.
const std::vector<ByteRun> kImage = {{0x100, {1, 2, 3, 4}}, {0x108, {5, 6}}};

std::vector<uint8_t> Le(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}
std::vector<uint8_t> Be(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

uint32_t Crc32Of(std::vector<uint8_t> bytes) { return testutil::Crc32Bitwise(bytes.data(), bytes.size()); }

// CRC-32/MPEG-2 from its definition, one bit at a time, fed with 32-bit
// little-endian words: each word's bits from the most significant on.
uint32_t Mpeg2Words(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const uint32_t word = bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | uint32_t{bytes[i + 3]} << 24;
        for (int bit = 31; bit >= 0; --bit) {
            const bool top = ((crc >> 31) ^ (word >> bit)) & 1u;
            crc = (crc << 1) ^ (top ? 0x04C11DB7u : 0u);
        }
    }
    return crc;
}

Insertion Field(InsertKind kind, uint32_t address, bool big_endian = false, std::optional<AddressRange> range = {}) {
    Insertion insertion;
    insertion.kind = kind;
    insertion.address = address;
    insertion.big_endian = big_endian;
    insertion.range = range;
    insertion.option = "--field";
    return insertion;
}

layout::MemoryLayout Layout(const std::string& text) {
    layout::MemoryLayout memory;
    std::string error;
    EXPECT_TRUE(layout::ParseLayout(text, memory, error)) << error;
    return memory;
}

struct StepCase {
    const char* name;
    StageJob job;
    std::vector<ByteRun> expected;
};

StageJob Job(void (*set)(StageJob&)) {
    StageJob job;
    set(job);
    return job;
}

const std::vector<uint8_t> kFf4 = {0xFF, 0xFF, 0xFF, 0xFF};

TEST(ImageStage, EachStepGivesTheBytesWorkedOutByHand) {
    const std::vector<StepCase> cases = {
        {"Crop",
         Job([](StageJob& j) {
             j.crops = {{0x102, 0x109}};
         }),
         {{0x102, {3, 4}}, {0x108, {5}}}},
        {"CropTwoRanges",
         Job([](StageJob& j) {
             j.crops = {{0x109, 0x200}, {0x100, 0x101}};
         }),
         {{0x100, {1}}, {0x109, {6}}}},
        {"Exclude",
         Job([](StageJob& j) {
             j.excludes = {{0x101, 0x103}};
         }),
         {{0x100, {1}}, {0x103, {4}}, {0x108, {5, 6}}}},
        {"CropThenExclude",
         Job([](StageJob& j) {
             j.crops = {{0x100, 0x104}};
             j.excludes = {{0x100, 0x102}};
         }),
         {{0x102, {3, 4}}}},
        {"OffsetDown", Job([](StageJob& j) { j.offset = -0x100; }), {{0x0, {1, 2, 3, 4}}, {0x8, {5, 6}}}},
        {"OffsetUpToTheTop",
         Job([](StageJob& j) { j.offset = 0xFFFFFEF6; }),
         {{0xFFFFFFF6, {1, 2, 3, 4}}, {0xFFFFFFFE, {5, 6}}}},
        {"FillAll", Job([](StageJob& j) { j.fill_all = true; }), {{0x100, {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6}}}},
        {"FillAllWithPadByte",
         Job([](StageJob& j) {
             j.fill_all = true;
             j.pad_byte = 0;
         }),
         {{0x100, {1, 2, 3, 4, 0, 0, 0, 0, 5, 6}}}},
        {"FillAllAndARange",
         Job([](StageJob& j) {
             j.fill_all = true;
             j.fills = {{0x10A, 0x10C}};
         }),
         {{0x100, {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 0xFF, 0xFF}}}},
        {"FillRangeBeyondTheData",
         Job([](StageJob& j) {
             j.fills = {{0xFE, 0x106}};
         }),
         {{0xFE, {0xFF, 0xFF, 1, 2, 3, 4, 0xFF, 0xFF}}, {0x108, {5, 6}}}},
        {"FillRangeWithoutData",
         Job([](StageJob& j) {
             j.fills = {{0x200, 0x202}};
         }),
         {{0x100, {1, 2, 3, 4}}, {0x108, {5, 6}}, {0x200, {0xFF, 0xFF}}}},
        {"OffsetThenFillAddressesAfterIt",
         Job([](StageJob& j) {
             j.offset = 0x100;
             j.fills = {{0x204, 0x206}};
         }),
         {{0x200, {1, 2, 3, 4, 0xFF, 0xFF}}, {0x208, {5, 6}}}},
        {"AlignFour", Job([](StageJob& j) { j.align = 4; }), {{0x100, {1, 2, 3, 4}}, {0x108, {5, 6, 0xFF, 0xFF}}}},
        {"AlignEightJoinsWhatComesToTouch",
         Job([](StageJob& j) { j.align = 8; }),
         {{0x100, {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}}},
        {"PadPagesOfEightBytes",
         Job([](StageJob& j) {
             j.pad_pages = true;
             j.layouts[0] = Layout("@Flash /0x00000100/04*008Bg");
         }),
         {{0x100, {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}}},
        {"PadPagesOfFourBytesOutsideTheLayoutStays",
         Job([](StageJob& j) {
             j.pad_pages = true;
             j.layouts[0] = Layout("@Flash /0x00000104/04*004Bg");
         }),
         {{0x100, {1, 2, 3, 4}}, {0x108, {5, 6, 0xFF, 0xFF}}}},
        {"Crc32",
         Job([](StageJob& j) { j.insertions = {Field(InsertKind::kCrc32, 0x200)}; }),
         {kImage[0], kImage[1], {0x200, Le(Crc32Of({1, 2, 3, 4, 5, 6}))}}},
        {"Crc32BigEndianOfARange",
         Job([](StageJob& j) {
             j.insertions = {Field(InsertKind::kCrc32, 0x200, true, AddressRange{0x101, 0x109})};
         }),
         {kImage[0], kImage[1], {0x200, Be(Crc32Of({2, 3, 4, 5}))}}},
        {"LengthAboveTheData",
         Job([](StageJob& j) { j.insertions = {Field(InsertKind::kLength, 0x200)}; }),
         {kImage[0], kImage[1], {0x200, Le(0x104)}}},
        {"LengthBelowTheDataBigEndian",
         Job([](StageJob& j) { j.insertions = {Field(InsertKind::kLength, 0x80, true)}; }),
         {{0x80, Be(0x8A)}, kImage[0], kImage[1]}},
        {"FieldOverPadBytesIsLeftOutOfItsValue",
         Job([](StageJob& j) {
             j.fill_all = true;
             j.insertions = {Field(InsertKind::kCrc32, 0x104)};
         }),
         {{0x100,
           [] {
               std::vector<uint8_t> bytes = {1, 2, 3, 4};
               for (uint8_t b : Le(Crc32Of({1, 2, 3, 4, 5, 6}))) bytes.push_back(b);
               bytes.push_back(5);
               bytes.push_back(6);
               return bytes;
           }()}}},
        {"LaterFieldCoversEarlierOne",
         Job([](StageJob& j) {
             j.insertions = {Field(InsertKind::kLength, 0x200), Field(InsertKind::kCrc32, 0x204)};
         }),
         {kImage[0], kImage[1], {0x200, Le(0x104)}, {0x204, Le(Crc32Of({1, 2, 3, 4, 5, 6, 4, 1, 0, 0}))}}},
        {"Mpeg2OfFilledWords",
         Job([](StageJob& j) {
             j.fills = {{0x100, 0x110}};
             j.insertions = {Field(InsertKind::kCrc32Mpeg2, 0x110)};
         }),
         // A field outside every element stands alone, even where it touches one.
         {{0x100, {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
          {0x110, Le(Mpeg2Words({1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))}}},
        {"Mpeg2BigEndianOfAWordRange",
         Job(
             [](StageJob& j) {
                 j.insertions = {Field(InsertKind::kCrc32Mpeg2, 0x80, true, AddressRange{0x100, 0x104})};
             }),
         {{0x80, Be(Mpeg2Words({1, 2, 3, 4}))}, kImage[0], kImage[1]}},
    };
    for (const StepCase& c : cases) {
        auto list = ListOf(kImage);
        StagedList staged;
        Error error;
        ASSERT_TRUE(RunStage(*list, c.job, 0, "image.hex", staged, error)) << c.name << ": " << error.cause;
        EXPECT_EQ(RunsOf(*staged.list), c.expected) << c.name;
    }
}

TEST(ImageStage, Mpeg2MatchesTheCatalogueAndTheBitwiseDefinition) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32Mpeg2(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x0376E6E7u);
    std::mt19937 random(27);
    for (const std::size_t words : {1u, 2u, 17u, 1000u}) {
        const std::vector<uint8_t> bytes = testutil::RandomBytes(random, words * 4);
        StageJob job;
        job.insertions = {Field(InsertKind::kCrc32Mpeg2, 0x1000)};
        auto list = ListOf({{0, bytes}});
        StagedList staged;
        Error error;
        ASSERT_TRUE(RunStage(*list, job, 0, "", staged, error)) << error.cause;
        ASSERT_EQ(staged.inserted.size(), 1u);
        EXPECT_EQ(staged.inserted[0].value, Mpeg2Words(bytes)) << words;
    }
}

TEST(ImageStage, RefusesWithAMessageThatNamesTheByte) {
    struct Case {
        const char* name;
        std::vector<ByteRun> image;
        StageJob job;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"OffsetBelowZero", kImage, Job([](StageJob& j) {
             j.offset = -0x101;
             j.offset_shown = "-0x101";
         }),
         "--offset -0x101 would move the byte at 0x00000100 below address 0"},
        {"OffsetPastTheTop", kImage, Job([](StageJob& j) {
             j.offset = 0xFFFFFEF7;
             j.offset_shown = "0xFFFFFEF7";
         }),
         "--offset 0xFFFFFEF7 would move the byte at 0x00000109 past address 0xFFFFFFFF"},
        {"FieldOverInputBytes", kImage, Job([](StageJob& j) { j.insertions = {Field(InsertKind::kCrc32, 0x106)}; }),
         "--field 0x00000106: the 4 bytes at 0x00000106 would lie over the byte at 0x00000108, which comes from an "
         "input"},
        {"FieldOverAnEarlierField", kImage, Job([](StageJob& j) {
             j.insertions = {Field(InsertKind::kCrc32, 0x200), Field(InsertKind::kLength, 0x1FE)};
         }),
         "--field 0x000001FE: the 4 bytes at 0x000001FE would lie over the byte at 0x00000200, which holds a value "
         "inserted before"},
        {"Mpeg2OfPartWords", kImage, Job([](StageJob& j) { j.insertions = {Field(InsertKind::kCrc32Mpeg2, 0x200)}; }),
         "--field 0x00000200: the range 0x00000100-0x0000010A is not whole 32-bit words (its start and its length "
         "must be multiples of 4)"},
        {"Mpeg2OverAHole", kImage, Job([](StageJob& j) {
             j.insertions = {Field(InsertKind::kCrc32Mpeg2, 0x200, false, AddressRange{0x100, 0x10C})};
         }),
         "--field 0x00000200: the range 0x00000100-0x0000010C holds a hole at 0x00000104-0x00000108; a CRC over "
         "words takes none: fill it (--fill)"},
        {"FillAllPastTheHoleLimit",
         {{0, {1}}, {0x2000000, {2}}},
         Job([](StageJob& j) { j.fill_all = true; }),
         "--fill all would fill 33554431 bytes of holes, more than 16 MiB; the largest is 0x00000001-0x02000000: "
         "leave the bytes far away out with --crop or --exclude"},
        {"PadPagesWithoutLayout", kImage, Job([](StageJob& j) {
             j.pad_pages = true;
             j.layouts[1] = Layout("@Flash /0x00000100/04*008Bg");
         }),
         "--pad-pages grows each element to the pages it touches, but alternate setting 0 has no layout: give it "
         "with --layout"},
    };
    for (const Case& c : cases) {
        auto list = ListOf(c.image);
        StagedList staged;
        Error error;
        EXPECT_FALSE(RunStage(*list, c.job, 0, "", staged, error)) << c.name;
        EXPECT_EQ(error.cause, c.message) << c.name;
    }
}

TEST(OverlapRules, IdenticalAcceptsAgreeingBytesAndReplaceTakesTheLaterInput) {
    const std::vector<std::vector<ByteRun>> inputs = {{{0x100, {1, 2, 3, 4}}}, {{0x102, {3, 4, 5}}, {0x200, {9}}}};
    const auto merge = [&](OverlapMode mode, const std::vector<std::vector<ByteRun>>& runs, ByteConflict& conflict) {
        std::vector<std::unique_ptr<ElementList>> lists;
        for (const auto& input : runs) lists.push_back(ListOf(input));
        return MergeOverlapping(lists, mode, conflict);
    };
    ByteConflict conflict;
    auto identical = merge(OverlapMode::kIdentical, inputs, conflict);
    ASSERT_TRUE(identical);
    EXPECT_EQ(RunsOf(*identical), (std::vector<ByteRun>{{0x100, {1, 2, 3, 4, 5}}, {0x200, {9}}}));

    const std::vector<std::vector<ByteRun>> differing = {{{0x100, {1, 2, 3, 4}}}, {{0x101, {2, 7, 8}}}};
    EXPECT_FALSE(merge(OverlapMode::kIdentical, differing, conflict));
    EXPECT_EQ(conflict.address, 0x102u);
    EXPECT_EQ(conflict.first_owner, 0u);
    EXPECT_EQ(conflict.second_owner, 1u);
    EXPECT_EQ(conflict.first, 3);
    EXPECT_EQ(conflict.second, 7);

    auto replaced = merge(OverlapMode::kReplace, differing, conflict);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(RunsOf(*replaced), (std::vector<ByteRun>{{0x100, {1, 2, 7, 8}}}));
}

}  // namespace
