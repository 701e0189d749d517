// Tests of the memory layout parser (the forms devices report and the
// grammar's corner cases, each with the message that names its position) and
// of the checks against a layout: the first byte that cannot be written and
// the pages an element erases. Addresses and page counts are worked out by hand.
#include <gtest/gtest.h>

#include "layout/layout.h"
#include "layout/layout_check.h"
#include "app/options.h"

namespace {

using layout::MemoryLayout;
using layout::Segment;

struct Seg {
    uint32_t start, page_size, page_count;
    uint8_t type;
};

struct GrammarCase {
    const char* text;
    const char* name;  // when taken
    std::vector<Seg> segments;
    const char* error;  // when refused
};

TEST(LayoutGrammar, TakesWhatDevicesReportAndNamesTheFirstWrongCharacter) {
    const GrammarCase cases[] = {
        {"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg",
         "Internal Flash  ",
         {{0x08000000, 16384, 4, 7}, {0x08010000, 65536, 1, 7}, {0x08020000, 131072, 7, 7}},
         nullptr},
        {"\"@Option Bytes /0x1FFFC000/01*016 e\"", "Option Bytes ", {{0x1FFFC000, 16, 1, 5}}, nullptr},
        {"@OTP Memory /0x1FFF7800/01*512 e,01*016 e",
         "OTP Memory ",
         {{0x1FFF7800, 512, 1, 5}, {0x1FFF7A00, 16, 1, 5}},
         nullptr},
        {"@Flash/0x08000000/02*016Ka,02*016Kg/0x20000000/06*001Kb,1*1Md",
         "Flash",
         {{0x08000000, 16384, 2, 1}, {0x08008000, 16384, 2, 7}, {0x20000000, 1024, 6, 2}, {0x20001800, 1048576, 1, 4}},
         nullptr},
        {"name=\"@SRAM /0x20000000/01*128Kg\"", "SRAM ", {{0x20000000, 131072, 1, 7}}, nullptr},
        {"@Registers/0x40000000/8*4 d", "Registers", {{0x40000000, 4, 8, 4}}, nullptr},
        {"@/0x0/1*1Ba", "", {{0, 1, 1, 1}}, nullptr},
        {"@Top/0xffffff00/1*256Bg", "Top", {{0xFFFFFF00, 256, 1, 7}}, nullptr},
        {"", nullptr, {}, "character 1 (the end of the text): expected '@' and the memory's name"},
        {"Flash/0x0/1*1Kg", nullptr, {}, "character 1 ('F'): expected '@' and the memory's name"},
        {"@Flash", nullptr, {}, "character 7 (the end of the text): expected '/' and a zone's start address"},
        {"@F/08000000/1*1Kg",
         nullptr,
         {},
         "character 4 ('0'): expected a zone's start address (0x and hexadecimal digits)"},
        {"@F/0x/1*1Kg", nullptr, {}, "character 6 ('/'): expected a hexadecimal digit"},
        {"@F/0x123456789/1*1Kg", nullptr, {}, "character 14 ('9'): expected '/' after 1 to 8 hexadecimal digits"},
        {"@F/0x0", nullptr, {}, "character 7 (the end of the text): expected '/' and the zone's segments"},
        {"@F/0x0/",
         nullptr,
         {},
         "character 8 (the end of the text): expected a page count of at least 1 (decimal digits)"},
        {"@F/0x0/00*1Kg", nullptr, {}, "character 8 ('0'): expected a page count of at least 1 (decimal digits)"},
        {"@F/0x0/4294967296*1Bg", nullptr, {}, "character 8 ('4'): expected a page count of at most 4294967295"},
        {"@F/0x0/1x1Kg", nullptr, {}, "character 9 ('x'): expected '*' after the page count"},
        {"@F/0x0/1*Kg", nullptr, {}, "character 10 ('K'): expected a page size of at least 1 (decimal digits)"},
        {"@F/0x0/1*1kg", nullptr, {}, "character 11 ('k'): expected a multiplier: B, K, M or a space (bytes)"},
        {"@F/0x0/1*1\tg", nullptr, {}, "character 11 (byte 0x09): expected a multiplier: B, K, M or a space (bytes)"},
        {"@F/0x0/1*4096Mg", nullptr, {}, "character 14 ('M'): expected a page of less than 4 GiB"},
        {"@F/0x0/1*1KG",
         nullptr,
         {},
         "character 12 ('G'): expected a type letter, a to g (1 readable, 2 erasable, 4 writeable, plus 0x60)"},
        {"@F/0x0/1*1Kh",
         nullptr,
         {},
         "character 12 ('h'): expected a type letter, a to g (1 readable, 2 erasable, 4 writeable, plus 0x60)"},
        {"@F/0x0/1*1Kg,",
         nullptr,
         {},
         "character 14 (the end of the text): expected a page count of at least 1 (decimal digits)"},
        {"@F/0x0/1*1Kg;", nullptr, {}, "character 13 (';'): expected ',' and a segment, '/' and a zone, or the end"},
        {"@F/0x0/1*1Kg/",
         nullptr,
         {},
         "character 14 (the end of the text): expected a zone's start address (0x and hexadecimal digits)"},
        {"@F/0xFFFFFF00/1*257Bg",
         nullptr,
         {},
         "character 15 ('1'): expected pages that end by address 0xFFFFFFFF (these run past it)"},
        {"\"@F/0x0/1*1Kg", nullptr, {}, "character 14 (the end of the text): expected a closing '\"'"},
    };
    for (const GrammarCase& c : cases) {
        MemoryLayout memory;
        std::string error;
        const bool taken = layout::ParseLayout(c.text, memory, error);
        EXPECT_EQ(taken, c.error == nullptr) << c.text;
        if (!taken) {
            EXPECT_EQ(error, c.error ? c.error : "") << c.text;
            continue;
        }
        EXPECT_EQ(memory.name, c.name) << c.text;
        ASSERT_EQ(memory.segments.size(), c.segments.size()) << c.text;
        for (std::size_t i = 0; i < c.segments.size(); ++i) {
            const Segment& got = memory.segments[i];
            const Seg& want = c.segments[i];
            EXPECT_EQ(got.start, want.start) << c.text << " segment " << i;
            EXPECT_EQ(got.page_size, want.page_size) << c.text << " segment " << i;
            EXPECT_EQ(got.page_count, want.page_count) << c.text << " segment " << i;
            EXPECT_EQ(got.type, want.type) << c.text << " segment " << i;
        }
    }
}

TEST(LayoutGrammar, AnAlternateSettingMayStandBeforeTheTextAndCountsInThePosition) {
    std::optional<uint8_t> alternate;
    MemoryLayout memory;
    std::string error;
    ASSERT_TRUE(ParseLayoutOption("12=@F/0x0/1*1Kg", alternate, memory, error)) << error;
    EXPECT_EQ(alternate, std::optional<uint8_t>(12));
    alternate.reset();
    ASSERT_TRUE(ParseLayoutOption("@F=1/0x0/1*1Kg", alternate, memory, error)) << error;
    EXPECT_FALSE(alternate);
    EXPECT_EQ(memory.name, "F=1");
    EXPECT_FALSE(ParseLayoutOption("1=@F/0x0/1*1Kx", alternate, memory, error));
    EXPECT_EQ(error,
              "character 14 ('x'): expected a type letter, a to g (1 readable, 2 erasable, 4 writeable, plus 0x60)");
    EXPECT_FALSE(ParseLayoutOption("256=@F/0x0/1*1Kg", alternate, memory, error));
    EXPECT_EQ(error, "'256' is not an alternate setting (0 to 255)");
}

// A flash of two page sizes and, in a second zone, a read-only page, a
// writeable one that is not erasable and a readable, erasable one.
constexpr const char* kMixed = "@Flash /0x08000000/2*16Kg,1*64Kg/0x1FFF0000/1*512 a,1*16 e,1*8 c";

struct CheckCase {
    uint32_t address, size;
    const char* violation;  // of the element as element 1 of target 2, alternate setting 3
    const char* erasure;    // null: it lies in no memory in part
    std::vector<ElementSpan> partial;
};

TEST(LayoutCheck, FindsTheFirstByteThatCannotBeWrittenAndThePagesErased) {
    MemoryLayout memory;
    std::string error;
    ASSERT_TRUE(layout::ParseLayout(kMixed, memory, error)) << error;
    const CheckCase cases[] = {
        {0x08000000, 0x8000, "", "erases 2 pages of 16384 bytes", {}},
        {0x08007F00,
         0x200,
         "",
         "erases 1 page of 16384 bytes, 1 page of 65536 bytes",
         {{0x08004000, 16384}, {0x08008000, 65536}}},
        {0x08008010, 0x10, "", "erases 1 page of 65536 bytes", {{0x08008000, 65536}}},
        {0x08010000,
         0x10000,
         "target 2 (alternate setting 3), element 1: the byte at 0x08018000 is not writeable: \"Flash\" has no "
         "memory there",
         nullptr,
         {}},
        {0x1FFF0100,
         4,
         "target 2 (alternate setting 3), element 1: the byte at 0x1FFF0100 is not writeable: it lies in the "
         "segment 0x1FFF0000-0x1FFF01FF of \"Flash\" (1 page of 512 bytes): readable, not writeable",
         "erases no page",
         {}},
        {0x1FFF0200, 16, "", "erases no page", {}},
        {0x1FFF020C,
         8,
         "target 2 (alternate setting 3), element 1: the byte at 0x1FFF0210 is not writeable: it lies in the "
         "segment 0x1FFF0210-0x1FFF0217 of \"Flash\" (1 page of 8 bytes): readable and erasable, not writeable",
         "erases 1 page of 8 bytes",
         {{0x1FFF0210, 8}}},
        {0x08000000, 0, "", nullptr, {}},
    };
    for (const CheckCase& c : cases) {
        const ElementSpan span{c.address, c.size};
        EXPECT_EQ(layout::TargetViolation(2, 3, {{0x08000000, 1}, span}, memory), c.violation) << std::hex << c.address;
        const auto erasure = layout::PagesErased(memory, span);
        ASSERT_EQ(erasure.has_value(), c.erasure != nullptr) << std::hex << c.address;
        if (!erasure) continue;
        EXPECT_EQ(layout::ErasureText(*erasure), c.erasure) << std::hex << c.address;
        ASSERT_EQ(erasure->partial.size(), c.partial.size()) << std::hex << c.address;
        for (std::size_t i = 0; i < c.partial.size(); ++i) {
            EXPECT_EQ(erasure->partial[i].address, c.partial[i].address) << std::hex << c.address;
            EXPECT_EQ(erasure->partial[i].size, c.partial[i].size) << std::hex << c.address;
        }
    }
}

TEST(LayoutCheck, AnElementPastTheTopOfTheAddressSpaceRunsOutOfMemory) {
    MemoryLayout memory;
    std::string error;
    ASSERT_TRUE(layout::ParseLayout("@Top/0xFFFFFF00/1*256Bg", memory, error)) << error;
    EXPECT_EQ(layout::TargetViolation(0, 0, {{0xFFFFFFF0, 0x20}}, memory),
              "target 0 (alternate setting 0), element 0: its bytes run past address 0xFFFFFFFF, where \"Top\" has no "
              "memory");
    EXPECT_FALSE(layout::PagesErased(memory, {0xFFFFFFF0, 0x20}));
}

}  // namespace
