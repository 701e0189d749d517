// Tests of the two record types on their own: the checksum rule of each
// format and the whole line that its writer writes, against lines worked out
// by hand or taken from the formats' published examples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/hex_record.h"
#include "formats/srec_record.h"

namespace {

struct HexLineCase {
    HexRecord::Type type;
    uint16_t address;
    std::vector<uint8_t> data;
    const char* line;
};

TEST(HexRecordLine, IsTheWholeRecordWithItsChecksum) {
    const HexLineCase cases[] = {
        {HexRecord::kData, 0x0030, {0x02, 0x33, 0x7A}, ":0300300002337A1E\n"},
        {HexRecord::kEndOfFile, 0x0000, {}, ":00000001FF\n"},
        {HexRecord::kExtendedLinearAddress, 0x0000, {0x08, 0x00}, ":020000040800F2\n"},
        // The checksum of a sum whose low byte is 0 is 0, not 0x100.
        {HexRecord::kData, 0x0100, {0xFE}, ":01010000FE00\n"},
        {HexRecord::kExtendedSegmentAddress, 0x0000, {0x12, 0x00}, ":020000021200EA\n"},
    };
    for (const HexLineCase& c : cases) {
        char line[HexRecord::LineLength(255)];
        const std::size_t length = HexRecord::Line(c.type, c.address, c.data.data(), c.data.size(), line);
        EXPECT_EQ(std::string(line, length), c.line);
        EXPECT_EQ(length, HexRecord::LineLength(c.data.size())) << c.line;
    }
}

TEST(HexRecordChecksum, IsTheTwosComplementOfTheSumsLowByte) {
    const std::pair<uint32_t, uint8_t> cases[] = {{0x00, 0x00},  {0x01, 0xFF},  {0xE2, 0x1E},      {0x100, 0x00},
                                                  {0x1FF, 0x01}, {0x205, 0xFB}, {0xFFFFFFFF, 0x01}};
    for (const auto& [sum, checksum] : cases) EXPECT_EQ(HexRecord::Checksum(sum), checksum) << sum;
}

struct SRecLineCase {
    char digit;
    int address_length;
    uint32_t address;
    std::vector<uint8_t> data;
    const char* line;
};

TEST(SRecordLine, IsTheWholeRecordWithItsChecksum) {
    const std::vector<uint8_t> text = {0x0A, 0x0A, 0x0D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const SRecLineCase cases[] = {
        {'1', 2, 0x7AF0, text, "S1137AF00A0A0D0000000000000000000000000061\n"},
        {'2', 3, 0x123456, {0xDE, 0xAD}, "S206123456DEADD2\n"},
        {'3', 4, 0x08000000, {0x01, 0x02, 0x03, 0x04}, "S3090800000001020304E4\n"},
        {'9', 2, 0, {}, "S9030000FC\n"},
        {'8', 3, 0, {}, "S804000000FB\n"},
        {'7', 4, 0, {}, "S70500000000FA\n"},
    };
    for (const SRecLineCase& c : cases) {
        char line[SRecord::LineLength(4, 32)];
        const std::size_t length =
            SRecord::Line(c.digit, c.address_length, c.address, c.data.data(), c.data.size(), line);
        EXPECT_EQ(std::string(line, length), c.line);
        EXPECT_EQ(length, SRecord::LineLength(c.address_length, c.data.size())) << c.line;
    }
}

TEST(SRecordChecksum, IsTheOnesComplementOfTheSumsLowByte) {
    const std::pair<uint32_t, uint8_t> cases[] = {{0x00, 0xFF},  {0x03, 0xFC},  {0xFF, 0x00},
                                                  {0x100, 0xFF}, {0x1FE, 0x01}, {0xFFFFFFFF, 0x00}};
    for (const auto& [sum, checksum] : cases) EXPECT_EQ(SRecord::Checksum(sum), checksum) << sum;
}

TEST(SRecordKind, TellsAddressLengthDataAndTermination) {
    struct Case {
        char digit;
        bool known;
        int address_length;
        bool data;
        bool terminates;
    };
    const Case cases[] = {{'0', true, 0, false, false},  {'1', true, 2, true, false},   {'2', true, 3, true, false},
                          {'3', true, 4, true, false},   {'4', false, 0, false, false}, {'5', true, 2, false, false},
                          {'6', false, 0, false, false}, {'7', true, 4, false, true},   {'8', true, 3, false, true},
                          {'9', true, 2, false, true}};
    for (const Case& c : cases) {
        SRecord::Kind kind{};
        ASSERT_EQ(SRecord::KindOf(c.digit, kind), c.known) << c.digit;
        if (!c.known) continue;
        EXPECT_EQ(kind.address_length, c.address_length) << c.digit;
        EXPECT_EQ(kind.data, c.data) << c.digit;
        EXPECT_EQ(kind.terminates, c.terminates) << c.digit;
    }
}

}  // namespace
