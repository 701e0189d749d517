// End-to-end tests of --compare: a DfuSe file checked against readbacks of a
// simulated device, whose expected lines and totals the test counts itself
// from the device's bytes; the statuses of trouble; the JSON document with
// Python's own SHA-256.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace fwpack_e2e {
namespace {

using testutil::DfuLayout;
using testutil::LayoutElement;
using testutil::TempDir;

constexpr uint32_t kFlash = 0x08000000;
constexpr uint32_t kReadSize = 4096;  // the readback: 4 KiB of flash from kFlash
constexpr uint32_t kOptions = 0x1FFFC000;

std::vector<uint8_t> Pattern(std::size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 8));
    return bytes;
}

// What the file writes: three elements with holes between them.
const std::vector<LayoutElement> kElements = {
    {kFlash, Pattern(256, 1)}, {kFlash + 0x400, Pattern(1024, 2)}, {kFlash + 0xF00, Pattern(32, 3)}};
const std::vector<uint8_t> kOptionBytes = {0xAA, 0xF8, 0xFF, 0xFF, 0x55, 0x00, 0xFF, 0xFF};

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The device's flash after the download: every written byte, the holes as `fill`.
std::vector<uint8_t> Device(uint8_t fill) {
    std::vector<uint8_t> flash(kReadSize, fill);
    for (const auto& e : kElements) std::copy(e.data.begin(), e.data.end(), flash.begin() + (e.address - kFlash));
    return flash;
}

// The lines --compare must print for `flash` read back from kFlash (its
// length may be short of kReadSize), counted here byte by byte.
std::string ExpectedLines(const std::vector<uint8_t>& flash) {
    std::map<uint32_t, uint8_t> expected;
    for (const auto& e : kElements) {
        for (std::size_t i = 0; i < e.data.size(); ++i) expected[e.address + static_cast<uint32_t>(i)] = e.data[i];
    }
    struct Found {
        uint32_t address, size;
        bool missing;
        uint8_t expected, found;
    };
    std::vector<Found> runs;
    uint64_t differ = 0, missing = 0;
    for (const auto& [address, byte] : expected) {
        const bool absent = address - kFlash >= flash.size();
        if (!absent && flash[address - kFlash] == byte) continue;
        ++differ;
        missing += absent;
        if (!runs.empty() && runs.back().missing == absent && runs.back().address + runs.back().size == address) {
            ++runs.back().size;
        } else {
            runs.push_back({address, 1, absent, byte, absent ? uint8_t{0} : flash[address - kFlash]});
        }
    }
    if (differ == 0) return Line(std::to_string(expected.size()) + " bytes agree");
    std::string lines;
    char line[128];
    for (std::size_t r = 0; r < runs.size() && r < 20; ++r) {
        const Found& f = runs[r];
        const std::string count = std::to_string(f.size) + (f.size == 1 ? " byte" : " bytes");
        if (f.missing) {
            std::snprintf(line, sizeof line, "0x%08X: %s missing (expected 0x%02X)", f.address, count.c_str(),
                          unsigned{f.expected});
        } else {
            std::snprintf(line, sizeof line, "0x%08X: %s %s (expected 0x%02X, found 0x%02X)", f.address, count.c_str(),
                          f.size == 1 ? "differs" : "differ", unsigned{f.expected}, unsigned{f.found});
        }
        lines += Line(line);
    }
    if (runs.size() > 20) lines += Line("... " + std::to_string(runs.size() - 20) + " more runs");
    std::string total = std::to_string(runs.size()) + (runs.size() == 1 ? " run, " : " runs, ") +
                        std::to_string(differ) + " of " + std::to_string(expected.size()) + " bytes differ";
    if (missing > 0) total += " (" + std::to_string(missing) + " missing)";
    return lines + Line(total);
}

struct CompareCase {
    const char* label;
    std::function<std::vector<uint8_t>()> readback;  // the flash read back from kFlash
    int status;
};

class FwpackCompare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(FwpackCompare, NamesEveryDifferingRunAndCountsThem) {
    const CompareCase& c = GetParam();
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(DfuLayout({{0, std::nullopt, kElements}}, 0x1209, 0x5AF0, 0)));
    const std::vector<uint8_t> flash = c.readback();
    testutil::WriteFile(dir / "readback.bin", Text(flash));
    const auto result = Fwpack(dir, {"--compare", "fw.dfu", "readback.bin", "-b", "0x08000000"});
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.out, ExpectedLines(flash));
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(Readbacks, FwpackCompare,
                         ::testing::Values(CompareCase{"equal", [] { return Device(0xFF); }, 0},
                                           CompareCase{"holes_differ", [] { return Device(0x00); }, 0},
                                           CompareCase{"one_byte_flipped",
                                                       [] {
                                                           auto flash = Device(0xFF);
                                                           flash[0x405] ^= 0x10;
                                                           return flash;
                                                       },
                                                       1},
                                           CompareCase{"bytes_missing",
                                                       [] {
                                                           auto flash = Device(0xFF);
                                                           flash.resize(
                                                               0x700);  // the readback stops inside the second element
                                                           return flash;
                                                       },
                                                       1},
                                           CompareCase{"runs_beyond_twenty",
                                                       [] {
                                                           auto flash = Device(0xFF);
                                                           for (uint32_t i = 0; i < 30; ++i)
                                                               flash[0x400 + 3 * i] ^= 0xFF;
                                                           flash[0x4FF] ^= 1;
                                                           flash[0x500] ^= 1;  // one run of two bytes
                                                           flash.resize(0xF10);
                                                           return flash;
                                                       },
                                                       1}),
                         [](const auto& info) { return std::string(info.param.label); });

// A DfuSe file of two targets: -a picks the one to check; without it the
// file is refused with its alternate settings.
TEST(FwpackCompareTargets, AltPicksTheTargetOfATwoTargetFile) {
    TempDir dir;
    testutil::WriteFile(dir / "two.dfu",
                        Text(DfuLayout({{0, std::nullopt, kElements}, {1, std::nullopt, {{kOptions, kOptionBytes}}}},
                                       0x1209, 0x5AF0, 0)));
    auto options = kOptionBytes;
    testutil::WriteFile(dir / "ob.bin", Text(options));
    EXPECT_EQ(Fwpack(dir, {"--compare", "-a", "1", "two.dfu", "ob.bin", "-b", "1FFFC000"}).out, Line("8 bytes agree"));
    options[4] = 0x54;
    testutil::WriteFile(dir / "ob.bin", Text(options));
    const auto differ = Fwpack(dir, {"--compare", "-a", "1", "two.dfu", "ob.bin", "-b", "1FFFC000"});
    EXPECT_EQ(differ.status, 1);
    EXPECT_EQ(differ.out,
              Line("0x1FFFC004: 1 byte differs (expected 0x55, found 0x54)") + Line("1 run, 1 of 8 bytes differ"));
    const auto refused = Fwpack(dir, {"--compare", "two.dfu", "ob.bin", "-b", "1FFFC000"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, Line("fwpack: two.dfu holds 2 targets (alternate settings 0, 1); choose one with -a"));
}

// A readback as a loader makes one without knowing the file: each element
// read raw in whole 256-byte blocks around it, the reads put into a DfuSe
// file. One byte of the device went wrong.
TEST(FwpackCompareTargets, ReadbackOfEachElementAsADfuSeFile) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(DfuLayout({{0, std::nullopt, kElements}}, 0x1209, 0x5AF0, 0)));
    auto flash = Device(0xFF);
    flash[0xF1F] = 0x00;
    std::vector<LayoutElement> reads;
    for (const auto& e : kElements) {
        const uint32_t start = (e.address - kFlash) / 256 * 256;
        const uint32_t end = (e.address - kFlash + static_cast<uint32_t>(e.data.size()) + 255) / 256 * 256;
        reads.push_back({kFlash + start, std::vector<uint8_t>(flash.begin() + start, flash.begin() + end)});
    }
    testutil::WriteFile(dir / "readback.dfu", Text(DfuLayout({{0, std::nullopt, reads}}, 0x1209, 0x5AF0, 0)));
    const auto result = Fwpack(dir, {"--compare", "fw.dfu", "readback.dfu"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, ExpectedLines(flash));
}

// Every trouble ends with status 2, whatever the line that says it.
TEST(FwpackCompareTargets, TroubleEndsWithStatusTwo) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(DfuLayout({{0, std::nullopt, kElements}}, 0x1209, 0x5AF0, 0)));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--compare", "fw.dfu"},
         "fwpack: --compare needs two files: the one expected, then the one found (the "
         "readback)"},
        {{"--bogus", "--compare", "fw.dfu", "x.dfu"}, "fwpack: unknown option '--bogus'"},
        {{"--compare", "fw.dfu", "x.dfu", "y.dfu"}, "fwpack: --compare takes two files: 'y.dfu' is a third"},
        {{"--compare", "-d", "1:2", "fw.dfu", "fw.dfu"},
         "fwpack: --compare reads two files and writes nothing: -d does not go with it"},
        {{"--compare", "fw.dfu", "rb.bin"}, "fwpack: rb.bin: a raw binary input needs its load address (-b ADDR)"},
        {{"--compare", "fw.dfu", "missing.dfu"}, "fwpack: missing.dfu: no such file"},
        {{"--compare", "-a", "3", "fw.dfu", "fw.dfu"},
         "fwpack: fw.dfu has no target with alternate setting 3 (it has 0)"},
    };
    for (const auto& [args, first_line] : cases) {
        const auto result = Fwpack(dir, args);
        EXPECT_EQ(result.status, 2) << args[0] << " " << args[1];
        EXPECT_EQ(result.err.substr(0, result.err.find(kTarget.line_end)), first_line);
        EXPECT_EQ(result.out, "");
    }
}

constexpr const char kJsonCheck[] = R"(
import hashlib, json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
flash = open(sys.argv[2], "rb").read()
spans = [(0, 256), (0x400, 0x400 + 1024), (0xF00, 0xF20)]
found = b"".join(flash[a:b] for a, b in spans)
assert doc["agree"] is False and doc["expected_bytes"] == 1312, doc
assert doc["differing_bytes"] == 1 and doc["missing_bytes"] == 0 and doc["run_count"] == 1, doc
assert doc["runs"] == [{"address": 0x08000404, "size": 1, "missing": False, "expected": doc["runs"][0]["expected"],
                        "found": flash[0x404]}], doc
assert doc["actual_sha256"] == hashlib.sha256(found).hexdigest(), doc
assert doc["expected_sha256"] != doc["actual_sha256"], doc
print("ok")
)";

TEST(FwpackCompareTargets, JsonHoldsTheRunsAndTheDigests) {
    if (!testutil::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(DfuLayout({{0, std::nullopt, kElements}}, 0x1209, 0x5AF0, 0)));
    auto flash = Device(0xFF);
    flash[0x404] ^= 0x01;
    testutil::WriteFile(dir / "readback.bin", Text(flash));
    testutil::WriteFile(dir / "check.py", kJsonCheck);
    const auto result = Fwpack(dir, {"--compare", "--json", "fw.dfu", "readback.bin", "-b", "0x08000000"});
    EXPECT_EQ(result.status, 1);
    testutil::WriteFile(dir / "out.json", result.out);
    EXPECT_EQ(testutil::Run("python3 check.py out.json readback.bin", dir.path().string()).out, "ok\n");
}

}  // namespace
}  // namespace fwpack_e2e
