// The conversions between the UTF-8 that the converter holds its paths in and
// the UTF-16 of the Windows file names and command line. Expected bytes are
// the code points' encodings worked out by hand.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "sys/platform.h"

namespace {

std::wstring Units(std::initializer_list<unsigned> units) {
    std::wstring text;
    for (unsigned unit : units) text += static_cast<wchar_t>(unit);
    return text;
}

struct WideCase {
    const char* label;
    std::wstring wide;
    std::optional<std::string> utf8;  // none: UTF-8 cannot hold it
};

void PrintTo(const WideCase& c, std::ostream* os) { *os << c.label; }

class WideText : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideText, ConvertsBothWaysOrRefuses) {
    const WideCase& c = GetParam();
    std::string utf8 = "left over";
    ASSERT_EQ(platform::Utf8FromWide(c.wide, utf8), c.utf8.has_value());
    if (!c.utf8) return;
    EXPECT_EQ(utf8, *c.utf8);
    EXPECT_EQ(platform::WideFromUtf8(*c.utf8), c.wide);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WideText,
    ::testing::Values(WideCase{"Empty", L"", std::string()}, WideCase{"Ascii", L"fw.hex", std::string("fw.hex")},
                      WideCase{"AccentedLatin", Units({'f', 0xE9}), std::string("f\xC3\xA9")},
                      WideCase{"Cyrillic", Units({0x43F, 0x430}), std::string("\xD0\xBF\xD0\xB0")},
                      WideCase{"Cjk", Units({0x56FA, 0x4EF6}), std::string("\xE5\x9B\xBA\xE4\xBB\xB6")},
                      WideCase{"EmojiAsSurrogatePair", Units({0xD83D, 0xDE00}), std::string("\xF0\x9F\x98\x80")},
                      WideCase{"LoneHighSurrogate", Units({'a', 0xD83D, 'b'}), std::nullopt},
                      WideCase{"LoneLowSurrogate", Units({0xDE00, 'a'}), std::nullopt},
                      WideCase{"HighSurrogateAtTheEnd", Units({'a', 0xD83D}), std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

// Text shown on a console may hold bytes that are not UTF-8 (a target name
// read from a file); each bad sequence shows as U+FFFD, the rest as it is.
TEST(WideTextShown, InvalidUtf8BecomesTheReplacementCharacter) {
    EXPECT_EQ(platform::WideFromUtf8("a\xFF" "b"), Units({'a', 0xFFFD, 'b'}));
}

}  // namespace

#endif
