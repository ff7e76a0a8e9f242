// A deliberately slow, literal second implementation of the whole frame pipeline
// (conditioning, windows, FFT, mel filterbank, cepstrum, lifter, text output).
// It shares no code with the library: it exists to check the production code and
// the committed golden feature files against an independent computation. Every
// step is written out the long way, in the order the computation is defined, with
// each float rounding point made explicit.
#pragma once

#include <string>
#include <vector>

namespace literal {

struct Options {
    int windowLengthMs = 30;
    int windowShiftMs = 10;
    int melFilterCount = 0;   // 0: automatic
    int removeDcOffset = 0;
    int powerOfTwoBelow = 0;
    int cepstralCount = 12;
    int windowType = 1;
    int lifterType = 1;
    int filterDomain = 1;
    int emphasisPercent = 97;
    int includeC0 = 0;
};

using Rows = std::vector<std::vector<float>>;

// Samples in ms milliseconds at rate Hz: divided before multiplying, truncated.
int msToSamples(int ms, int rate);

// ---- the whole pipeline ---------------------------------------------------

struct Analysis {
    int status = 0;            // 0 done; 1 the run would stop with `error` on stderr
    std::string error;
    Rows rows;                 // one row of cepstralCount + 1 floats per analysed frame
    int frameLength = 0;
    int fftLength = 0;
    int shiftSamples = 0;
    int filterCount = 0;       // the count actually used
};

Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options);

// "%f " per coefficient (from c0 when includeC0, else from c1), "\n" per row.
std::string formatFeatures(const Rows& rows, int includeC0);

// ---- canonical 44-byte wave files ----------------------------------------

struct Wave {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    std::vector<float> samples;  // one float per frame; two channels mixed as (L+R)/2
};
// Reads the header fields at their canonical offsets and every byte from offset 44
// to the end as sample frames. False when the file cannot be read or is not a
// one- or two-channel 8- or 16-bit file.
bool readCanonicalWave(const std::string& path, Wave& wave);

}  // namespace literal
