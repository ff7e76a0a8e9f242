#pragma once
#include <string>
#include <vector>

#include "options/command_line.h"
#include "options/stdout_capture.h"

// The program's own positional table: an input with "wav", an output with "txt", both required,
// then an all-zero row.
struct ProgramNames {
    char input[NAME_BUFFER_SIZE] = {};
    char output[NAME_BUFFER_SIZE] = {};
    PositionalParam table[3] = {
        {input, "wav", 0, ROLE_INPUT},
        {output, "txt", 0, ROLE_OUTPUT},
        {nullptr, nullptr, 0, 0},
    };
};

// Parses the arguments into names; for command lines that are expected to be accepted.
inline void parseInto(ProgramNames& names, std::vector<std::string> arguments) {
    ArgumentList list(std::move(arguments));
    parseCommandLine(list.count(), list.vector(), 2, names.table);
}

// Parses the arguments in a child process and reports its standard output and exit status.
inline ChildRun parseInChild(std::vector<std::string> arguments) {
    return runInChild([&arguments] {
        ProgramNames names;
        parseInto(names, arguments);
    });
}
