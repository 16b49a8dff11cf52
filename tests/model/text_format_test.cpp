#include "model/text_format.h"

#include <gtest/gtest.h>

#include <string>

TEST(TextFormatTest, FormatsAndAppendsTextsOfAnyLength) {
    EXPECT_EQ(formatted("%d pulses [%d..%d]", 3, -1, 19), "3 pulses [-1..19]");
    std::string text = "Detected";
    appendFormatted(text, " %d", 7);
    EXPECT_EQ(text, "Detected 7");
    // Beyond any fixed buffer: nothing is cut off.
    const std::string longName(1000, 'x');
    EXPECT_EQ(formatted("<%s>", longName.c_str()), "<" + longName + ">");
    appendFormatted(text, "%s", longName.c_str());
    EXPECT_EQ(text.size(), 10u + 1000u);
}

TEST(TextFormatTest, EndingsIgnoreCaseAndNumbersReadBackExactly) {
    EXPECT_TRUE(endsWithIgnoringCase("picture.PNG", ".png"));
    EXPECT_TRUE(endsWithIgnoringCase(".svg", ".svg"));
    EXPECT_FALSE(endsWithIgnoringCase("picture.png.txt", ".png"));
    EXPECT_FALSE(endsWithIgnoringCase("a", ".png"));  // shorter than the ending
    EXPECT_EQ(shortestNumber(1000), "1000");
    EXPECT_EQ(shortestNumber(0.25), "0.25");
    EXPECT_EQ(std::stod(shortestNumber(0.1 + 0.2)), 0.1 + 0.2);
}

TEST(TextFormatTest, Utf8IsCheckedByteForByte) {
    const struct {
        std::string text;
        long offset;
    } cases[] = {
        {"", -1},
        {"beat", -1},
        {"b\xc3\xb8", -1},                // ø
        {"\xe2\x82\xac", -1},             // €
        {"\xf0\x9f\x92\x93 x", -1},       // a four-byte code point
        {"b\xf8", 1},                     // Latin-1 ø
        {"ab\xc3", 2},                    // cut short
        {"\xc0\xaf", 0},                  // overlong
        {"\xe0\x80\xaf", 0},              // overlong
        {"\xed\xa0\x80", 0},              // a surrogate
        {"\xf4\x90\x80\x80", 0},          // beyond U+10FFFF
        {"ok\xe2\x82x", 2},               // a broken continuation
        {"\x80", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(invalidUtf8Offset(c.text), c.offset) << c.text;
    EXPECT_EQ(withValidUtf8("b\xf8 \xc3\xb8\xc3"), "b? \xc3\xb8?");
}
