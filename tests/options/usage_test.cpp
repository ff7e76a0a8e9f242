#include <gtest/gtest.h>

#include <string>

#include "options/program_names.h"
#include "options/usage.h"
#include "options/usage_parts.h"

namespace {

std::string joinLines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

// The usage text for the program's table: 32 lines and one empty line.
const std::string expectedUsage = joinLines({
    "Orvalix\tVersion 0.01\t(last modified 29.06.2001)",
    "Speaker Identification Program",
    "Usage: Orvalix inputfile outputfile -options",
    "",
    "Options:",
    "  -An              = Filters action domain",
    "                            1 = Absolute magnitude domain (default)",
    "                            2 = Power domain",
    "  -C               = Include 0th cepstral coefficient (default=NO)",
    "  -D               = Drop delta parameters (default=NO)",
    "  -E               = Drop delta-delta parameters (default=NO)",
    "  -Fn              = Feature type",
    "                            1 = MFCC (default)",
    "  -Hn              = High emphasis coefficient (0..100, default=97)",
    "  -In              = Lifter function type",
    "                            1 = Truncated (default)",
    "                            2 = Raised sine",
    "                            3 = Half raised sine",
    "  -Ln              = Analysis window length (in milliseconds) (1..100, default=30)",
    "  -Mn              = Number of cepstral coefficients (1..20, default=12)",
    "  -Nn              = Number of Mel-Filters (0..100, default=0)",
    "  -O               = Overwrite existing file (default=NO)",
    "  -Qn              = Quiet level (0..99, default=2)",
    "  -R               = Remove silent frames - Not implemented yet!! (default=YES)",
    "  -Sn              = Analysis window shift (in ms) (1..100, default=10)",
    "  -U               = Use frames, which length are nearest smaller power of two (default=NO)",
    "  -V               = Remove DC-offset (default=NO)",
    "  -Wn              = Time domain windowing function",
    "                            1 = Hamming (default)",
    "                            2 = Rectangular",
    "                            3 = Barlett",
    "                            4 = Blackman",
    "",
});

const std::string defaultListing = joinLines({
    "Remove DC-offset          = NO",
    "Use frames, which length are nearest smaller power of two = NO",
    "High emphasis coefficient = 97",
    "Analysis window length (in milliseconds) = 30",
    "Time domain windowing function = Hamming",
    "Analysis window shift (in ms) = 10",
    "Feature type              = MFCC",
    "Number of Mel-Filters     = 0",
    "Number of cepstral coefficients = 12",
    "Include 0th cepstral coefficient = NO",
    "Lifter function type      = Truncated",
    "Filters action domain     = Absolute magnitude domain",
});

std::string usageText() {
    return captureStdout([] { printUsage(); });
}

std::string settingsText() {
    return captureStdout([] { printSettings(); });
}

std::string valueText(int row, int value) {
    return captureStdout([row, value] { printValueText(row, value); });
}

TEST(UsageText, MatchesTheReferenceByteForByte) {
    ProgramNames names;
    parseInto(names, {"in", "out"});
    EXPECT_EQ(usageText(), expectedUsage);
}

TEST(UsageText, ShowsDefaultsNotCurrentValues) {
    ProgramNames names;
    parseInto(names, {"-W3", "-M13", "-V", "in", "out"});
    EXPECT_EQ(usageText(), expectedUsage);
    resetOptions();
}

TEST(UsageText, LettersWithoutRowsPrintNothing) {
    EXPECT_EQ(optionLetterUsed('A'), 1);
    EXPECT_EQ(optionLetterUsed('B'), 0);
    EXPECT_EQ(captureStdout([] { printOptionHead('B', 0); }), "");
    EXPECT_EQ(captureStdout([] { printOptionHead('Z', 0); }), "");
    EXPECT_EQ(countNumberedPositions('Q'), 1);
    EXPECT_EQ(countNumberedPositions('V'), 0);
    EXPECT_EQ(countNumberedPositions('B'), 0);
}

TEST(UsageText, LinesAreSeparateParts) {
    EXPECT_EQ(captureStdout([] { printFlagDefault(ROW_REMOVE_SILENCE); }), " (default=YES)\n");
    EXPECT_EQ(captureStdout([] { printRangeAndDefault(ROW_CEPSTRAL_COUNT); }),
              " (1..20, default=12)\n");
    EXPECT_EQ(captureStdout([] { printChoiceList(ROW_FILTER_DOMAIN); }),
              "\n                            1 = Absolute magnitude domain (default)\n"
              "                            2 = Power domain\n");
    EXPECT_EQ(captureStdout([] { printOptionLine('Q', ROW_QUIET, 1, 1); }),
              "Quiet level (0..99, default=2)\n");
}

// The table mechanism allows a letter to have a flag row and several numbered rows; the
// program's table does not use that, so these tests borrow row 5 (O) and restore it after.
class UsageWithBorrowedRow : public ::testing::Test {
protected:
    void TearDown() override { OptionTable[ROW_OVERWRITE] = savedOverwrite; }
    OptionEntry savedOverwrite = OptionTable[ROW_OVERWRITE];
};

TEST_F(UsageWithBorrowedRow, FlagRowAndOneNumberedRow) {
    OptionTable[ROW_OVERWRITE] = {"Emphasis on", 'H', 0, OPT_YESNO, 0, 0, 1, 0, 0, {}, 0};
    std::string text = captureStdout([] { printOptionHelp(); });
    const std::string expected =
        "  -Hn              = Emphasis on (default=NO)\n"
        "                      n: High emphasis coefficient (0..100, default=97)\n"
        "  -In              = ";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(UsageWithBorrowedRow, SecondNumberedRowGetsItsOwnLine) {
    OptionTable[ROW_OVERWRITE] = {"Second level", 'Q', 2, OPT_RANGE, 0, 0, 9, 4, 0, {}, 0};
    std::string text = captureStdout([] { printOptionHelp(); });
    const std::string expected =
        "  -Nn              = Number of Mel-Filters (0..100, default=0)\n"
        "  -Qn1,n2          = \n"
        "                      n1: Quiet level (0..99, default=2)\n"
        "                      n2: Second level (0..9, default=4)\n"
        "  -R               = ";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(UsageText, HeadsForSeveralNumbers) {
    EXPECT_EQ(captureStdout([] { printOptionHead('Q', 2); }), "  -Qn1,n2          = \n");
    EXPECT_EQ(captureStdout([] { printOptionHead('Q', 3); }), "  -Qn1,n2,n3       = \n");
    EXPECT_EQ(captureStdout([] { printOptionHead('Q', 4); }), "  -Q[n1,n2,..n4]   = \n");
    EXPECT_EQ(captureStdout([] { printOptionHead('Q', 1); }), "  -Qn              = ");
    EXPECT_EQ(captureStdout([] { printOptionHead('V', 0); }),
              "  -V               = Remove DC-offset (default=NO)\n");
    EXPECT_EQ(captureStdout([] { printOptionLine('Q', ROW_QUIET, 2, 3); }),
              "                      n2: Quiet level (0..99, default=2)\n");
}

TEST(SettingsListing, DefaultsMatchTheReference) {
    ProgramNames names;
    parseInto(names, {"in", "out"});
    EXPECT_EQ(settingsText(), defaultListing);
}

TEST(SettingsListing, ShowsCurrentValues) {
    ProgramNames names;
    parseInto(names, {"-W3", "-M13", "-V", "-C", "-A2", "-I3", "-N100", "-H0", "in", "out"});
    EXPECT_EQ(settingsText(), joinLines({
                                  "Remove DC-offset          = YES",
                                  "Use frames, which length are nearest smaller power of two = NO",
                                  "High emphasis coefficient = 0",
                                  "Analysis window length (in milliseconds) = 30",
                                  "Time domain windowing function = Barlett",
                                  "Analysis window shift (in ms) = 10",
                                  "Feature type              = MFCC",
                                  "Number of Mel-Filters     = 100",
                                  "Number of cepstral coefficients = 13",
                                  "Include 0th cepstral coefficient = YES",
                                  "Lifter function type      = Half raised sine",
                                  "Filters action domain     = Power domain",
                              }));
    resetOptions();
}

TEST(SettingsListing, RangeRowAtMinusOneIsNotDefined) {
    ProgramNames names;
    parseInto(names, {"in", "out"});
    storeOptionValue(ROW_FILTER_COUNT, -1);
    std::string text = settingsText();
    resetOptions();
    EXPECT_NE(text.find("Number of Mel-Filters     = NOT DEFINED\n"), std::string::npos) << text;
}

TEST(ValueText, ByKind) {
    EXPECT_EQ(valueText(ROW_DC_OFFSET, 0), "NO");
    EXPECT_EQ(valueText(ROW_DC_OFFSET, 1), "YES");
    EXPECT_EQ(valueText(ROW_DC_OFFSET, -3), "YES");
    EXPECT_EQ(valueText(ROW_QUIET, -1), "NOT DEFINED");
    EXPECT_EQ(valueText(ROW_QUIET, -2), "-2");
    EXPECT_EQ(valueText(ROW_QUIET, 2147483647), "2147483647");
    EXPECT_EQ(valueText(ROW_WINDOW_TYPE, 2), "Rectangular");
    EXPECT_EQ(valueText(ROW_WINDOW_TYPE, 4), "Blackman");
    EXPECT_EQ(valueText(ROW_FEATURE_TYPE, 1), "MFCC");
    EXPECT_EQ(valueText(ROW_WINDOW_TYPE, 0), "NOT DEFINED");  // a choice without a name
    EXPECT_EQ(valueText(ROW_WINDOW_TYPE, 12), "NOT DEFINED");
}

}  // namespace
