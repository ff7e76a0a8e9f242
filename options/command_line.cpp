#include "options/command_line.h"

#include <cstdio>
#include <cstring>

#include "modules/console.h"
#include "modules/file.h"
#include "options/usage.h"

namespace {

constexpr int NUMBER_SLOT_COUNT = 20;  // slot 0 unused, so at most 19 numbers per option
constexpr int EMPTY_FIELD = -1;
constexpr int LARGEST_NUMBER = 2147483647;

[[noreturn]] void refuseLongName() {
    printf("ERROR: File name too long (at most 1023 characters).\n");
    exitProgram(-1);
}

// Reads the digit run at text like atoi would, but a value past the largest 32-bit integer
// stays at that largest value instead of overflowing. Returns the value; text is not advanced.
int readDigitRun(const char* text) {
    int value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        int digit = *text - '0';
        if (value > (LARGEST_NUMBER - digit) / 10) {
            return LARGEST_NUMBER;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

void parseNumberList(const char* text, int slotCount, int* count, int* slots) {
    *count = 0;
    const char* at = text;
    while (*at != '\0' && *count < slotCount - 1) {
        if (*at == ',') {
            (*count)++;
            slots[*count] = EMPTY_FIELD;
            at++;
        } else if (*at >= '0' && *at <= '9') {
            (*count)++;
            // The digit run carries no sign, so its absolute value is the run itself.
            slots[*count] = readDigitRun(at);
            // Whatever trails the number up to the next comma is skipped; that comma closes the
            // number rather than opening an empty field.
            const char* comma = strchr(at, ',');
            if (comma == nullptr) {
                break;
            }
            at = comma + 1;
        } else {
            at++;  // letters, blanks and signs carry no meaning
        }
    }
}

int applyOptionTo(const char* arg, int32_t* values, char* message, size_t messageSize) {
    int letter = arg[1];
    if (letter >= 'a' && letter <= 'z') {
        letter = letter - 'a' + 'A';
    }
    // A lone dash has no letter; its number list is then empty rather than the bytes past its end.
    const char* numberText = arg[1] != '\0' ? arg + 2 : arg + 1;

    int slots[NUMBER_SLOT_COUNT];
    for (int i = 0; i < NUMBER_SLOT_COUNT; i++) {
        slots[i] = EMPTY_FIELD;
    }
    int count = 0;
    parseNumberList(numberText, NUMBER_SLOT_COUNT, &count, slots);

    int matched = 0;
    int flagRow = findOption(letter, 0);
    if (flagRow != 0) {
        acceptOptionValue(letter, 0, flagRow, 1, &values[flagRow], message, messageSize);
        matched = 1;
    }
    for (int position = 1; position <= count; position++) {
        int row = findOption(letter, position);
        if (row != 0) {
            int length = acceptOptionValue(letter, position, row, slots[position], &values[row],
                                           message, messageSize);
            if (length > 0) return length;
            matched = 1;
        }
    }
    if (!matched) {
        // A lone dash prints its letter as a NUL byte; the returned length keeps it.
        return snprintf(message, messageSize, "ERROR: Unknown option %c%c found.\n", '-', letter);
    }
    return 0;
}

void parseOption(const char* arg) {
    int32_t values[OPTION_ROW_COUNT];
    for (int row = 0; row < OPTION_ROW_COUNT; row++) values[row] = optionValue(row);
    char message[160];
    int length = applyOptionTo(arg, values, message, sizeof message);
    if (length > 0) {
        fwrite(message, 1, static_cast<size_t>(length), stdout);
        exitProgram(-1);
    }
    for (int row = 0; row < OPTION_ROW_COUNT; row++) storeOptionValue(row, values[row]);
}

int scanArguments(int argc, char** argv) {
    int nameCount = 0;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-') {
            parseOption(argv[i]);
        } else {
            nameCount++;
        }
    }
    return nameCount;
}

void assignPositionals(int argc, char** argv, int positionalCount, int nameCount,
                       PositionalParam* table) {
    if (nameCount > positionalCount) {
        printf("ERROR: Too many parameters\n\n");
        printUsage();
        exitProgram(-1);
    }
    int required = 0;
    for (int row = 0; row < positionalCount; row++) {
        if (table[row].optionalLevel == 0) {
            required++;
        }
    }
    if (nameCount < required) {
        if (nameCount > 0) {
            printf("ERROR: Too few parameters\n\n");
        }
        printUsage();
        exitProgram(-1);
    }

    int extra = nameCount - required;
    int row = 0;
    for (int j = 1; j < argc; j++) {
        if (argv[j][0] == '-') {
            continue;
        }
        while (row < positionalCount && table[row].optionalLevel > extra) {
            table[row].buffer[0] = '\0';
            row++;
        }
        if (row >= positionalCount) {
            break;  // optional levels that leave a name without a row are not supported
        }
        // The length is checked before copying, so nothing lands past the buffer.
        size_t length = strlen(argv[j]);
        if (length >= NAME_BUFFER_SIZE) {
            refuseLongName();
        }
        memcpy(table[row].buffer, argv[j], length + 1);
        const char* extension = table[row].defaultExtension;
        if (extension[0] != '\0' &&
            !addDefaultExtension(table[row].buffer, extension, NAME_BUFFER_SIZE)) {
            refuseLongName();
        }
        row++;
    }
    for (; row < positionalCount; row++) {
        table[row].buffer[0] = '\0';
    }

    setListingFlags();
    checkDistinctNames(positionalCount, table);
}

void checkDistinctNames(int count, const PositionalParam* table) {
    for (int i = 0; i < count; i++) {
        for (int j = 0; j < i; j++) {
            if (table[i].role == ROLE_INPUT && table[j].role == ROLE_INPUT) {
                continue;  // several inputs may well be the same file
            }
            if (table[i].role == ROLE_EXEMPT || table[j].role == ROLE_EXEMPT) {
                continue;
            }
            if (table[i].buffer[0] == '\0' || table[j].buffer[0] == '\0') {
                continue;
            }
            if (namesEqualIgnoreCase(table[i].buffer, table[j].buffer)) {
                printf("ERROR: Input and output filenames should be different. (%s)\n",
                       table[i].buffer);
                exitProgram(-1);
            }
        }
    }
}

int parseCommandLine(int argc, char** argv, int positionalCount, PositionalParam* table) {
    resetOptions();
    int nameCount = scanArguments(argc, argv);
    assignPositionals(argc, argv, positionalCount, nameCount, table);
    return 0;
}
