// The terminal's mode while the program waits for its key, and the way back.
//
// A process group that is not in the foreground must leave the terminal alone:
// the shell owns it then, and a change from the background would either stop
// this process with SIGTTOU or, with SIGTTOU blocked, overwrite the shell's own
// mode. So every change here first checks that this group is the foreground
// group, with SIGTTOU blocked, so that nothing here can stop the process even
// when the shell takes the terminal back in between.

#include "terminal_mode.hpp"

#include <csignal>

#include <unistd.h>

namespace {

// Whether this process group is the terminal's foreground group.
bool InForeground(int terminal)
{
    return tcgetpgrp(terminal) == getpgrp();
}

// Runs `change` with SIGTTOU held back and only while the terminal is ours;
// whether it ran.
template <typename Change> bool InForegroundOnly(int terminal, Change change)
{
    sigset_t ttou;
    sigset_t previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &previous);
    const bool ours = InForeground(terminal);
    if (ours) {
        change();
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return ours;
}

} // namespace

KeyMode EnterKeyMode(int terminal, FoundSettings& found)
{
    bool accepted = false;
    const bool ours = InForegroundOnly(terminal, [&] {
        if (!found.taken) {
            found.taken = tcgetattr(terminal, &found.settings) == 0;
            if (!found.taken) {
                return;
            }
        }
        termios key_mode = found.settings;
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
    });
    if (!ours) {
        return KeyMode::Background;
    }
    return accepted ? KeyMode::Entered : KeyMode::Refused;
}

void RestoreFoundSettings(int terminal, const FoundSettings& found)
{
    if (found.taken) {
        InForegroundOnly(terminal, [&] { tcsetattr(terminal, TCSANOW, &found.settings); });
    }
}
