// Tests of the forms of the converter's option values; the command line as a
// whole is tested end to end.
#include <gtest/gtest.h>

#include "app/options.h"

namespace {

TEST(OptionValues, DeviceIdsTakeOneToFourHexDigitsEach) {
    struct Case {
        const char* text;
        bool valid;
        uint16_t vendor, product;
    };
    const Case cases[] = {
        {"1209:5af0", true, 0x1209, 0x5AF0},
        {"0x1209:0X5AF0", true, 0x1209, 0x5AF0},
        {"ffff:ffff", true, 0xFFFF, 0xFFFF},
        {"1:0", true, 0x0001, 0x0000},
        {"12345:1", false, 0, 0},
        {"1209", false, 0, 0},
        {":5af0", false, 0, 0},
        {"1209:", false, 0, 0},
        {"0x:1", false, 0, 0},
        {"12g9:1", false, 0, 0},
        {"1:2:3", false, 0, 0},
        {" 1:2", false, 0, 0},
    };
    for (const Case& c : cases) {
        uint16_t vendor = 0, product = 0;
        EXPECT_EQ(ParseDeviceIds(c.text, vendor, product), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(vendor, c.vendor) << c.text;
            EXPECT_EQ(product, c.product) << c.text;
        }
    }
}

TEST(OptionValues, AddressesAndAlternateSettingsHaveTheirRanges) {
    uint32_t address = 0;
    EXPECT_TRUE(ParseAddress("FFFFFFFF", address));
    EXPECT_EQ(address, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseAddress("0x0", address));
    EXPECT_EQ(address, 0u);
    EXPECT_FALSE(ParseAddress("0x100000000", address));
    EXPECT_FALSE(ParseAddress("-1", address));
    uint8_t alternate = 0;
    EXPECT_TRUE(ParseAlternate("255", alternate));
    EXPECT_EQ(alternate, 255);
    EXPECT_FALSE(ParseAlternate("256", alternate));
    EXPECT_FALSE(ParseAlternate("0x1", alternate));
    EXPECT_FALSE(ParseAlternate("", alternate));
}

}  // namespace
