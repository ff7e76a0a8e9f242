#include <gtest/gtest.h>

#include <string>

#include "options/option_table.h"
#include "options/stdout_capture.h"

namespace {

struct ExpectedRow {
    int letter;
    int position;
    int kind;
    int minValue;
    int maxValue;
    int defaultValue;
    int listed;
    int saveFlag;
    const char* name;
    const char* choices[10];
};

const ExpectedRow expectedRows[18] = {
    {},
    {'Q', 1, OPT_RANGE, 0, 99, 2, 0, 0, "Quiet level", {}},
    {'V', 0, OPT_YESNO, 0, 1, 0, 1, 0, "Remove DC-offset", {}},
    {'U', 0, OPT_YESNO, 0, 1, 0, 1, 0, "Use frames, which length are nearest smaller power of two",
     {}},
    {'H', 1, OPT_RANGE, 0, 100, 97, 1, 0, "High emphasis coefficient", {}},
    {'O', 0, OPT_YESNO, 0, 1, 0, 0, 0, "Overwrite existing file", {}},
    {'L', 1, OPT_RANGE, 1, 100, 30, 1, 0, "Analysis window length (in milliseconds)", {}},
    {'W', 1, OPT_CHOICE, 1, 4, 1, 1, 0, "Time domain windowing function",
     {nullptr, "Hamming", "Rectangular", "Barlett", "Blackman"}},
    {'S', 1, OPT_RANGE, 1, 100, 10, 1, 0, "Analysis window shift (in ms)", {}},
    {'F', 1, OPT_CHOICE, 1, 1, 1, 1, 0, "Feature type", {nullptr, "MFCC"}},
    {'N', 1, OPT_RANGE, 0, 100, 0, 1, 0, "Number of Mel-Filters", {}},
    {'M', 1, OPT_RANGE, 1, 20, 12, 1, 1, "Number of cepstral coefficients", {}},
    {'R', 0, OPT_YESNO, 0, 1, 1, 0, 0, "Remove silent frames - Not implemented yet!!", {}},
    {'D', 0, OPT_YESNO, 0, 1, 0, 0, 0, "Drop delta parameters", {}},
    {'E', 0, OPT_YESNO, 0, 1, 0, 0, 0, "Drop delta-delta parameters", {}},
    {'C', 0, OPT_YESNO, 0, 1, 0, 1, 0, "Include 0th cepstral coefficient", {}},
    {'I', 1, OPT_CHOICE, 1, 3, 1, 1, 0, "Lifter function type",
     {nullptr, "Truncated", "Raised sine", "Half raised sine"}},
    {'A', 1, OPT_CHOICE, 1, 2, 1, 1, 0, "Filters action domain",
     {nullptr, "Absolute magnitude domain", "Power domain"}},
};

TEST(OptionTable, RowsHoldTheProgramsOptions) {
    resetOptions();
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        const ExpectedRow& expected = expectedRows[row];
        SCOPED_TRACE(std::string("row ") + std::to_string(row));
        EXPECT_STREQ(optionName(row), expected.name);
        EXPECT_EQ(optionLetter(row), expected.letter);
        EXPECT_EQ(optionPosition(row), expected.position);
        EXPECT_EQ(optionKind(row), expected.kind);
        EXPECT_EQ(optionMin(row), expected.minValue);
        EXPECT_EQ(optionMax(row), expected.maxValue);
        EXPECT_EQ(optionDefault(row), expected.defaultValue);
        EXPECT_EQ(optionValue(row), expected.defaultValue);
        EXPECT_EQ(optionSaveFlag(row), expected.saveFlag);
        for (int value = 0; value < 10; value++) {
            if (expected.choices[value] == nullptr) {
                EXPECT_EQ(optionChoiceName(row, value), nullptr) << "value " << value;
            } else {
                EXPECT_STREQ(optionChoiceName(row, value), expected.choices[value]);
            }
        }
    }
}

TEST(OptionTable, BlankGuardRowsAndRowIndices) {
    for (int row : {0, 18}) {
        EXPECT_STREQ(OptionTable[row].name, " ");
        EXPECT_EQ(OptionTable[row].letter, ' ');
        EXPECT_EQ(OptionTable[row].position, 0);
        EXPECT_EQ(OptionTable[row].value, 0);
        EXPECT_EQ(OptionTable[row].maxValue, 0);
        EXPECT_EQ(OptionTable[row].defaultValue, 0);
        EXPECT_EQ(OptionTable[row].listed, 0);
    }
    EXPECT_EQ(optionLetter(ROW_QUIET), 'Q');
    EXPECT_EQ(optionLetter(ROW_EMPHASIS), 'H');
    EXPECT_EQ(optionLetter(ROW_CEPSTRAL_COUNT), 'M');
    EXPECT_EQ(optionLetter(ROW_INCLUDE_C0), 'C');
    EXPECT_EQ(optionLetter(ROW_FILTER_DOMAIN), 'A');
}

TEST(OptionTable, SetListingFlagsLeavesOutQuietOverwriteAndUnusedRows) {
    for (int row = 0; row < OPTION_ROW_COUNT; row++) {
        OptionTable[row].listed = 0;
    }
    setListingFlags();
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        EXPECT_EQ(optionListed(row), expectedRows[row].listed) << "row " << row;
    }
    EXPECT_EQ(OptionTable[0].listed, 0);
    EXPECT_EQ(OptionTable[18].listed, 0);
}

TEST(OptionTable, FindOptionMatchesLetterAndPosition) {
    EXPECT_EQ(findOption('Q', 1), 1);
    EXPECT_EQ(findOption('V', 0), 2);
    EXPECT_EQ(findOption('A', 1), 17);
    EXPECT_EQ(findOption('Q', 0), 0);  // Q has no flag row
    EXPECT_EQ(findOption('V', 1), 0);  // V has no numbered row
    EXPECT_EQ(findOption('Q', 2), 0);
    EXPECT_EQ(findOption('Z', 0), 0);
    EXPECT_EQ(findOption('q', 1), 0);  // letters are stored upper case
    EXPECT_EQ(findOption(' ', 0), 0);  // the guard rows are never consulted
}

TEST(OptionTable, StoreAndResetRestoreDefaults) {
    storeOptionValue(ROW_CEPSTRAL_COUNT, 99);  // no range test
    storeOptionValue(ROW_REMOVE_SILENCE, 0);
    EXPECT_EQ(optionValue(ROW_CEPSTRAL_COUNT), 99);
    EXPECT_EQ(optionValue(ROW_REMOVE_SILENCE), 0);
    resetOptions();
    EXPECT_EQ(optionValue(ROW_CEPSTRAL_COUNT), 12);
    EXPECT_EQ(optionValue(ROW_REMOVE_SILENCE), 1);
}

TEST(OptionTable, SetOptionValueStoresWithinRangeAndSwitchesFlagsOn) {
    resetOptions();
    setOptionValue('H', 1, ROW_EMPHASIS, 0);
    EXPECT_EQ(optionValue(ROW_EMPHASIS), 0);
    setOptionValue('H', 1, ROW_EMPHASIS, 100);
    EXPECT_EQ(optionValue(ROW_EMPHASIS), 100);
    setOptionValue('V', 0, ROW_DC_OFFSET, 7);
    EXPECT_EQ(optionValue(ROW_DC_OFFSET), 1);
    setOptionValue('V', 0, ROW_DC_OFFSET, 0);  // a flag is never switched off
    EXPECT_EQ(optionValue(ROW_DC_OFFSET), 1);
    setOptionValue('W', 1, ROW_WINDOW_TYPE, 4);
    EXPECT_EQ(optionValue(ROW_WINDOW_TYPE), 4);
    resetOptions();
}

TEST(OptionTable, SetOptionValueRefusesOutOfRange) {
    ChildRun belowRange = runInChild([] { setOptionValue('L', 1, ROW_WINDOW_LENGTH, 0); });
    EXPECT_EQ(belowRange.exitCode, 255);
    EXPECT_EQ(belowRange.output, "ERROR: Parameter L(1) = 0 is out of range [1,100].\n");

    ChildRun aboveRange = runInChild([] { setOptionValue('F', 1, ROW_FEATURE_TYPE, 2); });
    EXPECT_EQ(aboveRange.exitCode, 255);
    EXPECT_EQ(aboveRange.output, "ERROR: Parameter F(1) = 2 is out of range [1,1].\n");
}

TEST(OptionTableDeathTest, OutOfRangeEndsWithStatusMinusOne) {
    EXPECT_EXIT(setOptionValue('S', 1, ROW_WINDOW_SHIFT, 101), ::testing::ExitedWithCode(255), "");
}

}  // namespace
