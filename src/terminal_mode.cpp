// The terminal's mode while the program waits for its key, and the way back.
//
// A process group that is not in the foreground leaves the terminal alone:
// the shell owns it then, and a change from the background would either stop
// this process with SIGTTOU or, with SIGTTOU blocked, overwrite the shell's own
// mode. So every change here is made with SIGTTOU blocked, so that nothing
// here can stop the process even when the shell takes the terminal back in
// between, and only after checking that this group is the foreground group.
//
// The one exception is the way back. Ctrl+Z, Ctrl+\ or a signal to the whole
// job can end or stop a wrapper (a script, `sh -c`, make) at once, and the
// shell then takes the terminal back before the wait has given up its key
// mode. A shell that puts no mode of its own back (dash, every `#!/bin/sh`
// script's shell) would leave the user typing blind. So the found settings
// also go back from the background, but only over the very key mode this
// program set: then nobody has changed the terminal since, and nobody's mode
// is overwritten. This is ncurses' way of leaving on SIGTSTP (SIGTTOU blocked,
// the shell's mode put back from wherever the process stands), made safe by
// that check. What remains is the moment between the check and the change: a
// shell that sets its own mode in exactly those microseconds has it replaced
// by the settings found, which its next prompt sets over again.

#include "terminal_mode.hpp"

#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

// Whether this process group is the terminal's foreground group.
bool InForeground(int terminal)
{
    return tcgetpgrp(terminal) == getpgrp();
}

// Runs `change` with SIGTTOU held back, so that a change from the background
// is made (or refused) rather than stopping the process; what it returns.
template <typename Change> bool WithTtouBlocked(Change change)
{
    sigset_t ttou;
    sigset_t previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &previous);
    const bool result = change();
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return result;
}

// Field by field: the structure's padding and private fields say nothing.
bool SameSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag
        && a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0
        && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Whether the terminal still holds exactly the program's own key mode.
bool HoldsKeyMode(int terminal, const TerminalSettings& settings)
{
    termios now{};
    return settings.key_mode_held && tcgetattr(terminal, &now) == 0 && SameSettings(now, settings.key_mode);
}

} // namespace

KeyMode EnterKeyMode(int terminal, TerminalSettings& settings)
{
    bool accepted = false;
    const bool ours = WithTtouBlocked([&] {
        if (!InForeground(terminal)) {
            return false;
        }
        if (!settings.found_taken) {
            settings.found_taken = tcgetattr(terminal, &settings.found) == 0;
            if (!settings.found_taken) {
                return true;
            }
        }
        termios key_mode = settings.found;
        // No echo and no line editing; IEXTEN off also frees Ctrl+V (literal
        // next), and IXON off frees Ctrl+S and Ctrl+Q, so that every key that
        // delivers a character ends the wait. ISIG stays: Ctrl+C, Ctrl+Z and
        // Ctrl+\ keep their meaning.
        key_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
        key_mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
        key_mode.c_cc[VMIN] = 1;
        key_mode.c_cc[VTIME] = 0;
        // TCSANOW, not TCSAFLUSH: a key typed before the wait began must end it.
        accepted = tcsetattr(terminal, TCSANOW, &key_mode) == 0;
        // As the terminal holds it: a driver may adjust what it was given.
        settings.key_mode_held = accepted && tcgetattr(terminal, &settings.key_mode) == 0;
        return true;
    });
    if (!ours) {
        return KeyMode::Background;
    }
    return accepted ? KeyMode::Entered : KeyMode::Refused;
}

void RestoreFoundSettings(int terminal, TerminalSettings& settings)
{
    if (!settings.found_taken) {
        return;
    }
    WithTtouBlocked([&] {
        const bool ours_to_give_back = InForeground(terminal) || HoldsKeyMode(terminal, settings);
        return ours_to_give_back && tcsetattr(terminal, TCSANOW, &settings.found) == 0;
    });
    // Given back, or taken over by someone else: either way no longer ours.
    settings.key_mode_held = false;
}
