#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options/command_line.h"

namespace {

// The numbers parseNumberList reads from text, in slot order (slots 1..count).
std::vector<int> numbersOf(const char* text) {
    int slots[20];
    for (int& slot : slots) {
        slot = -7;  // a marker, to see which slots were written
    }
    int count = -3;
    parseNumberList(text, 20, &count, slots);
    EXPECT_EQ(slots[0], -7) << "slot 0 is never written";
    return std::vector<int>(slots + 1, slots + 1 + count);
}

using Numbers = std::vector<int>;

TEST(NumberList, CommasSeparateNumbersAndMarkEmptyFields) {
    EXPECT_EQ(numbersOf("5"), Numbers({5}));
    EXPECT_EQ(numbersOf("5,7"), Numbers({5, 7}));
    EXPECT_EQ(numbersOf(",5"), Numbers({-1, 5}));
    EXPECT_EQ(numbersOf("5,,7"), Numbers({5, -1, 7}));
    EXPECT_EQ(numbersOf("5,"), Numbers({5}));
    EXPECT_EQ(numbersOf(","), Numbers({-1}));
    EXPECT_EQ(numbersOf(",,"), Numbers({-1, -1}));
    EXPECT_EQ(numbersOf(""), Numbers({}));
}

TEST(NumberList, TextAroundNumbersIsSkipped) {
    EXPECT_EQ(numbersOf("30ms"), Numbers({30}));
    EXPECT_EQ(numbersOf("30ms,4"), Numbers({30, 4}));
    EXPECT_EQ(numbersOf("1 2"), Numbers({1}));
    EXPECT_EQ(numbersOf("-5"), Numbers({5}));  // a minus never makes a number negative
    EXPECT_EQ(numbersOf("+5"), Numbers({5}));
    EXPECT_EQ(numbersOf("x"), Numbers({}));
    EXPECT_EQ(numbersOf("007"), Numbers({7}));
    EXPECT_EQ(numbersOf("0"), Numbers({0}));
}

TEST(NumberList, AtMostNineteenNumbersAreRead) {
    std::string text;
    for (int i = 1; i <= 25; i++) {
        text += std::to_string(i) + ",";
    }
    Numbers expected;
    for (int i = 1; i <= 19; i++) {
        expected.push_back(i);
    }
    EXPECT_EQ(numbersOf(text.c_str()), expected);
    EXPECT_EQ(numbersOf(",,,,,,,,,,,,,,,,,,,,,,,,"), Numbers(19, -1));

    // A smaller slot count bounds the walk the same way.
    int slots[3] = {-7, -7, -7};
    int count = 0;
    parseNumberList("4,5,6", 3, &count, slots);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(slots[1], 4);
    EXPECT_EQ(slots[2], 5);
}

TEST(NumberList, ValuesBeyondTheLargestIntegerSaturate) {
    EXPECT_EQ(numbersOf("2147483646"), Numbers({2147483646}));
    EXPECT_EQ(numbersOf("2147483647"), Numbers({2147483647}));
    EXPECT_EQ(numbersOf("2147483648"), Numbers({2147483647}));
    EXPECT_EQ(numbersOf("4294967296"), Numbers({2147483647}));
    EXPECT_EQ(numbersOf("99999999999999999999999999,3"), Numbers({2147483647, 3}));
    EXPECT_EQ(numbersOf("-2147483648"), Numbers({2147483647}));
}

}  // namespace
