#ifndef COUNTDOWN_TERMINAL_MODE_HPP
#define COUNTDOWN_TERMINAL_MODE_HPP

#include <csignal>

#include <termios.h>

// The terminal's settings as found, and the key mode put in their place: echo
// and line editing off, all else as found.
struct TerminalSettings {
    // Taken the first time the program holds the terminal in the foreground,
    // and never again: a mode set while it was stopped is not the user's.
    bool found_taken = false;
    termios found{};
    // The key mode as the terminal holds it, from EnterKeyMode until
    // LeaveKeyMode: while the terminal still holds exactly this, nobody else
    // has changed it. A signal handler may leave key mode at any moment: it
    // reads the records only once in_key_mode, set after them, says so (not
    // a std::atomic: ARMv5 has no lock-free one).
    volatile std::sig_atomic_t in_key_mode = 0;
    termios key_mode{};
};

// Whether two records hold the same settings, field by field: the
// structure's padding and private fields say nothing.
bool SameSettings(const termios& a, const termios& b);

// The key mode that EnterKeyMode sets over the settings `found`.
termios KeyModeFrom(const termios& found);

enum class KeyMode {
    Entered,
    Background, // the terminal belongs to another process group: left alone
    Refused, // the terminal, or a call on it, failed: left as it was
};

// Turns echo and line editing off, in the foreground only.
KeyMode EnterKeyMode(int terminal, TerminalSettings& settings);

enum class Leave {
    Restored, // the settings found are back, or the terminal is gone
    LeftAlone, // someone else has changed the terminal since: theirs now
    Failed, // still in key mode; errno says why
};

// Puts the settings found back over the key mode, from the foreground or the
// background. Async-signal-safe.
Leave LeaveKeyMode(int terminal, TerminalSettings& settings);

#endif
