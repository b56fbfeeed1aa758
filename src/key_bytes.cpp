// Which bytes make up one key, or one report that is no key. Only the bytes
// matter here, not where they come from, so the rules can be checked against
// a table without a terminal.

#include "key_bytes.hpp"

#include <algorithm>
#include <string_view>

namespace {

constexpr unsigned char escape = 0x1b;
constexpr std::string_view paste_start = "\x1b[200~";
constexpr std::string_view paste_end = "\x1b[201~";

bool IsFinalByte(unsigned char byte)
{
    return byte >= 0x40 && byte <= 0x7e;
}

bool IsDigit(unsigned char byte)
{
    return byte >= '0' && byte <= '9';
}

bool Is(std::span<const unsigned char> bytes, std::string_view text)
{
    return std::equal(bytes.begin(), bytes.end(), text.begin(), text.end());
}

bool IsPaste(std::span<const unsigned char> bytes)
{
    return bytes.size() >= paste_start.size() && Is(bytes.first(paste_start.size()), paste_start);
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

// urxvt's mouse report: three numbers, then M.
bool IsUrxvtMouseReport(std::span<const unsigned char> sequence)
{
    const auto parameters = sequence.first(sequence.size() - 1);
    return sequence.back() == 'M' && std::count(parameters.begin(), parameters.end(), ';') == 2
        && std::all_of(parameters.begin(), parameters.end(),
            [](unsigned char byte) { return IsDigit(byte) || byte == ';'; });
}

// `sequence` follows "ESC [".
Input WhatIsControlSequence(std::span<const unsigned char> sequence)
{
    if (sequence.empty()) {
        return Input::Incomplete;
    }
    if (sequence[0] == '[') {
        return sequence.size() == 2 ? Input::KeyPress : Input::Incomplete; // the Linux console's F1 to F5
    }
    if (sequence[0] == 'M') {
        // X10's mouse report: button, column and row, each a byte. Alone,
        // "ESC [ M" is F1 in some terminals' SCO mode, and then the gap after
        // it ends it as a key.
        return sequence.size() == 4 ? Input::Report : Input::Incomplete;
    }
    const unsigned char last = sequence.back();
    if (IsFinalByte(last)) {
        const bool focus = Is(sequence, "I") || Is(sequence, "O");
        const bool sgr_mouse = sequence[0] == '<' && (last == 'M' || last == 'm');
        return focus || sgr_mouse || IsUrxvtMouseReport(sequence) ? Input::Report : Input::KeyPress;
    }
    // rxvt's shifted keys end with $ (Shift+Home is "ESC [ 7 $").
    const bool rxvt_shifted
        = last == '$' && sequence.size() >= 2 && std::all_of(sequence.begin(), sequence.end() - 1, IsDigit);
    return rxvt_shifted ? Input::KeyPress : Input::Incomplete;
}

} // namespace

Input WhatIsRead(std::span<const unsigned char> bytes)
{
    if (bytes.empty()) {
        return Input::Incomplete;
    }
    if (IsPaste(bytes)) {
        const bool ended = bytes.size() >= paste_start.size() + paste_end.size()
            && Is(bytes.last(paste_end.size()), paste_end);
        return ended ? Input::KeyPress : Input::Incomplete;
    }
    if (bytes[0] != escape) {
        return bytes.size() >= Utf8Length(bytes[0]) ? Input::KeyPress : Input::Incomplete;
    }
    const auto rest = bytes.subspan(1);
    if (rest.empty()) {
        return Input::Incomplete; // Escape alone, or the start of something longer
    }
    if (rest[0] == '[') {
        return WhatIsControlSequence(rest.subspan(1));
    }
    if (rest[0] == 'O') {
        // SS3: parameters, then one final byte.
        return rest.size() >= 2 && IsFinalByte(rest.back()) ? Input::KeyPress : Input::Incomplete;
    }
    // Alt: ESC, then any one key.
    return WhatIsRead(rest) == Input::Incomplete ? Input::Incomplete : Input::KeyPress;
}

std::size_t ForgetPastedText(std::span<unsigned char> bytes)
{
    if (!IsPaste(bytes)) {
        return bytes.size();
    }
    const std::size_t kept = paste_end.size() - 1;
    std::copy(bytes.end() - kept, bytes.end(), bytes.begin() + paste_start.size());
    return paste_start.size() + kept;
}
