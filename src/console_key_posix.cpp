// The key press on POSIX systems: one key from the controlling terminal, read
// without echo and without line editing, under a job-control shell.
//
// The wait is a loop in ordinary code. Signal handlers note what came and give
// the terminal back (wait_signals.cpp); the loop then stops or ends, and after
// any continue, takes the terminal again if it is in the foreground. In the
// background it reads anyway, so that the kernel stops it with SIGTTIN until
// `fg`, as it does any program that wants terminal input.
//
// Every call the wait depends on is checked, and what a failure means is
// decided here, once, by what it leaves the user with:
// - A failure that leaves the terminal as it was found (the terminal, its
//   settings or the signals cannot be had, the key mode is refused, the wait
//   cannot sleep or stop) ends the wait as if there were no terminal: the
//   program exits 0, its output written, the terminal given back first if it
//   was taken. No signal is caught unless all are: none can then act on the
//   key mode.
// - A failure to give the terminal back, after retries where a signal
//   interrupted the call, ends the wait at once with its error number, for
//   the program to report: whoever types blind at the prompt must learn why.

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
constexpr long key_gap_ns = 100'000'000;

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

// Sleeps until the terminal has something or a watched signal comes, or, with
// part of a key read, until the gap that ends the key. The signals are let in
// here alone, atomically with going to sleep, so none can come unseen between
// the wait's last look and this call.
Ready WaitForInput(int terminal, bool key_begun)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(terminal, &readable);
    const timespec gap{0, key_gap_ns};
    const int ready
        = pselect(terminal + 1, &readable, nullptr, nullptr, key_begun ? &gap : nullptr, MaskWhileBlocked());
    if (ready < 0) {
        return errno == EINTR ? Ready::Signal : Ready::Error;
    }
    return ready == 0 ? Ready::GapEnded : Ready::Terminal;
}

// The wait's state between one look at the terminal and the next.
struct Wait {
    int terminal = -1;
    TerminalSettings settings;
    // Key mode is set on the first look and again after every continue: the
    // shell may have put its own mode in place while the program was stopped.
    bool key_mode_due = true;
    int ending_signal = 0; // the signal to end by, once the terminal is back
};

// The one wait, where the signal handlers can reach it. They run only inside
// the wait's pselect, a call the compiler cannot see into, so every change
// made to the wait before it is in memory by then.
Wait the_wait;

void GiveTheTerminalBackNow()
{
    RestoreFoundSettings(the_wait.terminal, the_wait.settings);
}

// Does what the signals that came ask for: gives the terminal back (the
// handler did, unless that failed) and stops until continued; End to end the
// wait, by an ending signal or a failure.
Read ActOnSignals(Wait& wait)
{
    const SignalsArrived arrived = TakeSignalsArrived();
    wait.key_mode_due = wait.key_mode_due || arrived.continued;
    if (arrived.ending != 0) {
        wait.ending_signal = arrived.ending;
        return Read::End;
    }
    if (!arrived.stop) {
        return Read::Nothing;
    }
    if (RestoreFoundSettings(wait.terminal, wait.settings) == GiveBack::Failed || !ReleaseEndingSignals()
        || !StopUntilContinued()) {
        return Read::End;
    }
    wait.key_mode_due = true;
    return Read::Nothing;
}

// Puts the terminal in key mode if it is ours; in the background, reads
// anyway, to be stopped until it is.
Read TakeTheTerminal(Wait& wait, unsigned char& byte)
{
    // Caught before the mode changes, so that no signal can end the program
    // in between with the terminal in key mode.
    if (!CatchEndingSignals()) {
        return Read::End;
    }
    switch (EnterKeyMode(wait.terminal, wait.settings)) {
    case KeyMode::Entered:
        wait.key_mode_due = false;
        return Read::Nothing;
    case KeyMode::Background:
        // Continued in the background (`bg`) while still in key mode, as after
        // a stop that the wait had no time to act on: the shell's prompt must
        // not be left without echo.
        if (RestoreFoundSettings(wait.terminal, wait.settings) == GiveBack::Failed
            || !ReleaseEndingSignals()) {
            return Read::End;
        }
        // Stops the job with SIGTTIN, as for `cat &`; `fg` or `bg` continues
        // it, the read gives EINTR or EAGAIN, and the wait looks again.
        return ReadByte(wait.terminal, byte);
    case KeyMode::Refused:
        break;
    }
    return Read::End;
}

// The next byte of the key, Nothing when a signal came first, End when the
// terminal has no more to give or the key's bytes stopped coming.
Read NextByte(Wait& wait, bool key_begun, unsigned char& byte)
{
    switch (WaitForInput(wait.terminal, key_begun)) {
    case Ready::Terminal: {
        const Read read = ReadByte(wait.terminal, byte);
        // The shell took the terminal after the look (Ctrl+Z stopped a
        // wrapper at once), and the read, with SIGTTIN held, failed rather
        // than stop the process in key mode. The wait takes the terminal
        // again: in the background that gives it back and reads there, to be
        // stopped; a hang-up refuses it, and ends the wait.
        if (read == Read::End && errno == EIO && tcgetpgrp(wait.terminal) != getpgrp()) {
            wait.key_mode_due = true;
            return Read::Nothing;
        }
        return read;
    }
    case Ready::Signal:
        return Read::Nothing;
    case Ready::GapEnded:
    case Ready::Error:
        break;
    }
    return Read::End;
}

// Gives the terminal back and lets go of the signals for good; a signal that
// came before, or that is still to be let in, then ends the program by its
// own action. 0, or why the terminal could not go back.
int EndTheWait(Wait& wait)
{
    // A signal that comes in the same moment as the key's last byte may be
    // handled only after pselect has reported the byte: it still ends the
    // program, as a hang-up must, rather than with success.
    const int ending_signal = wait.ending_signal != 0 ? wait.ending_signal : TakeSignalsArrived().ending;
    if (RestoreFoundSettings(wait.terminal, wait.settings) == GiveBack::Failed) {
        return errno;
    }
    close(wait.terminal);
    if (ending_signal != 0) {
        EndBySignal(ending_signal);
    }
    UnwatchSignals();
    return 0;
}

} // namespace

int WaitForKey()
{
    Wait& wait = the_wait;
    // The key comes from the user's terminal, whatever standard input is.
    // Non-blocking: pselect says when a byte is there, and a read made in a
    // race with `fg` must not block in the shell's mode.
    wait.terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (wait.terminal < 0) {
        return 0; // no terminal (cron, CI, a service): nobody to press a key
    }
    if (wait.terminal >= FD_SETSIZE || !WatchSignals(GiveTheTerminalBackNow)) {
        close(wait.terminal);
        return 0;
    }
    std::array<unsigned char, longest_key> key{};
    std::size_t length = 0;
    Read read = Read::Nothing;
    while (read != Read::End) {
        read = ActOnSignals(wait);
        if (read == Read::Nothing && wait.key_mode_due) {
            read = TakeTheTerminal(wait, key[length]);
        }
        if (read == Read::Nothing) {
            read = NextByte(wait, length > 0, key[length]);
        }
        if (read == Read::Byte) {
            ++length;
            const Input input = WhatIsRead({key.data(), length});
            if (input == Input::Report) {
                length = 0; // a click or a change of focus, not a key: the wait goes on
            } else if (input == Input::KeyPress) {
                break;
            } else if (length == key.size()) {
                length = ForgetPastedText(key);
                if (length == key.size()) {
                    break;
                }
            }
        }
    }
    return EndTheWait(wait);
}
