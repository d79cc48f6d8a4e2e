// Where NUMTONE_SKIP_LOG names a file, each skipped test adds a line to it,
// its name and the reason it gave, so that the test command can end by
// listing every test that did not run here and why.  CTest runs each test
// in a process of its own, so the lines are appended, one write each.
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

class skip_log : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& test) override {
        const char* path = std::getenv("NUMTONE_SKIP_LOG");
        const testing::TestResult& result = *test.result();
        if (path == nullptr || !result.Skipped())
            return;
        std::string reason;
        for (int i = 0; i < result.total_part_count() && reason.empty(); ++i)
            if (result.GetTestPartResult(i).skipped())
                reason = result.GetTestPartResult(i).message();
        reason = reason.substr(0, reason.find('\n'));
        const std::string line = std::string(test.test_suite_name()) + "." + test.name() + ": " +
                                 (reason.empty() ? "no reason given" : reason) + "\n";
        const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (write(fd, line.data(), line.size()) < 0) {
                // A lost line of the summary is no reason to fail a test.
            }
            close(fd);
        }
    }
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new skip_log);
    return true;
}();

} // namespace
