#include "options/usage.h"

#include <cstdio>

#include "modules/console.h"
#include "options/option_table.h"
#include "options/usage_parts.h"

// The usage text and the settings listing are both generated from the option table, so a row
// added there shows up here without further work. The usage text always shows defaults.

namespace {

constexpr int VALUE_TEXT_SIZE = 80;
constexpr int HELP_POSITIONS = 10;  // numbered rows beyond this position are not shown

}  // namespace

int optionLetterUsed(int letter) {
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        if ((optionLetter(row) & 0xFF) == (letter & 0xFF)) {
            return 1;
        }
    }
    return 0;
}

int countNumberedPositions(int letter) {
    int count = 0;
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        if ((optionLetter(row) & 0xFF) == (letter & 0xFF) && optionPosition(row) > 0) {
            count++;
        }
    }
    return count;
}

void printValueText(int row, int value) {
    char text[VALUE_TEXT_SIZE];
    switch (optionKind(row)) {
    case OPT_YESNO:
        snprintf(text, sizeof text, "%s", value != 0 ? "YES" : "NO");
        break;
    case OPT_RANGE:
        if (value == -1) {
            snprintf(text, sizeof text, "NOT DEFINED");
        } else {
            snprintf(text, sizeof text, "%i", value);
        }
        break;
    case OPT_CHOICE: {
        // A value without a name (only reachable through storeOptionValue) reads as undefined.
        const char* choice = value >= 0 && value <= 9 ? optionChoiceName(row, value) : nullptr;
        snprintf(text, sizeof text, "%s", choice != nullptr ? choice : "NOT DEFINED");
        break;
    }
    default:
        snprintf(text, sizeof text, "%i", value);
        break;
    }
    printf("%s", text);
}

void printFlagDefault(int row) {
    printf(" (default=");
    printValueText(row, optionDefault(row));
    printf(")\n");
}

void printRangeAndDefault(int row) {
    printf(" (");
    printValueText(row, optionMin(row));
    printf("..");
    printValueText(row, optionMax(row));
    printf(", default=");
    printValueText(row, optionDefault(row));
    printf(")\n");
}

void printChoiceList(int row) {
    printf("\n");
    for (int value = optionMin(row); value <= optionMax(row); value++) {
        printf("                            ");
        printf("%1i = ", value);
        printValueText(row, value);
        if (value == optionDefault(row)) {
            printf(" (default)");
        }
        printf("\n");
    }
}

void printOptionLine(int letter, int row, int position, int numberedCount) {
    if (numberedCount == 1 && findOption(letter, 0) != 0) {
        printf("                      n: ");
    }
    if (numberedCount > 1) {
        printf("                      n%1i: ", position);
    }
    printf("%s", optionName(row));
    switch (optionKind(row)) {
    case OPT_YESNO:
        printFlagDefault(row);
        break;
    case OPT_RANGE:
        printRangeAndDefault(row);
        break;
    case OPT_CHOICE:
        printChoiceList(row);
        break;
    default:
        break;
    }
}

void printOptionHead(int letter, int numberedCount) {
    if (!optionLetterUsed(letter)) {
        return;
    }
    // Every head is 21 characters wide with the '=' in column 20.
    switch (numberedCount) {
    case 0:
        printf("  %c%c               = ", '-', letter);
        break;
    case 1:
        printf("  %c%cn              = ", '-', letter);
        break;
    case 2:
        printf("  %c%cn1,n2          = ", '-', letter);
        break;
    case 3:
        printf("  %c%cn1,n2,n3       = ", '-', letter);
        break;
    default:
        printf("  %c%c[n1,n2,..n%i]   = ", '-', letter, numberedCount);
        break;
    }
    int flagRow = findOption(letter, 0);
    if (flagRow != 0) {
        printOptionLine(letter, flagRow, 0, 0);
    } else if (numberedCount > 1) {
        printf("\n");  // the numbered rows follow on lines of their own
    }
}

void printOptionHelp() {
    for (int letter = 'A'; letter <= 'Z'; letter++) {
        int numberedCount = countNumberedPositions(letter);
        printOptionHead(letter, numberedCount);
        for (int position = 1; position <= HELP_POSITIONS; position++) {
            int row = findOption(letter, position);
            if (row != 0) {
                printOptionLine(letter, row, position, numberedCount);
            }
        }
    }
}

void printUsage() {
    printMessage("%s\t%s\t(last modified %s)\n", PROGRAM_NAME, PROGRAM_VERSION, PROGRAM_DATE);
    printMessage("Speaker Identification Program\nUsage: %s inputfile outputfile %coptions\n\n"
                 "Options:\n",
                 PROGRAM_NAME, '-');
    printOptionHelp();
    printMessage("\n");
}

void printSettings() {
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        if (optionListed(row)) {
            printf("%-25s = ", optionName(row));
            printValueText(row, optionValue(row));
            printf("\n");
        }
    }
}
