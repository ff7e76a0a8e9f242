// literal_mfcc: runs the literal reference pipeline on one wave file and writes the feature text,
// for comparing against the program's own output byte for byte. Options as the program writes
// them (a letter in either case, then a number where the option takes one), trusted to be in range.
//   literal_mfcc in.wav out.txt [-L# -S# -N# -V -U -M# -W# -I# -A# -H# -C]
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reference/literal_pipeline.h"

// The name with ".extension" appended when its last path component has no dot.
static std::string withDefaultExtension(const std::string& name, const char* extension) {
    size_t mark = name.find_last_of("./");
    return mark != std::string::npos && name[mark] == '.' ? name : name + "." + extension;
}

int main(int argc, char** argv) {
    literal::Options o;
    std::string names[2];
    int nameCount = 0;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '-') {
            if (nameCount == 2) return std::fputs("literal_mfcc: too many names\n", stderr), 255;
            names[nameCount++] = argv[i];
            continue;
        }
        const int value = std::atoi(argv[i] + 2);
        switch (std::toupper(static_cast<unsigned char>(argv[i][1]))) {
        case 'L': o.windowLengthMs = value; break;
        case 'S': o.windowShiftMs = value; break;
        case 'N': o.melFilterCount = value; break;
        case 'M': o.cepstralCount = value; break;
        case 'W': o.windowType = value; break;
        case 'I': o.lifterType = value; break;
        case 'A': o.filterDomain = value; break;
        case 'H': o.emphasisPercent = value; break;
        case 'V': o.removeDcOffset = 1; break;
        case 'U': o.powerOfTwoBelow = 1; break;
        case 'C': o.includeC0 = 1; break;
        default: break;  // Q, O and the options that change no feature
        }
    }
    if (nameCount != 2) {
        std::printf("usage: literal_mfcc in.wav out.txt [-L# -S# -N# -V -U -M# -W# -I# -A# -H# -C]\n");
        return 255;
    }
    const std::string inputName = withDefaultExtension(names[0], "wav");
    literal::Wave wave;
    if (!literal::readCanonicalWave(inputName, wave))
        return std::fprintf(stderr, "literal_mfcc: cannot read %s as a canonical wave file\n",
                            inputName.c_str()),
               1;
    literal::Analysis analysis = literal::analyseFull(wave.samples, wave.sampleRate, o);
    if (analysis.status != 0) return std::fputs(analysis.error.c_str(), stderr), analysis.status;
    const std::string text = literal::formatFeatures(analysis.rows, o.includeC0);
    const std::string outputName = withDefaultExtension(names[1], "txt");
    FILE* out = std::fopen(outputName.c_str(), "w");
    const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (!out || std::fclose(out) != 0 || !written)
        return std::fprintf(stderr, "literal_mfcc: cannot write %s\n", outputName.c_str()), 1;
    return 0;
}
