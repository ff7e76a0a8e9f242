#include "options/option_table.h"

#include <cstdio>

#include "modules/console.h"

// Rows 0 and 18 are blank guards; rows 1..17 are the program's options. The row index is part
// of the interface (see OptionRow). Values start at their defaults; resetOptions restores them.
// Listing flags start at 0 and are set by setListingFlags once the names are accepted.
OptionEntry OptionTable[OPTION_ROW_COUNT] = {
    {" ", ' ', 0, OPT_YESNO, 0, 0, 0, 0, 0, {}, 0},
    {"Quiet level", 'Q', 1, OPT_RANGE, 2, 0, 99, 2, 0, {}, 0},
    {"Remove DC-offset", 'V', 0, OPT_YESNO, 0, 0, 1, 0, 0, {}, 0},
    {"Use frames, which length are nearest smaller power of two", 'U', 0, OPT_YESNO, 0, 0, 1, 0, 0,
     {}, 0},
    {"High emphasis coefficient", 'H', 1, OPT_RANGE, 97, 0, 100, 97, 0, {}, 0},
    {"Overwrite existing file", 'O', 0, OPT_YESNO, 0, 0, 1, 0, 0, {}, 0},
    {"Analysis window length (in milliseconds)", 'L', 1, OPT_RANGE, 30, 1, 100, 30, 0, {}, 0},
    {"Time domain windowing function", 'W', 1, OPT_CHOICE, 1, 1, 4, 1, 0,
     {nullptr, "Hamming", "Rectangular", "Barlett", "Blackman"}, 0},
    {"Analysis window shift (in ms)", 'S', 1, OPT_RANGE, 10, 1, 100, 10, 0, {}, 0},
    {"Feature type", 'F', 1, OPT_CHOICE, 1, 1, 1, 1, 0, {nullptr, "MFCC"}, 0},
    {"Number of Mel-Filters", 'N', 1, OPT_RANGE, 0, 0, 100, 0, 0, {}, 0},
    {"Number of cepstral coefficients", 'M', 1, OPT_RANGE, 12, 1, 20, 12, 1, {}, 0},
    {"Remove silent frames - Not implemented yet!!", 'R', 0, OPT_YESNO, 1, 0, 1, 1, 0, {}, 0},
    {"Drop delta parameters", 'D', 0, OPT_YESNO, 0, 0, 1, 0, 0, {}, 0},
    {"Drop delta-delta parameters", 'E', 0, OPT_YESNO, 0, 0, 1, 0, 0, {}, 0},
    {"Include 0th cepstral coefficient", 'C', 0, OPT_YESNO, 0, 0, 1, 0, 0, {}, 0},
    {"Lifter function type", 'I', 1, OPT_CHOICE, 1, 1, 3, 1, 0,
     {nullptr, "Truncated", "Raised sine", "Half raised sine"}, 0},
    {"Filters action domain", 'A', 1, OPT_CHOICE, 1, 1, 2, 1, 0,
     {nullptr, "Absolute magnitude domain", "Power domain"}, 0},
    {" ", ' ', 0, OPT_YESNO, 0, 0, 0, 0, 0, {}, 0},
};

// Which rows the settings listing shows: the quiet level, overwrite, and the three options that
// change nothing in the output stay out of it.
static const int32_t listedByRow[OPTION_ROW_COUNT] = {0, 0, 1, 1, 1, 0, 1, 1, 1, 1,
                                                      1, 1, 0, 0, 0, 1, 1, 1, 0};

const char* optionName(int row) { return OptionTable[row].name; }
int optionLetter(int row) { return OptionTable[row].letter; }
int optionPosition(int row) { return OptionTable[row].position; }
int optionKind(int row) { return OptionTable[row].kind; }
int optionValue(int row) { return OptionTable[row].value; }
int optionMin(int row) { return OptionTable[row].minValue; }
int optionMax(int row) { return OptionTable[row].maxValue; }
int optionDefault(int row) { return OptionTable[row].defaultValue; }
int optionSaveFlag(int row) { return OptionTable[row].saveFlag; }
int optionListed(int row) { return OptionTable[row].listed; }
const char* optionChoiceName(int row, int value) { return OptionTable[row].choiceNames[value]; }
void storeOptionValue(int row, int value) { OptionTable[row].value = value; }

int findOption(int letter, int position) {
    // Only the low byte of a letter counts, so a letter read from a (signed) char still matches.
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        if ((OptionTable[row].letter & 0xFF) == (letter & 0xFF) &&
            OptionTable[row].position == position) {
            return row;
        }
    }
    return 0;
}

int acceptOptionValue(int letter, int position, int row, int value, int32_t* stored,
                      char* message, size_t messageSize) {
    const OptionEntry* entry = &OptionTable[row];
    switch (entry->kind) {
    case OPT_YESNO:
        *stored = 1;  // a flag can only be switched on
        return 0;
    case OPT_RANGE:
    case OPT_CHOICE:
        if (value < entry->minValue || value > entry->maxValue) {
            return snprintf(message, messageSize,
                            "ERROR: Parameter %c(%i) = %i is out of range [%i,%i].\n", letter,
                            position, value, entry->minValue, entry->maxValue);
        }
        *stored = value;
        return 0;
    default:
        return 0;
    }
}

void setOptionValue(int letter, int position, int row, int value) {
    char message[160];
    int length = acceptOptionValue(letter, position, row, value, &OptionTable[row].value, message,
                                   sizeof message);
    if (length > 0) {
        fwrite(message, 1, static_cast<size_t>(length), stdout);
        exitProgram(-1);
    }
}

void resetOptions() {
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        OptionTable[row].value = OptionTable[row].defaultValue;
    }
}

void setListingFlags() {
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++) {
        OptionTable[row].listed = listedByRow[row];
    }
}
