// Round trips: images written as S-record and Intel HEX files and read back
// through a fresh image hold the same bytes at the same addresses.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "image/image.h"
#include "image_util.h"
#include "test_util.h"

namespace {

using testutil::ByteRun;

enum class Format { kSRec, kHex };

const char* Extension(Format format) { return format == Format::kSRec ? "srec" : "hex"; }

void PrintTo(Format format, std::ostream* out) { *out << Extension(format); }

// Writes `elements` in `format`, reads the file back and checks that the
// bytes come back at their addresses. Elements must not overlap; touching
// ones may come back joined.
void ExpectRoundTrip(Format format, const std::vector<ByteRun>& elements) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, elements);
    const std::string path = dir / (std::string("out.") + Extension(format));
    const bool written = format == Format::kSRec ? image->SaveSRec(path.c_str()) : image->SaveHex(path.c_str());
    ASSERT_TRUE(written);

    CImage back(0, path.c_str(), false, nullptr);
    ASSERT_TRUE(back.IsLoaded());
    EXPECT_EQ(testutil::NormalizedRuns(testutil::ElementsOf(back)), testutil::NormalizedRuns(elements));
    // The same seen through the range query.
    for (const ByteRun& element : elements) {
        if (element.bytes.empty()) continue;
        std::vector<uint8_t> read(element.bytes.size());
        EXPECT_TRUE(back.ReadRange(element.address, static_cast<uint32_t>(read.size()), read.data()));
        EXPECT_EQ(read, element.bytes) << "element at 0x" << std::hex << element.address;
    }
}

// A random image of non-overlapping elements that all end below `top`
// (exclusive, up to 2^32): many small ones, some of several kilobytes, some
// placed to run across a 64 KiB boundary or to end at `top`.
std::vector<ByteRun> RandomImage(uint32_t seed, uint64_t top) {
    std::mt19937 rng(seed);
    auto uniform = [&rng](uint64_t low, uint64_t high) {
        return std::uniform_int_distribution<uint64_t>(low, high)(rng);
    };
    std::vector<ByteRun> elements;
    const uint64_t count = uniform(1, 10);
    for (int attempt = 0; attempt < 1000 && elements.size() < count; ++attempt) {
        const uint64_t kind = uniform(0, 9);
        const uint64_t size = kind < 6 ? uniform(1, 64) : kind < 9 ? uniform(65, 3000) : uniform(3001, 20000);
        if (size > top) continue;
        uint64_t address;
        const uint64_t placement = uniform(0, 3);
        if (placement == 0) {
            address = top - size;
        } else if (placement == 1 && top > 0x10000) {
            const uint64_t boundary = uniform(1, top / 0x10000 - 1) * 0x10000;
            address = boundary - uniform(1, size);
            if (address + size > top) continue;
        } else {
            address = uniform(0, top - size);
        }
        bool overlaps = false;
        for (const ByteRun& other : elements) {
            overlaps =
                overlaps || (address < other.address + uint64_t{other.bytes.size()} && other.address < address + size);
        }
        if (overlaps) continue;
        std::vector<uint8_t> bytes(size);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng());
        elements.push_back(ByteRun{static_cast<uint32_t>(address), std::move(bytes)});
    }
    return elements;
}

using RandomCase = std::tuple<Format, uint64_t /* top */, uint32_t /* seed */>;

class RandomRoundTrip : public ::testing::TestWithParam<RandomCase> {};

TEST_P(RandomRoundTrip, GivesTheSameBytesAtTheSameAddresses) {
    const auto [format, top, seed] = GetParam();
    ExpectRoundTrip(format, RandomImage(seed, top));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomRoundTrip,
                         ::testing::Combine(::testing::Values(Format::kSRec, Format::kHex),
                                            ::testing::Values(uint64_t{0x10000}, uint64_t{0x1000000},
                                                              uint64_t{1} << 32),
                                            ::testing::Range(1u, 9u)),
                         [](const auto& info) {
                             const uint64_t top = std::get<1>(info.param);
                             const char* space = top == 0x10000 ? "Below64K" : top == 0x1000000 ? "Below16M" : "Full";
                             return std::string(Extension(std::get<0>(info.param))) + space + "Seed" +
                                    std::to_string(std::get<2>(info.param));
                         });

// Cases worth keeping apart from the random ones.
struct FixedCase {
    const char* name;
    std::vector<ByteRun> elements;
};

void PrintTo(const FixedCase& c, std::ostream* out) { *out << c.name; }

class FixedRoundTrip : public ::testing::TestWithParam<std::tuple<Format, FixedCase>> {};

TEST_P(FixedRoundTrip, GivesTheSameBytesAtTheSameAddresses) {
    ExpectRoundTrip(std::get<0>(GetParam()), std::get<1>(GetParam()).elements);
}

const FixedCase kFixedCases[] = {
    {"BlockAcross64K", {{0x0800F000, testutil::Pattern(0x2000)}}},
    {"UnalignedAcross64K", {{0x0800FFE7, testutil::Pattern(0x4321, 9)}}},
    {"FullBlockAndOneByte", {{0x08000000, testutil::Pattern(8193)}}},
    {"EndsAtTheTop", {{0xFFFFFFDF, testutil::Pattern(33)}, {0x0, testutil::Pattern(5, 3)}}},
    {"OutOfOrderAndTouching",
     {{0x2000, testutil::Pattern(100, 1)}, {0x1000, testutil::Pattern(0x1000, 2)}, {0x2064, testutil::Pattern(7, 3)}}},
    {"AcrossHalfTheAddressSpace", {{0x7FFFFFF0, testutil::Pattern(0x40, 4)}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, FixedRoundTrip,
                         ::testing::Combine(::testing::Values(Format::kSRec, Format::kHex),
                                            ::testing::ValuesIn(kFixedCases)),
                         [](const auto& info) {
                             return std::string(Extension(std::get<0>(info.param))) + std::get<1>(info.param).name;
                         });

}  // namespace
