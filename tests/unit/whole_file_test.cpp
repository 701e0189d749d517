// Unit tests of the bounded whole-file read that DfuSe inputs go through: a
// file or a source longer than the bound is refused once the reading passes
// it, without reading on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load/read_file.h"
#include "test_util.h"

namespace {

struct BoundCase {
    const char* label;
    std::size_t file_size;  // 0: the endless source /dev/zero instead
    uint64_t limit;
    WholeFileRead expected;
};

class WholeFileBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(WholeFileBound, RefusesWhatPassesTheLimit) {
    const BoundCase& c = GetParam();
    testutil::TempDir dir;
    std::string path = dir / "in.dfu";
    if (c.file_size == 0) {
        path = "/dev/zero";
        if (!testutil::FileExists(path)) GTEST_SKIP() << "no endless source here";
    } else {
        testutil::WriteFile(path, std::string(c.file_size, 'x'));
    }
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadWholeFile(path, bytes, c.limit), c.expected);
    EXPECT_LE(bytes.size(), c.limit);
    if (c.expected == WholeFileRead::kRead) {
        EXPECT_EQ(bytes, std::vector<uint8_t>(c.file_size, 'x'));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WholeFileBound,
                         ::testing::Values(BoundCase{"exactly_the_limit", 100000, 100000, WholeFileRead::kRead},
                                           BoundCase{"one_byte_more", 100001, 100000, WholeFileRead::kTooLong},
                                           BoundCase{"endless_source", 0, 100000, WholeFileRead::kTooLong}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
