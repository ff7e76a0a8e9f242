// A deliberately slow, literal second implementation of the whole frame pipeline (conditioning,
// windows, FFT, mel filterbank, cepstrum, lifter, text output). It shares no code with the library:
// it exists to check the production code and the committed golden feature files against an
// independent computation. Every step is written out the long way, in the order the computation
// is defined, with each float rounding point made explicit.
#pragma once

#include <string>
#include <vector>

namespace literal {

struct Options {
    int windowLengthMs = 30, windowShiftMs = 10, melFilterCount = 0 /* automatic */, removeDcOffset = 0;
    int powerOfTwoBelow = 0, cepstralCount = 12, windowType = 1, lifterType = 1, filterDomain = 1;
    int emphasisPercent = 97, includeC0 = 0;
};

using Rows = std::vector<std::vector<float>>;

struct Analysis {
    int status = 0;       // 0 done; 1 the run would stop with `error` on stderr
    std::string error;
    Rows rows;            // one row of cepstralCount + 1 floats per analysed frame
    Rows logEnergies;     // one row of filterCount log10 filter energies per analysed frame
    int filterCount = 0;  // the count actually used
};

// Samples in ms milliseconds at rate Hz: divided before multiplying, truncated.
int msToSamples(int ms, int rate);
Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options);
// "%f " per coefficient (from c0 when includeC0, else from c1), "\n" per row.
std::string formatFeatures(const Rows& rows, int includeC0);

struct Wave {
    int sampleRate = 0;
    std::vector<float> samples;  // one float per frame; two channels mixed as (L+R)/2
};
// Reads the header fields at their canonical offsets and every byte from offset 44 to the end as
// sample frames. False when the file cannot be read or is not a one- or two-channel 8- or 16-bit file.
bool readCanonicalWave(const std::string& path, Wave& wave);

}  // namespace literal
