#include "audio/resampler.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "audio/resample_lanes.h"
#include "dsp/processor.h"
#include "wave/wave_loader.h"

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
    int64_t rowEnd = 0;
    for (int32_t i = 0; i < outputStep; ++i) {
        kernel->tapCount[i] = phaseSupport(i, inputStep, outputStep, cutoff, &kernel->firstTap[i]);
        kernel->tapStart[i] = total;
        total += kernel->tapCount[i];
        if (i == 0 || kernel->firstTap[i] < kernel->rowFirst)
            kernel->rowFirst = kernel->firstTap[i];
        if (i == 0 || kernel->firstTap[i] + kernel->tapCount[i] > rowEnd)
            rowEnd = kernel->firstTap[i] + kernel->tapCount[i];
    }
    kernel->rowCount = rowEnd - kernel->rowFirst;
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

namespace {

int32_t supportedLanes(int32_t lanes)
{
    return lanes == 8 || lanes == 4 || lanes == 2 ? lanes : 1;
}

// Blocks jBegin .. jEnd - 1 from the samples src[0 ..] (input sample srcFirst on; the signal
// ends at signalEnd) at a lane width. rows: rowsFor(lanes, kernel) doubles.
void computeBlocks(const ResampleKernel& kernel, int32_t lanes, const float* src, int64_t srcFirst,
                   int64_t signalEnd, int64_t jBegin, int64_t jEnd, double* rows, float* out,
                   int64_t outCount)
{
    switch (lanes) {
    case 8: resampleBlocksOf8(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount); break;
    case 4: resampleBlocksOf4(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount); break;
    case 2: resampleBlocksOf2(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount); break;
    default: resampleBlocksOf1(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount); break;
    }
}

size_t rowsFor(int32_t lanes, const ResampleKernel& kernel)
{
    return sizeof(double) * RESAMPLE_ROW_VECTORS * lanes * (kernel.rowCount + 1);
}

int64_t blocksFor(const ResampleKernel& kernel, int64_t outputs)
{
    return (outputs + kernel.outputStep - 1) / kernel.outputStep;
}

// Makes room for the outputs of the blocks below jEnd.
int reserveOutputs(ResampleStream* stream, int64_t jEnd)
{
    const int64_t needed = jEnd * stream->kernel.outputStep;
    if (needed <= stream->outCapacity)
        return 0;
    const int64_t grown = needed > 2 * stream->outCapacity ? needed : 2 * stream->outCapacity;
    // The first array on huge pages where it is long: one page fault per 2 MiB, not per 4 KiB.
    float* larger = stream->out ? static_cast<float*>(realloc(stream->out, sizeof(float) * grown))
                                : allocFloats(grown);
    if (!larger)
        return 1;
    stream->out = larger;
    stream->outCapacity = grown;
    return 0;
}

}  // namespace

int resampleWithLanes(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                      int32_t lanes)
{
    lanes = supportedLanes(lanes);
    const int64_t outCount = resampledLength(kernel, count);
    double* rows = static_cast<double*>(malloc(rowsFor(lanes, kernel)));
    if (!rows)
        return 1;
    computeBlocks(kernel, lanes, in, 0, count, 0, blocksFor(kernel, outCount), rows, out, outCount);
    free(rows);
    return 0;
}

int beginResampleStream(ResampleStream* stream, int32_t fromRate, int32_t toRate,
                        int64_t expectedInputs)
{
    memset(stream, 0, sizeof *stream);
    if (makeResampleKernel(fromRate, toRate, &stream->kernel))
        return 1;
    stream->lanes = supportedLanes(processorLanes());
    stream->rows = static_cast<double*>(malloc(rowsFor(stream->lanes, stream->kernel)));
    const int64_t expected = expectedInputs > 0 ? resampledLength(stream->kernel, expectedInputs) : 0;
    if (!stream->rows || reserveOutputs(stream, blocksFor(stream->kernel, expected) + 1)) {
        releaseResampleStream(stream);
        return 1;
    }
    return 0;
}

float* resampleStreamRoom(ResampleStream* stream, int64_t count)
{
    if (stream->pendingCount + count > stream->pendingCapacity) {
        const int64_t grown = 2 * (stream->pendingCount + count);
        float* larger = static_cast<float*>(realloc(stream->pending, sizeof(float) * grown));
        if (!larger)
            return nullptr;
        stream->pending = larger;
        stream->pendingCapacity = grown;
    }
    return stream->pending + stream->pendingCount;
}

int takeResampleInputs(ResampleStream* stream, int64_t count)
{
    const ResampleKernel& kernel = stream->kernel;
    stream->pendingCount += count;
    stream->received += count;
    // The blocks whose inputs have all arrived, in whole units of the inner loop.
    const int64_t lastEnd = kernel.rowFirst + kernel.rowCount;
    const int64_t ready = stream->received >= lastEnd ? (stream->received - lastEnd) / kernel.inputStep + 1 : 0;
    const int64_t unit = RESAMPLE_ROW_VECTORS * stream->lanes;
    const int64_t jEnd = ready > stream->nextBlock ? stream->nextBlock + (ready - stream->nextBlock) / unit * unit : 0;
    if (jEnd <= stream->nextBlock)
        return 0;
    if (reserveOutputs(stream, jEnd))
        return 1;
    computeBlocks(kernel, stream->lanes, stream->pending, stream->pendingFirst, INT64_MAX,
                  stream->nextBlock, jEnd, stream->rows, stream->out, jEnd * kernel.outputStep);
    stream->nextBlock = jEnd;
    // Inputs before the next block's first are no longer needed.
    const int64_t keep = jEnd * kernel.inputStep + kernel.rowFirst;
    const int64_t drop = keep - stream->pendingFirst;
    if (drop > 0) {
        memmove(stream->pending, stream->pending + drop, sizeof(float) * (stream->pendingCount - drop));
        stream->pendingCount -= drop;
        stream->pendingFirst = keep;
    }
    return 0;
}

int finishResampleStream(ResampleStream* stream, float** out, int64_t* outCount)
{
    const int64_t total = resampledLength(stream->kernel, stream->received);
    const int64_t jEnd = blocksFor(stream->kernel, total);
    if (reserveOutputs(stream, jEnd + 1))
        return 1;
    if (jEnd > stream->nextBlock)
        computeBlocks(stream->kernel, stream->lanes, stream->pending, stream->pendingFirst,
                      stream->received, stream->nextBlock, jEnd, stream->rows, stream->out, total);
    *out = stream->out;
    *outCount = total;
    stream->out = nullptr;
    return 0;
}

void releaseResampleStream(ResampleStream* stream)
{
    releaseResampleKernel(&stream->kernel);
    free(stream->pending);
    free(stream->rows);
    free(stream->out);
    memset(stream, 0, sizeof *stream);
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
    float* samples = allocFloats(length);
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
