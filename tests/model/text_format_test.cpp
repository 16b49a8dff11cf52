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

// One reader of typed whole numbers: strict for the batch tool's options, lenient for dialog
// fields; far beyond every range it saturates instead of overflowing.
TEST(TextFormatTest, DecimalsAreReadStrictlyOrAsTyped) {
    struct Row {
        const char* text;
        bool strict;
        std::optional<int64_t> value;
        bool huge;
    };
    const Row rows[] = {
        {"42", true, 42, false},        {"+7", true, 7, false},          {"-2147483648", true, -2147483648LL, false},
        {"010", true, 10, false},       {"", true, std::nullopt, false}, {"-", true, std::nullopt, false},
        {" 5", true, std::nullopt, false}, {"5x", true, std::nullopt, false}, {"1e3", true, std::nullopt, false},
        {" \t12 samples", false, 12, false}, {"-3,4", false, -3, false}, {"x1", false, std::nullopt, false},
        {"99999999999999999999999", true, int64_t{1} << 40, true},
        {"-99999999999999999999999", false, -(int64_t{1} << 40), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const DecimalText read = readDecimal(row.text, row.strict);
        EXPECT_EQ(read.value, row.value);
        EXPECT_EQ(read.huge, row.huge);
    }
}
