// The key press on POSIX systems: one key from the controlling terminal, in
// key mode (no echo, no line editing), under a job-control shell.
//
// The wait is a loop in ordinary code that does what the signals ask
// (wait_signals.hpp): it stops or ends, and after any continue enters key
// mode again if it is in the foreground. In the background it reads anyway,
// so that SIGTTIN stops it until `fg`, as it does any program that reads the
// terminal.
//
// A failure that leaves the terminal as found ends the wait as if there were
// no terminal: status 0, the output written. A failure to leave key mode ends
// it with the error, for the program to report.

#include <cerrno>

#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include "console_key.hpp"
#include "key_bytes.hpp"
#include "terminal_mode.hpp"
#include "wait_signals.hpp"

namespace {

// The bytes of one key may trickle in over a slow link: this long a gap ends
// the key.
constexpr long key_gap_ns = 100'000'000;

enum class Read { Byte, Again, End };

// End: end of file, a hang-up, or a read from the background that cannot
// stop the job (an orphaned process group): no key will ever come.
Read ReadByte(int terminal, unsigned char& byte)
{
    const ssize_t got = read(terminal, &byte, 1);
    if (got == 1) {
        return Read::Byte;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return Read::Again;
    }
    return Read::End;
}

enum class Ready { Terminal, Signal, GapEnded, Error };

// Sleeps until the terminal has input or a signal comes, or, where a pause
// ends the key begun, until the gap that ends it.
Ready WaitForInput(int terminal, bool pause_ends_key)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(terminal, &readable);
    const timespec gap{0, key_gap_ns};
    const int ready
        = pselect(terminal + 1, &readable, nullptr, nullptr, pause_ends_key ? &gap : nullptr, WaitMask());
    if (ready < 0) {
        return errno == EINTR ? Ready::Signal : Ready::Error;
    }
    return ready == 0 ? Ready::GapEnded : Ready::Terminal;
}

// The wait's state between one look at the terminal and the next.
struct Wait {
    int terminal = -1;
    TerminalSettings settings;
    // On the first look and after every continue: the shell may have set its
    // own mode meanwhile.
    bool key_mode_due = true;
    int ending_signal = 0; // the signal to end by, once out of key mode
};

// Where the handlers reach it, through LeaveKeyModeNow: its terminal is set
// before any handler is installed, and its settings say themselves when they
// may be read.
Wait the_wait;

} // namespace

void LeaveKeyModeNow()
{
    LeaveKeyMode(the_wait.terminal, the_wait.settings);
}

namespace {

// Does what the signals ask: leaves key mode (the handler did, unless that
// failed) and stops until continued; End ends the wait.
Read ActOnSignals(Wait& wait)
{
    const SignalsArrived arrived = TakeSignalsArrived();
    wait.key_mode_due = wait.key_mode_due || arrived.continued;
    if (arrived.ending != 0) {
        wait.ending_signal = arrived.ending;
        return Read::End;
    }
    if (!arrived.stop) {
        return Read::Again;
    }
    if (LeaveKeyMode(wait.terminal, wait.settings) == Leave::Failed || !UncatchSignals()
        || !StopUntilContinued()) {
        return Read::End;
    }
    wait.key_mode_due = true;
    return Read::Again;
}

// Enters key mode if the terminal is ours; in the background, reads anyway,
// to be stopped until it is.
Read TakeTheTerminal(Wait& wait, unsigned char& byte)
{
    // Caught first, so that no signal ends the program in key mode.
    if (!CatchSignals()) {
        return Read::End;
    }
    switch (EnterKeyMode(wait.terminal, wait.settings)) {
    case KeyMode::Entered:
        wait.key_mode_due = false;
        return Read::Again;
    case KeyMode::Background:
        // `bg` after a stop that the wait had no time to act on (SIGSTOP):
        // the shell's prompt must not be left without echo.
        if (LeaveKeyMode(wait.terminal, wait.settings) == Leave::Failed || !UncatchSignals()) {
            return Read::End;
        }
        // SIGTTIN stops the job, as for `cat &`, until `fg` or `bg`.
        return ReadByte(wait.terminal, byte);
    case KeyMode::Refused:
        break;
    }
    return Read::End;
}

// The next byte of the key; Again when a signal came first; End when the
// terminal has no more to give or the key's bytes stopped coming.
Read NextByte(Wait& wait, bool pause_ends_key, unsigned char& byte)
{
    switch (WaitForInput(wait.terminal, pause_ends_key)) {
    case Ready::Terminal: {
        errno = 0; // the end of file sets none
        const Read read = ReadByte(wait.terminal, byte);
        // Ctrl+Z stopped a wrapper and the shell took the terminal between
        // pselect and read (SIGTTIN is blocked): enter key mode again, which
        // from the background leaves it instead; after a hang-up it ends.
        if (read == Read::End && errno == EIO && tcgetpgrp(wait.terminal) != getpgrp()) {
            wait.key_mode_due = true;
            return Read::Again;
        }
        return read;
    }
    case Ready::Signal:
        return Read::Again;
    case Ready::GapEnded:
    case Ready::Error:
        break;
    }
    return Read::End;
}

// Leaves key mode and the signals for good; a signal that came, or is still
// pending, then ends the program. 0, or why key mode could not be left.
int EndTheWait(Wait& wait)
{
    // A signal handled as pselect reported the key's last byte still ends
    // the program.
    const int ending_signal = wait.ending_signal != 0 ? wait.ending_signal : TakeSignalsArrived().ending;
    if (LeaveKeyMode(wait.terminal, wait.settings) == Leave::Failed) {
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
    // The user's terminal, whatever standard input is. Non-blocking: a read
    // in a race with `fg` must not block in the shell's mode.
    wait.terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (wait.terminal < 0) {
        return 0; // no terminal (cron, CI, a service): nobody to press a key
    }
    if (wait.terminal >= FD_SETSIZE || !WatchSignals()) {
        close(wait.terminal);
        return 0;
    }
    KeyBytes key;
    Read read = Read::Again;
    while (read != Read::End) {
        unsigned char byte = 0;
        read = ActOnSignals(wait);
        if (read == Read::Again && wait.key_mode_due) {
            read = TakeTheTerminal(wait, byte);
        }
        if (read == Read::Again) {
            read = NextByte(wait, PauseEndsKey(key), byte);
        }
        if (read == Read::Byte && TakeByte(key, byte)) {
            break;
        }
    }
    return EndTheWait(wait);
}
