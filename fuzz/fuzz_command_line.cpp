// Fuzz target: the command-line parser over arbitrary argument lists. Its exitProgram calls land in
// __wrap_ below (this target alone links with --wrap) and jump back into the harness; the option
// table is restored between inputs, so no state leaks from one input into the next.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "options/command_line.h"
#include "options/option_table.h"

namespace {

constexpr int MAX_ARGUMENTS = 64;

jmp_buf parserExit;
int exitStatus = 0;
bool parsing = false;
OptionEntry initialTable[OPTION_ROW_COUNT];

// Every value the parser accepted must lie within its row's range.
void checkTable() {
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; row++)
        if (OptionTable[row].value < OptionTable[row].minValue ||
            OptionTable[row].value > OptionTable[row].maxValue)
            abort();
}

// An accepted name fits its buffer and carries an extension in its last path component.
void checkName(const char* buffer) {
    size_t length = strnlen(buffer, NAME_BUFFER_SIZE);
    if (length >= NAME_BUFFER_SIZE || length == 0) abort();
    const char* slash = strrchr(buffer, '/');
    if (!strchr(slash ? slash + 1 : buffer, '.')) abort();
}

}  // namespace

// The wrapped exitProgram (its mangled name, as the linker sees it).
extern "C" [[noreturn]] void __wrap__Z11exitProgrami(int status) {
    if (!parsing) abort();  // only the parser may end the run here
    exitStatus = status;
    longjmp(parserExit, 1);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();  // the stage reports would flood the log
    memcpy(initialTable, OptionTable, sizeof initialTable);
    return 0;
}

// The input is the argument list: arguments separated by NUL bytes, after the program name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    char* argv[MAX_ARGUMENTS + 2];
    char programName[] = "orvalix";
    int argc = 0;
    argv[argc++] = programName;
    for (size_t at = 0; at <= size && argc <= MAX_ARGUMENTS; at += strlen(text + at) + 1)
        argv[argc++] = text + at;
    argv[argc] = nullptr;

    static char inputName[NAME_BUFFER_SIZE], outputName[NAME_BUFFER_SIZE];
    PositionalParam table[3] = {
        {inputName, "wav", 0, ROLE_INPUT}, {outputName, "txt", 0, ROLE_OUTPUT}, {nullptr, "", 0, 0}};
    memcpy(OptionTable, initialTable, sizeof initialTable);

    parsing = true;
    if (setjmp(parserExit) == 0) {
        parseCommandLine(argc, argv, 2, table);
        parsing = false;
        checkTable(), checkName(inputName), checkName(outputName);
    } else {
        parsing = false;
        if (exitStatus != -1) abort();  // every refusal ends with status -1
    }
    free(text);
    return 0;
}
