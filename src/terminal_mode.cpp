// The key mode and the way back. Every change is made with signals blocked,
// so that no SIGTTOU stops the process and no handler comes between a change
// and its record, and key mode is entered only in the foreground. The way
// back is made from wherever the process stands, since a shell takes the
// terminal the moment a wrapper script stops or dies, but only over the very
// key mode that the program set: nobody else's mode is overwritten. (Between
// that check and the change a shell can still set its own mode; its next
// prompt sets it again. Settings have no compare-and-set.)

#include "terminal_mode.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

enum class Group { Foreground, Background, Unknown };

// Whether this process group is the terminal's foreground group.
Group ThisGroup(int terminal)
{
    const pid_t foreground = tcgetpgrp(terminal);
    if (foreground < 0) {
        return Group::Unknown;
    }
    return foreground == getpgrp() ? Group::Foreground : Group::Background;
}

// Runs `change` with every signal blocked. Where they cannot be, it runs all
// the same in the foreground, where no SIGTTOU comes, and not elsewhere.
template <typename Change> void WithSignalsBlocked(int terminal, Change change)
{
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    if (sigprocmask(SIG_BLOCK, &all, &previous) != 0) {
        const int failure = errno;
        if (ThisGroup(terminal) == Group::Foreground) {
            change();
        } else {
            errno = failure;
        }
        return;
    }
    change();
    const int saved_errno = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = saved_errno;
}

// Makes the call again after EINTR; whether it succeeded.
template <typename Call> bool RetriedAfterSignals(Call call)
{
    int result = 0;
    do {
        result = call();
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool GetSettings(int terminal, termios& settings)
{
    return RetriedAfterSignals([&] { return tcgetattr(terminal, &settings); });
}

bool SetSettings(int terminal, const termios& settings)
{
    return RetriedAfterSignals([&] { return tcsetattr(terminal, TCSANOW, &settings); });
}

} // namespace

bool SameSettings(const termios& a, const termios& b)
{
    // The kernel's own state bits, which no program sets: the BSDs' Ctrl+O
    // flips FLUSHO, and a switch to line editing with input held sets PENDIN.
    tcflag_t state_bits = 0;
#ifdef FLUSHO
    state_bits |= FLUSHO;
#endif
#ifdef PENDIN
    state_bits |= PENDIN;
#endif
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag
        && (a.c_lflag & ~state_bits) == (b.c_lflag & ~state_bits)
        && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b)
        && cfgetospeed(&a) == cfgetospeed(&b);
}

termios KeyModeFrom(const termios& found)
{
    termios key_mode = found;
    // Echo and line editing off; ISIG and IXON keep Ctrl+C, Ctrl+Z, Ctrl+S
    // and Ctrl+Q.
    key_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    key_mode.c_cc[VMIN] = 1;
    key_mode.c_cc[VTIME] = 0;
    // Ctrl+V and Ctrl+O are keys like any other. The BSDs and macOS act on
    // them even without line editing while IEXTEN is on; Linux does not, and
    // there a shell that adopts the key mode (zsh, busybox) keeps them.
#if !defined(__linux__) && defined(VLNEXT) && defined(VDISCARD)
    key_mode.c_cc[VLNEXT] = _POSIX_VDISABLE;
    key_mode.c_cc[VDISCARD] = _POSIX_VDISABLE;
#endif
    return key_mode;
}

KeyMode EnterKeyMode(int terminal, TerminalSettings& settings)
{
    KeyMode result = KeyMode::Refused;
    WithSignalsBlocked(terminal, [&] {
        const Group group = ThisGroup(terminal);
        if (group != Group::Foreground) {
            result = group == Group::Background ? KeyMode::Background : KeyMode::Refused;
            return;
        }
        if (!settings.found_taken) {
            settings.found_taken = GetSettings(terminal, settings.found);
            if (!settings.found_taken) {
                return;
            }
        }
        const termios key_mode = KeyModeFrom(settings.found);
        // TCSANOW, not TCSAFLUSH: a key typed before the wait began must end it.
        if (!SetSettings(terminal, key_mode)) {
            return;
        }
        // As the terminal holds it: a driver may adjust what it was given.
        termios as_held{};
        settings.key_mode = GetSettings(terminal, as_held) ? as_held : key_mode;
        std::atomic_signal_fence(std::memory_order_release); // the records before the flag
        settings.in_key_mode = 1;
        result = KeyMode::Entered;
    });
    return result;
}

Leave LeaveKeyMode(int terminal, TerminalSettings& settings)
{
    if (settings.in_key_mode == 0) {
        return Leave::Restored;
    }
    std::atomic_signal_fence(std::memory_order_acquire); // the flag before the records
    Leave result = Leave::Failed;
    WithSignalsBlocked(terminal, [&] {
        termios now{};
        if (!GetSettings(terminal, now)) {
            // EIO: hung up, and nobody left to give the terminal back to.
            result = errno == EIO ? Leave::Restored : Leave::Failed;
        } else if (!SameSettings(now, settings.key_mode)) {
            result = Leave::LeftAlone;
        } else if (SetSettings(terminal, settings.found) || errno == EIO) {
            result = Leave::Restored;
        }
    });
    if (result != Leave::Failed) {
        settings.in_key_mode = 0;
    }
    return result;
}
