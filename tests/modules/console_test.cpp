#include "modules/console.h"

#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"

namespace {

std::string backspaces(int n) {
    return std::string(static_cast<size_t>(n), '\b');
}

TEST(ConsoleStreams, MessageStreamSwitchesWhileOutputStaysOnStandardOutput) {
    CapturedOutput c = captureOutput([] {
        printMessage("a%d", 1);
        selectMessageStream(1);
        printMessage("b");
        printOutput("c%s", "!");
        selectMessageStream(0);
        printMessage("d");
        printError("e%c", 'E');
    });
    EXPECT_EQ(c.out, "a1c!d");
    EXPECT_EQ(c.err, "beE");
}

TEST(ConsoleStreams, LongTextsAreCutAtTheirBounds) {
    std::string longText(3000, 'x');
    int messageCount = 0, errorCount = 0;
    CapturedOutput c = captureOutput([&] {
        messageCount = printMessage("%s", longText.c_str());
        errorCount = printError("%s", longText.c_str());
    });
    EXPECT_EQ(c.out, std::string(255, 'x'));
    EXPECT_EQ(c.err, std::string(1023, 'x'));
    EXPECT_EQ(messageCount, 255);
    EXPECT_EQ(errorCount, 1023);
}

TEST(ConsoleStreams, MessageLevelIsStoredAndReturned) {
    EXPECT_EQ(setMessageLevel(7), 7);
    EXPECT_EQ(getMessageLevel(), 7);
    setMessageLevel(0);
}

TEST(ConsoleProgress, PercentIsRightAlignedAfterTwelveBackspaces) {
    CapturedOutput c = captureOutput([] {
        showPercent(1, 0);
        showPercent(1, 3);
        showPercent(2, 3);
        showPercent(3, 3);
    });
    EXPECT_EQ(c.err, backspaces(12) + " 33 % done  " + backspaces(12) + " 66 % done  " +
                         backspaces(12) + "100 % done  ");
    EXPECT_EQ(c.out, "");
}

TEST(ConsoleProgress, SpinnerTurnsDashBackslashBarSlash) {
    CapturedOutput c = captureOutput([] {
        showSpinner(0, 0);
        showSpinner(0, 10);
        for (int i = 0; i < 5; ++i) showSpinner(5, 10);
    });
    std::string expected = backspaces(14) + " stage complete" + backspaces(12) + "  wait...     ";
    for (char face : std::string("-\\|/-")) {
        expected += backspaces(13) + "(" + face + ") 50 % done";
    }
    EXPECT_EQ(c.err, expected);
    captureOutput([] { for (int i = 0; i < 3; ++i) showSpinner(1, 1); });  // back to the first face
}

TEST(ConsoleProgress, StatusLineOnlyInsideAStage) {
    int outside = 0, inside = 0;
    CapturedOutput c = captureOutput([&] {
        outside = printStatusLine("gone %d", 1);
        endProgress();  // no stage: nothing
        beginProgress();
        inside = printStatusLine("step %d", 2);
        endProgress();
    });
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(inside, 6);
    std::string erase = "\r" + std::string(70, ' ') + "\r";
    std::string twelve(12, ' ');
    EXPECT_EQ(c.err, erase + "step 2" + twelve + erase + twelve + "\r");
}

TEST(ConsoleProgress, QuietSilencesPercentAndSpinnerButNotTheStatusLine) {
    CapturedOutput c = captureOutput([] {
        setProgressQuiet(1);
        showPercent(1, 2);
        showSpinner(1, 2);
        beginProgress();
        printStatusLine("x");
        endProgress();
        setProgressQuiet(0);
    });
    std::string erase = "\r" + std::string(70, ' ') + "\r";
    std::string twelve(12, ' ');
    EXPECT_EQ(c.err, erase + "x" + twelve + erase + twelve + "\r");
}

TEST(ConsoleProgress, DisabledDisplayStillLetsAnOpenStagePrintItsStatusLine) {
    CapturedOutput c = captureOutput([] {
        beginProgress();
        setProgressEnabled(0);
        showPercent(1, 2);
        showSpinner(1, 2);
        printStatusLine("y");
        endProgress();  // disabled: clears the stage silently
        printStatusLine("z");
        setProgressEnabled(1);
    });
    std::string erase = "\r" + std::string(70, ' ') + "\r";
    EXPECT_EQ(c.err, erase + "y" + std::string(12, ' '));
}

TEST(ConsoleExit, ExitProgramEndsWithTheGivenStatus) {
    EXPECT_EXIT(exitProgram(3), ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(exitProgram(-1), ::testing::ExitedWithCode(255), "");
}

}  // namespace
