// countdown: writes a heading and the numbers 30 down to 1, then waits for one
// key press so that the console stays open long enough to read them.

#include <cerrno>
#include <cstdio>
#include <cstring>

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

int main()
{
    constexpr const char* heading = " 30 so tu nhien dau tien la: ";
    constexpr int count = 30;

    std::puts(heading);
    FirstNum(count);

    // Both lines must be on the screen before the wait, and a run whose output
    // was lost must not look like a success to whoever started it.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        if (errno != 0) {
            std::fprintf(stderr, "countdown: write error: %s\n", std::strerror(errno));
        } else {
            std::fputs("countdown: write error\n", stderr);
        }
        return 1;
    }

    WaitForKey();
    return 0;
}
