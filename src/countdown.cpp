// countdown: writes a heading and the numbers 30 down to 1, then waits for one
// key press so that the console stays open long enough to read them.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "console_key.hpp"

// Writes " n n-1 ... 1" on the current line of standard output, one call per
// number. The recursive call is the last thing each call does, so an optimising
// build turns it into a jump and any count runs in constant stack.
void FirstNum(int n)
{
    if (n <= 0) {
        return;
    }
    std::printf(" %d", n);
    FirstNum(n - 1);
}

namespace {

// Whether standard error shows the same file as standard output, where the
// countdown line, which has no newline, may stand before a message.
bool ErrorsFollowTheOutput()
{
#ifdef _WIN32
    return false; // no file identity to compare by
#else
    struct stat out = {};
    struct stat err = {};
    return fstat(fileno(stdout), &out) == 0 && fstat(fileno(stderr), &err) == 0 && out.st_dev == err.st_dev
        && out.st_ino == err.st_ino;
#endif
}

// The error code of the call that just failed: on Windows the system's own,
// of which the C runtime's errno keeps less (a pipe whose reader has gone is
// "Invalid argument" there).
int LastError()
{
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

void ClearLastError()
{
#ifdef _WIN32
    SetLastError(0);
#endif
    errno = 0;
}

// "countdown: WHAT: REASON" on a line of its own, REASON being the system's
// text for `error`, a code of LastError's; without a reason if it is 0.
void Report(const char* what, int error)
{
#ifdef _WIN32
    char reason[512] = {};
    if (error != 0) {
        // On one line: the line ends of the system's text made blanks, and none after it.
        constexpr DWORD from_system
            = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
        const DWORD length = FormatMessageA(from_system, nullptr, static_cast<DWORD>(error), 0, reason,
            sizeof reason, nullptr);
        if (length == 0) {
            std::snprintf(reason, sizeof reason, "error %d", error);
        }
        reason[std::string_view(reason).find_last_not_of(" \r\n") + 1] = '\0';
    }
#else
    const char* reason = error != 0 ? std::strerror(error) : "";
#endif
    std::fprintf(stderr, "%scountdown: %s%s%s\n", ErrorsFollowTheOutput() ? "\n" : "", what,
        error != 0 ? ": " : "", reason);
}

} // namespace

int main()
{
    constexpr const char* heading = " 30 so tu nhien dau tien la: ";
    constexpr int count = 30;

    // Both lines must be on the screen before the wait, and a run whose output
    // was lost must not look like a success to whoever started it. A stream
    // keeps only that a write failed, not why: the reason is taken from the
    // first failure, before later writes can succeed over it.
    ClearLastError();
    std::puts(heading);
    int write_error = std::ferror(stdout) != 0 ? LastError() : 0;
    FirstNum(count);
    if (write_error == 0 && std::ferror(stdout) != 0) {
        write_error = LastError();
    }
    if (std::fflush(stdout) != 0 && write_error == 0) {
        write_error = LastError();
    }
    if (std::ferror(stdout) != 0) {
        Report("write error", write_error);
        return 1;
    }

    const int restore_error = WaitForKey();
    if (restore_error != 0) {
        Report("cannot put the terminal's settings back", restore_error);
        return 1;
    }
    return 0;
}
