// Tests of the number rule and the ranges of the image options, and of the
// holes between elements.
#include <gtest/gtest.h>

#include <string>

#include "app/number_values.h"
#include "model/holes.h"

namespace {

TEST(NumberRule, ReadsCNumbersAndRefusesTheHabitsOfOtherOptions) {
    struct Case {
        const char* text;
        uint64_t max;
        bool valid;
        uint64_t value;
        const char* problem;
    };
    const Case cases[] = {
        {"0xFF", 0xFF, true, 255, ""},
        {"0Xff", 0xFF, true, 255, ""},
        {"255", 0xFF, true, 255, ""},
        {"0", 0xFF, true, 0, ""},
        {"256", 0xFF, false, 0, "'256' is more than 0xFF"},
        {"0x100", 0xFF, false, 0, "'0x100' is more than 0xFF"},
        {"FF", 0xFF, false, 0, "'FF' has hexadecimal digits: write it with 0x (0xFF)"},
        {"08000000", 0xFFFFFFFF, false, 0,
         "'08000000' starts with 0: write a hexadecimal number with 0x (0x08000000), a decimal one without the 0"},
        {"0x", 0xFF, false, 0, "'0x' is not a number (0x and hexadecimal digits, or decimal digits)"},
        {"", 0xFF, false, 0, "'' is not a number (0x and hexadecimal digits, or decimal digits)"},
        {"1g", 0xFF, false, 0, "'1g' is not a number (0x and hexadecimal digits, or decimal digits)"},
        {"0x100000000", 0x100000000, true, 0x100000000, ""},
        {"18446744073709551616", UINT64_MAX, false, 0, "'18446744073709551616' is more than 0xFFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        uint64_t value = 0;
        std::string problem;
        EXPECT_EQ(ParseNumber(c.text, c.max, value, problem), c.valid) << c.text;
        EXPECT_EQ(problem, c.problem) << c.text;
        if (c.valid) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    int64_t offset = 0;
    std::string problem;
    EXPECT_TRUE(ParseSignedNumber("-0x08000000", 0xFFFFFFFF, offset, problem));
    EXPECT_EQ(offset, -0x08000000);
}

TEST(Ranges, TakeAnEndOrALengthAndAreNeverEmpty) {
    struct Case {
        const char* text;
        bool valid;
        uint64_t start, end;
        const char* problem;
    };
    const Case cases[] = {
        {"0x08000000-0x08020000", true, 0x08000000, 0x08020000, ""},
        {"0x08000000+0x20000", true, 0x08000000, 0x08020000, ""},
        {"0xFFFFFF00-0x100000000", true, 0xFFFFFF00, 0x100000000, ""},
        {"16+16", true, 16, 32, ""},
        {"0x10-0x10", false, 0, 0, "the range '0x10-0x10' is empty"},
        {"0x20-0x10", false, 0, 0, "the range '0x20-0x10' ends before it starts"},
        {"0xFFFFFFFF+2", false, 0, 0, "the range '0xFFFFFFFF+2' runs past 0x100000000"},
        {"08000000-08020000", false, 0, 0,
         "in the range '08000000-08020000': '08000000' starts with 0: write a hexadecimal number with 0x "
         "(0x08000000), a decimal one without the 0"},
        {"0x08000000", false, 0, 0, "'0x08000000' is not a range (START-END or START+LENGTH)"},
    };
    for (const Case& c : cases) {
        AddressRange range;
        std::string problem;
        EXPECT_EQ(ParseRange(c.text, range, problem), c.valid) << c.text;
        EXPECT_EQ(problem, c.problem) << c.text;
        if (c.valid) {
            EXPECT_EQ(range.start, c.start) << c.text;
            EXPECT_EQ(range.end, c.end) << c.text;
        }
    }
}

TEST(Holes, CountTheGapsBetweenTheLowestAndTheHighestByte) {
    ElementList list;
    const uint8_t bytes[16] = {};
    // Out of order and overlapping: 0x100-0x110, 0x108-0x118, then 0x200-0x210 and 0x1000-0x1001.
    list.AddData(0x200, bytes, 16);
    list.AddData(0x100, bytes, 16);
    list.AddData(0x108, bytes, 16);
    list.AddData(0x1000, bytes, 1);
    const HoleSummary holes = Holes(list);
    EXPECT_EQ(holes.span.start, 0x100u);
    EXPECT_EQ(holes.span.end, 0x1001u);
    EXPECT_EQ(holes.total, (0x200u - 0x118u) + (0x1000u - 0x210u));
    EXPECT_EQ(holes.largest.start, 0x210u);
    EXPECT_EQ(holes.largest.end, 0x1000u);
    EXPECT_EQ(Holes(ElementList()).total, 0u);
}

}  // namespace
