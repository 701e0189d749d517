// End-to-end tests of the first contact with the command line: mode switches
// whose file may stand anywhere, slips that are told what to do, and the
// cause of every input or output failure on a line of its own (the plain
// form keeps its single line).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fwpack_run.h"

namespace {

using fwpack_e2e::Fwpack;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using testutil::RunResult;
using testutil::TempDir;

// One data record of 4 bytes at 0x08000000 (checksum worked out by hand:
// 04 + 00 + 00 + 00 + 01 + 02 + 03 + 04 = 0x0E, negated 0xF2).
const char kHex[] = ":020000040800F2\n:0400000001020304F2\n:00000001FF\n";

struct ContactCase {
    const char* label;
    std::vector<std::string> args;
    int status;                    // 0 or 1; 1 is the platform's error status
    std::vector<std::string> err;  // lines of standard error
    std::string out_start;         // what standard output starts with
};

class FwpackFirstContact : public testing::TestWithParam<ContactCase> {};

TEST_P(FwpackFirstContact, SaysWhatToDo) {
    const ContactCase& c = GetParam();
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", kHex);
    testutil::WriteFile(dir / "fw.s19", kHex);
    testutil::WriteFile(dir / "app.bin", "\x01\x02");
    std::filesystem::create_directory(std::filesystem::path(dir / "somedir"));
    const RunResult run = Fwpack(dir, c.args);
    EXPECT_EQ(run.status, c.status == 0 ? kTarget.success_status : kTarget.error_status);
    std::string expected;
    for (const std::string& line : c.err) expected += Line(line);
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.out.substr(0, c.out_start.size()), c.out_start);
}

const std::string kHint = "Try 'fwpack --help' for more information.";

INSTANTIATE_TEST_SUITE_P(
    Table, FwpackFirstContact,
    testing::Values(
        // --info is a switch: its file stands anywhere among the options.
        ContactCase{"info_before_json", {"--info", "--json", "fw.hex"}, 0, {}, "{"},
        ContactCase{"info_before_input_format", {"--info", "-I", "hex", "fw.s19"}, 0, {}, "fw.s19: Intel HEX file"},
        ContactCase{"info_before_base", {"--info", "-b", "0x08000000", "app.bin"}, 0, {}, "app.bin: raw binary file"},
        ContactCase{"info_with_equals", {"--info=fw.hex"}, 0, {}, "fw.hex: Intel HEX file"},
        ContactCase{"info_without_file", {"--info", "--json"}, 1, {"fwpack: --info needs a file to list", kHint}, ""},
        ContactCase{"info_with_two_files",
                    {"--info", "fw.hex", "out.dfu"},
                    1,
                    {"fwpack: --info reads one file and writes nothing: 'out.dfu' does not go with it", kHint},
                    ""},
        // Slips.
        ContactCase{"nearest_option",
                    {"--verion"},
                    1,
                    {"fwpack: unknown option '--verion' (did you mean '--version'?)", kHint},
                    ""},
        ContactCase{"format_in_capitals",
                    {"-f", "HEX", "fw.hex", "-o", "-"},
                    0,
                    {"fwpack success for [fw.hex] !"},
                    ":020000040800F2"},
        ContactCase{"input_format_in_capitals", {"--info", "-I", "HEX", "fw.s19"}, 0, {}, "fw.s19: Intel HEX file"},
        ContactCase{"long_option_with_one_dash",
                    {"-device", "1209:5af0", "fw.hex"},
                    1,
                    {"fwpack: unknown option '-device': long options take two dashes ('--device')", kHint},
                    ""},
        ContactCase{"base_before_its_target",
                    {"fw.hex", "-b", "0x08010000", "--target", "app.bin"},
                    1,
                    {"fwpack: -b 0x08010000: no raw binary (.bin) input of its target takes this load address; -b "
                     "applies to the target opened last: for app.bin, give it after '--target app.bin'",
                     kHint},
                    ""},
        ContactCase{"layout_without_slash_before_address",
                    {"--info", "--layout", "@Flash 0x08000000/04*016Kg", "fw.hex"},
                    1,
                    {"fwpack: --layout: character 8 ('0'): expected '/' before the zone's start address", kHint},
                    ""},
        // Causes, where options are given; the plain form keeps its one line.
        ContactCase{"extension_of_another_tool",
                    {"-d", "1:2", "fw.s19"},
                    1,
                    {"fwpack: fw.s19: the extension .s19 names no input format: read it with -I srec",
                     "fwpack Unable to create image from this file [fw.s19] !"},
                    ""},
        ContactCase{"plain_form_keeps_its_line",
                    {"fw.s19"},
                    1,
                    {"fwpack Unable to create image from this file [fw.s19] !"},
                    ""},
        ContactCase{
            "no_such_file",
            {"-d", "1:2", "missing.hex"},
            1,
            {"fwpack: missing.hex: no such file", "fwpack Unable to create image from this file [missing.hex] !"},
            ""},
        ContactCase{
            "input_is_a_folder",
            {"-I", "hex", "somedir"},
            1,
            {"fwpack: somedir: it is a folder, not a file", "fwpack Unable to create image from this file [somedir] !"},
            ""},
        ContactCase{"output_folder_missing",
                    {"fw.hex", "-o", "missing/out.dfu"},
                    1,
                    {"fwpack: missing/out.dfu: the folder 'missing/' does not exist",
                     "fwpack output file error [missing/out.dfu] !"},
                    ""},
        ContactCase{"output_is_a_folder",
                    {"fw.hex", "-o", "somedir"},
                    1,
                    {"fwpack: somedir: it is a folder, not a file", "fwpack output file error [somedir] !"},
                    ""}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
