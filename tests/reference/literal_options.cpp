#include "reference/literal_options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace literal {

namespace {

// The first number after the option letter: other characters before it are
// skipped and a minus sign never makes it negative. -1 when a comma or the end
// comes first.
int firstNumber(const char* text) {
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == ',') return -1;
        if (std::isdigit(static_cast<unsigned char>(*p))) return std::abs(std::atoi(p));
    }
    return -1;
}

bool setRanged(int& field, const char* text, char letter, int low, int high, std::string& error) {
    int value = firstNumber(text);
    if (value < low || value > high) {
        char message[128];
        std::snprintf(message, sizeof message, "ERROR: Parameter %c(1) = %i is out of range [%i,%i].\n",
                      letter, value, low, high);
        error = message;
        return false;
    }
    field = value;
    return true;
}

}  // namespace

bool applyOption(const char* arg, Options& options, std::string& error) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
    const char* text = (arg[1] != '\0') ? arg + 2 : arg + 1;
    switch (letter) {
        case 'L': return setRanged(options.windowLengthMs, text, letter, 1, 100, error);
        case 'S': return setRanged(options.windowShiftMs, text, letter, 1, 100, error);
        case 'N': return setRanged(options.melFilterCount, text, letter, 0, 100, error);
        case 'M': return setRanged(options.cepstralCount, text, letter, 1, 20, error);
        case 'W': return setRanged(options.windowType, text, letter, 1, 4, error);
        case 'I': return setRanged(options.lifterType, text, letter, 1, 3, error);
        case 'A': return setRanged(options.filterDomain, text, letter, 1, 2, error);
        case 'H': return setRanged(options.emphasisPercent, text, letter, 0, 100, error);
        case 'V': options.removeDcOffset = 1; return true;
        case 'U': options.powerOfTwoBelow = 1; return true;
        case 'C': options.includeC0 = 1; return true;
        case 'Q': { int ignored = 0; return setRanged(ignored, text, letter, 0, 99, error); }
        case 'F': { int ignored = 0; return setRanged(ignored, text, letter, 1, 1, error); }
        case 'O': case 'D': case 'E': case 'R': return true;
        default: break;
    }
    error = std::string("ERROR: Unknown option -") + letter + " found.\n";
    return false;
}

std::string withDefaultExtension(const std::string& name, const char* extension) {
    size_t mark = name.find_last_of("./\\");
    if (mark != std::string::npos && name[mark] == '.') return name;
    return name + "." + extension;
}

}  // namespace literal
