#include <gtest/gtest.h>

#include <string>

#include "options/option_table.h"
#include "options/stdout_capture.h"

namespace {

TEST(OptionTable, SetListingFlagsLeavesOutQuietOverwriteAndUnusedRows) {
    for (int row = 0; row < OPTION_ROW_COUNT; row++) {
        OptionTable[row].listed = 0;
    }
    setListingFlags();
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        bool unlisted = row == ROW_QUIET || row == ROW_OVERWRITE || row == ROW_REMOVE_SILENCE ||
                        row == ROW_DROP_DELTA || row == ROW_DROP_DELTA_DELTA;
        EXPECT_EQ(optionListed(row), unlisted ? 0 : 1) << "row " << row;
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
