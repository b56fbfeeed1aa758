// Which bytes make one key, or one report that is no key: each is whole at its
// last byte and at no byte before it.

#include <span>
#include <string_view>
#include <utility>

#include <gtest/gtest.h>

#include "key_bytes.hpp"

namespace {

Input What(std::string_view bytes)
{
    return WhatIsRead(std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

TEST(KeyBytes, EachKeyOrReportIsWholeAtItsLastByteAndNotBefore)
{
    constexpr Input key = Input::KeyPress;
    constexpr Input report = Input::Report;
    const std::pair<std::string_view, Input> inputs[] = {{"x", key}, {"\r", key}, {"\x7f", key},
        {"\xc2\xa3" /* pound */, key}, {"\xc6\xb0" /* u with a horn */, key},
        {"\xdf\x80" /* NKo digit zero */, key}, {"\xe0\xa4\x85" /* Devanagari a */, key},
        {"\xe0\xb8\x81" /* Thai ko kai */, key}, {"\xe2\x82\xac" /* euro */, key},
        {"\xef\xbc\xa1" /* fullwidth A */, key}, {"\xf0\x9f\x98\x80" /* emoji */, key},
        {"\x1b[A" /* Up */, key}, {"\x1b[1;5C" /* Ctrl+Right */, key}, {"\x1b[15;5~" /* Ctrl+F5 */, key},
        {"\x1b[27;5;9~" /* Ctrl+Tab, modifyOtherKeys */, key},
        {"\x1b[200~ls\r\x1b[A\x1b[201\x1b[201~" /* a paste, with a key and half a marker in it */, key},
        {"\x1b[7$" /* rxvt's Shift+Home */, key}, {"\x1b[23$" /* rxvt's Shift+F11 */, key},
        {"\x1b[7^" /* rxvt's Ctrl+Home */, key}, {"\x1b[[A" /* Linux console F1 */, key},
        {"\x1bOP" /* F1 */, key}, {"\x1bO2P" /* Shift+F1 */, key}, {"\x1bx" /* Alt+x */, key},
        {"\x1b\x1b[A" /* Alt+Up */, key}, {"\x1b\x1bOA", key},
        {"\x1b\xc6\xb0" /* Alt with a UTF-8 letter */, key},
        {"\x1b[M 4%" /* X10 click, column 20, row 5 */, report}, {"\x1b[M#4%" /* its release */, report},
        {"\x1b[M\x1b\x1b\x1b" /* X10 with bytes that look like Escape */, report},
        {"\x1b[<0;20;5M" /* SGR click */, report}, {"\x1b[<0;20;5m" /* its release */, report},
        {"\x1b[32;20;5M" /* urxvt click */, report}, {"\x1b[I" /* focus in */, report},
        {"\x1b[O" /* focus out */, report}};
    for (const auto& [bytes, whole] : inputs) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        for (std::size_t length = 1; length < bytes.size(); ++length) {
            EXPECT_EQ(What(bytes.substr(0, length)), Input::Incomplete)
                << "whole after " << length << " bytes";
        }
        EXPECT_EQ(What(bytes), whole);
    }
    EXPECT_EQ(What("\x1b"), Input::Incomplete) << "Escape alone waits for what may follow";
    EXPECT_EQ(What("\x1b[M"), Input::Incomplete) << "SCO's F1 or a click: the gap after it tells";
}

TEST(KeyBytes, APauseEndsAKeyButNotAPasteOrAReportBegun)
{
    const std::pair<std::string_view, bool> inputs[]
        = {{"", false}, {"\x1b", true}, {"\x1b[", true}, {"\x1b[20" /* F9's start */, true},
            {"\x1b[M" /* SCO's F1 */, true}, {"\x1b[200", false}, {"\x1b[200~echo\r", false},
            {"\x1b[<", false}, {"\x1b[<0;20", false}, {"\x1b[M ", false}, {"\x1b[M 4", false}};
    for (const auto& [bytes, ends] : inputs) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        KeyBytes key;
        for (const char byte : bytes) {
            ASSERT_FALSE(TakeByte(key, static_cast<unsigned char>(byte)));
        }
        EXPECT_EQ(PauseEndsKey(key), ends);
    }
}

} // namespace
