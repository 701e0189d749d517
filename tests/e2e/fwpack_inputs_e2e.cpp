// End-to-end tests of the converter's inputs and outputs from the world
// outside: ELF files straight from a compiler, files in formats whose names do
// not tell them (-I), standard input and output, an output named exactly
// (-o), and DfuSe files whose image size counts their suffix.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fwpack_run.h"

namespace fwpack_e2e {
namespace {

using testutil::HaveTool;
using testutil::RunResult;
using testutil::TempDir;

// The memory that an Intel HEX text describes, byte by byte: read here on
// its own, so that the converter's reader is not its own judge.
std::map<uint32_t, uint8_t> MemoryOfHex(const std::string& text) {
    std::map<uint32_t, uint8_t> memory;
    uint32_t base = 0;
    std::size_t at = 0;
    while ((at = text.find(':', at)) != std::string::npos) {
        auto byte = [&](std::size_t i) {
            return static_cast<uint8_t>(std::stoul(text.substr(at + 1 + 2 * i, 2), nullptr, 16));
        };
        const unsigned count = byte(0);
        const uint32_t offset = (uint32_t{byte(1)} << 8) | byte(2);
        const unsigned type = byte(3);
        if (type == 0) {
            for (unsigned i = 0; i < count; ++i) memory[base + offset + i] = byte(4 + i);
        } else if (type == 2) {
            base = ((uint32_t{byte(4)} << 8) | byte(5)) << 4;
        } else if (type == 4) {
            base = ((uint32_t{byte(4)} << 8) | byte(5)) << 16;
        }
        ++at;
    }
    return memory;
}

std::string DataDir() { return FWPACK_TEST_DATA "/elf"; }

// A tiny firmware program built by a real compiler with a linker script that
// loads its initialised data into flash right behind its code, while it runs
// in RAM: the converter must place it where objcopy's Intel HEX places it.
struct CompilerCase {
    const char* label;
    const char* compiler;
    const char* objcopy;
    const char* flags;
};

class FwpackElfOracle : public ::testing::TestWithParam<CompilerCase> {};

TEST_P(FwpackElfOracle, LoadsWhatObjcopyLoads) {
    const CompilerCase& c = GetParam();
    if (!HaveTool(c.compiler) || !HaveTool(c.objcopy)) GTEST_SKIP() << c.compiler << " or " << c.objcopy << " missing";
    TempDir dir;
    const std::string cwd = dir.path().string();
    const RunResult built = testutil::Run(std::string(c.compiler) + " " + c.flags + " -nostdlib -T " +
                                              testutil::ShellQuote(DataDir() + "/firmware.ld") + " " +
                                              testutil::ShellQuote(DataDir() + "/firmware.c") + " -o fw.axf",
                                          cwd);
    ASSERT_EQ(built.status, 0) << built.err;
    ASSERT_EQ(testutil::Run(std::string(c.objcopy) + " -O ihex fw.axf oracle.hex", cwd).status, 0);

    const RunResult run = Fwpack(dir, {"-f", "hex", "fw.axf", "-o", "out.hex"});
    ASSERT_EQ(run.status, kTarget.success_status) << run.err;
    const auto expected = MemoryOfHex(testutil::ReadFile(dir / "oracle.hex"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(MemoryOfHex(testutil::ReadFile(dir / "out.hex")), expected);
    // Code and the data loaded behind it make one element.
    const RunResult info = Fwpack(dir, {"--info", "fw.axf"});
    EXPECT_EQ(info.status, kTarget.success_status) << info.err;
    EXPECT_NE(info.out.find("fw.axf: ELF file"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("target 0: 1 element,"), std::string::npos) << info.out;
}

INSTANTIATE_TEST_SUITE_P(
    Builds, FwpackElfOracle,
    ::testing::Values(CompilerCase{"little_endian_32", "arm-none-eabi-gcc", "arm-none-eabi-objcopy",
                                   "-Os -mcpu=cortex-m4 -mthumb"},
                      CompilerCase{"big_endian_32", "arm-none-eabi-gcc", "arm-none-eabi-objcopy",
                                   "-Os -mcpu=cortex-m3 -mthumb -mbig-endian"},
                      CompilerCase{"host_64", "gcc", "objcopy",
                                   "-Os -ffreestanding -fno-pic -no-pie -static -fno-asynchronous-unwind-tables "
                                   "-Wl,--build-id=none"}),
    [](const auto& info) { return std::string(info.param.label); });

// ELF files that are refused: each problem with its one line.
struct ElfProblem {
    const char* label;
    std::vector<uint8_t> file;
    const char* problem;
};

// A little-endian ELF32 header with `count` program headers at offset 52.
std::vector<uint8_t> Elf32(uint16_t count) {
    std::vector<uint8_t> file = {0x7F, 'E', 'L', 'F', 1, 1, 1};
    file.resize(52, 0);
    file[16] = 2;   // an executable
    file[28] = 52;  // program headers right behind
    file[42] = 32;  // of 32 bytes each
    file[44] = static_cast<uint8_t>(count);
    return file;
}

// Appends a program header: type, file offset, physical address, file size.
void Segment(std::vector<uint8_t>& file, uint32_t type, uint32_t offset, uint32_t paddr, uint32_t filesz) {
    const uint32_t fields[8] = {type, offset, paddr, paddr, filesz, filesz, 5, 4};
    for (uint32_t field : fields) {
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(field >> (8 * i)));
    }
}

std::vector<ElfProblem> ElfProblems() {
    std::vector<ElfProblem> cases;
    cases.push_back({"not_elf", {':', '0', '0'}, "not an ELF file: it does not begin with 0x7F \"ELF\""});
    auto cut = Elf32(0);
    cut.resize(40);
    cases.push_back({"header_cut_off", cut, "the ELF header is cut off: the file has 40 of its 52 bytes"});
    cases.push_back({"relocatable", Elf32(0),
                     "no loadable segment with bytes in the file: an object file that was not linked, or one without "
                     "a program"});
    auto table = Elf32(2);
    Segment(table, 1, 0, 0x1000, 4);
    cases.push_back({"table_outside", table,
                     "the program header table (2 entries of 32 bytes at offset 52) runs past the end of the file "
                     "(84 bytes)"});
    auto outside = Elf32(1);
    Segment(outside, 1, 80, 0x1000, 8);
    outside.resize(84, 0xAA);
    cases.push_back(
        {"segment_outside", outside, "segment 0 (8 bytes at offset 80) runs past the end of the file (84 bytes)"});
    auto high = Elf32(1);
    Segment(high, 1, 84, 0xFFFFFFFE, 4);
    high.resize(88, 0xAA);
    cases.push_back({"past_4_gib", high, "segment 0 (4 bytes at 0xFFFFFFFE) runs past address 0xFFFFFFFF"});
    auto overlap = Elf32(2);
    Segment(overlap, 1, 116, 0x1000, 8);
    Segment(overlap, 1, 116, 0x1004, 8);
    overlap.resize(124, 0xAA);
    cases.push_back({"overlap", overlap, "segments 0 and 1 overlap at 0x00001004"});
    return cases;
}

class FwpackElfProblem : public ::testing::TestWithParam<ElfProblem> {};

TEST_P(FwpackElfProblem, IsRefusedWithOneLine) {
    TempDir dir;
    const ElfProblem& c = GetParam();
    testutil::WriteFile(dir / "fw.elf", std::string(c.file.begin(), c.file.end()));
    const RunResult run = Fwpack(dir, {"fw.elf"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line(std::string("fwpack: fw.elf: ") + c.problem) +
                           Line("fwpack Unable to create image from this file [fw.elf] !"));
    EXPECT_FALSE(testutil::FileExists(dir / "fw.dfu"));
}

INSTANTIATE_TEST_SUITE_P(Files, FwpackElfProblem, ::testing::ValuesIn(ElfProblems()),
                         [](const auto& info) { return std::string(info.param.label); });

// One segment's bytes, loaded at its physical address; a second segment
// without file bytes (zeroed data) adds nothing.
TEST(FwpackElf, LoadsFileBytesAtThePhysicalAddress) {
    TempDir dir;
    auto file = Elf32(2);
    Segment(file, 1, 116, 0x08000010, 3);
    Segment(file, 1, 116, 0x20000000, 0);
    file.insert(file.end(), {0x11, 0x22, 0x33});
    testutil::WriteFile(dir / "fw.ELF", std::string(file.begin(), file.end()));
    const RunResult run = Fwpack(dir, {"-f", "hex", "fw.ELF", "-o", "out.hex"});
    ASSERT_EQ(run.status, kTarget.success_status) << run.err;
    EXPECT_EQ(MemoryOfHex(testutil::ReadFile(dir / "out.hex")),
              (std::map<uint32_t, uint8_t>{{0x08000010, 0x11}, {0x08000011, 0x22}, {0x08000012, 0x33}}));
}

// -I reads inputs whose names say no format; known names go by their own.
struct FormatCase {
    const char* label;
    std::vector<std::string> args;
    std::map<uint32_t, uint8_t> memory;  // of out.hex
};

class FwpackInputFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FwpackInputFormat, ReadsTheNamedFormat) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.s19", "S1050010AABB85\n");
    testutil::WriteFile(dir / "boot.ihx", ":020000001122CB\n:00000001FF\n");
    testutil::WriteFile(dir / "boot.hex", ":020000001122CB\n:00000001FF\n");
    testutil::WriteFile(dir / "fw.img", "\x01\x02");
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), {"-f", "hex", "-o", "out.hex"});
    const RunResult run = Fwpack(dir, args);
    ASSERT_EQ(run.status, kTarget.success_status) << run.err;
    EXPECT_EQ(MemoryOfHex(testutil::ReadFile(dir / "out.hex")), GetParam().memory);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FwpackInputFormat,
    ::testing::Values(FormatCase{"srec_before", {"-I", "srec", "fw.s19"}, {{0x10, 0xAA}, {0x11, 0xBB}}},
                      FormatCase{"srec_after_with_known_add",
                                 {"fw.s19", "-I", "srec", "--add", "boot.hex"},
                                 {{0, 0x11}, {1, 0x22}, {0x10, 0xAA}, {0x11, 0xBB}}},
                      FormatCase{"long_form", {"--input-format=hex", "boot.ihx"}, {{0, 0x11}, {1, 0x22}}},
                      FormatCase{
                          "bin_takes_its_base", {"-I", "bin", "fw.img", "-b", "0x100"}, {{0x100, 1}, {0x101, 2}}}),
    [](const auto& info) { return std::string(info.param.label); });

// Standard input and output in the place of files, and an output named as
// it is: the same bytes as through files.
TEST(FwpackStreams, StandardInputAndOutputCarryTheSameBytesAsFiles) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", ":0400100001020304E2\n:00000001FF\n");
    const std::string command = std::getenv("FWPACK_CMD");
    ASSERT_EQ(Fwpack(dir, {"fw.hex", "-o", "app-v1.2.3.dfu"}).status, kTarget.success_status);
    const std::string file = testutil::ReadFile(dir / "app-v1.2.3.dfu");
    EXPECT_EQ(file.size(), 313u);

    const RunResult out = Fwpack(dir, {"fw.hex", "-o", "-"});
    EXPECT_EQ(out.status, kTarget.success_status) << out.err;
    EXPECT_EQ(out.err, Line("fwpack success for [fw.hex] !"));
    EXPECT_EQ(out.out, file);

    // Braces, so that the input comes from the file rather than from what
    // the test runner gives every command.
    const RunResult in = testutil::Run("{ " + command + " -I hex - -o stdin.dfu <fw.hex; }", dir.path().string());
    EXPECT_EQ(in.status, kTarget.success_status) << in.err;
    EXPECT_EQ(testutil::ReadFile(dir / "stdin.dfu"), file);

    const RunResult hex = testutil::Run(command + " -f hex fw.hex -o -", dir.path().string());
    EXPECT_EQ(hex.out, Line(":020000040000FA") + Line(":0400100001020304E2") + Line(":00000001FF"));
}

// Command lines that name an output or standard input wrongly write nothing.
struct RefusedCase {
    const char* label;
    std::vector<std::string> args;
    const char* error;  // the line behind "fwpack: "
};

class FwpackRefusedStreams : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(FwpackRefusedStreams, WriteNothing) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", ":0400100001020304E2\n:00000001FF\n");
    const RunResult run = Fwpack(dir, GetParam().args);
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              Line(std::string("fwpack: ") + GetParam().error) + Line("Try 'fwpack --help' for more information."));
    EXPECT_EQ(Tree(dir), std::set<std::string>{"fw.hex"});
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, FwpackRefusedStreams,
    ::testing::Values(RefusedCase{"output_twice",
                                  {"fw.hex", "a.dfu", "-o", "b.dfu"},
                                  "-o b.dfu names the output, so 'a.dfu' cannot name it too"},
                      RefusedCase{"stdin_without_format",
                                  {"-", "-o", "out.dfu"},
                                  "standard input (-) has no name that tells its format: give it with -I FORMAT"},
                      RefusedCase{
                          "stdin_without_output",
                          {"-I", "hex", "-"},
                          "standard input (-) has no name to derive the output's from: name the output (-o FILE)"},
                      RefusedCase{"stdin_twice",
                                  {"-I", "hex", "-", "--add", "-", "-o", "out.dfu"},
                                  "standard input (-) can be read only once"},
                      RefusedCase{"unknown_format",
                                  {"-I", "ihex", "fw.hex"},
                                  "-I: 'ihex' is not an input format (hex, srec, bin, dfu, elf or uf2)"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FwpackStreams, ExactOutputThatNamesTheInputIsRefused) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", ":0400100001020304E2\n:00000001FF\n");
    const RunResult run = Fwpack(dir, {"-f", "hex", "fw.hex", "-o", "fw.hex"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack: the output fw.hex is the input fw.hex; writing it would destroy the input"));
    EXPECT_EQ(testutil::ReadFile(dir / "fw.hex"), ":0400100001020304E2\n:00000001FF\n");
}

// A reader that stops reading early: the output error names standard output.
TEST(FwpackStreams, ClosedPipeIsAnOutputError) {
    if (testutil::TargetIsWindows()) GTEST_SKIP() << "the emulator keeps the pipe's other end";
    TempDir dir;
    testutil::WriteFile(dir / "big.bin", std::string(1 << 20, 'x'));
    const std::string command = std::getenv("FWPACK_CMD");
    const RunResult run =
        testutil::Run("{ { " + command + " -f hex big.bin -b 0 -o - ; echo status $? >&2; } | head -c 10 >/dev/null; }",
                      dir.path().string());
    EXPECT_EQ(run.err, Line("fwpack output file error [-] !") + "status 1\n");
}

// A file whose image size field counts its suffix too is read like any other.
TEST(FwpackPeerDfu, ImageSizeThatCountsTheSuffixIsAccepted) {
    if (!HaveTool("dfuse-pack")) GTEST_SKIP() << "dfuse-pack is not installed";
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 4373; ++i) bytes += static_cast<char>(i * 7);
    testutil::WriteFile(dir / "app.bin", bytes);
    ASSERT_EQ(testutil::Run("dfuse-pack -b 0x08000000:app.bin -D 0x1209:0x5af0 peer.dfu", dir.path().string()).status,
              0);
    const RunResult info = Fwpack(dir, {"--info", "peer.dfu"});
    EXPECT_EQ(info.status, kTarget.success_status) << info.err;
    EXPECT_NE(info.out.find("image size 4682 (agrees with the whole file: it counts the 16-byte suffix too)"),
              std::string::npos)
        << info.out;
    const RunResult run = Fwpack(dir, {"-f", "hex", "peer.dfu", "-o", "out.hex"});
    ASSERT_EQ(run.status, kTarget.success_status) << run.err;
    const auto memory = MemoryOfHex(testutil::ReadFile(dir / "out.hex"));
    ASSERT_EQ(memory.size(), bytes.size());
    EXPECT_EQ(memory.begin()->first, 0x08000000u);
    EXPECT_EQ(static_cast<char>(memory.rbegin()->second), bytes.back());
}

}  // namespace
}  // namespace fwpack_e2e
