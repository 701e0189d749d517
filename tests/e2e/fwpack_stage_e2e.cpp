// End-to-end tests of the image stage and of --overlap: the values of the
// options and their refusals, the stage in a conversion and in --info (each
// element's CRC-32 in the JSON listing checked against the bytes worked out
// here), the target it changes, and refusals that leave the output as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fwpack_run.h"

namespace fwpack_e2e {
namespace {

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Whether the standard output of `result` holds `text`, whose lines end in
// "\n" whatever the platform's line end.
bool Lists(const testutil::RunResult& result, const std::string& text) {
    std::string out = result.out;
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return out.find(text) != std::string::npos;
}

std::string Usage(const std::string& line) { return Line(line) + Line("Try 'fwpack --help' for more information."); }

// The JSON of one element as --info --json lists it, without its SHA-256.
std::string ElementJson(uint32_t address, const std::vector<uint8_t>& bytes) {
    return "\"address\": " + std::to_string(address) + ",\n          \"size\": " + std::to_string(bytes.size()) +
           ",\n          \"crc32\": " + std::to_string(testutil::Crc32Bitwise(bytes.data(), bytes.size()));
}

TEST(StageOptions, ValuesFollowTheNumberRuleAndEachRefusalSaysWhy) {
    TempDir dir;
    WriteFile(dir / "app.bin", "0123456789");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--crop", "08000000-08020000"},
         "fwpack: --crop: in the range '08000000-08020000': '08000000' starts with 0: write a hexadecimal number "
         "with 0x (0x08000000), a decimal one without the 0"},
        {{"--exclude", "0x100-0x100"}, "fwpack: --exclude: the range '0x100-0x100' is empty"},
        {{"--fill", "0x200-0x100"}, "fwpack: --fill: the range '0x200-0x100' ends before it starts"},
        {{"--fill", "some"}, "fwpack: --fill: 'some' is neither a range (START-END or START+LENGTH) nor all"},
        {{"--offset", "-FF"}, "fwpack: --offset: '-FF': 'FF' has hexadecimal digits: write it with 0x (0xFF)"},
        {{"--offset", "0x100000000"}, "fwpack: --offset: '0x100000000' is more than 0xFFFFFFFF"},
        {{"--align", "3"}, "fwpack: --align: '3' is not a power of two from 2 to 0x100000"},
        {{"--align", "0x200000"}, "fwpack: --align: '0x200000' is more than 0x100000"},
        {{"--crc32", "0xFFFFFFFD"},
         "fwpack: --crc32: '0xFFFFFFFD' is more than 0xFFFFFFFC (ADDR[,RANGE], 4 bytes at ADDR)"},
        {{"--length-be", "0x100,0x0+0"}, "fwpack: --length-be: the range '0x0+0' is empty"},
        {{"--overlap", "maybe"}, "fwpack: --overlap: 'maybe' is not an overlap rule (refuse, identical or replace)"},
        {{"--pad-pages"},
         "fwpack: --pad-pages grows each element to the pages it touches: give the target's layout (--layout)"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args = {"-b", "0x08000000", "app.bin", "-o", "out.dfu"};
        args.insert(args.end(), options.begin(), options.end());
        const auto result = Fwpack(dir, args);
        EXPECT_EQ(result.status, kTarget.error_status) << options[0];
        EXPECT_EQ(result.err, Usage(message)) << options[0];
    }
}

TEST(StageConversion, FillAndCrcForABootloaderInOneRun) {
    TempDir dir;
    WriteFile(dir / "app.bin", "0123456789");
    // An application behind its bootloader, padded to 16 bytes, its CRC-32 and
    // length after it; --offset's value begins with a dash.
    const auto result =
        Fwpack(dir, {"-b", "0x08004000", "app.bin", "--offset", "-0x4000", "--fill", "0x08000000+16", "--crc32",
                     "0x08000010", "--length-be", "0x08000014", "-f", "hex", "-o", "out.hex"});
    ASSERT_EQ(result.status, kTarget.success_status) << result.err;
    std::vector<uint8_t> image = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint32_t crc = testutil::Crc32Bitwise(image.data(), image.size());
    const std::vector<uint8_t> crc_field = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
    const std::vector<uint8_t> length_field = {0, 0, 0, 0x18};

    // The HEX reader joins records that touch: one element of all 24 bytes.
    std::vector<uint8_t> whole = image;
    whole.insert(whole.end(), crc_field.begin(), crc_field.end());
    whole.insert(whole.end(), length_field.begin(), length_field.end());
    const auto listing = Fwpack(dir, {"--info", "--json", "out.hex"});
    ASSERT_EQ(listing.status, kTarget.success_status) << listing.err;
    EXPECT_TRUE(Lists(listing, ElementJson(0x08000000, whole))) << listing.out;

    // --info with the same options shows what the conversion makes, and the values.
    const auto preview = Fwpack(dir, {"--info", "--json", "-b", "0x08004000", "app.bin", "--offset", "-0x4000",
                                      "--fill", "0x08000000+16", "--crc32", "0x08000010", "--length-be", "0x08000014"});
    ASSERT_EQ(preview.status, kTarget.success_status) << preview.err;
    EXPECT_TRUE(Lists(preview, ElementJson(0x08000000, image))) << preview.out;
    EXPECT_TRUE(Lists(preview, ElementJson(0x08000010, crc_field))) << preview.out;
    EXPECT_TRUE(Lists(preview, ElementJson(0x08000014, length_field))) << preview.out;
    EXPECT_TRUE(Lists(
        preview, "\"option\": \"--crc32\",\n      \"address\": 134217744,\n      \"value\": " + std::to_string(crc)))
        << preview.out;
    EXPECT_TRUE(Lists(preview, "\"option\": \"--length-be\",\n      \"address\": 134217748,\n      \"value\": 24"))
        << preview.out;
}

TEST(StageConversion, RefusalsLeaveTheOutputAsItWas) {
    TempDir dir;
    WriteFile(dir / "app.bin", "0123456789");
    WriteFile(dir / "far.bin", "x");
    WriteFile(dir / "out.dfu", "an older file");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-b", "0x08000000", "app.bin", "--crc32", "0x08000008"},
         "fwpack: --crc32 0x08000008: the 4 bytes at 0x08000008 would lie over the byte at 0x08000008, which comes "
         "from an input"},
        {{"-b", "0x08000000", "app.bin", "--add", "far.bin", "-b", "0x0A000000", "--fill", "all"},
         "fwpack: app.bin: --fill all would fill 33554422 bytes of holes, more than 16 MiB; the largest is "
         "0x0800000A-0x0A000000: leave the bytes far away out with --crop or --exclude"},
        {{"-b", "0x08000000", "app.bin", "--layout", "@Flash /0x08000000/02*004Ka,04*004Kg", "--pad-pages"},
         "fwpack: target 0 (alternate setting 0), element 0: the byte at 0x08000000 is not writeable: it lies in the "
         "segment 0x08000000-0x08001FFF of \"Flash\" (2 pages of 4096 bytes): readable, not writeable"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"-o", "out.dfu"});
        const auto result = Fwpack(dir, all);
        EXPECT_EQ(result.status, kTarget.error_status) << message;
        EXPECT_EQ(result.err, Line(message)) << message;
        EXPECT_EQ(ReadFile(dir / "out.dfu"), "an older file") << message;
    }
}

TEST(StageConversion, AppliesToTheTargetOpenedLastAndToTheChosenTargetOfADfuSeInput) {
    TempDir dir;
    WriteFile(dir / "a.bin", "AAAA");
    WriteFile(dir / "b.bin", "BBBB");
    auto result = Fwpack(dir, {"-b", "0x08000000", "a.bin", "--target", "b.bin", "-b", "0x1FFF0000", "--crop",
                               "0x1FFF0000+2", "-o", "two.dfu"});
    ASSERT_EQ(result.status, kTarget.success_status) << result.err;
    auto listing = Fwpack(dir, {"--info", "--json", "two.dfu"});
    EXPECT_TRUE(Lists(listing, ElementJson(0x08000000, {'A', 'A', 'A', 'A'}))) << listing.out;
    EXPECT_TRUE(Lists(listing, ElementJson(0x1FFF0000, {'B', 'B'}))) << listing.out;

    result = Fwpack(dir, {"two.dfu", "--crop", "0x08000000+1", "-o", "one.dfu"});
    EXPECT_EQ(result.status, kTarget.error_status);
    EXPECT_EQ(result.err, Line("fwpack: two.dfu holds 2 targets (alternate settings 0, 1); the image options change "
                               "one: choose it with -a"));
    result = Fwpack(dir, {"two.dfu", "-a", "1", "--exclude", "0x1FFF0000+1", "-f", "hex", "-o", "one.hex"});
    ASSERT_EQ(result.status, kTarget.success_status) << result.err;
    listing = Fwpack(dir, {"--info", "--json", "one.hex"});
    EXPECT_TRUE(Lists(listing, ElementJson(0x1FFF0001, {'B'}))) << listing.out;

    // Before a split, the stage changes the whole image; pages from every layout.
    result = Fwpack(dir, {"-b", "0x08000000", "a.bin", "--add", "b.bin", "-b", "0x1FFFC000", "--split", "--layout",
                          "0=@Flash /0x08000000/04*016Kg", "--layout", "1=@Option Bytes /0x1FFFC000/01*016 e",
                          "--exclude", "0x1FFFC001+1", "--pad-pages", "-o", "split.dfu"});
    ASSERT_EQ(result.status, kTarget.success_status) << result.err;
    listing = Fwpack(dir, {"--info", "--json", "split.dfu"});
    std::vector<uint8_t> flash(0x4000, 0xFF), option_bytes(16, 0xFF);
    std::fill_n(flash.begin(), 4, 'A');
    option_bytes[0] = option_bytes[2] = option_bytes[3] = 'B';
    EXPECT_TRUE(Lists(listing, ElementJson(0x08000000, flash))) << listing.out;
    EXPECT_TRUE(Lists(listing, ElementJson(0x1FFFC000, option_bytes))) << listing.out;
}

TEST(OverlapOption, RefusesAcceptsIdenticalBytesOrLetsTheLaterInputWin) {
    TempDir dir;
    WriteFile(dir / "a.bin", "ABCD");
    WriteFile(dir / "same.bin", "CDEF");
    WriteFile(dir / "other.bin", "CxEF");
    const std::vector<std::string> same = {"-b", "0x100", "a.bin", "--add", "same.bin", "-b", "0x102"};
    const std::vector<std::string> other = {"-b", "0x100", "a.bin", "--add", "other.bin", "-b", "0x102"};
    const auto run = [&](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), {"-f", "hex", "-o", "out.hex"});
        return Fwpack(dir, args);
    };
    auto result = run(same, {});
    EXPECT_EQ(result.err, Line("fwpack: a.bin and same.bin both define the byte at 0x00000102"));
    result = run(other, {"--overlap", "identical"});
    EXPECT_EQ(result.status, kTarget.error_status);
    EXPECT_EQ(result.err, Line("fwpack: a.bin and other.bin give the byte at 0x00000103 different values (0x44 and "
                               "0x78)"));
    for (const auto& [args, rule, bytes] : {std::make_tuple(same, "identical", Text({'A', 'B', 'C', 'D', 'E', 'F'})),
                                            std::make_tuple(other, "replace", Text({'A', 'B', 'C', 'x', 'E', 'F'}))}) {
        result = run(args, {"--overlap", rule});
        ASSERT_EQ(result.status, kTarget.success_status) << rule << ": " << result.err;
        const auto listing = Fwpack(dir, {"--info", "--json", "out.hex"});
        EXPECT_TRUE(Lists(listing, ElementJson(0x100, std::vector<uint8_t>(bytes.begin(), bytes.end()))))
            << rule << ": " << listing.out;
    }
}

}  // namespace
}  // namespace fwpack_e2e
