// Tests of the Intel HEX writer: whole files compared with text worked out by
// hand, and the long cases checked line by line with a small decoder of the
// tests' own.
#include <gtest/gtest.h>

#include <cstdio>
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

// The lines of a text file written on this platform, each without its line
// end; text behind the last line end counts as a line too, so that a missing
// or wrong line end shows.
std::vector<std::string> Lines(const std::string& text) {
    const std::string line_end = testutil::kLineEnd;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(line_end, start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + line_end.size();
    }
    return lines;
}

std::string Hex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value & 0xFFFFu));
    return text;
}

// Decodes the records this writer may produce (data and extended linear
// address), checking each line's form, byte count and checksum on the way.
// Bytes that continue the previous record are joined to it.
std::vector<ByteRun> Decode(const std::string& text) {
    std::vector<ByteRun> runs;
    uint32_t upper = 0;
    for (const std::string& line : Lines(text)) {
        EXPECT_TRUE(line.size() >= 11 && line.size() % 2 == 1 && line[0] == ':') << line;
        if (line.size() < 11 || line[0] != ':') break;
        std::vector<uint8_t> fields;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
            const std::string pair = line.substr(i, 2);
            EXPECT_EQ(pair.find_first_not_of("0123456789ABCDEF"), std::string::npos) << line;
            fields.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
        }
        unsigned sum = 0;
        for (uint8_t field : fields) sum += field;
        EXPECT_EQ(sum % 256, 0u) << "checksum of " << line;
        EXPECT_EQ(fields.size(), fields[0] + 5u) << "byte count of " << line;
        const uint32_t offset = (uint32_t{fields[1]} << 8) | fields[2];
        if (fields[3] == 0x04) {
            EXPECT_EQ(offset, 0u) << line;
            upper = (uint32_t{fields[4]} << 8) | fields[5];
            continue;
        }
        EXPECT_EQ(fields[3], 0x00) << "record type of " << line;
        const uint32_t address = (upper << 16) | offset;
        std::vector<uint8_t> data(fields.begin() + 4, fields.end() - 1);
        if (!runs.empty() && uint64_t{runs.back().address} + runs.back().bytes.size() == address) {
            runs.back().bytes.insert(runs.back().bytes.end(), data.begin(), data.end());
        } else {
            runs.push_back(ByteRun{address, data});
        }
    }
    return runs;
}

std::string SaveHexText(const std::vector<ByteRun>& elements) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, elements);
    const std::string path = dir / "out.hex";
    EXPECT_TRUE(image->SaveHex(path.c_str()));
    return testutil::ReadFile(path);
}

struct HexCase {
    const char* name;
    std::vector<ByteRun> elements;
    std::string expected;
};

void PrintTo(const HexCase& c, std::ostream* out) { *out << c.name; }

class HexWriterFile : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexWriterFile, WritesExactlyTheExpectedText) {
    EXPECT_EQ(SaveHexText(GetParam().elements), testutil::WithLineEnds(GetParam().expected));
}

const HexCase kHexCases[] = {
    {"NoElementsGiveAnEmptyFile", {}, ""},
    {"FourBytes", {{0x08000000, {0x01, 0x02, 0x03, 0x04}}}, ":020000040800F2\n:0400000001020304F2\n"},
    {"UpperHalf0000", {{0x00000000, {0x00}}}, ":020000040000FA\n:0100000000FF\n"},
    {"UpperHalfFFFF", {{0xFFFF0000, {0x00}}}, ":02000004FFFFFC\n:0100000000FF\n"},
    {"BytesFromHex80AreTwoDigits", {{0x08000010, {0xFF, 0x80}}}, ":020000040800F2\n:02001000FF806F\n"},
    {"ThirtyThreeBytesGiveTwoRecords",
     {{0x08000000, Filled(33, 0x11)}},
     ":020000040800F2\n:20000000" + Repeat("11", 32) + "C0\n:0100200011CE\n"},
    {"EachElementOpensItsOwnBlock",
     {{0x08000000, {0x01, 0x02, 0x03, 0x04}}, {0x08000100, {0xAA}}},
     ":020000040800F2\n:0400000001020304F2\n:020000040800F2\n:01010000AA54\n"},
    {"EmptyElementWritesNothing", {{0x08000000, {}}}, ""},
    {"EmptyElementBetweenOthersWritesNothing",
     {{0x08000000, {0x01, 0x02, 0x03, 0x04}}, {0x08000100, {}}},
     ":020000040800F2\n:0400000001020304F2\n"},
    {"RecordIsCutAtSixtyFourKilobytes",
     {{0x0800FFF0, Filled(0x40, 0x11)}},
     ":020000040800F2\n:10FFF000" + Repeat("11", 16) + "F1\n:020000040801F1\n:20000000" + Repeat("11", 32) +
         "C0\n:10002000" + Repeat("11", 16) + "C0\n"},
    {"ElementEndingAtTheTopIsWritten", {{0xFFFFFFFE, {0x01, 0x02}}}, ":02000004FFFFFC\n:02FFFE000102FE\n"},
    {"ElementRunningPastTheTopWritesNothing",
     {{0x08000000, {0x01, 0x02, 0x03, 0x04}}, {0xFFFFFFF0, Filled(32, 0x55)}},
     ":020000040800F2\n:0400000001020304F2\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HexWriterFile, ::testing::ValuesIn(kHexCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexWriterBlocks, FullBlockHoldsTwoHundredFiftySixRecords) {
    const std::vector<ByteRun> elements{{0x08000000, Filled(8192, 0x11)}};
    const std::vector<std::string> lines = Lines(SaveHexText(elements));
    ASSERT_EQ(lines.size(), 257u);
    EXPECT_EQ(lines[0], ":020000040800F2");
    for (uint32_t k = 0; k < 256; ++k) {
        EXPECT_EQ(lines[1 + k].substr(0, 9), ":20" + Hex4(k * 32) + "00");
    }
    EXPECT_EQ(lines[256], ":201FE000" + Repeat("11", 32) + "C1");
}

TEST(HexWriterBlocks, ByteAfterAFullBlockOpensANewBlock) {
    const std::vector<ByteRun> elements{{0x08000000, Filled(8193, 0x11)}};
    const std::string text = SaveHexText(elements);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 259u);
    EXPECT_EQ(lines[257], ":020000040800F2");
    EXPECT_EQ(lines[258], ":0120000011CE");
    EXPECT_EQ(Decode(text), elements);
}

TEST(HexWriterBlocks, BlockCrossingSixtyFourKilobytesGetsANewUpperHalf) {
    const std::vector<ByteRun> elements{{0x0800F000, testutil::Pattern(0x2000)}};
    const std::string text = SaveHexText(elements);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 258u);
    EXPECT_EQ(lines[0], ":020000040800F2");
    EXPECT_EQ(lines[1].substr(0, 9), ":20F00000");
    EXPECT_EQ(lines[128].substr(0, 9), ":20FFE000");
    EXPECT_EQ(lines[129], ":020000040801F1");
    EXPECT_EQ(lines[130].substr(0, 9), ":20000000");
    EXPECT_EQ(lines[257].substr(0, 9), ":200FE000");
    EXPECT_EQ(Decode(text), elements);
}

TEST(HexWriterBlocks, UnalignedElementsKeepTheirAddresses) {
    // Records cut at boundaries and blocks that begin off the 8 KiB grid.
    const std::vector<ByteRun> elements{{0x0001FFFD, testutil::Pattern(0x12345, 1)},
                                        {0x00000007, testutil::Pattern(77, 2)},
                                        {0xFFFEFFF1, testutil::Pattern(0x1000F, 3)}};
    EXPECT_EQ(Decode(SaveHexText(elements)), elements);
}

}  // namespace
