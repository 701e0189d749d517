// Tests of how both record writers treat their output file: an existing file
// is replaced, a path that cannot be opened leaves nothing, and a failed
// write is reported.
#include <gtest/gtest.h>

#include <string>

#include "image/image.h"
#include "image_util.h"
#include "line_end.h"
#include "test_util.h"

namespace {

struct WriterCase {
    const char* name;
    bool (CImage::*save)(const char*) const;
    const char* file_name;
    std::string expected;  // the file for the bytes 01 02 03 at 0x08000000
};

class WriterFiles : public testing::TestWithParam<WriterCase> {};

TEST_P(WriterFiles, ReplacesTheContentOfAnExistingFile) {
    const WriterCase& c = GetParam();
    testutil::TempDir dir;
    const std::string path = dir / c.file_name;
    testutil::WriteFile(path, std::string(1000, 'x'));
    auto image = testutil::MakeImage(dir, {{0x08000000, {0x01, 0x02, 0x03}}});
    ASSERT_TRUE(((*image).*c.save)(path.c_str()));
    EXPECT_EQ(testutil::ReadFile(path), testutil::WithLineEnds(c.expected));
}

TEST_P(WriterFiles, FailsWithoutAFileWhenThePathCannotBeOpened) {
    const WriterCase& c = GetParam();
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, {{0x0, {0x01}}});
    const std::string path = dir / ("missing/" + std::string(c.file_name));
    EXPECT_FALSE(((*image).*c.save)(path.c_str()));
    EXPECT_FALSE(testutil::FileExists(path));
}

// A short file written at the end, and a long one written chunk by chunk
// while the next is formatted.
TEST_P(WriterFiles, ReportsAFailedWrite) {
    if (!testutil::FileExists("/dev/full")) GTEST_SKIP() << "no device that refuses writes";
    for (std::size_t size : {3, 1 << 20}) {
        testutil::TempDir dir;
        auto image = testutil::MakeImage(dir, {{0x0, testutil::Pattern(size)}});
        EXPECT_FALSE(((*image).*GetParam().save)("/dev/full")) << size << " bytes";
        EXPECT_TRUE(testutil::FileExists("/dev/full"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    BothFormats, WriterFiles,
    testing::Values(WriterCase{"SRec", &CImage::SaveSRec, "out.srec", "S30808000000010203E9\nS70500000000FA\n"},
                    WriterCase{"Hex", &CImage::SaveHex, "out.hex", ":020000040800F2\n:03000000010203F7\n"}),
    [](const testing::TestParamInfo<WriterCase>& info) { return std::string(info.param.name); });

}  // namespace
