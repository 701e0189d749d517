// Tests of how the DfuSe builder gets a file with large elements to its
// output: straight to a plain file (also over a longer file that was there),
// in one write to a pipe, and what a write that fails half-way leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dfuse/dfu_file.h"
#include "dfu_layout.h"
#include "image/image.h"
#include "image_util.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testutil::ByteRun;

// The whole file for one unnamed target at alternate setting 0, laid out by hand.
Bytes ExpectedFile(const std::vector<ByteRun>& runs) {
    std::vector<testutil::LayoutElement> elements;
    for (const ByteRun& run : runs) elements.push_back({run.address, run.bytes});
    return testutil::DfuLayout({{0, std::nullopt, elements}}, 0x0483, 0, 0);
}

// Three megabytes in one element, far more than any buffer on the way.
const std::vector<ByteRun> kRuns = {
    {0x08000000, testutil::Pattern(3 << 20, 5)}, {0x20000000, {1, 2, 3, 4, 5}}, {0x30000000, {}}};

class DfuOutput : public ::testing::Test {
protected:
    std::string Out() const { return dir_ / "out.dfu"; }
    testutil::TempDir dir_;
};

TEST_F(DfuOutput, PlainFileOverALongerOneHoldsExactlyTheFile) {
    const Bytes expected = ExpectedFile(kRuns);
    testutil::WriteFile(Out(), std::string(expected.size() + 4096, '\xEE'));
    const auto image = testutil::MakeImage(dir_, kRuns);
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(*image), STATUS_SUCCESS);
    EXPECT_TRUE(file.GetBuffer() == expected) << "the file as it stands, before it is closed";
    ASSERT_EQ(file.Close(), STATUS_SUCCESS);
    EXPECT_TRUE(testutil::ReadBytes(Out()) == expected);
}

#if !defined(_WIN32)

TEST_F(DfuOutput, PipeGetsTheSameFile) {
    ASSERT_EQ(mkfifo(Out().c_str(), 0600), 0);
    Bytes received;
    std::thread reader([&] { received = testutil::ReadBytes(Out()); });
    const auto image = testutil::MakeImage(dir_, kRuns);
    uint32_t closed = 0;
    {
        CDFUFile file(Out().c_str(), 0x0483, 0, 0);
        EXPECT_EQ(file.AddTarget(*image), STATUS_SUCCESS);
        closed = file.Close();
    }
    reader.join();
    EXPECT_EQ(closed, STATUS_SUCCESS);
    EXPECT_TRUE(received == ExpectedFile(kRuns));
}

TEST_F(DfuOutput, WriteFailingInsideAnElementIsReportedByCloseAndRemovesTheFile) {
    const auto image = testutil::MakeImage(dir_, kRuns);
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    // As on a full disk: the file may not pass 1 MiB.
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit capped = old_limit;
    capped.rlim_cur = 1 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    const uint32_t added = file.AddTarget(*image);
    const uint32_t closed = file.Close();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(added, STATUS_SUCCESS) << "the target fits the format";
    EXPECT_EQ(closed, STATUS_FILE_WRITE_ERROR);
    EXPECT_FALSE(testutil::FileExists(Out()));
}

#endif  // !_WIN32

}  // namespace
