#ifndef COUNTDOWN_CONSOLE_KEY_HPP
#define COUNTDOWN_CONSOLE_KEY_HPP

// Waits for one key press on the user's console, without echoing it and
// without waiting for Enter; the key itself is discarded. Where the process
// has no console to read a key from, it returns at once. Returns 0, or the
// error code (errno; on Windows, GetLastError's) of the failure that kept the
// console's settings from being put back as they were found.
int WaitForKey();

#endif
