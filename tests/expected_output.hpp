// The program's two lines, as the tests on every platform expect them: held
// here once, so that a change to the output is a change to one place.
#pragma once

#include <string>

namespace expected {

inline const std::string heading = " 30 so tu nhien dau tien la: ";
inline const std::string countdown_line = " 30 29 28 27 26 25 24 23 22 21 20 19 18 17 16 15 14 13 12 11 10"
                                          " 9 8 7 6 5 4 3 2 1";

// The whole output with the given line end after the heading: "\n" in a
// file, "\r\n" on a terminal that maps newlines and in a Windows text stream.
inline std::string Output(const std::string& line_end)
{
    return heading + line_end + countdown_line;
}

} // namespace expected
