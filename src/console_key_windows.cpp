// The key press on Windows: the C runtime's console read, which neither
// echoes nor waits for Enter and leaves the console's input mode as it was.

#include <conio.h>

#include "console_key.hpp"

int WaitForKey()
{
    _getch();
    return 0;
}
