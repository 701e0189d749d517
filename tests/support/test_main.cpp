// The main function of the test programs: GoogleTest's, plus what CTest needs
// to show a skip and its reason in a normal run, where it shows no output of
// a test that did not fail.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

// The status with which a run whose every test skipped ends, so that CTest
// counts it as skipped (SKIP_RETURN_CODE) and not as passed.
constexpr int kEverySelectedTestSkipped = 77;

// Appends "Suite.Test: reason" for each skip to the file that the
// environment variable FWPACK_TEST_SKIP_LOG names; the test run prints them
// all at its end.
class SkipLog : public testing::EmptyTestEventListener {
public:
    explicit SkipLog(std::string path) : path_(std::move(path)) {}

    void OnTestEnd(const testing::TestInfo& test) override {
        const testing::TestResult& result = *test.result();
        if (!result.Skipped()) return;
        std::string reason;
        for (int i = 0; i < result.total_part_count(); ++i) {
            if (result.GetTestPartResult(i).skipped()) reason = result.GetTestPartResult(i).message();
        }
        for (char& c : reason) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        const std::string line = std::string(test.test_suite_name()) + "." + test.name() + ": " +
                                 (reason.empty() ? std::string("no reason given") : reason) + "\n";
        // One write per line, so that tests run side by side keep their lines whole.
        if (std::FILE* file = std::fopen(path_.c_str(), "a")) {
            std::fputs(line.c_str(), file);
            std::fclose(file);
        }
    }

private:
    std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* log = std::getenv("FWPACK_TEST_SKIP_LOG");
    if (log != nullptr && *log != '\0') testing::UnitTest::GetInstance()->listeners().Append(new SkipLog(log));
    const int status = RUN_ALL_TESTS();
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    if (status == 0 && unit.test_to_run_count() > 0 && unit.skipped_test_count() == unit.test_to_run_count()) {
        return kEverySelectedTestSkipped;
    }
    return status;
}
