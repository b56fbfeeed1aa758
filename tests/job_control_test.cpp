// The wait under an interactive shell with job control, as users meet it:
// Ctrl+Z, fg, bg, &, SIGSTOP and kill, with the program started directly and
// through a wrapper that shares its job.

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "child_process.hpp"

namespace {

using testing::HasSubstr;
using testing::Not;

const std::string prompt = "ready$ ";
const std::string program = COUNTDOWN_PROGRAM;
// A wrapper that stays in the job beside the program, as a script or make does.
const std::string wrapped = "sh -c '\"$0\"; :' " + program;

class JobControl : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_THAT(shell.ReadUntil(prompt), HasSubstr(prompt));
    }

    // Types a command line; what the screen shows up to the next prompt.
    std::string Run(const std::string& command_line)
    {
        shell.Type(command_line + "\r");
        return shell.ReadUntil(prompt);
    }

    // Starts `command_line` in the foreground and waits until it waits for its key.
    void StartInTheForeground(const std::string& command_line)
    {
        shell.Type(command_line + "\r");
        ASSERT_TRUE(shell.WaitForKeyMode()) << command_line;
    }

    // Starts the program with &; its process group once it has stopped for input.
    pid_t StartInTheBackground()
    {
        // The shell answers "[1] PID".
        const std::string screen = Run(program + " &");
        const std::size_t job = screen.find("[1] ");
        EXPECT_NE(job, std::string::npos) << screen;
        const pid_t group = job == std::string::npos ? -1 : std::atoi(screen.c_str() + job + 4);
        EXPECT_TRUE(GroupStops(group)) << "no stop for terminal input";
        return group;
    }

    // Ends the wait with a key after `fg`: no echo, status 0.
    void ContinueAndPressAKey()
    {
        const std::string key = "\xc6\xb0"; // a letter no path or prompt holds
        shell.Type("fg\r");
        ASSERT_TRUE(shell.WaitForKeyMode()) << "no key mode after fg";
        shell.Type(key);
        EXPECT_THAT(shell.ReadUntil(prompt), Not(HasSubstr(key)));
        EXPECT_THAT(Run("echo status=$?"), HasSubstr("status=0"));
    }

    // An interactive bash with its line editor, as job-control parent.
    TerminalSession shell{{"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "TERM=xterm", "PS1=" + prompt,
        "INPUTRC=/dev/null", "HISTFILE=/dev/null", "/bin/bash", "--norc", "--noprofile", "-i"}};
};

TEST_F(JobControl, StopAndFgThroughAWrapperAlwaysWaitsAgain)
{
    // The wrapper stops at once and the shell takes the terminal back while the
    // program is still handling its own stop: repeated to meet that race.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        StartInTheForeground(wrapped);
        shell.Type("\x1a");
        ASSERT_THAT(shell.ReadUntil(prompt), HasSubstr("Stopped"));
        ContinueAndPressAKey();
    }
}

TEST_F(JobControl, KillEndsAStoppedOrBackgroundWait)
{
    // %% is the job just stopped or started: a job killed before it may still
    // hold its number until the shell has reported it.
    pid_t job = StartInTheBackground();
    Run("kill %%");
    EXPECT_TRUE(GroupEnds(job));
    for (const std::string& command_line : {program, wrapped}) {
        SCOPED_TRACE(command_line);
        StartInTheForeground(command_line);
        job = shell.ForegroundGroup();
        shell.Type("\x1a");
        ASSERT_THAT(shell.ReadUntil(prompt), HasSubstr("Stopped"));
        Run("kill %%");
        EXPECT_TRUE(GroupEnds(job));
    }
}

TEST_F(JobControl, BackgroundStartWaitsForFg)
{
    StartInTheBackground();
    ContinueAndPressAKey();
}

TEST_F(JobControl, SigstopThenFgWaitsInKeyMode)
{
    StartInTheForeground(program);
    kill(-shell.ForegroundGroup(), SIGSTOP);
    ASSERT_THAT(shell.ReadUntil(prompt), HasSubstr("Stopped"));
    ContinueAndPressAKey();
}

TEST_F(JobControl, StopBgFgLeavesTheSettingsFound)
{
    // bg continues the program while the line editor holds the terminal in its
    // own mode; the job's next command must still get the settings found.
    StartInTheForeground("( stty -g; " + program + "; stty -g )");
    const pid_t job = shell.ForegroundGroup();
    shell.Type("\x1a");
    std::string screen = shell.ReadUntil(prompt);
    ASSERT_THAT(screen, HasSubstr("Stopped"));
    Run("bg");
    ASSERT_TRUE(GroupStops(job)) << "no stop for terminal input after bg";
    shell.Type("fg\r");
    ASSERT_TRUE(shell.WaitForKeyMode());
    shell.Type("k");
    screen += shell.ReadUntil(prompt);
    // stty -g prints the settings as one word of hexadecimal fields and colons.
    std::vector<std::string> lines;
    std::istringstream words(screen);
    for (std::string word; words >> word;) {
        if (std::count(word.begin(), word.end(), ':') >= 20
            && word.find_first_not_of("0123456789abcdef:") == std::string::npos) {
            lines.push_back(word);
        }
    }
    ASSERT_EQ(lines.size(), 2U) << screen;
    EXPECT_EQ(lines[0], lines[1]) << "settings before and after";
}

} // namespace
