#ifndef COUNTDOWN_KEY_BYTES_HPP
#define COUNTDOWN_KEY_BYTES_HPP

#include <array>
#include <cstddef>
#include <span>

// What the bytes read from a terminal so far are.
enum class Input {
    Incomplete, // more of it is to come
    // One whole key press: a plain character, a UTF-8 letter, or an escape
    // sequence (CSI "ESC [ ... final", rxvt's shifted keys "ESC [ digits $",
    // the Linux console's "ESC [ [ x", SS3 "ESC O ... final"), and Alt with
    // any of those: ESC followed by one whole key. A paste that the terminal
    // marks as one, "ESC [ 200 ~", the text, "ESC [ 201 ~", is one key too.
    KeyPress,
    // One whole report that a terminal sends of its own, where a program
    // (one that crashed, say) left reporting switched on: a mouse click or
    // its release, X10's "ESC [ M" and three bytes or SGR's "ESC [ < ... M"
    // or "m" (urxvt's "ESC [ b ; x ; y M" too), or a change of focus,
    // "ESC [ I" or "ESC [ O". No key was pressed.
    Report,
};

Input WhatIsRead(std::span<const unsigned char> bytes);

// No key or report this program knows of is longer; past this, the key ends,
// but for a paste.
constexpr std::size_t longest_key = 32;

// The bytes of the key being read, as the wait takes them one at a time.
struct KeyBytes {
    std::array<unsigned char, longest_key> bytes{};
    std::size_t length = 0;
};

// Adds `byte` to the key; whether a whole key press has now been read. A
// whole report is dropped, and the wait goes on. A paste is read whole
// however long: once the bytes are full, its text is dropped but for the
// last bytes, which may begin its closing marker.
bool TakeByte(KeyBytes& key, unsigned char byte);

// Whether a pause in the bytes coming ends the key read so far. A paste or a
// mouse report, once begun, is read to its end however long the link pauses
// within it; Escape alone, and "ESC [ M" alone (SCO's F1), end at a pause.
bool PauseEndsKey(const KeyBytes& key);

#endif
