// End-to-end tests of the converter with file and folder names in several
// scripts (CJK, Cyrillic, accented Latin) and outside the Basic Multilingual
// Plane: every way a path enters (an input, --add, --target, --info, the
// output, the derived output name, a path beyond 260 characters) and the
// messages that name it. A name must reach the file system and the messages
// exactly as typed, on Windows too, where the system's ANSI code page holds
// few of these characters.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace {

namespace fs = std::filesystem;
using fwpack_e2e::Fwpack;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using fwpack_e2e::Tree;
using testutil::DfuLayout;
using testutil::LayoutTarget;
using testutil::RunResult;
using testutil::TempDir;
using Bytes = std::vector<uint8_t>;

// Element 0x08000000: 01 02 03 04; checksums worked out by hand.
const char kFwHex[] = ":020000040800F2\n:0400000001020304F2\n:00000001FF\n";
// Element 0x07FFFFFE: AA BB.
const char kLowHex[] = ":0200000407FFF4\n:02FFFE00AABB9C\n:00000001FF\n";
const LayoutTarget kFwTarget = {0, "ST...", {{0x08000000, {1, 2, 3, 4}}}};

// Three folders of 84 characters (156 bytes of UTF-8 each, within a name's
// 255): with the test directory in front, a path of over 260 characters.
const std::string kLongFolder = [] {
    std::string folder;
    for (int i = 0; i < 6; ++i) folder += "папка-каталог-";
    return folder;
}();
const std::string kLongPath = kLongFolder + "/" + kLongFolder + "/" + kLongFolder;

// In arguments and messages, "@" stands for the test directory's absolute
// path as the program under test sees it.
struct NameCase {
    std::string label;
    std::map<std::string, std::string> files;  // relative path: content
    std::vector<std::string> args;
    int status;
    std::string err;     // lines, each "\n"-ended
    std::string out;     // lines, each "\n"-ended
    std::string output;  // the file written, relative; empty: none
    Bytes expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

std::vector<NameCase> NameCases() {
    const Bytes fw = DfuLayout({kFwTarget}, 0x0483, 0, 0);
    return {
        {"output_in_a_cyrillic_folder",
         {{"папка/прошивка.hex", kFwHex}, {"выход/.keep", ""}},
         {"папка/прошивка.hex", "выход/образ.bin"},
         0,
         "fwpack success for [папка/прошивка.hex] !\n",
         "",
         "выход/образ.dfu",
         fw},
        {"derived_output_in_a_cjk_folder",
         {{"固件/固件 v1.2.hex", kFwHex}},
         {"固件/固件 v1.2.hex"},
         0,
         "fwpack success for [固件/固件 v1.2.hex] !\n",
         "",
         "固件/固件 v1.dfu",
         fw},
        {"added_input_with_accents_and_an_emoji",
         {{"crème/fw-é.hex", kFwHex}, {"crème/ñ-😀.hex", kLowHex}},
         {"crème/fw-é.hex", "--add", "crème/ñ-😀.hex", "crème/brûlée"},
         0,
         "fwpack success for [crème/fw-é.hex] !\n",
         "",
         "crème/brûlée.dfu",
         DfuLayout({{0, "ST...", {{0x07FFFFFE, {0xAA, 0xBB}}, {0x08000000, {1, 2, 3, 4}}}}}, 0x0483, 0, 0)},
        {"second_target_in_another_script",
         {{"目录/a.hex", kFwHex}, {"ядро/б.hex", kLowHex}},
         {"目录/a.hex", "--target", "ядро/б.hex", "out"},
         0,
         "fwpack success for [目录/a.hex] !\n",
         "",
         "out.dfu",
         DfuLayout({kFwTarget, {1, "ST...", {{0x07FFFFFE, {0xAA, 0xBB}}}}}, 0x0483, 0, 0)},
        {"info_names_the_file",
         {{"😀/固件-é.hex", kFwHex}},
         {"--info", "😀/固件-é.hex"},
         0,
         "",
         "😀/固件-é.hex: Intel HEX file\ntarget 0: 1 element, 4 bytes\n"
         "  element 0: 0x08000000-0x08000003, 4 bytes\ntotal: 1 target, 1 element, 4 bytes\n",
         "",
         {}},
        {"output_that_names_the_input_is_refused",
         {{"папка/固件.hex", kFwHex}},
         {"-f", "hex", "папка/固件.hex"},
         1,
         "fwpack: the output папка/固件.hex is the input папка/固件.hex; writing it would destroy the input\n",
         "",
         "",
         {}},
        {"absolute_path_beyond_260_characters",
         {{kLongPath + "/固件.hex", kFwHex}},
         {"@/" + kLongPath + "/固件.hex"},
         0,
         "fwpack success for [@/" + kLongPath + "/固件.hex] !\n",
         "",
         kLongPath + "/固件.dfu",
         fw},
    };
}

// `text` with "@" replaced by `root` and each "\n" by the line end of the
// program's streams.
std::string Placed(const std::string& text, const std::string& root) {
    std::string out;
    for (char c : text) {
        if (c == '@')
            out += root;
        else if (c == '\n')
            out += kTarget.line_end;
        else
            out += c;
    }
    return out;
}

// `path` and every folder on the way to it.
void AddWithFolders(std::set<std::string>& tree, const std::string& path) {
    for (fs::path p = path; !p.empty(); p = p.parent_path()) tree.insert(p.generic_string());
}

class FwpackNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FwpackNames, ReachTheFilesAndTheMessagesAsTyped) {
    const NameCase& c = GetParam();
    TempDir dir;
    const std::string canonical = fs::canonical(dir.path()).string();
    const std::string root = testutil::TargetIsWindows() ? testutil::WinePath(canonical) : canonical;
    std::set<std::string> expected_tree;
    for (const auto& [path, content] : c.files) {
        fs::create_directories((dir.path() / path).parent_path());
        testutil::WriteFile(dir / path, content);
        AddWithFolders(expected_tree, path);
    }
    std::vector<std::string> args;
    for (const auto& arg : c.args) args.push_back(Placed(arg, root));

    const RunResult run = Fwpack(dir, args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, Placed(c.err, root));
    EXPECT_EQ(run.out, Placed(c.out, root));
    if (!c.output.empty()) {
        AddWithFolders(expected_tree, c.output);
        EXPECT_EQ(testutil::ReadBytes(dir / c.output), c.expected);
    }
    EXPECT_EQ(Tree(dir), expected_tree);
    for (const auto& [path, content] : c.files) EXPECT_EQ(testutil::ReadFile(dir / path), content) << path;
}

INSTANTIATE_TEST_SUITE_P(Table, FwpackNames, ::testing::ValuesIn(NameCases()),
                         [](const auto& info) { return info.param.label; });

}  // namespace
