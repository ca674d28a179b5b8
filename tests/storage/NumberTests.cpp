#include <gtest/gtest.h>

#include <climits>

#include "storage/Settings.h"

using namespace quindel;

TEST(NumberForm, BlankBeforeZeroAndPositivesMinusBeforeNegatives) {
    EXPECT_EQ(numberForm(0), " 0");
    EXPECT_EQ(numberForm(1), " 1");
    EXPECT_EQ(numberForm(-7), "-7");
    EXPECT_EQ(numberForm(2147483647), " 2147483647");
    EXPECT_EQ(numberForm(LLONG_MIN), "-9223372036854775808");
}

TEST(ReadLeadingNumber, ReadsTheNumberAtTheStartIgnoringBlanks) {
    const long long lo = INT32_MIN, hi = INT32_MAX;
    struct Case {
        const char* text;
        long long value;
    } cases[] = {
        {" 1", 1},    {" 1 2", 12}, {"\t-\n3 4", -34}, {"+5", 5},   {"12abc", 12},   {"abc", 0},
        {"", 0},      {"-", 0},     {".", 0},          {".5", 0},   {".51", 1},      {"1.49", 1},
        {"&H1F", 31}, {"&h1f", 31}, {"&O17", 15},      {"&H", 0},   {"&H1G", 1},     {"&O8", 0},
        {"-&H1F", 0}, {"1D2", 100}, {"1e2", 100},      {"1E-2", 0}, {"1E+3x", 1000}, {"2E", 2},
        {"2E+", 2},   {"3D 1", 30}, {"1,5", 1},        {"0x10", 0}, {"\r5", 0},      {"007", 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readLeadingNumber(c.text, lo, hi), c.value) << '"' << c.text << '"';
}

TEST(ReadLeadingNumber, RoundsHalvesToEvenAndClampsToTheRange) {
    EXPECT_EQ(readLeadingNumber("2.5", 0, 255), 2);
    EXPECT_EQ(readLeadingNumber("3.5", 0, 255), 4);
    EXPECT_EQ(readLeadingNumber("-2.5", -10, 10), -2);
    EXPECT_EQ(readLeadingNumber("0.5", 0, 255), 0);
    EXPECT_EQ(readLeadingNumber("2.500001", 0, 255), 3);
    EXPECT_EQ(readLeadingNumber("256", 0, 255), 255);
    EXPECT_EQ(readLeadingNumber("-1", 0, 255), 0);
    EXPECT_EQ(readLeadingNumber("40000", -32768, 32767), 32767);
    EXPECT_EQ(readLeadingNumber("-40000", -32768, 32767), -32768);
    EXPECT_EQ(readLeadingNumber("1E400", INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(readLeadingNumber("-1D400", INT32_MIN, INT32_MAX), INT32_MIN);
    EXPECT_EQ(readLeadingNumber(std::string(400, '9'), LLONG_MIN, LLONG_MAX), LLONG_MAX);
    EXPECT_EQ(readLeadingNumber("&H" + std::string(300, 'F'), 0, 255), 255);
}

TEST(ReadWholeNumber, NeedsTheWholeTextToBeANumber) {
    struct Case {
        const char* text;
        long long value;
    } cases[] = {
        {"3", 3},  {" 3", 3},   {"3 ", 3},    {"\t3\t", 3}, {"2.5", 2},     {"3.5", 4},
        {"+1", 1}, {"1E1", 10}, {"&H1F", 31}, {"", 0},      {" ", 0},       {"abc", 0},
        {"3x", 0}, {"1 2", 0},  {"-1", 0},    {"300", 255}, {"1E400", 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readWholeNumber(c.text, 0, 255), c.value) << '"' << c.text << '"';
}
