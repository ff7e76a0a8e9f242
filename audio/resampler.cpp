#include "audio/resampler.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "audio/resample_lanes.h"
#include "dsp/processor.h"

namespace {

// The kernel's argument at input offset d of phase i, in units of the sinc's zero crossings:
// (d / inputStep - i / outputStep) * cutoff, computed in this order.
double tapPosition(int64_t d, int32_t phase, int32_t inputStep, int32_t outputStep, double cutoff)
{
    const double offset = static_cast<double>(d) / inputStep;
    return (static_cast<double>(-phase) / outputStep + offset) * cutoff;
}

// The Hann-windowed sinc at position t (|t| < the zero crossings), times the gain that keeps a
// constant signal constant: sin(pi t) / (pi t) * (cos(pi t / 12)^2 * cutoff / inputStep).
double tapWeight(double t, double gain)
{
    double window = std::cos(t * M_PI / RESAMPLE_ZERO_CROSSINGS / 2);
    window = window * window;
    const double angle = t * M_PI;
    const double sinc = angle == 0 ? 1.0 : std::sin(angle) / angle;
    return sinc * (window * gain);
}

// Offsets d in the open support |tapPosition| < zero crossings, found by scanning a margin around
// the support's estimate; *first is the lowest, the count is returned.
int32_t phaseSupport(int32_t phase, int32_t inputStep, int32_t outputStep, double cutoff,
                     int64_t* first)
{
    const double centre = static_cast<double>(phase) * inputStep / outputStep;
    const double reach = RESAMPLE_ZERO_CROSSINGS * static_cast<double>(inputStep) / cutoff;
    int64_t d = static_cast<int64_t>(std::floor(centre - reach)) - 2;
    while (tapPosition(d, phase, inputStep, outputStep, cutoff) <= -RESAMPLE_ZERO_CROSSINGS)
        ++d;
    *first = d;
    while (tapPosition(d, phase, inputStep, outputStep, cutoff) < RESAMPLE_ZERO_CROSSINGS)
        ++d;
    return static_cast<int32_t>(d - *first);
}

int64_t blocksWithPhase(int64_t outCount, int32_t phase, int32_t outputStep)
{
    return outCount > phase ? (outCount - phase + outputStep - 1) / outputStep : 0;
}

}  // namespace

int makeResampleKernel(int32_t fromRate, int32_t toRate, ResampleKernel* kernel)
{
    memset(kernel, 0, sizeof *kernel);
    if (fromRate <= 0 || toRate <= 0)
        return 1;
    const int32_t divisor = std::gcd(fromRate, toRate);
    const int32_t inputStep = fromRate / divisor;
    const int32_t outputStep = toRate / divisor;
    const double cutoff = (inputStep < outputStep ? inputStep : outputStep) * RESAMPLE_ROLLOFF;
    const double gain = cutoff / inputStep;
    // Each phase spans at most 2 * reach + 1 offsets; refuse before allocating what cannot fit.
    const double reach = RESAMPLE_ZERO_CROSSINGS * static_cast<double>(inputStep) / cutoff;
    if ((2 * reach + 2) * outputStep > static_cast<double>(RESAMPLE_MAX_COEFFICIENTS))
        return 1;

    kernel->inputStep = inputStep;
    kernel->outputStep = outputStep;
    kernel->firstTap = static_cast<int64_t*>(malloc(sizeof(int64_t) * outputStep));
    kernel->tapCount = static_cast<int32_t*>(malloc(sizeof(int32_t) * outputStep));
    kernel->tapStart = static_cast<int64_t*>(malloc(sizeof(int64_t) * outputStep));
    if (!kernel->firstTap || !kernel->tapCount || !kernel->tapStart) {
        releaseResampleKernel(kernel);
        return 1;
    }
    int64_t total = 0;
    for (int32_t i = 0; i < outputStep; ++i) {
        kernel->tapCount[i] = phaseSupport(i, inputStep, outputStep, cutoff, &kernel->firstTap[i]);
        kernel->tapStart[i] = total;
        total += kernel->tapCount[i];
        if (kernel->tapCount[i] > kernel->maxTaps)
            kernel->maxTaps = kernel->tapCount[i];
    }
    kernel->coefficients = static_cast<double*>(malloc(sizeof(double) * (total > 0 ? total : 1)));
    if (!kernel->coefficients) {
        releaseResampleKernel(kernel);
        return 1;
    }
    for (int32_t i = 0; i < outputStep; ++i)
        for (int32_t t = 0; t < kernel->tapCount[i]; ++t)
            kernel->coefficients[kernel->tapStart[i] + t] = tapWeight(
                tapPosition(kernel->firstTap[i] + t, i, inputStep, outputStep, cutoff), gain);
    return 0;
}

void releaseResampleKernel(ResampleKernel* kernel)
{
    free(kernel->firstTap);
    free(kernel->tapCount);
    free(kernel->tapStart);
    free(kernel->coefficients);
    memset(kernel, 0, sizeof *kernel);
}

int64_t resampledLength(const ResampleKernel& kernel, int64_t count)
{
    // In two parts, so that count * outputStep cannot overflow.
    const int64_t whole = count / kernel.inputStep;
    const int64_t rest = count % kernel.inputStep;
    return whole * kernel.outputStep + (rest * kernel.outputStep + kernel.inputStep - 1) / kernel.inputStep;
}

// Tiles of blocks about 64k input samples long, so that each phase's pass over a tile finds its
// samples in the cache the previous phase left them in.
constexpr int64_t TILE_INPUT_SAMPLES = 65536;

int resampleWithLanes(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                      int32_t lanes)
{
    const int64_t outCount = resampledLength(kernel, count);
    const int64_t blocks = (outCount + kernel.outputStep - 1) / kernel.outputStep;
    float* scratch = static_cast<float*>(malloc(sizeof(float) * RESAMPLE_CHAINS * MAX_LANES * (kernel.maxTaps + 1)));
    if (!scratch)
        return 1;
    const int64_t group = RESAMPLE_CHAINS * MAX_LANES;
    int64_t tile = TILE_INPUT_SAMPLES / kernel.inputStep / group * group;
    if (tile < group)
        tile = group;
    for (int64_t tileBegin = 0; tileBegin < blocks; tileBegin += tile) {
        for (int32_t phase = 0; phase < kernel.outputStep; ++phase) {
            int64_t end = blocksWithPhase(outCount, phase, kernel.outputStep);
            if (end > tileBegin + tile)
                end = tileBegin + tile;
            int64_t j = tileBegin;
            switch (lanes) {
            case 8: j = resamplePhaseOf8(kernel, in, count, out, phase, j, end, scratch); break;
            case 4: j = resamplePhaseOf4(kernel, in, count, out, phase, j, end, scratch); break;
            case 2: j = resamplePhaseOf2(kernel, in, count, out, phase, j, end, scratch); break;
            default: break;
            }
            resamplePhaseOf1(kernel, in, count, out, phase, j, end, scratch);
        }
    }
    free(scratch);
    return 0;
}

int resampleSignal(const float* in, int64_t count, int32_t fromRate, int32_t toRate, float** out,
                   int64_t* outCount, char* error, size_t errorSize)
{
    *out = nullptr;
    *outCount = 0;
    ResampleKernel kernel;
    if (makeResampleKernel(fromRate, toRate, &kernel)) {
        snprintf(error, errorSize, "cannot resample from %d Hz to %d Hz: %s", fromRate, toRate,
                 fromRate <= 0 || toRate <= 0 ? "rates must be positive"
                                              : "the ratio of the rates needs too large a filter");
        return 1;
    }
    const int64_t length = fromRate == toRate ? count : resampledLength(kernel, count);
    float* samples = static_cast<float*>(malloc(sizeof(float) * (length > 0 ? length : 1)));
    int failed = samples == nullptr;
    if (!failed && fromRate == toRate && count > 0)
        memcpy(samples, in, sizeof(float) * count);
    else if (!failed && fromRate != toRate)
        failed = resampleWithLanes(kernel, in, count, samples, processorLanes());
    releaseResampleKernel(&kernel);
    if (failed) {
        free(samples);
        snprintf(error, errorSize, "cannot resample from %d Hz to %d Hz: not enough memory",
                 fromRate, toRate);
        return 1;
    }
    *out = samples;
    *outCount = length;
    return 0;
}
