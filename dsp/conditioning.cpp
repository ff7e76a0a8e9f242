#include "dsp/conditioning.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dsp/numbers.h"
#include "modules/console.h"

namespace {

// Rises from 0 to 1 at the middle and falls back; odd lengths never reach 1.
float triangularSample(int32_t n, int32_t length) {
    double rise = static_cast<double>(n + n) / length;
    if (n <= length / 2.0) return static_cast<float>(rise);
    return static_cast<float>(2.0 - rise);
}

float blackmanSample(int32_t n, int32_t length, double theta) {
    double t = 0.42 - 0.5 * std::cos(theta);
    double phi = (n * FOUR_PI) / length;
    return static_cast<float>(0.08 * std::cos(phi) + t);
}

}  // namespace

int32_t msToSamples(int32_t ms, int32_t rate) {
    double seconds = ms / 1000.0;  // the division first: 30 ms at 16000 Hz must give 480
    double samples = seconds * rate;
    return static_cast<int32_t>(samples);
}

void subtractMean(float* x, int32_t count) {
    float mean = 0.0f;  // accumulated term by term, rounded to float after every addition
    for (int32_t i = 0; i < count; ++i)
        mean = static_cast<float>(static_cast<double>(x[i]) / count + mean);
    for (int32_t i = 0; i < count; ++i)
        x[i] = static_cast<float>(static_cast<double>(x[i]) - mean);
}

void emphasizeFollowing(float* x, int32_t count, float a) {
    // Walking backwards, x[i - 1] is still unfiltered when x[i] is computed; the loop without the
    // wrap-around case is left free for the compiler to vectorise.
    for (int32_t i = count - 1; i >= 1; --i) x[i] = emphasizedSample(x[i], x[i - 1], a);
}

void emphasizeFollowingInto(const float* __restrict x, float* __restrict y, int32_t count,
                            float a) {
    for (int32_t i = 1; i < count; ++i) y[i] = emphasizedSample(x[i], x[i - 1], a);
}

void preEmphasize(float* x, int32_t count, float a) {
    // Only the last sample, which the first one is filtered against, has to be kept aside.
    preEmphasizeReported(x, count, a, count > 0 ? x[count - 1] : 0.0f, CONSOLE_PRINTS);
}

void preEmphasizeAfter(float* x, int32_t count, float a, float beforeFirst) {
    if (count > 0) {
        emphasizeFollowing(x, count, a);
        x[0] = emphasizedSample(x[0], beforeFirst, a);
    }
}

void preEmphasizeReported(float* x, int32_t count, float a, float beforeFirst,
                          StageConsole console) {
    if (console == CONSOLE_PRINTS) printf("High emphasis filtering...");
    preEmphasizeAfter(x, count, a, beforeFirst);
    if (console == CONSOLE_PRINTS) printf("OK\n");
}

namespace {

// Entry i of the n-point window of the given kind.
float windowSample(int32_t kind, int32_t i, int32_t n) {
    double theta = (i * TWO_PI) / n;  // the denominator is n: the periodic window
    switch (kind) {
    case 1: return static_cast<float>(0.54 - 0.46 * std::cos(theta));
    case 2: return triangularSample(i, n);
    case 3: return static_cast<float>(0.5 - 0.5 * std::cos(theta));
    default: return blackmanSample(i, n, theta);
    }
}

}  // namespace

void makeWindow(float* w, int32_t kind, int32_t n) {
    for (int32_t i = 0; i < n; ++i) w[i] = windowSample(kind, i, n);
}

int prepareSignal(float** window, float* signal, FrameGeometry* geometry, const SignalInfo* info,
                  const AnalysisSettings* settings) {
    *window = nullptr;
    int32_t frameLength = msToSamples(settings->windowLengthMs, info->sampleRate);
    geometry->frameLength = frameLength;
    if (settings->removeDcOffset) subtractMean(signal, info->samplesRead);
    if (settings->preEmphasis > 0) preEmphasize(signal, info->samplesRead, settings->preEmphasis);

    // A frame is analysed only while a sample follows it, so no window entry at or beyond the
    // signal's length is ever read. Building no more than that bounds the window by the input
    // rather than by the rate: a 100 ms window at 2^31 - 1 Hz would be 214 million samples.
    int32_t built = frameLength < info->samplesRead ? frameLength : info->samplesRead;
    if (buildWindow(window, settings->windowType, frameLength, built) == 0) return 0;
    printError("ERROR: Not enough memory for an analysis window of %d samples.\n", frameLength);
    return 1;
}

int buildWindow(float** window, int32_t kind, int32_t frameLength, int32_t built) {
    *window = nullptr;
    if (built < 0) built = 0;
    // One element at least, so that an empty window is not mistaken for exhausted memory.
    size_t elements = built > 0 ? static_cast<size_t>(built) : 1;
    float* w = static_cast<float*>(malloc(elements * sizeof(float)));
    if (!w) return 1;
    for (int32_t i = 0; i < built; ++i) w[i] = windowSample(kind, i, frameLength);
    *window = w;
    return 0;
}
