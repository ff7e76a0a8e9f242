#pragma once
#include <cstddef>
#include <cstdint>

// The fixed table of single-letter options (rows 1..17; rows 0 and 18 are blank) and the
// positional file-name rows.

enum OptionKind : int32_t {
    OPT_YESNO = 0,
    OPT_RANGE = 1,
    OPT_CHOICE = 2,
};

struct OptionEntry {
    const char* name;
    int32_t letter;      // upper case; only the low byte is used
    int32_t position;    // 0: bare flag; k >= 1: the k-th number of the list after the letter
    int32_t kind;        // an OptionKind
    int32_t value;
    int32_t minValue;
    int32_t maxValue;
    int32_t defaultValue;
    int32_t saveFlag;    // belongs to the parameter header
    const char* choiceNames[10];
    int32_t listed;      // shown in the settings listing
};

constexpr int OPTION_ROW_COUNT = 19;  // indices 0..18
constexpr int FIRST_OPTION_ROW = 1;
constexpr int LAST_OPTION_ROW = 17;

// Row indices the driver addresses.
enum OptionRow : int {
    ROW_QUIET = 1, ROW_DC_OFFSET = 2, ROW_POWER_OF_TWO = 3, ROW_EMPHASIS = 4, ROW_OVERWRITE = 5,
    ROW_WINDOW_LENGTH = 6, ROW_WINDOW_TYPE = 7, ROW_WINDOW_SHIFT = 8, ROW_FEATURE_TYPE = 9,
    ROW_FILTER_COUNT = 10, ROW_CEPSTRAL_COUNT = 11, ROW_REMOVE_SILENCE = 12, ROW_DROP_DELTA = 13,
    ROW_DROP_DELTA_DELTA = 14, ROW_INCLUDE_C0 = 15, ROW_LIFTER = 16, ROW_FILTER_DOMAIN = 17,
};

enum PositionalRole : int32_t {
    ROLE_OUTPUT = 0,
    ROLE_INPUT = 1,
    ROLE_EXEMPT = 3,
};

constexpr int NAME_BUFFER_SIZE = 1024;  // 1023 characters and the terminating NUL

struct PositionalParam {
    char* buffer;                  // NAME_BUFFER_SIZE bytes
    const char* defaultExtension;  // without the dot; "" for none
    int32_t optionalLevel;
    int32_t role;
};

// The option table itself (static program state).
extern OptionEntry OptionTable[OPTION_ROW_COUNT];

const char* optionName(int row);
int optionLetter(int row);
int optionPosition(int row);
int optionKind(int row);
int optionValue(int row);
int optionMin(int row);
int optionMax(int row);
int optionDefault(int row);
int optionSaveFlag(int row);
int optionListed(int row);
const char* optionChoiceName(int row, int value);
void storeOptionValue(int row, int value);

// First row 1..17 with this letter and position, 0 when none.
int findOption(int letter, int position);

// The value row takes from a command line: a flag is switched on, a number must lie in the row's
// range. Returns 0 with *stored set, or the length of the error line written into message.
int acceptOptionValue(int letter, int position, int row, int value, int32_t* stored,
                      char* message, size_t messageSize);

// Store with the kind rules and the range test; an out-of-range value prints the error and ends
// the process with status -1.
void setOptionValue(int letter, int position, int row, int value);

void resetOptions();
void setListingFlags();
