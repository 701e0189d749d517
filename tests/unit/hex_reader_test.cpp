// Tests of the Intel HEX reader: record types, address bases, merging, and
// every diagnostic with its line number. Checksums were computed by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_util.h"

namespace {

using Block = testutil::ByteRun;
using testutil::Counting;
using testutil::LoadText;

// 16 bytes 00..0F at offset 0x0000, then 16 bytes 10..1F at 0x0010 and 0x0020.
const std::string kAt0 = ":10000000000102030405060708090A0B0C0D0E0F78";
const std::string kAt10 = ":10001000101112131415161718191A1B1C1D1E1F68";
const std::string kAt20 = ":10002000101112131415161718191A1B1C1D1E1F58";
const std::string kEof = ":00000001FF";
const std::string kBadSum = ":01001000AB45";

struct HexCase {
    const char* name;
    std::string text;
    bool loaded;
    std::string err;
    std::vector<Block> elements;
};

class HexReader : public testing::TestWithParam<HexCase> {};

TEST_P(HexReader, LoadsAsExpected) {
    const HexCase& c = GetParam();
    const testutil::Loaded result = LoadText(c.text, "fw.hex");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.loaded, c.loaded);
    EXPECT_EQ(result.elements, c.elements);
}

const std::string kNotHex = "Not in Intel Hex format!\n";
const std::string kChecksum = "Bad hexadecimal checksum!\n";

std::string Line(int line, const std::string& message) {
    return "FILE : line " + std::to_string(line) + ": " + message;
}

std::string CaseName(const testing::TestParamInfo<HexCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Accepts, HexReader,
    testing::Values(
        HexCase{"empty_file", "", true, "", {}}, HexCase{"only_line_ends_and_spaces", "\n \r\n  \n", true, "", {}},
        HexCase{"data_without_end_record", kAt0 + "\n", true, "", {{0, Counting(0, 16)}}},
        HexCase{"ignores_everything_after_end_record",
                kAt0 + "\n" + kEof + "\nnot a record\n" + kBadSum,
                true,
                "",
                {{0, Counting(0, 16)}}},
        HexCase{"start_address_records_are_checked_and_dropped",
                ":0400000312345678E5\n:0400000508000000EF\n" + kAt0,
                true,
                "",
                {{0, Counting(0, 16)}}},
        HexCase{
            "lower_case_hex_digits", ":10000000000102030405060708090a0b0c0d0e0f78\n", true, "", {{0, Counting(0, 16)}}},
        HexCase{"white_space_and_line_ends_between_fields",
                ":10 0000 00\t000102030405060708090A0B0C0D0E0F\n78\n" + kBadSum,
                false,
                Line(2, kChecksum),
                {{0, Counting(0, 16)}}},
        HexCase{"crlf_line_ends", kAt0 + "\r\n" + kAt10 + "\r\n" + kEof + "\r\n", true, "", {{0, Counting(0, 32)}}},
        HexCase{"ctrl_z_ends_the_input", kAt0 + "\r\n\x1A" + "garbage", true, "", {{0, Counting(0, 16)}}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Addresses, HexReader,
    testing::Values(
        HexCase{"linear_base", ":020000040800F2\n:0410000001020304E2\n", true, "", {{0x08001000, {1, 2, 3, 4}}}},
        HexCase{"segment_base", ":020000021000EC\n:01001000AB44\n", true, "", {{0x00010010, {0xAB}}}},
        HexCase{"linear_record_replaces_segment_base",
                ":020000021000EC\n:020000040001F9\n:01001000AB44\n",
                true,
                "",
                {{0x00010010, {0xAB}}}},
        HexCase{"segment_record_replaces_linear_base",
                ":020000040800F2\n:020000021000EC\n:01001000AB44\n",
                true,
                "",
                {{0x00010010, {0xAB}}}},
        HexCase{"merge_across_a_linear_base_change",
                ":10FFF000000102030405060708090A0B0C0D0E0F89\n:020000040001F9\n"
                ":10000000101112131415161718191A1B1C1D1E1F78\n",
                true,
                "",
                {{0xFFF0, Counting(0, 32)}}},
        HexCase{"no_merge_across_the_top_of_the_address_space",
                ":02000004FFFFFC\n:04FFFC0001020304F7\n:020000040000FA\n:0100000005FA\n",
                true,
                "",
                {{0xFFFFFFFC, {1, 2, 3, 4}}, {0, {5}}}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Merges, HexReader,
    testing::Values(
        HexCase{"contiguous_records_form_one_element", kAt0 + "\n" + kAt10, true, "", {{0, Counting(0, 32)}}},
        HexCase{"a_gap_starts_a_new_element",
                kAt0 + "\n" + kAt20,
                true,
                "",
                {{0, Counting(0, 16)}, {0x20, Counting(0x10, 16)}}},
        HexCase{"out_of_order_records_stay_apart",
                kAt10 + "\n" + kAt0,
                true,
                "",
                {{0x10, Counting(0x10, 16)}, {0, Counting(0, 16)}}},
        HexCase{"empty_record_elsewhere_adds_an_empty_element", ":00004000C0\n", true, "", {{0x40, {}}}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Diagnoses, HexReader,
    testing::Values(
        HexCase{"tab_where_a_record_starts", kAt0 + "\n\t" + kAt10, false, Line(2, kNotHex), {{0, Counting(0, 16)}}},
        HexCase{"letter_where_a_record_starts", "\n\na", false, Line(3, kNotHex), {}},
        HexCase{"record_type_06", ":00000006FA\n", false, Line(1, kNotHex), {}},
        HexCase{"end_record_with_a_byte_count", ":0100000155A9\n" + kAt0, false, Line(1, kChecksum), {}},
        HexCase{"colon_at_the_end_of_the_input", kAt0 + "\n:", false, Line(2, kNotHex), {{0, Counting(0, 16)}}},
        HexCase{"record_cut_short", ":1000000000010203", false, Line(1, kNotHex), {}},
        HexCase{"non_hex_in_a_field", ":0100100GAB44\n", false, Line(1, kNotHex), {}},
        HexCase{"sign_in_a_field", ":+1001000AB44\n", false, Line(1, kNotHex), {}},
        HexCase{"bad_checksum_on_the_third_crlf_line",
                kAt0 + "\r\n" + kAt20 + "\r\n" + kBadSum + "\r\n",
                false,
                Line(3, kChecksum),
                {{0, Counting(0, 16)}, {0x20, Counting(0x10, 16)}}},
        HexCase{"lone_cr_counts_as_a_line_end", "\r\r" + kBadSum, false, Line(3, kChecksum), {}},
        HexCase{"fifth_record_bad_keeps_the_first_four",
                kAt0 + "\n" + kAt10 + "\n:020000040800F2\n:0410000001020304E2\n" + kBadSum,
                false,
                Line(5, kChecksum),
                {{0, Counting(0, 32)}, {0x08001000, {1, 2, 3, 4}}}}),
    CaseName);

TEST(HexReaderLines, CountsBeyondSixteenBits) {
    const testutil::Loaded result = LoadText(std::string(70000, '\n') + kBadSum, "fw.Hex");
    EXPECT_FALSE(result.loaded);
    EXPECT_EQ(result.err, Line(70001, kChecksum));
}

TEST(HexReaderFiles, DirectoryIsNotLoaded) {
    testutil::TempDir dir;
    const std::string path = dir / "folder.hex";
    testutil::fs::create_directory(path);
    testing::internal::CaptureStderr();
    CImage image(0, path.c_str(), false, nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(image.IsLoaded());
}

}  // namespace
