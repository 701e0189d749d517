// End-to-end tests of the memory layouts: a conversion or a listing checked
// against them, --split, the warnings of --info, and its JSON document read
// back by Python's json module, whose hashes Python's own hashlib and zlib
// check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace fwpack_e2e {
namespace {

using testutil::DfuLayout;
using testutil::HaveTool;
using testutil::RunResult;
using testutil::TempDir;

// An Intel HEX file with `runs`, each under its own extended linear address.
struct Run {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

std::string Record(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> record = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                                   static_cast<uint8_t>(offset), type};
    record.insert(record.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    char digits[3];
    for (uint8_t byte : record) {
        sum += byte;
        std::snprintf(digits, sizeof digits, "%02X", unsigned{byte});
        line += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + digits + "\n";
}

std::string HexOf(const std::vector<Run>& runs) {
    std::string text;
    for (const Run& run : runs) {
        text += Record(4, 0, {static_cast<uint8_t>(run.address >> 24), static_cast<uint8_t>(run.address >> 16)});
        text += Record(0, static_cast<uint16_t>(run.address), run.bytes);
    }
    return text + ":00000001FF\n";
}

const std::vector<uint8_t> kOptionBytes = {0xAA, 0xF8, 0xFF, 0xFF, 0x55, 0x00, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::vector<Run> kApp = {{0x08000000, {1, 2, 3, 4}}, {0x08010000, {5, 6}}, {0x1FFFC000, kOptionBytes}};

constexpr const char* kFlash = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";
constexpr const char* kOption = "\"@Option Bytes /0x1FFFC000/01*016 e\"";

// A folder with app.hex (flash and option bytes), fw.hex (flash only),
// ob.hex (option bytes only) and an output file that must survive a refusal.
struct Files {
    TempDir dir;
    Files() {
        testutil::WriteFile(dir / "app.hex", HexOf(kApp));
        testutil::WriteFile(dir / "fw.hex", HexOf({kApp[0], kApp[1]}));
        testutil::WriteFile(dir / "ob.hex", HexOf({kApp[2]}));
        testutil::WriteFile(dir / "stray.hex", HexOf({{0x20000000, {1, 2, 3, 4}}}));
        testutil::WriteFile(dir / "edge.hex", HexOf({{0x080003FE, {1, 2, 3, 4}}}));
        testutil::WriteFile(dir / "out.dfu", "old");
    }
};

struct Refusal {
    const char* label;
    std::vector<std::string> args;
    std::string message;  // the first line on standard error
    bool usage_hint;      // followed by the "Try 'fwpack --help'" line
};

class FwpackLayoutRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(FwpackLayoutRefusal, NamesTheProblemAndKeepsTheOutput) {
    const Refusal& r = GetParam();
    Files files;
    std::vector<std::string> args = r.args;
    const RunResult run = Fwpack(files.dir, args);
    EXPECT_EQ(run.status, kTarget.error_status);
    std::string expected = Line("fwpack: " + r.message);
    if (r.usage_hint) expected += Line("Try 'fwpack --help' for more information.");
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(testutil::ReadFile(files.dir / "out.dfu"), "old");
}

const char kRegion[] = "0=@A/0x08000000/1*1Kg";

INSTANTIATE_TEST_SUITE_P(
    Table, FwpackLayoutRefusal,
    ::testing::Values(
        Refusal{"option_bytes_in_the_application",
                {"--layout", kFlash, "app.hex", "-o", "out.dfu"},
                "target 0 (alternate setting 0), element 2: the byte at 0x1FFFC000 is not writeable: \"Internal "
                "Flash\" has no memory there",
                false},
        // A layout without ALT= belongs to the target opened last.
        Refusal{"read_only_region",
                {"--layout", kFlash, "fw.hex", "--target", "ob.hex", "--layout", "@Option Bytes /0x1FFFC000/01*016 a",
                 "-o", "out.dfu"},
                "target 1 (alternate setting 1), element 0: the byte at 0x1FFFC000 is not writeable: it lies in the "
                "segment 0x1FFFC000-0x1FFFC00F of \"Option Bytes\" (1 page of 16 bytes): readable, not writeable",
                false},
        Refusal{"split_no_layout",
                {"--split", "--layout", kRegion, "stray.hex", "-o", "out.dfu"},
                "--split: the element at 0x20000000 (4 bytes) lies in no layout",
                false},
        Refusal{"split_across_two",
                {"--split", "--layout", kRegion, "--layout", "1=@B/0x08000400/1*1Kg", "edge.hex", "-o", "out.dfu"},
                "--split: the element at 0x080003FE (4 bytes) lies across the layouts of alternate settings 0 and 1",
                false},
        Refusal{"split_partly_outside",
                {"--split", "--layout", kRegion, "edge.hex", "-o", "out.dfu"},
                "--split: the element at 0x080003FE (4 bytes) lies in no layout from its byte at 0x08000400 on",
                false},
        Refusal{"grammar",
                {"--layout", "1=@F/0x/1*1Kg", "fw.hex", "-o", "out.dfu"},
                "--layout: character 8 ('/'): expected a hexadecimal digit",
                true},
        Refusal{"two_layouts_one_setting",
                {"--layout", kRegion, "--layout", "0=@B/0x0/1*1Kg", "fw.hex", "-o", "out.dfu"},
                "--layout: two layouts for alternate setting 0; each has one",
                true},
        Refusal{"split_with_name",
                {"--split", "--layout", kRegion, "-n", "x", "fw.hex", "-o", "out.dfu"},
                "--split names the targets and gives their alternate settings from the layouts: -n does not go "
                "with it",
                true},
        Refusal{"split_without_layouts",
                {"--split", "fw.hex", "-o", "out.dfu"},
                "--split puts each element into the target whose layout holds it: give the layouts (--layout "
                "ALT=TEXT)",
                true},
        Refusal{"split_to_hex",
                {"--split", "--layout", kRegion, "-f", "hex", "fw.hex", "-o", "out.dfu"},
                "-f hex writes one target: --split does not go with it",
                true},
        Refusal{"json_without_info",
                {"--json", "fw.hex", "-o", "out.dfu"},
                "--json lists what --info finds: it goes with --info only",
                true},
        Refusal{"info_with_split",
                {"--info", "fw.hex", "--split"},
                "--info reads one file and writes nothing: --split does not go with it",
                true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FwpackLayout, SplitsAnApplicationWithItsOptionBytesIntoTwoTargets) {
    Files files;
    const RunResult run = Fwpack(files.dir, {"-d", "1209:5af0", "--split", "--layout", std::string("1=") + kOption,
                                             "--layout", std::string("0=") + kFlash, "app.hex"});
    ASSERT_EQ(run.status, kTarget.success_status) << run.err;
    EXPECT_EQ(run.err, Line("fwpack success for [app.hex] !"));
    const auto expected = DfuLayout({{0, "Internal Flash", {{0x08000000, {1, 2, 3, 4}}, {0x08010000, {5, 6}}}},
                                     {1, "Option Bytes", {{0x1FFFC000, kOptionBytes}}}},
                                    0x1209, 0x5AF0, 0);
    EXPECT_EQ(testutil::ReadBytes(files.dir / "app.dfu"), expected);

    // The file passes the same check in --info, which lists what each element erases.
    const RunResult info = Fwpack(files.dir, {"--info", "app.dfu", "--layout", std::string("0=") + kFlash, "--layout",
                                              std::string("1=") + kOption});
    EXPECT_EQ(info.status, kTarget.success_status) << info.err;
    const std::string tail =
        Line("total: 2 targets, 3 elements, 22 bytes") + Line("target 0, element 0: erases 1 page of 16384 bytes") +
        Line("target 0, element 1: erases 1 page of 65536 bytes") +
        Line("Internal Flash: 6 of 1048576 bytes (0.0 %), 2 of 12 pages erased") +
        Line("target 1, element 0: erases no page") +
        Line("Option Bytes: 16 of 16 bytes (100.0 %), 0 of 1 page erased") +
        Line(
            "warning: target 0 (alternate setting 0), element 0 covers the page at 0x08000000 "
            "(16384 bytes) only in part: the rest of it is erased too") +
        Line(
            "warning: target 0 (alternate setting 0), element 1 covers the page at 0x08010000 "
            "(65536 bytes) only in part: the rest of it is erased too");
    ASSERT_GE(info.out.size(), tail.size());
    EXPECT_EQ(info.out.substr(info.out.size() - tail.size()), tail) << info.out;
}

TEST(FwpackLayout, InfoRefusesAFileThatWritesOutsideTheLayout) {
    Files files;
    const RunResult info = Fwpack(files.dir, {"--info", "app.hex", "--layout", kFlash});
    EXPECT_EQ(info.status, kTarget.error_status);
    EXPECT_EQ(info.err, Line("fwpack: app.hex: target 0 (alternate setting 0), element 2: the byte at 0x1FFFC000 is "
                             "not writeable: \"Internal Flash\" has no memory there"));
    EXPECT_EQ(info.out.find("app.hex: Intel HEX file"), 0u) << info.out;
}

TEST(FwpackLayout, AConversionWarnsOfATargetWithoutLayout) {
    Files files;
    const RunResult run = Fwpack(files.dir, {"--layout", kFlash, "fw.hex", "--target", "ob.hex", "-o", "two.dfu"});
    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.err, Line("fwpack: warning: target 1 (alternate setting 1) has no layout, while other alternate "
                            "settings have one: its elements are not checked") +
                           Line("fwpack success for [fw.hex] !"));
}

struct WarningCase {
    const char* label;
    std::vector<testutil::LayoutTarget> targets;
    uint16_t vendor, product;
    std::vector<std::string> extra_args;
    std::string warning;
};

class FwpackInfoWarning : public ::testing::TestWithParam<WarningCase> {};

TEST_P(FwpackInfoWarning, IsTheListingsOnlyWarningAndLeavesTheExitStatus) {
    const WarningCase& c = GetParam();
    TempDir dir;
    const auto bytes = DfuLayout(c.targets, c.vendor, c.product, 0);
    testutil::WriteFile(dir / "f.dfu", std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> args = {"--info", "f.dfu"};
    args.insert(args.end(), c.extra_args.begin(), c.extra_args.end());
    const RunResult run = Fwpack(dir, args);
    EXPECT_EQ(run.status, kTarget.success_status) << run.err;
    const std::size_t at = run.out.find("warning: ");
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(at), Line("warning: " + c.warning));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FwpackInfoWarning,
    ::testing::Values(
        WarningCase{
            "no_elements", {{0, "A", {}}}, 0x1209, 0x5AF0, {}, "target 0 (alternate setting 0) has no elements"},
        WarningCase{"empty_element",
                    {{0, "A", {{0x08000000, {}}}}},
                    0x1209,
                    0x5AF0,
                    {},
                    "target 0 (alternate setting 0), element 0 has 0 bytes"},
        WarningCase{"overlap",
                    {{0, "A", {{0x08000000, {1, 2, 3, 4}}, {0x08000002, {5, 6}}}}},
                    0x1209,
                    0x5AF0,
                    {},
                    "target 0 (alternate setting 0): elements 0 and 1 overlap from 0x08000002: a device keeps the "
                    "bytes of the later one"},
        WarningCase{"same_alternate",
                    {{2, "A", {{0x08000000, {1}}}}, {2, "B", {{0x08000100, {2}}}}},
                    0x1209,
                    0x5AF0,
                    {},
                    "targets 0 and 1 both have alternate setting 2"},
        WarningCase{"default_ids",
                    {{0, "A", {{0x08000000, {1}}}}},
                    0x0483,
                    0x0000,
                    {},
                    "the suffix holds the default IDs 0483:0000: a device in DFU mode reports its own product ID, "
                    "and loaders compare the file's IDs with the device's (set them with -d VID:PID)"},
        WarningCase{"no_layout",
                    {{0, "A", {{0x08000000, {1}}}}, {1, "B", {{0x08000100, {2}}}}},
                    0x1209,
                    0x5AF0,
                    {"--layout", "0=@F/0x08000000/256*1Bg"},
                    "target 1 (alternate setting 1) has no layout, while other alternate settings have one: its "
                    "elements are not checked"}),
    [](const auto& info) { return std::string(info.param.label); });

// The document, read by Python: every name and type, and the hashes against
// hashlib and zlib over the bytes the script itself holds.
constexpr const char kJsonCheck[] = R"(
import hashlib, json, sys, zlib
doc = json.load(open(sys.argv[1], encoding="utf-8"))
data = open(sys.argv[2], "rb").read()
elements = [bytes([1, 2, 3, 4]), bytes([5, 6]), bytes([0xAA] * 3)]
assert doc["schema"] == 2 and doc["file"] == "f.dfu" and doc["kind"] == "dfuse", doc
assert doc["sound"] is False, doc
assert doc["problem"].startswith("target 1 (alternate setting 1), element 0: the byte at 0x20000000"), doc
assert doc["prefix"] == {"version": 1, "image_size": len(data) - 16, "counts_suffix": False}, doc
assert doc["suffix"] == {"vendor": 0x1209, "product": 0x5AF0, "release": 0x0100, "dfu_version": 0x011A,
                         "crc": int.from_bytes(data[-4:], "little"), "crc_ok": True}, doc
t = doc["targets"]
assert [x["alternate"] for x in t] == [0, 1] and t[0]["name"] == "Flash\ufffd\u00e9" and t[1]["name"] is None, t
listed = [e for x in t for e in x["elements"]]
assert [e["address"] for e in listed] == [0x08000000, 0x08000100, 0x20000000], listed
for e, b in zip(listed, elements):
    assert e["size"] == len(b) and e["crc32"] == zlib.crc32(b), e
    assert e["sha256"] == hashlib.sha256(b).hexdigest(), e
assert doc["total_size"] == 9 and doc["sha256"] == hashlib.sha256(b"".join(elements)).hexdigest(), doc
assert doc["warnings"] == [], doc
assert doc["layout"] == [{"alternate": 0, "name": "Flash", "ok": True, "violation": None},
                         {"alternate": 1, "name": "RAM", "ok": False, "violation": doc["problem"]}], doc
print("ok")
)";

TEST(FwpackInfoJson, IsOneDocumentThatPythonReads) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    // A name that is not UTF-8 (0xFF) before a UTF-8 "é".
    const auto bytes =
        DfuLayout({{0, std::string("Flash\xFF\xC3\xA9"), {{0x08000000, {1, 2, 3, 4}}, {0x08000100, {5, 6}}}},
                   {1, std::nullopt, {{0x20000000, {0xAA, 0xAA, 0xAA}}}}},
                  0x1209, 0x5AF0, 0x0100);
    testutil::WriteFile(dir / "f.dfu", std::string(bytes.begin(), bytes.end()));
    testutil::WriteFile(dir / "check.py", kJsonCheck);
    const RunResult run = Fwpack(dir, {"--info", "f.dfu", "--json", "--layout", "0=@ Flash /0x08000000/1024*1Bg",
                                       "--layout", "1=@RAM/0x20000000/1*1Ka"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack: f.dfu: " + std::string("target 1 (alternate setting 1), element 0: the byte at "
                                                            "0x20000000 is not writeable: it lies in the segment "
                                                            "0x20000000-0x200003FF of \"RAM\" (1 page of 1024 "
                                                            "bytes): readable, not writeable")));
    testutil::WriteFile(dir / "out.json", run.out);
    const RunResult checked = testutil::Run("python3 check.py out.json f.dfu", dir.path().string());
    EXPECT_EQ(checked.status, 0) << checked.err << run.out;
    EXPECT_EQ(checked.out, "ok\n");
}

// Where no image could be made, the document names the cause and has no digest.
struct UnreadableCase {
    const char* label;
    const char* file;     // written into the folder when `content` is not null
    const char* content;
    std::string problem;  // the document's "problem"
    std::string err;      // standard error
};

class FwpackInfoJsonProblem : public testing::TestWithParam<UnreadableCase> {};

TEST_P(FwpackInfoJsonProblem, NamesTheCauseAndNoDigest) {
    const UnreadableCase& c = GetParam();
    TempDir dir;
    if (c.content) testutil::WriteFile(dir / c.file, c.content);
    const RunResult run = Fwpack(dir, {"--info", c.file, "--json"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_NE(run.out.find("\"schema\": 2,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"problem\": \"" + c.problem + "\","), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"sha256\": null,"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FwpackInfoJsonProblem,
    testing::Values(
        UnreadableCase{"bad_checksum", "bad.hex", ":0100000001FF\n", "line 1: Bad hexadecimal checksum!",
                       Line("FILE : line 1: Bad hexadecimal checksum!") +
                           Line("fwpack Unable to create image from this file [bad.hex] !")},
        UnreadableCase{"missing_hex", "missing.hex", nullptr, "no such file",
                       Line("fwpack: missing.hex: no such file") +
                           Line("fwpack Unable to create image from this file [missing.hex] !")},
        UnreadableCase{"missing_dfu", "missing.dfu", nullptr, "no such file",
                       Line("fwpack: missing.dfu: no such file") +
                           Line("fwpack Unable to create image from this file [missing.dfu] !")}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace fwpack_e2e
