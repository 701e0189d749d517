// The image stage against srec_cat's own filters: random images and random
// combinations of crop, exclude, offset, fill and the CRC-32 and length
// fields, and the HEX file that objcopy makes of the tests' firmware ELF; the
// two results compared as address-to-byte maps. Skips without the tools.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "image_util.h"
#include "process_util.h"
#include "stage/stage.h"
#include "test_util.h"

namespace {

using ByteMap = std::map<uint64_t, uint8_t>;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Ranges(const std::vector<AddressRange>& ranges) {
    std::string text;
    for (const AddressRange& r : ranges) text += " " + Hex(r.start) + " " + Hex(r.end);
    return text;
}

ByteMap MapOf(const ElementList& list) {
    ByteMap bytes;
    for (const ImageElement& e : list) {
        for (uint32_t i = 0; i < e.size; ++i) bytes[uint64_t{e.address} + i] = e.data[i];
    }
    return bytes;
}

bool InAny(const std::vector<AddressRange>& ranges, uint64_t address) {
    for (const AddressRange& r : ranges) {
        if (r.Holds(address)) return true;
    }
    return false;
}

// A random job whose fields lie clear of the data and of the filled ranges,
// and the srec_cat filters that do the same. `low` and `high` bound the image.
StageJob RandomJob(std::mt19937& random, const ByteMap& image, uint64_t low, uint64_t high, std::string& filters) {
    StageJob job;
    const auto pick = [&](uint64_t from, uint64_t to) { return from + random() % (to - from); };
    const auto range = [&] {
        const uint64_t start = pick(low - 0x40, high + 0x40);
        return AddressRange{start, start + 1 + random() % (high - low + 0x80)};
    };
    for (unsigned i = random() % 3; i > 0; --i) job.crops.push_back(range());
    for (unsigned i = random() % 3; i > 0; --i) job.excludes.push_back(range());
    const int64_t offsets[] = {0, 0x1000, -0x100, -static_cast<int64_t>(low)};
    job.offset = offsets[random() % 4];
    if (!job.crops.empty()) filters += " -crop" + Ranges(job.crops);
    if (!job.excludes.empty()) filters += " -exclude" + Ranges(job.excludes);
    if (job.offset != 0) filters += " -offset " + std::string(job.offset < 0 ? "-" : "") + Hex(std::llabs(job.offset));

    // What is left, by a model of the test's own: the span that "all" fills.
    ByteMap left;
    for (const auto& [address, byte] : image) {
        if ((job.crops.empty() || InAny(job.crops, address)) && !InAny(job.excludes, address))
            left[address + job.offset] = byte;
    }
    const uint64_t moved_low = low + job.offset;
    std::vector<AddressRange> fills;
    switch (random() % 3) {
        case 0: break;
        case 1:
            if (!left.empty()) {
                job.fill_all = true;
                fills.push_back({left.begin()->first, left.rbegin()->first + 1});
            }
            break;
        default:
            for (unsigned i = 1 + random() % 2; i > 0; --i) {
                const AddressRange r = range();
                fills.push_back({r.start + job.offset, r.end + job.offset});
            }
            job.fills = fills;
    }
    if (!fills.empty()) filters += " -fill 0xFF" + Ranges(fills);
    if (left.empty()) return job;
    // Fields far above the data, or just below all of it.
    uint64_t field = moved_low + (high - low) + 0x1000;
    for (unsigned i = random() % 3; i > 0; --i) {
        Insertion insertion;
        insertion.kind = random() % 2 ? InsertKind::kCrc32 : InsertKind::kLength;
        insertion.big_endian = random() % 2;
        insertion.address = static_cast<uint32_t>(random() % 4 == 0 ? moved_low - 0x100 - 4 * i : field);
        field += 4 + random() % 8;
        insertion.option = "--field";
        job.insertions.push_back(insertion);
        filters += std::string(insertion.kind == InsertKind::kCrc32 ? " -crc32" : " -length") +
                   (insertion.big_endian ? "-b-e " : "-l-e ") + Hex(insertion.address);
    }
    return job;
}

// Runs `job` on the HEX file `input` and srec_cat's `filters` on it.
void Compare(const testutil::TempDir& dir, const std::string& input, const StageJob& job, const std::string& filters) {
    CImage image(0, input.c_str(), false, nullptr);
    ASSERT_TRUE(image.IsLoaded());
    StagedList staged;
    Error error;
    ASSERT_TRUE(RunStage(image.GetList(), job, 0, input, staged, error)) << filters << ": " << error.cause;

    const std::string output = dir / "oracle.hex";
    const std::string command = "srec_cat " + testutil::ShellQuote(input) + " -intel" + filters + " -o " +
                                testutil::ShellQuote(output) + " -intel";
    const testutil::RunResult result = testutil::Run(command, dir.path().string());
    ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
    CImage oracle(0, output.c_str(), false, nullptr);
    ASSERT_TRUE(oracle.IsLoaded()) << command;
    EXPECT_TRUE(MapOf(*staged.list) == MapOf(oracle.GetList())) << command;
}

TEST(StageOracle, RandomImagesAndStepsGiveWhatSrecCatGives) {
    if (!testutil::HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    testutil::TempDir dir;
    std::mt19937 random(2027);
    for (int round = 0; round < 60; ++round) {
        constexpr uint32_t kBase = 0x08000000;
        std::vector<testutil::ByteRun> runs;
        uint32_t at = kBase + random() % 64;
        for (unsigned n = 1 + random() % 6; n > 0; --n) {
            runs.push_back({at, testutil::RandomBytes(random, 1 + random() % 300)});
            at += static_cast<uint32_t>(runs.back().bytes.size()) + random() % 200;
        }
        auto image = testutil::MakeImage(dir, runs);
        const std::string input = dir / "image.hex";
        ASSERT_TRUE(image->SaveHex(input.c_str(), true));
        std::string filters;
        const StageJob job = RandomJob(random, MapOf(image->GetList()), kBase, at, filters);
        Compare(dir, input, job, filters);
    }
}

TEST(StageOracle, TheFirmwareElfAsObjcopyWritesItGivesWhatSrecCatGives) {
    if (!testutil::HaveTool("srec_cat") || !testutil::HaveTool("objcopy"))
        GTEST_SKIP() << "srec_cat or objcopy is not installed";
    testutil::TempDir dir;
    const std::string elf = std::string(FWPACK_SOURCE_DIR) + "/fuzz/elf_corpus/cortex-m-little-endian.elf";
    const std::string input = dir / "firmware.hex";
    ASSERT_EQ(testutil::Run("objcopy -O ihex " + testutil::ShellQuote(elf) + " " + testutil::ShellQuote(input),
                            dir.path().string())
                  .status,
              0);
    CImage image(0, input.c_str(), false, nullptr);
    ASSERT_TRUE(image.IsLoaded());
    const ByteMap bytes = MapOf(image.GetList());
    ASSERT_FALSE(bytes.empty());
    std::mt19937 random(1127);
    for (int round = 0; round < 20; ++round) {
        std::string filters;
        const StageJob job = RandomJob(random, bytes, bytes.begin()->first, bytes.rbegin()->first + 1, filters);
        Compare(dir, input, job, filters);
    }
}

}  // namespace

#endif
