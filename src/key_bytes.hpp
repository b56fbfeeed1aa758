#ifndef COUNTDOWN_KEY_BYTES_HPP
#define COUNTDOWN_KEY_BYTES_HPP

#include <cstddef>
#include <span>

// The bytes that one key press sends: a plain character, a UTF-8 letter, or an
// escape sequence (CSI "ESC [ ... final", the Linux console's "ESC [ [ x", SS3
// "ESC O ... final"), and Alt with any of those: ESC followed by one whole key.
// Whether `key` is exactly one whole key; false while more of it is to come.
bool IsWholeKey(std::span<const unsigned char> key);

// No key this terminal program knows of is longer; past this, the key ends.
constexpr std::size_t longest_key = 32;

#endif
