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

// ---- building blocks, exposed so the tests can pin each one -------------

int msToSamples(int ms, int rate);
void subtractMean(std::vector<float>& x);
void preEmphasize(std::vector<float>& x, float a);
std::vector<float> makeWindow(int kind, int length);

// Complex radix-2 transform, twiddles from the three-term recurrence restarted
// for every block. Returns false (and leaves the outputs alone) for a length
// below 2 or not a power of two.
bool fft(unsigned pointCount, bool inverse, const std::vector<float>& realIn,
         const std::vector<float>* imagIn, std::vector<float>& realOut,
         std::vector<float>& imagOut);

double hzToMel(float hz);
int frequencyToBin(float hz, int sampleRate, int fftLength);
int automaticFilterCount(int sampleRate);

struct Filter {
    int firstBin = 0;
    int lastBin = 0;
    std::vector<float> weights;
};
struct Filterbank {
    float melTop = 0;
    std::vector<float> edgeFrequencies;  // f(1)..f(count); entry 0 is 0
    std::vector<int> edgeBins;           // e(0)..e(count), after the top-edge rule
    std::vector<Filter> filters;         // filters 1..count at indices 0..count-1
};
std::vector<float> triangleWeights(int first, int peak, int end);
Filterbank buildFilterbank(int filterCount, int fftLength, int sampleRate);
double filterOutput(const Filter& filter, const std::vector<float>& spectrum);

int fftLengthFor(int frameLength, int powerOfTwoBelow);
// pow(a, 2) as the C library computes it, never folded into a * a.
double librarySquare(double a);
std::vector<float> lifterWeights(int lifterType, int cepstralCount);

// ---- the whole pipeline ---------------------------------------------------

struct Analysis {
    int status = 0;            // 0 done; 1 the run would stop with `error` on stderr
    std::string error;
    Rows rows;                 // one row of cepstralCount + 1 floats per analysed frame
    std::vector<std::vector<float>> logEnergies;  // per frame, for inspection
    int frameLength = 0;
    int fftLength = 0;
    int shiftSamples = 0;
    int filterCount = 0;       // the count actually used
    int rowCount = 0;          // matrix rows, max(samples / shift, frames)
};

Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options);
Rows analyse(std::vector<float> signal, int sampleRate, const Options& options);

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
