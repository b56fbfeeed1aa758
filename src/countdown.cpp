// countdown: writes a heading and the numbers 30 down to 1, then waits for one
// key press so that the console stays open long enough to read them.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

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
    struct stat out { };
    struct stat err { };
    return fstat(fileno(stdout), &out) == 0 && fstat(fileno(stderr), &err) == 0 && out.st_dev == err.st_dev
        && out.st_ino == err.st_ino;
#endif
}

// "countdown: WHAT: REASON" on a line of its own; without a reason if
// `error` is 0.
void Report(const char* what, int error)
{
    std::fprintf(stderr, "%scountdown: %s%s%s\n", ErrorsFollowTheOutput() ? "\n" : "", what,
        error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
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
    errno = 0;
    std::puts(heading);
    int write_error = std::ferror(stdout) != 0 ? errno : 0;
    FirstNum(count);
    if (write_error == 0 && std::ferror(stdout) != 0) {
        write_error = errno;
    }
    if (std::fflush(stdout) != 0 && write_error == 0) {
        write_error = errno;
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
