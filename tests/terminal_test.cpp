// The wait for a key, as a user at a terminal meets it.

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "child_process.hpp"
#include "expected_output.hpp"

namespace {

// The terminal turns each newline into a carriage return and a line feed.
const std::string screen = expected::Output("\r\n");

// Runs the program up to its wait, checking what is on the screen by then
// and the key mode it waits in.
void StartAndReachTheWait(TerminalSession& session)
{
    EXPECT_EQ(session.ReadScreen(screen.size()), screen);
    ASSERT_TRUE(session.WaitForKeyMode()) << "no wait in key mode";
    EXPECT_TRUE(session.Running());
}

// Far above the tenth of a second that Escape alone waits for the rest of a
// key, far below the seconds that no key may take to end the wait.
constexpr auto key_guard = std::chrono::seconds(3);

// Stands between two parts of a key for a pause longer than the gap that
// ends a key, as a slow or distant link makes.
const std::string pause;

// One key of each kind ends the wait once, unechoed, and is read whole. A key
// given in parts is typed part by part, each once the program has read the
// ones before, as over a slow link; a report typed before a key is read whole
// and ends nothing.
TEST(Terminal, OneKeyEndsTheWaitWithoutEchoAndLeavesNothingBehind)
{
    const std::vector<std::string> keys[] = {{"x"}, {"\r"}, {"\x16" /* Ctrl+V */},
        {"\x13x\x11" /* Ctrl+S and Ctrl+Q pause and resume output, and only x ends the wait */},
        {"\x04" /* Ctrl+D */}, {"\x1b[A" /* Up */}, {"\x1b[1;5C" /* Ctrl+Right */}, {"\x1bOP" /* F1 */},
        {"\xc6\xb0" /* the letter u with a horn */}, {"\x1b\x1b[A" /* Alt+Up */},
        {"\x1b\xc6\xb0" /* Alt+u with a horn */}, {"\x1bO2P" /* Shift+F1 */}, {"\x1b[15;5~" /* Ctrl+F5 */},
        {"\x1b[27;5;9~" /* Ctrl+Tab, as xterm's modifyOtherKeys sends it */}, {"\x1b" /* Escape alone */},
        {"\x1b[", "A"} /* Up, its last byte late */, {"\x1b[M" /* F1 in SCO mode */},
        // A click and its release, and a change of focus, are no keys.
        {"\x1b[M 4%\x1b[M#4%" /* X10 */, "x"}, {"\x1b[<0;20;5M\x1b[<0;20;5m" /* SGR */, "x"},
        {"\x1b[O", "\x1b[I", "x"},
        // A paste that the terminal marks as one is one key, whatever its length.
        {"\x1b[200~echo one two three four five six seven\rls -l\r\x1b[201~"},
        {"\x1b[200~echo pasted\r\x1b[20", "1~"},
        // Neither a paste nor a report ends at a pause, but at its end.
        {"\x1b[200~echo one\r", pause, "touch two\r\x1b[201~"}, {"\x1b[<0;20", pause, ";5M", "x"}};
    for (const auto& parts : keys) {
        SCOPED_TRACE(testing::PrintToString(parts));
        TerminalSession session({ProgramUnderTest()});
        StartAndReachTheWait(session);
        for (std::size_t part = 0; part + 1 < parts.size(); ++part) {
            if (parts[part] == pause) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            } else {
                ASSERT_TRUE(session.TypeAndAwaitTheirRead(parts[part]));
            }
        }
        session.Type(parts.back());
        const int status = session.Wait(key_guard);
        EXPECT_TRUE(ExitedWith(status, 0)) << "status " << status;
        EXPECT_EQ(session.ReadScreen(0), "") << "echoed or wrote after the key";
        EXPECT_TRUE(SameSettings(session.Settings(), session.InitialSettings()));
        EXPECT_EQ(session.UnreadInput(), 0);
        if (HasFailure()) {
            break; // a broken wait fails every key alike
        }
    }
}

TEST(Terminal, KeyTypedBeforeTheWaitEndsItAndOnlyThatKeyIsTaken)
{
    TerminalSession session({ProgramUnderTest()});
    session.Type("q");
    EXPECT_EQ(session.Wait(), 0);

    TerminalSession typing_ahead({ProgramUnderTest()});
    StartAndReachTheWait(typing_ahead);
    typing_ahead.Type("yls\r");
    EXPECT_EQ(typing_ahead.Wait(), 0);
    EXPECT_EQ(typing_ahead.UnreadInput(), 3) << "what was typed after the key is the shell's";
}

TEST(Terminal, StandardInputDoesNotReplaceTheKeyboard)
{
    TerminalSession session({ProgramUnderTest()}, /*stdin_from_null=*/true);
    StartAndReachTheWait(session);
    session.Type(" ");
    EXPECT_EQ(session.Wait(), 0);
}

TEST(Terminal, CtrlZWithNoShellToStopForLeavesTheWaitGoingOn)
{
    // As `exec countdown` or `xterm -e countdown`: nobody could continue the
    // program, so the kernel drops its stop, and the wait goes on. The
    // terminal raises SIGTSTP as Ctrl+Z is typed, so the key comes after it.
    TerminalSession session({ProgramUnderTest()});
    StartAndReachTheWait(session);
    session.Type("\x1a");
    session.Type("x");
    const int status = session.Wait(key_guard);
    EXPECT_TRUE(ExitedWith(status, 0)) << "status " << status;
    EXPECT_TRUE(SameSettings(session.Settings(), session.InitialSettings()));
}

TEST(Terminal, EndingSignalsEndTheProgramByThatSignalWithTheTerminalRestored)
{
    // By its key where it has one, otherwise sent (0 for "no key") and
    // followed at once by a key, which must not win over it.
    // Every signal that would end the program: a few stand for the rest. (The
    // real-time one is near SIGRTMAX: qemu-user hands its program those near
    // SIGRTMIN two lower, as the C library's own.)
    const std::pair<int, char> endings[] = {{SIGINT, '\x03'}, {SIGQUIT, '\x1c'}, {SIGTERM, 0}, {SIGHUP, 0},
        {SIGUSR1, 0}, {SIGALRM, 0}, {SIGSEGV, 0}, {SIGRTMAX - 1, 0}};
    for (const auto& [signal_number, key] : endings) {
        SCOPED_TRACE(signal_number);
        TerminalSession session({ProgramUnderTest()});
        StartAndReachTheWait(session);
        if (key != 0) {
            session.Type(std::string(1, key));
        } else {
            session.Signal(signal_number);
            session.Type("k");
        }
        const int status = session.Wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << "status " << status;
        EXPECT_TRUE(SameSettings(session.Settings(), session.InitialSettings()));
        if (HasFailure()) {
            break;
        }
    }
}

TEST(Terminal, IgnoredHangUpSignalStaysIgnoredAndAHangUpEndsTheWait)
{
    // As under nohup: SIGHUP ignored from the start. The key comes once the
    // signal is taken, so a wait that caught it would end by it.
    const std::vector<std::string> under_nohup
        = {"/bin/sh", "-c", "trap '' HUP; exec \"$0\"", ProgramUnderTest()};
    TerminalSession signalled(under_nohup);
    StartAndReachTheWait(signalled);
    signalled.Signal(SIGHUP);
    ASSERT_TRUE(signalled.SignalTaken(SIGHUP));
    signalled.Type("k");
    int status = signalled.Wait();
    EXPECT_TRUE(ExitedWith(status, 0)) << "status " << status;

    TerminalSession hung_up(under_nohup);
    StartAndReachTheWait(hung_up);
    hung_up.HangUp();
    status = hung_up.Wait();
    EXPECT_TRUE(ExitedWith(status, 0)) << "status " << status;
}

TEST(Terminal, UndeliveredOutputSkipsTheWait)
{
    // Standard output on a full disk, the terminal still there to wait on.
    TerminalSession session({"/bin/sh", "-c", "exec \"$0\" >/dev/full", ProgramUnderTest()});
    EXPECT_EQ(session.ReadScreen(100), "countdown: write error: No space left on device\r\n");
    const int status = session.Wait();
    EXPECT_TRUE(ExitedWith(status, 1)) << "status " << status;
}

} // namespace
