// The terminal's mode while the program waits for its key, and the way back.
//
// A process group that is not in the foreground leaves the terminal alone:
// the shell owns it then, and a change from the background would either stop
// this process with SIGTTOU or, with SIGTTOU blocked, overwrite the shell's own
// mode. So every change here is made with SIGTTOU blocked, so that nothing
// here can stop the process even when the shell takes the terminal back in
// between, and only after checking that this group is the foreground group.
//
// The way back is checked otherwise. Ctrl+Z, Ctrl+\ or a signal to the whole
// job can end or stop a wrapper (a script, `sh -c`, make) at once, and the
// shell then takes the terminal back before the wait has given up its key
// mode. A shell that puts no mode of its own back (dash, every `#!/bin/sh`
// script's shell) would leave the user typing blind. So the found settings go
// back wherever the process stands, in the foreground or not, but only over
// the very key mode this program set: then nobody has changed the terminal
// since, and nobody's mode is overwritten. This is ncurses' way of leaving on
// SIGTSTP (SIGTTOU blocked, the shell's mode put back from wherever the
// process stands), made safe by that check. Whether the group is in the
// foreground is not asked: the answer may be stale by the time of the change,
// as a shell takes the terminal the moment a wrapper stops. What remains is
// the moment between reading the settings and the change: a shell that sets
// its own mode in exactly that moment has it replaced by the settings found,
// which its next prompt sets over again. It holds the comparison, and glibc's
// tcsetattr, which reads the settings once more before it changes them: a
// few microseconds, but about half a millisecond under an emulator
// (qemu-user), where a trace showed zsh's line editor set its mode inside it
// now and then. Nothing the program can do closes it: a terminal's settings
// have no compare-and-set, the kernel locks them for one call at a time, and
// a shell takes no lock that the program could wait for. The signal handlers
// give the terminal back this way too, as the signal arrives, so every call
// here is async-signal-safe.

#include "terminal_mode.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

enum class Group { Foreground, Background, Unknown };

// Whether this process group is the terminal's foreground group. getpgrp
// cannot fail.
Group ThisGroup(int terminal)
{
    const pid_t foreground = tcgetpgrp(terminal);
    if (foreground < 0) {
        return Group::Unknown;
    }
    return foreground == getpgrp() ? Group::Foreground : Group::Background;
}

// Runs `change` with every signal held back: SIGTTOU, so that a change from
// the background is made (or refused) rather than stopping the process, and
// the rest, so that no handler that gives the terminal back comes between a
// change and its record. Where signals cannot be held, `change` runs all the
// same in the foreground, where no SIGTTOU comes, and not at all elsewhere,
// where its caller's result stays a failure.
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

// The call again where a signal interrupted it; whether it succeeded.
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
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag
        && a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0
        && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
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
        termios key_mode = settings.found;
        // No echo and no line editing, and nothing more. ISIG stays, so Ctrl+C,
        // Ctrl+Z and Ctrl+\ keep their meaning, and so do IXON (Ctrl+S and
        // Ctrl+Q pause and resume output) and IEXTEN (Ctrl+V takes the next
        // key literally): a shell that takes the terminal back before the
        // program has given it back keeps whatever it finds as its own mode
        // but for echo and line editing, which it turns back on (zsh). So
        // this is the one key mode that no shell can keep by mistake.
        key_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
        key_mode.c_cc[VMIN] = 1;
        key_mode.c_cc[VTIME] = 0;
        // TCSANOW, not TCSAFLUSH: a key typed before the wait began must end it.
        if (!SetSettings(terminal, key_mode)) {
            return;
        }
        // As the terminal holds it, where it says: a driver may adjust what it
        // was given.
        termios as_held{};
        settings.key_mode = GetSettings(terminal, as_held) ? as_held : key_mode;
        settings.key_mode_held = true;
        result = KeyMode::Entered;
    });
    return result;
}

GiveBack RestoreFoundSettings(int terminal, TerminalSettings& settings)
{
    if (!settings.key_mode_held) {
        return GiveBack::Done; // not in key mode, or given back already
    }
    GiveBack result = GiveBack::Failed;
    WithSignalsBlocked(terminal, [&] {
        termios now{};
        if (!GetSettings(terminal, now)) {
            // EIO: hung up, and nobody left to give the terminal back to.
            result = errno == EIO ? GiveBack::Done : GiveBack::Failed;
        } else if (!SameSettings(now, settings.key_mode)) {
            result = GiveBack::LeftAlone;
        } else if (SetSettings(terminal, settings.found) || errno == EIO) {
            result = GiveBack::Done;
        }
    });
    if (result != GiveBack::Failed) {
        settings.key_mode_held = false; // given back, or taken over: no longer ours
    }
    return result;
}
