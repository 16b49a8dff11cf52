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
