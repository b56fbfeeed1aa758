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

bool StartsWith(std::span<const unsigned char> bytes, std::string_view text)
{
    return bytes.size() >= text.size() && Is(bytes.first(text.size()), text);
}

bool IsPaste(std::span<const unsigned char> bytes)
{
    return StartsWith(bytes, paste_start);
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

bool TakeByte(KeyBytes& key, unsigned char byte)
{
    key.bytes[key.length++] = byte;
    const Input input = WhatIsRead({key.bytes.data(), key.length});
    if (input == Input::Report) {
        key.length = 0; // a click or a change of focus, not a key: the wait goes on
        return false;
    }
    if (input == Input::KeyPress) {
        return true;
    }
    if (key.length < key.bytes.size()) {
        return false;
    }
    if (!IsPaste(key.bytes)) {
        return true; // longer than any key: it ends as one
    }
    // The paste's text is dropped; what may begin the closing marker is kept.
    const std::size_t kept = paste_end.size() - 1;
    std::copy(key.bytes.end() - kept, key.bytes.end(), key.bytes.begin() + paste_start.size());
    key.length = paste_start.size() + kept;
    return false;
}

bool PauseEndsKey(const KeyBytes& key)
{
    const std::span<const unsigned char> bytes(key.bytes.data(), key.length);
    // No key begins as these do: "ESC [ 200" only a paste, "ESC [ <" only
    // SGR's report, "ESC [ M" and a byte only X10's. A report is short, and
    // the bytes' limit bounds it.
    const bool paste_or_report = StartsWith(bytes, paste_start.substr(0, 5)) || StartsWith(bytes, "\x1b[<")
        || (bytes.size() > 3 && StartsWith(bytes, "\x1b[M"));
    return !bytes.empty() && !paste_or_report;
}
