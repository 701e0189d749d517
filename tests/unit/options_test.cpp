// Tests of the converter's command line: the forms of option values, where
// options stand, and how inputs are gathered into targets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

TEST(OptionValues, DeviceIdsTakeOneToFourHexDigitsEach) {
    struct Case {
        const char* text;
        bool valid;
        uint16_t vendor, product;
    };
    const Case cases[] = {
        {"1209:5af0", true, 0x1209, 0x5AF0}, {"0x1209:0X5AF0", true, 0x1209, 0x5AF0},
        {"ffff:ffff", true, 0xFFFF, 0xFFFF}, {"1:0", true, 0x0001, 0x0000},
        {"12345:1", false, 0, 0},            {"1209", false, 0, 0},
        {":5af0", false, 0, 0},              {"1209:", false, 0, 0},
        {"0x:1", false, 0, 0},               {"12g9:1", false, 0, 0},
        {"1:2:3", false, 0, 0},              {" 1:2", false, 0, 0},
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

ParsedCommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "fwpack");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, GathersInputsIntoTargetsWhereverTheOptionsStand) {
    const ParsedCommandLine parsed =
        Parse({"--add", "app.hex", "boot.hex", "-a", "2", "--target", "opt.hex", "out.dfu", "-n", "Opt", "ignored"});
    ASSERT_EQ(parsed.error, "");
    const Options& o = parsed.options;
    ASSERT_EQ(o.targets.size(), 2u);
    EXPECT_EQ(o.targets[0].inputs, (std::vector<std::string>{"boot.hex", "app.hex"}));
    EXPECT_EQ(o.targets[0].alternate, 2);
    EXPECT_EQ(o.targets[1].inputs, (std::vector<std::string>{"opt.hex"}));
    EXPECT_EQ(o.targets[1].alternate, 3) << "one more than the previous target's";
    EXPECT_EQ(o.targets[1].name, "Opt");
    EXPECT_EQ(o.output, "out.dfu");
}

TEST(CommandLine, DoubleDashEndsTheOptionsAndFlagsTakeNoAttachedText) {
    const ParsedCommandLine files = Parse({"--", "-h", "--version"});
    ASSERT_EQ(files.error, "");
    EXPECT_FALSE(files.options.help);
    EXPECT_EQ(files.options.targets[0].inputs, std::vector<std::string>{"-h"});
    EXPECT_EQ(files.options.output, "--version");
    EXPECT_EQ(Parse({"-hV"}).error, "unknown option '-hV'");
    EXPECT_EQ(Parse({"-"}).error, "unknown option '-'");
}

}  // namespace
