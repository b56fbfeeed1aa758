#ifndef COUNTDOWN_TERMINAL_MODE_HPP
#define COUNTDOWN_TERMINAL_MODE_HPP

#include <termios.h>

// The one record of how the user's terminal was found: taken the first time
// the program holds the terminal in the foreground, and never again, so that
// a mode some other program set while this one was stopped or in the
// background (a shell's line editor, say) is never taken for the user's own.
struct FoundSettings {
    bool taken = false;
    termios settings{};
};

enum class KeyMode {
    Entered,
    Background, // the terminal belongs to another process group: left alone
    Refused, // the terminal would not take the mode
};

// Sets the terminal to read one key at a time without echo, from the settings
// found, taking them first if this is the first time.
KeyMode EnterKeyMode(int terminal, FoundSettings& found);

// Puts back the settings found, if they were taken and the terminal is ours.
void RestoreFoundSettings(int terminal, const FoundSettings& found);

#endif
