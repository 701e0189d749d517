// End-to-end tests of the byte outputs (-f bin, -f dfu-plain, -f uf2) and of
// reading plain DFU files and UF2 files. Expected bytes come from the images
// the tests lay out themselves, from the suffix tool and objcopy where they
// are installed, and from a UF2 reader and block builder written here from
// the format alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fwpack_run.h"

namespace {

using fwpack_e2e::Fwpack;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using fwpack_e2e::Tree;
using testutil::HaveTool;
using testutil::RunResult;
using testutil::TempDir;
using Bytes = std::vector<uint8_t>;

struct Region {
    uint32_t address;
    Bytes bytes;
};

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
    return bytes;
}

std::string Hex2(uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", unsigned{b});
    return text;
}

// An Intel HEX file of the regions, in their order: data records of up to 16
// bytes that never cross a 64 KiB boundary, an extended linear address
// record before each region and at each boundary.
std::string HexOf(const std::vector<Region>& regions) {
    std::string text;
    const auto record = [&text](std::vector<uint8_t> fields) {
        unsigned sum = 0;
        text += ':';
        for (uint8_t b : fields) sum += b, text += Hex2(b);
        text += Hex2(static_cast<uint8_t>(0x100 - (sum & 0xFF))) + "\n";
    };
    for (const Region& r : regions) {
        for (std::size_t i = 0; i < r.bytes.size();) {
            const uint32_t address = r.address + static_cast<uint32_t>(i);
            if (i == 0 || (address & 0xFFFF) == 0) record({2, 0, 0, 4, uint8_t(address >> 24), uint8_t(address >> 16)});
            const std::size_t n = std::min<std::size_t>({16, r.bytes.size() - i, 0x10000 - (address & 0xFFFF)});
            std::vector<uint8_t> fields = {uint8_t(n), uint8_t(address >> 8), uint8_t(address), 0};
            fields.insert(fields.end(), r.bytes.begin() + i, r.bytes.begin() + i + n);
            record(fields);
            i += n;
        }
    }
    record({0, 0, 0, 1});
    return text;
}

// The bytes of the regions from the lowest to the highest address, the gaps
// `pad`; a later region's bytes win.
Bytes Flat(const std::vector<Region>& regions, uint8_t pad) {
    uint64_t low = UINT64_MAX, high = 0;
    for (const Region& r : regions) {
        low = std::min<uint64_t>(low, r.address);
        high = std::max<uint64_t>(high, r.address + r.bytes.size());
    }
    Bytes flat(high - low, pad);
    for (const Region& r : regions) std::copy(r.bytes.begin(), r.bytes.end(), flat.begin() + (r.address - low));
    return flat;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// One UF2 block laid out from the format's description.
Bytes Uf2Block(uint32_t flags, uint32_t address, const Bytes& payload, uint32_t number, uint32_t count,
               uint32_t family) {
    Bytes block(512, 0);
    PutLe32(&block[0], 0x0A324655);
    PutLe32(&block[4], 0x9E5D5157);
    PutLe32(&block[8], flags);
    PutLe32(&block[12], address);
    PutLe32(&block[16], static_cast<uint32_t>(payload.size()));
    PutLe32(&block[20], number);
    PutLe32(&block[24], count);
    PutLe32(&block[28], family);
    std::copy(payload.begin(), payload.end(), block.begin() + 32);
    PutLe32(&block[508], 0x0AB16F30);
    return block;
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What a UF2 file says, read by the format's description alone: each
// address's byte, and the payload address of every block.
struct Uf2Content {
    std::map<uint32_t, uint8_t> bytes;
    std::vector<uint32_t> block_addresses;
    std::string problem;
};

Uf2Content ReadUf2Independently(const Bytes& file, std::optional<uint32_t> family) {
    Uf2Content content;
    if (file.size() % 512 != 0) content.problem = "size";
    const uint32_t count = static_cast<uint32_t>(file.size() / 512);
    for (uint32_t b = 0; b < count && content.problem.empty(); ++b) {
        const uint8_t* block = file.data() + 512 * b;
        if (Le32(block) != 0x0A324655 || Le32(block + 4) != 0x9E5D5157 || Le32(block + 508) != 0x0AB16F30)
            content.problem = "magic";
        if (Le32(block + 16) != 256 || Le32(block + 12) % 256 != 0) content.problem = "payload";
        if (Le32(block + 20) != b || Le32(block + 24) != count) content.problem = "numbering";
        const uint32_t flags = Le32(block + 8);
        if (family ? (flags != 0x2000 || Le32(block + 28) != *family) : (flags != 0 || Le32(block + 28) != 0))
            content.problem = "family";
        for (int i = 256; i < 476; ++i) {
            if (block[32 + i] != 0) content.problem = "unused data bytes";
        }
        content.block_addresses.push_back(Le32(block + 12));
        for (uint32_t i = 0; i < 256; ++i) content.bytes[Le32(block + 12) + i] = block[32 + i];
    }
    return content;
}

// Two regions with a gap, the second of 33 bytes across a page boundary.
std::vector<Region> TwoRegions() { return {{0x08000010, RandomBytes(0x2F3, 1)}, {0x08001FF0, RandomBytes(33, 2)}}; }

void WriteBytes(const std::string& path, const Bytes& bytes) { testutil::WriteFile(path, Text(bytes)); }

// ---------------------------------------------------------------------------
// -f bin and -f dfu-plain

class FwpackBinOutput : public ::testing::TestWithParam<uint8_t> {};

// The bytes from the lowest to the highest address, the gaps the pad byte;
// objcopy's binary output of the same HEX file agrees where it is installed.
TEST_P(FwpackBinOutput, HoldsTheBytesWithTheGapsFilled) {
    const uint8_t pad = GetParam();
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", HexOf(TwoRegions()));
    char pad_text[8];
    std::snprintf(pad_text, sizeof pad_text, "0x%02X", unsigned{pad});
    const RunResult run = Fwpack(dir, {"-f", "bin", "--pad-byte", pad_text, "fw.hex"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, Line("fwpack success for [fw.hex] !"));
    const Bytes written = testutil::ReadBytes(dir / "fw.bin");
    EXPECT_EQ(written, Flat(TwoRegions(), pad));
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy is not installed";
    const RunResult objcopy = testutil::Run(
        std::string("objcopy -I ihex -O binary --gap-fill ") + pad_text + " fw.hex oracle.bin", dir.path().string());
    ASSERT_EQ(objcopy.status, 0) << objcopy.err;
    EXPECT_EQ(written, testutil::ReadBytes(dir / "oracle.bin"));
}

INSTANTIATE_TEST_SUITE_P(PadBytes, FwpackBinOutput, ::testing::Values(uint8_t{0xFF}, uint8_t{0x00}, uint8_t{0xA5}));

// Elements of one input that overlap: the later one's bytes win.
TEST(FwpackBinOutput, TakesTheLaterOfOverlappingElements) {
    TempDir dir;
    const std::vector<Region> regions = {{0x100, Bytes(8, 0x11)}, {0x104, Bytes(8, 0x22)}, {0x0FE, Bytes(4, 0x33)}};
    testutil::WriteFile(dir / "fw.hex", HexOf(regions));
    ASSERT_EQ(Fwpack(dir, {"-f", "bin", "fw.hex"}).status, 0);
    EXPECT_EQ(testutil::ReadBytes(dir / "fw.bin"),
              (Bytes{0x33, 0x33, 0x33, 0x33, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22}));
}

// The suffix tool adds the same suffix to the same bytes, with the IDs given
// or, without them, those of any device; it accepts the file and reads its IDs.
TEST(FwpackPlainDfu, EqualsTheBytesWithTheSuffixToolsSuffix) {
    if (!HaveTool("dfu-suffix")) GTEST_SKIP() << "dfu-suffix is not installed";
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", HexOf(TwoRegions()));
    const Bytes flat = Flat(TwoRegions(), 0xFF);
    struct Case {
        std::vector<std::string> fwpack;
        std::string tool;
        std::string shown;
    };
    const Case cases[] = {
        {{}, "", "Vendor ID:\t0xFFFF"},
        {{"-d", "1209:5af0", "-r", "0102"}, "-v 1209 -p 5af0 -d 0102", "Vendor ID:\t0x1209"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-f", "dfu-plain", "fw.hex"};
        args.insert(args.begin(), c.fwpack.begin(), c.fwpack.end());
        ASSERT_EQ(Fwpack(dir, args).status, 0);
        WriteBytes(dir / "oracle.dfu", flat);
        const RunResult add = testutil::Run("dfu-suffix " + c.tool + " -a oracle.dfu", dir.path().string());
        ASSERT_EQ(add.status, 0) << add.err;
        EXPECT_EQ(testutil::ReadBytes(dir / "fw.dfu"), testutil::ReadBytes(dir / "oracle.dfu")) << c.tool;
        const RunResult check = testutil::Run("dfu-suffix -c fw.dfu", dir.path().string());
        EXPECT_EQ(check.status, 0) << check.err;
        EXPECT_NE(check.out.find(c.shown), std::string::npos) << check.out;
    }
    if (!HaveTool("fwupdtool")) GTEST_SKIP() << "fwupdtool is not installed";
    const RunResult parse = testutil::Run("fwupdtool firmware-parse fw.dfu dfu", dir.path().string());
    EXPECT_EQ(parse.status, 0) << parse.out << parse.err;
}

// A file that the suffix tool made is read at -b's address, listed by
// --info (with -b, with its one element) and written back as it was.
TEST(FwpackPlainDfu, ReadsTheSuffixToolsFileAtTheBaseAddress) {
    if (!HaveTool("dfu-suffix")) GTEST_SKIP() << "dfu-suffix is not installed";
    TempDir dir;
    const Bytes payload = RandomBytes(300, 3);
    WriteBytes(dir / "fw.dfu", payload);
    ASSERT_EQ(testutil::Run("dfu-suffix -v 1209 -p 5af0 -a fw.dfu", dir.path().string()).status, 0);
    const Bytes file = testutil::ReadBytes(dir / "fw.dfu");
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08X", Le32(file.data() + file.size() - 4));

    RunResult info = Fwpack(dir, {"--info", "fw.dfu"});
    EXPECT_EQ(info.status, 0) << info.err;
    const std::string head = Line("fw.dfu: plain DFU file of 316 bytes") +
                             Line(std::string("suffix: vendor 0x1209, product 0x5AF0, release 0xFFFF, DFU version "
                                              "0x0100, length 16, CRC ") +
                                  crc + " (agrees)");
    EXPECT_EQ(info.out, head + Line("payload: 300 bytes, no address (give its load address with -b ADDR to list it)"));
    info = Fwpack(dir, {"--info", "-b", "0x08000000", "fw.dfu"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, head + Line("payload: 300 bytes at 0x08000000") + Line("target 0: 1 element, 300 bytes") +
                            Line("  element 0: 0x08000000-0x0800012B, 300 bytes") +
                            Line("total: 1 target, 1 element, 300 bytes"));
    info = Fwpack(dir, {"--info", "--json", "fw.dfu"});
    EXPECT_NE(info.out.find("\"kind\": \"dfu\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"payload_size\": 300"), std::string::npos) << info.out;

    ASSERT_EQ(Fwpack(dir, {"-f", "bin", "-b", "0x08000000", "fw.dfu"}).status, 0);
    EXPECT_EQ(testutil::ReadBytes(dir / "fw.bin"), payload);
    ASSERT_EQ(Fwpack(dir, {"-f", "dfu-plain", "-b", "0x08000000", "fw.dfu", "-o", "again.dfu"}).status, 0);
    EXPECT_EQ(testutil::ReadBytes(dir / "again.dfu"), file) << "the IDs of the input are kept";
}

// ---------------------------------------------------------------------------
// -f uf2 and UF2 inputs

// Every byte at its address, the pad byte elsewhere in each block, a block
// for each page that holds bytes and no other; -f hex of the file gives the
// same bytes back.
TEST(FwpackUf2, WritesEveryByteInTheBlockOfItsPage) {
    TempDir dir;
    const std::vector<Region> regions = TwoRegions();
    testutil::WriteFile(dir / "fw.hex", HexOf(regions));
    for (const std::optional<uint32_t> family : {std::optional<uint32_t>(), std::optional<uint32_t>(0x4D2F6A1E)}) {
        std::vector<std::string> args = {"-f", "uf2", "--pad-byte", "0x5A", "fw.hex"};
        if (family) args.insert(args.end(), {"--family", "0x4D2F6A1E"});
        ASSERT_EQ(Fwpack(dir, args).status, 0);
        const Uf2Content content = ReadUf2Independently(testutil::ReadBytes(dir / "fw.uf2"), family);
        ASSERT_EQ(content.problem, "");
        EXPECT_EQ(content.block_addresses,
                  (std::vector<uint32_t>{0x08000000, 0x08000100, 0x08000200, 0x08000300, 0x08001F00, 0x08002000}));
        std::map<uint32_t, uint8_t> expected;
        for (uint32_t page : content.block_addresses) {
            for (uint32_t i = 0; i < 256; ++i) expected[page + i] = 0x5A;
        }
        for (const Region& r : regions) {
            for (std::size_t i = 0; i < r.bytes.size(); ++i) expected[r.address + uint32_t(i)] = r.bytes[i];
        }
        EXPECT_EQ(content.bytes, expected);
    }
    // Without the family the file's blocks are read; the pages come back whole.
    ASSERT_EQ(Fwpack(dir, {"-f", "hex", "fw.uf2", "back.hex"}).status, 0);
    ASSERT_EQ(Fwpack(dir, {"-f", "bin", "back.hex"}).status, 0);
    Bytes pages = Flat({{0x08000000, Bytes(0x400, 0x5A)}, {0x08001F00, Bytes(0x200, 0x5A)}}, 0xFF);
    for (const Region& r : regions) std::copy(r.bytes.begin(), r.bytes.end(), pages.begin() + (r.address - 0x08000000));
    EXPECT_EQ(testutil::ReadBytes(dir / "back.bin"), pages);
}

// Blocks of any payload size and order, blocks to skip, two families, and a
// byte given twice alike: what is read, and what --info lists.
TEST(FwpackUf2, ReadsTheBlocksOfTheChosenFamily) {
    TempDir dir;
    const uint32_t a = 0x11111111, b = 0x22222222;
    WriteBytes(dir / "fw.uf2", Join({
                                   Uf2Block(0x2000, 0x1010, {1, 2, 3, 4}, 0, 4, a),
                                   Uf2Block(0x2000, 0x2000, {9, 9}, 0, 1, b),
                                   Uf2Block(0x2000, 0x1000, Bytes(16, 7), 1, 4, a),
                                   Uf2Block(0x2001, 0x9000, {5}, 2, 4, a),
                                   Uf2Block(0x2000, 0x1012, {3, 4, 5}, 3, 4, a),
                               }));
    RunResult run = Fwpack(dir, {"-f", "bin", "--family", "0x11111111", "fw.uf2"});
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes expected(16, 7);
    expected.insert(expected.end(), {1, 2, 3, 4, 5});
    EXPECT_EQ(testutil::ReadBytes(dir / "fw.bin"), expected);

    run = Fwpack(dir, {"--info", "--family", "0x22222222", "fw.uf2"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Line("fw.uf2: UF2 file of 2560 bytes, 5 blocks (1 not for main flash)") +
                           Line("families: 0x11111111 (3 blocks), 0x22222222 (1 block)") +
                           Line("target 0: 1 element, 2 bytes") + Line("  element 0: 0x00002000-0x00002001, 2 bytes") +
                           Line("total: 1 target, 1 element, 2 bytes"));
    run = Fwpack(dir, {"--info", "--json", "--family", "0x22222222", "fw.uf2"});
    run.out.erase(std::remove(run.out.begin(), run.out.end(), '\r'), run.out.end());  // Windows line ends
    EXPECT_NE(run.out.find("\"kind\": \"uf2\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"families\": [\n    {\n      \"id\": 286331153,\n      \"blocks\": 3"), std::string::npos)
        << run.out;
}

// ---------------------------------------------------------------------------
// Refusals of this part: one line that says what is wrong, exit status 1,
// nothing written

struct FormatRefusal {
    std::string label;
    std::map<std::string, Bytes> files;
    std::vector<std::string> args;
    std::vector<std::string> err_lines;
};

const std::string kHint = "Try 'fwpack --help' for more information.";
const std::string kUnable = "fwpack Unable to create image from this file [fw.uf2] !";

Bytes Bytes4(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `file` with the suffix CRC of its bytes, as a bitwise CRC-32 gives it.
Bytes WithSuffixCrc(Bytes file) {
    PutLe32(&file[file.size() - 4], testutil::Crc32Bitwise(file.data(), file.size() - 4) ^ 0xFFFFFFFFu);
    return file;
}

std::string Hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::vector<FormatRefusal> FormatRefusals() {
    const Bytes far_apart = Bytes4(HexOf({{0x08000000, {1}}, {0x09000001, {2}}, {0x0A000002, {3}}}));
    const Bytes page = Bytes(256, 1);
    Bytes bad_end = Uf2Block(0, 0, page, 0, 1, 0);
    bad_end[508] = 0;
    Bytes plain = Bytes4("firmware");
    // A plain DFU suffix laid out by hand, with a CRC that is wrong on purpose.
    plain.insert(plain.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 'U', 'F', 'D', 16, 0, 0, 0, 0});
    // A DfuSe file without targets, laid out by hand.
    const Bytes dfuse = WithSuffixCrc({'D', 'f',  'u',  'S',  'e',  1,   11,  0,   0,  0, 0, 0, 0, 0,
                                       0,   0x83, 0x04, 0x1A, 0x01, 'U', 'F', 'D', 16, 0, 0, 0, 0});
    return {
        {"bin_past_the_hole_limit",
         {{"fw.hex", far_apart}},
         {"-f", "bin", "fw.hex"},
         {"fwpack: fw.hex: -f bin would fill 33554432 bytes of holes, more than 16 MiB; the largest is "
          "0x08000001-0x09000001: leave the bytes far away out with --crop or --exclude"}},
        {"plain_dfu_past_the_hole_limit",
         {{"fw.hex", far_apart}},
         {"-f", "dfu-plain", "-o", "out.dfu", "fw.hex"},
         {"fwpack: fw.hex: -f dfu-plain would fill 33554432 bytes of holes, more than 16 MiB; the largest is "
          "0x08000001-0x09000001: leave the bytes far away out with --crop or --exclude"}},
        {"uf2_with_several_targets",
         {{"fw.hex", far_apart}},
         {"-f", "uf2", "fw.hex", "--target", "fw.hex"},
         {"fwpack: -f uf2 writes one target, but --target asks for 2", kHint}},
        {"family_without_uf2",
         {{"fw.hex", far_apart}},
         {"--family", "1", "fw.hex"},
         {"fwpack: --family stamps the blocks of -f uf2 and chooses those of a UF2 input: there is neither here",
          kHint}},
        {"plain_dfu_with_a_wrong_crc",
         {{"fw.dfu", plain}},
         {"-f", "bin", "-b", "0", "fw.dfu"},
         {"fwpack: fw.dfu: the suffix CRC is 0x00000000, but the file's bytes give 0x" +
              Hex8(testutil::Crc32Bitwise(plain.data(), plain.size() - 4) ^ 0xFFFFFFFFu),
          "fwpack Unable to create image from this file [fw.dfu] !"}},
        {"plain_dfu_without_base",
         {{"fw.dfu", WithSuffixCrc(plain)}},
         {"-f", "bin", "fw.dfu"},
         {"fwpack: fw.dfu: this is a plain DFU file (DFU version 0x0100 or 0x0110, no DfuSe prefix): it holds no "
          "address, so it needs its load address (-b ADDR)",
          "fwpack Unable to create image from this file [fw.dfu] !"}},
        {"dfuse_with_base",
         {{"fw.dfu", dfuse}},
         {"-b", "0x100", "-f", "bin", "fw.dfu"},
         {"fwpack: fw.dfu: this DfuSe file holds the addresses of its elements: -b gives one to a raw binary or a "
          "plain DFU file only",
          "fwpack Unable to create image from this file [fw.dfu] !"}},
        {"uf2_cut_short",
         {{"fw.uf2", Bytes(511, 0)}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: the file has 511 bytes, not a whole number of 512-byte blocks", kUnable}},
        {"uf2_bad_end_magic",
         {{"fw.uf2", bad_end}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: block 0: the end magic is 0x0AB16F00, not 0x0AB16F30", kUnable}},
        {"uf2_payload_too_large",
         {{"fw.uf2",
           [] {
               Bytes block = Uf2Block(0, 0, {}, 0, 1, 0);
               PutLe32(&block[16], 477);
               return block;
           }()}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: block 0: its payload size is 477, more than the 476 data bytes of a block", kUnable}},
        {"uf2_run_not_from_zero",
         {{"fw.uf2", Uf2Block(0, 0, page, 1, 2, 0)}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: block 0: its block number is 1 of 2, but a run of blocks of family none starts at block "
          "number 0 of 1 or more",
          kUnable}},
        {"uf2_run_cut_short",
         {{"fw.uf2", Uf2Block(0, 0, page, 0, 2, 0)}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: the blocks of family none end after 1 of the 2 blocks that their count gives", kUnable}},
        {"uf2_of_two_families",
         {{"fw.uf2", Join({Uf2Block(0x2000, 0, page, 0, 1, 5), Uf2Block(0x2000, 0x100, page, 0, 1, 6)})}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: the file holds blocks of 2 families (0x00000005, 0x00000006): choose one with --family ID",
          kUnable}},
        {"uf2_without_the_family",
         {{"fw.uf2", Uf2Block(0x2000, 0, page, 0, 1, 5)}},
         {"-f", "bin", "--family", "7", "fw.uf2"},
         {"fwpack: fw.uf2: no block of family 0x00000007 (the file holds family 0x00000005)", kUnable}},
        {"uf2_bytes_that_disagree",
         {{"fw.uf2", Join({Uf2Block(0, 0x100, page, 0, 2, 0), Uf2Block(0, 0x1FE, {1, 2}, 1, 2, 0)})}},
         {"-f", "bin", "fw.uf2"},
         {"fwpack: fw.uf2: block 1: its byte at 0x000001FF is 0x02, but another block gives 0x01", kUnable}},
    };
}

class FwpackFormatRefusal : public ::testing::TestWithParam<FormatRefusal> {};

TEST_P(FwpackFormatRefusal, SaysWhyAndWritesNothing) {
    const FormatRefusal& c = GetParam();
    TempDir dir;
    std::set<std::string> tree;
    for (const auto& [name, content] : c.files) {
        WriteBytes(dir / name, content);
        tree.insert(name);
    }
    const RunResult run = Fwpack(dir, c.args);
    EXPECT_EQ(run.status, kTarget.error_status);
    std::string expected;
    for (const auto& line : c.err_lines) expected += Line(line);
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(Tree(dir), tree);
}

INSTANTIATE_TEST_SUITE_P(Table, FwpackFormatRefusal, ::testing::ValuesIn(FormatRefusals()),
                         [](const auto& info) { return info.param.label; });

}  // namespace
