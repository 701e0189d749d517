// Tests of the DfuSe parser: the fields of a sound file, and the first
// problem it names for each kind of damage, on files laid out by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "dfu_layout.h"
#include "dfuse/dfu_parser.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Target 0 at offset 11 (its element record at 285), target 1 at 297 (its
// element record at 571), the suffix at 581: 597 bytes.
const Bytes kFile =
    testutil::DfuLayout({{0, "Flash", {{0x08000000, {1, 2, 3, 4}}}}, {1, std::nullopt, {{0x1FFFF800, {0xAA, 0x55}}}}},
                        0x1209, 0x5AF0, 0x0100);

void SetLe32(Bytes& file, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t BitwiseDfuCrc(const Bytes& file) { return testutil::Crc32Bitwise(file.data(), file.size() - 4) ^ 0xFFFFFFFFu; }

TEST(DfuParser, ReadsEveryFieldOfASoundFile) {
    const DfuFileInfo info = ParseDfuFile(kFile.data(), kFile.size());
    EXPECT_EQ(info.problem, "");
    EXPECT_EQ(info.suffix.vendor, 0x1209);
    EXPECT_EQ(info.suffix.product, 0x5AF0);
    EXPECT_EQ(info.suffix.release, 0x0100);
    ASSERT_EQ(info.targets.size(), 2u);
    EXPECT_EQ(info.targets[0].name, "Flash");
    EXPECT_EQ(info.targets[0].elements.at(0).address, 0x08000000u);
    EXPECT_EQ(info.targets[0].elements.at(0).data_offset, 293u);
    EXPECT_EQ(info.targets[1].alternate, 1);
    EXPECT_EQ(info.targets[1].named, 0u);
    EXPECT_EQ(info.targets[1].elements.at(0).data_offset, 579u);
}

struct DamageCase {
    const char* label;
    std::function<void(Bytes&)> damage;
    bool crc_made_right;  // after the damage, so that the damage itself is found
    std::string problem;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.label; }

std::vector<DamageCase> DamageCases() {
    const Bytes& f = kFile;
    const uint32_t crc = BitwiseDfuCrc(f);
    Bytes flipped = f;
    flipped[300] ^= 1;
    char crc_problem[96];
    std::snprintf(crc_problem, sizeof crc_problem, "the suffix CRC is 0x%08X, but the file's bytes give 0x%08X", crc,
                  BitwiseDfuCrc(flipped));
    return {
        {"too_short_for_a_suffix", [](Bytes& b) { b.resize(10); }, false,
         "the file has 10 bytes, too few for a DFU suffix (16 bytes)"},
        {"no_suffix_signature", [](Bytes& b) { b[581 + 8] = 'X'; }, true,
         "no DFU suffix: the signature \"UFD\" is not in its place before the last 5 bytes"},
        {"suffix_length", [](Bytes& b) { b[581 + 11] = 17; }, true, "the DFU suffix length is 17, not 16"},
        {"crc", [](Bytes& b) { b[300] ^= 1; }, false, crc_problem},
        {"dfu_version", [](Bytes& b) { b[581 + 6] = 0x00; }, true,
         "the DFU version in the suffix is 0x0100, not 0x011A"},
        {"nothing_before_the_suffix", [](Bytes& b) { b.erase(b.begin(), b.begin() + 581); }, true,
         "the file has 0 bytes before its suffix, too few for the DfuSe prefix (11 bytes)"},
        {"prefix_signature", [](Bytes& b) { b[4] = 'x'; }, true, "the signature is not \"DfuSe\""},
        {"format_version", [](Bytes& b) { b[5] = 2; }, true, "the format version is 2, not 1"},
        {"more_targets_counted", [](Bytes& b) { b[10] = 3; }, true,
         "the target count says 3, but the file ends after 2 targets"},
        {"fewer_targets_counted", [](Bytes& b) { b[10] = 1; }, true,
         "the target count says 1, but 284 more bytes follow the last target"},
        {"target_prefix_cut_off",
         [](Bytes& b) {
             b.erase(b.begin() + 397, b.begin() + 581);
             SetLe32(b, 6, 397);
         },
         true, "target 1 at offset 297: its prefix is cut off (100 of 274 bytes)"},
        {"target_signature", [](Bytes& b) { b[297] = 't'; }, true,
         "target 1 at offset 297: the signature is not \"Target\""},
        {"named_flag", [](Bytes& b) { b[18] = 2; }, true, "target 0: the named flag is 2, not 0 or 1"},
        {"target_size_past_the_end", [](Bytes& b) { SetLe32(b, 297 + 266, 11); }, true,
         "target 1: the target size field says 11 bytes, but only 10 follow"},
        {"element_record_cut_off", [](Bytes& b) { SetLe32(b, 11 + 270, 2); }, true,
         "target 0 element 1 at offset 297: the element record is cut off by the end of its target (0 of 8 "
         "header bytes)"},
        {"element_data_past_its_target", [](Bytes& b) { SetLe32(b, 285 + 4, 5); }, true,
         "target 0 element 0 at offset 285: its 5 data bytes run past the end of its target (4 bytes left)"},
        {"target_size_beyond_its_elements", [](Bytes& b) { SetLe32(b, 11 + 270, 0); }, true,
         "target 0: its 0 element records take 0 bytes, but the target size field says 12"},
    };
}

class DfuParserDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DfuParserDamage, NamesTheFirstProblem) {
    Bytes file = kFile;
    GetParam().damage(file);
    if (GetParam().crc_made_right) SetLe32(file, file.size() - 4, BitwiseDfuCrc(file));
    EXPECT_EQ(ParseDfuFile(file.data(), file.size()).problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(Table, DfuParserDamage, ::testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
