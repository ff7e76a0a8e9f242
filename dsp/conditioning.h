#pragma once
#include <cstdint>
#include "main/analysis_settings.h"
#include "modules/console.h"
#include "wave/wave_loader.h"
#include "dsp/frame_geometry.h"

// Milliseconds to samples: (ms / 1000.0) * rate in double, truncated.
int32_t msToSamples(int32_t ms, int32_t rate);

// Subtracts the running float mean of x[i] / count.
void subtractMean(float* x, int32_t count);

// One filtered sample, x - a * previous, the product and the difference each rounded to float.
inline float emphasizedSample(float x, float previous, float a) {
    float p = static_cast<float>(static_cast<double>(a) * previous);
    return static_cast<float>(static_cast<double>(x) - p);
}

// y[n] = x[n] - a*x[n-1]; the first sample is filtered circularly against the last one.
// Prints "High emphasis filtering..." and "OK\n" around the work.
void preEmphasize(float* x, int32_t count, float a);
// The filter alone, with the first sample filtered against beforeFirst: the last sample of a
// signal of which x is the beginning. Prints nothing.
void preEmphasizeAfter(float* x, int32_t count, float a, float beforeFirst);
// preEmphasizeAfter between the two words of preEmphasize when the console is the program's.
void preEmphasizeReported(float* x, int32_t count, float a, float beforeFirst,
                          StageConsole console);

// The same filter without its wrap-around: x[1..count - 1] against their predecessors; x[0] is
// left as it is, unfiltered.
void emphasizeFollowing(float* x, int32_t count, float a);
// The same into another array: y[1..count - 1] from x; y[0] is not written.
void emphasizeFollowingInto(const float* x, float* y, int32_t count, float a);

// Window kinds: 1 Hamming, 2 triangular ("Rectangular"), 3 Hann ("Barlett"), other Blackman.
void makeWindow(float* w, int32_t kind, int32_t n);

// Sets geometry->frameLength, removes the DC offset and pre-emphasises as configured, and builds
// the window (*window, frameLength floats, freed by the caller; only the first samplesRead of them
// when the signal is no longer than a frame, since no frame is then analysed). Returns 0, or 1 when memory runs
// out (after printing a message; *window is then null).
int prepareSignal(float** window, float* signal, FrameGeometry* geometry, const SignalInfo* info,
                  const AnalysisSettings* settings);

// The first built entries of the frameLength-point window of the given kind, in a new array
// (*window, freed by the caller). Returns 0, or 1 when memory runs out (printing nothing).
int buildWindow(float** window, int32_t kind, int32_t frameLength, int32_t built);
