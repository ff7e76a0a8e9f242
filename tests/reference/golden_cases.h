// The reference runs of the shared golden corpus (cases.json), read into plain
// records so the literal pipeline can be checked against their feature files.
#pragma once

#include <string>
#include <vector>

namespace literal {

struct GoldenCase {
    std::string id;
    std::vector<std::string> argv;   // the program's arguments, names "in" and "out"
    std::string inputPath;           // corpus file laid out as in.wav; empty if none
    int status = 0;
    std::string outputPath;          // expected out.txt; empty when none is written
    std::string stderrPath;          // expected standard error
};

// False when the file is missing or not in the expected shape.
bool loadGoldenCases(const std::string& corpus, std::vector<GoldenCase>& cases);

std::string readWholeFile(const std::string& path, bool& ok);

}  // namespace literal
