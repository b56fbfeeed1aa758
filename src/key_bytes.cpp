// Which bytes make up one key. Only the bytes matter here, not where they come
// from, so the rules can be checked against a table without a terminal.

#include "key_bytes.hpp"

namespace {

constexpr unsigned char escape = 0x1b;

bool IsFinalByte(unsigned char byte)
{
    return byte >= 0x40 && byte <= 0x7e;
}

// The length of the UTF-8 character that `lead` begins; 1 for ASCII, control
// characters and bytes that begin no valid character.
std::size_t Utf8Length(unsigned char lead)
{
    if (lead >= 0xc2 && lead <= 0xdf) {
        return 2;
    }
    if (lead >= 0xe0 && lead <= 0xef) {
        return 3;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        return 4;
    }
    return 1;
}

// `sequence` follows ESC: "[" or "O", then parameter and intermediate bytes,
// then one final byte; the Linux console's function keys are "[ [ x".
bool IsWholeSequence(std::span<const unsigned char> sequence)
{
    if (sequence.size() < 2) {
        return false;
    }
    if (sequence[0] == '[' && sequence[1] == '[') {
        return sequence.size() == 3;
    }
    return IsFinalByte(sequence.back());
}

} // namespace

bool IsWholeKey(std::span<const unsigned char> key)
{
    if (key.empty()) {
        return false;
    }
    if (key[0] != escape) {
        return key.size() >= Utf8Length(key[0]);
    }
    const auto rest = key.subspan(1);
    if (rest.empty()) {
        return false; // Escape alone, or the start of something longer
    }
    if (rest[0] == '[' || rest[0] == 'O') {
        return IsWholeSequence(rest);
    }
    return IsWholeKey(rest); // Alt: ESC, then any one key
}
