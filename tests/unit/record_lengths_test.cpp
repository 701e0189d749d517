// Tests of both readers on records of every data length and on files longer
// than the reader takes in at once: the bytes come back as written, and a
// fault anywhere in a long record is reported on its line. The records are
// formatted here, their checksums by the formats' own rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "load_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ":" byte count, offset, type, data, then the two's complement of the sum.
std::string HexRecord(uint8_t type, uint16_t offset, const Bytes& data) {
    Bytes fields = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
                    type};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : fields) sum += b;
    fields.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    return ":" + testutil::HexPairs(fields) + "\n";
}

// "S3", byte count, 32-bit address, data, then the ones' complement of the sum.
std::string S3Record(uint32_t address, const Bytes& data) {
    Bytes fields = {static_cast<uint8_t>(data.size() + 5), static_cast<uint8_t>(address >> 24),
                    static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address)};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : fields) sum += b;
    fields.push_back(static_cast<uint8_t>(~sum));
    return "S3" + testutil::HexPairs(fields) + "\n";
}

struct Format {
    const char* name;
    const char* file_name;
    // The text of a data record and the lines that must come before it.
    std::string (*record)(uint32_t address, const Bytes& data, uint32_t& base);
    const char* format_error;
    const char* checksum_error;
    std::size_t longest;  // the most data a record can hold
};

std::string HexData(uint32_t address, const Bytes& data, uint32_t& base) {
    std::string text;
    if (address >> 16 != base) {
        base = address >> 16;
        text = HexRecord(4, 0, {static_cast<uint8_t>(base >> 8), static_cast<uint8_t>(base)});
    }
    return text + HexRecord(0, static_cast<uint16_t>(address), data);
}

std::string SRecData(uint32_t address, const Bytes& data, uint32_t&) { return S3Record(address, data); }

const Format kFormats[] = {
    {"IntelHex", "fw.hex", HexData, "Not in Intel Hex format!\n", "Bad hexadecimal checksum!\n", 255},
    {"SRecord", "fw.srec", SRecData, "Not in Motorola SREC format!\n", "Checksum error!\n", 250},
};

std::string Line(std::size_t line, const std::string& message) {
    return "FILE : line " + std::to_string(line) + ": " + message;
}

class RecordLengths : public testing::TestWithParam<Format> {};

// Every length a record can hold, from 0 bytes up, sixteen times over: over a
// megabyte, several times what the reader takes in at once, so records also
// straddle the places where it takes in more.
TEST_P(RecordLengths, EveryLengthLoadsAsWrittenAcrossRefills) {
    const Format& format = GetParam();
    const uint32_t start = 0x0800FF00;
    std::string text;
    Bytes all;
    uint32_t base = 0xFFFFFFFF;
    std::size_t lines = 0;
    for (int round = 0; round < 16; ++round) {
        for (std::size_t length = 0; length <= format.longest; ++length) {
            const Bytes data = testutil::Pattern(length, static_cast<uint8_t>(length + round));
            const std::string record = format.record(start + static_cast<uint32_t>(all.size()), data, base);
            text += record;
            lines += static_cast<std::size_t>(std::count(record.begin(), record.end(), '\n'));
            all.insert(all.end(), data.begin(), data.end());
        }
    }
    ASSERT_GT(text.size(), std::size_t{1} << 20);
    // A record whose checksum is off by one ends the file.
    std::string bad = format.record(0x100, {1, 2, 3}, base);
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
    const testutil::Loaded result = testutil::LoadText(text + bad, format.file_name);
    EXPECT_EQ(result.err,
              Line(lines + static_cast<std::size_t>(std::count(bad.begin(), bad.end(), '\n')), format.checksum_error));
    ASSERT_EQ(result.elements.size(), 1u);
    EXPECT_EQ(result.elements[0].address, start);
    EXPECT_TRUE(result.elements[0].bytes == all) << "the bytes differ from those written";
}

// In records of 17, 32 and 37 data bytes, a character that is no digit, or a
// digit changed to another, at any place of the data or the checksum.
TEST_P(RecordLengths, AFaultAnywhereInALongRecordIsReportedOnItsLine) {
    const Format& format = GetParam();
    for (std::size_t length : {17, 32, 37}) {
        uint32_t base = 0;  // no address record before the data record
        const std::string good = format.record(0x1000, testutil::Pattern(length), base);
        const std::string before = good + good + good;  // three lines
        const std::size_t data_start = good[0] == ':' ? 9 : 12;
        for (std::size_t at = data_start; at + 1 < good.size(); ++at) {
            SCOPED_TRACE("length " + std::to_string(length) + ", character " + std::to_string(at));
            std::string not_digit = good;
            not_digit[at] = 'G';
            const std::string loaded = testutil::LoadText(before + not_digit, format.file_name).err;
            // A cut checksum field is read as far as it goes; the rest then cannot start a record.
            const bool in_checksum = at + 3 >= good.size();
            if (!in_checksum) {
                EXPECT_EQ(loaded, Line(4, format.format_error));
            }

            std::string changed = good;
            changed[at] = changed[at] == '7' ? '8' : '7';
            EXPECT_EQ(testutil::LoadText(before + changed, format.file_name).err, Line(4, format.checksum_error));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RecordLengths, testing::ValuesIn(kFormats),
                         [](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

}  // namespace
