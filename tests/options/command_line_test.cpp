#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "options/program_names.h"
#include "options/usage.h"

namespace {

std::string usageText() {
    return captureStdout([] { printUsage(); });
}

TEST(CommandLine, NamesReceiveDefaultExtensions) {
    ProgramNames names;
    parseInto(names, {"in", "out"});
    EXPECT_STREQ(names.input, "in.wav");
    EXPECT_STREQ(names.output, "out.txt");

    parseInto(names, {"dir.d/song", "a.b/c"});
    EXPECT_STREQ(names.input, "dir.d/song.wav");
    EXPECT_STREQ(names.output, "a.b/c.txt");

    parseInto(names, {"x.y", ".hidden"});
    EXPECT_STREQ(names.input, "x.y");
    EXPECT_STREQ(names.output, ".hidden");

    parseInto(names, {"", "out"});  // an empty argument is a name like any other
    EXPECT_STREQ(names.input, ".wav");
    EXPECT_STREQ(names.output, "out.txt");
}

TEST(CommandLine, OptionsStandAnywhereAndApplyLeftToRight) {
    ProgramNames names;
    parseInto(names, {"-q0", "in", "-W3", "out", "-M13"});
    EXPECT_EQ(optionValue(ROW_QUIET), 0);
    EXPECT_EQ(optionValue(ROW_WINDOW_TYPE), 3);
    EXPECT_EQ(optionValue(ROW_CEPSTRAL_COUNT), 13);
    EXPECT_STREQ(names.input, "in.wav");
    EXPECT_STREQ(names.output, "out.txt");

    parseInto(names, {"-Q1", "-Q3", "in", "out"});
    EXPECT_EQ(optionValue(ROW_QUIET), 3);

    parseInto(names, {"-Q0", "in", "out"});
    EXPECT_EQ(optionValue(ROW_QUIET), 0);
    parseInto(names, {"-q0", "in", "out"});
    EXPECT_EQ(optionValue(ROW_QUIET), 0);
}

TEST(CommandLine, EachRunStartsFromTheDefaults) {
    ProgramNames names;
    parseInto(names, {"-W3", "-V", "in", "out"});
    parseInto(names, {"in", "out"});
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        EXPECT_EQ(optionValue(row), optionDefault(row)) << "row " << row;
    }
}

TEST(CommandLine, NumbersAreReadLeniently) {
    ProgramNames names;
    parseInto(names, {"-H-5", "-L30ms", "-Q5,6", "in", "out"});
    EXPECT_EQ(optionValue(ROW_EMPHASIS), 5);
    EXPECT_EQ(optionValue(ROW_WINDOW_LENGTH), 30);
    EXPECT_EQ(optionValue(ROW_QUIET), 5);
}

TEST(CommandLine, FlagsOnlySwitchOn) {
    ProgramNames names;
    parseInto(names, {"-V7", "in", "out"});
    EXPECT_EQ(optionValue(ROW_DC_OFFSET), 1);
    parseInto(names, {"-c", "-C", "in", "out", "-o"});
    EXPECT_EQ(optionValue(ROW_INCLUDE_C0), 1);
    EXPECT_EQ(optionValue(ROW_OVERWRITE), 1);
    parseInto(names, {"-R", "-R0", "in", "out"});
    EXPECT_EQ(optionValue(ROW_REMOVE_SILENCE), 1);
}

TEST(CommandLine, AcceptedNamesSwitchTheListingOn) {
    ProgramNames names;
    parseInto(names, {"in", "out"});
    EXPECT_EQ(optionListed(ROW_QUIET), 0);
    EXPECT_EQ(optionListed(ROW_DC_OFFSET), 1);
    EXPECT_EQ(optionListed(ROW_FILTER_DOMAIN), 1);
}

TEST(CommandLine, UnknownOptions) {
    for (const char* option : {"-Z", "-z5", "-Q", "-q", "-Qx"}) {
        SCOPED_TRACE(option);
        ChildRun run = parseInChild({"in", option, "out"});
        EXPECT_EQ(run.exitCode, 255);
        char letter = static_cast<char>(toupper(static_cast<unsigned char>(option[1])));
        EXPECT_EQ(run.output, std::string("ERROR: Unknown option -") + letter + " found.\n");
    }
    ChildRun digit = parseInChild({"-1", "in", "out"});
    EXPECT_EQ(digit.exitCode, 255);
    EXPECT_EQ(digit.output, "ERROR: Unknown option -1 found.\n");

    // A lone dash has no letter: the message carries the terminating NUL in its place.
    ChildRun loneDash = parseInChild({"in", "out", "-"});
    EXPECT_EQ(loneDash.exitCode, 255);
    EXPECT_EQ(loneDash.output, std::string("ERROR: Unknown option -\0 found.\n", 32));
}

TEST(CommandLine, OutOfRangeNumbers) {
    struct Case {
        const char* option;
        const char* message;
    };
    const Case cases[] = {
        {"-Q,", "ERROR: Parameter Q(1) = -1 is out of range [0,99].\n"},
        {"-W5", "ERROR: Parameter W(1) = 5 is out of range [1,4].\n"},
        {"-M0", "ERROR: Parameter M(1) = 0 is out of range [1,20].\n"},
        {"-m21", "ERROR: Parameter M(1) = 21 is out of range [1,20].\n"},
        {"-H101", "ERROR: Parameter H(1) = 101 is out of range [0,100].\n"},
        {"-N2147483648", "ERROR: Parameter N(1) = 2147483647 is out of range [0,100].\n"},
        {"-S99999999999", "ERROR: Parameter S(1) = 2147483647 is out of range [1,100].\n"},
        {"-A,2", "ERROR: Parameter A(1) = -1 is out of range [1,2].\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        ChildRun run = parseInChild({"in", "out", c.option});
        EXPECT_EQ(run.exitCode, 255);
        EXPECT_EQ(run.output, c.message);
    }
}

TEST(CommandLine, OptionErrorsComeFirstAndOnlyTheFirstIsReported) {
    ChildRun run = parseInChild({"a", "b", "c", "-W9", "-Z"});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.output, "ERROR: Parameter W(1) = 9 is out of range [1,4].\n");
}

TEST(CommandLine, WrongNumberOfNamesPrintsTheUsageText) {
    const std::string usage = usageText();
    ASSERT_FALSE(usage.empty());

    ChildRun none = parseInChild({});
    EXPECT_EQ(none.exitCode, 255);
    EXPECT_EQ(none.output, usage);

    ChildRun onlyOptions = parseInChild({"-Q0", "-V"});
    EXPECT_EQ(onlyOptions.exitCode, 255);
    EXPECT_EQ(onlyOptions.output, usage);

    ChildRun one = parseInChild({"in"});
    EXPECT_EQ(one.exitCode, 255);
    EXPECT_EQ(one.output, "ERROR: Too few parameters\n\n" + usage);

    ChildRun three = parseInChild({"in", "out", "more"});
    EXPECT_EQ(three.exitCode, 255);
    EXPECT_EQ(three.output, "ERROR: Too many parameters\n\n" + usage);
}

TEST(CommandLine, EqualNamesAreRefused) {
    ChildRun sameCase = parseInChild({"a.wav", "A.WAV"});
    EXPECT_EQ(sameCase.exitCode, 255);
    EXPECT_EQ(sameCase.output,
              "ERROR: Input and output filenames should be different. (A.WAV)\n");

    // Names are compared after their extensions were added.
    ChildRun afterExtension = parseInChild({"x.txt", "X"});
    EXPECT_EQ(afterExtension.exitCode, 255);
    EXPECT_EQ(afterExtension.output,
              "ERROR: Input and output filenames should be different. (X.txt)\n");

    ProgramNames names;
    parseInto(names, {"in", "in"});  // in.wav and in.txt differ
    EXPECT_STREQ(names.input, "in.wav");
    EXPECT_STREQ(names.output, "in.txt");
}

TEST(CommandLine, NamesTooLongForTheBufferAreRefused) {
    const std::string refusal = "ERROR: File name too long (at most 1023 characters).\n";
    const std::string longestWithDot = std::string(1021, 'o') + ".t";

    ProgramNames names;
    parseInto(names, {std::string(1019, 'i'), longestWithDot});  // 1019 + ".wav" fits exactly
    EXPECT_EQ(std::string(names.input), std::string(1019, 'i') + ".wav");
    EXPECT_EQ(std::string(names.output), longestWithDot);  // already has an extension

    ChildRun extensionDoesNotFit = parseInChild({std::string(1020, 'i'), "out"});
    EXPECT_EQ(extensionDoesNotFit.exitCode, 255);
    EXPECT_EQ(extensionDoesNotFit.output, refusal);

    ChildRun nameDoesNotFit = parseInChild({"in", std::string(1024, 'o') + ".txt"});
    EXPECT_EQ(nameDoesNotFit.exitCode, 255);
    EXPECT_EQ(nameDoesNotFit.output, refusal);

    ChildRun huge = parseInChild({std::string(100000, 'h'), "out"});
    EXPECT_EQ(huge.exitCode, 255);
    EXPECT_EQ(huge.output, refusal);
}

void parseWithUnknownOption() {
    ProgramNames names;
    parseInto(names, {"in", "-Z", "out"});
}

TEST(CommandLineDeathTest, ErrorsEndWithStatusMinusOne) {
    EXPECT_EXIT(parseWithUnknownOption(), ::testing::ExitedWithCode(255), "");
}

}  // namespace
