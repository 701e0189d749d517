// The written S-record and Intel HEX files read by independent tools: each
// tool turns the file into a flat binary, which must equal the image's bytes
// with 0xFF in the gaps; our own reader then reads the file back. Each file
// replaces an older one. Tests skip when a tool is not installed.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "image/image.h"
#include "image_util.h"
#include "process_util.h"
#include "test_util.h"

namespace {

using testutil::ByteRun;

enum class Format { kSRec, kHex };
enum class Tool { kSrecCat, kObjcopy };

void PrintTo(Format format, std::ostream* out) { *out << (format == Format::kSRec ? "srec" : "hex"); }
void PrintTo(Tool tool, std::ostream* out) { *out << (tool == Tool::kSrecCat ? "srec_cat" : "objcopy"); }

struct OracleCase {
    const char* name;
    std::vector<ByteRun> elements;  // not overlapping
};

std::vector<uint8_t> RandomBytes(std::size_t count) {
    std::mt19937 random(5);
    return testutil::RandomBytes(random, count);
}

const OracleCase kOracleCases[] = {
    {"SixteenBitAddresses", {{0x0000, testutil::Pattern(40, 1)}, {0x1000, testutil::Pattern(100, 2)}}},
    {"TwentyFourBitAddresses", {{0x00FF0000, testutil::Pattern(0xFFFF, 3)}}},
    {"GapsAndListOutOfOrder",
     {{0x08000200, testutil::Pattern(33, 4)},
      {0x08000000, testutil::Pattern(100, 5)},
      {0x080000F0, testutil::Pattern(10, 6)}}},
    {"RunsAcross64K", {{0x0800F010, testutil::Pattern(0x2345, 7)}}},
    {"EndsAtTheTop", {{0xFFFF8000, testutil::Pattern(0x7FF0, 8)}, {0xFFFFFFF0, testutil::Pattern(16, 9)}}},
    // Text of many times what is written, and read, at once, and over 8 MiB:
    // the data of an output that replaces a file goes to disk as it is written.
    {"RandomBytesOverManyChunks", {{0x08000000, RandomBytes(0x400000)}}},
};

void PrintTo(const OracleCase& oracle_case, std::ostream* out) { *out << oracle_case.name; }

std::string HexNumber(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

class WriterOracle : public ::testing::TestWithParam<std::tuple<Format, Tool, OracleCase>> {};

TEST_P(WriterOracle, ToolReadsTheSameBytes) {
    const auto& [format, tool, oracle_case] = GetParam();
    const char* program = tool == Tool::kSrecCat ? "srec_cat" : "objcopy";
    if (!testutil::HaveTool(program)) GTEST_SKIP() << program << " is not installed";

    // The image as one flat range from its lowest to its highest address.
    uint32_t low = 0xFFFFFFFF;
    uint64_t high = 0;
    for (const ByteRun& element : oracle_case.elements) {
        low = std::min(low, element.address);
        high = std::max(high, element.address + uint64_t{element.bytes.size()});
    }
    std::vector<uint8_t> expected(static_cast<std::size_t>(high - low), 0xFF);
    for (const ByteRun& element : oracle_case.elements) {
        std::copy(element.bytes.begin(), element.bytes.end(), expected.begin() + (element.address - low));
    }

    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, oracle_case.elements);
    const std::string input = dir / (format == Format::kSRec ? "image.srec" : "image.hex");
    testutil::WriteFile(input, "an older file, which the output replaces\n");
    ASSERT_TRUE(format == Format::kSRec ? image->SaveSRec(input.c_str()) : image->SaveHex(input.c_str()));

    std::string command;
    if (tool == Tool::kSrecCat) {
        command = "srec_cat " + testutil::ShellQuote(input) + (format == Format::kSRec ? " -motorola" : " -intel") +
                  " -offset -" + HexNumber(low) + " -fill 0xFF 0 " + HexNumber(static_cast<uint32_t>(high - low)) +
                  " -o image.bin -binary";
    } else {
        command = std::string("objcopy -I ") + (format == Format::kSRec ? "srec" : "ihex") +
                  " -O binary --gap-fill 0xFF " + testutil::ShellQuote(input) + " image.bin";
    }
    const testutil::RunResult result = testutil::Run(command, dir.path().string());
    ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
    // A misplaced record can make the binary gigabytes long: check before reading.
    const std::string output = dir / "image.bin";
    ASSERT_EQ(std::filesystem::file_size(output), expected.size()) << command;
    EXPECT_TRUE(testutil::ReadBytes(output) == expected) << command;

    auto read = testutil::MakeEmptyImage(dir);
    ASSERT_TRUE(format == Format::kSRec ? read->LoadSRec(input.c_str()) : read->LoadHex(input.c_str()));
    EXPECT_TRUE(testutil::NormalizedRuns(testutil::ElementsOf(*read)) ==
                testutil::NormalizedRuns(oracle_case.elements));
}

INSTANTIATE_TEST_SUITE_P(Cases, WriterOracle,
                         ::testing::Combine(::testing::Values(Format::kSRec, Format::kHex),
                                            ::testing::Values(Tool::kSrecCat, Tool::kObjcopy),
                                            ::testing::ValuesIn(kOracleCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Format::kSRec ? "SRec" : "Hex") +
                                    (std::get<1>(info.param) == Tool::kSrecCat ? "SrecCat" : "Objcopy") +
                                    std::get<2>(info.param).name;
                         });

}  // namespace

#endif  // _WIN32
