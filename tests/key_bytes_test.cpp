// Which bytes make one key: every key is whole at its last byte and at no
// byte before it.

#include <span>
#include <string_view>

#include <gtest/gtest.h>

#include "key_bytes.hpp"

namespace {

bool IsWhole(std::string_view bytes)
{
    return IsWholeKey(std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

TEST(KeyBytes, EachKeyIsWholeAtItsLastByteAndNotBefore)
{
    const std::string_view keys[] = {"x", "\r", "\x7f", "\xc2\xa3" /* pound */,
        "\xc6\xb0" /* u with a horn */, "\xdf\x80" /* NKo digit zero */, "\xe0\xa4\x85" /* Devanagari a */,
        "\xe0\xb8\x81" /* Thai ko kai */, "\xe2\x82\xac" /* euro */, "\xef\xbc\xa1" /* fullwidth A */,
        "\xf0\x9f\x98\x80" /* emoji */, "\x1b[A" /* Up */, "\x1b[1;5C" /* Ctrl+Right */,
        "\x1b[15;5~" /* Ctrl+F5 */, "\x1b[27;5;9~" /* Ctrl+Tab, modifyOtherKeys */, "\x1b[200~",
        "\x1b[[A" /* Linux console F1 */, "\x1bOP" /* F1 */, "\x1bO2P" /* Shift+F1 */, "\x1bx" /* Alt+x */,
        "\x1b\x1b[A" /* Alt+Up */, "\x1b\x1bOA", "\x1b\xc6\xb0" /* Alt with a UTF-8 letter */};
    for (const std::string_view key : keys) {
        SCOPED_TRACE(testing::PrintToString(std::string(key)));
        for (std::size_t length = 1; length < key.size(); ++length) {
            EXPECT_FALSE(IsWhole(key.substr(0, length))) << "whole after " << length << " bytes";
        }
        EXPECT_TRUE(IsWhole(key));
    }
    EXPECT_FALSE(IsWhole("\x1b")) << "Escape alone waits for what may follow";
}

} // namespace
