// A deliberately slow, literal second implementation of the frame pipeline sharing no code with the
// library, each float rounding explicit: the oracle of the differential test and golden files.
#pragma once

#include <string>
#include <vector>

namespace literal {

struct Options {
    int windowLengthMs = 30, windowShiftMs = 10, melFilterCount = 0 /* automatic */;
    int removeDcOffset = 0, powerOfTwoBelow = 0, cepstralCount = 12, windowType = 1, lifterType = 1;
    int filterDomain = 1, emphasisPercent = 97, includeC0 = 0;
};

using Rows = std::vector<std::vector<float>>;

struct Analysis {
    int status = 0;       // 0 done; 1 the run would stop with `error` on stderr
    std::string error;
    Rows rows;            // cepstralCount + 1 coefficients per frame
    Rows logEnergies;     // filterCount log10 filter energies per frame
    int filterCount = 0;  // the count actually used
};

// Samples in ms milliseconds at rate Hz: divided before multiplying, truncated.
int msToSamples(int ms, int rate);
Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options);
// "%f " per coefficient (from c0 when includeC0, else from c1), "\n" per row.
std::string formatFeatures(const Rows& rows, int includeC0);

struct Wave {
    int sampleRate = 0;
    std::vector<float> samples;  // one per frame; two channels mixed as (L+R)/2
};
// The header fields at their canonical offsets, every byte from 44 to the end as samples. False
// unless the file reads and has one or two channels of 8 or 16 bits.
bool readCanonicalWave(const std::string& path, Wave& wave);

}  // namespace literal
