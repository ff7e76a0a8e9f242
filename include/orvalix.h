#pragma once
// Orvalix as a library: MFCC analysis of an in-memory signal or a wave file, with exactly the
// numbers the orvalix program writes. Self-contained: this is the only header a user includes.
// Link with the orvalix library (CMake: find_package(Orvalix) and Orvalix::orvalix; pkg-config:
// orvalix). Every call may run on several threads at once, each on its own data.
#include <stddef.h>
#include <stdint.h>

#define ORVALIX_VERSION_TEXT "0.1.0"

// The analysis parameters, one field per option of the program (its letter in brackets).
struct AnalysisSettings {
    int32_t windowLengthMs;  // L: analysis window, 1..100 ms
    int32_t windowShiftMs;   // S: frame shift, 1..100 ms
    int32_t featureType;     // F: 1 = MFCC, the only choice; nothing reads it
    int32_t melFilterCount;  // N: 0..100; 0 = automatic, replaced by the count actually used
    int32_t dropDelta;       // D: accepted, no effect
    int32_t dropDeltaDelta;  // E: accepted, no effect
    int32_t includeC0;       // C: the output lines begin with coefficient 0
    int32_t removeSilence;   // R: accepted, no effect
    int32_t removeDcOffset;  // V: subtract the signal's mean first
    int32_t powerOfTwoBelow; // U: FFT length is the power of two below the window, not above
    int32_t cepstralCount;   // M: coefficients c1..cM, 1..20
    int32_t windowType;      // W: 1 Hamming, 2 rectangular, 3 Bartlett, 4 Blackman
    int32_t lifterType;      // I: 1 none (truncated), 2 raised sine, 3 half raised sine
    int32_t filterDomain;    // A: 1 magnitude, 2 power
    int32_t overwrite;       // O: read by the program only
    float preEmphasis;       // H / 100.0 stored as a float (0.97 by default); 0 turns it off
};

// What loading a wave file reports. samplesRead is the signal length for all analysis.
struct SignalInfo {
    int32_t totalSamples;   // samples announced by the file (frames for a mixed stereo file)
    int32_t channels;
    int32_t sampleRate;
    int32_t bitsPerSample;
    int32_t samplesRead;
};

// The coefficients of every analysed frame, row after row: c0, c1..cM (M = cepstralCount).
struct OrvalixFeatures {
    int32_t frameCount;
    int32_t columnCount;  // cepstralCount + 1
    float* values;        // frameCount * columnCount floats; null when frameCount is 0
};

// Results of the calls below: 0, a wave-file code (1..6, the program's RFX_ codes: the input
// cannot be read or is not a wave file the program reads), or ORVALIX_ANALYSIS_FAILED (the
// settings cannot be applied to this signal: a shift or window below what the transform needs,
// or no memory).
enum : int32_t { ORVALIX_ANALYSIS_FAILED = 100 };

// The name the program prints for a result ("RFX_FILE_ERROR", "ORVALIX_ANALYSIS_FAILED").
const char* orvalixResultName(int32_t result);

// The settings of a command line without options (30 ms Hamming window every 10 ms, H 0.97,
// automatic filter count, 12 coefficients, no lifter, magnitude domain).
AnalysisSettings orvalixDefaultSettings();

// Reads options in the program's own syntax ("-L25", "-M13", "-C", one per element) over the
// defaults, with the program's parser and ranges. Returns 0, or 1 with the program's error line
// ("ERROR: Parameter L(1) = 0 is out of range [1,100].") in message (messageSize bytes, may be 0).
// An element that is not an option is refused too.
int orvalixParseOptions(int count, const char* const* options, AnalysisSettings* settings,
                        char* message, size_t messageSize);

// The library prints nothing unless this is turned on: then it prints the program's own reports
// (file report, pre-emphasis words) on standard output and its error messages on standard error.
void orvalixSetConsoleOutput(int enabled);

// Loads a wave file as the program does (16-bit samples as -32768..32767, 8-bit as 0..255,
// two channels as their mono mix). Returns 0 or a wave-file code. Release the signal with free().
int orvalixLoadWave(const char* name, float** signal, SignalInfo* info);

// Analyses sampleCount samples at sampleRate Hz. The signal is not modified. On return
// settings->melFilterCount holds the filter count used. Returns 0 or ORVALIX_ANALYSIS_FAILED.
// Memory: a long signal (four chunks of about 2^18 samples or more) is conditioned and analysed a
// chunk at a time, as the program analyses a long file, so besides the features only a few
// chunks are held; a shorter one, or any with removeDcOffset, is copied whole once.
int orvalixAnalyse(const float* signal, int32_t sampleCount, int32_t sampleRate,
                   AnalysisSettings* settings, OrvalixFeatures* features);

// Reads and analyses a wave file exactly as the program does (long files a chunk at a time, in
// bounded memory). info may be null. Returns 0, a wave-file code or ORVALIX_ANALYSIS_FAILED.
int orvalixAnalyseFile(const char* name, AnalysisSettings* settings, OrvalixFeatures* features,
                       SignalInfo* info);

// The base-10 log filter energies of every frame (of the magnitude or the power spectrum, as
// settings->filterDomain says): melFilterCount columns, the very floats the analysis hands to its
// cosine transform. Returns as orvalixAnalyse.
int orvalixAnalyseFilterbank(const float* signal, int32_t sampleCount, int32_t sampleRate,
                             AnalysisSettings* settings, OrvalixFeatures* features);

// Settings within every option's range can still give rows of infinities or NaN at some rates:
// a mel filter that covers no FFT bin, or a window of fewer than 2 samples. Returns 0 when the
// settings (melFilterCount 0: the automatic count) suit sampleRate, else 1 with a sentence
// naming the settings in message (messageSize bytes, may be 0). The analysis itself goes on as
// the program's does; this only tells.
int orvalixCheckSettings(const AnalysisSettings* settings, int32_t sampleRate, char* message,
                         size_t messageSize);

// The samples a wave file's header announces (its data size over the frame size): more than
// samplesRead when the file was cut short. A streamed file's header (data size 0) announces what
// the file holds. Returns 0 or a wave-file code.
int orvalixAnnouncedSamples(const char* name, int64_t* count);

void orvalixReleaseFeatures(OrvalixFeatures* features);

// Formats one coefficient exactly as the program's "%f" (six decimals); out holds 64 characters.
size_t orvalixFormatCoefficient(float value, char* out);

// Writes the features as the program's output file: coefficients from c0 (includeC0 non-zero)
// or c1 to cM, "%f " each, one line per frame. The file appears only when complete; an existing
// regular file (or a link's target) is replaced, keeping its permissions; an existing FIFO or
// device is written into and stays. Returns 0, or 1 when the file cannot be written (errno then
// holds the reason).
int orvalixWriteFeatures(const OrvalixFeatures* features, int includeC0, const char* outputName);

// ---------------------------------------------------------------------------------------------
// Front end after the analysis: deltas, mean and variance normalisation, energy voice-activity
// labels (docs/frontend.md gives every formula). Each call reads any feature matrix (cepstral or
// log filter energy rows) and leaves it unchanged; values are computed in double and stored as
// floats. A result matrix is released with orvalixReleaseFeatures. Each call returns 0, or
// ORVALIX_ANALYSIS_FAILED for settings out of range or no memory (a result matrix is then empty).

// Every row followed by its order-1 (and, for order 2, order-2) deltas over window frames on
// each side, as Kaldi's add-deltas: columnCount * (order + 1) columns. order 1..2, window 1..100.
int orvalixDeltas(const OrvalixFeatures* input, int32_t order, int32_t window,
                  OrvalixFeatures* output);

enum : int32_t { ORVALIX_CMVN_UTTERANCE = 1, ORVALIX_CMVN_SLIDING = 2 };

// Mean (and variance) normalisation. The defaults are those of Kaldi's apply-cmvn-sliding.
struct OrvalixCmvnSettings {
    int32_t mode;               // ORVALIX_CMVN_SLIDING (default) or ORVALIX_CMVN_UTTERANCE
    int32_t normaliseVariance;  // also divide by the standard deviation (0)
    int32_t window;             // sliding: window in frames, at least 1 (600)
    int32_t minWindow;          // sliding to the left: frames used at least at the start,
                                // 1..window (100); not read when centred
    int32_t centred;            // sliding: the window around the frame, not up to it (0)
};

OrvalixCmvnSettings orvalixDefaultCmvnSettings();

// output may be input itself: the rows are then normalised in place, without a new matrix (and
// left as they are when the settings are refused).
int orvalixCmvn(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                OrvalixFeatures* output);

// energyColumn value that takes each frame's energy as the sum of its row (log filter energies).
enum : int32_t { ORVALIX_VAD_ROW_SUM = -1 };

// Energy voice-activity decision in the manner of Kaldi's compute-vad, on c0 by default.
struct OrvalixVadSettings {
    double energyThreshold;      // added to energyMeanScale * the mean energy (-2.5)
    double energyMeanScale;      // 0 or more (1)
    int32_t framesContext;       // frames on each side that vote, 0 or more (15)
    double proportionThreshold;  // share of the voting frames above the threshold, 0..1 open (0.4)
    int32_t energyColumn;        // column holding the energy (0: c0), or ORVALIX_VAD_ROW_SUM
};

OrvalixVadSettings orvalixDefaultVadSettings();

// Writes frameCount labels: 1 voiced, 0 not.
int orvalixVad(const OrvalixFeatures* features, const OrvalixVadSettings* settings,
               uint8_t* labels);

// The rows whose label is non-zero, in their order. output may be input itself: the kept rows
// then move to the front of its values and its frameCount shrinks.
int orvalixSelectVoiced(const OrvalixFeatures* input, const uint8_t* labels,
                        OrvalixFeatures* output);
