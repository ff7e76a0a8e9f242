// literal_mfcc: runs the literal reference pipeline on one wave file and writes the
// feature text, for comparing against the program's own output byte for byte.
//   literal_mfcc in.wav out.txt [-L# -S# -N# -V -U -M# -W# -I# -A# -H# -C]
#include <cstdio>
#include <string>

#include "reference/literal_options.h"
#include "reference/literal_pipeline.h"

int main(int argc, char** argv) {
    literal::Options options;
    std::string names[2];
    int nameCount = 0;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-') {
            std::string error;
            if (!literal::applyOption(argv[i], options, error)) {
                std::fputs(error.c_str(), stdout);
                return 255;
            }
        } else if (nameCount < 2) {
            names[nameCount++] = argv[i];
        } else {
            std::printf("ERROR: Too many parameters\n");
            return 255;
        }
    }
    if (nameCount != 2) {
        std::printf("usage: literal_mfcc in.wav out.txt [-L# -S# -N# -V -U -M# -W# -I# -A# -H# -C]\n");
        return 255;
    }
    std::string inputName = literal::withDefaultExtension(names[0], "wav");
    std::string outputName = literal::withDefaultExtension(names[1], "txt");

    literal::Wave wave;
    if (!literal::readCanonicalWave(inputName, wave)) {
        std::fprintf(stderr, "literal_mfcc: cannot read %s as a canonical wave file\n", inputName.c_str());
        return 1;
    }
    literal::Analysis analysis = literal::analyseFull(wave.samples, wave.sampleRate, options);
    if (analysis.status != 0) {
        std::fputs(analysis.error.c_str(), stderr);
        return analysis.status;
    }
    std::string text = literal::formatFeatures(analysis.rows, options.includeC0);
    FILE* out = std::fopen(outputName.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "literal_mfcc: cannot create %s\n", outputName.c_str());
        return 1;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "literal_mfcc: cannot write %s\n", outputName.c_str());
        return 1;
    }
    return 0;
}
