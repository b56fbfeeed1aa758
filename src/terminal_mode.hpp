#ifndef COUNTDOWN_TERMINAL_MODE_HPP
#define COUNTDOWN_TERMINAL_MODE_HPP

#include <termios.h>

// The one record of the terminal's settings: how the user's terminal was
// found, and the key mode the program put in their place.
struct TerminalSettings {
    // Taken the first time the program holds the terminal in the foreground,
    // and never again, so that a mode some other program set while this one
    // was stopped or in the background (a shell's line editor, say) is never
    // taken for the user's own.
    bool found_taken = false;
    termios found{};
    // The key mode as the terminal reported it once set, held from then until
    // the found settings are put back: while the terminal still holds exactly
    // this, nobody else has changed it.
    bool key_mode_held = false;
    termios key_mode{};
};

// Whether two records hold the same settings, field by field: the
// structure's padding and private fields say nothing.
bool SameSettings(const termios& a, const termios& b);

enum class KeyMode {
    Entered,
    Background, // the terminal belongs to another process group: left alone
    Refused, // the terminal, or a call on it, failed: left as it was
};

// Sets the terminal to read one key at a time without echo, from the settings
// found, taking them first if this is the first time.
KeyMode EnterKeyMode(int terminal, TerminalSettings& settings);

enum class GiveBack {
    Done, // the settings found are in place, or the terminal is gone
    LeftAlone, // someone else has changed the terminal since: theirs now
    Failed, // still in key mode; errno says why
};

// Puts back the settings found, over the program's own key mode, untouched
// since, whether in the foreground or not. Safe to call from a signal handler.
GiveBack RestoreFoundSettings(int terminal, TerminalSettings& settings);

#endif
