// The key press on POSIX systems: read from the controlling terminal, in a
// mode with no echo and no line editing, and put the terminal back exactly as
// it was found on every way out, signals included.

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "console_key.hpp"

namespace {

// The one place that remembers how the terminal was found. The signal
// handler needs it, so it cannot live on the stack of WaitForKey.
int terminal = -1;
termios found_settings{};

// The signals that would otherwise end or stop the program with the terminal
// left in key mode.
constexpr int restoring_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP};
struct sigaction found_actions[sizeof restoring_signals / sizeof *restoring_signals];

// Bytes of one key beyond its first arrive together from a terminal emulator,
// but may trickle in over a slow link: this long a gap ends the key.
constexpr int key_gap_ms = 100;
constexpr int longest_key = 32;

void EnterKeyMode()
{
    termios key_mode = found_settings;
    // No echo and no line editing; IEXTEN off also frees Ctrl+V (literal
    // next), and IXON off frees Ctrl+S and Ctrl+Q, so that every key that
    // delivers a character ends the wait. ISIG stays: Ctrl+C, Ctrl+Z and
    // Ctrl+\ keep their meaning.
    key_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
    key_mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
    key_mode.c_cc[VMIN] = 1;
    key_mode.c_cc[VTIME] = 0;
    // TCSANOW, not TCSAFLUSH: a key typed before the wait began must end it.
    tcsetattr(terminal, TCSANOW, &key_mode);
}

void RestoreTerminal()
{
    tcsetattr(terminal, TCSANOW, &found_settings);
}

void SetAction(int signal_number, void (*handler)(int))
{
    struct sigaction action { };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

// Only async-signal-safe calls from here on.
extern "C" void OnSignal(int signal_number)
{
    const int saved_errno = errno;
    RestoreTerminal();
    SetAction(signal_number, SIG_DFL);
    if (signal_number == SIGTSTP) {
        // Stop now, with the terminal as the shell expects it; when `fg`
        // continues us, take the settings afresh and wait on in key mode.
        sigset_t tstp;
        sigemptyset(&tstp);
        sigaddset(&tstp, SIGTSTP);
        sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
        kill(getpid(), SIGTSTP);
        sigprocmask(SIG_BLOCK, &tstp, nullptr);
        SetAction(SIGTSTP, OnSignal);
        tcgetattr(terminal, &found_settings);
        EnterKeyMode();
    } else {
        // Blocked while we are in here: on return it ends the program by its
        // own default action, so the parent sees the signal (130 for Ctrl+C).
        raise(signal_number);
    }
    errno = saved_errno;
}

void CatchSignals()
{
    int index = 0;
    for (const int signal_number : restoring_signals) {
        sigaction(signal_number, nullptr, &found_actions[index]);
        // A signal the program was started with ignored stays ignored.
        if (found_actions[index].sa_handler != SIG_IGN) {
            SetAction(signal_number, OnSignal);
        }
        ++index;
    }
}

// Restores the terminal and the signals with those signals held back, so that
// one arriving half-way acts only once everything is as it was found.
void ReleaseTerminal()
{
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (const int signal_number : restoring_signals) {
        sigaddset(&held, signal_number);
    }
    sigprocmask(SIG_BLOCK, &held, &previous);
    RestoreTerminal();
    int index = 0;
    for (const int signal_number : restoring_signals) {
        sigaction(signal_number, &found_actions[index], nullptr);
        ++index;
    }
    close(terminal);
    terminal = -1;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// False at end of file or on an error such as a hang-up: the wait ends then
// rather than spin on a terminal that will never deliver a key.
bool ReadByte(unsigned char& byte)
{
    ssize_t result = 0;
    do {
        result = read(terminal, &byte, 1);
    } while (result < 0 && errno == EINTR);
    return result == 1;
}

bool MoreBytesArrive()
{
    pollfd waiting{terminal, POLLIN, 0};
    int result = 0;
    do {
        result = poll(&waiting, 1, key_gap_ms);
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

// Whether the bytes read so far make up a whole key: a plain character, a
// UTF-8 sequence, or an escape sequence (Alt+key, SS3 "ESC O x", or a CSI
// "ESC [ ... final", including the Linux console's "ESC [ [ x").
bool KeyIsComplete(const unsigned char* key, int length)
{
    const unsigned char first = key[0];
    if (first == 0x1b) {
        if (length == 1) {
            return false;
        }
        if (key[1] == 'O') {
            return length == 3;
        }
        if (key[1] != '[') {
            return true;
        }
        if (length == 2) {
            return false;
        }
        if (key[2] == '[') {
            return length == 4;
        }
        const unsigned char last = key[length - 1];
        return last >= 0x40 && last <= 0x7e;
    }
    int utf8_length = 1;
    if (first >= 0xc2 && first <= 0xdf) {
        utf8_length = 2;
    } else if (first >= 0xe0 && first <= 0xef) {
        utf8_length = 3;
    } else if (first >= 0xf0 && first <= 0xf4) {
        utf8_length = 4;
    }
    return length >= utf8_length;
}

// Reads exactly one key: all of its bytes, so that none of them reaches the
// shell after we exit, and nothing typed after it.
void ReadOneKey()
{
    unsigned char key[longest_key];
    int length = 0;
    if (!ReadByte(key[length])) {
        return;
    }
    ++length;
    while (length < longest_key && !KeyIsComplete(key, length) && MoreBytesArrive()
        && ReadByte(key[length])) {
        ++length;
    }
}

} // namespace

void WaitForKey()
{
    // The key comes from the user's terminal, whatever standard input is.
    terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
        return; // no terminal (cron, CI, a service): nobody to press a key
    }
    if (tcgetattr(terminal, &found_settings) != 0) {
        close(terminal);
        terminal = -1;
        return;
    }
    CatchSignals();
    EnterKeyMode();
    ReadOneKey();
    ReleaseTerminal();
}
