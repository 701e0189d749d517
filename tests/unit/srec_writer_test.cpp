// Tests of the Motorola S-record writer: whole files compared character for
// character with text worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image.h"
#include "image_util.h"
#include "line_end.h"
#include "test_util.h"

namespace {

using testutil::ByteRun;

using testutil::Filled;
using testutil::Repeat;

struct SRecCase {
    const char* name;
    std::vector<ByteRun> elements;
    std::string expected;
};

void PrintTo(const SRecCase& c, std::ostream* out) { *out << c.name; }

class SRecWriterFile : public ::testing::TestWithParam<SRecCase> {};

TEST_P(SRecWriterFile, WritesExactlyTheExpectedText) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, GetParam().elements);
    const std::string path = dir / "out.srec";
    ASSERT_TRUE(image->SaveSRec(path.c_str()));
    EXPECT_EQ(testutil::ReadFile(path), testutil::WithLineEnds(GetParam().expected));
}

const SRecCase kSRecCases[] = {
    {"NoElementsGiveOnlyTheTermination", {}, "S9030000FC\n"},
    {"ThreeBytesAtZero", {{0x0, {0x01, 0x02, 0x03}}}, "S1060000010203F3\nS9030000FC\n"},
    {"BytesFromHex80AreTwoDigits", {{0x1234, {0xFF, 0x80}}}, "S1051234FF8035\nS9030000FC\n"},
    {"ByteAboveSixteenMegabytes", {{0x08000000, {0xAA}}}, "S30608000000AA47\nS70500000000FA\n"},

    // The record type follows the highest last address.
    {"LastAddressFFFFIsS1", {{0xFFFF, {0x00}}}, "S104FFFF00FD\nS9030000FC\n"},
    {"LastAddress10000IsS2", {{0x10000, {0x00}}}, "S20501000000F9\nS804000000FB\n"},
    {"LastAddressFFFFFFIsS2", {{0xFFFFFF, {0x00}}}, "S205FFFFFF00FD\nS804000000FB\n"},
    {"LastAddress1000000IsS3", {{0x1000000, {0x00}}}, "S3060100000000F8\nS70500000000FA\n"},
    {"LastByteNotStartDecidesTheType", {{0xFFFF, {0x11, 0x22}}}, "S20600FFFF1122C8\nS804000000FB\n"},
    {"OneTypeForTheWholeFile", {{0x100, {0x01}}, {0x20000, {0x02}}}, "S20500010001F8\nS20502000002F6\nS804000000FB\n"},
    {"AddressAtHex90000000IsS3", {{0x90000000, {0x5A}}}, "S306900000005A0F\nS70500000000FA\n"},

    // Splitting into records of at most 32 bytes.
    {"ThirtyThreeBytesGiveTwoRecords",
     {{0x0100, Filled(33, 0x11)}},
     "S1230100" + Repeat("11", 32) + "BB\nS104012011C9\nS9030000FC\n"},
    {"SixtyFourBytesGiveTwoFullRecords",
     {{0x0100, Filled(64, 0x11)}},
     "S1230100" + Repeat("11", 32) + "BB\nS1230120" + Repeat("11", 32) + "9B\nS9030000FC\n"},

    // Elements are written one by one in list order.
    {"ListOrderIsKept", {{0x20, {0xAB}}, {0x10, {0xCD}}}, "S1040020AB30\nS1040010CD1E\nS9030000FC\n"},
    {"AdjacentElementsShareNoRecord",
     {{0x0, {0x01, 0x02, 0x03}}, {0x3, {0x04, 0x05}}},
     "S1060000010203F3\nS10500030405EE\nS9030000FC\n"},
    {"EmptyElementWritesNoRecord",
     {{0x20, {0xAB}}, {0x100, {}}, {0x10, {0xCD}}},
     "S1040020AB30\nS1040010CD1E\nS9030000FC\n"},
    {"EmptyElementAtZeroDoesNotRaiseTheType", {{0x0, {}}}, "S9030000FC\n"},

    // The top of the address space.
    {"ElementEndingAtTheTopIsWritten", {{0xFFFFFFFE, {0x01, 0x02}}}, "S307FFFFFFFE0102FA\nS70500000000FA\n"},
    {"LastRecordHoldsTheTopByte",
     {{0xFFFFFFDF, Filled(33, 0x00)}},
     "S325FFFFFFDF" + Repeat("00", 32) + "FE\nS306FFFFFFFF00FD\nS70500000000FA\n"},
    {"ElementRunningPastTheTopWritesNoRecord",
     {{0x1000, {0x01}}, {0xFFFFFFF0, Filled(32, 0x55)}},
     "S104100001EA\nS9030000FC\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SRecWriterFile, ::testing::ValuesIn(kSRecCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
