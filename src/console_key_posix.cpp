// The key press on POSIX systems: one key from the controlling terminal, read
// without echo and without line editing, under a job-control shell.
//
// The wait is a loop in ordinary code. Signal handlers only note what came
// (wait_signals.cpp); the loop then gives the terminal back and stops or ends,
// and after any continue, takes the terminal again if it is in the
// foreground. In the background it reads anyway, so that the kernel stops it
// with SIGTTIN until `fg`, as it does any program that wants terminal input.

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include "console_key.hpp"
#include "key_bytes.hpp"
#include "terminal_mode.hpp"
#include "wait_signals.hpp"

namespace {

// Bytes of one key beyond its first arrive together from a terminal emulator,
// but may trickle in over a slow link: this long a gap ends the key.
constexpr suseconds_t key_gap_us = 100'000;

enum class Read { Byte, Nothing, End };

// End is end of file or an error such as a hang-up, or a read from the
// background that cannot stop the job (an orphaned process group, SIGTTIN
// ignored): the wait ends then rather than spin on a terminal that will never
// deliver a key.
Read ReadByte(int terminal, unsigned char& byte)
{
    const ssize_t got = read(terminal, &byte, 1);
    if (got == 1) {
        return Read::Byte;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return Read::Nothing;
    }
    return Read::End;
}

enum class Ready { Terminal, Signal, GapEnded, Error };

// Waits until the terminal or the signals' pipe (`wake`, -1 for none) has
// something, or, with part of a key read, until the gap that ends the key.
Ready WaitForInput(int terminal, int wake, bool key_begun)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(terminal, &readable);
    if (wake >= 0) {
        FD_SET(wake, &readable);
    }
    timeval gap{0, key_gap_us};
    const int ready = select((wake > terminal ? wake : terminal) + 1, &readable, nullptr, nullptr,
        key_begun ? &gap : nullptr);
    if (ready < 0) {
        return errno == EINTR ? Ready::Signal : Ready::Error;
    }
    if (ready == 0) {
        return Ready::GapEnded;
    }
    // A signal first: what it asks for may change who gets the key.
    return wake >= 0 && FD_ISSET(wake, &readable) ? Ready::Signal : Ready::Terminal;
}

// The wait's state between one look at the terminal and the next.
struct Wait {
    int terminal = -1;
    int wake = -1;
    TerminalSettings settings;
    // Key mode is set on the first look and again after every continue: the
    // shell may have put its own mode in place while the program was stopped.
    bool key_mode_due = true;
};

// Gives the terminal back and lets go of the signals for good; then, if an
// ending signal came, ends the program by it.
void EndTheWait(Wait& wait, int ending_signal)
{
    RestoreFoundSettings(wait.terminal, wait.settings);
    UnwatchSignals();
    close(wait.terminal);
    if (ending_signal != 0) {
        EndBySignal(ending_signal);
    }
}

// Does what the signals that came ask for: ends the program, or gives the
// terminal back and stops until continued.
void ActOnSignals(Wait& wait)
{
    const SignalsArrived arrived = TakeSignalsArrived();
    wait.key_mode_due = wait.key_mode_due || arrived.continued;
    if (arrived.ending != 0) {
        EndTheWait(wait, arrived.ending);
    }
    if (!arrived.stop) {
        return;
    }
    RestoreFoundSettings(wait.terminal, wait.settings);
    ReleaseEndingSignals();
    StopUntilContinued();
    wait.key_mode_due = true;
}

// Puts the terminal in key mode if it is ours; in the background, reads
// anyway, to be stopped until it is.
Read TakeTheTerminal(Wait& wait, unsigned char& byte)
{
    // Caught before the mode changes, so that no signal can end the program
    // in between with the terminal in key mode.
    CatchEndingSignals();
    switch (EnterKeyMode(wait.terminal, wait.settings)) {
    case KeyMode::Entered:
        wait.key_mode_due = false;
        return Read::Nothing;
    case KeyMode::Background:
        // Continued in the background (`bg`) while still in key mode, as after
        // a stop that the wait had no time to act on: the shell's prompt must
        // not be left without echo.
        RestoreFoundSettings(wait.terminal, wait.settings);
        ReleaseEndingSignals();
        // Stops the job with SIGTTIN, as for `cat &`; `fg` or `bg` continues
        // it, the read gives EINTR, and the wait looks again.
        return ReadByte(wait.terminal, byte);
    case KeyMode::Refused:
        break;
    }
    // Without the mode there is no reading one unechoed key: the wait ends as
    // if there were no terminal, and since tcsetattr changed nothing, the
    // terminal is left as it was.
    return Read::End;
}

// The next byte of the key, Nothing when a signal came first, End when the
// terminal has no more to give or the key's bytes stopped coming.
Read NextByte(const Wait& wait, bool key_begun, unsigned char& byte)
{
    switch (WaitForInput(wait.terminal, wait.wake, key_begun)) {
    case Ready::Terminal:
        return ReadByte(wait.terminal, byte);
    case Ready::Signal:
        return Read::Nothing;
    case Ready::GapEnded:
    case Ready::Error:
        break;
    }
    return Read::End;
}

} // namespace

void WaitForKey()
{
    Wait wait;
    // The key comes from the user's terminal, whatever standard input is.
    // Non-blocking: select says when a byte is there, and a read made in a
    // race with `fg` must not block in the shell's mode.
    wait.terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (wait.terminal < 0) {
        return; // no terminal (cron, CI, a service): nobody to press a key
    }
    wait.wake = WatchSignals();
    std::array<unsigned char, longest_key> key{};
    std::size_t length = 0;
    Read read = Read::Nothing;
    while (read != Read::End) {
        ActOnSignals(wait);
        read = wait.key_mode_due ? TakeTheTerminal(wait, key[length]) : Read::Nothing;
        if (read == Read::Nothing) {
            read = NextByte(wait, length > 0, key[length]);
        }
        if (read == Read::Byte) {
            ++length;
            if (length == key.size() || IsWholeKey({key.data(), length})) {
                break;
            }
        }
    }
    // A signal that comes in the same moment as the key's last byte may be
    // handled only after select has reported the byte: it still ends the
    // program by that signal, as a hang-up must, rather than with success.
    EndTheWait(wait, TakeSignalsArrived().ending);
}
