// Each call that the wait depends on, failed on purpose in the program under
// test (fault_library.cpp), and what the user is then left with. The program
// runs alone on the terminal, where nothing repairs what it leaves, as under
// dash.

#include <csignal>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "child_process.hpp"

namespace {

using testing::HasSubstr;
using testing::Not;

struct FaultCase {
    std::string fault; // as COUNTDOWN_FAULT takes it
    const char* keys; // typed once the program waits; none: it must not wait
    int exit_code; // or, if negative, the signal it must end by
    bool settings_found; // the terminal as found afterwards
    const char* message; // on the screen after the numbers, or "" for none
};

TEST(Faults, EachFailingCallEndsTheWaitSafely)
{
    if (const char* reason = NoPreloadReason()) {
        GTEST_SKIP() << reason;
    }
    const std::string tstp = std::to_string(SIGTSTP);
    const std::string intr = std::to_string(SIGINT);
    const FaultCase cases[] = {
        // Before key mode: no wait, as with no terminal.
        {"sigprocmask 1 EINVAL", "", 0, true, ""},
        {"tcgetpgrp 1 ENOTTY", "", 0, true, ""},
        {"catch:" + tstp + " 1 EINVAL", "", 0, true, ""},
        {"catch:" + intr + " 1 EINVAL", "", 0, true, ""},
        {"query:" + intr + " 1 EINVAL", "", 0, true, ""},
        // A real-time signal's action that cannot be had is the system's own.
        {"query:" + std::to_string(SIGRTMAX) + " 1 EINVAL", "x", 0, true, ""},
        // In key mode: the wait ends, the terminal given back.
        {"pselect 1 ENOMEM", "", 0, true, ""},
        {"uncatch:" + tstp + " 1 EINVAL", "\x1a", 0, true, ""},
        // Giving the terminal back: again after EINTR, else reported; from
        // the foreground even where SIGTTOU cannot be held.
        {"tcgetattr 1 EINTR after-key", "x", 0, true, ""},
        {"tcsetattr 1 EINTR after-key", "x", 0, true, ""},
        {"sigprocmask 1 EINVAL after-key", "x", 0, true, ""},
        {"tcsetattr 1 EINVAL after-key", "x", 1, false,
            " 2 1\r\ncountdown: cannot put the terminal's settings back: Invalid argument\r\n"},
        // A Ctrl+C that comes as the signals are uncaught still ends it.
        {"uncatch:" + intr + " 1 raise:" + intr + " after-key", "x", -SIGINT, true, ""},
        // A fault in the program's own code, in key mode.
        {"pselect 1 segv", "", -SIGSEGV, true, ""},
        // The heading's write fails, the countdown line's succeeds.
        {"puts 1 EIO", "", 1, true, " 2 1\r\ncountdown: write error: Input/output error\r\n"},
    };
    for (const FaultCase& row : cases) {
        SCOPED_TRACE(row.fault);
        TerminalSession session({"/usr/bin/env", "LD_PRELOAD=" FAULT_LIBRARY, "COUNTDOWN_FAULT=" + row.fault,
            "ASAN_OPTIONS=verify_asan_link_order=0", ProgramUnderTest()});
        std::string screen;
        if (*row.keys != '\0') {
            ASSERT_TRUE(session.WaitForKeyMode()) << "no wait";
            screen = session.ReadScreen(0);
            session.Type(row.keys);
        }
        const int status = session.Wait(std::chrono::seconds(3));
        screen += session.ReadScreen(0);
        if (row.exit_code >= 0) {
            EXPECT_TRUE(ExitedWith(status, row.exit_code)) << "status " << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == -row.exit_code) << "status " << status;
        }
        EXPECT_EQ(SameSettings(session.Settings(), session.InitialSettings()), row.settings_found);
        if (*row.message != '\0') {
            EXPECT_THAT(screen, HasSubstr(row.message));
        } else {
            EXPECT_THAT(screen, Not(HasSubstr("countdown:")));
        }
        if (HasFailure()) {
            break;
        }
    }
}

} // namespace
