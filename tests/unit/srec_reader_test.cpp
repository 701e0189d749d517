// Tests of the Motorola S-record reader: accepted records, merging, and every
// diagnostic with its line number. Checksums were computed by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_util.h"

namespace {

using Block = testutil::ByteRun;
using testutil::Counting;
using testutil::LoadText;

// 16 bytes 00..0F at 0x0000, then 16 bytes 10..1F at 0x0010 and at 0x0020.
const std::string kAt0 = "S1130000000102030405060708090A0B0C0D0E0F74";
const std::string kAt10 = "S1130010101112131415161718191A1B1C1D1E1F64";
const std::string kAt20 = "S1130020101112131415161718191A1B1C1D1E1F54";
const std::string kAt1000 = "S1071000AAAAAAAA40";  // AA AA AA AA at 0x1000
const std::string kBadSum = "S1071000AAAAAAAA41";

struct SRecCase {
    const char* name;
    std::string text;
    bool loaded;
    std::string err;
    std::vector<Block> elements;
};

std::ostream& operator<<(std::ostream& out, const SRecCase& c) { return out << c.name; }

class SRecReader : public testing::TestWithParam<SRecCase> {};

TEST_P(SRecReader, LoadsAsExpected) {
    const SRecCase& c = GetParam();
    const testutil::Loaded result = LoadText(c.text, "fw.srec");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.loaded, c.loaded);
    EXPECT_EQ(result.elements, c.elements);
}

const std::string kNotSRec = "Not in Motorola SREC format!\n";

std::string Line(int line, const std::string& message) {
    return "FILE : line " + std::to_string(line) + ": " + message;
}

INSTANTIATE_TEST_SUITE_P(
    Accepts, SRecReader,
    testing::Values(
        SRecCase{"empty_file", "", true, "", {}},
        SRecCase{"only_line_ends_and_spaces", "\n  \r\n \r\n\n ", true, "", {}},
        SRecCase{"data_without_termination", kAt0 + "\n", true, "", {{0, Counting(0, 16)}}},
        SRecCase{"ignores_everything_after_termination",
                 kAt0 + "\nS9030000FC\nthis is no record\n" + kAt20 + "\n",
                 true,
                 "",
                 {{0, Counting(0, 16)}}},
        SRecCase{"s9_with_24_bit_address", kAt0 + "\nS904000000FB\n" + kBadSum, true, "", {{0, Counting(0, 16)}}},
        SRecCase{"s8_and_s7_terminate", "S804010000FA\n" + kBadSum, true, "", {}},
        SRecCase{"s7_terminates", "S70508000000F2\n" + kBadSum, true, "", {}},
        SRecCase{"s5_count_not_compared", kAt0 + "\nS5030003F9\n", true, "", {{0, Counting(0, 16)}}},
        SRecCase{"s0_checksum_not_tested", "S006000048445200\n" + kAt0, true, "", {{0, Counting(0, 16)}}},
        SRecCase{
            "lower_case_hex_digits", "S1130000000102030405060708090a0b0c0d0e0f74\n", true, "", {{0, Counting(0, 16)}}},
        SRecCase{
            "white_space_between_fields", "S1 07 1000\tAAAAAAAA 40\n", true, "", {{0x1000, {0xAA, 0xAA, 0xAA, 0xAA}}}},
        SRecCase{"crlf_line_ends", kAt0 + "\r\n" + kAt10 + "\r\nS9030000FC\r\n", true, "", {{0, Counting(0, 32)}}},
        SRecCase{"ctrl_z_ends_the_input", kAt0 + "\n\x1A" + "garbage\n", true, "", {{0, Counting(0, 16)}}}),
    [](const testing::TestParamInfo<SRecCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Merges, SRecReader,
    testing::Values(
        SRecCase{"contiguous_records_form_one_element", kAt0 + "\n" + kAt10 + "\n", true, "", {{0, Counting(0, 32)}}},
        SRecCase{"a_gap_starts_a_new_element",
                 kAt0 + "\n" + kAt20 + "\n",
                 true,
                 "",
                 {{0, Counting(0, 16)}, {0x20, Counting(0x10, 16)}}},
        SRecCase{"only_the_last_element_is_compared",
                 kAt0 + "\n" + kAt1000 + "\n" + kAt10 + "\n",
                 true,
                 "",
                 {{0, Counting(0, 16)}, {0x1000, {0xAA, 0xAA, 0xAA, 0xAA}}, {0x10, Counting(0x10, 16)}}},
        SRecCase{"s1_then_s2_continue",
                 kAt10 + "\nS2060000200102D6\n",
                 true,
                 "",
                 {{0x10,
                   {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
                    0x01, 0x02}}}},
        SRecCase{"empty_record_continuing_changes_nothing", kAt0 + "\nS1030010EC\n", true, "", {{0, Counting(0, 16)}}},
        SRecCase{"empty_record_elsewhere_adds_an_empty_element", "S1030040BC\n", true, "", {{0x40, {}}}},
        SRecCase{"no_merge_across_the_top_of_the_address_space",
                 "S309FFFFFFFC01020304F3\nS3060000000005F4\n",
                 true,
                 "",
                 {{0xFFFFFFFC, {1, 2, 3, 4}}, {0, {5}}}}),
    [](const testing::TestParamInfo<SRecCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Diagnoses, SRecReader,
    testing::Values(
        SRecCase{"tab_where_a_record_starts", kAt0 + "\n\t" + kAt10, false, Line(2, kNotSRec), {{0, Counting(0, 16)}}},
        SRecCase{"other_character", "\n\nX", false, Line(3, kNotSRec), {}},
        SRecCase{"lower_case_s", "s1030040BC\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s4_record", "S4030000FC\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s6_record", "S6030000FC\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s_followed_by_line_end", "S\nS9030000FC\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s_at_the_end_of_the_input", "S", false, Line(1, kNotSRec), {}},
        SRecCase{"record_cut_short", "S10710", false, Line(1, kNotSRec), {}},
        SRecCase{"non_hex_in_a_field", "S1071000AAAAGAAA40\n", false, Line(1, kNotSRec), {}},
        SRecCase{"hex_prefix_in_a_field", "S10x071000AAAAAAAA40\n", false, Line(1, kNotSRec), {}},
        SRecCase{"sign_in_a_field", "S1+71000AAAAAAAA40\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s1_without_room_for_address_and_checksum", "S102FFFF\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s3_without_room_for_address_and_checksum", "S3040000000000\n", false, Line(1, kNotSRec), {}},
        SRecCase{"s5_byte_count", "S504000300F8\n", false, Line(1, "S5 line 'byte count' error!\n"), {}},
        SRecCase{"s7_byte_count", "S7040000000000FB\n", false, Line(1, "S7 line 'byte count' error!\n"), {}},
        SRecCase{"s8_byte_count", "S8030000FC\n", false, Line(1, "S8 line 'byte count' error!\n"), {}},
        SRecCase{"s9_byte_count", "S90500000000FA\n", false, Line(1, "S9 line 'byte count' error!\n"), {}},
        SRecCase{"bad_checksum_on_the_third_crlf_line",
                 kAt0 + "\r\n" + kAt20 + "\r\n" + kBadSum + "\r\n",
                 false,
                 Line(3, "Checksum error!\n"),
                 {{0, Counting(0, 16)}, {0x20, Counting(0x10, 16)}}},
        SRecCase{"lone_cr_counts_as_a_line_end", "\r\r" + kBadSum, false, Line(3, "Checksum error!\n"), {}},
        SRecCase{"line_end_inside_a_record_is_not_counted",
                 "S1\n071000AAAAAAAA41\n" + kAt0,
                 false,
                 Line(1, "Checksum error!\n"),
                 {}},
        SRecCase{"fifth_record_bad_keeps_the_first_four",
                 kAt0 + "\n" + kAt10 + "\n" + kAt1000 + "\nS1030040BC\n" + kBadSum + "\n",
                 false,
                 Line(5, "Checksum error!\n"),
                 {{0, Counting(0, 32)}, {0x1000, {0xAA, 0xAA, 0xAA, 0xAA}}, {0x40, {}}}}),
    [](const testing::TestParamInfo<SRecCase>& info) { return std::string(info.param.name); });

TEST(SRecReaderLines, CountsBeyondSixteenBits) {
    // 70,000 line ends, then a bad record on line 70,001: no wrap at 65,535.
    const testutil::Loaded result = LoadText(std::string(70000, '\n') + kBadSum, "fw.SREC");
    EXPECT_FALSE(result.loaded);
    EXPECT_EQ(result.err, Line(70001, "Checksum error!\n"));
}

TEST(SRecReaderFiles, MissingFileIsNotLoadedAndSaysNothing) {
    testutil::TempDir dir;
    const std::string path = dir / "missing.srec";
    testing::internal::CaptureStderr();
    CImage image(0, path.c_str(), false, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(image.IsLoaded());
}

}  // namespace
