#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/input/line_text.h"

namespace quorvane::input {
namespace {

std::string utf8(char32_t code_point) {
    std::string out;
    append_utf8(out, code_point);
    return out;
}

const std::vector<char32_t> kWhiteSpace = {
    0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

// Neighbours of the White_Space characters, and look-alikes, that are not.
const std::vector<char32_t> kNotWhiteSpace = {
    0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x21, 0x7F, 0x84, 0x86, 0x9F, 0xA1, 0x167F, 0x1681, 0x180E,
    0x1FFF, 0x200B, 0x200C, 0x2027, 0x202A, 0x202E, 0x2030, 0x205E, 0x2060, 0x2FFF, 0x3001,
    0xFEFF, 0x10085, 0x12000,
};

TEST(BlankLine, EmptyLineIsBlank) { EXPECT_TRUE(is_blank_line("")); }

TEST(BlankLine, EachWhiteSpaceCharacterAloneAndRepeatedIsBlank) {
    for (char32_t c : kWhiteSpace) {
        EXPECT_TRUE(is_blank_line(utf8(c))) << std::hex << "U+" << static_cast<unsigned>(c);
        EXPECT_TRUE(is_blank_line(utf8(c) + utf8(c) + " ")) << std::hex << "U+" << static_cast<unsigned>(c);
    }
}

TEST(BlankLine, AllWhiteSpaceCharactersTogetherAreBlank) {
    std::string line;
    for (char32_t c : kWhiteSpace) line += utf8(c);
    EXPECT_TRUE(is_blank_line(line));
}

TEST(BlankLine, OtherCharactersAreNotBlank) {
    for (char32_t c : kNotWhiteSpace) {
        EXPECT_FALSE(is_blank_line(utf8(c))) << std::hex << "U+" << static_cast<unsigned>(c);
        const std::string between_spaces = std::string(" ").append(utf8(c)).append("\u00A0");
        EXPECT_FALSE(is_blank_line(between_spaces)) << std::hex << "U+" << static_cast<unsigned>(c);
    }
}

TEST(BlankLine, ContentAfterOrBeforeWhiteSpaceIsNotBlank) {
    for (std::string_view line : {"{}", "\u00A0{}", "{}\u00A0", " x", "\u3000\u30001", "\t\r\n0"}) {
        EXPECT_FALSE(is_blank_line(line)) << line;
    }
}

TEST(ValidUtf8, AcceptsWellFormedText) {
    for (std::string_view line : {"", "{\"a\":1}", "\u00e9\u20ac\U0001F600", "\x7f", "\xf4\x8f\xbf\xbf"}) {
        EXPECT_TRUE(is_valid_utf8(line)) << line;
    }
}

TEST(ValidUtf8, RefusesMalformedSequences) {
    const std::vector<std::string_view> lines = {
        "\xff",              // never a UTF-8 byte
        "\x80",              // continuation without a lead
        "\xc0\xaf",          // overlong
        "\xed\xa0\x80",      // encoded surrogate
        "\xf4\x90\x80\x80",  // beyond U+10FFFF
        "{\"a\":\"\xe2\x82\"}",  // truncated sequence
        "\xe2\x82",          // truncated at the end
    };
    for (std::string_view line : lines) EXPECT_FALSE(is_valid_utf8(line));
}

}  // namespace
}  // namespace quorvane::input
