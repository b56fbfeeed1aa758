// What the program writes, byte for byte, when nobody can press a key.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.hpp"
#include "expected_output.hpp"

namespace {

TEST(Output, WholeRunIsHeadingNewlineAndCountdownLineAndIgnoresArguments)
{
    const std::vector<std::vector<std::string>> argument_lists
        = {{}, {"--help"}, {"-h", "--version", "5"}, {""}, {"-"}, {"10", "x y", "%d%n", "\xc6\xb0"}};
    for (const auto& arguments : argument_lists) {
        std::vector<std::string> argv{ProgramUnderTest()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const Outcome run = RunWithoutTerminal(argv);
        EXPECT_EQ(run.out, expected::Output("\n"));
        EXPECT_EQ(run.out.size(), 111U);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(ExitedWith(run.status, 0)) << "status " << run.status;
    }
}

TEST(Output, UndeliveredOutputIsReportedWithStatusOne)
{
    const Outcome full = RunWithoutTerminal({ProgramUnderTest()}, Stdout::DiskFull);
    EXPECT_EQ(full.err, "countdown: write error: No space left on device\n");
    EXPECT_TRUE(ExitedWith(full.status, 1)) << "status " << full.status;

    const Outcome closed = RunWithoutTerminal({ProgramUnderTest()}, Stdout::Closed);
    EXPECT_EQ(closed.err, "countdown: write error: Bad file descriptor\n");
    EXPECT_TRUE(ExitedWith(closed.status, 1)) << "status " << closed.status;
}

TEST(FirstNum, WritesEachNumberAfterOneBlankFromTheCountDownToOne)
{
    const std::vector<std::pair<std::string, std::string>> cases = {{"0", ""}, {"-1", ""},
        {"-2147483648", ""}, {"1", " 1"}, {"10", " 10 9 8 7 6 5 4 3 2 1"}, {"30", expected::countdown_line}};
    for (const auto& [count, expected] : cases) {
        const Outcome run = RunWithoutTerminal({ProbeUnderTest(), count});
        EXPECT_EQ(run.out, expected) << "count " << count;
        EXPECT_TRUE(ExitedWith(run.status, 0)) << "count " << count << ", status " << run.status;
    }
}

// Any count is written whole. An optimising build (every preset's) turns the
// recursion into a jump, so that ten million numbers run in an ordinary
// stack; a build without optimisation costs a frame per number, and a
// hundred thousand fit.
TEST(FirstNum, ManyNumbersRunInAnOrdinaryStack)
{
    const bool optimized = ExitedWith(RunWithoutTerminal({ProbeUnderTest(), "--optimized"}).status, 0);
    const std::string count = optimized ? "10000000" : "100000";
    // The blanks, then the digits: 9 one-digit numbers, 90 of two digits,
    // ..., and the count itself.
    std::size_t expected_bytes = std::stoul(count) + count.size();
    for (std::size_t digits = 1, numbers = 9; digits < count.size(); ++digits, numbers *= 10) {
        expected_bytes += numbers * digits;
    }
    const Outcome run = RunWithoutTerminal({ProbeUnderTest(), count});
    EXPECT_TRUE(ExitedWith(run.status, 0)) << "status " << run.status;
    EXPECT_EQ(run.out.size(), expected_bytes);
    EXPECT_EQ(run.out.substr(0, count.size() + 2), " " + count + " ");
    EXPECT_EQ(run.out.substr(run.out.size() - 4), " 2 1");
}

} // namespace
