#ifndef COUNTDOWN_TERMINAL_MODE_HPP
#define COUNTDOWN_TERMINAL_MODE_HPP

#include <atomic>

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
    // reads the records only once in_key_mode, set after them, says so.
    std::atomic<bool> in_key_mode = false;
    termios key_mode{};
};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may touch only lock-free atomics");

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
