/* The floor for the benchmark: the least program that writes the same two
 * lines through the C library's stdio, with puts and printf, and checks that
 * they were delivered. No key, no terminal: only the cost of starting,
 * writing and exiting. */
#include <stdio.h>

int main(void)
{
    puts(" 30 so tu nhien dau tien la: ");
    for (int n = 30; n > 0; --n) {
        printf(" %d", n);
    }
    return fflush(stdout) != 0;
}
