#pragma once
#include <cstddef>
#include "options/option_table.h"

// Parses the whole command line: resets the options, applies every option argument in order,
// fills the positional name buffers (default extensions added) and checks that the names differ.
// Returns only when the command line is valid; otherwise prints one message on standard output and
// ends the process with status -1.
int parseCommandLine(int argc, char** argv, int positionalCount, PositionalParam* table);

// Reads up to slotCount - 1 comma-separated numbers into slots[1..]; count receives how many.
void parseNumberList(const char* text, int slotCount, int* count, int* slots);
// Applies one option argument to values (indexed by row) without touching the option table.
// Returns 0, or the length of the program's error line written into message.
int applyOptionTo(const char* arg, int32_t* values, char* message, size_t messageSize);
// Applies one option argument to the option table; a bad one prints its error line and ends the
// process with status -1.
void parseOption(const char* arg);
int scanArguments(int argc, char** argv);
void assignPositionals(int argc, char** argv, int positionalCount, int nameCount,
                       PositionalParam* table);
void checkDistinctNames(int count, const PositionalParam* table);
